// Waits for one message on a topic with a temporary subscription (as rclcpp::wait_for_message).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "rclcdds/callback_group.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/qos.hpp"
#include "rclcdds/subscription.hpp"
#include "rclcdds/subscription_options.hpp"

namespace rclcdds
{
namespace detail
{

/// Blocks until `read_condition` triggers, `timeout` passes (negative: forever) or `context`
/// shuts down; true when the condition triggered.
bool wait_for_read_condition(
  int32_t read_condition, Context & context, std::chrono::nanoseconds timeout);

}  // namespace detail

/// Takes the next message of `subscription` into `out`, waiting up to `time_to_wait`
/// (negative: forever). False on timeout or shutdown.
template<class MsgT, class Rep = int64_t, class Period = std::milli>
bool wait_for_message(
  MsgT & out, const std::shared_ptr<Subscription<MsgT>> & subscription,
  const Context::SharedPtr & context,
  std::chrono::duration<Rep, Period> time_to_wait = std::chrono::duration<Rep, Period>(-1))
{
  const auto start = std::chrono::steady_clock::now();
  const auto budget = std::chrono::duration_cast<std::chrono::nanoseconds>(time_to_wait);
  MessageInfo info;
  for (;;) {
    if (subscription->take(out, info)) {
      return true;
    }
    std::chrono::nanoseconds left(-1);
    if (budget >= std::chrono::nanoseconds(0)) {
      left = budget - std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now() - start);
      if (left <= std::chrono::nanoseconds(0)) {
        return subscription->take(out, info);
      }
    }
    if (!detail::wait_for_read_condition(subscription->get_wait_entity(), *context, left)) {
      return subscription->take(out, info);
    }
  }
}

/// Subscribes to `topic` (resolved against `node`), waits up to `time_to_wait` (negative:
/// forever) for one message and unsubscribes. The temporary subscription sits in a callback
/// group no executor serves, so a node that is being spun elsewhere loses nothing to it.
/// @param qos subscription QoS; the default (keep-last 1, reliable, volatile) is rclcpp's
/// @return false on timeout or shutdown
template<class MsgT, class NodePtrT, class Rep = int64_t, class Period = std::milli>
bool wait_for_message(
  MsgT & out, const NodePtrT & node, const std::string & topic,
  std::chrono::duration<Rep, Period> time_to_wait = std::chrono::duration<Rep, Period>(-1),
  const QoS & qos = QoS(1))
{
  auto group = node->create_callback_group(CallbackGroupType::MutuallyExclusive, false);
  SubscriptionOptions options;
  options.callback_group = group;
  auto subscription = node->template create_subscription<MsgT>(
    topic, qos, [](const MsgT &) {}, options);
  return wait_for_message(out, subscription, node->get_context(), time_to_wait);
}

}  // namespace rclcdds
