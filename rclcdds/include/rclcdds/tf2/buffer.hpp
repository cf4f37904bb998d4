// Transform buffer bound to a clock, with timed lookups (as tf2_ros::Buffer).
#pragma once

#include <memory>
#include <string>

#include "rclcdds/clock.hpp"
#include "rclcdds/tf2/buffer_core.hpp"

namespace rclcdds
{
namespace tf2_ros
{

/// BufferCore plus lookups that wait up to a timeout for the transform to arrive. The wait is
/// measured in wall time and ends as soon as a setTransform makes the lookup possible.
class Buffer : public tf2::BufferCore
{
public:
  using SharedPtr = std::shared_ptr<Buffer>;
  using tf2::BufferCore::canTransform;
  using tf2::BufferCore::lookupTransform;

  /// @param clock the node's clock (used by users for "now"; kept for tf2_ros compatibility)
  /// @param cache_time history kept per dynamic link (default 10 s)
  explicit Buffer(
    rclcdds::Clock::SharedPtr clock,
    tf2::Duration cache_time = tf2::Duration(tf2::BUFFER_CORE_DEFAULT_CACHE_TIME));

  /// Waits up to `timeout` for the transform, then looks it up.
  /// @throws the lookup's LookupException, ConnectivityException, ExtrapolationException or
  ///   InvalidArgumentException when it is still unavailable after the timeout
  geometry_msgs::msg::TransformStamped lookupTransform(
    const std::string & target_frame, const std::string & source_frame,
    const tf2::TimePoint & time, const tf2::Duration timeout) const;

  /// Same with the client library's time types.
  geometry_msgs::msg::TransformStamped lookupTransform(
    const std::string & target_frame, const std::string & source_frame,
    const rclcdds::Time & time,
    const rclcdds::Duration timeout = rclcdds::Duration::from_nanoseconds(0)) const;

  /// Waits up to `timeout` for the transform; false with the reason in `errstr` after it.
  bool canTransform(
    const std::string & target_frame, const std::string & source_frame,
    const tf2::TimePoint & time, const tf2::Duration timeout, std::string * errstr = nullptr) const;

  bool canTransform(
    const std::string & target_frame, const std::string & source_frame,
    const rclcdds::Time & time,
    const rclcdds::Duration timeout = rclcdds::Duration::from_nanoseconds(0),
    std::string * errstr = nullptr) const;

  rclcdds::Clock::SharedPtr getClock() const {return clock_;}

  /// Kept for tf2_ros compatibility: our listener always fills the buffer from its own thread,
  /// so waiting lookups are always allowed.
  void setUsingDedicatedThread(bool value) {using_dedicated_thread_ = value;}
  bool isUsingDedicatedThread() const {return using_dedicated_thread_;}

private:
  rclcdds::Clock::SharedPtr clock_;
  bool using_dedicated_thread_{false};
};

}  // namespace tf2_ros
}  // namespace rclcdds
