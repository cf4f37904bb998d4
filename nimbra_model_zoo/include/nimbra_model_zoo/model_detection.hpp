#pragma once

#include <cstdint>

#include <opencv2/core/mat.hpp>

namespace orvix::model {

/// One instance found by a segmentation model, in the pixel coordinates of the image it was given.
struct ModelDetection {
  float x{0.0F};              ///< left edge of the box, pixels
  float y{0.0F};              ///< top edge of the box, pixels
  float width{0.0F};          ///< box width, pixels
  float height{0.0F};         ///< box height, pixels
  std::int32_t class_id{0};   ///< the network's class index
  float score{0.0F};          ///< class confidence, 0 to 1
  cv::Mat mask;               ///< CV_8UC1 of the image's size: 255 on the instance, 0 elsewhere
};

}  // namespace orvix::model
