// Writes valid CDR payloads (prefixed with the fuzzer's type selector byte) as the seed corpus:
//   make_seeds DIR            for cdr_reader_fuzzer
//   make_seeds DIR requests   for service_request_fuzzer
#include <cstdio>
#include <fstream>
#include <string>

#include <lifecycle_msgs/srv/change_state.hpp>
#include <nimbra_protocol/msg/semantic_point_cloud.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/list_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters_atomically.hpp>
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
/// One valid request per service of service_request_fuzzer (same selector bytes).
void write_request_seeds(const std::string & dir)
{
  rcl_interfaces::srv::GetParameters_Request get;
  get.names = {"gain", "mode", "missing"};
  write_seed(dir, "get_parameters", 0, get, true);
  write_seed(dir, "get_parameter_types", 1, get, true);
  rcl_interfaces::srv::SetParameters_Request set;
  set.parameters.resize(3);
  set.parameters[0].name = "gain";
  set.parameters[0].value.type = 3;
  set.parameters[0].value.double_value = 0.2;
  set.parameters[1].name = "slope";
  set.parameters[1].value.type = 3;
  set.parameters[1].value.double_value = 7.0;
  set.parameters[2].name = "flags";
  set.parameters[2].value.type = 7;
  set.parameters[2].value.bool_array_value = {true};
  write_seed(dir, "set_parameters", 2, set, true);
  rcl_interfaces::srv::SetParametersAtomically_Request atomic;
  atomic.parameters = set.parameters;
  write_seed(dir, "set_parameters_atomically", 3, atomic, true);
  write_seed(dir, "describe_parameters", 4, get, true);
  rcl_interfaces::srv::ListParameters_Request list;
  list.prefixes = {"cam1"};
  list.depth = 2;
  write_seed(dir, "list_parameters", 5, list, true);
  lifecycle_msgs::srv::ChangeState_Request change;
  change.transition.label = "configure";
  write_seed(dir, "change_state", 6, change, true);
}

}  // namespace

int main(int argc, char ** argv)
{
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  if (argc > 2 && std::string(argv[2]) == "requests") {
    write_request_seeds(dir);
    return 0;
  }
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
