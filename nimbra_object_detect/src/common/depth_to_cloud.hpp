// Strided conversion of a depth image region into a camera-frame point cloud.
#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <sensor_msgs/msg/image.hpp>

#include <cstdint>
#include <string>

#include "common/camera_intrinsics.hpp"
#include "common/depth_image_view.hpp"
#include "common/region_cloud_request.hpp"

namespace nimbra
{

class Cloud;

/// @brief Number of blocks of `stride` pixels needed to cover `extent` pixels (ceiling division).
int64_t depthBlockCount(int64_t extent, int32_t stride);

/// @brief Emits at most one camera-frame point per `stride` x `stride` block of `region`.
///
/// Blocks are laid from (x1, y1) and visited in row-major order; inside a block, pixels are
/// scanned row by row and the first one with 0 < depth < `depth_max` (and a non-zero mask byte
/// when the region has a mask) gives x = d ((u - cx) / fx), y = d ((v - cy) / fy), z = d, in
/// float. Pixels of the region that lie outside the image count as having no depth. `cloud`
/// receives exactly the points produced (earlier content is overwritten, its storage reused) and
/// ends unorganised (height 1, width = point count); its header is left as it was.
/// @param error  set to the reason when false is returned (may be null)
/// @return false, with an empty cloud, when the stride is below 1, the intrinsics or `depth_max`
///         are unusable, the corners are in reverse order, a non-empty region misses the image,
///         or the mask is not CV_8UC1 of the image's size
bool DepthToCloud(
  const DepthImageView & depth, const CameraIntrinsics & intrinsics,
  const RegionCloudRequest & region, float depth_max, int32_t stride,
  pcl::PointCloud<pcl::PointXYZ> & cloud, std::string * error = nullptr);

/// @brief Message form: validates and decodes `depth` ("16UC1"/"mono16" in millimetres, other
/// single-channel encodings in metres), converts as above with `depth_max` of `context`, and
/// stamps the cloud with the message's frame id and time.
/// @return false, with an empty cloud, when the message or the request is unusable
bool DepthToCloud(
  const Cloud & context, const sensor_msgs::msg::Image & depth, float fx, float fy, float cx,
  float cy, const RegionCloudRequest & region, pcl::PointCloud<pcl::PointXYZ> & cloud,
  int32_t stride, std::string * error = nullptr);

/// @brief Message form with an explicit far limit (metres).
bool DepthToCloud(
  const sensor_msgs::msg::Image & depth, const CameraIntrinsics & intrinsics,
  const RegionCloudRequest & region, float depth_max, int32_t stride,
  pcl::PointCloud<pcl::PointXYZ> & cloud, std::string * error = nullptr);

}  // namespace nimbra
