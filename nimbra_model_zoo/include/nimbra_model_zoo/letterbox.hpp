#pragma once

#include <opencv2/core.hpp>

namespace orvix::model {

/// Uniform scaling of an image into the network input, centred, with grey padding around it.
class Letterbox {
 public:
  static constexpr int kPadValue = 114;  ///< padding grey level, 8-bit

  Letterbox() = default;
  /// @param image_size size of the camera image, pixels (both sides > 0)
  /// @param input_size size of the network input, pixels (both sides > 0)
  Letterbox(cv::Size image_size, cv::Size input_size);

  cv::Size ImageSize() const { return image_size_; }
  cv::Size InputSize() const { return input_size_; }
  cv::Size ScaledSize() const { return scaled_size_; }
  double Scale() const { return scale_; }
  int PadX() const { return pad_x_; }
  int PadY() const { return pad_y_; }

  /// Write the network input for an 8-bit 3-channel image of ImageSize(): resized, padded,
  /// scaled to [0, 1], channels kept in their order, as a 1x3xHxW float blob.
  /// @param padded reusable scratch image
  void MakeBlob(cv::Mat const& image, cv::Mat& blob, cv::Mat& padded) const;

  /// Network input x (pixels, continuous) to image x.
  double ToImageX(double input_x) const { return (input_x - pad_x_) / scale_; }
  /// Network input y (pixels, continuous) to image y.
  double ToImageY(double input_y) const { return (input_y - pad_y_) / scale_; }
  /// Image x (pixels, continuous) to network input x.
  double ToInputX(double image_x) const { return image_x * scale_ + pad_x_; }
  /// Image y (pixels, continuous) to network input y.
  double ToInputY(double image_y) const { return image_y * scale_ + pad_y_; }

 private:
  cv::Size image_size_;   ///< camera image, pixels
  cv::Size input_size_;   ///< network input, pixels
  cv::Size scaled_size_;  ///< image after scaling, pixels
  double scale_{1.0};     ///< input pixels per image pixel
  int pad_x_{0};          ///< padding left of the scaled image, input pixels
  int pad_y_{0};          ///< padding above the scaled image, input pixels
};

}  // namespace orvix::model
