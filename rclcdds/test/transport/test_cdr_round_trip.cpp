// Every message and service type we generate survives a round trip through our CDR: random
// contents and edge values (limits, NaN and infinities, empty and long strings, empty and
// 100 000-element sequences). The check re-serialises the decoded message and compares bytes,
// and compares the messages themselves when no NaN makes operator== meaningless.
#include <gtest/gtest.h>

#include <builtin_interfaces/msg/duration.hpp>
#include <builtin_interfaces/msg/time.hpp>
#include <geometry_msgs/msg/point.hpp>
#include <geometry_msgs/msg/point32.hpp>
#include <geometry_msgs/msg/polygon.hpp>
#include <geometry_msgs/msg/pose.hpp>
#include <geometry_msgs/msg/pose_stamped.hpp>
#include <geometry_msgs/msg/quaternion.hpp>
#include <geometry_msgs/msg/transform.hpp>
#include <geometry_msgs/msg/transform_stamped.hpp>
#include <geometry_msgs/msg/twist.hpp>
#include <geometry_msgs/msg/vector3.hpp>
#include <lifecycle_msgs/msg/state.hpp>
#include <lifecycle_msgs/msg/transition.hpp>
#include <lifecycle_msgs/msg/transition_description.hpp>
#include <lifecycle_msgs/msg/transition_event.hpp>
#include <lifecycle_msgs/srv/change_state.hpp>
#include <lifecycle_msgs/srv/get_available_states.hpp>
#include <lifecycle_msgs/srv/get_available_transitions.hpp>
#include <lifecycle_msgs/srv/get_state.hpp>
#include <nimbra_protocol/msg/detected_wastes.hpp>
#include <nimbra_protocol/msg/object_info.hpp>
#include <nimbra_protocol/msg/object_list.hpp>
#include <nimbra_protocol/msg/robot_event.hpp>
#include <nimbra_protocol/msg/semantic_cluster.hpp>
#include <nimbra_protocol/msg/semantic_point_cloud.hpp>
#include <nimbra_protocol/msg/task_center_fsm_status.hpp>
#include <nimbra_protocol/msg/trash.hpp>
#include <nimbra_protocol/msg/trashes.hpp>
#include <rcl_interfaces/msg/floating_point_range.hpp>
#include <rcl_interfaces/msg/integer_range.hpp>
#include <rcl_interfaces/msg/list_parameters_result.hpp>
#include <rcl_interfaces/msg/log.hpp>
#include <rcl_interfaces/msg/parameter.hpp>
#include <rcl_interfaces/msg/parameter_descriptor.hpp>
#include <rcl_interfaces/msg/parameter_event.hpp>
#include <rcl_interfaces/msg/parameter_type.hpp>
#include <rcl_interfaces/msg/parameter_value.hpp>
#include <rcl_interfaces/msg/set_parameters_result.hpp>
#include <rcl_interfaces/srv/describe_parameters.hpp>
#include <rcl_interfaces/srv/get_parameter_types.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/list_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters_atomically.hpp>
#include <rmw_dds_common/msg/gid.hpp>
#include <rmw_dds_common/msg/node_entities_info.hpp>
#include <rmw_dds_common/msg/participant_entities_info.hpp>
#include <rosgraph_msgs/msg/clock.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/compressed_image.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <sensor_msgs/msg/point_field.hpp>
#include <sensor_msgs/msg/region_of_interest.hpp>
#include <std_msgs/msg/bool.hpp>
#include <std_msgs/msg/color_rgba.hpp>
#include <std_msgs/msg/header.hpp>
#include <std_msgs/msg/string.hpp>
#include <tf2_msgs/msg/tf_message.hpp>
#include <visualization_msgs/msg/marker.hpp>
#include <visualization_msgs/msg/marker_array.hpp>
#include <visualization_msgs/msg/mesh_file.hpp>
#include <visualization_msgs/msg/uv_coordinate.hpp>

#include "cdr_test_helpers.hpp"
#include "rclcdds/serialization.hpp"

namespace
{

template<class T>
class CdrRoundTrip : public ::testing::Test
{
};


using AllMessages = ::testing::Types<
  builtin_interfaces::msg::Duration,
  builtin_interfaces::msg::Time,
  geometry_msgs::msg::Point,
  geometry_msgs::msg::Point32,
  geometry_msgs::msg::Polygon,
  geometry_msgs::msg::Pose,
  geometry_msgs::msg::PoseStamped,
  geometry_msgs::msg::Quaternion,
  geometry_msgs::msg::Transform,
  geometry_msgs::msg::TransformStamped,
  geometry_msgs::msg::Twist,
  geometry_msgs::msg::Vector3,
  lifecycle_msgs::msg::State,
  lifecycle_msgs::msg::Transition,
  lifecycle_msgs::msg::TransitionDescription,
  lifecycle_msgs::msg::TransitionEvent,
  lifecycle_msgs::srv::ChangeState_Request,
  lifecycle_msgs::srv::ChangeState_Response,
  lifecycle_msgs::srv::GetAvailableStates_Request,
  lifecycle_msgs::srv::GetAvailableStates_Response,
  lifecycle_msgs::srv::GetAvailableTransitions_Request,
  lifecycle_msgs::srv::GetAvailableTransitions_Response,
  lifecycle_msgs::srv::GetState_Request,
  lifecycle_msgs::srv::GetState_Response,
  nimbra_protocol::msg::DetectedWastes,
  nimbra_protocol::msg::ObjectInfo,
  nimbra_protocol::msg::ObjectList,
  nimbra_protocol::msg::RobotEvent,
  nimbra_protocol::msg::SemanticCluster,
  nimbra_protocol::msg::SemanticPointCloud,
  nimbra_protocol::msg::TaskCenterFsmStatus,
  nimbra_protocol::msg::Trash,
  nimbra_protocol::msg::Trashes,
  rcl_interfaces::msg::FloatingPointRange,
  rcl_interfaces::msg::IntegerRange,
  rcl_interfaces::msg::ListParametersResult,
  rcl_interfaces::msg::Log,
  rcl_interfaces::msg::Parameter,
  rcl_interfaces::msg::ParameterDescriptor,
  rcl_interfaces::msg::ParameterEvent,
  rcl_interfaces::msg::ParameterType,
  rcl_interfaces::msg::ParameterValue,
  rcl_interfaces::msg::SetParametersResult,
  rcl_interfaces::srv::DescribeParameters_Request,
  rcl_interfaces::srv::DescribeParameters_Response,
  rcl_interfaces::srv::GetParameterTypes_Request,
  rcl_interfaces::srv::GetParameterTypes_Response,
  rcl_interfaces::srv::GetParameters_Request,
  rcl_interfaces::srv::GetParameters_Response,
  rcl_interfaces::srv::ListParameters_Request,
  rcl_interfaces::srv::ListParameters_Response,
  rcl_interfaces::srv::SetParameters_Request,
  rcl_interfaces::srv::SetParameters_Response,
  rcl_interfaces::srv::SetParametersAtomically_Request,
  rcl_interfaces::srv::SetParametersAtomically_Response,
  rmw_dds_common::msg::Gid,
  rmw_dds_common::msg::NodeEntitiesInfo,
  rmw_dds_common::msg::ParticipantEntitiesInfo,
  rosgraph_msgs::msg::Clock,
  sensor_msgs::msg::CameraInfo,
  sensor_msgs::msg::CompressedImage,
  sensor_msgs::msg::Image,
  sensor_msgs::msg::PointCloud2,
  sensor_msgs::msg::PointField,
  sensor_msgs::msg::RegionOfInterest,
  std_msgs::msg::Bool,
  std_msgs::msg::ColorRGBA,
  std_msgs::msg::Header,
  std_msgs::msg::String,
  tf2_msgs::msg::TFMessage,
  visualization_msgs::msg::Marker,
  visualization_msgs::msg::MarkerArray,
  visualization_msgs::msg::MeshFile,
  visualization_msgs::msg::UVCoordinate
>;
TYPED_TEST_SUITE(CdrRoundTrip, AllMessages);

template<class T>
void expect_round_trip(rclcdds_test::FillMode mode, uint32_t seed)
{
  const auto & members = rclcdds::get_message_members<T>();
  T original;
  rclcdds_test::MessageFiller filler(seed, mode);
  filler.fill(members, &original);

  rclcdds::SerializedMessage wire;
  rclcdds::serialize_message(members, &original, wire);
  ASSERT_EQ(wire.size() % 4, 0u);

  T decoded;
  std::string error;
  ASSERT_TRUE(rclcdds::deserialize_message(members, wire.data(), wire.size(), &decoded, nullptr, &error))
    << rclcdds::dds_type_name(members) << ": " << error;

  rclcdds::SerializedMessage again;
  rclcdds::serialize_message(members, &decoded, again);
  EXPECT_EQ(rclcdds_test::bytes_of(again), rclcdds_test::bytes_of(wire))
    << rclcdds::dds_type_name(members);
  if (!filler.used_nan()) {
    EXPECT_TRUE(decoded == original) << rclcdds::dds_type_name(members);
  }
}

}  // namespace

TYPED_TEST(CdrRoundTrip, DefaultMessage)
{
  TypeParam original;
  rclcdds::SerializedMessage wire;
  rclcdds::serialize_message(rclcdds::get_message_members<TypeParam>(), &original, wire);
  TypeParam decoded;
  ASSERT_TRUE(
    rclcdds::deserialize_message(
      rclcdds::get_message_members<TypeParam>(), wire.data(), wire.size(), &decoded));
  EXPECT_TRUE(decoded == original);
}

TYPED_TEST(CdrRoundTrip, RandomContent)
{
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    expect_round_trip<TypeParam>(rclcdds_test::FillMode::Random, seed);
  }
}

TYPED_TEST(CdrRoundTrip, EdgeValues)
{
  for (uint32_t seed = 100; seed < 104; ++seed) {
    expect_round_trip<TypeParam>(rclcdds_test::FillMode::Extremes, seed);
  }
}
