// Executors and the spin helpers of rclcpp (rclcdds::spin(node), rclcdds::spin_some(node)).
#pragma once

#include <memory>

#include "rclcdds/executors/single_threaded_executor.hpp"
#include "rclcdds/node_topics.hpp"

namespace rclcdds
{

/// Runs `node`'s callbacks on this thread until shutdown.
void spin(const NodeTopics::SharedPtr & node);

/// Runs the callbacks of `node` that are ready now.
void spin_some(const NodeTopics::SharedPtr & node);

}  // namespace rclcdds
