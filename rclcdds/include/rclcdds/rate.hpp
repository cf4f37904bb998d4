// Loop rate keepers shaped like rclcpp::Rate and rclcpp::WallRate.
#pragma once

#include <chrono>
#include <stdexcept>
#include <thread>

namespace rclcdds
{

/// Keeps a loop at a fixed period measured on a std::chrono clock.
template<class ChronoClock = std::chrono::steady_clock>
class GenericRate
{
public:
  /// @param rate loop frequency in Hz. @throws std::invalid_argument unless rate > 0
  explicit GenericRate(double rate)
  : GenericRate(to_period(rate)) {}

  /// @param period loop period. @throws std::invalid_argument unless period > 0
  explicit GenericRate(std::chrono::nanoseconds period)
  : period_(period), last_interval_(ChronoClock::now())
  {
    if (period.count() <= 0) {
      throw std::invalid_argument("rate period must be positive");
    }
  }

  /// Sleeps until the next period starts. Returns false, without sleeping, when the loop is
  /// already late (the schedule then restarts from now if more than a period was missed).
  bool sleep()
  {
    const auto now = ChronoClock::now();
    auto next_interval = last_interval_ + period_;
    if (now < last_interval_) {
      next_interval = now + period_;  // the clock went backwards
    }
    const auto time_to_sleep = next_interval - now;
    if (time_to_sleep <= std::chrono::nanoseconds(0)) {
      last_interval_ = now > next_interval + period_ ? now : next_interval;
      return false;
    }
    std::this_thread::sleep_for(time_to_sleep);
    last_interval_ = next_interval;
    return true;
  }

  bool is_steady() const {return ChronoClock::is_steady;}

  /// Restarts the schedule from now.
  void reset() {last_interval_ = ChronoClock::now();}

  std::chrono::nanoseconds period() const {return period_;}

private:
  static std::chrono::nanoseconds to_period(double rate)
  {
    if (!(rate > 0.0)) {
      throw std::invalid_argument("rate must be positive");
    }
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double>(1.0 / rate));
  }

  std::chrono::nanoseconds period_;
  typename ChronoClock::time_point last_interval_;
};

/// Rate on the system clock (as rclcpp::Rate in Humble).
using Rate = GenericRate<std::chrono::system_clock>;
/// Rate on the steady clock.
using WallRate = GenericRate<std::chrono::steady_clock>;

}  // namespace rclcdds
