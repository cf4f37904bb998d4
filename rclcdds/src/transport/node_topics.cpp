#include "rclcdds/node_topics.hpp"

#include <dds/dds.h>

#include <algorithm>
#include <stdexcept>

#include "rclcdds/names.hpp"

namespace rclcdds
{

NodeTopics::NodeTopics(
  const std::string & node_name, const std::string & node_namespace, Context::SharedPtr context)
: context_(context ? std::move(context) : get_global_default_context()),
  name_(node_name),
  namespace_(normalize_namespace(node_namespace)),
  entities_(std::make_shared<NodeEntities>())
{
  validate_node_name(name_);
  fully_qualified_name_ = fully_qualified_node_name(name_, namespace_);
  if (context_->participant() <= 0) {
    throw std::runtime_error(
            "cannot create node '" + fully_qualified_name_ +
            "': the context is not initialized (call rclcdds::init first)");
  }
  notify_guard_ = dds_create_guardcondition(context_->participant());
  if (notify_guard_ < 0) {
    throw std::runtime_error(
            std::string("cannot create a guard condition: ") + dds_strretcode(notify_guard_));
  }
  default_group_ = create_callback_group(CallbackGroupType::MutuallyExclusive, true);
}

NodeTopics::~NodeTopics()
{
  if (notify_guard_ > 0) {
    dds_delete(notify_guard_);
  }
}

std::string NodeTopics::resolve_topic_name(const std::string & topic_name) const
{
  return remap_name(expand_topic_name(topic_name, name_, namespace_), false);
}

std::string NodeTopics::remap_name(const std::string & expanded_name, bool is_service) const
{
  (void)is_service;
  return expanded_name;
}

CallbackGroup::SharedPtr NodeTopics::create_callback_group(
  CallbackGroupType group_type, bool automatically_add_to_executor_with_node)
{
  auto group = std::make_shared<CallbackGroup>(group_type, automatically_add_to_executor_with_node);
  const int32_t guard = notify_guard_;
  group->set_on_change([guard] {dds_set_guardcondition(guard, true);});
  {
    std::lock_guard<std::mutex> lock(mutex_);
    groups_.push_back(group);
  }
  trigger_notify_guard_condition();
  return group;
}

std::vector<CallbackGroup::SharedPtr> NodeTopics::get_callback_groups() const
{
  std::vector<CallbackGroup::SharedPtr> groups;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto & weak : groups_) {
    if (auto group = weak.lock()) {
      groups.push_back(std::move(group));
    }
  }
  return groups;
}

bool NodeTopics::callback_group_in_node(const CallbackGroup::SharedPtr & group) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(
    groups_.begin(), groups_.end(),
    [&group](const CallbackGroup::WeakPtr & weak) {return weak.lock() == group;});
}

std::vector<SubscriptionBase::SharedPtr> NodeTopics::get_subscriptions() const
{
  std::vector<SubscriptionBase::SharedPtr> subscriptions;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto & weak : subscriptions_) {
    if (auto subscription = weak.lock()) {
      subscriptions.push_back(std::move(subscription));
    }
  }
  return subscriptions;
}

void NodeTopics::trigger_notify_guard_condition() const
{
  dds_set_guardcondition(notify_guard_, true);
}

void NodeTopics::add_waitable(const Waitable::SharedPtr & waitable, CallbackGroup::SharedPtr group)
{
  if (!group) {
    group = default_group_;
  } else if (!callback_group_in_node(group)) {
    throw std::runtime_error(
            "callback group was not created by node '" + fully_qualified_name_ + "'");
  }
  group->add_waitable(waitable);
}

void NodeTopics::add_subscription(
  const SubscriptionBase::SharedPtr & subscription, const CallbackGroup::SharedPtr & group)
{
  add_waitable(subscription, group);
  std::lock_guard<std::mutex> lock(mutex_);
  subscriptions_.erase(
    std::remove_if(
      subscriptions_.begin(), subscriptions_.end(),
      [](const SubscriptionBase::WeakPtr & weak) {return weak.expired();}),
    subscriptions_.end());
  subscriptions_.push_back(subscription);
}

}  // namespace rclcdds
