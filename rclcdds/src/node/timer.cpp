#include "rclcdds/timer.hpp"

#include <dds/dds.h>

#include <stdexcept>

namespace rclcdds
{

TimerBase::TimerBase(
  Clock::SharedPtr clock, std::chrono::nanoseconds period, Context::SharedPtr context)
: clock_(std::move(clock)), period_(period)
{
  if (!clock_) {
    throw std::invalid_argument("a timer needs a clock");
  }
  if (period_ <= std::chrono::nanoseconds(0)) {
    throw std::invalid_argument("timer period must be positive");
  }
  if (!context) {
    context = get_global_default_context();
  }
  guard_ = dds_create_guardcondition(context->participant());
  if (guard_ < 0) {
    throw std::runtime_error(
            std::string("cannot create the timer's guard condition: ") + dds_strretcode(guard_));
  }
  next_call_ns_ = now_ns() + period_.count();
  if (clock_->get_clock_type() == RCL_ROS_TIME) {
    // Under simulated time the executor cannot sleep on the period: every /clock step and every
    // switch between system and simulated time wakes it to look at the timer again.
    JumpThreshold threshold;
    threshold.on_clock_change = true;
    threshold.min_forward = Duration::from_nanoseconds(1);
    threshold.min_backward = Duration::from_nanoseconds(-1);
    jump_handler_ = clock_->create_jump_callback(nullptr, [this](const TimeJump &) {wake();}, threshold);
  }
}

TimerBase::~TimerBase()
{
  jump_handler_.reset();
  if (guard_ > 0) {
    dds_delete(guard_);
  }
}

int64_t TimerBase::now_ns() const
{
  return clock_->now().nanoseconds();
}

void TimerBase::wake()
{
  dds_set_guardcondition(guard_, true);
}

void TimerBase::cancel()
{
  canceled_ = true;
  wake();
}

void TimerBase::reset()
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    next_call_ns_ = now_ns() + period_.count();
  }
  canceled_ = false;
  wake();
}

std::chrono::nanoseconds TimerBase::time_until_trigger() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return std::chrono::nanoseconds(next_call_ns_ - now_ns());
}

bool TimerBase::is_ready() const
{
  return !canceled_ && time_until_trigger() <= std::chrono::nanoseconds(0);
}

std::chrono::nanoseconds TimerBase::time_until_ready() const
{
  if (canceled_) {
    return std::chrono::nanoseconds::max();
  }
  const std::chrono::nanoseconds left = time_until_trigger();
  if (left <= std::chrono::nanoseconds(0)) {
    return left;  // due: the executor polls instead of blocking
  }
  // Simulated time does not pass at wall speed: rely on the jump handler instead.
  if (clock_->ros_time_is_active()) {
    return std::chrono::nanoseconds::max();
  }
  return left;
}

std::shared_ptr<void> TimerBase::take_data()
{
  bool triggered = false;
  dds_take_guardcondition(guard_, &triggered);
  if (canceled_) {
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const int64_t now = now_ns();
  if (now < next_call_ns_) {
    return nullptr;
  }
  // Next call one period after the due time; periods missed entirely are skipped.
  const int64_t period = period_.count();
  const int64_t late = now - next_call_ns_;
  next_call_ns_ += period * (late / period + 1);
  static int token = 0;
  return std::shared_ptr<void>(&token, [](void *) {});
}

void TimerBase::execute(const std::shared_ptr<void> & data)
{
  if (data) {
    execute_callback();
  }
}

}  // namespace rclcdds
