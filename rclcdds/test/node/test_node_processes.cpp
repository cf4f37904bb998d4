// Two processes: parameter and lifecycle services across processes, and rclcdds_cli against a
// running node (run inside scripts/netns.sh).
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include <geometry_msgs/msg/twist.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <std_msgs/msg/string.hpp>

#include "../transport/child_process.hpp"
#include "node_test_fixture.hpp"
#include "rclcdds/lifecycle_node.hpp"

using namespace std::chrono_literals;
using rclcdds_test::ChildProcess;

namespace
{

class NodeProcessesTest : public rclcdds_test::NodeTest
{
protected:
  template<class ServiceT>
  std::shared_ptr<typename ServiceT::Response> call(
    const rclcdds::Node::SharedPtr & node, const std::string & service,
    std::shared_ptr<typename ServiceT::Request> request)
  {
    auto client = node->create_client<ServiceT>(service);
    EXPECT_TRUE(client->wait_for_service(10s)) << service;
    auto future = client->async_send_request(request);
    EXPECT_EQ(
      rclcdds::spin_until_future_complete(node, future, 10s), rclcdds::FutureReturnCode::SUCCESS);
    return future.get();
  }

  /// Runs rclcdds_cli to completion and returns its output.
  static std::string cli(const std::vector<std::string> & words, int expected_code = 0)
  {
    std::vector<std::string> argv{RCLCDDS_CLI};
    argv.insert(argv.end(), words.begin(), words.end());
    ChildProcess process(argv);
    EXPECT_EQ(process.wait(30s), expected_code) << process.output();
    return process.output();
  }
};

TEST_F(NodeProcessesTest, ParametersThroughTheServicesOfAnotherProcess)
{
  const std::string name = unique_name("param_peer");
  ChildProcess peer({NODE_PEER, "param", name});
  ASSERT_TRUE(peer.wait_for_line("ready", 10s)) << peer.output();
  auto node = std::make_shared<rclcdds::Node>("param_caller", node_options());
  const std::string fqn = "/" + name;

  auto accepted = std::make_shared<rcl_interfaces::srv::SetParameters::Request>();
  accepted->parameters.push_back(rclcdds::Parameter("gain", 4.25).to_parameter_msg());
  auto results = call<rcl_interfaces::srv::SetParameters>(node, fqn + "/set_parameters", accepted);
  ASSERT_EQ(results->results.size(), 1u);
  EXPECT_TRUE(results->results[0].successful);

  auto rejected = std::make_shared<rcl_interfaces::srv::SetParameters::Request>();
  rejected->parameters.push_back(rclcdds::Parameter("limit", -3).to_parameter_msg());
  results = call<rcl_interfaces::srv::SetParameters>(node, fqn + "/set_parameters", rejected);
  ASSERT_EQ(results->results.size(), 1u);
  EXPECT_FALSE(results->results[0].successful);
  EXPECT_EQ(results->results[0].reason, "limit must not be negative");

  auto wrong_type = std::make_shared<rcl_interfaces::srv::SetParameters::Request>();
  wrong_type->parameters.push_back(rclcdds::Parameter("limit", 2.5).to_parameter_msg());
  results = call<rcl_interfaces::srv::SetParameters>(node, fqn + "/set_parameters", wrong_type);
  EXPECT_FALSE(results->results.at(0).successful);

  auto get = std::make_shared<rcl_interfaces::srv::GetParameters::Request>();
  get->names = {"gain", "limit", "mode", "missing"};
  auto values = call<rcl_interfaces::srv::GetParameters>(node, fqn + "/get_parameters", get);
  // An undeclared name makes the whole answer empty, as rclcpp answers.
  EXPECT_TRUE(values->values.empty());
  get->names = {"gain", "limit", "mode"};
  values = call<rcl_interfaces::srv::GetParameters>(node, fqn + "/get_parameters", get);
  ASSERT_EQ(values->values.size(), 3u);
  EXPECT_DOUBLE_EQ(values->values[0].double_value, 4.25);
  EXPECT_EQ(values->values[1].integer_value, 10);
  EXPECT_EQ(values->values[2].string_value, "auto");

  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0) << peer.output();
}

TEST_F(NodeProcessesTest, LifecycleTransitionsThroughTheServiceOfAnotherProcess)
{
  const std::string name = unique_name("lifecycle_peer");
  ChildProcess peer({NODE_PEER, "lifecycle", name});
  ASSERT_TRUE(peer.wait_for_line("ready", 10s)) << peer.output();
  auto node = std::make_shared<rclcdds::Node>("lifecycle_caller", node_options());
  const std::string fqn = "/" + name;
  using lifecycle_msgs::msg::State;
  using lifecycle_msgs::srv::ChangeState;
  using lifecycle_msgs::srv::GetState;

  auto state = call<GetState>(node, fqn + "/get_state", std::make_shared<GetState::Request>());
  EXPECT_EQ(state->current_state.id, State::PRIMARY_STATE_UNCONFIGURED);

  // Nothing is published while the peer is not active.
  std_msgs::msg::String tick;
  EXPECT_FALSE(rclcdds::wait_for_message(tick, node, "/lc_chatter", 500ms));

  for (const char * label : {"configure", "activate"}) {
    auto request = std::make_shared<ChangeState::Request>();
    request->transition.label = label;
    EXPECT_TRUE(call<ChangeState>(node, fqn + "/change_state", request)->success) << label;
  }
  ASSERT_TRUE(peer.wait_for_line("on_activate", 5s)) << peer.output();
  state = call<GetState>(node, fqn + "/get_state", std::make_shared<GetState::Request>());
  EXPECT_EQ(state->current_state.id, State::PRIMARY_STATE_ACTIVE);
  ASSERT_TRUE(rclcdds::wait_for_message(tick, node, "/lc_chatter", 5s));
  EXPECT_EQ(tick.data.rfind("tick ", 0), 0u);

  auto not_available = std::make_shared<ChangeState::Request>();
  not_available->transition.id = lifecycle_msgs::msg::Transition::TRANSITION_CONFIGURE;
  EXPECT_FALSE(call<ChangeState>(node, fqn + "/change_state", not_available)->success);

  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0) << peer.output();
  EXPECT_EQ(peer.lines_starting_with("on_").size(), 2u) << peer.output();
}

TEST_F(NodeProcessesTest, CliAgainstARunningNode)
{
  const std::string name = unique_name("cli_peer");
  ChildProcess peer({NODE_PEER, "param", name});
  ASSERT_TRUE(peer.wait_for_line("ready", 10s)) << peer.output();

  const std::string nodes = cli({"node", "list"});
  EXPECT_NE(nodes.find("/" + name + "\n"), std::string::npos) << nodes;

  const std::string topics = cli({"topic", "list", "-t"});
  EXPECT_NE(topics.find("/chatter [std_msgs/msg/String]"), std::string::npos) << topics;

  const std::string echo = cli({"topic", "echo", "/chatter", "--count", "2", "--timeout", "10"});
  EXPECT_NE(echo.find("data: hello "), std::string::npos) << echo;
  EXPECT_NE(echo.find("---"), std::string::npos) << echo;

  EXPECT_NE(
    cli({"param", "set", name, "gain", "7.5"}).find("Set parameter successful"), std::string::npos);
  EXPECT_NE(
    cli({"param", "get", name, "gain"}).find("Double value is: 7.5"), std::string::npos);
  const std::string refused = cli({"param", "set", name, "limit", "-1"}, 1);
  EXPECT_NE(refused.find("Setting parameter failed: limit must not be negative"), std::string::npos)
    << refused;
  const std::string dump = cli({"param", "dump", name});
  EXPECT_NE(dump.find("ros__parameters:"), std::string::npos) << dump;
  EXPECT_NE(dump.find("    mode: 'auto'"), std::string::npos) << dump;

  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0) << peer.output();
}

TEST_F(NodeProcessesTest, CliPublishesAndDrivesTheLifecycle)
{
  const std::string name = unique_name("cli_lifecycle");
  ChildProcess peer({NODE_PEER, "lifecycle", name});
  ASSERT_TRUE(peer.wait_for_line("ready", 10s)) << peer.output();
  EXPECT_NE(cli({"lifecycle", "get", name}).find("unconfigured [1]"), std::string::npos);
  EXPECT_NE(
    cli({"lifecycle", "set", name, "configure"}).find("Transitioning successful"),
    std::string::npos);
  EXPECT_NE(cli({"lifecycle", "get", name}).find("inactive [2]"), std::string::npos);
  EXPECT_NE(
    cli({"lifecycle", "set", name, "cleanup"}).find("Transitioning successful"), std::string::npos);
  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0) << peer.output();

  // topic pub: one message, received here.
  auto node = std::make_shared<rclcdds::Node>("pub_listener", node_options());
  const std::string topic = "/" + unique_name("cli_pub");
  std::thread publisher([&topic] {
      ChildProcess pub({RCLCDDS_CLI, "topic", "pub", topic, "geometry_msgs/msg/Twist",
          "{linear: {x: 0.5}, angular: {z: -1.0}}", "--times", "20", "--rate", "20"});
      pub.wait(30s);
    });
  geometry_msgs::msg::Twist twist;
  const bool got = rclcdds::wait_for_message(twist, node, topic, 20s);
  publisher.join();
  ASSERT_TRUE(got);
  EXPECT_DOUBLE_EQ(twist.linear.x, 0.5);
  EXPECT_DOUBLE_EQ(twist.angular.z, -1.0);

  const std::string bad = cli({"topic", "pub", topic, "geometry_msgs/msg/Twist", "{linear: 3}",
      "--once"}, 1);
  EXPECT_NE(bad.find("'linear': expected a mapping"), std::string::npos) << bad;
}

}  // namespace
