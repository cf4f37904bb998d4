// Options of create_publisher (as rclcpp::PublisherOptions).
#pragma once

#include "rclcdds/callback_group.hpp"

namespace rclcdds
{

/// Publisher options; kept for rclcpp-shaped signatures (no publisher events yet).
struct PublisherOptions
{
  CallbackGroup::SharedPtr callback_group;  ///< group of future publisher events; unused
};

}  // namespace rclcdds
