// Time types of the transform library (as tf2/time.h) and their message conversions.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include <builtin_interfaces/msg/time.hpp>

#include "rclcdds/time.hpp"

namespace rclcdds
{
namespace tf2
{

/// Span of time in nanoseconds.
using Duration = std::chrono::nanoseconds;
/// Point in time in nanoseconds since the epoch; zero means "latest available".
using TimePoint = std::chrono::time_point<std::chrono::system_clock, Duration>;

/// The "latest available" time.
static constexpr TimePoint TimePointZero = TimePoint(Duration::zero());

/// Default cache time of a buffer: 10 s.
static constexpr int64_t BUFFER_CORE_DEFAULT_CACHE_TIME = 10LL * 1000000000LL;

inline Duration durationFromSec(double seconds)
{
  return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
}

inline double durationToSec(const Duration & d) {return std::chrono::duration<double>(d).count();}

inline TimePoint timeFromSec(double seconds) {return TimePoint(durationFromSec(seconds));}

inline double timeToSec(const TimePoint & t) {return durationToSec(t.time_since_epoch());}

/// Seconds with six decimals, as tf2 prints times in its messages.
std::string displayTimePoint(const TimePoint & stamp);

inline TimePoint fromMsg(const builtin_interfaces::msg::Time & msg)
{
  return TimePoint(Duration(static_cast<int64_t>(msg.sec) * 1000000000LL + msg.nanosec));
}

inline builtin_interfaces::msg::Time toMsg(const TimePoint & t)
{
  const int64_t ns = t.time_since_epoch().count();
  builtin_interfaces::msg::Time msg;
  int64_t sec = ns / 1000000000LL;
  int64_t rem = ns % 1000000000LL;
  if (rem < 0) {
    rem += 1000000000LL;
    --sec;
  }
  msg.sec = static_cast<int32_t>(sec);
  msg.nanosec = static_cast<uint32_t>(rem);
  return msg;
}

inline TimePoint fromRclcdds(const rclcdds::Time & t) {return TimePoint(Duration(t.nanoseconds()));}

inline Duration fromRclcdds(const rclcdds::Duration & d) {return Duration(d.nanoseconds());}

}  // namespace tf2
}  // namespace rclcdds
