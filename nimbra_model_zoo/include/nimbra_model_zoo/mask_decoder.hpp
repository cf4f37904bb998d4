#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "nimbra_model_zoo/letterbox.hpp"

namespace orvix::model {

/// Mask prototypes of one image: `channels` planes of `size`, contiguous floats.
struct PrototypeView {
  float const* data{nullptr};  ///< plane k starts at data + k * size.area()
  int channels{0};             ///< number of planes
  cv::Size size;               ///< plane size, prototype pixels
};

/// Renders instance masks from YOLOv8-seg mask prototypes, working only inside each box.
class MaskDecoder {
 public:
  /// Fill `mask` (CV_8UC1, ImageSize() of `letterbox`, zero outside the box) with 255 where
  /// sigmoid(coefficients . prototypes), sampled bilinearly at the pixel centre, exceeds `threshold`.
  /// @param coefficients `prototypes.channels` mask coefficients
  /// @param box instance box in image pixels, already clipped to the image
  void Render(PrototypeView const& prototypes, float const* coefficients, cv::Rect2f const& box,
              Letterbox const& letterbox, float threshold, cv::Mat& mask);

 private:
  cv::Mat probabilities_;          ///< sigmoid of the mask logits inside the box, prototype pixels
  std::vector<float> column_mix_;  ///< one image row: probabilities interpolated vertically
  std::vector<int> left_x_;        ///< per box column: left crop column of the interpolation
  std::vector<int> right_x_;       ///< per box column: right crop column of the interpolation
  std::vector<float> weight_x_;    ///< per box column: weight of the right crop column
};

}  // namespace orvix::model
