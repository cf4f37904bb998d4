// Checks of sensor_msgs/PointCloud2 layouts (no PCL needed).
#pragma once

#include <string>

#include <sensor_msgs/msg/point_cloud2.hpp>
#include <sensor_msgs/msg/point_field.hpp>

namespace rclcdds
{
namespace pcl_conversions
{

/// Bytes of one value of a PointField datatype (INT8 .. FLOAT64), 0 when unknown.
int pointFieldSize(uint8_t datatype);

/// Checks a cloud message without reading a point: known field datatypes, fields inside
/// point_step, row_step >= width x point_step, data size == height x row_step, little endian.
/// @return false with the reason in `error` when the message is inconsistent
bool validatePointCloud2(const sensor_msgs::msg::PointCloud2 & msg, std::string * error);

/// The field named `name`, or null.
const sensor_msgs::msg::PointField * findField(
  const sensor_msgs::msg::PointCloud2 & msg, const std::string & name);

}  // namespace pcl_conversions
}  // namespace rclcdds
