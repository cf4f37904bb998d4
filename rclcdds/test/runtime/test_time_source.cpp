// use_sim_time and /clock driving ROS clocks.
#include <gtest/gtest.h>

#include <vector>

#include "rclcdds/time_source.hpp"

namespace
{

using rclcdds::Clock;
using rclcdds::NodeOptions;
using rclcdds::Parameter;
using rclcdds::TimeSource;
using rclcdds::node_interfaces::NodeParameters;

rosgraph_msgs::msg::Clock clock_msg(int32_t sec)
{
  rosgraph_msgs::msg::Clock msg;
  msg.clock.sec = sec;
  return msg;
}

TEST(TimeSource, UseSimTimeFromOverrideDrivesAttachedClocks)
{
  NodeOptions options;
  options.arguments({"--ros-args", "-p", "use_sim_time:=true"});
  NodeParameters params("/n", options, nullptr);
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

  EXPECT_TRUE(params.set_parameter(Parameter("use_sim_time", false)).successful);
  EXPECT_FALSE(clock->ros_time_is_active());
  EXPECT_EQ(subscription_needed.back(), false);
}

TEST(TimeSource, RefusesNonBoolUseSimTime)
{
  NodeParameters params("/n", NodeOptions(), nullptr);
  TimeSource source;
  source.attachParameters(params);
  EXPECT_TRUE(params.has_parameter("use_sim_time"));
  const auto result = params.set_parameter(Parameter("use_sim_time", 1));
  EXPECT_FALSE(result.successful);
  EXPECT_FALSE(source.get_use_sim_time());
}

TEST(TimeSource, OnlyRosClocksAttach)
{
  TimeSource source;
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
