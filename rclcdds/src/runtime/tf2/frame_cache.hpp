// History of one link of the transform tree (the transform of a frame in its parent).
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include <Eigen/Geometry>

namespace rclcdds
{
namespace tf2
{
namespace detail
{

/// Rigid transform p_parent = rotation * p_child + translation.
struct Link
{
  Eigen::Quaterniond rotation{Eigen::Quaterniond::Identity()};  ///< unit quaternion
  Eigen::Vector3d translation{Eigen::Vector3d::Zero()};         ///< metres

  /// this ∘ rhs (apply rhs first).
  Link operator*(const Link & rhs) const
  {
    Link out;
    out.rotation = rotation * rhs.rotation;
    out.translation = rotation * rhs.translation + translation;
    return out;
  }

  Link inverse() const
  {
    Link out;
    out.rotation = rotation.conjugate();
    out.translation = -(out.rotation * translation);
    return out;
  }
};

/// One time-stamped link sample.
struct Sample
{
  int64_t stamp_ns{0};  ///< time of the sample, ns since the epoch
  uint32_t parent{0};   ///< frame number of the parent
  Link link;            ///< transform of the child in the parent
};

/// Samples of one child frame: a time-ordered history (dynamic) or a single value (static).
class FrameCache
{
public:
  /// Outcome of insert().
  enum class Insert {kOk, kTooOld, kRepeated};

  FrameCache(bool is_static, int64_t max_storage_ns);

  bool is_static() const {return static_;}

  /// Stores a sample and drops samples older than the newest minus the cache time.
  Insert insert(const Sample & sample);

  /// Sample at `time_ns` (0: the latest), interpolated between neighbours; false with tf2's
  /// extrapolation text when the time is outside the history or the cache is empty.
  bool get(int64_t time_ns, Sample * out, std::string * error) const;

  /// Newest stamp (0 for a static link) and parent; false when empty.
  bool latest(int64_t * stamp_ns, uint32_t * parent) const;

  /// Drops every dynamic sample.
  void clear();

private:
  bool static_;
  int64_t max_storage_ns_;
  std::deque<Sample> samples_;  ///< ascending stamps
};

}  // namespace detail
}  // namespace tf2
}  // namespace rclcdds
