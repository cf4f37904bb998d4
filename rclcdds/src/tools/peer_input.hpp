// What rclcdds_cli takes from other participants, checked apart from DDS: the type of a topic
// (several announced types are never resolved silently), the node names of ros_discovery_info
// (bounded), and message rates (good samples only).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include <rmw_dds_common/msg/participant_entities_info.hpp>

#include "graph_query.hpp"

namespace rclcdds_cli
{

/// True for "pkg/msg/Type" or "pkg/Type" where every part is [A-Za-z][A-Za-z0-9_]*.
bool valid_message_type_name(const std::string & type_name);

/// Type and QoS to read `topic` with, from its publishers.
struct TopicTypeChoice
{
  std::string type;              ///< "pkg/msg/Type"
  bool any_writer{false};        ///< a publisher of that type was seen
  bool all_reliable{true};       ///< every such publisher is reliable
  bool all_transient_local{true};  ///< every such publisher is transient local
  std::string note;              ///< a line for stderr (publishers of other types), or ""
};

/// Chooses the type of `topic` from the publishers in `endpoints`. With `given_type` that type
/// is used (and other announced types are named in `note`); without it, exactly one valid ROS
/// type must be announced.
/// @throws std::runtime_error with one line: no publisher, several types, or an invalid name
TopicTypeChoice choose_topic_type(
  const std::vector<TopicEndpoint> & endpoints, const std::string & topic,
  const std::string & given_type);

/// Limits on what one participant's ros_discovery_info sample may announce.
constexpr size_t kMaxAnnouncedNodes = 1024;
constexpr size_t kMaxAnnouncementBytes = 4u << 20;
constexpr size_t kMaxNodeNameLength = 255;
constexpr size_t kMaxNamespaceLength = 1024;

/// Fully qualified names of the valid nodes of one announcement: at most kMaxAnnouncedNodes
/// valid names; invalid or over-long ones are left out. Each thing left out is counted in one
/// line added to `warnings`.
std::vector<std::string> announced_node_names(
  const rmw_dds_common::msg::ParticipantEntitiesInfo & info, bool include_hidden,
  std::vector<std::string> & warnings);

/// Message rate over the last `window` good samples, as `ros2 topic hz` prints it.
class RateMonitor
{
public:
  using Clock = std::chrono::steady_clock;

  explicit RateMonitor(size_t window) : window_(window < 1 ? 1 : window) {}

  /// A sample that was decoded.
  void add_sample(Clock::time_point arrival);
  /// A sample that failed to decode: counted apart, never in the rate.
  void add_malformed() {++malformed_;}

  /// Lines for one report: "no new messages" when no good sample came since the previous
  /// report (or too few for a rate), else the average rate, gaps and window; a count of
  /// malformed samples since the previous report follows when there were any.
  std::string report();

  /// True once a rate was reported.
  bool reported_rate() const {return reported_rate_;}

private:
  size_t window_;
  std::deque<Clock::time_point> arrivals_;
  uint64_t new_samples_{0};
  uint64_t malformed_{0};
  bool reported_rate_{false};
};

}  // namespace rclcdds_cli
