#include "common/region_extraction.hpp"

#include <nimbra_perception_libs/cloud_cluster.hpp>
#include <opencv2/core.hpp>

#include <memory>
#include <utility>

#include "common/cloud.hpp"
#include "common/cloud_preprocess.hpp"
#include "common/depth_image_view.hpp"
#include "common/depth_to_cloud.hpp"
#include "common/detection_mapping.hpp"

namespace nimbra
{
namespace
{

using PointCloud = pcl::PointCloud<pcl::PointXYZ>;

std::pair<double, double> heightRangeOf(
  semantic::SemanticType type,
  const std::map<semantic::SemanticType, std::pair<double, double>> & height_ranges)
{
  const auto found = height_ranges.find(type);
  return found == height_ranges.end() ? kDefaultHeightRange : found->second;
}

/// Points of `cloud` with min < z < max (compared in float).
PointCloud::Ptr keepHeightBand(const PointCloud & cloud, std::pair<double, double> range)
{
  const auto min_z = static_cast<float>(range.first);
  const auto max_z = static_cast<float>(range.second);
  auto kept = std::make_shared<PointCloud>();
  kept->header = cloud.header;
  kept->points.reserve(cloud.points.size());
  for (const pcl::PointXYZ & p : cloud.points) {
    if (min_z < p.z && p.z < max_z) {
      kept->points.push_back(p);
    }
  }
  kept->width = static_cast<uint32_t>(kept->points.size());
  kept->height = 1;
  kept->is_dense = cloud.is_dense;
  return kept;
}

/// Replaces `region.cloud` by the largest cluster of `kept`, or by `kept` when there is none.
DangerousRegionStats keepLargestCluster(
  orvix::perception::CloudCluster * clusterer, const PointCloud::Ptr & kept, ClassCloudInfo & region)
{
  DangerousRegionStats stats;
  stats.kept_points = kept->points.size();
  int count = 0;
  std::vector<PointCloud::Ptr> clusters;
  if (clusterer != nullptr) {
    clusterer->obstacleCluster(kept, count, clusters);
  }
  stats.cluster_count = count;
  const PointCloud::Ptr * largest = nullptr;
  for (const PointCloud::Ptr & cluster : clusters) {
    if (cluster && (largest == nullptr || cluster->points.size() > (*largest)->points.size())) {
      largest = &cluster;
    }
  }
  region.cloud = largest != nullptr ? std::move(**largest) : std::move(*kept);
  region.cloud.width = static_cast<uint32_t>(region.cloud.points.size());
  region.cloud.height = 1;
  return stats;
}

}  // namespace

bool isFloorRegionType(semantic::SemanticType type)
{
  return type == semantic::BASE || type == semantic::CARPET;
}

void extractDetectionRegions(
  const std::vector<Detection> & detections, const sensor_msgs::msg::Image & depth,
  Cloud & context, const RegionExtractionParams & params,
  const std::map<semantic::SemanticType, std::pair<double, double>> & height_ranges,
  RegionExtractionResult & result)
{
  result.floor_regions.clear();
  result.dangerous_regions.clear();
  result.dangerous_stats.clear();
  result.errors.clear();
  if (detections.empty()) {
    return;
  }
  DepthImageView view;
  std::string reason;
  if (!makeDepthImageView(depth, view, &reason)) {
    result.errors.push_back("depth image: " + reason);
    return;
  }

  const uint64_t stamp_us = static_cast<uint64_t>(depth.header.stamp.sec) * 1000000ULL +
                            depth.header.stamp.nanosec / 1000ULL;
  PointCloud camera_points;
  Detection mapped;
  for (std::size_t i = 0; i < detections.size(); ++i) {
    // Masks have the colour image's size; the region is read in the depth image's pixel grid.
    const Detection & detection = detections[i];
    if (!mapDetectionToImage(detection, view.width, view.height, mapped)) {
      result.errors.push_back(
        "detection " + std::to_string(i) + ": mask of type " +
        cv::typeToString(detection.mask.type()) + " and size " +
        std::to_string(detection.mask.cols) + " x " + std::to_string(detection.mask.rows) +
        " cannot be mapped onto the " + std::to_string(view.width) + " x " +
        std::to_string(view.height) + " depth image");
      continue;
    }
    if (!DepthToCloud(
          view, params.intrinsics, mapped, context.config().depth_max, params.stride,
          camera_points, &reason)) {
      result.errors.push_back("detection " + std::to_string(i) + ": " + reason);
      continue;
    }
    if (camera_points.points.empty() || camera_points.width == 0) {
      continue;
    }
    ClassCloudInfo region;
    region.type = detection.type;
    transformCloud(camera_points, params.cam_to_base, region.cloud);
    region.cloud.header.frame_id = params.base_frame;
    region.cloud.header.stamp = stamp_us;

    if (isFloorRegionType(region.type)) {
      region.has_detection = true;
      result.floor_regions.push_back(std::move(region));
      continue;
    }
    const PointCloud::Ptr kept =
      keepHeightBand(region.cloud, heightRangeOf(region.type, height_ranges));
    result.dangerous_stats.push_back(keepLargestCluster(context.cluster().get(), kept, region));
    result.dangerous_regions.push_back(std::move(region));
  }
}

}  // namespace nimbra
