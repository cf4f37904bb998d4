// Typed subscription shaped like rclcpp::Subscription<MessageT>.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "rclcdds/any_subscription_callback.hpp"
#include "rclcdds/subscription_base.hpp"

namespace rclcdds
{

/// Subscription to messages of type MessageT, dispatched by an executor to its callback.
template<class MessageT>
class Subscription : public SubscriptionBase
{
public:
  using SharedPtr = std::shared_ptr<Subscription<MessageT>>;
  using WeakPtr = std::weak_ptr<Subscription<MessageT>>;

  Subscription(
    Context::SharedPtr context, const std::string & topic_name, const QoS & qos,
    AnySubscriptionCallback<MessageT> callback, NodeEntities::WeakPtr node_entities = {})
  : SubscriptionBase(
      std::move(context), topic_name, get_message_members<MessageT>(), qos,
      std::move(node_entities)),
    callback_(std::move(callback))
  {
  }

  /// Takes one message without running the callback (for wait_for_message and polling).
  /// @return false when no well-formed message is waiting
  bool take(MessageT & msg, MessageInfo & info) {return take_untyped(&msg, info);}

  std::shared_ptr<void> take_data() override
  {
    auto taken = std::make_shared<Taken>();
    taken->msg = std::make_unique<MessageT>();
    if (!take_untyped(taken->msg.get(), taken->info)) {
      return nullptr;
    }
    return taken;
  }

  void execute(const std::shared_ptr<void> & data) override
  {
    auto taken = std::static_pointer_cast<Taken>(data);
    callback_.dispatch(std::move(taken->msg), taken->info);
  }

private:
  /// A message taken but not yet handed to the callback.
  struct Taken
  {
    std::unique_ptr<MessageT> msg;
    MessageInfo info;
  };

  AnySubscriptionCallback<MessageT> callback_;
};

}  // namespace rclcdds
