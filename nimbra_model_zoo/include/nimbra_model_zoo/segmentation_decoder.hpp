#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "nimbra_model_zoo/letterbox.hpp"
#include "nimbra_model_zoo/mask_decoder.hpp"
#include "nimbra_model_zoo/model_detection.hpp"
#include "nimbra_model_zoo/non_max_suppression.hpp"

namespace orvix::model {

/// Thresholds of the YOLOv8-seg post-processing.
struct DecoderParams {
  float score_threshold{0.25F};  ///< lowest class score kept, 0 to 1
  float nms_threshold{0.45F};    ///< IoU above which a weaker box of the same class is dropped
  float mask_threshold{0.5F};    ///< mask probability above which a pixel is on the instance
  int max_detections{100};       ///< most instances returned
};

/// Turns the raw YOLOv8-seg outputs into instances in image coordinates: best class per anchor,
/// score threshold, per-class NMS, boxes mapped back and clipped, masks rendered inside the boxes.
class SegmentationDecoder {
 public:
  explicit SegmentationDecoder(DecoderParams const& params = DecoderParams());

  /// Check the output layout: predictions CV_32F [1, 4 + classes + M, anchors] and prototypes
  /// CV_32F [1, M, h, w], at least one class and one anchor.
  /// @return false with a reason naming the shapes in `error` (when given)
  static bool CheckShapes(cv::Mat const& predictions, cv::Mat const& prototypes,
                          std::string* error);

  /// Shape of a tensor as "1x116x8400".
  static std::string ShapeText(cv::Mat const& tensor);

  /// Decode one image. Replaces the contents of `detections`, strongest first.
  /// @return false, with no detections and a reason in `error`, when CheckShapes fails
  bool Decode(cv::Mat const& predictions, cv::Mat const& prototypes, Letterbox const& letterbox,
              std::vector<ModelDetection>& detections, std::string* error = nullptr);

  DecoderParams const& Params() const { return params_; }

 private:
  /// One anchor that passed the score threshold.
  struct Candidate {
    cv::Rect2f image_box;   ///< box in image pixels, clipped
    std::int32_t anchor{0}; ///< column in the predictions
  };

  void SelectCandidates(float const* predictions, int classes, int anchors,
                        Letterbox const& letterbox);

  DecoderParams params_;
  MaskDecoder mask_decoder_;
  std::vector<float> best_score_;     ///< per anchor: best class score
  std::vector<Candidate> candidates_;
  std::vector<ScoredBox> scored_;     ///< per candidate: network-input box for NMS
  std::vector<float> coefficients_;   ///< mask coefficients of one instance
};

}  // namespace orvix::model
