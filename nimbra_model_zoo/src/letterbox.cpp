#include "nimbra_model_zoo/letterbox.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>

#include <opencv2/imgproc.hpp>

namespace orvix::model {

Letterbox::Letterbox(cv::Size image_size, cv::Size input_size)
    : image_size_(image_size), input_size_(input_size) {
  if (image_size.width <= 0 || image_size.height <= 0 || input_size.width <= 0 ||
      input_size.height <= 0) {
    throw std::invalid_argument("Letterbox: image and input sizes must be positive");
  }
  scale_ = std::min(static_cast<double>(input_size.width) / image_size.width,
                    static_cast<double>(input_size.height) / image_size.height);
  scaled_size_.width = std::clamp(static_cast<int>(std::lround(image_size.width * scale_)), 1,
                                  input_size.width);
  scaled_size_.height = std::clamp(static_cast<int>(std::lround(image_size.height * scale_)), 1,
                                   input_size.height);
  pad_x_ = (input_size.width - scaled_size_.width) / 2;
  pad_y_ = (input_size.height - scaled_size_.height) / 2;
}

void Letterbox::MakeBlob(cv::Mat const& image, cv::Mat& blob, cv::Mat& padded) const {
  CV_Assert(image.type() == CV_8UC3 && image.size() == image_size_);
  padded.create(input_size_, CV_8UC3);
  padded.setTo(cv::Scalar::all(kPadValue));
  cv::Mat scaled = padded(cv::Rect(cv::Point(pad_x_, pad_y_), scaled_size_));
  if (scaled_size_ == image_size_) {
    image.copyTo(scaled);
  } else {
    cv::resize(image, scaled, scaled_size_, 0.0, 0.0, cv::INTER_LINEAR);
  }

  int const shape[] = {1, 3, input_size_.height, input_size_.width};
  blob.create(4, shape, CV_32F);
  std::size_t const plane = static_cast<std::size_t>(input_size_.area());
  float* const red = blob.ptr<float>();
  float* const green = red + plane;
  float* const blue = green + plane;
  constexpr float kToUnit = 1.0F / 255.0F;
  for (int row = 0; row < input_size_.height; ++row) {
    std::uint8_t const* pixel = padded.ptr<std::uint8_t>(row);
    std::size_t const offset = static_cast<std::size_t>(row) * input_size_.width;
    for (int col = 0; col < input_size_.width; ++col, pixel += 3) {
      red[offset + col] = pixel[0] * kToUnit;
      green[offset + col] = pixel[1] * kToUnit;
      blue[offset + col] = pixel[2] * kToUnit;
    }
  }
}

}  // namespace orvix::model
