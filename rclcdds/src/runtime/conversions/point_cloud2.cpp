#include "rclcdds/conversions/point_cloud2.hpp"

#include <algorithm>
#include <cstdint>

namespace rclcdds
{
namespace pcl_conversions
{

int pointFieldSize(uint8_t datatype)
{
  using F = sensor_msgs::msg::PointField;
  switch (datatype) {
    case F::INT8: case F::UINT8: return 1;
    case F::INT16: case F::UINT16: return 2;
    case F::INT32: case F::UINT32: case F::FLOAT32: return 4;
    case F::FLOAT64: return 8;
    default: return 0;
  }
}

const sensor_msgs::msg::PointField * findField(
  const sensor_msgs::msg::PointCloud2 & msg, const std::string & name)
{
  auto it = std::find_if(
    msg.fields.begin(), msg.fields.end(), [&](const auto & f) {return f.name == name;});
  return it == msg.fields.end() ? nullptr : &*it;
}

bool validatePointCloud2(const sensor_msgs::msg::PointCloud2 & msg, std::string * error)
{
  const auto fail = [&](const std::string & why) {
      if (error) {
        *error = "invalid point cloud (" + std::to_string(msg.width) + "x" +
          std::to_string(msg.height) + ", point_step " + std::to_string(msg.point_step) + "): " + why;
      }
      return false;
    };
  if (msg.is_bigendian) {
    return fail("big-endian clouds are not supported");
  }
  for (const auto & field : msg.fields) {
    const int size = pointFieldSize(field.datatype);
    if (size == 0) {
      return fail(
        "field '" + field.name + "' has unknown datatype " + std::to_string(field.datatype));
    }
    const uint64_t end = static_cast<uint64_t>(field.offset) +
      static_cast<uint64_t>(size) * std::max<uint32_t>(field.count, 1);
    if (end > msg.point_step) {
      return fail(
        "field '" + field.name + "' ends at byte " + std::to_string(end) +
        ", beyond point_step");
    }
  }
  const uint64_t points_per_row = msg.width;
  if (msg.row_step < points_per_row * msg.point_step) {
    return fail(
      "row_step " + std::to_string(msg.row_step) + " is smaller than width x point_step = " +
      std::to_string(points_per_row * msg.point_step));
  }
  const uint64_t expected = static_cast<uint64_t>(msg.height) * msg.row_step;
  if (msg.data.size() != expected) {
    return fail(
      "data holds " + std::to_string(msg.data.size()) + " bytes, height x row_step = " +
      std::to_string(expected));
  }
  return true;
}

}  // namespace pcl_conversions
}  // namespace rclcdds
