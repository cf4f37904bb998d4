// Clocks (override, sleeps, jumps), rates, and use_sim_time with /clock driving ROS clocks.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "rclcdds/clock.hpp"
#include "rclcdds/rate.hpp"
#include "rclcdds/time_source.hpp"

namespace
{

using rclcdds::Clock;
using rclcdds::Duration;
using rclcdds::Parameter;
using rclcdds::Time;
using rclcdds::TimeSource;
using namespace std::chrono_literals;

TEST(Clock, SleepEndsTrueAfterItsTimeSimulatedOrNotOrFalseOnActivationChangeOrCancel)
{
  Clock clock(rclcdds::RCL_ROS_TIME);
  std::thread switcher([&clock] {
      std::this_thread::sleep_for(20ms);
      clock.set_ros_time_override(Time(10, 0, rclcdds::RCL_ROS_TIME));
      clock.set_ros_time_override_active(true);
    });
  EXPECT_FALSE(clock.sleep_for(Duration(10s)));
  switcher.join();
  std::thread feeder([&clock] {
      for (int i = 1; i <= 5; ++i) {
        std::this_thread::sleep_for(5ms);
        clock.set_ros_time_override(Time(10 + i, 0, rclcdds::RCL_ROS_TIME));
      }
    });
  EXPECT_TRUE(clock.sleep_until(Time(13, 0, rclcdds::RCL_ROS_TIME)));  // woken by simulated time
  EXPECT_GE(clock.now().nanoseconds(), 13000000000LL);
  feeder.join();

  Clock steady(rclcdds::RCL_STEADY_TIME);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(steady.sleep_for(Duration(30ms)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
  EXPECT_THROW(steady.sleep_until(Time(1, 0, rclcdds::RCL_SYSTEM_TIME)), std::runtime_error);
  std::thread canceller([&steady] {
      std::this_thread::sleep_for(20ms);
      steady.cancel_sleep_or_wait();
    });
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(steady.sleep_for(Duration(10s)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  canceller.join();
  steady.set_ros_time_override_active(true);  // a steady clock has no ROS time
  EXPECT_FALSE(steady.ros_time_is_active());
}

TEST(Clock, RosTimeFollowsTheOverrideOnlyWhenActiveAndJumpCallbacksHonourThresholds)
{
  Clock clock(rclcdds::RCL_ROS_TIME);
  std::vector<rclcdds::TimeJump> jumps;
  int pre = 0;
  rclcdds::JumpThreshold threshold;
  threshold.on_clock_change = true;
  threshold.min_forward = Duration(1s);
  threshold.min_backward = Duration(-1ns);
  auto handler = clock.create_jump_callback(
    [&pre] {++pre;}, [&jumps](const rclcdds::TimeJump & j) {jumps.push_back(j);}, threshold);

  EXPECT_FALSE(clock.ros_time_is_active());
  clock.set_ros_time_override(Time(5, 0, rclcdds::RCL_ROS_TIME));  // inactive: no jump
  EXPECT_GT(clock.now().nanoseconds(), Time(5, 0).nanoseconds());  // still system time
  clock.set_ros_time_override_active(true);
  EXPECT_EQ(clock.now().nanoseconds(), 5000000000LL);
  EXPECT_EQ(clock.now().get_clock_type(), rclcdds::RCL_ROS_TIME);
  ASSERT_EQ(jumps.size(), 1u);
  EXPECT_EQ(jumps[0].clock_change, rclcdds::ClockChange::ROS_TIME_ACTIVATED);
  clock.set_ros_time_override(Time(105, 0, rclcdds::RCL_ROS_TIME));  // +100 s
  clock.set_ros_time_override(Time(105, 500, rclcdds::RCL_ROS_TIME));  // small step: ignored
  clock.set_ros_time_override(Time(104, 0, rclcdds::RCL_ROS_TIME));  // backwards
  ASSERT_EQ(jumps.size(), 3u);
  EXPECT_EQ(jumps[1].delta.nanoseconds(), 100000000000LL);
  EXPECT_LT(jumps[2].delta.nanoseconds(), 0);
  EXPECT_EQ(pre, 3);

  handler.reset();
  clock.set_ros_time_override_active(false);
  EXPECT_EQ(jumps.size(), 3u);
}

TEST(Rate, KeepsPeriodAndReportsLateness)
{
  rclcdds::WallRate rate(100.0);
  EXPECT_EQ(rate.period(), std::chrono::nanoseconds(10ms));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(rate.sleep());
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(rate.sleep());  // late: returns at once
  rate.reset();
  EXPECT_TRUE(rate.sleep());
  EXPECT_THROW(rclcdds::Rate(0.0), std::invalid_argument);
  EXPECT_THROW(rclcdds::WallRate(std::chrono::nanoseconds(0)), std::invalid_argument);
}

rosgraph_msgs::msg::Clock clock_msg(int32_t sec)
{
  return rosgraph_msgs::msg::Clock().set__clock(builtin_interfaces::msg::Time().set__sec(sec));
}

TEST(TimeSource, UseSimTimeDrivesAttachedRosClocksAndMustBeABool)
{
  rclcdds::NodeOptions options;
  options.arguments({"--ros-args", "-p", "use_sim_time:=true"});
  rclcdds::node_interfaces::NodeParameters params("/n", options, nullptr);
  TimeSource source;
  auto clock = std::make_shared<Clock>(rclcdds::RCL_ROS_TIME);
  source.attachClock(clock);
  std::vector<bool> subscription_needed;
  source.set_clock_subscription_handler([&](bool needed) {subscription_needed.push_back(needed);});
  source.attachParameters(params);

  EXPECT_TRUE(source.get_use_sim_time());
  EXPECT_TRUE(clock->ros_time_is_active());
  EXPECT_EQ(clock->now().nanoseconds(), 0);  // no /clock yet
  source.clock_callback(clock_msg(42));
  EXPECT_EQ(clock->now().nanoseconds(), 42000000000LL);
  EXPECT_EQ(subscription_needed, (std::vector<bool>{false, true}));

  EXPECT_FALSE(params.set_parameter(Parameter("use_sim_time", 0)).successful);
  EXPECT_TRUE(source.get_use_sim_time());
  EXPECT_TRUE(params.set_parameter(Parameter("use_sim_time", false)).successful);
  EXPECT_FALSE(clock->ros_time_is_active());
  EXPECT_EQ(subscription_needed.back(), false);

  // Only ROS clocks attach; a late one starts at the last /clock, a detached one stops following.
  EXPECT_THROW(
    source.attachClock(std::make_shared<Clock>(rclcdds::RCL_STEADY_TIME)), std::invalid_argument);
  auto late = std::make_shared<Clock>(rclcdds::RCL_ROS_TIME);
  source.set_use_sim_time(true);
  source.clock_callback(clock_msg(7));
  source.attachClock(late);
  EXPECT_EQ(late->now().nanoseconds(), 7000000000LL);
  source.detachClock(late);
  source.clock_callback(clock_msg(8));
  EXPECT_EQ(late->now().nanoseconds(), 7000000000LL);
}

}  // namespace
