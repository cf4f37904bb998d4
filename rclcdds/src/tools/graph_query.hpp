// What the DDS graph holds: topics with their types and QoS, and the announced ROS nodes.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "rclcdds/context.hpp"

namespace rclcdds_cli
{

/// One remote reader or writer of a ROS topic.
struct TopicEndpoint
{
  std::string topic;         ///< ROS name, e.g. "/chatter"
  std::string type;          ///< ROS type, e.g. "std_msgs/msg/String"
  bool is_writer{false};     ///< publisher (true) or subscription
  bool reliable{true};       ///< reliability of the endpoint
  bool transient_local{false};  ///< durability of the endpoint
};

/// Endpoints of ROS topics ("rt/..." DDS topics) of every other participant, after letting
/// discovery run for `settle`.
std::vector<TopicEndpoint> discover_topics(
  const rclcdds::Context & context, std::chrono::milliseconds settle);

/// Fully qualified names of the nodes other participants announce on ros_discovery_info,
/// sorted; names starting with '_' (hidden nodes) only when `include_hidden`. What is left out
/// (invalid or over-long names, more than kMaxAnnouncedNodes per participant, over-large
/// samples) is described in `warnings`.
std::vector<std::string> discover_nodes(
  const rclcdds::Context::SharedPtr & context, std::chrono::milliseconds settle,
  bool include_hidden, std::vector<std::string> * warnings = nullptr);

}  // namespace rclcdds_cli
