// Lifecycle transition shaped like rclcpp_lifecycle::Transition.
#pragma once

#include <cstdint>
#include <string>

#include <lifecycle_msgs/msg/transition.hpp>
#include <lifecycle_msgs/msg/transition_description.hpp>

#include "rclcdds/lifecycle/state.hpp"

namespace rclcdds_lifecycle
{

/// One edge of the lifecycle state machine (ids as lifecycle_msgs/Transition).
class Transition
{
public:
  explicit Transition(uint8_t id, const std::string & label = "")
  : id_(id), label_(label) {}
  Transition(
    uint8_t id, const std::string & label, const State & start, const State & goal)
  : id_(id), label_(label), start_(start), goal_(goal) {}

  uint8_t id() const {return id_;}
  const std::string & label() const {return label_;}
  /// State the transition leaves (unknown when built from an id alone).
  const State & start_state() const {return start_;}
  /// State the transition enters (unknown when built from an id alone).
  const State & goal_state() const {return goal_;}

  lifecycle_msgs::msg::Transition to_msg() const
  {
    lifecycle_msgs::msg::Transition msg;
    msg.id = id_;
    msg.label = label_;
    return msg;
  }

  lifecycle_msgs::msg::TransitionDescription to_description_msg() const
  {
    lifecycle_msgs::msg::TransitionDescription msg;
    msg.transition = to_msg();
    msg.start_state = start_.to_msg();
    msg.goal_state = goal_.to_msg();
    return msg;
  }

private:
  uint8_t id_;         ///< lifecycle_msgs/Transition id
  std::string label_;  ///< "configure", "activate", "transition_success", ...
  State start_;        ///< source state
  State goal_;         ///< target state
};

}  // namespace rclcdds_lifecycle
