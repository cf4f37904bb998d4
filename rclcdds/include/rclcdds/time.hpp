// Time and Duration shaped like rclcpp's.
#pragma once

#include <chrono>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include <builtin_interfaces/msg/duration.hpp>
#include <builtin_interfaces/msg/time.hpp>

namespace rclcdds
{

/// Source of a time value, numbered as rcl numbers them.
enum ClockType : int
{
  RCL_CLOCK_UNINITIALIZED = 0,
  RCL_ROS_TIME = 1,     ///< simulated time from /clock when use_sim_time is set, else system time
  RCL_SYSTEM_TIME = 2,  ///< wall clock
  RCL_STEADY_TIME = 3,  ///< monotonic clock
};

/// Signed span of time in nanoseconds.
class Duration
{
public:
  Duration(int32_t seconds, uint32_t nanoseconds)
  : ns_(static_cast<int64_t>(seconds) * 1000000000LL + static_cast<int64_t>(nanoseconds)) {}
  explicit Duration(std::chrono::nanoseconds ns) : ns_(ns.count()) {}
  template<class Rep, class Period>
  Duration(const std::chrono::duration<Rep, Period> & d)  // NOLINT: implicit like rclcpp
  : ns_(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count()) {}
  Duration(const builtin_interfaces::msg::Duration & msg)  // NOLINT: implicit like rclcpp
  : Duration(msg.sec, msg.nanosec) {}
  Duration() : ns_(0) {}

  static Duration from_seconds(double seconds)
  {
    return Duration(std::chrono::nanoseconds(static_cast<int64_t>(seconds * 1e9)));
  }
  static Duration from_nanoseconds(int64_t ns) {return Duration(std::chrono::nanoseconds(ns));}
  static Duration max() {return from_nanoseconds(std::numeric_limits<int64_t>::max());}

  int64_t nanoseconds() const {return ns_;}
  double seconds() const {return static_cast<double>(ns_) * 1e-9;}
  template<class DurationT = std::chrono::nanoseconds>
  DurationT to_chrono() const
  {
    return std::chrono::duration_cast<DurationT>(std::chrono::nanoseconds(ns_));
  }

  /// Message form; negative spans keep a non-negative nanosec part as ROS does.
  operator builtin_interfaces::msg::Duration() const
  {
    builtin_interfaces::msg::Duration msg;
    int64_t sec = ns_ / 1000000000LL;
    int64_t rem = ns_ % 1000000000LL;
    if (rem < 0) {rem += 1000000000LL; --sec;}
    msg.sec = static_cast<int32_t>(sec);
    msg.nanosec = static_cast<uint32_t>(rem);
    return msg;
  }

  Duration operator+(const Duration & o) const {return from_nanoseconds(ns_ + o.ns_);}
  Duration operator-(const Duration & o) const {return from_nanoseconds(ns_ - o.ns_);}
  Duration operator*(double scale) const
  {
    return from_nanoseconds(static_cast<int64_t>(static_cast<double>(ns_) * scale));
  }
  bool operator==(const Duration & o) const {return ns_ == o.ns_;}
  bool operator!=(const Duration & o) const {return ns_ != o.ns_;}
  bool operator<(const Duration & o) const {return ns_ < o.ns_;}
  bool operator<=(const Duration & o) const {return ns_ <= o.ns_;}
  bool operator>(const Duration & o) const {return ns_ > o.ns_;}
  bool operator>=(const Duration & o) const {return ns_ >= o.ns_;}

private:
  int64_t ns_;
};

/// Point in time of one clock type, in nanoseconds since that clock's epoch.
class Time
{
public:
  /// @throws std::runtime_error for a negative time, as rclcpp does
  Time(int32_t seconds, uint32_t nanoseconds, ClockType clock_type = RCL_SYSTEM_TIME)
  : ns_(static_cast<int64_t>(seconds) * 1000000000LL + static_cast<int64_t>(nanoseconds)),
    clock_type_(clock_type)
  {
    if (seconds < 0) {throw std::runtime_error("cannot store a negative time point in rclcpp::Time");}
  }
  explicit Time(int64_t nanoseconds = 0, ClockType clock_type = RCL_SYSTEM_TIME)
  : ns_(nanoseconds), clock_type_(clock_type)
  {
    if (nanoseconds < 0) {throw std::runtime_error("cannot store a negative time point in rclcpp::Time");}
  }
  Time(const builtin_interfaces::msg::Time & msg, ClockType clock_type = RCL_ROS_TIME)  // NOLINT
  : Time(msg.sec, msg.nanosec, clock_type) {}

  static Time max(ClockType clock_type = RCL_SYSTEM_TIME)
  {
    return Time(std::numeric_limits<int32_t>::max(), 999999999u, clock_type);
  }

  int64_t nanoseconds() const {return ns_;}
  double seconds() const {return static_cast<double>(ns_) * 1e-9;}
  ClockType get_clock_type() const {return clock_type_;}

  operator builtin_interfaces::msg::Time() const
  {
    builtin_interfaces::msg::Time msg;
    msg.sec = static_cast<int32_t>(ns_ / 1000000000LL);
    msg.nanosec = static_cast<uint32_t>(ns_ % 1000000000LL);
    return msg;
  }

  Time operator+(const Duration & d) const {return Time(ns_ + d.nanoseconds(), clock_type_);}
  Time operator-(const Duration & d) const {return Time(ns_ - d.nanoseconds(), clock_type_);}
  /// @throws std::runtime_error when the clock types differ
  Duration operator-(const Time & o) const
  {
    check_same(o);
    return Duration::from_nanoseconds(ns_ - o.ns_);
  }
  bool operator==(const Time & o) const {check_same(o); return ns_ == o.ns_;}
  bool operator!=(const Time & o) const {check_same(o); return ns_ != o.ns_;}
  bool operator<(const Time & o) const {check_same(o); return ns_ < o.ns_;}
  bool operator<=(const Time & o) const {check_same(o); return ns_ <= o.ns_;}
  bool operator>(const Time & o) const {check_same(o); return ns_ > o.ns_;}
  bool operator>=(const Time & o) const {check_same(o); return ns_ >= o.ns_;}

private:
  void check_same(const Time & o) const
  {
    if (clock_type_ != o.clock_type_) {throw std::runtime_error("can't compare times with different time sources");}
  }

  int64_t ns_;
  ClockType clock_type_;
};

}  // namespace rclcdds
