// Region clouds of the detections that bypass ground removal (floor and dangerous classes).
#pragma once

#include <Eigen/Core>
#include <sensor_msgs/msg/image.hpp>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/camera_intrinsics.hpp"
#include "common/class_cloud_info.hpp"
#include "common/detection.hpp"

namespace nimbra
{

class Cloud;

/// Height band used for a class without one of its own, metres.
constexpr std::pair<double, double> kDefaultHeightRange{0.0, 2.0};

/// Camera data the region step needs besides the frame.
struct RegionExtractionParams
{
  CameraIntrinsics intrinsics;                           ///< depth intrinsics, pixels
  int32_t stride = 2;                                    ///< sampling block edge, pixels
  Eigen::Matrix4f cam_to_base = Eigen::Matrix4f::Identity();  ///< camera-to-base transform
  std::string base_frame = "base_footprint";             ///< frame id given to the region clouds
};

/// Size figures of one dangerous region, for the caller's log.
struct DangerousRegionStats
{
  int cluster_count = 0;        ///< clusters found among the height-filtered points
  std::size_t kept_points = 0;  ///< points inside the class's height band
};

/// Outcome of the region step for one frame.
struct RegionExtractionResult
{
  std::vector<ClassCloudInfo> floor_regions;      ///< BASE and CARPET regions, all their points
  std::vector<ClassCloudInfo> dangerous_regions;  ///< other classes: height-filtered, largest cluster
  std::vector<DangerousRegionStats> dangerous_stats;  ///< one per dangerous region, same order
  std::vector<std::string> errors;  ///< why a detection or the frame gave no region
};

/// @brief True for the classes whose regions are floor regions (BASE, CARPET).
bool isFloorRegionType(semantic::SemanticType type);

/// @brief Turns each detection's box and mask into a base-frame region, in list order.
///
/// Floor classes keep every point; any other class keeps the points strictly inside its height
/// band (`height_ranges`, or {0, 2} m when the class has none) and, when the clusterer of
/// `context` finds clusters among them, only the largest (the first on a tie). Detections whose
/// region has no valid depth give no record. The records carry a default detection.
/// A mask of another size than the depth image (the colour image's size) is mapped onto the depth
/// image first (`mapDetectionToImage`); a detection that cannot be mapped or converted gives no
/// record and one entry in `result.errors`.
/// @param context  supplies depth_max and the clusterer
void extractDetectionRegions(
  const std::vector<Detection> & detections, const sensor_msgs::msg::Image & depth,
  Cloud & context, const RegionExtractionParams & params,
  const std::map<semantic::SemanticType, std::pair<double, double>> & height_ranges,
  RegionExtractionResult & result);

}  // namespace nimbra
