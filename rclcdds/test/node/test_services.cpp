// Services and clients, topic remapping and node announcements (the parameter services are
// tested across processes in test_node_processes.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rmw_dds_common/msg/participant_entities_info.hpp>

#include <std_msgs/msg/string.hpp>

#include "node_test_fixture.hpp"
#include "rclcdds/raw_reader.hpp"

using namespace std::chrono_literals;
using rcl_interfaces::srv::GetParameters;

namespace
{

class ServiceTest : public rclcdds_test::NodeTest
{
protected:
  template<class FutureT>
  auto call(const rclcdds::Node::SharedPtr & client_node, FutureT future)
  {
    EXPECT_EQ(
      rclcdds::spin_until_future_complete(client_node, future, 5s),
      rclcdds::FutureReturnCode::SUCCESS);
    return future.get();
  }
};

TEST_F(ServiceTest, RequestsAreAnsweredInOrderAndMatchedToTheirClientOrWaitTimesOut)
{
  auto server = std::make_shared<rclcdds::Node>("adder", node_options());
  int served = 0;
  auto service = server->create_service<GetParameters>(
    "echo_names",
    [&served](
      const std::shared_ptr<GetParameters::Request> request,
      std::shared_ptr<GetParameters::Response> response) {
      ++served;
      for (const auto & name : request->names) {
        rcl_interfaces::msg::ParameterValue value;
        value.type = rcl_interfaces::msg::ParameterType::PARAMETER_STRING;
        value.string_value = name + "!";
        response->values.push_back(value);
      }
    });
  EXPECT_STREQ(service->get_service_name(), "/echo_names");
  rclcdds::executors::SingleThreadedExecutor executor(executor_options());
  executor.add_node(server);
  rclcdds_test::SpinThread spin(executor);

  auto client_node = std::make_shared<rclcdds::Node>("caller", node_options());
  auto client = client_node->create_client<GetParameters>("/echo_names");
  auto other = client_node->create_client<GetParameters>("/echo_names");
  ASSERT_TRUE(client->wait_for_service(5s));
  ASSERT_TRUE(other->wait_for_service(5s));

  auto first = std::make_shared<GetParameters::Request>();
  first->names = {"a", "b"};
  auto second = std::make_shared<GetParameters::Request>();
  second->names = {"c"};
  auto f1 = client->async_send_request(first);
  auto f2 = other->async_send_request(second);
  auto f3 = client->async_send_request(second);
  EXPECT_EQ(call(client_node, f1)->values.size(), 2u);
  EXPECT_EQ(f1.get()->values[1].string_value, "b!");
  EXPECT_EQ(call(client_node, f2)->values.at(0).string_value, "c!");
  EXPECT_EQ(call(client_node, f3)->values.at(0).string_value, "c!");
  EXPECT_EQ(served, 3);
  EXPECT_EQ(client->get_number_of_pending_requests(), 0u);

  auto lonely = client_node->create_client<GetParameters>("/nobody/get_parameters");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(lonely->wait_for_service(150ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
  EXPECT_FALSE(lonely->service_is_ready());
}

TEST_F(ServiceTest, TopicRemappingAppliesThroughEveryInterface)
{
  auto options = node_options();
  options.arguments(
    {"--ros-args", "-r", "chatter:=talk", "-r", "/talk:=/twice", "-r", "~/out:=/robot_out"});
  auto node = std::make_shared<rclcdds::Node>("remapped", options);
  rclcdds::NodeTopics & topics = *node;  // the base interface: remapping must still apply

  struct Case
  {
    std::string requested;
    std::string expected;
  };
  const std::vector<Case> cases = {
    {"chatter", "/talk"},     // rules are applied once: /talk is not mapped on to /twice
    {"/talk", "/twice"},
    {"~/out", "/robot_out"},
    {"other", "/other"},
  };
  for (const auto & c : cases) {
    EXPECT_EQ(topics.resolve_topic_name(c.requested), c.expected) << c.requested;
    auto publisher = topics.create_publisher<std_msgs::msg::String>(c.requested, rclcdds::QoS(1));
    EXPECT_STREQ(publisher->get_topic_name(), c.expected.c_str()) << c.requested;
    auto subscription = topics.create_subscription<std_msgs::msg::String>(
      c.requested, rclcdds::QoS(1), [](const std_msgs::msg::String &) {});
    EXPECT_STREQ(subscription->get_topic_name(), c.expected.c_str()) << c.requested;
    auto direct = node->create_publisher<std_msgs::msg::String>(c.requested, rclcdds::QoS(1));
    EXPECT_STREQ(direct->get_topic_name(), c.expected.c_str()) << c.requested;
  }

  rclcdds::NodeTopics plain("plain", "/robot", context_);  // no rules: names stay as expanded
  EXPECT_EQ(plain.resolve_topic_name("chatter"), "/robot/chatter");
}

TEST_F(ServiceTest, NodesAreAnnouncedOnRosDiscoveryInfo)
{
  auto options = node_options();
  options.arguments({"--ros-args", "-r", "__node:=renamed", "-r", "__ns:=/robot"});
  auto node = std::make_shared<rclcdds::Node>("announced", options);
  EXPECT_EQ(node->get_fully_qualified_name(), "/robot/renamed");
  auto publisher = node->create_publisher<std_msgs::msg::String>("status", rclcdds::QoS(1));
  EXPECT_STREQ(publisher->get_topic_name(), "/robot/status");

  rclcdds::EndpointDescription description;
  description.topic_name = "ros_discovery_info";
  description.type_name = rclcdds::dds_type_name(
    rclcdds::get_message_members<rmw_dds_common::msg::ParticipantEntitiesInfo>());
  description.qos = rclcdds::QoS(1).transient_local();
  rclcdds::RawReader reader(context_, description);

  const rclcdds::Gid writer_gid = publisher->get_gid();
  bool found = false;
  ASSERT_TRUE(
    wait_until(
      [&] {
        reader.take(
          [&](const uint8_t * data, size_t size, const rclcdds::SampleInfo &) {
            rmw_dds_common::msg::ParticipantEntitiesInfo info;
            ASSERT_TRUE(
              rclcdds::deserialize_message(
                rclcdds::get_message_members<rmw_dds_common::msg::ParticipantEntitiesInfo>(),
                data, size, &info));
            for (const auto & entry : info.node_entities_info_seq) {
              if (entry.node_name != "renamed" || entry.node_namespace != "/robot") {
                continue;
              }
              for (const auto & gid : entry.writer_gid_seq) {
                found = found || std::equal(writer_gid.begin(), writer_gid.end(), gid.data.begin());
              }
            }
          });
        return found;
      }));
}

}  // namespace
