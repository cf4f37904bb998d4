// Points of a PointCloud2 as received from the network.
#pragma once

#include <vector>

#include <Eigen/Core>
#include <sensor_msgs/msg/point_cloud2.hpp>

namespace nimbra_demo_report
{

/// The finite x, y, z (float32 fields, little endian) of every point; no points when the
/// fields are missing or mistyped or the data is shorter than width * height * point_step.
std::vector<Eigen::Vector3d> cloudPoints(const sensor_msgs::msg::PointCloud2 & cloud);

}  // namespace nimbra_demo_report
