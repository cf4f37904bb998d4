// Turns the model's raw instances into the frame's detections: class from the class table,
// per-class score threshold, integer box. Free of middleware.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "common/ai_result.hpp"
#include "common/detection.hpp"
#include "nimbra_model_zoo/model_detection.hpp"

namespace semantic
{
struct AiConfig;
}  // namespace semantic

namespace nimbra
{

/// @brief Keeps, in the model's order, every instance whose score is not below its class's
/// threshold. A class id beyond the table has type INVALID and threshold 0. Box corners are the
/// float sums x + width, y + height truncated toward zero; masks are shared, not copied.
std::vector<Detection> filterModelDetections(
  int32_t cam_id, const std::vector<orvix::model::ModelDetection> & raw,
  const semantic::AiConfig & config);

/// @brief Splits the frame's detections, in order: dangerous classes bypass ground removal
/// (`no_remove`), the others are labelled (`labelled`) unless the frame is traditional-only, when
/// they are dropped. Both results carry the frame's image and time value.
void splitDetections(
  const AiResult & frame, const std::set<int32_t> & dangerous_classes, bool trad_only,
  AiResult & labelled, AiResult & no_remove);

}  // namespace nimbra
