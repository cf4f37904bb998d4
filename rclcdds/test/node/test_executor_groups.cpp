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

class MultiThreadedExecutorTest : public rclcdds_test::NodeTest
{
};

TEST_F(MultiThreadedExecutorTest, MutuallyExclusiveGroupNeverOverlaps)
{
  auto node = std::make_shared<rclcdds::Node>("mt_exclusive", node_options());
  auto group = node->create_callback_group(rclcdds::CallbackGroupType::MutuallyExclusive);
  ConcurrencyProbe probe;
  auto t1 = node->create_wall_timer(2ms, [&probe] {probe.enter_and_work(10ms);}, group);
  auto t2 = node->create_wall_timer(2ms, [&probe] {probe.enter_and_work(10ms);}, group);

  rclcdds::executors::MultiThreadedExecutor executor(executor_options(), 4);
  executor.add_node(node);
  {
    rclcdds_test::SpinThread spin(executor);
    ASSERT_TRUE(wait_until([&probe] {return probe.calls >= 20;}));
  }
  EXPECT_EQ(probe.max_running.load(), 1);
}

TEST_F(MultiThreadedExecutorTest, DifferentGroupsRunInParallel)
{
  auto node = std::make_shared<rclcdds::Node>("mt_parallel", node_options());
  auto group_a = node->create_callback_group(rclcdds::CallbackGroupType::MutuallyExclusive);
  auto group_b = node->create_callback_group(rclcdds::CallbackGroupType::MutuallyExclusive);
  ConcurrencyProbe probe;
  auto t1 = node->create_wall_timer(2ms, [&probe] {probe.enter_and_work(30ms);}, group_a);
  auto t2 = node->create_wall_timer(2ms, [&probe] {probe.enter_and_work(30ms);}, group_b);

  rclcdds::executors::MultiThreadedExecutor executor(executor_options(), 4, true);
  executor.add_node(node);
  {
    rclcdds_test::SpinThread spin(executor);
    ASSERT_TRUE(wait_until([&probe] {return probe.calls >= 10;}));
  }
  EXPECT_EQ(probe.max_running.load(), 2);
}

TEST_F(MultiThreadedExecutorTest, ReentrantGroupRunsOneTimerOnSeveralThreads)
{
  auto node = std::make_shared<rclcdds::Node>("mt_reentrant", node_options());
  auto group = node->create_callback_group(rclcdds::CallbackGroupType::Reentrant);
  ConcurrencyProbe probe;
  auto t1 = node->create_wall_timer(1ms, [&probe] {probe.enter_and_work(20ms);}, group);

  rclcdds::executors::MultiThreadedExecutor executor(executor_options(), 4);
  executor.add_node(node);
  {
    rclcdds_test::SpinThread spin(executor);
    ASSERT_TRUE(wait_until([&probe] {return probe.max_running >= 2;}));
  }
  EXPECT_GE(probe.max_running.load(), 2);
  EXPECT_LE(probe.max_running.load(), 4);
}

TEST_F(MultiThreadedExecutorTest, SubscriptionsOfOneGroupAreSerialisedAcrossThreads)
{
  auto node = std::make_shared<rclcdds::Node>("mt_subs", node_options());
  auto group = node->create_callback_group(rclcdds::CallbackGroupType::MutuallyExclusive);
  rclcdds::SubscriptionOptions options;
  options.callback_group = group;
  ConcurrencyProbe probe;
  const std::string topic = unique_name("mt_topic");
  auto sub_a = node->create_subscription<std_msgs::msg::String>(
    topic, rclcdds::QoS(100), [&probe](const std_msgs::msg::String &) {probe.enter_and_work(2ms);},
    options);
  auto sub_b = node->create_subscription<std_msgs::msg::String>(
    topic, rclcdds::QoS(100), [&probe](const std_msgs::msg::String &) {probe.enter_and_work(2ms);},
    options);
  auto publisher = node->create_publisher<std_msgs::msg::String>(topic, rclcdds::QoS(100));
  ASSERT_TRUE(wait_until([&publisher] {return publisher->get_subscription_count() == 2;}));

  rclcdds::executors::MultiThreadedExecutor executor(executor_options(), 4);
  executor.add_node(node);
  rclcdds_test::SpinThread spin(executor);
  std_msgs::msg::String msg;
  for (int i = 0; i < 30; ++i) {
    msg.data = std::to_string(i);
    publisher->publish(msg);
  }
  ASSERT_TRUE(wait_until([&probe] {return probe.calls == 60;}));
  EXPECT_EQ(probe.max_running.load(), 1);
}

TEST_F(MultiThreadedExecutorTest, ExclusiveGroupHoldsUnderABusyTopicAndADueTimer)
{
  // Work taken while more is known to be ready must still respect the group.
  auto node = std::make_shared<rclcdds::Node>("mt_busy_exclusive", node_options());
  auto group = node->create_callback_group(rclcdds::CallbackGroupType::MutuallyExclusive);
  rclcdds::SubscriptionOptions options;
  options.callback_group = group;
  ConcurrencyProbe probe;
  std::atomic<int> timer_calls{0};
  const std::string topic = unique_name("mt_busy");
  auto subscription = node->create_subscription<std_msgs::msg::String>(
    topic, rclcdds::QoS(200), [&probe](const std_msgs::msg::String &) {probe.enter_and_work(1ms);},
    options);
  auto timer = node->create_wall_timer(
    1ms, [&probe, &timer_calls] {probe.enter_and_work(1ms); ++timer_calls;}, group);
  auto publisher = node->create_publisher<std_msgs::msg::String>(topic, rclcdds::QoS(200));
  ASSERT_TRUE(wait_until([&publisher] {return publisher->get_subscription_count() == 1;}));
  std_msgs::msg::String msg;
  for (int i = 0; i < 100; ++i) {
    msg.data = std::to_string(i);
    publisher->publish(msg);
  }

  rclcdds::executors::MultiThreadedExecutor executor(executor_options(), 4);
  executor.add_node(node);
  {
    rclcdds_test::SpinThread spin(executor);
    ASSERT_TRUE(wait_until([&probe] {return probe.calls >= 120;}));
  }
  EXPECT_EQ(probe.max_running.load(), 1);
  EXPECT_GE(timer_calls.load(), 5);  // the busy topic did not starve the timer
}

TEST_F(MultiThreadedExecutorTest, ReentrantGroupTakesOneBusyTopicOnSeveralThreads)
{
  auto node = std::make_shared<rclcdds::Node>("mt_busy_reentrant", node_options());
  auto group = node->create_callback_group(rclcdds::CallbackGroupType::Reentrant);
  rclcdds::SubscriptionOptions options;
  options.callback_group = group;
  ConcurrencyProbe probe;
  const std::string topic = unique_name("mt_reentrant");
  auto subscription = node->create_subscription<std_msgs::msg::String>(
    topic, rclcdds::QoS(100), [&probe](const std_msgs::msg::String &) {probe.enter_and_work(20ms);},
    options);
  auto publisher = node->create_publisher<std_msgs::msg::String>(topic, rclcdds::QoS(100));
  ASSERT_TRUE(wait_until([&publisher] {return publisher->get_subscription_count() == 1;}));

  rclcdds::executors::MultiThreadedExecutor executor(executor_options(), 4);
  executor.add_node(node);
  rclcdds_test::SpinThread spin(executor);
  std_msgs::msg::String msg;
  for (int i = 0; i < 16; ++i) {
    msg.data = std::to_string(i);
    publisher->publish(msg);
  }
  ASSERT_TRUE(wait_until([&probe] {return probe.calls == 16;}));
  EXPECT_GE(probe.max_running.load(), 2);  // threads took samples while others ran callbacks
  EXPECT_LE(probe.max_running.load(), 4);
}

TEST_F(MultiThreadedExecutorTest, ThreadCountDefaultsToTheCores)
{
  rclcdds::executors::MultiThreadedExecutor executor(executor_options());
  EXPECT_GE(executor.get_number_of_threads(), 1u);
  rclcdds::executors::MultiThreadedExecutor three(executor_options(), 3);
  EXPECT_EQ(three.get_number_of_threads(), 3u);
}

TEST_F(MultiThreadedExecutorTest, ShutdownStopsEveryThread)
{
  auto node = std::make_shared<rclcdds::Node>("mt_shutdown", node_options());
  rclcdds::executors::MultiThreadedExecutor executor(executor_options(), 4);
  executor.add_node(node);
  std::thread spinner([&executor] {executor.spin();});
  std::this_thread::sleep_for(50ms);
  context_->shutdown("stop");
  spinner.join();  // hangs (and the test times out) if a thread kept spinning
  EXPECT_FALSE(executor.is_spinning());
}

TEST_F(MultiThreadedExecutorTest, CallbackExceptionStopsSpinAndIsRethrown)
{
  auto node = std::make_shared<rclcdds::Node>("mt_throw", node_options());
  auto timer = node->create_wall_timer(1ms, [] {throw std::runtime_error("callback failed");});
  rclcdds::executors::MultiThreadedExecutor executor(executor_options(), 3);
  executor.add_node(node);
  EXPECT_THROW(executor.spin(), std::runtime_error);
}

class TimerTest : public rclcdds_test::NodeTest
{
};

TEST_F(TimerTest, WallTimerFiresAtItsPeriodAndStopsWhenCanceled)
{
  auto node = std::make_shared<rclcdds::Node>("timer_wall", node_options());
  std::atomic<int> calls{0};
  auto timer = node->create_wall_timer(20ms, [&calls] {++calls;});
  EXPECT_EQ(timer->get_period(), std::chrono::nanoseconds(20ms));
  rclcdds::executors::SingleThreadedExecutor executor(executor_options());
  executor.add_node(node);
  const auto start = std::chrono::steady_clock::now();
  while (calls < 5) {
    executor.spin_once(100ms);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 100ms - 5ms);  // five periods of 20 ms at least
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

TEST_F(TimerTest, CallbackMayTakeTheTimer)
{
  auto node = std::make_shared<rclcdds::Node>("timer_self", node_options());
  int calls = 0;
  auto timer = node->create_wall_timer(
    1ms, [&calls](rclcdds::TimerBase & self) {
      if (++calls == 3) {
        self.cancel();
      }
    });
  rclcdds::executors::SingleThreadedExecutor executor(executor_options());
  executor.add_node(node);
  for (int i = 0; i < 10; ++i) {
    executor.spin_once(20ms);
  }
  EXPECT_EQ(calls, 3);
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
