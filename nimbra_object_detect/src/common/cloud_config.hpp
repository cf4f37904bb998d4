// Cloud-processing parameter block of a camera: voxel sizes, merge distances, mask gates, range.
#pragma once

#include <cstdint>
#include <type_traits>

namespace nimbra
{

/// Cloud-processing parameters of one camera; sixteen 32-bit fields whose order is fixed.
struct CloudConfig
{
  float cloud_x_leafSize = 0.025F;          ///< voxel edge along x, metres
  float cloud_y_leafSize = 0.025F;          ///< voxel edge along y, metres
  float cloud_z_leafSize = 0.025F;          ///< voxel edge along z, metres
  int32_t cloud_min_point = 5;              ///< points a voxel needs to survive downsampling
  float cloud_search_radius = 0.01F;        ///< neighbour search radius, metres
  int32_t cloud_point_num = 10;             ///< neighbour count for searches
  float cloud_x_split_distance = 0.6F;      ///< split distance along x, metres
  float cloud_xyz_merge_distance = 0.3F;    ///< 3-D merge distance, metres
  float cloud_x_merge_distance = 0.3F;      ///< centroid x distance below which pieces merge, metres
  float cloud_y_merge_distance = 0.3F;      ///< merge distance along y, metres
  float mask_iou_min = 0.5F;                ///< lower mask IoU gate (ratio)
  float mask_iou_max = 0.5F;                ///< IoU a cluster must exceed to match a detection (ratio)
  float person_distance = 2.0F;             ///< person range, metres
  float depth_max = 2.0F;                   ///< far depth limit (exclusive), metres
  float obstacle_percent = 0.2F;            ///< non-overlap share under which a whole cluster takes a class
  float person_percent = 0.5F;              ///< the same share for PERSON detections
};

static_assert(sizeof(CloudConfig) == 16 * 4, "CloudConfig is a block of sixteen 32-bit fields");
static_assert(std::is_standard_layout<CloudConfig>::value, "CloudConfig is read by position");

}  // namespace nimbra
