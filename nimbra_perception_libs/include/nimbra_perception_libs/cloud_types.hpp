// Point-cloud type aliases shared by the perception library.
#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

namespace orvix
{
namespace perception
{

using PointCloudXYZ = pcl::PointCloud<pcl::PointXYZ>;

}  // namespace perception
}  // namespace orvix
