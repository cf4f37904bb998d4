// One process over DDS: the multi-threaded executor (callback-group exclusion, parallelism),
// timers, services and clients, topic remapping, node announcements, wait_for_message and the
// transform listener (the parameter and lifecycle services are tested across processes in
// test_node_processes.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
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
#include "rclcdds/tf2_ros/static_transform_broadcaster.hpp"
#include "rclcdds/tf2_ros/transform_broadcaster.hpp"
#include "rclcdds/tf2_ros/transform_listener.hpp"

using namespace std::chrono_literals;
using rcl_interfaces::srv::GetParameters;

namespace
{

/// Tracks how many callbacks run at once.
struct ConcurrencyProbe
{
  std::atomic<int> running{0};
  std::atomic<int> max_running{0};
  std::atomic<int> calls{0};

  void enter_and_work(std::chrono::milliseconds work)
  {
    const int now = ++running;
    int seen = max_running.load();
    while (now > seen && !max_running.compare_exchange_weak(seen, now)) {
    }
    std::this_thread::sleep_for(work);
    ++calls;
    --running;
  }
};

using MultiThreadedExecutorTest = rclcdds_test::NodeTest;

/// One scene of timers and subscriptions (one shared topic) in callback groups, spun on four
/// threads: how many of its callbacks may run at once.
struct GroupScene
{
  const char * name;
  std::vector<rclcdds::CallbackGroupType> groups;
  std::vector<int> timer_groups;         ///< one 1 ms timer per entry, in that group
  std::vector<int> subscription_groups;  ///< one subscription per entry, in that group
  int messages;                          ///< queued on the topic before spinning starts
  std::chrono::milliseconds work;        ///< each callback's duration
  int calls;                             ///< callbacks to wait for
  int min_overlap, max_overlap;          ///< bounds of the most callbacks seen running at once
  int min_timer_calls;                   ///< the timers are not starved by a busy topic
  bool yield_before_execute;
};

TEST_F(MultiThreadedExecutorTest, CallbackGroupsBoundTheCallbacksRunningAtOnce)
{
  const auto exclusive = rclcdds::CallbackGroupType::MutuallyExclusive;
  const auto reentrant = rclcdds::CallbackGroupType::Reentrant;
  const std::vector<GroupScene> scenes = {
    {"two timers, one exclusive group", {exclusive}, {0, 0}, {}, 0, 10ms, 20, 1, 1, 0, false},
    {"two timers, two exclusive groups", {exclusive, exclusive}, {0, 1}, {}, 0, 30ms, 10, 2, 2, 0,
      true},
    {"one timer, reentrant group", {reentrant}, {0}, {}, 0, 20ms, 12, 2, 4, 0, false},
    {"two subscriptions, one exclusive group", {exclusive}, {}, {0, 0}, 30, 2ms, 60, 1, 1, 0,
      false},
    // Work taken while more is known to be ready must still respect the group.
    {"busy topic and due timer, one exclusive group", {exclusive}, {0}, {0}, 100, 1ms, 120, 1, 1,
      5, false},
    // Threads take samples while others run callbacks.
    {"busy topic, reentrant group", {reentrant}, {}, {0}, 16, 20ms, 16, 2, 4, 0, false},
  };
  for (const GroupScene & scene : scenes) {
    SCOPED_TRACE(scene.name);
    auto node = std::make_shared<rclcdds::Node>("mt_groups", node_options());
    std::vector<rclcdds::CallbackGroup::SharedPtr> groups;
    for (const auto type : scene.groups) {
      groups.push_back(node->create_callback_group(type));
    }
    ConcurrencyProbe probe;
    std::atomic<int> timer_calls{0};
    std::vector<rclcdds::TimerBase::SharedPtr> timers;
    for (const int g : scene.timer_groups) {
      timers.push_back(
        node->create_wall_timer(
          1ms, [&] {probe.enter_and_work(scene.work); ++timer_calls;}, groups[g]));
    }
    const std::string topic = unique_name("mt_groups_" + std::to_string(&scene - scenes.data()));
    std::vector<rclcdds::SubscriptionBase::SharedPtr> subscriptions;
    for (const int g : scene.subscription_groups) {
      rclcdds::SubscriptionOptions options;
      options.callback_group = groups[g];
      subscriptions.push_back(
        node->create_subscription<std_msgs::msg::String>(
          topic, rclcdds::QoS(200),
          [&](const std_msgs::msg::String &) {probe.enter_and_work(scene.work);}, options));
    }
    auto publisher = node->create_publisher<std_msgs::msg::String>(topic, rclcdds::QoS(200));
    ASSERT_TRUE(
      wait_until([&] {return publisher->get_subscription_count() == subscriptions.size();}));
    for (int i = 0; i < scene.messages; ++i) {
      publisher->publish(std_msgs::msg::String().set__data(std::to_string(i)));
    }

    rclcdds::executors::MultiThreadedExecutor executor(
      executor_options(), 4, scene.yield_before_execute);
    executor.add_node(node);
    {
      rclcdds_test::SpinThread spin(executor);
      ASSERT_TRUE(wait_until([&] {return probe.calls >= scene.calls;}));
    }
    if (timers.empty()) {
      EXPECT_EQ(probe.calls.load(), scene.calls);  // each sample taken once
    }
    EXPECT_GE(probe.max_running.load(), scene.min_overlap);
    EXPECT_LE(probe.max_running.load(), scene.max_overlap);
    EXPECT_GE(timer_calls.load(), scene.min_timer_calls);
  }
}

TEST_F(MultiThreadedExecutorTest, SpinEndsOnACallbackExceptionAndOnShutdown)
{
  auto node = std::make_shared<rclcdds::Node>("mt_stop", node_options());
  auto timer = node->create_wall_timer(1ms, [] {throw std::runtime_error("callback failed");});
  rclcdds::executors::MultiThreadedExecutor executor(executor_options(), 4);
  executor.add_node(node);
  EXPECT_THROW(executor.spin(), std::runtime_error);  // rethrown by spin

  timer->cancel();
  std::thread spinner([&executor] {executor.spin();});
  std::this_thread::sleep_for(50ms);
  context_->shutdown("stop");
  spinner.join();  // hangs (and the test times out) if a thread kept spinning
  EXPECT_FALSE(executor.is_spinning());
}

using TimerTest = rclcdds_test::NodeTest;

TEST_F(TimerTest, WallTimerFiresAtItsPeriodAndStopsWhenCanceledFromOutsideOrInside)
{
  auto node = std::make_shared<rclcdds::Node>("timer_wall", node_options());
  std::atomic<int> calls{0};
  auto timer = node->create_wall_timer(20ms, [&calls] {++calls;});
  int self_calls = 0;  // a callback may take its own timer and cancel it
  auto self_cancelling = node->create_wall_timer(
    1ms, [&self_calls](rclcdds::TimerBase & self) {
      if (++self_calls == 3) {
        self.cancel();
      }
    });
  rclcdds::executors::SingleThreadedExecutor executor(executor_options());
  executor.add_node(node);
  const auto start = std::chrono::steady_clock::now();
  while (calls < 5) {
    executor.spin_once(100ms);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 100ms - 5ms);  // five periods of 20 ms at least
  EXPECT_EQ(self_calls, 3);
  timer->cancel();
  const int before = calls;
  executor.spin_once(100ms);
  EXPECT_EQ(calls.load(), before);
  timer->reset();
  executor.spin_once(200ms);
  EXPECT_EQ(calls.load(), before + 1);
}

TEST_F(TimerTest, DueTimerIsServedBetweenMessagesOfABusyTopic)
{
  auto node = std::make_shared<rclcdds::Node>("timer_busy", node_options());
  std::vector<char> order;  // 't' timer, 'm' message
  const std::string topic = unique_name("timer_busy_topic");
  auto subscription = node->create_subscription<std_msgs::msg::String>(
    topic, rclcdds::QoS(100), [&order](const std_msgs::msg::String &) {order.push_back('m');});
  auto publisher = node->create_publisher<std_msgs::msg::String>(topic, rclcdds::QoS(100));
  ASSERT_TRUE(wait_until([&publisher] {return publisher->get_subscription_count() == 1;}));
  auto timer = node->create_wall_timer(1ms, [&order] {order.push_back('t');});
  for (int i = 0; i < 50; ++i) {
    publisher->publish(std_msgs::msg::String());
  }
  std::this_thread::sleep_for(5ms);  // the timer is due
  rclcdds::executors::SingleThreadedExecutor executor(executor_options());
  executor.add_node(node);
  for (int i = 0; i < 6; ++i) {
    executor.spin_once(100ms);
  }
  ASSERT_EQ(order.size(), 6u);
  // Each look at the wait set serves everything it found once: the timer runs within the first
  // round, not after the 50 queued messages.
  const auto first_timer = std::find(order.begin(), order.end(), 't') - order.begin();
  EXPECT_LE(first_timer, 1);
  EXPECT_GE(std::count(order.begin(), order.end(), 'm'), 3);
}

TEST_F(TimerTest, RosTimeTimerAndTheNodeClockFollowSimulatedTimeAndTheClockTopic)
{
  auto options = node_options();
  options.append_parameter_override("use_sim_time", true);
  auto node = std::make_shared<rclcdds::Node>("timer_sim", options);
  auto clock = node->get_clock();
  EXPECT_TRUE(clock->ros_time_is_active());
  clock->set_ros_time_override(rclcdds::Time(100, 0, rclcdds::RCL_ROS_TIME));
  std::atomic<int> calls{0};
  auto timer = node->create_timer(1s, [&calls] {++calls;});
  rclcdds::executors::SingleThreadedExecutor executor(executor_options());
  executor.add_node(node);

  executor.spin_once(100ms);  // simulated time stands still: nothing fires
  EXPECT_EQ(calls.load(), 0);
  clock->set_ros_time_override(rclcdds::Time(101, 500000000, rclcdds::RCL_ROS_TIME));
  executor.spin_once(1s);  // the jump wakes the executor long before a wall second passed
  EXPECT_EQ(calls.load(), 1);
  clock->set_ros_time_override(rclcdds::Time(101, 900000000, rclcdds::RCL_ROS_TIME));
  executor.spin_once(100ms);
  EXPECT_EQ(calls.load(), 1);

  // use_sim_time subscribes the node's clock to /clock (switching it off again:
  // TimeSource.UseSimTimeDrivesAttachedRosClocksAndMustBeABool).
  auto publisher_node = std::make_shared<rclcdds::Node>("clock_source", node_options());
  auto clock_publisher = publisher_node->create_publisher<rosgraph_msgs::msg::Clock>(
    "/clock", rclcdds::ClockQoS());
  ASSERT_TRUE(wait_until([&] {return clock_publisher->get_subscription_count() >= 1;}));
  const auto tick = rosgraph_msgs::msg::Clock().set__clock(
    builtin_interfaces::msg::Time().set__sec(42).set__nanosec(5));
  ASSERT_TRUE(
    wait_until(
      [&] {
        clock_publisher->publish(tick);
        executor.spin_some();
        return node->now().nanoseconds() == 42000000005LL;
      }));
}

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
        response->values.push_back(
          rcl_interfaces::msg::ParameterValue().set__string_value(name + "!"));
      }
    });
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

TEST_F(ServiceTest, RemappedTopicsThroughEveryInterfaceAndRenamedNodesAnnounced)
{
  auto options = node_options();
  options.arguments(
    {"--ros-args", "-r", "chatter:=talk", "-r", "/talk:=/twice", "-r", "~/out:=/robot_out"});
  auto node = std::make_shared<rclcdds::Node>("remapped", options);
  rclcdds::NodeTopics & topics = *node;  // the base interface: remapping must still apply

  const std::vector<std::pair<std::string, std::string>> cases = {  // {requested, expected}
    {"chatter", "/talk"},     // rules are applied once: /talk is not mapped on to /twice
    {"/talk", "/twice"},
    {"~/out", "/robot_out"},
    {"other", "/other"},
  };
  for (const auto & [requested, expected] : cases) {
    SCOPED_TRACE(requested);
    EXPECT_EQ(topics.resolve_topic_name(requested), expected);
    auto publisher = topics.create_publisher<std_msgs::msg::String>(requested, rclcdds::QoS(1));
    EXPECT_EQ(publisher->get_topic_name(), expected);
    auto subscription = topics.create_subscription<std_msgs::msg::String>(
      requested, rclcdds::QoS(1), [](const std_msgs::msg::String &) {});
    EXPECT_EQ(subscription->get_topic_name(), expected);
  }

  rclcdds::NodeTopics plain("plain", "/robot", context_);  // no rules: names stay as expanded
  EXPECT_EQ(plain.resolve_topic_name("chatter"), "/robot/chatter");

  // A node renamed and moved by the command line is announced under its new name.
  options.arguments({"--ros-args", "-r", "__node:=renamed", "-r", "__ns:=/robot"});
  auto announced = std::make_shared<rclcdds::Node>("announced", options);
  EXPECT_EQ(announced->get_fully_qualified_name(), "/robot/renamed");
  auto publisher = announced->create_publisher<std_msgs::msg::String>("status", rclcdds::QoS(1));
  EXPECT_STREQ(publisher->get_topic_name(), "/robot/status");

  rclcdds::EndpointDescription description;
  description.topic_name = "ros_discovery_info";
  const auto & description_members =
    rclcdds::get_message_members<rmw_dds_common::msg::ParticipantEntitiesInfo>();
  description.type_name = rclcdds::dds_type_name(description_members);
  description.qos = rclcdds::QoS(1).transient_local();
  rclcdds::RawReader reader(context_, description);

  const rclcdds::Gid writer_gid = publisher->get_gid();
  bool found = false;
  const auto take = [&](const uint8_t * data, size_t size, const rclcdds::SampleInfo &) {
      rmw_dds_common::msg::ParticipantEntitiesInfo info;
      ASSERT_TRUE(rclcdds::deserialize_message(description_members, data, size, &info));
      for (const auto & entry : info.node_entities_info_seq) {
        for (const auto & gid : entry.writer_gid_seq) {
          found = found || (entry.node_name == "renamed" && entry.node_namespace == "/robot" &&
            std::equal(writer_gid.begin(), writer_gid.end(), gid.data.begin()));
        }
      }
    };
  ASSERT_TRUE(wait_until([&] {reader.take(take); return found;}));
}

using WaitForMessageTest = rclcdds_test::NodeTest;

TEST_F(WaitForMessageTest, ReturnsTheMessageOfTheWaitEvenWhileSpunOrFalseAtTimeoutOrShutdown)
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
  transform.transform.translation.x = x;  // no rotation: a quaternion's w defaults to 1
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

  // Both static links (x 0.3 and -0.3), held at every time, not only at their stamp 0.
  auto between = buffer.lookupTransform("camera_01", "camera_02", stamp, rclcdds::Duration(5s));
  EXPECT_NEAR(between.transform.translation.x, -0.6, 1e-12);
}

}  // namespace
