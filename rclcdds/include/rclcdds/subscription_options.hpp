// Options of create_subscription (as rclcpp::SubscriptionOptions).
#pragma once

#include "rclcdds/callback_group.hpp"

namespace rclcdds
{

/// Subscription options.
struct SubscriptionOptions
{
  /// Group whose executor runs the callback; the node's default group when empty.
  CallbackGroup::SharedPtr callback_group;
};

}  // namespace rclcdds
