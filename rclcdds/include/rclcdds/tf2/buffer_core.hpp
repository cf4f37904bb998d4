// Transform buffer without middleware, shaped like tf2::BufferCore.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <geometry_msgs/msg/transform_stamped.hpp>

#include "rclcdds/tf2/exceptions.hpp"
#include "rclcdds/tf2/time.hpp"

namespace rclcdds
{
namespace tf2
{

namespace detail
{
class FrameCache;
struct Link;
}  // namespace detail

/// Tree of coordinate frames with a time-stamped history per link: dynamic links keep
/// `cache_time` of history, static links hold one transform for all times. Lookups walk the
/// tree through the common ancestor and interpolate each link (linear for translation,
/// slerp for rotation); they never extrapolate. Thread-safe.
class BufferCore
{
public:
  /// @param cache_time history kept per dynamic link (default 10 s)
  explicit BufferCore(Duration cache_time = Duration(BUFFER_CORE_DEFAULT_CACHE_TIME));
  virtual ~BufferCore();
  BufferCore(const BufferCore &) = delete;
  BufferCore & operator=(const BufferCore &) = delete;

  /// Forgets every dynamic transform (static ones stay).
  void clear();

  /// Adds a transform of `child_frame_id` in `header.frame_id`. Returns false, with the reason
  /// logged, for equal or empty frame ids, NaN values, a non-unit quaternion, a stamp older than
  /// the cache, or a repeated stamp. A leading '/' of the frame ids is dropped.
  bool setTransform(
    const geometry_msgs::msg::TransformStamped & transform, const std::string & authority,
    bool is_static = false);

  /// Transform taking points in `source_frame` to `target_frame` at `time` (TimePointZero:
  /// the latest time every link of the chain has). header.frame_id is the target frame,
  /// child_frame_id the source frame.
  /// @throws LookupException, ConnectivityException, ExtrapolationException,
  ///   InvalidArgumentException
  geometry_msgs::msg::TransformStamped lookupTransform(
    const std::string & target_frame, const std::string & source_frame,
    const TimePoint & time) const;

  /// True when lookupTransform would succeed; otherwise false with the reason in `error_msg`.
  bool canTransform(
    const std::string & target_frame, const std::string & source_frame,
    const TimePoint & time, std::string * error_msg = nullptr) const;

  /// Names of every known frame.
  std::vector<std::string> getAllFrameNames() const;

  /// "Frame <child> exists with parent <parent>." lines, as tf2 prints them.
  std::string allFramesAsString() const;

  /// True when the frame has been seen (as a child or as a parent).
  bool _frameExists(const std::string & frame_id) const;

  /// History kept per dynamic link.
  Duration getCacheLength() const {return cache_time_;}

protected:
  /// Waits (steady clock) up to `timeout` until canTransform succeeds; woken by setTransform.
  bool waitForTransformable(
    const std::string & target_frame, const std::string & source_frame, const TimePoint & time,
    const Duration & timeout, std::string * error_msg) const;

private:
  enum class WalkError {kNone, kLookup, kConnectivity, kExtrapolation};

  uint32_t lookupFrameNumber(const std::string & frame_id) const;
  uint32_t lookupOrInsertFrameNumber(const std::string & frame_id);
  uint32_t validateFrameId(const char * function_name_arg, const std::string & frame_id) const;
  WalkError walk(
    uint32_t target_id, uint32_t source_id, TimePoint time, detail::Link * out,
    TimePoint * stamp_used, std::string * error) const;
  WalkError latestCommonTime(
    uint32_t target_id, uint32_t source_id, TimePoint * time, std::string * error) const;
  bool canTransformNoLock(
    const std::string & target_frame, const std::string & source_frame, const TimePoint & time,
    std::string * error_msg) const;

  Duration cache_time_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::unordered_map<std::string, uint32_t> frame_ids_;
  std::vector<std::string> frame_names_;                          ///< index: frame number
  std::vector<std::unique_ptr<detail::FrameCache>> frames_;       ///< index: frame number
  std::vector<std::string> authorities_;                          ///< index: frame number
};

}  // namespace tf2
}  // namespace rclcdds
