#include "rclcdds/executors/single_threaded_executor.hpp"

namespace rclcdds
{
namespace executors
{

SingleThreadedExecutor::SingleThreadedExecutor(const ExecutorOptions & options)
: Executor(options)
{
}

void SingleThreadedExecutor::spin()
{
  SpinningGuard guard(*this);
  while (spinning_ && context_->is_valid()) {
    AnyExecutable any;
    if (get_next_executable(any, std::chrono::nanoseconds(-1))) {
      execute_any_executable(any);
    }
  }
}

}  // namespace executors
}  // namespace rclcdds
