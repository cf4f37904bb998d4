// Periodic timers shaped like rclcpp's (WallTimer on steady time, GenericTimer on any clock).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

#include "rclcdds/clock.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/waitable.hpp"

namespace rclcdds
{

/// A timer an executor runs when its period has elapsed on its clock. Missed periods are
/// skipped (the timer never fires twice to catch up), as in rclcpp.
class TimerBase : public Waitable
{
public:
  using SharedPtr = std::shared_ptr<TimerBase>;
  using WeakPtr = std::weak_ptr<TimerBase>;

  /// @param clock clock the period is measured on (steady, system or ROS time)
  /// @param period period in nanoseconds (> 0)
  /// @throws std::invalid_argument for a non-positive period or a missing clock
  TimerBase(Clock::SharedPtr clock, std::chrono::nanoseconds period, Context::SharedPtr context);
  ~TimerBase() override;
  TimerBase(const TimerBase &) = delete;
  TimerBase & operator=(const TimerBase &) = delete;

  /// Stops the timer until reset().
  void cancel();
  bool is_canceled() const {return canceled_.load();}
  /// Restarts the period from now (and un-cancels).
  void reset();
  /// True when the period has elapsed and the callback has not run for it yet.
  bool is_ready() const;
  /// Time left until the next call, in nanoseconds of the timer's clock (negative when late).
  std::chrono::nanoseconds time_until_trigger() const;
  /// Period in nanoseconds.
  std::chrono::nanoseconds get_period() const {return period_;}
  Clock::SharedPtr get_clock() const {return clock_;}

  int32_t get_wait_entity() const override {return guard_;}
  std::chrono::nanoseconds time_until_ready() const override;
  std::shared_ptr<void> take_data() override;
  void execute(const std::shared_ptr<void> & data) override;

protected:
  /// Runs the user callback.
  virtual void execute_callback() = 0;

private:
  int64_t now_ns() const;
  void wake();

  Clock::SharedPtr clock_;
  std::chrono::nanoseconds period_;
  int32_t guard_{0};                   ///< DDS guard condition: reset, cancel and clock jumps
  std::atomic_bool canceled_{false};
  mutable std::mutex mutex_;
  int64_t next_call_ns_{0};            ///< clock time of the next call, ns
  JumpHandler::SharedPtr jump_handler_;
};

/// Timer calling `FunctorT`, which takes no argument or a `TimerBase &`.
template<typename FunctorT>
class GenericTimer : public TimerBase
{
public:
  using SharedPtr = std::shared_ptr<GenericTimer<FunctorT>>;

  GenericTimer(
    Clock::SharedPtr clock, std::chrono::nanoseconds period, FunctorT && callback,
    Context::SharedPtr context)
  : TimerBase(std::move(clock), period, std::move(context)),
    callback_(std::forward<FunctorT>(callback))
  {
  }

protected:
  void execute_callback() override
  {
    if constexpr (std::is_invocable_v<FunctorT &, TimerBase &>) {
      callback_(*this);
    } else {
      callback_();
    }
  }

private:
  std::decay_t<FunctorT> callback_;
};

/// Timer on the steady clock (as rclcpp::WallTimer).
template<typename FunctorT>
class WallTimer : public GenericTimer<FunctorT>
{
public:
  using SharedPtr = std::shared_ptr<WallTimer<FunctorT>>;

  WallTimer(std::chrono::nanoseconds period, FunctorT && callback, Context::SharedPtr context)
  : GenericTimer<FunctorT>(
      std::make_shared<Clock>(RCL_STEADY_TIME), period, std::forward<FunctorT>(callback),
      std::move(context))
  {
  }
};

}  // namespace rclcdds
