// Multi-threaded executor: callback-group exclusion, parallelism, timers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <std_msgs/msg/string.hpp>

#include "node_test_fixture.hpp"

using namespace std::chrono_literals;

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
    std_msgs::msg::String msg;
    for (int i = 0; i < scene.messages; ++i) {
      msg.data = std::to_string(i);
      publisher->publish(msg);
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
  EXPECT_EQ(timer->get_period(), std::chrono::nanoseconds(20ms));
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
  EXPECT_TRUE(timer->is_canceled());
  const int before = calls;
  executor.spin_once(100ms);
  EXPECT_EQ(calls.load(), before);
  timer->reset();
  EXPECT_FALSE(timer->is_canceled());
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
  std_msgs::msg::String msg;
  for (int i = 0; i < 50; ++i) {
    publisher->publish(msg);
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

TEST_F(TimerTest, RosTimeTimerFollowsSimulatedTime)
{
  auto node = std::make_shared<rclcdds::Node>("timer_sim", node_options());
  auto clock = node->get_clock();
  clock->set_ros_time_override(rclcdds::Time(100, 0, rclcdds::RCL_ROS_TIME));
  clock->set_ros_time_override_active(true);
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
}

TEST_F(TimerTest, UseSimTimeSwitchesTheNodeClockToTheClockTopic)
{
  auto options = node_options();
  options.append_parameter_override("use_sim_time", true);
  auto node = std::make_shared<rclcdds::Node>("sim_time_node", options);
  auto publisher_node = std::make_shared<rclcdds::Node>("clock_source", node_options());
  auto clock_publisher = publisher_node->create_publisher<rosgraph_msgs::msg::Clock>(
    "/clock", rclcdds::ClockQoS());
  ASSERT_TRUE(wait_until([&] {return clock_publisher->get_subscription_count() >= 1;}));
  EXPECT_TRUE(node->get_clock()->ros_time_is_active());

  rclcdds::executors::SingleThreadedExecutor executor(executor_options());
  executor.add_node(node);
  rosgraph_msgs::msg::Clock tick;
  tick.clock.sec = 42;
  tick.clock.nanosec = 5;
  ASSERT_TRUE(
    wait_until(
      [&] {
        clock_publisher->publish(tick);
        executor.spin_some();
        return node->now().nanoseconds() == 42000000005LL;
      }));

  ASSERT_TRUE(node->set_parameter(rclcdds::Parameter("use_sim_time", false)).successful);
  EXPECT_FALSE(node->get_clock()->ros_time_is_active());
  EXPECT_GT(node->now().seconds(), 1.0e9);  // back on system time
}

}  // namespace
