// Rate limit for warnings a remote peer can provoke (malformed samples, bad requests).
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace rclcdds
{
namespace detail
{

/// Lets one warning through per period for one topic or service and counts the ones it holds
/// back, so that a flood of bad samples costs a few log lines instead of one per sample.
/// Thread-safe.
class WarningLimiter
{
public:
  using Clock = std::chrono::steady_clock;

  /// @param period minimum time between two printed warnings
  explicit WarningLimiter(Clock::duration period = std::chrono::seconds(5))
  : period_(period) {}

  /// True when a warning may be printed at `now`; `suppressed` then holds how many were held
  /// back since the previous printed one (0 otherwise).
  bool allow(Clock::time_point now, uint64_t & suppressed)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (printed_any_ && now - last_printed_ < period_) {
      ++held_back_;
      suppressed = 0;
      return false;
    }
    printed_any_ = true;
    last_printed_ = now;
    suppressed = held_back_;
    held_back_ = 0;
    return true;
  }

  /// allow() at the current time.
  bool allow(uint64_t & suppressed) {return allow(Clock::now(), suppressed);}

  /// Suffix for a printed warning: " (N similar warnings suppressed)" or "".
  static std::string suffix(uint64_t suppressed)
  {
    return suppressed == 0 ? std::string() :
           " (" + std::to_string(suppressed) + " similar warning" + (suppressed == 1 ? "" : "s") +
           " suppressed)";
  }

private:
  const Clock::duration period_;
  std::mutex mutex_;
  bool printed_any_{false};
  Clock::time_point last_printed_{};
  uint64_t held_back_{0};
};

/// Text of untrusted bytes for one log line: control and non-ASCII bytes as \xNN, cut after
/// `max_length` characters with "...".
std::string printable(const std::string & text, size_t max_length = 128);

}  // namespace detail
}  // namespace rclcdds
