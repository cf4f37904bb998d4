#include "rclcdds/tf2/buffer.hpp"

#include <utility>

namespace rclcdds
{
namespace tf2_ros
{

Buffer::Buffer(rclcdds::Clock::SharedPtr clock, tf2::Duration cache_time)
: tf2::BufferCore(cache_time), clock_(std::move(clock))
{
}

geometry_msgs::msg::TransformStamped Buffer::lookupTransform(
  const std::string & target_frame, const std::string & source_frame,
  const tf2::TimePoint & time, const tf2::Duration timeout) const
{
  waitForTransformable(target_frame, source_frame, time, timeout, nullptr);
  return tf2::BufferCore::lookupTransform(target_frame, source_frame, time);
}

geometry_msgs::msg::TransformStamped Buffer::lookupTransform(
  const std::string & target_frame, const std::string & source_frame,
  const rclcdds::Time & time, const rclcdds::Duration timeout) const
{
  return lookupTransform(
    target_frame, source_frame, tf2::fromRclcdds(time), tf2::fromRclcdds(timeout));
}

bool Buffer::canTransform(
  const std::string & target_frame, const std::string & source_frame,
  const tf2::TimePoint & time, const tf2::Duration timeout, std::string * errstr) const
{
  return waitForTransformable(target_frame, source_frame, time, timeout, errstr);
}

bool Buffer::canTransform(
  const std::string & target_frame, const std::string & source_frame,
  const rclcdds::Time & time, const rclcdds::Duration timeout, std::string * errstr) const
{
  return canTransform(
    target_frame, source_frame, tf2::fromRclcdds(time), tf2::fromRclcdds(timeout), errstr);
}

}  // namespace tf2_ros
}  // namespace rclcdds
