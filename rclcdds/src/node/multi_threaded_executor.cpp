#include "rclcdds/executors/multi_threaded_executor.hpp"

#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace rclcdds
{
namespace executors
{

MultiThreadedExecutor::MultiThreadedExecutor(
  const ExecutorOptions & options, size_t number_of_threads, bool yield_before_execute,
  std::chrono::nanoseconds timeout)
: Executor(options),
  number_of_threads_(number_of_threads != 0 ? number_of_threads :
    std::max<size_t>(1, std::thread::hardware_concurrency())),
  yield_before_execute_(yield_before_execute),
  next_exec_timeout_(timeout)
{
}

void MultiThreadedExecutor::spin()
{
  SpinningGuard guard(*this);
  std::mutex error_mutex;
  std::exception_ptr first_error;
  auto worker = [this, &error_mutex, &first_error]() {
      try {
        run();
      } catch (...) {
        {
          std::lock_guard<std::mutex> lock(error_mutex);
          if (!first_error) {
            first_error = std::current_exception();
          }
        }
        cancel();  // stop the other threads too
      }
    };
  std::vector<std::thread> threads;
  threads.reserve(number_of_threads_ - 1);
  for (size_t i = 1; i < number_of_threads_; ++i) {
    threads.emplace_back(worker);
  }
  worker();
  for (auto & thread : threads) {
    thread.join();
  }
  if (first_error) {
    std::rethrow_exception(first_error);
  }
}

void MultiThreadedExecutor::run()
{
  while (spinning_ && context_->is_valid()) {
    AnyExecutable any;
    if (!get_next_executable(any, next_exec_timeout_)) {
      continue;
    }
    if (yield_before_execute_) {
      std::this_thread::yield();
    }
    execute_any_executable(any);
  }
}

}  // namespace executors
}  // namespace rclcdds
