// Announces the nodes of one participant on "ros_discovery_info", as rmw_dds_common does.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "rclcdds/context.hpp"
#include "rclcdds/gid.hpp"
#include "rclcdds/node_entities.hpp"
#include "rclcdds/raw_writer.hpp"

namespace rclcdds
{
namespace graph
{

/// Process-wide (per context) publisher of rmw_dds_common/ParticipantEntitiesInfo: the
/// participant's GID and, for every node, its name, namespace, reader and writer GIDs.
/// Republished (RELIABLE, TRANSIENT_LOCAL, KEEP_LAST 1) whenever a node or entity changes, so
/// Humble's `ros2 node list` / `ros2 node info` see our nodes.
class NodeAnnouncer : public std::enable_shared_from_this<NodeAnnouncer>
{
public:
  using SharedPtr = std::shared_ptr<NodeAnnouncer>;
  /// Keeps a node announced while it lives.
  using Registration = std::shared_ptr<void>;

  /// The announcer of `context`, created on first use.
  /// @throws std::runtime_error when DDS refuses the writer
  static SharedPtr for_context(const Context::SharedPtr & context);

  explicit NodeAnnouncer(const Context::SharedPtr & context);

  /// Announces a node; the node disappears from the announcement when the handle is dropped.
  Registration add_node(
    const std::string & node_namespace, const std::string & node_name,
    const NodeEntities::SharedPtr & entities);

  /// Publishes the current state (also called on every change).
  void publish();

  /// GID of the participant (GUID + 8 zero bytes).
  const Gid & participant_gid() const {return participant_gid_;}

private:
  /// One announced node.
  struct Entry
  {
    std::string node_namespace;
    std::string node_name;
    NodeEntities::WeakPtr entities;
  };

  void remove(const Entry * entry);

  Context::SharedPtr context_;
  Gid participant_gid_{};
  RawWriter writer_;
  std::mutex mutex_;
  std::list<Entry> nodes_;
};

}  // namespace graph
}  // namespace rclcdds
