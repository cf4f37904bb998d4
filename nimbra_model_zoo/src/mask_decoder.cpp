#include "nimbra_model_zoo/mask_decoder.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace orvix::model {
namespace {

/// Left and right source sample and the right one's weight for a continuous sample position.
struct Tap {
  int left{0};
  int right{0};
  float weight{0.0F};
};

Tap TapAt(double position, int count) {
  Tap tap;
  if (position <= 0.0 || count < 2) {
    return tap;  // left edge (or a single sample): replicate it
  }
  int const left = static_cast<int>(std::floor(position));
  if (left >= count - 1) {
    tap.left = tap.right = count - 1;
    return tap;
  }
  tap.left = left;
  tap.right = left + 1;
  tap.weight = static_cast<float>(position - left);
  return tap;
}

}  // namespace

void MaskDecoder::Render(PrototypeView const& prototypes, float const* coefficients,
                         cv::Rect2f const& box, Letterbox const& letterbox, float threshold,
                         cv::Mat& mask) {
  cv::Size const image = letterbox.ImageSize();
  mask.create(image, CV_8UC1);
  mask.setTo(0);
  if (prototypes.data == nullptr || prototypes.channels <= 0 || prototypes.size.empty()) {
    return;
  }

  // Image pixels whose centres lie inside the box.
  int const u0 = std::max(0, static_cast<int>(std::ceil(box.x - 0.5)));
  int const u1 = std::min(image.width - 1, static_cast<int>(std::floor(box.x + box.width - 0.5)));
  int const v0 = std::max(0, static_cast<int>(std::ceil(box.y - 0.5)));
  int const v1 = std::min(image.height - 1, static_cast<int>(std::floor(box.y + box.height - 0.5)));
  if (u1 < u0 || v1 < v0) {
    return;
  }

  // Prototype sample position (pixel-centre convention) of an image pixel centre.
  double const ratio_x = static_cast<double>(prototypes.size.width) / letterbox.InputSize().width;
  double const ratio_y = static_cast<double>(prototypes.size.height) / letterbox.InputSize().height;
  auto const source_x = [&](int u) { return letterbox.ToInputX(u + 0.5) * ratio_x - 0.5; };
  auto const source_y = [&](int v) { return letterbox.ToInputY(v + 0.5) * ratio_y - 0.5; };

  // Prototype pixels the box needs, with one neighbour for the interpolation.
  auto const clamp_x = [&](double x) {
    return std::clamp(static_cast<int>(std::floor(x)), 0, prototypes.size.width - 1);
  };
  auto const clamp_y = [&](double y) {
    return std::clamp(static_cast<int>(std::floor(y)), 0, prototypes.size.height - 1);
  };
  int const crop_x0 = clamp_x(source_x(u0));
  int const crop_x1 = clamp_x(source_x(u1) + 1.0);
  int const crop_y0 = clamp_y(source_y(v0));
  int const crop_y1 = clamp_y(source_y(v1) + 1.0);
  int const crop_width = crop_x1 - crop_x0 + 1;
  int const crop_height = crop_y1 - crop_y0 + 1;

  // Mask logits inside the crop: coefficients . prototypes, then the sigmoid.
  probabilities_.create(crop_height, crop_width, CV_32F);
  probabilities_.setTo(0.0F);
  std::size_t const plane = static_cast<std::size_t>(prototypes.size.area());
  for (int k = 0; k < prototypes.channels; ++k) {
    float const coefficient = coefficients[k];
    if (coefficient == 0.0F) {
      continue;
    }
    float const* const plane_data = prototypes.data + k * plane;
    for (int row = 0; row < crop_height; ++row) {
      float const* source =
          plane_data + static_cast<std::size_t>(crop_y0 + row) * prototypes.size.width + crop_x0;
      float* const logits = probabilities_.ptr<float>(row);
      for (int col = 0; col < crop_width; ++col) {
        logits[col] += coefficient * source[col];
      }
    }
  }
  cv::multiply(probabilities_, cv::Scalar::all(-1.0), probabilities_);
  cv::exp(probabilities_, probabilities_);
  cv::add(probabilities_, cv::Scalar::all(1.0), probabilities_);
  cv::divide(1.0, probabilities_, probabilities_);

  // Bilinear sampling at the image pixel centres, then the threshold.
  int const columns = u1 - u0 + 1;
  left_x_.resize(columns);
  right_x_.resize(columns);
  weight_x_.resize(columns);
  for (int i = 0; i < columns; ++i) {
    Tap const tap = TapAt(source_x(u0 + i) - crop_x0, crop_width);
    left_x_[i] = tap.left;
    right_x_[i] = tap.right;
    weight_x_[i] = tap.weight;
  }
  column_mix_.resize(crop_width);
  for (int v = v0; v <= v1; ++v) {
    Tap const tap = TapAt(source_y(v) - crop_y0, crop_height);
    float const* const upper = probabilities_.ptr<float>(tap.left);
    float const* const lower = probabilities_.ptr<float>(tap.right);
    for (int col = 0; col < crop_width; ++col) {
      column_mix_[col] = upper[col] + tap.weight * (lower[col] - upper[col]);
    }
    std::uint8_t* const out = mask.ptr<std::uint8_t>(v) + u0;
    for (int i = 0; i < columns; ++i) {
      float const left = column_mix_[left_x_[i]];
      float const value = left + weight_x_[i] * (column_mix_[right_x_[i]] - left);
      out[i] = value > threshold ? 255 : 0;
    }
  }
}

}  // namespace orvix::model
