// libFuzzer target for the CDR reader: arbitrary bytes decoded as the message types that arrive
// from the network (images, clouds, the robot's semantic clouds, parameter services, discovery).
// The first byte picks the type; the rest is the payload. Built and run by fuzz/run_fuzz.sh.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nimbra_protocol/msg/semantic_point_cloud.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <rmw_dds_common/msg/participant_entities_info.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <visualization_msgs/msg/marker_array.hpp>

#include "rclcdds/serialization.hpp"

namespace
{

template<class T>
void decode(const uint8_t * data, size_t size, bool with_prefix)
{
  T msg;
  std::string error;
  rclcdds::ServicePrefix prefix;
  const bool ok = rclcdds::deserialize_message(
    rclcdds::get_message_members<T>(), data, size, &msg, with_prefix ? &prefix : nullptr, &error);
  if (ok) {
    // Whatever was accepted must serialise again.
    rclcdds::SerializedMessage again;
    rclcdds::serialize_message(rclcdds::get_message_members<T>(), &msg, again);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size)
{
  if (size < 1) {
    return 0;
  }
  const uint8_t selector = data[0];
  ++data;
  --size;
  switch (selector % 8) {
    case 0: decode<sensor_msgs::msg::Image>(data, size, false); break;
    case 1: decode<sensor_msgs::msg::PointCloud2>(data, size, false); break;
    case 2: decode<sensor_msgs::msg::CameraInfo>(data, size, false); break;
    case 3: decode<nimbra_protocol::msg::SemanticPointCloud>(data, size, false); break;
    case 4: decode<visualization_msgs::msg::MarkerArray>(data, size, false); break;
    case 5: decode<rcl_interfaces::srv::SetParameters_Request>(data, size, true); break;
    case 6: decode<rmw_dds_common::msg::ParticipantEntitiesInfo>(data, size, false); break;
    default: decode<rcl_interfaces::srv::SetParameters_Response>(data, size, true); break;
  }
  return 0;
}
