#include "common/cloud_preprocess.hpp"

#include <pcl/common/transforms.h>
#include <pcl/filters/voxel_grid.h>

#include <cmath>
#include <memory>

namespace nimbra
{

bool downsampleCloud(
  const pcl::PointCloud<pcl::PointXYZ> & raw, const CloudConfig & config,
  pcl::PointCloud<pcl::PointXYZ> & sampled, std::string * error)
{
  sampled.points.clear();
  sampled.width = 0;
  sampled.height = 1;
  sampled.header = raw.header;
  for (const float leaf : {config.cloud_x_leafSize, config.cloud_y_leafSize, config.cloud_z_leafSize}) {
    if (!(std::isfinite(leaf) && leaf > 0.0F)) {
      if (error != nullptr) {
        *error = "voxel leaf sizes must be positive: " + std::to_string(config.cloud_x_leafSize) +
                 ", " + std::to_string(config.cloud_y_leafSize) + ", " +
                 std::to_string(config.cloud_z_leafSize);
      }
      return false;
    }
  }
  if (raw.points.size() <= kMinPointsToDownsample) {
    return true;
  }
  // The filter reads the cloud through a shared pointer; this one borrows `raw` for the call.
  const pcl::PointCloud<pcl::PointXYZ>::ConstPtr input(
    &raw, [](const pcl::PointCloud<pcl::PointXYZ> *) {});
  pcl::VoxelGrid<pcl::PointXYZ> voxel;
  voxel.setInputCloud(input);
  voxel.setLeafSize(config.cloud_x_leafSize, config.cloud_y_leafSize, config.cloud_z_leafSize);
  voxel.setMinimumPointsNumberPerVoxel(
    static_cast<unsigned int>(config.cloud_min_point > 0 ? config.cloud_min_point : 0));
  voxel.filter(sampled);
  return true;
}

void transformCloud(
  const pcl::PointCloud<pcl::PointXYZ> & in, const Eigen::Matrix4f & transform,
  pcl::PointCloud<pcl::PointXYZ> & out)
{
  pcl::transformPointCloud(in, out, transform, true);
}

}  // namespace nimbra
