// Segmentation result of one colour frame.
#pragma once

#include <opencv2/core/mat.hpp>

#include <vector>

#include "common/detection.hpp"

namespace nimbra
{

/// Per-frame network output: the image the model saw, its kept detections and a carried time value.
struct AiResult
{
  cv::Mat image;                     ///< colour image the model saw (header copy)
  std::vector<Detection> detections; ///< kept instances, in the model's order
  double time = 0.0;                 ///< time value carried along by the pipeline, seconds
};

}  // namespace nimbra
