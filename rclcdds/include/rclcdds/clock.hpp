// Clock shaped like rclcpp's: ROS time (optionally driven by /clock), system time, steady time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include "rclcdds/time.hpp"

namespace rclcdds
{

/// How a ROS clock's source changed in a time jump (numbered as rcl_clock_change_t).
enum class ClockChange : int
{
  ROS_TIME_NO_CHANGE = 1,     ///< ROS time jumped while /clock drives it
  ROS_TIME_ACTIVATED = 2,     ///< /clock (sim time) took over
  ROS_TIME_DEACTIVATED = 3,   ///< back to system time
  SYSTEM_TIME_NO_CHANGE = 4,  ///< system time jumped
};

/// A discontinuity of a clock.
struct TimeJump
{
  ClockChange clock_change{ClockChange::ROS_TIME_NO_CHANGE};  ///< kind of change
  Duration delta;                                               ///< new time minus old time
};

/// Which jumps a handler wants to hear about.
struct JumpThreshold
{
  bool on_clock_change{true};  ///< activation or deactivation of ROS time
  Duration min_forward;        ///< forward jumps at least this long (0: none)
  Duration min_backward;       ///< backward jumps at least this long, given negative (0: none)
};

/// Callbacks run before and after a clock jump; unregistered when the handle is dropped.
class JumpHandler
{
public:
  using SharedPtr = std::shared_ptr<JumpHandler>;
  using pre_callback_t = std::function<void ()>;
  using post_callback_t = std::function<void (const TimeJump &)>;

  JumpHandler(pre_callback_t pre, post_callback_t post, const JumpThreshold & threshold)
  : pre_callback(std::move(pre)), post_callback(std::move(post)), notice_threshold(threshold) {}

  pre_callback_t pre_callback;      ///< runs before the jump is applied (may be empty)
  post_callback_t post_callback;    ///< runs after the jump is applied (may be empty)
  JumpThreshold notice_threshold;   ///< filter of jumps
};

/// Source of the current time for one clock type.
class Clock
{
public:
  using SharedPtr = std::shared_ptr<Clock>;

  explicit Clock(ClockType clock_type = RCL_SYSTEM_TIME);
  ~Clock();
  Clock(const Clock &) = delete;
  Clock & operator=(const Clock &) = delete;

  /// Current time of this clock. A ROS clock with an active override returns the last /clock value.
  Time now() const;

  ClockType get_clock_type() const {return clock_type_;}

  /// True when this is a ROS clock whose time comes from the /clock topic.
  bool ros_time_is_active() const;

  /// Switches the ROS time override on or off (no effect on other clock types); notifies jump
  /// handlers with ROS_TIME_ACTIVATED / ROS_TIME_DEACTIVATED and wakes sleepers.
  void set_ros_time_override_active(bool active);

  /// Sets the time a ROS clock reports while its override is active; jump handlers hear about
  /// jumps beyond their thresholds while the override is active.
  void set_ros_time_override(const Time & time);

  /// Sleeps until this clock reaches `until`. Returns false when the wait cannot finish: ROS time
  /// is switched on or off meanwhile, or cancel_sleep_or_wait() is called.
  /// @throws std::runtime_error when `until` has another clock type
  bool sleep_until(const Time & until);

  /// Sleeps for a duration of this clock (see sleep_until).
  bool sleep_for(const Duration & rel_time) {return sleep_until(now() + rel_time);}

  /// Wakes every sleep_until in progress; they return false.
  void cancel_sleep_or_wait();

  /// Registers jump callbacks; they stay registered while the returned handle lives.
  JumpHandler::SharedPtr create_jump_callback(
    JumpHandler::pre_callback_t pre_callback, JumpHandler::post_callback_t post_callback,
    const JumpThreshold & threshold);

private:
  void notify_jump(const TimeJump & jump, bool pre);
  static bool wanted(const JumpThreshold & threshold, const TimeJump & jump);

  ClockType clock_type_;
  std::atomic<bool> override_active_{false};
  std::atomic<int64_t> override_ns_{0};
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  uint64_t generation_{0};   ///< bumped on activation changes, guarded by mutex_
  uint64_t cancel_count_{0}; ///< bumped by cancel_sleep_or_wait, guarded by mutex_
  std::mutex handlers_mutex_;
  std::list<std::weak_ptr<JumpHandler>> handlers_;
};

}  // namespace rclcdds
