// LifecycleNode: callbacks, lifecycle publishers, transition events and the lifecycle services.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include <std_msgs/msg/string.hpp>

#include "node_test_fixture.hpp"
#include "rclcdds/lifecycle_node.hpp"

using namespace std::chrono_literals;
using lifecycle_msgs::msg::State;
using lifecycle_msgs::msg::Transition;
using rclcdds_lifecycle::LifecycleNode;

namespace
{

/// Records its callbacks; configure fails while `refuse_configure` is set.
class RecordingNode : public LifecycleNode
{
public:
  explicit RecordingNode(const rclcdds::NodeOptions & options)
  : LifecycleNode("recording", options) {}

  CallbackReturn on_configure(const rclcdds_lifecycle::State &) override
  {
    calls.push_back("configure");
    return refuse_configure ? CallbackReturn::FAILURE : CallbackReturn::SUCCESS;
  }
  CallbackReturn on_activate(const rclcdds_lifecycle::State &) override
  {
    calls.push_back("activate");
    return CallbackReturn::SUCCESS;
  }
  CallbackReturn on_deactivate(const rclcdds_lifecycle::State &) override
  {
    calls.push_back("deactivate");
    return CallbackReturn::SUCCESS;
  }

  std::vector<std::string> calls;
  bool refuse_configure{false};
};

class LifecycleNodeTest : public rclcdds_test::NodeTest
{
};

TEST_F(LifecycleNodeTest, TransitionsRunTheCallbacksInOrder)
{
  auto node = std::make_shared<RecordingNode>(node_options());
  EXPECT_EQ(node->get_current_state().id(), State::PRIMARY_STATE_UNCONFIGURED);
  node->refuse_configure = true;
  EXPECT_EQ(node->configure().id(), State::PRIMARY_STATE_UNCONFIGURED);
  node->refuse_configure = false;
  EXPECT_EQ(node->configure().id(), State::PRIMARY_STATE_INACTIVE);
  EXPECT_EQ(node->activate().id(), State::PRIMARY_STATE_ACTIVE);
  EXPECT_EQ(node->deactivate().id(), State::PRIMARY_STATE_INACTIVE);
  EXPECT_EQ(
    node->calls, (std::vector<std::string>{"configure", "configure", "activate", "deactivate"}));
  EXPECT_EQ(node->activate().id(), State::PRIMARY_STATE_ACTIVE);
  EXPECT_EQ(node->shutdown().id(), State::PRIMARY_STATE_FINALIZED);
}

TEST_F(LifecycleNodeTest, ExceptionInConfigureIsAnErrorOfTheTransition)
{
  auto node = std::make_shared<LifecycleNode>("throwing", node_options());
  node->register_on_configure(
    [raw = node.get()](const rclcdds_lifecycle::State &) {
      int64_t executors = 0;
      raw->get_parameter("executors", executors);
      return LifecycleNode::CallbackReturn::SUCCESS;
    });
  node->declare_parameter("executors", rclcdds::ParameterValue(std::string("four")));
  LifecycleNode::CallbackReturn code = LifecycleNode::CallbackReturn::SUCCESS;
  // ERROR runs on_error (default: success) and ends in unconfigured.
  EXPECT_EQ(node->configure(code).id(), State::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_EQ(code, LifecycleNode::CallbackReturn::ERROR);
}

TEST_F(LifecycleNodeTest, LifecyclePublisherDropsWhileInactive)
{
  auto node = std::make_shared<LifecycleNode>("lc_pub", node_options());
  const std::string topic = unique_name("lc_topic");
  auto publisher = node->create_publisher<std_msgs::msg::String>(topic, rclcdds::QoS(10));
  auto listener = std::make_shared<rclcdds::Node>("lc_listener", node_options());
  std::vector<std::string> received;
  std::mutex mutex;
  auto subscription = listener->create_subscription<std_msgs::msg::String>(
    topic, rclcdds::QoS(10), [&](const std_msgs::msg::String & msg) {
      std::lock_guard<std::mutex> lock(mutex);
      received.push_back(msg.data);
    });
  ASSERT_TRUE(wait_until([&] {return publisher->get_subscription_count() == 1;}));
  rclcdds::executors::SingleThreadedExecutor executor(executor_options());
  executor.add_node(listener);
  rclcdds_test::SpinThread spin(executor);

  std_msgs::msg::String msg;
  msg.data = "while unconfigured";
  publisher->publish(msg);
  node->configure();
  msg.data = "while inactive";
  publisher->publish(msg);
  EXPECT_FALSE(publisher->is_activated());
  node->activate();
  EXPECT_TRUE(publisher->is_activated());
  msg.data = "while active";
  publisher->publish(msg);
  ASSERT_TRUE(wait_until([&] {std::lock_guard<std::mutex> lock(mutex); return !received.empty();}));
  node->deactivate();
  msg.data = "after deactivate";
  publisher->publish(msg);
  std::this_thread::sleep_for(200ms);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(received, std::vector<std::string>{"while active"});
  EXPECT_EQ(publisher->dropped_count(), 3u);
}

TEST_F(LifecycleNodeTest, ServicesChangeAndReportTheState)
{
  auto node = std::make_shared<LifecycleNode>("lc_services", node_options());
  auto events = std::make_shared<std::vector<lifecycle_msgs::msg::TransitionEvent>>();
  auto client_node = std::make_shared<rclcdds::Node>("lc_client", node_options());
  auto event_sub = client_node->create_subscription<lifecycle_msgs::msg::TransitionEvent>(
    "/lc_services/transition_event", rclcdds::QoS(10),
    [events](const lifecycle_msgs::msg::TransitionEvent & event) {events->push_back(event);});
  auto change = client_node->create_client<lifecycle_msgs::srv::ChangeState>(
    "/lc_services/change_state");
  auto get_state = client_node->create_client<lifecycle_msgs::srv::GetState>(
    "/lc_services/get_state");
  auto transitions = client_node->create_client<lifecycle_msgs::srv::GetAvailableTransitions>(
    "/lc_services/get_available_transitions");
  rclcdds::executors::SingleThreadedExecutor server(executor_options());
  server.add_node(node);
  rclcdds_test::SpinThread spin(server);
  ASSERT_TRUE(change->wait_for_service(5s));
  ASSERT_TRUE(get_state->wait_for_service(5s));
  ASSERT_TRUE(transitions->wait_for_service(5s));

  auto request = std::make_shared<lifecycle_msgs::srv::ChangeState::Request>();
  request->transition.id = Transition::TRANSITION_CONFIGURE;
  auto future = change->async_send_request(request);
  ASSERT_EQ(
    rclcdds::spin_until_future_complete(client_node, future, 5s), rclcdds::FutureReturnCode::SUCCESS);
  EXPECT_TRUE(future.get()->success);
  EXPECT_EQ(node->get_current_state().id(), State::PRIMARY_STATE_INACTIVE);

  auto by_label = std::make_shared<lifecycle_msgs::srv::ChangeState::Request>();
  by_label->transition.label = "activate";
  future = change->async_send_request(by_label);
  ASSERT_EQ(
    rclcdds::spin_until_future_complete(client_node, future, 5s), rclcdds::FutureReturnCode::SUCCESS);
  EXPECT_TRUE(future.get()->success);

  auto state_future = get_state->async_send_request(
    std::make_shared<lifecycle_msgs::srv::GetState::Request>());
  ASSERT_EQ(
    rclcdds::spin_until_future_complete(client_node, state_future, 5s),
    rclcdds::FutureReturnCode::SUCCESS);
  EXPECT_EQ(state_future.get()->current_state.id, State::PRIMARY_STATE_ACTIVE);
  EXPECT_EQ(state_future.get()->current_state.label, "active");

  // Not available from active: refused, state unchanged.
  auto refused = std::make_shared<lifecycle_msgs::srv::ChangeState::Request>();
  refused->transition.id = Transition::TRANSITION_CLEANUP;
  future = change->async_send_request(refused);
  ASSERT_EQ(
    rclcdds::spin_until_future_complete(client_node, future, 5s), rclcdds::FutureReturnCode::SUCCESS);
  EXPECT_FALSE(future.get()->success);
  EXPECT_EQ(node->get_current_state().id(), State::PRIMARY_STATE_ACTIVE);

  auto available = transitions->async_send_request(
    std::make_shared<lifecycle_msgs::srv::GetAvailableTransitions::Request>());
  ASSERT_EQ(
    rclcdds::spin_until_future_complete(client_node, available, 5s),
    rclcdds::FutureReturnCode::SUCCESS);
  std::vector<std::string> labels;
  for (const auto & description : available.get()->available_transitions) {
    labels.push_back(description.transition.label);
  }
  EXPECT_NE(std::find(labels.begin(), labels.end(), "deactivate"), labels.end());
  EXPECT_EQ(std::find(labels.begin(), labels.end(), "configure"), labels.end());

  // configure and activate: two events each (into the transition state, out of it).
  ASSERT_TRUE(
    wait_until(
      [&] {
        rclcdds::executors::SingleThreadedExecutor local(executor_options());
        local.add_node(client_node);
        local.spin_some();
        return events->size() >= 4;
      }));
  EXPECT_EQ((*events)[0].goal_state.id, State::TRANSITION_STATE_CONFIGURING);
  EXPECT_EQ((*events)[1].goal_state.id, State::PRIMARY_STATE_INACTIVE);
  EXPECT_EQ((*events)[3].goal_state.id, State::PRIMARY_STATE_ACTIVE);
}

}  // namespace
