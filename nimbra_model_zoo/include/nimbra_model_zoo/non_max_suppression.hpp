#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <opencv2/core/types.hpp>

namespace orvix::model {

/// A box competing in non-maximum suppression.
struct ScoredBox {
  cv::Rect2f box;             ///< corners, pixels
  float score{0.0F};          ///< confidence
  std::int32_t class_id{0};   ///< boxes only suppress boxes of the same class
};

/// Intersection over union of two boxes; 0 when the union is empty.
float IntersectionOverUnion(cv::Rect2f const& a, cv::Rect2f const& b);

/// Greedy per-class non-maximum suppression.
/// A box is dropped when its IoU with a stronger kept box of the same class exceeds
/// `iou_threshold`; equal scores keep the input order.
/// @return indices into `boxes` of the kept boxes, strongest first, at most `max_kept`
std::vector<std::size_t> SuppressNonMaxima(std::vector<ScoredBox> const& boxes, float iou_threshold,
                                           std::size_t max_kept);

}  // namespace orvix::model
