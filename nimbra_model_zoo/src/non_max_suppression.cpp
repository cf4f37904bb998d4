#include "nimbra_model_zoo/non_max_suppression.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace orvix::model {

float IntersectionOverUnion(cv::Rect2f const& a, cv::Rect2f const& b) {
  float const left = std::max(a.x, b.x);
  float const top = std::max(a.y, b.y);
  float const right = std::min(a.x + a.width, b.x + b.width);
  float const bottom = std::min(a.y + a.height, b.y + b.height);
  float const intersection = std::max(0.0F, right - left) * std::max(0.0F, bottom - top);
  float const area_a = std::max(0.0F, a.width) * std::max(0.0F, a.height);
  float const area_b = std::max(0.0F, b.width) * std::max(0.0F, b.height);
  float const union_area = area_a + area_b - intersection;
  return union_area > 0.0F ? intersection / union_area : 0.0F;
}

std::vector<std::size_t> SuppressNonMaxima(std::vector<ScoredBox> const& boxes, float iou_threshold,
                                           std::size_t max_kept) {
  std::vector<std::size_t> order(boxes.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  // NaN scores rank last, which keeps the ordering strict and weak.
  auto const rank = [&boxes](std::size_t i) {
    float const score = boxes[i].score;
    return std::isnan(score) ? -std::numeric_limits<float>::infinity() : score;
  };
  std::stable_sort(order.begin(), order.end(),
                   [&rank](std::size_t a, std::size_t b) { return rank(a) > rank(b); });

  std::vector<std::size_t> kept;
  kept.reserve(std::min(max_kept, boxes.size()));
  for (std::size_t const index : order) {
    if (kept.size() >= max_kept) {
      break;
    }
    ScoredBox const& candidate = boxes[index];
    bool const suppressed =
        std::any_of(kept.begin(), kept.end(), [&](std::size_t k) {
          return boxes[k].class_id == candidate.class_id &&
                 IntersectionOverUnion(boxes[k].box, candidate.box) > iou_threshold;
        });
    if (!suppressed) {
      kept.push_back(index);
    }
  }
  return kept;
}

}  // namespace orvix::model
