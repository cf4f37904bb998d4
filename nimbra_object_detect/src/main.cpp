// Entry of the perception node "object_detect".
#include <cstdio>
#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>

#include "base.hpp"
#include "common/logger.hpp"
#include "common/runtime_log_bridge.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/executors.hpp"
#include "rclcdds/executors/multi_threaded_executor.hpp"

int main(int argc, char ** argv)
{
  nimbra::Logger::Instance();
  nimbra::RouteRuntimeLogs({"rclcdds.runtime", "rclcdds.transport", "ros.rclcdds.graph",
      "ros.rclcdds.service", "ros.rclcdds.client", "ros.object_detect"});
  int status = 0;
  try {
    rclcdds::init(argc, argv);
    auto node = std::make_shared<nimbra::Base>();
    node->createTrashOutputs();
    node->createCameras(node);
    if (rclcdds::ok()) {
      node->activate();
      LOG_INFO("object_detect active with {0:d} camera(s), {1:d} executor thread(s)",
        node->cameraCount(), node->executors());
      rclcdds::executors::MultiThreadedExecutor executor(
        rclcdds::ExecutorOptions(), static_cast<size_t>(std::max(node->executors(), 1)), true,
        std::chrono::nanoseconds(-1));
      executor.add_node(node->get_node_base_interface());
      executor.spin();
    }
    // The node goes before the runtime: cameras stop and join their workers on the way.
    node.reset();
  } catch (const std::exception & e) {
    LOG_ERROR("object_detect start-up failed: {0:s}", e.what());
    status = 1;
  }
  if (rclcdds::ok()) {
    rclcdds::shutdown();
  }
  return status;
}
