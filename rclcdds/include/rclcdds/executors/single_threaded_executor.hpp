// Executor that runs every callback on the thread that calls spin().
#pragma once

#include <memory>

#include "rclcdds/executor.hpp"

namespace rclcdds
{
namespace executors
{

/// Single-threaded executor (as rclcpp::executors::SingleThreadedExecutor).
class SingleThreadedExecutor : public Executor
{
public:
  using SharedPtr = std::shared_ptr<SingleThreadedExecutor>;

  explicit SingleThreadedExecutor(const ExecutorOptions & options = ExecutorOptions());

  /// Runs callbacks until cancel() or shutdown (SIGINT/SIGTERM included).
  /// @throws std::runtime_error when already spinning
  void spin() override;
};

}  // namespace executors
}  // namespace rclcdds
