// Drives ROS clocks from /clock when the node's "use_sim_time" parameter is true (as rclcpp::TimeSource).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <rosgraph_msgs/msg/clock.hpp>

#include "rclcdds/clock.hpp"
#include "rclcdds/node_interfaces/node_parameters.hpp"

namespace rclcdds
{

/// Switches attached ROS clocks between system time and /clock time.
class TimeSource
{
public:
  /// Called with true when a /clock subscription (KEEP_LAST 1, BEST_EFFORT) is needed, false
  /// when it can be dropped. The subscription feeds clock_callback().
  using ClockSubscriptionHandler = std::function<void (bool needed)>;

  explicit TimeSource(bool use_sim_time = false);
  ~TimeSource();
  TimeSource(const TimeSource &) = delete;
  TimeSource & operator=(const TimeSource &) = delete;

  /// Declares "use_sim_time" (bool, default false, or its override) unless it exists, refuses
  /// non-bool values ("'use_sim_time' must be a bool") and applies accepted changes.
  /// @throws exceptions::InvalidParameterTypeException when the override is not a bool
  void attachParameters(node_interfaces::NodeParameters & parameters);
  /// Stops following the parameter store.
  void detachParameters();

  /// Starts driving a ROS clock. @throws std::invalid_argument for another clock type
  void attachClock(const Clock::SharedPtr & clock);
  void detachClock(const Clock::SharedPtr & clock);

  /// Installs the hook that creates and drops the /clock subscription; called at once with the
  /// current need.
  void set_clock_subscription_handler(ClockSubscriptionHandler handler);

  /// Applies one /clock message to every attached clock (only while sim time is on).
  void clock_callback(const rosgraph_msgs::msg::Clock & msg);

  bool get_use_sim_time() const;
  /// Switches sim time on or off directly (the parameter path calls this too).
  void set_use_sim_time(bool use_sim_time);

private:
  mutable std::mutex mutex_;
  bool use_sim_time_;
  Time last_clock_{int64_t{0}, RCL_ROS_TIME};
  std::vector<Clock::SharedPtr> clocks_;
  ClockSubscriptionHandler subscription_handler_;
  node_interfaces::OnSetParametersCallbackHandle::SharedPtr validate_handle_;
  node_interfaces::PostSetParametersCallbackHandle::SharedPtr apply_handle_;
};

}  // namespace rclcdds
