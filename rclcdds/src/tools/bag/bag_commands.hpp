// `rclcdds_cli bag record|play|info`: rosbag2 directories without a ROS 2 installation.
#pragma once

#include <string>
#include <vector>

#include "rclcdds/context.hpp"

namespace rclcdds_cli
{

/// Runs `bag VERB ARGS...`; returns the exit status.
/// @throws std::invalid_argument on a usage error
int bag_command(
  const rclcdds::Context::SharedPtr & context, const std::string & verb,
  const std::vector<std::string> & args);

}  // namespace rclcdds_cli
