#include "common/detection_mapping.hpp"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace nimbra
{

bool mapDetectionToImage(
  const Detection & detection, int32_t width, int32_t height, Detection & mapped)
{
  mapped = detection;
  const cv::Mat & mask = detection.mask;
  if (mask.empty() || (mask.cols == width && mask.rows == height)) {
    return true;
  }
  if (mask.type() != CV_8UC1 || width <= 0 || height <= 0) {
    return false;
  }
  const double sx = static_cast<double>(mask.cols) / width;
  const double sy = static_cast<double>(mask.rows) / height;
  std::vector<int> columns(static_cast<std::size_t>(width));
  for (int u = 0; u < width; ++u) {
    columns[static_cast<std::size_t>(u)] =
      std::min(static_cast<int>((u + 0.5) * sx), mask.cols - 1);
  }
  mapped.mask = cv::Mat(height, width, CV_8UC1);
  for (int v = 0; v < height; ++v) {
    const int source_row = std::min(static_cast<int>((v + 0.5) * sy), mask.rows - 1);
    const uint8_t * src = mask.ptr<uint8_t>(source_row);
    uint8_t * dst = mapped.mask.ptr<uint8_t>(v);
    for (int u = 0; u < width; ++u) {
      dst[u] = src[columns[static_cast<std::size_t>(u)]];
    }
  }
  mapped.x1 = static_cast<int32_t>(std::floor(detection.x1 / sx));
  mapped.y1 = static_cast<int32_t>(std::floor(detection.y1 / sy));
  mapped.x2 = static_cast<int32_t>(std::ceil(detection.x2 / sx));
  mapped.y2 = static_cast<int32_t>(std::ceil(detection.y2 / sy));
  return true;
}

}  // namespace nimbra
