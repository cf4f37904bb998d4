// Executor running callbacks on a pool of threads (as rclcpp::executors::MultiThreadedExecutor).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

#include "rclcdds/executor.hpp"

namespace rclcdds
{
namespace executors
{

/// Runs callbacks on `number_of_threads` threads. Callbacks of one mutually exclusive group
/// never run at the same time; callbacks of different groups, and of a reentrant group, may.
class MultiThreadedExecutor : public Executor
{
public:
  using SharedPtr = std::shared_ptr<MultiThreadedExecutor>;

  /// @param number_of_threads threads spin() uses; 0 means the number of CPU cores
  /// @param yield_before_execute yield the thread between taking and running a callback
  /// @param timeout how long one wait for work may block (negative: no limit)
  explicit MultiThreadedExecutor(
    const ExecutorOptions & options = ExecutorOptions(), size_t number_of_threads = 0,
    bool yield_before_execute = false,
    std::chrono::nanoseconds timeout = std::chrono::nanoseconds(-1));

  /// Runs callbacks on the pool (the calling thread is one of them) until cancel() or
  /// shutdown.
  /// @throws std::runtime_error when already spinning; rethrows the first exception a callback
  ///   raised, after all threads have stopped
  void spin() override;

  size_t get_number_of_threads() const {return number_of_threads_;}

private:
  void run();

  size_t number_of_threads_;
  bool yield_before_execute_;
  std::chrono::nanoseconds next_exec_timeout_;
};

}  // namespace executors
}  // namespace rclcdds
