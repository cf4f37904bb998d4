// Record handed to the builder of the dangerous and lethal region maps.
#pragma once

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <vector>

#include "common/class_cloud_info.hpp"

namespace nimbra
{

/// One map the builder makes from the frame's dangerous regions.
struct RegionMapPart
{
  std::vector<ClassCloudInfo> regions;   ///< the frame's dangerous regions
  std::vector<ClassCloudInfo> extra;     ///< one default piece
  cv::Mat map_image;                     ///< empty; the builder draws it
  cv::Mat dilated_map_image;             ///< empty; the builder draws it
  int32_t grid_width = 100;              ///< cells
  int32_t grid_height = 0;               ///< cells
  float grid_resolution = 0.05F;         ///< cell edge, metres
  int32_t kernel_size = 5;               ///< dilation kernel, cells
  int32_t iterations = 1;                ///< dilation iterations
  double stamp = 0.0;                    ///< frame time, seconds
};

/// The region-map hand-off: the lethal and the dangerous part of one frame.
struct RegionMapRecord
{
  RegionMapPart lethal;
  RegionMapPart dangerous;
};

/// @brief True when camera `cam_id` hands its regions to the map builder: camera 2 always,
/// camera 1 too when both cameras are used.
inline bool cameraFillsRegionMap(int32_t cam_id, bool use_two_cameras)
{
  return cam_id == 2 || (use_two_cameras && cam_id == 1);
}

}  // namespace nimbra
