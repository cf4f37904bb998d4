// Geometry of one trash detection: border test, instance cloud from depth, position and size.
// Free of middleware, so every rule tests on constructed images.
#pragma once

#include <Eigen/Core>
#include <opencv2/core/mat.hpp>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include <cstdint>
#include <vector>

#include "common/detection.hpp"
#include "common/detection_mapping.hpp"  // mapDetectionToImage, used with these steps

namespace nimbra
{

/// Camera data the per-detection steps need.
struct TrashCamera
{
  float fx = 0.0F;   ///< focal length along columns, pixels
  float fy = 0.0F;   ///< focal length along rows, pixels
  float cx = 0.0F;   ///< principal point column, pixels
  float cy = 0.0F;   ///< principal point row, pixels
  int32_t width = 0;   ///< depth image width, pixels
  int32_t height = 0;  ///< depth image height, pixels
  float depth_max = 2.0F;  ///< far limit (exclusive), metres
  Eigen::Matrix4f cam_to_base = Eigen::Matrix4f::Identity();  ///< camera -> base_footprint
};

/// Smallest instance cloud whose pose is estimated (fewer points: rejected), points.
constexpr std::size_t kMinTrashPosePoints = 5;
/// Smallest instance cloud whose size is estimated (fewer: size -1, -1, -1), points.
constexpr std::size_t kMinTrashSizePoints = 20;

/// @brief True when the box lies within `edge` pixels of the image border.
bool trashTouchesBorder(const Detection & detection, int32_t edge, int32_t width, int32_t height);

/// @brief Camera-frame points of the box's pixels (mask bytes non-zero, or the whole box when the
/// mask is empty) with 0 < depth < depth_max; `depth_m` is CV_32FC1 in metres. Pixels outside the
/// image or the mask are never read.
void trashInstanceCloud(
  const cv::Mat & depth_m, const Detection & detection, const TrashCamera & camera,
  pcl::PointCloud<pcl::PointXYZ> & cloud);

/// @brief Length, width, height in base_footprint of a camera-frame cloud: the sides of the
/// minimum-area rectangle around the points' (x, y) (longer first) and the z extent;
/// (-1, -1, -1) for 19 points or fewer.
std::vector<float> ComputeWasteSize3D(
  const pcl::PointCloud<pcl::PointXYZ> & cloud, const Eigen::Matrix4f & cam_to_base);

/// @brief Mean of the points (camera frame); zero for an empty cloud.
Eigen::Vector3f trashCentroid(const pcl::PointCloud<pcl::PointXYZ> & cloud);

}  // namespace nimbra
