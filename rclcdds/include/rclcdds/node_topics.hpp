// Publisher/subscription factory of a node, shaped like rclcpp::Node's topic interface.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "rclcdds/callback_group.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/node_entities.hpp"
#include "rclcdds/publisher.hpp"
#include "rclcdds/publisher_options.hpp"
#include "rclcdds/qos.hpp"
#include "rclcdds/subscription.hpp"
#include "rclcdds/subscription_options.hpp"

namespace rclcdds
{

/// Name, namespace, callback groups, publishers and subscriptions of one node. rclcdds::Node
/// derives from it; on its own it is a node without parameters or discovery announcements.
class NodeTopics
{
public:
  using SharedPtr = std::shared_ptr<NodeTopics>;
  using WeakPtr = std::weak_ptr<NodeTopics>;

  /// @param node_namespace "" or "/" for the root namespace; relative ones are made absolute
  /// @param context the context to use; the global default one when empty
  /// @throws exceptions::InvalidNodeNameError, exceptions::InvalidNamespaceError
  NodeTopics(
    const std::string & node_name, const std::string & node_namespace = "",
    Context::SharedPtr context = nullptr);
  virtual ~NodeTopics();
  NodeTopics(const NodeTopics &) = delete;
  NodeTopics & operator=(const NodeTopics &) = delete;

  const std::string & get_name() const {return name_;}
  /// Absolute namespace, "/" for the root.
  const std::string & get_namespace() const {return namespace_;}
  /// "/ns/name".
  const std::string & get_fully_qualified_name() const {return fully_qualified_name_;}
  Context::SharedPtr get_context() const {return context_;}

  /// Expands a topic name against this node (relative, "~", substitutions) to its absolute form
  /// and applies the node's remapping rules (remap_name()). Every publisher and subscription
  /// made through this interface gets its topic from here, also when called through a base
  /// reference.
  /// @throws exceptions::InvalidTopicNameError
  std::string resolve_topic_name(const std::string & topic_name) const;

  /// Creates a publisher on the resolved topic.
  /// @throws exceptions::InvalidTopicNameError, std::runtime_error on DDS errors
  template<class MessageT>
  typename Publisher<MessageT>::SharedPtr create_publisher(
    const std::string & topic_name, const QoS & qos,
    const PublisherOptions & options = PublisherOptions())
  {
    (void)options;
    return std::make_shared<Publisher<MessageT>>(
      context_, resolve_topic_name(topic_name), qos, entities_);
  }

  /// Creates a subscription on the resolved topic; `callback` takes `const T&`,
  /// `std::shared_ptr<const T>`, `std::shared_ptr<T>` or `std::unique_ptr<T>`. It runs in the
  /// executor that serves `options.callback_group` (the node's default group when empty).
  /// @throws exceptions::InvalidTopicNameError, std::runtime_error on DDS errors
  template<class MessageT, class CallbackT>
  typename Subscription<MessageT>::SharedPtr create_subscription(
    const std::string & topic_name, const QoS & qos, CallbackT && callback,
    const SubscriptionOptions & options = SubscriptionOptions())
  {
    auto subscription = std::make_shared<Subscription<MessageT>>(
      context_, resolve_topic_name(topic_name), qos,
      AnySubscriptionCallback<MessageT>(std::forward<CallbackT>(callback)), entities_);
    add_subscription(subscription, options.callback_group);
    return subscription;
  }

  /// Creates a callback group owned by this node.
  CallbackGroup::SharedPtr create_callback_group(
    CallbackGroupType group_type, bool automatically_add_to_executor_with_node = true);

  /// The mutually exclusive group used when none is given.
  CallbackGroup::SharedPtr get_default_callback_group() const {return default_group_;}

  /// Every callback group of the node that is still alive.
  std::vector<CallbackGroup::SharedPtr> get_callback_groups() const;

  /// True when `group` was created by this node.
  bool callback_group_in_node(const CallbackGroup::SharedPtr & group) const;

  /// Live subscriptions of the node.
  std::vector<SubscriptionBase::SharedPtr> get_subscriptions() const;

  /// GIDs of the node's readers and writers (kept current for discovery announcements).
  NodeEntities::SharedPtr get_node_entities() const {return entities_;}

  /// Guard condition (dds_entity_t) triggered when executables are added to the node's groups;
  /// executors serving the node wait on it.
  int32_t get_notify_guard_condition() const {return notify_guard_;}

  /// Wakes the executors serving this node (they re-read its groups).
  void trigger_notify_guard_condition() const;

protected:
  /// Remapping hook: maps an expanded (absolute) topic or service name to the name actually
  /// used. NodeTopics keeps names as they are; rclcdds::Node applies its `-r from:=to` rules.
  /// Called once per name, so rules are never applied twice.
  virtual std::string remap_name(const std::string & expanded_name, bool is_service) const;

  /// Adds an executable to `group` (default group when empty) so executors run it.
  /// @throws std::runtime_error when `group` does not belong to this node
  void add_waitable(const Waitable::SharedPtr & waitable, CallbackGroup::SharedPtr group);

private:
  void add_subscription(
    const SubscriptionBase::SharedPtr & subscription, const CallbackGroup::SharedPtr & group);

  Context::SharedPtr context_;
  std::string name_;
  std::string namespace_;
  std::string fully_qualified_name_;
  NodeEntities::SharedPtr entities_;
  int32_t notify_guard_{0};
  CallbackGroup::SharedPtr default_group_;
  mutable std::mutex mutex_;
  std::vector<CallbackGroup::WeakPtr> groups_;
  std::vector<SubscriptionBase::WeakPtr> subscriptions_;
};

}  // namespace rclcdds
