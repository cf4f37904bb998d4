// Image region (box and optional mask) whose depth pixels are turned into a cloud.
#pragma once

#include <opencv2/core/mat.hpp>

#include <cstdint>

namespace nimbra
{

/// Region of a depth image to convert; `Detection` starts with the same fields and can be passed as one.
struct RegionCloudRequest
{
  int32_t x1 = 0;  ///< first corner column, pixels
  int32_t y1 = 0;  ///< first corner row, pixels
  int32_t x2 = 0;  ///< second corner column (exclusive), pixels
  int32_t y2 = 0;  ///< second corner row (exclusive), pixels
  cv::Mat mask;    ///< CV_8UC1 of the image's size, non-zero where pixels may be used; empty: all
};

}  // namespace nimbra
