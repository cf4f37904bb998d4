// The three messages of the interoperability test, built identically by the publisher and the
// test that checks what the independent subscriber decoded.
#pragma once

#include <cstring>
#include <string>

#include <nimbra_protocol/msg/semantic_point_cloud.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

namespace interop
{

inline sensor_msgs::msg::Image make_image()
{
  sensor_msgs::msg::Image image;
  image.header.stamp.sec = 1700000123;
  image.header.stamp.nanosec = 456789;
  image.header.frame_id = "camera_color_optical_frame";
  image.height = 48;
  image.width = 64;
  image.encoding = "16UC1";
  image.is_bigendian = 0;
  image.step = 128;
  image.data.resize(128 * 48);
  for (size_t i = 0; i < image.data.size(); ++i) {
    image.data[i] = static_cast<uint8_t>((i * 13 + 7) & 0xff);
  }
  return image;
}

inline sensor_msgs::msg::PointCloud2 make_cloud(uint32_t points, const std::string & frame, float shift)
{
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header.stamp.sec = 1700000124;
  cloud.header.stamp.nanosec = 999999999;
  cloud.header.frame_id = frame;
  cloud.height = 1;
  cloud.width = points;
  const char * names[] = {"x", "y", "z"};
  for (uint32_t i = 0; i < 3; ++i) {
    sensor_msgs::msg::PointField field;
    field.name = names[i];
    field.offset = 4 * i;
    field.datatype = sensor_msgs::msg::PointField::FLOAT32;
    field.count = 1;
    cloud.fields.push_back(field);
  }
  cloud.is_bigendian = false;
  cloud.point_step = 12;
  cloud.row_step = 12 * points;
  cloud.data.resize(12 * points);
  for (uint32_t p = 0; p < points; ++p) {
    const float xyz[3] = {0.25f * p + shift, -0.5f * p, 1.5f};
    std::memcpy(&cloud.data[12 * p], xyz, sizeof(xyz));
  }
  cloud.is_dense = true;
  return cloud;
}

inline nimbra_protocol::msg::SemanticPointCloud make_semantic()
{
  nimbra_protocol::msg::SemanticPointCloud semantic;
  semantic.header.stamp.sec = 1700000125;
  semantic.header.stamp.nanosec = 1;
  semantic.header.frame_id = "base_footprint";
  nimbra_protocol::msg::SemanticCluster person;
  person.semantic_type = 1;
  person.has_detection = true;
  person.cloud = make_cloud(5, "base_footprint", 0.0f);
  nimbra_protocol::msg::SemanticCluster chair;
  chair.semantic_type = -7;
  chair.has_detection = false;
  chair.cloud = make_cloud(3, "base_footprint", 2.0f);
  semantic.clusters = {person, chair};
  semantic.camera_id = 2;
  semantic.camera_frame = {0.5f, -1.25f, 0.0f, 2.0f, 1.0f, 0.125f, 3.5f, -2.0f, 0.0f, 4.0f, 0.75f, 0.25f};
  return semantic;
}

}  // namespace interop
