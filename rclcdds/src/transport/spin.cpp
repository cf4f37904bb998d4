#include "rclcdds/executors.hpp"

namespace rclcdds
{

void spin(const NodeTopics::SharedPtr & node)
{
  executors::SingleThreadedExecutor executor(ExecutorOptions{node->get_context()});
  executor.add_node(node);
  executor.spin();
  executor.remove_node(node);
}

void spin_some(const NodeTopics::SharedPtr & node)
{
  executors::SingleThreadedExecutor executor(ExecutorOptions{node->get_context()});
  executor.spin_node_some(node);
}

}  // namespace rclcdds
