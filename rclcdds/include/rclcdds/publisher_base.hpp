// Type-erased part of a publisher: the DDS writer, topic name, GID and node registration.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "rclcdds/node_entities.hpp"
#include "rclcdds/qos.hpp"
#include "rclcdds/raw_writer.hpp"
#include "rclcdds/serialization.hpp"

namespace rclcdds
{

/// Publisher of one topic, message type known only through its introspection description.
class PublisherBase
{
public:
  using SharedPtr = std::shared_ptr<PublisherBase>;

  /// @param topic_name fully qualified ROS topic name, e.g. "/camera/image"
  /// @throws std::runtime_error when DDS refuses the writer
  PublisherBase(
    Context::SharedPtr context, const std::string & topic_name, const MessageMembers & members,
    const QoS & qos, NodeEntities::WeakPtr node_entities = {});
  virtual ~PublisherBase();
  PublisherBase(const PublisherBase &) = delete;
  PublisherBase & operator=(const PublisherBase &) = delete;

  /// Fully qualified ROS topic name.
  const char * get_topic_name() const {return topic_name_.c_str();}
  /// Number of matched subscriptions (any process).
  size_t get_subscription_count() const {return writer_.matched_subscription_count();}
  /// QoS the publisher was created with.
  const QoS & get_actual_qos() const {return writer_.qos();}
  /// ROS 2 GID of the DDS writer.
  Gid get_gid() const {return writer_.gid();}

  /// Publishes an already serialised message (encapsulation header included).
  void publish(const SerializedMessage & serialized_msg);

protected:
  /// Serialises `msg` (of the publisher's type) and writes it; silently does nothing once the
  /// context has been shut down, as rclcpp.
  void publish_untyped(const void * msg);

  std::string topic_name_;
  const MessageMembers & members_;
  RawWriter writer_;
  NodeEntities::WeakPtr node_entities_;
};

}  // namespace rclcdds
