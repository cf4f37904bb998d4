// Two processes: the parameter and lifecycle services of a peer process (also against hostile
// lifecycle requests), its /parameter_events and transition events, and rclcdds_cli against the
// same running peer (run inside scripts/netns.sh).
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <string>

#include <geometry_msgs/msg/twist.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/list_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters_atomically.hpp>
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
    std::shared_ptr<typename ServiceT::Request> request = nullptr)
  {
    auto client = node->create_client<ServiceT>(service);
    EXPECT_TRUE(client->wait_for_service(10s)) << service;
    auto future = client->async_send_request(
      request ? request : std::make_shared<typename ServiceT::Request>());
    EXPECT_EQ(
      rclcdds::spin_until_future_complete(node, future, 10s), rclcdds::FutureReturnCode::SUCCESS);
    return future.get();
  }

  /// Spins `node` until `condition` holds (at most 5 s).
  bool spin_until(const rclcdds::Node::SharedPtr & node, const std::function<bool()> & condition)
  {
    rclcdds::executors::SingleThreadedExecutor executor(executor_options());
    executor.add_node(node);
    return wait_until([&] {executor.spin_some(); return condition();});
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

template<typename T>
rcl_interfaces::msg::Parameter param(const std::string & name, T value)
{
  return rclcdds::Parameter(name, value).to_parameter_msg();
}

TEST_F(NodeProcessesTest, ParameterPeerThroughItsServicesAndTheCli)
{
  using rcl_interfaces::srv::GetParameters;
  using rcl_interfaces::srv::SetParameters;
  using rcl_interfaces::srv::SetParametersAtomically;
  const std::string name = unique_name("param_peer");
  const std::string fqn = "/" + name;
  ChildProcess peer({NODE_PEER, "param", name});
  ASSERT_TRUE(peer.wait_for_line("ready", 10s)) << peer.output();
  auto options = node_options();
  options.start_parameter_event_publisher(false);  // the publisher count below is the peer's
  auto node = std::make_shared<rclcdds::Node>("param_caller", options);
  std::vector<rcl_interfaces::msg::ParameterEvent> events;
  auto events_sub = node->create_subscription<rcl_interfaces::msg::ParameterEvent>(
    "/parameter_events", rclcdds::ParameterEventsQoS(),
    [&events](const rcl_interfaces::msg::ParameterEvent & event) {events.push_back(event);});
  ASSERT_TRUE(wait_until([&] {return events_sub->get_publisher_count() >= 1;}));

  // Each parameter of a set request is applied or refused on its own.
  auto set = std::make_shared<SetParameters::Request>();
  set->parameters = {param("gain", 4.25), param("limit", -3), param("limit", 2.5),
    param("undeclared", 1)};
  const auto response = call<SetParameters>(node, fqn + "/set_parameters", set);
  std::vector<std::string> outcomes;  // "set" or the refusal's reason
  for (const auto & result : response->results) {
    outcomes.push_back(result.successful ? "set" : result.reason);
  }
  EXPECT_EQ(outcomes, (std::vector<std::string>{"set", "limit must not be negative",
    "Wrong parameter type, parameter {limit} is of type {integer}, setting it to {double} is not "
    "allowed.", "One or more parameters were not declared before setting"}));

  // Atomic: one refusal keeps every value unchanged.
  auto atomic = std::make_shared<SetParametersAtomically::Request>();
  atomic->parameters = {param("gain", 9.0), param("limit", -1)};
  EXPECT_FALSE(
    call<SetParametersAtomically>(node, fqn + "/set_parameters_atomically", atomic)
    ->result.successful);

  // (A get naming an undeclared parameter: ParameterRequests in test_hostile_input.cpp.)
  auto get = std::make_shared<GetParameters::Request>();
  get->names = {"gain", "limit", "mode"};
  EXPECT_EQ(
    call<GetParameters>(node, fqn + "/get_parameters", get)->values,
    (std::vector<rcl_interfaces::msg::ParameterValue>{rclcdds::ParameterValue(4.25).to_value_msg(),
      rclcdds::ParameterValue(10).to_value_msg(), rclcdds::ParameterValue("auto").to_value_msg()}));

  EXPECT_EQ(
    call<rcl_interfaces::srv::ListParameters>(node, fqn + "/list_parameters")->result.names,
    (std::vector<std::string>{"gain", "limit", "mode", "use_sim_time"}));

  // The accepted change, and only it, was announced on /parameter_events.
  const auto gain_event = [&](const rcl_interfaces::msg::ParameterEvent & event) {
      return event.node == fqn && event.changed_parameters.size() == 1 &&
             event.changed_parameters[0].name == "gain";
    };
  ASSERT_TRUE(spin_until(node, [&] {return std::any_of(events.begin(), events.end(), gain_event);}));
  EXPECT_EQ(std::count_if(events.begin(), events.end(), gain_event), 1);
  EXPECT_EQ(std::find_if(events.begin(), events.end(), gain_event)->changed_parameters[0]
    .value.double_value, 4.25);

  // (node list naming the peer: test_hostile_peers.cpp.)
  const std::string topics = cli({"topic", "list", "-t"});
  EXPECT_NE(topics.find("/chatter [std_msgs/msg/String]"), std::string::npos) << topics;
  const std::string echo = cli({"topic", "echo", "/chatter", "--count", "2", "--timeout", "10"});
  EXPECT_NE(echo.find("data: hello "), std::string::npos) << echo;
  EXPECT_NE(echo.find("---"), std::string::npos) << echo;
  EXPECT_NE(
    cli({"param", "set", name, "gain", "7.5"}).find("Set parameter successful"), std::string::npos);
  EXPECT_NE(cli({"param", "get", name, "gain"}).find("Double value is: 7.5"), std::string::npos);
  const std::string refused = cli({"param", "set", name, "limit", "-1"}, 1);
  EXPECT_NE(refused.find("Setting parameter failed: limit must not be negative"), std::string::npos)
    << refused;
  const std::string dump = cli({"param", "dump", name});
  EXPECT_NE(dump.find("ros__parameters:"), std::string::npos) << dump;
  EXPECT_NE(dump.find("    mode: 'auto'"), std::string::npos) << dump;

  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0) << peer.output();
}

TEST_F(NodeProcessesTest, LifecyclePeerThroughItsServicesAndTheCli)
{
  using lifecycle_msgs::msg::State;
  using lifecycle_msgs::msg::Transition;
  using lifecycle_msgs::srv::ChangeState;
  using lifecycle_msgs::srv::GetState;
  const std::string name = unique_name("lifecycle_peer");
  const std::string fqn = "/" + name;
  ChildProcess peer({NODE_PEER, "lifecycle", name});
  ASSERT_TRUE(peer.wait_for_line("ready", 10s)) << peer.output();
  auto node = std::make_shared<rclcdds::Node>("lifecycle_caller", node_options());
  std::vector<lifecycle_msgs::msg::TransitionEvent> events;
  auto event_sub = node->create_subscription<lifecycle_msgs::msg::TransitionEvent>(
    fqn + "/transition_event", rclcdds::QoS(10),
    [&events](const lifecycle_msgs::msg::TransitionEvent & event) {events.push_back(event);});
  ASSERT_TRUE(wait_until([&] {return event_sub->get_publisher_count() == 1;}));
  const auto change = [&](uint8_t id, const char * label) {
      auto request = std::make_shared<ChangeState::Request>();
      request->transition.id = id;
      request->transition.label = label;
      return call<ChangeState>(node, fqn + "/change_state", request)->success;
    };

  // A hostile caller's unknown ids and control-character labels are refused; each kind is logged
  // at most once in the rate-limit period (the log is checked at the end).
  for (int i = 0; i < 20; ++i) {
    EXPECT_FALSE(change(200, i % 2 == 0 ? "" : "\x1b[2J\nfake line")) << i;
  }

  EXPECT_NE(
    cli({"lifecycle", "set", name, "configure"}).find("Transitioning successful"),
    std::string::npos);
  EXPECT_NE(cli({"lifecycle", "get", name}).find("inactive [2]"), std::string::npos);
  EXPECT_TRUE(change(0, "activate"));  // by label
  const auto state = call<GetState>(node, fqn + "/get_state")->current_state;
  EXPECT_EQ(state.id, State::PRIMARY_STATE_ACTIVE);
  EXPECT_EQ(state.label, "active");
  // Ticks once active (that it starts inactive: LifecyclePublisher.DropsWhileInactive...).
  std_msgs::msg::String tick;
  ASSERT_TRUE(rclcdds::wait_for_message(tick, node, "/lc_chatter", 5s));
  EXPECT_EQ(tick.data.rfind("tick ", 0), 0u);

  const auto available = call<lifecycle_msgs::srv::GetAvailableTransitions>(
    node, fqn + "/get_available_transitions");
  std::vector<std::string> labels;
  for (const auto & description : available->available_transitions) {
    labels.push_back(description.transition.label);
  }
  EXPECT_EQ(labels, (std::vector<std::string>{"deactivate", "shutdown"}));
  EXPECT_TRUE(change(Transition::TRANSITION_DEACTIVATE, ""));  // by id
  EXPECT_FALSE(rclcdds::wait_for_message(tick, node, "/lc_chatter", 300ms));  // publisher gated
  EXPECT_NE(
    cli({"lifecycle", "set", name, "cleanup"}).find("Transitioning successful"), std::string::npos);

  // Two events per transition: into the transition state, then out of it.
  ASSERT_TRUE(spin_until(node, [&] {return events.size() >= 8;}));
  const std::vector<uint8_t> goals = {State::TRANSITION_STATE_CONFIGURING,
    State::PRIMARY_STATE_INACTIVE, State::TRANSITION_STATE_ACTIVATING, State::PRIMARY_STATE_ACTIVE,
    State::TRANSITION_STATE_DEACTIVATING, State::PRIMARY_STATE_INACTIVE,
    State::TRANSITION_STATE_CLEANINGUP, State::PRIMARY_STATE_UNCONFIGURED};
  for (size_t i = 0; i < goals.size(); ++i) {
    EXPECT_EQ(events.at(i).goal_state.id, goals[i]) << "event " << i;
  }

  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0) << peer.output();
  EXPECT_EQ(peer.lines_starting_with("on_"), (std::vector<std::string>{"on_configure",
    "on_activate", "on_deactivate", "on_cleanup"})) << peer.output();
  EXPECT_EQ(peer.output().find("\x1b[2J"), std::string::npos) << "raw control characters logged";
  const auto lines = peer.lines_starting_with("");
  const auto refusals = std::count_if(lines.begin(), lines.end(), [](const std::string & line) {
      return line.find("Unable to start transition 200") != std::string::npos ||
             line.find("fake line") != std::string::npos;
    });
  EXPECT_GE(refusals, 1) << peer.output();
  EXPECT_LE(refusals, 2) << peer.output();
}

TEST_F(NodeProcessesTest, CliPublishesATypedMessage)
{
  auto node = std::make_shared<rclcdds::Node>("pub_listener", node_options());
  const std::string topic = "/" + unique_name("cli_pub");
  ChildProcess pub({RCLCDDS_CLI, "topic", "pub", topic, "geometry_msgs/msg/Twist",
      "{linear: {x: 0.5}, angular: {z: -1.0}}", "--times", "20", "--rate", "20"});
  geometry_msgs::msg::Twist twist;
  ASSERT_TRUE(rclcdds::wait_for_message(twist, node, topic, 20s)) << pub.output();
  EXPECT_DOUBLE_EQ(twist.linear.x, 0.5);
  EXPECT_DOUBLE_EQ(twist.angular.z, -1.0);
  EXPECT_EQ(pub.wait(30s), 0) << pub.output();

  const std::string bad = cli({"topic", "pub", topic, "geometry_msgs/msg/Twist", "{linear: 3}",
      "--once"}, 1);
  EXPECT_NE(bad.find("'linear': expected a mapping"), std::string::npos) << bad;
}

}  // namespace
