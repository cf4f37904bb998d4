#include "camera/detection_filter.hpp"

#include "common/logger.hpp"
#include "common/semantic_type.hpp"

namespace nimbra
{

std::vector<Detection> filterModelDetections(
  int32_t cam_id, const std::vector<orvix::model::ModelDetection> & raw,
  const semantic::AiConfig & config)
{
  std::vector<Detection> kept;
  const auto & types = config.class_types;
  const auto & thresholds = config.confidence_thresholds;
  for (const auto & instance : raw) {
    const auto k = static_cast<std::size_t>(static_cast<uint32_t>(instance.class_id));
    const semantic::SemanticType type = k < types.size() ? types[k] : semantic::INVALID;
    const double threshold = k < thresholds.size() ? thresholds[k] : 0.0;
    const std::string name = semantic::SemanticTypeName(type);
    if (static_cast<double>(instance.score) < threshold) {
      LOG_DEBUG_IN("aiInference",
        "cam_{0:d} : class={1:s}, score={2:03.2f}, conf={3:03.2f}, thus filtered", cam_id, name,
        instance.score, threshold);
      continue;
    }
    Detection detection;
    detection.x1 = static_cast<int32_t>(instance.x);
    detection.y1 = static_cast<int32_t>(instance.y);
    detection.x2 = static_cast<int32_t>(instance.x + instance.width);
    detection.y2 = static_cast<int32_t>(instance.y + instance.height);
    detection.mask = instance.mask;
    detection.score = instance.score;
    detection.type = type;
    kept.push_back(detection);
    LOG_DEBUG_IN("aiInference",
      "cam_{0:d} : class={1:s}, score={2:03.2f}, x1={3:d}, y1={4:d}, x2={5:d}, y2={6:d}", cam_id,
      name, instance.score, detection.x1, detection.y1, detection.x2, detection.y2);
  }
  return kept;
}

void splitDetections(
  const AiResult & frame, const std::set<int32_t> & dangerous_classes, bool trad_only,
  AiResult & labelled, AiResult & no_remove)
{
  labelled.image = no_remove.image = frame.image;
  labelled.time = no_remove.time = frame.time;
  labelled.detections.clear();
  no_remove.detections.clear();
  for (const auto & detection : frame.detections) {
    if (dangerous_classes.count(static_cast<int32_t>(detection.type)) > 0) {
      no_remove.detections.push_back(detection);
    } else if (!trad_only) {
      labelled.detections.push_back(detection);
    }
  }
}

}  // namespace nimbra
