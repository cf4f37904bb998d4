// rclcpp's free spin_until_future_complete(node, future, timeout).
#pragma once

#include <chrono>
#include <memory>

#include "rclcdds/executors/single_threaded_executor.hpp"
#include "rclcdds/node_topics.hpp"

namespace rclcdds
{

/// Spins `node` on a temporary single-threaded executor until `future` is ready, `timeout`
/// passes (negative: no limit) or the context shuts down.
template<class FutureT, class TimeRepT = int64_t, class TimeT = std::milli>
FutureReturnCode spin_until_future_complete(
  const NodeTopics::SharedPtr & node, const FutureT & future,
  std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1))
{
  executors::SingleThreadedExecutor executor(ExecutorOptions{node->get_context()});
  executor.add_node(node);
  const FutureReturnCode code = executor.spin_until_future_complete(
    future, std::chrono::duration_cast<std::chrono::nanoseconds>(timeout));
  executor.remove_node(node);
  return code;
}

}  // namespace rclcdds
