#include "rclcdds/clock.hpp"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <vector>

namespace rclcdds
{

namespace
{
int64_t system_now_ns()
{
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
    std::chrono::system_clock::now().time_since_epoch()).count();
}

int64_t steady_now_ns()
{
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
    std::chrono::steady_clock::now().time_since_epoch()).count();
}

/// Longest single wait while a ROS clock follows system time, so a wall-clock step is noticed.
constexpr auto kMaxWallWait = std::chrono::milliseconds(100);
}  // namespace

Clock::Clock(ClockType clock_type)
: clock_type_(clock_type == RCL_CLOCK_UNINITIALIZED ? RCL_SYSTEM_TIME : clock_type)
{
}

Clock::~Clock()
{
  cancel_sleep_or_wait();
}

Time Clock::now() const
{
  switch (clock_type_) {
    case RCL_ROS_TIME:
      if (override_active_.load(std::memory_order_acquire)) {
        return Time(override_ns_.load(std::memory_order_acquire), clock_type_);
      }
      return Time(system_now_ns(), clock_type_);
    case RCL_STEADY_TIME:
      return Time(steady_now_ns(), clock_type_);
    case RCL_SYSTEM_TIME:
    default:
      return Time(system_now_ns(), clock_type_);
  }
}

bool Clock::ros_time_is_active() const
{
  return clock_type_ == RCL_ROS_TIME && override_active_.load(std::memory_order_acquire);
}

bool Clock::wanted(const JumpThreshold & threshold, const TimeJump & jump)
{
  if (jump.clock_change == ClockChange::ROS_TIME_ACTIVATED ||
    jump.clock_change == ClockChange::ROS_TIME_DEACTIVATED)
  {
    return threshold.on_clock_change;
  }
  const int64_t delta = jump.delta.nanoseconds();
  const int64_t forward = threshold.min_forward.nanoseconds();
  const int64_t backward = threshold.min_backward.nanoseconds();
  return (forward > 0 && delta >= forward) || (backward < 0 && delta <= backward);
}

void Clock::notify_jump(const TimeJump & jump, bool pre)
{
  std::vector<JumpHandler::SharedPtr> live;
  {
    std::lock_guard<std::mutex> lock(handlers_mutex_);
    for (auto it = handlers_.begin(); it != handlers_.end(); ) {
      if (auto handler = it->lock()) {
        live.push_back(handler);
        ++it;
      } else {
        it = handlers_.erase(it);
      }
    }
  }
  for (const auto & handler : live) {
    if (!wanted(handler->notice_threshold, jump)) {
      continue;
    }
    if (pre && handler->pre_callback) {
      handler->pre_callback();
    } else if (!pre && handler->post_callback) {
      handler->post_callback(jump);
    }
  }
}

void Clock::set_ros_time_override_active(bool active)
{
  if (clock_type_ != RCL_ROS_TIME || override_active_.load() == active) {
    return;
  }
  TimeJump jump;
  jump.clock_change = active ? ClockChange::ROS_TIME_ACTIVATED : ClockChange::ROS_TIME_DEACTIVATED;
  const int64_t before = now().nanoseconds();
  notify_jump(jump, true);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    override_active_.store(active, std::memory_order_release);
    ++generation_;
  }
  cv_.notify_all();
  jump.delta = Duration::from_nanoseconds(now().nanoseconds() - before);
  notify_jump(jump, false);
}

void Clock::set_ros_time_override(const Time & time)
{
  const bool active = ros_time_is_active();
  TimeJump jump;
  jump.clock_change = ClockChange::ROS_TIME_NO_CHANGE;
  jump.delta = Duration::from_nanoseconds(
    time.nanoseconds() - override_ns_.load(std::memory_order_acquire));
  if (active) {
    notify_jump(jump, true);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    override_ns_.store(time.nanoseconds(), std::memory_order_release);
  }
  cv_.notify_all();
  if (active) {
    notify_jump(jump, false);
  }
}

void Clock::cancel_sleep_or_wait()
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++cancel_count_;
  }
  cv_.notify_all();
}

JumpHandler::SharedPtr Clock::create_jump_callback(
  JumpHandler::pre_callback_t pre_callback, JumpHandler::post_callback_t post_callback,
  const JumpThreshold & threshold)
{
  auto handler = std::make_shared<JumpHandler>(
    std::move(pre_callback), std::move(post_callback), threshold);
  std::lock_guard<std::mutex> lock(handlers_mutex_);
  handlers_.push_back(handler);
  return handler;
}

bool Clock::sleep_until(const Time & until)
{
  if (until.get_clock_type() != clock_type_) {
    throw std::runtime_error("until's clock type does not match this clock's type");
  }
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t generation = generation_;
  const uint64_t cancels = cancel_count_;
  const auto interrupted = [&]() {return generation_ != generation || cancel_count_ != cancels;};
  while (!interrupted()) {
    const int64_t left = until.nanoseconds() - now().nanoseconds();
    if (left <= 0) {
      return true;
    }
    if (ros_time_is_active()) {
      cv_.wait(lock);  // woken by each /clock update, activation change or cancel
    } else {
      cv_.wait_for(lock, std::min<std::chrono::nanoseconds>(std::chrono::nanoseconds(left), kMaxWallWait));
    }
  }
  return false;
}

}  // namespace rclcdds
