// Text form of run-time typed messages (rclcdds_cli's echo and pub) and type lookup.
#include <gtest/gtest.h>

#include <geometry_msgs/msg/twist.hpp>
#include <std_msgs/msg/header.hpp>
#include <std_msgs/msg/string.hpp>

#include "dynamic_message.hpp"
#include "message_text.hpp"

namespace
{

using rclcdds_cli::message_from_yaml;
using rclcdds_cli::message_to_yaml;

TEST(MessageText, TypeLookupAndDdsTypeNames)
{
  const auto & members = rclcdds_cli::load_message_members("std_msgs/msg/String");
  EXPECT_EQ(&members, &rclcdds::get_message_members<std_msgs::msg::String>());
  EXPECT_EQ(&rclcdds_cli::load_message_members("std_msgs/String"), &members);
  EXPECT_THROW(rclcdds_cli::load_message_members("std_msgs/msg/NoSuchType"), std::runtime_error);
  EXPECT_THROW(rclcdds_cli::load_message_members("no_such_pkg/msg/X"), std::runtime_error);
  EXPECT_THROW(rclcdds_cli::load_message_members("String"), std::runtime_error);

  EXPECT_EQ(rclcdds_cli::ros_type_from_dds("sensor_msgs::msg::dds_::Image_"), "sensor_msgs/msg/Image");
  EXPECT_EQ(
    rclcdds_cli::ros_type_from_dds("rcl_interfaces::srv::dds_::GetParameters_Request_"),
    "rcl_interfaces/srv/GetParameters_Request");
  EXPECT_EQ(rclcdds_cli::ros_type_from_dds("DDS::ParticipantBuiltinTopicData"), "");
}

TEST(MessageText, PrintsNestedFieldsAsBlockYamlAndRefusesIntegersOutOfRange)
{
  std_msgs::msg::Header header;
  header.stamp.sec = 12;
  header.stamp.nanosec = 5;
  header.frame_id = "base_footprint";
  const auto & members = rclcdds::get_message_members<std_msgs::msg::Header>();
  EXPECT_EQ(
    message_to_yaml(members, &header, {}),
    "stamp:\n  sec: 12\n  nanosec: 5\nframe_id: base_footprint\n");
  header.frame_id = "";
  EXPECT_NE(message_to_yaml(members, &header, {}).find("frame_id: ''"), std::string::npos);
  header.frame_id = "a: b";
  EXPECT_NE(message_to_yaml(members, &header, {}).find("frame_id: 'a: b'"), std::string::npos);

  // Integers out of their field's range are refused.
  std::string error;
  EXPECT_FALSE(message_from_yaml(members, "{stamp: {nanosec: -1}}", &header, error));
  EXPECT_FALSE(message_from_yaml(members, "{stamp: {sec: 3000000000}}", &header, error));
  EXPECT_TRUE(message_from_yaml(members, "{stamp: {sec: -5}}", &header, error)) << error;
  EXPECT_EQ(header.stamp.sec, -5);
}

TEST(MessageText, ParsedTextRoundTripsThroughPrintingBadTextIsRefusedWithTheFieldNamed)
{
  geometry_msgs::msg::Twist twist;
  std::string error;
  const auto & members = rclcdds::get_message_members<geometry_msgs::msg::Twist>();
  ASSERT_TRUE(message_from_yaml(members, "{linear: {x: 0.5, y: -2}, angular: {z: 1e-3}}", &twist,
    error)) << error;
  const std::string text = message_to_yaml(members, &twist, {});
  EXPECT_EQ(
    text, "linear:\n  x: 0.5\n  y: -2.0\n  z: 0.0\nangular:\n  x: 0.0\n  y: 0.0\n  z: 0.001\n");

  geometry_msgs::msg::Twist again;
  ASSERT_TRUE(message_from_yaml(members, text, &again, error)) << error;
  EXPECT_EQ(again, twist);

  const std::pair<const char *, const char *> cases[] = {  // {bad text, part of the error}
    {"{linear: 3}", "'linear': expected a mapping"},
    {"{linear: {w: 1}}", "'linear.w': no such field"},
    {"{linear: {x: abc}}", "'linear.x'"},
    {"{linear: {x: [1, 2]}}", "'linear.x'"},
    {"{linear: {x: 1", "cannot parse"},
    {"[1, 2]", "expected a mapping"},
  };
  for (const auto & [bad, expected_error] : cases) {
    std::string refusal;
    EXPECT_FALSE(message_from_yaml(members, bad, &again, refusal)) << bad;
    EXPECT_NE(refusal.find(expected_error), std::string::npos) << bad << " -> " << refusal;
  }
}

TEST(MessageText, LongSequencesAreCutUnlessAskedForInFull)
{
  rclcdds_cli::DynamicMessage image(rclcdds_cli::load_message_members("sensor_msgs/msg/Image"));
  std::string error;
  std::string data = "{data: [";
  for (int i = 0; i < 200; ++i) {
    data += std::to_string(i % 256) + (i + 1 < 200 ? ", " : "]}");
  }
  ASSERT_TRUE(message_from_yaml(image.members(), data, image.data(), error)) << error;
  const std::string cut = message_to_yaml(image.members(), image.data(), {});
  EXPECT_NE(cut.find("- 127\n- '...'"), std::string::npos);
  rclcdds_cli::PrintOptions full;
  full.max_array_length = 0;
  const std::string whole = message_to_yaml(image.members(), image.data(), full);
  EXPECT_NE(whole.find("- 199\n"), std::string::npos);
}

}  // namespace
