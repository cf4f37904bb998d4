// PCL cloud <-> sensor_msgs/PointCloud2 (as pcl_conversions). Header-only so that only the
// translation units that include it need PCL; link them to pcl_common.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <pcl/PCLHeader.h>
#include <pcl/PCLPointCloud2.h>
#include <pcl/common/io.h>
#include <pcl/conversions.h>
#include <pcl/point_cloud.h>
#include <pcl/type_traits.h>

#include <builtin_interfaces/msg/time.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <std_msgs/msg/header.hpp>

#include "rclcdds/conversions/point_cloud2.hpp"

namespace rclcdds
{
namespace pcl_conversions
{

/// Message stamp as PCL's microseconds.
inline void toPCL(const builtin_interfaces::msg::Time & stamp, std::uint64_t & pcl_stamp)
{
  pcl_stamp = static_cast<std::uint64_t>(stamp.sec) * 1000000ull + stamp.nanosec / 1000ull;
}

inline void fromPCL(const std::uint64_t & pcl_stamp, builtin_interfaces::msg::Time & stamp)
{
  stamp.sec = static_cast<int32_t>(pcl_stamp / 1000000ull);
  stamp.nanosec = static_cast<uint32_t>((pcl_stamp % 1000000ull) * 1000ull);
}

inline void toPCL(const std_msgs::msg::Header & header, pcl::PCLHeader & pcl_header)
{
  toPCL(header.stamp, pcl_header.stamp);
  pcl_header.seq = 0;
  pcl_header.frame_id = header.frame_id;
}

inline void fromPCL(const pcl::PCLHeader & pcl_header, std_msgs::msg::Header & header)
{
  fromPCL(pcl_header.stamp, header.stamp);
  header.frame_id = pcl_header.frame_id;
}

/// Moves a PCL blob into a message (fields, steps, dense flag and data).
inline void moveFromPCL(pcl::PCLPointCloud2 & pcl_cloud, sensor_msgs::msg::PointCloud2 & msg)
{
  fromPCL(pcl_cloud.header, msg.header);
  msg.height = pcl_cloud.height;
  msg.width = pcl_cloud.width;
  msg.fields.clear();
  for (const auto & f : pcl_cloud.fields) {
    sensor_msgs::msg::PointField field;
    field.name = f.name;
    field.offset = f.offset;
    field.datatype = f.datatype;
    field.count = f.count;
    msg.fields.push_back(field);
  }
  msg.is_bigendian = pcl_cloud.is_bigendian;
  msg.point_step = pcl_cloud.point_step;
  msg.row_step = pcl_cloud.row_step;
  msg.is_dense = pcl_cloud.is_dense;
  msg.data.swap(pcl_cloud.data);
}

namespace detail
{
/// Everything of a message but its data.
inline void layoutToPCL(const sensor_msgs::msg::PointCloud2 & msg, pcl::PCLPointCloud2 & pcl_cloud)
{
  toPCL(msg.header, pcl_cloud.header);
  pcl_cloud.height = msg.height;
  pcl_cloud.width = msg.width;
  pcl_cloud.fields.clear();
  for (const auto & f : msg.fields) {
    pcl::PCLPointField field;
    field.name = f.name;
    field.offset = f.offset;
    field.datatype = f.datatype;
    field.count = f.count;
    pcl_cloud.fields.push_back(field);
  }
  pcl_cloud.is_bigendian = msg.is_bigendian;
  pcl_cloud.point_step = msg.point_step;
  pcl_cloud.row_step = msg.row_step;
  pcl_cloud.is_dense = msg.is_dense;
}
}  // namespace detail

/// Copies a validated message into a PCL blob. @throws std::invalid_argument when inconsistent
inline void toPCL(const sensor_msgs::msg::PointCloud2 & msg, pcl::PCLPointCloud2 & pcl_cloud)
{
  std::string error;
  if (!validatePointCloud2(msg, &error)) {
    throw std::invalid_argument(error);
  }
  detail::layoutToPCL(msg, pcl_cloud);
  pcl_cloud.data = msg.data;
}

/// Cloud as a message: one field per point member (x, y, z, rgb/rgba, intensity, ...),
/// point_step = sizeof(PointT), row_step = width x point_step, is_dense copied.
template<typename PointT>
void toROSMsg(const pcl::PointCloud<PointT> & cloud, sensor_msgs::msg::PointCloud2 & msg)
{
  pcl::PCLPointCloud2 pcl_cloud;
  pcl::toPCLPointCloud2(cloud, pcl_cloud);
  moveFromPCL(pcl_cloud, msg);
}

namespace detail
{
/// Every field PointT needs must exist in the message with the same datatype
/// ("rgb" float and "rgba" uint32 stand for each other, as in PCL).
template<typename PointT>
void checkFieldsFor(const sensor_msgs::msg::PointCloud2 & msg)
{
  for (const auto & needed : pcl::getFields<PointT>()) {
    const sensor_msgs::msg::PointField * found = findField(msg, needed.name);
    if (!found && (needed.name == "rgb" || needed.name == "rgba")) {
      found = findField(msg, needed.name == "rgb" ? "rgba" : "rgb");
      if (found && pointFieldSize(found->datatype) == 4) {
        continue;
      }
    }
    if (!found) {
      throw std::invalid_argument("point cloud has no field '" + needed.name + "'");
    }
    if (found->datatype != needed.datatype) {
      throw std::invalid_argument(
              "point cloud field '" + needed.name + "' has datatype " +
              std::to_string(found->datatype) + ", expected " + std::to_string(needed.datatype));
    }
  }
}
}  // namespace detail

/// Message as a cloud, after validating the layout and the fields PointT needs.
/// @throws std::invalid_argument naming the fault
template<typename PointT>
void fromROSMsg(const sensor_msgs::msg::PointCloud2 & msg, pcl::PointCloud<PointT> & cloud)
{
  pcl::PCLPointCloud2 pcl_cloud;
  toPCL(msg, pcl_cloud);
  detail::checkFieldsFor<PointT>(msg);
  pcl::fromPCLPointCloud2(pcl_cloud, cloud);
}

/// fromROSMsg that takes the message's data instead of copying it.
template<typename PointT>
void moveFromROSMsg(sensor_msgs::msg::PointCloud2 & msg, pcl::PointCloud<PointT> & cloud)
{
  std::string error;
  if (!validatePointCloud2(msg, &error)) {
    throw std::invalid_argument(error);
  }
  detail::checkFieldsFor<PointT>(msg);
  pcl::PCLPointCloud2 pcl_cloud;
  detail::layoutToPCL(msg, pcl_cloud);
  pcl_cloud.data.swap(msg.data);
  pcl::fromPCLPointCloud2(pcl_cloud, cloud);
}

}  // namespace pcl_conversions
}  // namespace rclcdds
