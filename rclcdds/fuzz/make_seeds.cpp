// Writes valid CDR payloads (prefixed with the fuzzer's type selector byte) as the seed corpus.
#include <cstdio>
#include <fstream>
#include <string>

#include <nimbra_protocol/msg/semantic_point_cloud.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

#include "rclcdds/serialization.hpp"

namespace
{
template<class T>
void write_seed(const std::string & dir, const char * name, uint8_t selector, const T & msg, bool prefix)
{
  rclcdds::SerializedMessage out;
  rclcdds::ServicePrefix service_prefix{7, 9};
  rclcdds::serialize_message(
    rclcdds::get_message_members<T>(), &msg, out, prefix ? &service_prefix : nullptr);
  std::ofstream file(dir + "/" + name, std::ios::binary);
  file.put(static_cast<char>(selector));
  file.write(reinterpret_cast<const char *>(out.data()), static_cast<std::streamsize>(out.size()));
}
}  // namespace

int main(int argc, char ** argv)
{
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  sensor_msgs::msg::Image image;
  image.header.frame_id = "camera";
  image.width = 4;
  image.height = 2;
  image.encoding = "16UC1";
  image.step = 8;
  image.data.assign(16, 3);
  write_seed(dir, "image", 0, image, false);
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header.frame_id = "base_footprint";
  cloud.fields.resize(2);
  cloud.fields[0].name = "x";
  cloud.fields[1].name = "y";
  cloud.data.assign(32, 1);
  write_seed(dir, "cloud", 1, cloud, false);
  sensor_msgs::msg::CameraInfo info;
  info.distortion_model = "plumb_bob";
  info.d = {0.1, 0.2, 0.0, 0.0, 0.0};
  write_seed(dir, "camera_info", 2, info, false);
  nimbra_protocol::msg::SemanticPointCloud semantic;
  semantic.clusters.resize(2);
  semantic.clusters[0].cloud = cloud;
  semantic.camera_frame = {1, 2, 3};
  write_seed(dir, "semantic", 3, semantic, false);
  rcl_interfaces::srv::SetParameters_Request request;
  request.parameters.resize(1);
  request.parameters[0].name = "ground.max_slope";
  request.parameters[0].value.type = 3;
  request.parameters[0].value.double_value = 0.2;
  write_seed(dir, "set_parameters", 5, request, true);
  return 0;
}
