#include "rclcdds/graph/node_announcer.hpp"

#include <dds/dds.h>

#include <algorithm>
#include <cstring>
#include <map>

#include <rmw_dds_common/msg/participant_entities_info.hpp>

#include "rclcdds/logger.hpp"
#include "rclcdds/serialization.hpp"

namespace rclcdds
{
namespace graph
{

namespace
{

EndpointDescription discovery_endpoint()
{
  EndpointDescription description;
  description.topic_name = "ros_discovery_info";
  description.type_name =
    dds_type_name(get_message_members<rmw_dds_common::msg::ParticipantEntitiesInfo>());
  description.qos = QoS(KeepLast(1)).reliable().transient_local();
  return description;
}

rmw_dds_common::msg::Gid to_msg(const Gid & gid)
{
  rmw_dds_common::msg::Gid msg;
  std::copy(gid.begin(), gid.end(), msg.data.begin());
  return msg;
}

}  // namespace

NodeAnnouncer::SharedPtr NodeAnnouncer::for_context(const Context::SharedPtr & context)
{
  static std::mutex mutex;
  static std::map<const Context *, std::weak_ptr<NodeAnnouncer>> announcers;
  std::lock_guard<std::mutex> lock(mutex);
  for (auto it = announcers.begin(); it != announcers.end(); ) {
    it = it->second.expired() ? announcers.erase(it) : std::next(it);
  }
  if (auto existing = announcers[context.get()].lock()) {
    return existing;
  }
  auto announcer = std::make_shared<NodeAnnouncer>(context);
  announcers[context.get()] = announcer;
  return announcer;
}

NodeAnnouncer::NodeAnnouncer(const Context::SharedPtr & context)
: context_(context), writer_(context, discovery_endpoint())
{
  dds_guid_t guid;
  if (dds_get_guid(context_->participant(), &guid) == DDS_RETCODE_OK) {
    std::memcpy(participant_gid_.data(), guid.v, sizeof(guid.v));
  }
}

NodeAnnouncer::Registration NodeAnnouncer::add_node(
  const std::string & node_namespace, const std::string & node_name,
  const NodeEntities::SharedPtr & entities)
{
  const Entry * entry = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_.push_back(Entry{node_namespace, node_name, entities});
    entry = &nodes_.back();
  }
  std::weak_ptr<NodeAnnouncer> weak = shared_from_this();
  entities->set_listener(
    [weak] {
      if (auto self = weak.lock()) {
        self->publish();
      }
    });
  publish();
  // The registration keeps the announcer (and its writer, which holds the transient-local
  // announcement) alive for as long as a node is registered.
  SharedPtr self = shared_from_this();
  return Registration(
    const_cast<Entry *>(entry), [self, entities](void * raw) {
      entities->set_listener(nullptr);
      self->remove(static_cast<const Entry *>(raw));
    });
}

void NodeAnnouncer::remove(const Entry * entry)
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_.remove_if([entry](const Entry & e) {return &e == entry;});
  }
  publish();
}

void NodeAnnouncer::publish()
{
  std::lock_guard<std::mutex> lock(mutex_);
  if (!context_->is_valid()) {
    return;
  }
  rmw_dds_common::msg::ParticipantEntitiesInfo info;
  info.gid = to_msg(participant_gid_);
  for (const Entry & entry : nodes_) {
    rmw_dds_common::msg::NodeEntitiesInfo node;
    node.node_namespace = entry.node_namespace;
    node.node_name = entry.node_name;
    if (auto entities = entry.entities.lock()) {
      for (const Gid & gid : entities->reader_gids()) {
        node.reader_gid_seq.push_back(to_msg(gid));
      }
      for (const Gid & gid : entities->writer_gids()) {
        node.writer_gid_seq.push_back(to_msg(gid));
      }
    }
    info.node_entities_info_seq.push_back(std::move(node));
  }
  try {
    SerializedMessage payload;
    serialize_message(
      get_message_members<rmw_dds_common::msg::ParticipantEntitiesInfo>(), &info, payload);
    writer_.write(std::move(payload));
  } catch (const std::exception & error) {
    RCLCDDS_WARN(
      get_logger("rclcdds.graph"), "cannot announce the nodes on ros_discovery_info: %s",
      error.what());
  }
}

}  // namespace graph
}  // namespace rclcdds
