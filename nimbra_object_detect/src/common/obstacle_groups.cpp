#include "common/obstacle_groups.hpp"

#include <nimbra_perception_libs/dynamic_cloud_detector.hpp>

#include <utility>

namespace nimbra
{
namespace
{

ClassCloudInfo pieceWithCloud(const ClassCloudInfo & source, pcl::PointCloud<pcl::PointXYZ> && cloud)
{
  ClassCloudInfo piece;
  piece.cloud = std::move(cloud);
  piece.cloud.header = source.cloud.header;
  piece.cloud.width = static_cast<uint32_t>(piece.cloud.points.size());
  piece.cloud.height = 1;
  piece.detection = source.detection;
  piece.type = source.type;
  piece.has_detection = source.has_detection;
  return piece;
}

/// Sorts one unlabelled piece by the share of its points the detector flags as moving.
void sortByMotion(ClassCloudInfo && piece, const MotionSplitter & split, ObstacleGroups & groups)
{
  const std::size_t total = piece.cloud.points.size();
  if (total == 0) {
    groups.static_cloud_info.push_back(std::move(piece));
    return;
  }
  pcl::PointCloud<pcl::PointXYZ> moving;
  pcl::PointCloud<pcl::PointXYZ> still;
  split(piece.cloud, moving, still);
  const float ratio = static_cast<float>(moving.points.size()) / static_cast<float>(total);
  if (ratio > kDynamicShareWhole) {
    groups.dynamic_cloud_info.push_back(std::move(piece));
  } else if (ratio < kStaticShareWhole) {
    groups.static_cloud_info.push_back(std::move(piece));
  } else {
    groups.dynamic_cloud_info.push_back(pieceWithCloud(piece, std::move(moving)));
    groups.static_cloud_info.push_back(pieceWithCloud(piece, std::move(still)));
  }
}

}  // namespace

ObstacleGroups sortObstacleGroups(
  std::vector<ClassCloudInfo> class_cloud_info, std::vector<ClassCloudInfo> floor_regions,
  const MotionSplitter & split)
{
  ObstacleGroups groups;
  const bool divide = static_cast<bool>(split);
  if (!class_cloud_info.empty() || !floor_regions.empty()) {
    groups.coffee_cloud_info.reserve(floor_regions.size());
    for (ClassCloudInfo & piece : class_cloud_info) {
      if (piece.type == semantic::PERSON) {
        groups.dynamic_cloud_info.push_back(std::move(piece));
      } else if (piece.type == semantic::NO_TYPE && divide) {
        sortByMotion(std::move(piece), split, groups);
      } else {
        groups.static_cloud_info.push_back(std::move(piece));
      }
    }
    for (ClassCloudInfo & region : floor_regions) {
      groups.static_cloud_info.push_back(std::move(region));
    }
  }
  return groups;
}

ObstacleGroups sortObstacleGroups(
  std::vector<ClassCloudInfo> class_cloud_info, std::vector<ClassCloudInfo> floor_regions,
  orvix::perception::DynamicCloudDetector * detector)
{
  MotionSplitter split;
  if (detector != nullptr && detector->ready_) {
    split = [detector](
              const pcl::PointCloud<pcl::PointXYZ> & piece, pcl::PointCloud<pcl::PointXYZ> & moving,
              pcl::PointCloud<pcl::PointXYZ> & still) { detector->DivideCloud(piece, moving, still); };
  }
  ObstacleGroups groups =
    sortObstacleGroups(std::move(class_cloud_info), std::move(floor_regions), split);
  if (detector != nullptr) {
    detector->ready_ = false;
  }
  return groups;
}

}  // namespace nimbra
