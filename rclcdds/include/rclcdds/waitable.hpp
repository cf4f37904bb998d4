// Anything an executor can wait on and run: subscriptions here; timers, services, clients later.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

namespace rclcdds
{

/// Executable entity. Executors attach its DDS condition to a wait set and, once it triggers
/// (or once time_until_ready() has run out), call take_data() and then execute().
class Waitable
{
public:
  using SharedPtr = std::shared_ptr<Waitable>;
  using WeakPtr = std::weak_ptr<Waitable>;

  virtual ~Waitable() = default;

  /// DDS read or guard condition (dds_entity_t) that triggers while work is waiting;
  /// 0 when readiness is purely time based (see time_until_ready()).
  virtual int32_t get_wait_entity() const = 0;

  /// Time until the entity becomes ready by itself (timers); nanoseconds::max() when only its
  /// condition makes it ready. Zero or negative means ready now.
  virtual std::chrono::nanoseconds time_until_ready() const
  {
    return std::chrono::nanoseconds::max();
  }

  /// Takes the next unit of work without running it; nullptr when there is none. Non-blocking;
  /// may be called from any executor thread.
  virtual std::shared_ptr<void> take_data() = 0;

  /// Runs the work that take_data() returned (the user callback).
  virtual void execute(const std::shared_ptr<void> & data) = 0;

  /// take_data() then execute(); false when there was nothing to do.
  bool take_and_execute()
  {
    std::shared_ptr<void> data = take_data();
    if (!data) {
      return false;
    }
    execute(data);
    return true;
  }
};

}  // namespace rclcdds
