// Lifecycle state shaped like rclcpp_lifecycle::State.
#pragma once

#include <cstdint>
#include <string>

#include <lifecycle_msgs/msg/state.hpp>

namespace rclcdds_lifecycle
{

/// One state of the lifecycle state machine (ids as lifecycle_msgs/State).
class State
{
public:
  State() : State(lifecycle_msgs::msg::State::PRIMARY_STATE_UNKNOWN, "unknown") {}
  State(uint8_t id, const std::string & label) : id_(id), label_(label) {}

  uint8_t id() const {return id_;}
  const std::string & label() const {return label_;}

  lifecycle_msgs::msg::State to_msg() const
  {
    lifecycle_msgs::msg::State msg;
    msg.id = id_;
    msg.label = label_;
    return msg;
  }

  bool operator==(const State & rhs) const {return id_ == rhs.id_;}
  bool operator!=(const State & rhs) const {return id_ != rhs.id_;}

private:
  uint8_t id_;         ///< lifecycle_msgs/State id
  std::string label_;  ///< "unconfigured", "inactive", "active", ...
};

}  // namespace rclcdds_lifecycle
