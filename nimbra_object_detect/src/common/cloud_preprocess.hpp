// Downsampling and frame change of the whole-frame depth cloud.
#pragma once

#include <Eigen/Core>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include <cstddef>
#include <string>

#include "common/cloud_config.hpp"

namespace nimbra
{

/// Raw clouds with at most this many points are not downsampled.
constexpr std::size_t kMinPointsToDownsample = 500;

/// @brief Voxel-grid downsampling: a cloud of more than 500 points is filtered with the leaf
/// sizes and the minimum points per voxel of `config`; a smaller one leaves `sampled` empty.
/// `raw` is read in place (no copy).
/// @param error  set to the reason when false is returned (may be null)
/// @return false, with `sampled` empty, when a leaf size is not a positive finite number
bool downsampleCloud(
  const pcl::PointCloud<pcl::PointXYZ> & raw, const CloudConfig & config,
  pcl::PointCloud<pcl::PointXYZ> & sampled, std::string * error = nullptr);

/// @brief `out` = `transform` applied to every point of `in`, header and other fields copied.
void transformCloud(
  const pcl::PointCloud<pcl::PointXYZ> & in, const Eigen::Matrix4f & transform,
  pcl::PointCloud<pcl::PointXYZ> & out);

}  // namespace nimbra
