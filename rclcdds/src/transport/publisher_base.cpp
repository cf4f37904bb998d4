#include "rclcdds/publisher_base.hpp"

namespace rclcdds
{

PublisherBase::PublisherBase(
  Context::SharedPtr context, const std::string & topic_name, const MessageMembers & members,
  const QoS & qos, NodeEntities::WeakPtr node_entities)
: topic_name_(topic_name),
  members_(members),
  writer_(std::move(context), topic_endpoint_description(topic_name, members, qos)),
  node_entities_(std::move(node_entities))
{
  if (auto entities = node_entities_.lock()) {
    entities->add_writer(writer_.gid());
  }
}

PublisherBase::~PublisherBase()
{
  if (auto entities = node_entities_.lock()) {
    entities->remove_writer(writer_.gid());
  }
}

void PublisherBase::publish(const SerializedMessage & serialized_msg)
{
  if (!writer_.context()->is_valid()) {
    return;
  }
  writer_.write(SerializedMessage(serialized_msg));
}

void PublisherBase::publish_untyped(const void * msg)
{
  if (!writer_.context()->is_valid()) {
    return;
  }
  SerializedMessage payload;
  serialize_message(members_, msg, payload);
  writer_.write(std::move(payload));
}

}  // namespace rclcdds
