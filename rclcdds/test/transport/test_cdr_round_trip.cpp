// Every top-level message and service type we exchange survives a round trip through our CDR:
// the default message, random contents and edge values (limits, NaN and infinities, empty and
// long strings, empty and 100 000-element sequences). The check re-serialises the decoded message
// and compares bytes, and compares the messages themselves when no NaN makes operator==
// meaningless. Types that only appear nested (Header, Pose, PointField, Parameter...) are filled
// and checked through the messages that hold them; of the service types with the same shape
// (empty requests, string[] requests, Parameter[] requests) one stands for the others.
#include <gtest/gtest.h>

#include <geometry_msgs/msg/polygon.hpp>
#include <lifecycle_msgs/msg/transition_event.hpp>
#include <lifecycle_msgs/srv/change_state.hpp>
#include <lifecycle_msgs/srv/get_available_transitions.hpp>
#include <lifecycle_msgs/srv/get_state.hpp>
#include <nimbra_protocol/msg/detected_wastes.hpp>
#include <nimbra_protocol/msg/object_list.hpp>
#include <nimbra_protocol/msg/robot_event.hpp>
#include <nimbra_protocol/msg/semantic_point_cloud.hpp>
#include <nimbra_protocol/msg/task_center_fsm_status.hpp>
#include <nimbra_protocol/msg/trashes.hpp>
#include <rcl_interfaces/msg/log.hpp>
#include <rcl_interfaces/msg/parameter_event.hpp>
#include <rcl_interfaces/srv/describe_parameters.hpp>
#include <rcl_interfaces/srv/get_parameter_types.hpp>
#include <rcl_interfaces/srv/list_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <rmw_dds_common/msg/participant_entities_info.hpp>
#include <rosgraph_msgs/msg/clock.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/compressed_image.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <std_msgs/msg/bool.hpp>
#include <std_msgs/msg/string.hpp>
#include <tf2_msgs/msg/tf_message.hpp>
#include <visualization_msgs/msg/marker_array.hpp>

#include "cdr_test_helpers.hpp"
#include "rclcdds/serialization.hpp"

namespace
{

using rclcdds_test::FillMode;

template<class T>
class CdrRoundTrip : public ::testing::Test
{
};

using AllMessages = ::testing::Types<
  geometry_msgs::msg::Polygon,
  lifecycle_msgs::msg::TransitionEvent,
  lifecycle_msgs::srv::ChangeState_Response,
  lifecycle_msgs::srv::GetAvailableTransitions_Response,
  lifecycle_msgs::srv::GetState_Request,
  nimbra_protocol::msg::DetectedWastes,
  nimbra_protocol::msg::ObjectList,
  nimbra_protocol::msg::RobotEvent,
  nimbra_protocol::msg::SemanticPointCloud,
  nimbra_protocol::msg::TaskCenterFsmStatus,
  nimbra_protocol::msg::Trashes,
  rcl_interfaces::msg::Log,
  rcl_interfaces::msg::ParameterEvent,
  rcl_interfaces::srv::DescribeParameters_Response,
  rcl_interfaces::srv::GetParameterTypes_Response,
  rcl_interfaces::srv::ListParameters_Request,
  rcl_interfaces::srv::ListParameters_Response,
  rcl_interfaces::srv::SetParameters_Response,
  rmw_dds_common::msg::ParticipantEntitiesInfo,
  rosgraph_msgs::msg::Clock,
  sensor_msgs::msg::CameraInfo,
  sensor_msgs::msg::CompressedImage,
  sensor_msgs::msg::Image,
  sensor_msgs::msg::PointCloud2,
  std_msgs::msg::Bool,
  std_msgs::msg::String,
  tf2_msgs::msg::TFMessage,
  visualization_msgs::msg::MarkerArray
>;
TYPED_TEST_SUITE(CdrRoundTrip, AllMessages);

}  // namespace

TYPED_TEST(CdrRoundTrip, DefaultRandomAndEdgeContents)
{
  struct Run
  {
    const char * name;
    bool fill;
    FillMode mode;
    uint32_t first_seed;
    uint32_t seeds;
  };
  const Run runs[] = {
    {"default message", false, FillMode::Random, 0, 1},
    {"random contents", true, FillMode::Random, 1, 20},
    {"edge values", true, FillMode::Extremes, 100, 4},
  };
  const auto & members = rclcdds::get_message_members<TypeParam>();
  for (const Run & run : runs) {
    for (uint32_t seed = run.first_seed; seed < run.first_seed + run.seeds; ++seed) {
      SCOPED_TRACE(rclcdds::dds_type_name(members) + ", " + run.name + ", seed " +
        std::to_string(seed));
      TypeParam original;
      rclcdds_test::MessageFiller filler(seed, run.mode);
      if (run.fill) {
        filler.fill(members, &original);
      }
      const std::vector<uint8_t> wire = rclcdds_test::wire_of(original);
      ASSERT_EQ(wire.size() % 4, 0u);
      TypeParam decoded;
      std::string error;
      ASSERT_TRUE(rclcdds_test::decode(wire, &error, &decoded)) << error;
      EXPECT_EQ(rclcdds_test::wire_of(decoded), wire);
      if (!filler.used_nan()) {
        EXPECT_TRUE(decoded == original);
      }
    }
  }
}
