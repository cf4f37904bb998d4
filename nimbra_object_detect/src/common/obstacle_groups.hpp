// Sorting of labelled pieces into the static, dynamic and coffee obstacle groups.
#pragma once

#include <functional>
#include <vector>

#include "common/class_cloud_info.hpp"

namespace orvix::perception
{
class DynamicCloudDetector;
}  // namespace orvix::perception

namespace nimbra
{

/// Moving share above which an unlabelled piece is dynamic as a whole.
constexpr float kDynamicShareWhole = 0.7F;
/// Moving share below which an unlabelled piece is static as a whole.
constexpr float kStaticShareWhole = 0.3F;

/// The three obstacle groups of one frame.
struct ObstacleGroups
{
  std::vector<ClassCloudInfo> static_cloud_info;   ///< still obstacles and floor regions
  std::vector<ClassCloudInfo> dynamic_cloud_info;  ///< people and moving obstacles
  std::vector<ClassCloudInfo> coffee_cloud_info;   ///< spilt liquids; no piece is sorted here yet
};

/// Splits a piece's points into moving and still ones.
using MotionSplitter = std::function<void(
  const pcl::PointCloud<pcl::PointXYZ> & piece, pcl::PointCloud<pcl::PointXYZ> & moving,
  pcl::PointCloud<pcl::PointXYZ> & still)>;

/// @brief Sorts the frame's pieces, in list order: PERSON pieces are dynamic; NO_TYPE pieces are
/// split with `split` when it is set (moving share > 0.7: dynamic whole, < 0.3: static whole,
/// otherwise a dynamic and a static piece with the same type and flag); every other piece, then
/// every floor region, is static.
ObstacleGroups sortObstacleGroups(
  std::vector<ClassCloudInfo> class_cloud_info, std::vector<ClassCloudInfo> floor_regions,
  const MotionSplitter & split);

/// @brief Sorts the frame's pieces as above, splitting NO_TYPE pieces with the detector's
/// DivideCloud only when its ready flag is set; then clears the ready flag.
/// @param detector  the camera's dynamic detector; null sorts NO_TYPE pieces as static
ObstacleGroups sortObstacleGroups(
  std::vector<ClassCloudInfo> class_cloud_info, std::vector<ClassCloudInfo> floor_regions,
  orvix::perception::DynamicCloudDetector * detector);

}  // namespace nimbra
