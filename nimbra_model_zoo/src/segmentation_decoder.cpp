#include "nimbra_model_zoo/segmentation_decoder.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace orvix::model {
namespace {

constexpr int kBoxRows = 4;  // centre x, centre y, width, height

bool IsFinite(float a, float b, float c, float d) {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d);
}

/// First class of `anchor` whose score equals `best` (0 when none does).
std::int32_t BestClass(float const* predictions, int classes, int anchors, int anchor, float best) {
  float const* const scores = predictions + static_cast<std::size_t>(kBoxRows) * anchors + anchor;
  for (int c = 0; c < classes; ++c) {
    if (scores[static_cast<std::size_t>(c) * anchors] == best) {
      return c;
    }
  }
  return 0;
}

}  // namespace

SegmentationDecoder::SegmentationDecoder(DecoderParams const& params) : params_(params) {}

std::string SegmentationDecoder::ShapeText(cv::Mat const& tensor) {
  if (tensor.empty()) {
    return "empty";
  }
  std::string text;
  for (int i = 0; i < tensor.dims; ++i) {
    text += (i == 0 ? "" : "x") + std::to_string(tensor.size[i]);
  }
  return text;
}

bool SegmentationDecoder::CheckShapes(cv::Mat const& predictions, cv::Mat const& prototypes,
                                      std::string* error) {
  bool const layout_ok =
      predictions.type() == CV_32F && prototypes.type() == CV_32F &&
      predictions.isContinuous() && prototypes.isContinuous() && predictions.dims == 3 &&
      prototypes.dims == 4 && predictions.size[0] == 1 && prototypes.size[0] == 1 &&
      predictions.size[2] >= 1 && prototypes.size[1] >= 1 && prototypes.size[2] >= 1 &&
      prototypes.size[3] >= 1 && predictions.size[1] >= kBoxRows + 1 + prototypes.size[1];
  if (!layout_ok && error != nullptr) {
    *error = "unexpected output shapes " + ShapeText(predictions) + " and " +
             ShapeText(prototypes) +
             "; expected float tensors [1, 4 + classes + M, anchors] and [1, M, H/4, W/4]"
             " with at least one class (M = 32 for YOLOv8-seg)";
  }
  return layout_ok;
}

bool SegmentationDecoder::Decode(cv::Mat const& predictions, cv::Mat const& prototypes,
                                 Letterbox const& letterbox,
                                 std::vector<ModelDetection>& detections, std::string* error) {
  detections.clear();
  if (!CheckShapes(predictions, prototypes, error)) {
    return false;
  }
  int const anchors = predictions.size[2];
  int const mask_channels = prototypes.size[1];
  int const classes = predictions.size[1] - kBoxRows - mask_channels;
  float const* const rows = predictions.ptr<float>();

  SelectCandidates(rows, classes, anchors, letterbox);
  std::vector<std::size_t> const kept = SuppressNonMaxima(
      scored_, params_.nms_threshold, static_cast<std::size_t>(std::max(0, params_.max_detections)));

  PrototypeView const view{prototypes.ptr<float>(), mask_channels,
                           cv::Size(prototypes.size[3], prototypes.size[2])};
  float const* const coefficient_rows =
      rows + static_cast<std::size_t>(kBoxRows + classes) * anchors;
  coefficients_.resize(mask_channels);
  detections.reserve(kept.size());
  for (std::size_t const index : kept) {
    Candidate const& candidate = candidates_[index];
    for (int k = 0; k < mask_channels; ++k) {
      coefficients_[k] = coefficient_rows[static_cast<std::size_t>(k) * anchors + candidate.anchor];
    }
    ModelDetection detection;
    detection.x = candidate.image_box.x;
    detection.y = candidate.image_box.y;
    detection.width = candidate.image_box.width;
    detection.height = candidate.image_box.height;
    detection.class_id = scored_[index].class_id;
    detection.score = scored_[index].score;
    mask_decoder_.Render(view, coefficients_.data(), candidate.image_box, letterbox,
                         params_.mask_threshold, detection.mask);
    detections.push_back(std::move(detection));
  }
  return true;
}

void SegmentationDecoder::SelectCandidates(float const* predictions, int classes, int anchors,
                                           Letterbox const& letterbox) {
  // Best score per anchor, class row by class row so that memory is read in order. std::max keeps
  // the running value when a score is NaN, and the loop compiles to packed maxima.
  best_score_.assign(anchors, -std::numeric_limits<float>::infinity());
  for (int c = 0; c < classes; ++c) {
    float const* const scores = predictions + static_cast<std::size_t>(kBoxRows + c) * anchors;
    float* const best = best_score_.data();
    for (int a = 0; a < anchors; ++a) {
      best[a] = std::max(best[a], scores[a]);
    }
  }

  float const* const centre_x = predictions;
  float const* const centre_y = predictions + anchors;
  float const* const width = predictions + 2 * static_cast<std::size_t>(anchors);
  float const* const height = predictions + 3 * static_cast<std::size_t>(anchors);
  double const image_width = letterbox.ImageSize().width;
  double const image_height = letterbox.ImageSize().height;
  candidates_.clear();
  scored_.clear();
  for (int a = 0; a < anchors; ++a) {
    float const score = best_score_[a];
    if (!(score >= params_.score_threshold)) {
      continue;
    }
    if (!IsFinite(centre_x[a], centre_y[a], width[a], height[a]) || width[a] <= 0.0F ||
        height[a] <= 0.0F) {
      continue;
    }
    double const left = centre_x[a] - 0.5 * width[a];
    double const top = centre_y[a] - 0.5 * height[a];
    double const right = left + width[a];
    double const bottom = top + height[a];
    double const x1 = std::clamp(letterbox.ToImageX(left), 0.0, image_width);
    double const y1 = std::clamp(letterbox.ToImageY(top), 0.0, image_height);
    double const x2 = std::clamp(letterbox.ToImageX(right), 0.0, image_width);
    double const y2 = std::clamp(letterbox.ToImageY(bottom), 0.0, image_height);
    if (x2 <= x1 || y2 <= y1) {
      continue;  // entirely in the padding or outside the image
    }
    Candidate candidate;
    candidate.image_box = cv::Rect2f(static_cast<float>(x1), static_cast<float>(y1),
                                     static_cast<float>(x2 - x1), static_cast<float>(y2 - y1));
    candidate.anchor = a;
    candidates_.push_back(candidate);
    scored_.push_back(ScoredBox{cv::Rect2f(static_cast<float>(left), static_cast<float>(top),
                                           width[a], height[a]),
                                score, BestClass(predictions, classes, anchors, a, score)});
  }
}

}  // namespace orvix::model
