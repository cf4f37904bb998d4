// One process over DDS: services and clients, topic remapping, node announcements,
// wait_for_message and the transform listener (the parameter and lifecycle services are tested
// across processes in test_node_processes.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <geometry_msgs/msg/twist.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rmw_dds_common/msg/participant_entities_info.hpp>
#include <std_msgs/msg/string.hpp>

#include "node_test_fixture.hpp"
#include "rclcdds/raw_reader.hpp"
#include "rclcdds/tf2/buffer.hpp"
#include "rclcdds/tf2/exceptions.hpp"
#include "rclcdds/tf2_ros/static_transform_broadcaster.hpp"
#include "rclcdds/tf2_ros/transform_broadcaster.hpp"
#include "rclcdds/tf2_ros/transform_listener.hpp"

using namespace std::chrono_literals;
using rcl_interfaces::srv::GetParameters;

namespace
{

using ServiceTest = rclcdds_test::NodeTest;

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
  const auto answer = [&](auto & future) {
      EXPECT_EQ(
        rclcdds::spin_until_future_complete(client_node, future, 5s),
        rclcdds::FutureReturnCode::SUCCESS);
      std::vector<std::string> texts;
      for (const auto & value : future.get()->values) {
        texts.push_back(value.string_value);
      }
      return texts;
    };
  EXPECT_EQ(answer(f1), (std::vector<std::string>{"a!", "b!"}));
  EXPECT_EQ(answer(f2), std::vector<std::string>{"c!"});
  EXPECT_EQ(answer(f3), std::vector<std::string>{"c!"});
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

using WaitForMessageTest = rclcdds_test::NodeTest;

TEST_F(WaitForMessageTest, ReturnsTheMessagePublishedDuringTheWaitEvenWhileTheNodeIsSpun)
{
  for (const bool spun : {false, true}) {
    SCOPED_TRACE(spun ? "node spun by an executor" : "node not spun");
    auto node = std::make_shared<rclcdds::Node>("wfm_reader", node_options());
    rclcdds::executors::SingleThreadedExecutor executor(executor_options());
    executor.add_node(node);
    // The node's own executor must not steal the message from the temporary subscription.
    std::unique_ptr<rclcdds_test::SpinThread> spin;
    if (spun) {
      spin = std::make_unique<rclcdds_test::SpinThread>(executor);
    }
    auto talker = std::make_shared<rclcdds::Node>("wfm_talker", node_options());
    const std::string topic = unique_name(spun ? "spun_topic" : "cmd_vel");
    auto publisher = talker->create_publisher<geometry_msgs::msg::Twist>(topic, rclcdds::QoS(10));
    std::atomic_bool stop{false};
    std::thread sender([&] {
        geometry_msgs::msg::Twist twist;
        twist.angular.z = spun ? -1.5 : 0.75;
        // Keeps publishing until the temporary subscription has matched and taken one.
        while (!stop) {
          publisher->publish(twist);
          std::this_thread::sleep_for(10ms);
        }
      });
    geometry_msgs::msg::Twist received;
    const bool got = rclcdds::wait_for_message(received, node, topic, 5s);
    stop = true;
    sender.join();
    ASSERT_TRUE(got);
    EXPECT_DOUBLE_EQ(received.angular.z, spun ? -1.5 : 0.75);
  }
}

TEST_F(WaitForMessageTest, TimesOutWithFalseAndShutdownEndsAnEndlessWait)
{
  auto node = std::make_shared<rclcdds::Node>("wfm_timeout", node_options());
  geometry_msgs::msg::Twist received;
  received.linear.x = 3.0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(rclcdds::wait_for_message(received, node, unique_name("silent"), 100ms));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 100ms);
  EXPECT_LT(elapsed, 2s);
  EXPECT_DOUBLE_EQ(received.linear.x, 3.0);  // untouched

  std::thread stopper([this] {
      std::this_thread::sleep_for(100ms);
      context_->shutdown("stop");
    });
  EXPECT_FALSE(rclcdds::wait_for_message(received, node, unique_name("never"), -1s));
  stopper.join();
}

geometry_msgs::msg::TransformStamped make_transform(
  const std::string & parent, const std::string & child, const rclcdds::Time & stamp, double x)
{
  geometry_msgs::msg::TransformStamped transform;
  transform.header.frame_id = parent;
  transform.header.stamp = stamp;
  transform.child_frame_id = child;
  transform.transform.translation.x = x;
  transform.transform.rotation.w = 1.0;
  return transform;
}

using TransformListenerTest = rclcdds_test::NodeTest;

TEST_F(TransformListenerTest, ListenerGetsEarlierStaticAndLaterTransformsWithoutBeingSpun)
{
  auto broadcaster_node = std::make_shared<rclcdds::Node>("tf_source", node_options());
  rclcdds::tf2_ros::StaticTransformBroadcaster static_broadcaster(broadcaster_node);
  rclcdds::tf2_ros::TransformBroadcaster broadcaster(broadcaster_node);
  const rclcdds::Time latest(0, 0, rclcdds::RCL_ROS_TIME);
  static_broadcaster.sendTransform(make_transform("base_footprint", "camera_01", latest, 0.3));
  static_broadcaster.sendTransform(make_transform("base_footprint", "camera_02", latest, -0.3));

  // Created after the static transforms were sent (transient local). The node is never spun: the
  // listener's own thread fills the buffer.
  auto node = std::make_shared<rclcdds::Node>("tf_user", node_options());
  rclcdds::tf2_ros::Buffer buffer(node->get_clock());
  rclcdds::tf2_ros::TransformListener listener(buffer, node);
  const rclcdds::Time stamp = node->now();
  std::thread late_sender([&] {
      std::this_thread::sleep_for(300ms);
      // Repeated until the listener has matched and stored it.
      for (int i = 0; i < 100 && !buffer.canTransform("odom", "base_footprint", stamp); ++i) {
        broadcaster.sendTransform(make_transform("odom", "base_footprint", stamp, 1.25));
        std::this_thread::sleep_for(20ms);
      }
    });
  const auto start = std::chrono::steady_clock::now();
  geometry_msgs::msg::TransformStamped result;
  EXPECT_NO_THROW(
    result = buffer.lookupTransform("odom", "base_footprint", stamp, rclcdds::Duration(5s)));
  const auto waited = std::chrono::steady_clock::now() - start;
  late_sender.join();
  EXPECT_DOUBLE_EQ(result.transform.translation.x, 1.25);
  EXPECT_GE(waited, 250ms);
  EXPECT_LT(waited, 5s);

  auto one = buffer.lookupTransform("base_footprint", "camera_01", latest, rclcdds::Duration(5s));
  auto two = buffer.lookupTransform("base_footprint", "camera_02", latest, rclcdds::Duration(5s));
  EXPECT_DOUBLE_EQ(one.transform.translation.x, 0.3);
  EXPECT_DOUBLE_EQ(two.transform.translation.x, -0.3);
  auto between = buffer.lookupTransform("camera_01", "camera_02", latest, rclcdds::Duration(1s));
  EXPECT_NEAR(between.transform.translation.x, -0.6, 1e-12);
}

}  // namespace
