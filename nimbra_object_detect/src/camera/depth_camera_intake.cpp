// Frame intake of a depth camera: the colour ring, the task-state switch, and the front of the
// depth callback (pairing, latency statistics, staleness watchdog) before the pipeline runs.
#include <time.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <limits>

#include "camera/depth_camera.hpp"
#include "camera/frame_pairing.hpp"
#include "camera/stage_timing.hpp"
#include "common/logger.hpp"
#include "nimbra_perception_libs/perception_utils.hpp"

namespace nimbra
{

namespace
{

constexpr int32_t kNoDataCode = 100700002;
constexpr int32_t kStaleCode = 100700003;
constexpr int32_t kNoDataAlarmCount = 50;
constexpr uint32_t kLagSamples = 74;  // statistics are reported on the 75th sample
constexpr double kStaleSeconds = 1.0;
constexpr int32_t kRescanSleepMs = 10;

/// Sleeps 10 ms, resuming after a signal interrupts the sleep.
void SleepRescanInterval()
{
  timespec request{0, kRescanSleepMs * 1000000L};
  timespec remaining{};
  while (nanosleep(&request, &remaining) != 0 && errno == EINTR) {
    request = remaining;
  }
}

/// True for the first 16 occurrences, then for the 32nd, 64th, 128th ...: a peer that floods the
/// node with unreadable frames stays visible without flooding the journal.
bool ShouldReport(uint64_t count)
{
  return count <= 16 || (count & (count - 1)) == 0;
}

}  // namespace

void DepthCamera::rgbCallback(const sensor_msgs::msg::Image::ConstSharedPtr & msg)
{
  try {
    if (!activated_.load()) {
      LOG_DEBUG("current now is hibernate");
      return;
    }
    if (!msg) {
      return;
    }
    std::string reason;
    if (!colourImageUsable(*msg, reason)) {
      ++malformed_rgb_count_;
      if (ShouldReport(malformed_rgb_count_)) {
        LOG_WARN("cam_{0:d} drops a colour image: {1:s} ({2:d} dropped so far)", cam_id, reason,
          malformed_rgb_count_);
      }
      return;
    }
    std::lock_guard<std::mutex> lock(rgb_mutex_);
    rgb_ring_[rgb_write_count_ % rgb_ring_.size()] = *msg;
    ++rgb_write_count_;
    if (config_.data_flow_trace) {
      const double now = orvix::perception::TimeToDouble(node_->now());
      const double stamp = orvix::perception::TimeToDouble(msg->header);
      LOG_DEBUG("camera_{0:d} rgbCallback get msg-time = {1:05.4f}(s)", cam_id, stamp);
      rgb_lag_sum_ += std::fabs(now - stamp);
      ++rgb_lag_count_;
      if (rgb_lag_count_ > kLagSamples) {
        LOG_INFO("camera_{0:d} rgbCallback time fly even = {1:05.4f}(s)", cam_id,
          rgb_lag_sum_ / rgb_lag_count_);
        rgb_lag_sum_ = 0.0;
        rgb_lag_count_ = 0;
      }
    }
  } catch (const std::exception & e) {
    LOG_ERROR("cam_{0:d} colour frame dropped: {1:s}", cam_id, e.what());
  }
}

void DepthCamera::fsmStatusCallback(
  const nimbra_protocol::msg::TaskCenterFsmStatus::ConstSharedPtr & msg)
{
  if (msg) {
    fsm_close_ai_.store(taskStateClosesAi(msg->fsm_state, msg->fsm_sub_state));
  }
}

bool DepthCamera::pairColourFrame(double depth_stamp, double & rgb_stamp, int64_t & scans)
{
  paired_rgb_.reset();
  scans = 0;
  double diff = static_cast<double>(std::numeric_limits<float>::max());
  rgb_stamp = depth_stamp;  // without a colour frame the depth stamp stands in for it
  if (config_.depth_rgb_wait_time_ms > 0) {
    int32_t budget = config_.depth_rgb_wait_time_ms - kRescanSleepMs;
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(rgb_mutex_);
        ++scans;
        const int slot = nearestStampSlot(rgb_ring_, depth_stamp);
        if (slot >= 0) {
          paired_rgb_ = std::make_shared<sensor_msgs::msg::Image>(rgb_ring_[slot]);
        }
      }
      if (paired_rgb_) {
        rgb_stamp = orvix::perception::TimeToDouble(paired_rgb_->header);
        diff = std::fabs(depth_stamp - rgb_stamp);
        if (diff <= config_.depth_rgb_time_diff) {
          return true;
        }
      }
      SleepRescanInterval();
      if (budget > 0) {
        budget -= kRescanSleepMs;
      } else {
        break;
      }
    }
  }
  if (diff > config_.depth_rgb_time_diff) {
    trad_only_ = true;
    LOG_WARN(
      "ErrorCo:{}, The difference between depth={} and rgb={} timestamp is too large of cam_{}, "
      "diff={}only use trad method", kStaleCode, depth_stamp, rgb_stamp, cam_id, diff);
  }
  return false;
}

void DepthCamera::depthCallback(const sensor_msgs::msg::Image::ConstSharedPtr & msg)
{
  try {
    const auto callback_start = StageClock::now();
    if (!activated_.load()) {
      LOG_DEBUG("current now is hibernate");
      return;
    }
    trad_only_ = false;
    if (!msg) {
      ++no_data_count_;
      LOG_WARN("ErrorCode:{}, No data at begining of the cam_{}", kNoDataCode, cam_id);
      if (no_data_count_ > kNoDataAlarmCount) {
        std_msgs::msg::Bool alarm;
        alarm.data = true;
        data_status_pub_->publish(alarm);
        no_data_count_ = 0;
      }
      return;
    }
    std::string reason;
    if (!depthImageUsable(*msg, reason)) {
      ++malformed_depth_count_;
      if (ShouldReport(malformed_depth_count_)) {
        LOG_WARN("cam_{0:d} drops a depth image: {1:s} ({2:d} dropped so far)", cam_id, reason,
          malformed_depth_count_);
      }
      return;
    }
    const double depth_stamp = orvix::perception::TimeToDouble(msg->header);
    LOG_DEBUG("camera_{0:d} depthCallback get msg-time = {1:05.4f}(s)", cam_id, depth_stamp);

    const auto search_start = StageClock::now();
    double rgb_stamp = depth_stamp;
    pairColourFrame(depth_stamp, rgb_stamp, last_pairing_scans_);
    const auto search_end = StageClock::now();
    no_data_count_ = 0;

    const double now = orvix::perception::TimeToDouble(node_->now());
    if (config_.data_flow_trace) {
      depth_lag_sum_ += std::fabs(now - depth_stamp);
      ++depth_lag_count_;
      if (depth_lag_count_ > kLagSamples) {
        LOG_INFO("camera_{0:d} depthCallback time fly even = {1:05.4f}(s)", cam_id,
          depth_lag_sum_ / depth_lag_count_);
        depth_lag_sum_ = 0.0;
        depth_lag_count_ = 0;
      }
    }
    LOG_DEBUG(
      "camera_info_pub_time = {0:05.4f}(s) of cam_id={1:d} rgb_pub_time = {2:05.4f}(s) "
      "depth_pub_time = {3:05.4f}(s) current_time = {4:05.4f}(s)",
      now - (depth_stamp + rgb_stamp) / 2.0, cam_id, rgb_stamp, depth_stamp, now);
    if (now - depth_stamp > kStaleSeconds || now - rgb_stamp > kStaleSeconds) {
      LOG_WARN("ErrorCo:{}, depth or rgb long time without update data of cam_{}", kStaleCode,
        cam_id);
      std_msgs::msg::Bool alarm;
      alarm.data = true;
      data_status_pub_->publish(alarm);
      ++stale_frame_count_;
      return;
    }

    process(msg, depth_stamp, rgb_stamp);
    ++processed_frame_count_;

    if (config_.debug || config_.data_flow_trace) {
      const auto callback_end = StageClock::now();
      const double end_now = orvix::perception::TimeToDouble(node_->now());
      LOG_DEBUG("cam_{0:d} :<search_rgb> runtime = {1:d}(us)", cam_id,
        microsecondsBetween(search_start, search_end));
      LOG_DEBUG("cam_{0:d} :<process> runtime = {1:d}(us)", cam_id,
        microsecondsBetween(search_end, callback_end));
      LOG_DEBUG("cam_{0:d} :<callback> runtime = {1:d}(us) time fly = {2:05.4f} (s)", cam_id,
        microsecondsBetween(callback_start, callback_end), end_now - depth_stamp);
    }
  } catch (const std::exception & e) {
    LOG_ERROR("cam_{0:d} depth frame dropped: {1:s}", cam_id, e.what());
  }
}

}  // namespace nimbra
