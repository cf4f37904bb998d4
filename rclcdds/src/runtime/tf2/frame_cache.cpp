#include "frame_cache.hpp"

#include <algorithm>

#include "rclcdds/tf2/time.hpp"

namespace rclcdds
{
namespace tf2
{
namespace detail
{

namespace
{
std::string at(int64_t ns) {return displayTimePoint(TimePoint(Duration(ns)));}

Sample interpolate(const Sample & older, const Sample & newer, int64_t time_ns)
{
  const double ratio = static_cast<double>(time_ns - older.stamp_ns) /
    static_cast<double>(newer.stamp_ns - older.stamp_ns);
  Sample out;
  out.stamp_ns = time_ns;
  out.parent = older.parent;
  out.link.translation = older.link.translation + ratio * (newer.link.translation - older.link.translation);
  out.link.rotation = older.link.rotation.slerp(ratio, newer.link.rotation);
  return out;
}
}  // namespace

FrameCache::FrameCache(bool is_static, int64_t max_storage_ns)
: static_(is_static), max_storage_ns_(max_storage_ns)
{
}

FrameCache::Insert FrameCache::insert(const Sample & sample)
{
  if (static_) {
    samples_.assign(1, sample);
    return Insert::kOk;
  }
  if (!samples_.empty() && sample.stamp_ns < samples_.back().stamp_ns - max_storage_ns_) {
    return Insert::kTooOld;
  }
  auto pos = std::lower_bound(
    samples_.begin(), samples_.end(), sample.stamp_ns,
    [](const Sample & s, int64_t t) {return s.stamp_ns < t;});
  if (pos != samples_.end() && pos->stamp_ns == sample.stamp_ns) {
    return Insert::kRepeated;
  }
  samples_.insert(pos, sample);
  const int64_t oldest_kept = samples_.back().stamp_ns - max_storage_ns_;
  while (!samples_.empty() && samples_.front().stamp_ns < oldest_kept) {
    samples_.pop_front();
  }
  return Insert::kOk;
}

bool FrameCache::get(int64_t time_ns, Sample * out, std::string * error) const
{
  if (samples_.empty()) {
    return false;
  }
  if (static_ || time_ns == 0) {
    *out = samples_.back();
    if (static_) {
      out->stamp_ns = time_ns;
    }
    return true;
  }
  const Sample & earliest = samples_.front();
  const Sample & newest = samples_.back();
  if (samples_.size() == 1) {
    if (earliest.stamp_ns == time_ns) {
      *out = earliest;
      return true;
    }
    if (error) {
      *error = "Lookup would require extrapolation at time " + at(time_ns) +
        ", but only time " + at(earliest.stamp_ns) + " is in the buffer";
    }
    return false;
  }
  if (time_ns > newest.stamp_ns) {
    if (error) {
      *error = "Lookup would require extrapolation into the future.  Requested time " +
        at(time_ns) + " but the latest data is at time " + at(newest.stamp_ns);
    }
    return false;
  }
  if (time_ns < earliest.stamp_ns) {
    if (error) {
      *error = "Lookup would require extrapolation into the past.  Requested time " +
        at(time_ns) + " but the earliest data is at time " + at(earliest.stamp_ns);
    }
    return false;
  }
  auto upper = std::lower_bound(
    samples_.begin(), samples_.end(), time_ns,
    [](const Sample & s, int64_t t) {return s.stamp_ns < t;});
  if (upper->stamp_ns == time_ns) {
    *out = *upper;
    return true;
  }
  *out = interpolate(*(upper - 1), *upper, time_ns);
  return true;
}

bool FrameCache::latest(int64_t * stamp_ns, uint32_t * parent) const
{
  if (samples_.empty()) {
    return false;
  }
  *stamp_ns = static_ ? 0 : samples_.back().stamp_ns;
  *parent = samples_.back().parent;
  return true;
}

void FrameCache::clear()
{
  if (!static_) {
    samples_.clear();
  }
}

}  // namespace detail
}  // namespace tf2
}  // namespace rclcdds
