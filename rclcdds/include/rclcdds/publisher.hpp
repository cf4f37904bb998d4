// Typed publisher shaped like rclcpp::Publisher<MessageT>.
#pragma once

#include <memory>
#include <string>

#include "rclcdds/publisher_base.hpp"

namespace rclcdds
{

/// Publisher of messages of type MessageT.
template<class MessageT>
class Publisher : public PublisherBase
{
public:
  using SharedPtr = std::shared_ptr<Publisher<MessageT>>;
  using WeakPtr = std::weak_ptr<Publisher<MessageT>>;
  using UniquePtr = std::unique_ptr<Publisher<MessageT>>;

  Publisher(
    Context::SharedPtr context, const std::string & topic_name, const QoS & qos,
    NodeEntities::WeakPtr node_entities = {})
  : PublisherBase(
      std::move(context), topic_name, get_message_members<MessageT>(), qos,
      std::move(node_entities))
  {
  }

  /// Serialises and sends `msg`.
  /// @throws SerializationError when a bounded field overflows; std::runtime_error on DDS errors
  virtual void publish(const MessageT & msg) {publish_untyped(&msg);}

  /// Sends and releases `msg`.
  virtual void publish(std::unique_ptr<MessageT> msg) {publish(*msg);}

  using PublisherBase::publish;
};

}  // namespace rclcdds
