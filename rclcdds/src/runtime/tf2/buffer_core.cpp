#include "rclcdds/tf2/buffer_core.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>
#include <unordered_map>

#include "frame_cache.hpp"
#include "../runtime_log.hpp"

namespace rclcdds
{
namespace tf2
{

namespace
{

constexpr int kMaxGraphDepth = 1000;
constexpr double kQuaternionTolerance = 10e-3;

std::string strip_slash(const std::string & frame_id)
{
  return (!frame_id.empty() && frame_id[0] == '/') ? frame_id.substr(1) : frame_id;
}

std::string connectivity_text(const std::string & target, const std::string & source)
{
  return "Could not find a connection between '" + target + "' and '" + source +
         "' because they are not part of the same tree.Tf has two or more unconnected trees.";
}

}  // namespace

std::string displayTimePoint(const TimePoint & stamp)
{
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%.6f", timeToSec(stamp));
  return buffer;
}

BufferCore::BufferCore(Duration cache_time)
: cache_time_(cache_time)
{
  // Frame number 0 means "no frame".
  frame_names_.emplace_back("NO_PARENT");
  frames_.emplace_back();
  authorities_.emplace_back();
}

BufferCore::~BufferCore() = default;

void BufferCore::clear()
{
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto & frame : frames_) {
    if (frame) {
      frame->clear();
    }
  }
}

uint32_t BufferCore::lookupFrameNumber(const std::string & frame_id) const
{
  auto it = frame_ids_.find(frame_id);
  return it == frame_ids_.end() ? 0 : it->second;
}

uint32_t BufferCore::lookupOrInsertFrameNumber(const std::string & frame_id)
{
  uint32_t id = lookupFrameNumber(frame_id);
  if (id == 0) {
    id = static_cast<uint32_t>(frame_names_.size());
    frame_ids_[frame_id] = id;
    frame_names_.push_back(frame_id);
    frames_.emplace_back();
    authorities_.emplace_back();
  }
  return id;
}

uint32_t BufferCore::validateFrameId(const char * function_name_arg, const std::string & frame_id) const
{
  if (frame_id.empty()) {
    throw InvalidArgumentException(
            "Invalid argument \"" + frame_id + "\" passed to " + function_name_arg +
            " - in tf2 frame_ids cannot be empty");
  }
  if (frame_id[0] == '/') {
    throw InvalidArgumentException(
            "Invalid argument \"" + frame_id + "\" passed to " + function_name_arg +
            " - in tf2 frame_ids cannot start with a '/' like: ");
  }
  const uint32_t id = lookupFrameNumber(frame_id);
  if (id == 0) {
    throw LookupException(
            "\"" + frame_id + "\" passed to " + function_name_arg + " does not exist. ");
  }
  return id;
}

bool BufferCore::setTransform(
  const geometry_msgs::msg::TransformStamped & transform, const std::string & authority,
  bool is_static)
{
  const std::string parent = strip_slash(transform.header.frame_id);
  const std::string child = strip_slash(transform.child_frame_id);
  const auto & t = transform.transform.translation;
  const auto & r = transform.transform.rotation;
  const auto log = rclcdds::detail::runtime_logger();
  if (child == parent) {
    log->error(
      "TF_SELF_TRANSFORM: Ignoring transform from authority \"{}\" with frame_id and "
      "child_frame_id  \"{}\" because they are the same", authority, child);
    return false;
  }
  if (child.empty()) {
    log->error(
      "TF_NO_CHILD_FRAME_ID: Ignoring transform from authority \"{}\" because child_frame_id not set ",
      authority);
    return false;
  }
  if (parent.empty()) {
    log->error(
      "TF_NO_FRAME_ID: Ignoring transform with child_frame_id \"{}\"  from authority \"{}\" "
      "because frame_id not set", child, authority);
    return false;
  }
  const double values[] = {t.x, t.y, t.z, r.x, r.y, r.z, r.w};
  if (std::any_of(std::begin(values), std::end(values), [](double v) {return !std::isfinite(v);})) {
    log->error(
      "TF_NAN_INPUT: Ignoring transform for child_frame_id \"{}\" from authority \"{}\" because of "
      "a nan value in the transform ({} {} {}) ({} {} {} {})",
      child, authority, t.x, t.y, t.z, r.x, r.y, r.z, r.w);
    return false;
  }
  Eigen::Quaterniond q(r.w, r.x, r.y, r.z);
  if (std::abs(q.squaredNorm() - 1.0) > kQuaternionTolerance) {
    log->error(
      "TF_DENORMALIZED_QUATERNION: Ignoring transform for child_frame_id \"{}\" from authority "
      "\"{}\" because of an invalid quaternion in the transform ({} {} {} {})",
      child, authority, r.x, r.y, r.z, r.w);
    return false;
  }
  q.normalize();

  {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t child_id = lookupOrInsertFrameNumber(child);
    detail::Sample sample;
    sample.stamp_ns = fromMsg(transform.header.stamp).time_since_epoch().count();
    sample.parent = lookupOrInsertFrameNumber(parent);
    sample.link.rotation = q;
    sample.link.translation = Eigen::Vector3d(t.x, t.y, t.z);
    auto & cache = frames_[child_id];
    if (!cache) {
      cache = std::make_unique<detail::FrameCache>(is_static, cache_time_.count());
    }
    const auto result = cache->insert(sample);
    if (result == detail::FrameCache::Insert::kTooOld) {
      log->warn(
        "TF_OLD_DATA ignoring data from the past for frame {} at time {} according to authority {}",
        child, displayTimePoint(fromMsg(transform.header.stamp)), authority);
      return false;
    }
    if (result == detail::FrameCache::Insert::kRepeated) {
      log->warn(
        "TF_REPEATED_DATA ignoring data with redundant timestamp for frame {} at time {} "
        "according to authority {}",
        child, displayTimePoint(fromMsg(transform.header.stamp)), authority);
      return false;
    }
    authorities_[child_id] = authority;
  }
  changed_.notify_all();
  return true;
}

BufferCore::WalkError BufferCore::latestCommonTime(
  uint32_t target_id, uint32_t source_id, TimePoint * time, std::string * error) const
{
  if (source_id == target_id) {
    int64_t stamp = 0;
    uint32_t parent = 0;
    const auto & cache = frames_[source_id];
    *time = (cache && cache->latest(&stamp, &parent)) ? TimePoint(Duration(stamp)) : TimePoint();
    return WalkError::kNone;
  }
  // Source chain: frames from the source up, with the latest stamp of the link above each.
  std::vector<std::pair<uint32_t, int64_t>> chain;
  std::unordered_map<uint32_t, size_t> index;
  uint32_t frame = source_id;
  int64_t common = std::numeric_limits<int64_t>::max();
  for (int depth = 0; ; ++depth) {
    if (depth > kMaxGraphDepth) {
      *error = "The tf tree is invalid because it contains a loop.";
      return WalkError::kLookup;
    }
    index[frame] = chain.size();
    int64_t stamp = 0;
    uint32_t parent = 0;
    const auto & cache = frames_[frame];
    if (!cache || !cache->latest(&stamp, &parent)) {
      chain.emplace_back(frame, 0);
      break;
    }
    chain.emplace_back(frame, stamp);
    if (stamp != 0) {
      common = std::min(common, stamp);
    }
    frame = parent;
    if (frame == target_id) {
      *time = TimePoint(Duration(common == std::numeric_limits<int64_t>::max() ? 0 : common));
      return WalkError::kNone;
    }
  }
  // Target chain up to the first frame of the source chain.
  frame = target_id;
  common = std::numeric_limits<int64_t>::max();
  for (int depth = 0; ; ++depth) {
    if (depth > kMaxGraphDepth) {
      *error = "The tf tree is invalid because it contains a loop.";
      return WalkError::kLookup;
    }
    auto hit = index.find(frame);
    if (hit != index.end()) {
      for (size_t i = 0; i < hit->second; ++i) {
        if (chain[i].second != 0) {
          common = std::min(common, chain[i].second);
        }
      }
      *time = TimePoint(Duration(common == std::numeric_limits<int64_t>::max() ? 0 : common));
      return WalkError::kNone;
    }
    int64_t stamp = 0;
    uint32_t parent = 0;
    const auto & cache = frames_[frame];
    if (!cache || !cache->latest(&stamp, &parent)) {
      break;
    }
    if (stamp != 0) {
      common = std::min(common, stamp);
    }
    frame = parent;
  }
  *error = connectivity_text(frame_names_[target_id], frame_names_[source_id]);
  return WalkError::kConnectivity;
}

BufferCore::WalkError BufferCore::walk(
  uint32_t target_id, uint32_t source_id, TimePoint time, detail::Link * out,
  TimePoint * stamp_used, std::string * error) const
{
  if (time == TimePointZero) {
    const WalkError lct = latestCommonTime(target_id, source_id, &time, error);
    if (lct != WalkError::kNone) {
      return lct;
    }
  }
  *stamp_used = time;
  if (source_id == target_id) {
    *out = detail::Link();
    return WalkError::kNone;
  }
  const int64_t t_ns = time.time_since_epoch().count();
  std::string extrapolation;
  const auto step = [&](uint32_t frame, detail::Sample * sample) {
      const auto & cache = frames_[frame];
      if (!cache) {
        return false;  // the root of a tree has no link above it
      }
      std::string why;
      if (!cache->get(t_ns, sample, &why)) {
        if (!why.empty() && extrapolation.empty()) {
          extrapolation = why;
        }
        return false;
      }
      return true;
    };

  // Transforms of the source in each frame on its way up.
  std::unordered_map<uint32_t, detail::Link> source_in;
  detail::Link accumulated;
  uint32_t frame = source_id;
  source_in[frame] = accumulated;
  for (int depth = 0; ; ++depth) {
    if (depth > kMaxGraphDepth) {
      *error = "The tf tree is invalid because it contains a loop.";
      return WalkError::kLookup;
    }
    detail::Sample sample;
    if (!step(frame, &sample)) {
      break;
    }
    accumulated = sample.link * accumulated;
    frame = sample.parent;
    source_in[frame] = accumulated;
    if (frame == target_id) {
      *out = accumulated;
      return WalkError::kNone;
    }
  }
  // Walk up from the target until the source chain is met.
  detail::Link target_in;
  frame = target_id;
  for (int depth = 0; ; ++depth) {
    if (depth > kMaxGraphDepth) {
      *error = "The tf tree is invalid because it contains a loop.";
      return WalkError::kLookup;
    }
    auto hit = source_in.find(frame);
    if (hit != source_in.end()) {
      *out = target_in.inverse() * hit->second;
      return WalkError::kNone;
    }
    detail::Sample sample;
    if (!step(frame, &sample)) {
      break;
    }
    target_in = sample.link * target_in;
    frame = sample.parent;
  }
  if (!extrapolation.empty()) {
    *error = extrapolation + ", when looking up transform from frame [" +
      frame_names_[source_id] + "] to frame [" + frame_names_[target_id] + "]";
    return WalkError::kExtrapolation;
  }
  *error = connectivity_text(frame_names_[target_id], frame_names_[source_id]);
  return WalkError::kConnectivity;
}

geometry_msgs::msg::TransformStamped BufferCore::lookupTransform(
  const std::string & target_frame, const std::string & source_frame, const TimePoint & time) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t target_id = validateFrameId("lookupTransform argument target_frame", target_frame);
  const uint32_t source_id = validateFrameId("lookupTransform argument source_frame", source_frame);
  detail::Link link;
  TimePoint stamp;
  std::string error;
  switch (walk(target_id, source_id, time, &link, &stamp, &error)) {
    case WalkError::kLookup: throw LookupException(error);
    case WalkError::kConnectivity: throw ConnectivityException(error);
    case WalkError::kExtrapolation: throw ExtrapolationException(error);
    case WalkError::kNone: break;
  }
  geometry_msgs::msg::TransformStamped out;
  out.header.stamp = toMsg(stamp);
  out.header.frame_id = target_frame;
  out.child_frame_id = source_frame;
  out.transform.translation.x = link.translation.x();
  out.transform.translation.y = link.translation.y();
  out.transform.translation.z = link.translation.z();
  out.transform.rotation.x = link.rotation.x();
  out.transform.rotation.y = link.rotation.y();
  out.transform.rotation.z = link.rotation.z();
  out.transform.rotation.w = link.rotation.w();
  return out;
}

bool BufferCore::canTransformNoLock(
  const std::string & target_frame, const std::string & source_frame, const TimePoint & time,
  std::string * error_msg) const
{
  for (const auto & arg : {std::make_pair("target_frame", &target_frame),
      std::make_pair("source_frame", &source_frame)})
  {
    const std::string & frame = *arg.second;
    if (frame.empty() || frame[0] == '/') {
      if (error_msg) {
        *error_msg = "Invalid argument \"" + frame + "\" passed to canTransform argument " +
          arg.first + (frame.empty() ? " - in tf2 frame_ids cannot be empty" :
          " - in tf2 frame_ids cannot start with a '/' like: ");
      }
      return false;
    }
  }
  if (target_frame == source_frame) {
    return true;
  }
  const uint32_t target_id = lookupFrameNumber(target_frame);
  const uint32_t source_id = lookupFrameNumber(source_frame);
  if (target_id == 0 || source_id == 0) {
    if (error_msg) {
      std::string text;
      if (target_id == 0) {
        text += "canTransform: target_frame " + target_frame + " does not exist.";
      }
      if (source_id == 0) {
        text += (target_id == 0 ? " " : "");
        text += "canTransform: source_frame " + source_frame + " does not exist.";
      }
      *error_msg = text;
    }
    return false;
  }
  detail::Link link;
  TimePoint stamp;
  std::string error;
  if (walk(target_id, source_id, time, &link, &stamp, &error) != WalkError::kNone) {
    if (error_msg) {
      *error_msg = error;
    }
    return false;
  }
  return true;
}

bool BufferCore::canTransform(
  const std::string & target_frame, const std::string & source_frame, const TimePoint & time,
  std::string * error_msg) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return canTransformNoLock(target_frame, source_frame, time, error_msg);
}

bool BufferCore::waitForTransformable(
  const std::string & target_frame, const std::string & source_frame, const TimePoint & time,
  const Duration & timeout, std::string * error_msg) const
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    if (canTransformNoLock(target_frame, source_frame, time, error_msg)) {
      return true;
    }
    if (timeout <= Duration::zero() ||
      changed_.wait_until(lock, deadline) == std::cv_status::timeout)
    {
      return canTransformNoLock(target_frame, source_frame, time, error_msg);
    }
  }
}

std::vector<std::string> BufferCore::getAllFrameNames() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return std::vector<std::string>(frame_names_.begin() + 1, frame_names_.end());
}

std::string BufferCore::allFramesAsString() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  for (size_t id = 1; id < frames_.size(); ++id) {
    int64_t stamp = 0;
    uint32_t parent = 0;
    if (frames_[id] && frames_[id]->latest(&stamp, &parent)) {
      out += "Frame " + frame_names_[id] + " exists with parent " + frame_names_[parent] + ".\n";
    }
  }
  return out;
}

bool BufferCore::_frameExists(const std::string & frame_id) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return lookupFrameNumber(frame_id) != 0;
}

}  // namespace tf2
}  // namespace rclcdds
