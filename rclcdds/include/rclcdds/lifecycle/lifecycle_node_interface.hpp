// Transition callbacks of a managed node, shaped like
// rclcpp_lifecycle::node_interfaces::LifecycleNodeInterface.
#pragma once

#include <cstdint>

#include <lifecycle_msgs/msg/transition.hpp>

#include "rclcdds/lifecycle/state.hpp"

namespace rclcdds_lifecycle
{
namespace node_interfaces
{

/// Callbacks run while the node is in a transition state; each gets the state it left.
class LifecycleNodeInterface
{
public:
  /// Result of a transition callback (lifecycle_msgs TRANSITION_CALLBACK_* values).
  enum class CallbackReturn : uint8_t
  {
    SUCCESS = lifecycle_msgs::msg::Transition::TRANSITION_CALLBACK_SUCCESS,  ///< 97
    FAILURE = lifecycle_msgs::msg::Transition::TRANSITION_CALLBACK_FAILURE,  ///< 98
    ERROR = lifecycle_msgs::msg::Transition::TRANSITION_CALLBACK_ERROR,      ///< 99
  };

  virtual ~LifecycleNodeInterface() = default;

  /// configuring: SUCCESS -> inactive, FAILURE -> unconfigured, ERROR -> errorprocessing.
  virtual CallbackReturn on_configure(const State & previous_state);
  /// cleaningup: SUCCESS -> unconfigured, FAILURE -> inactive.
  virtual CallbackReturn on_cleanup(const State & previous_state);
  /// shuttingdown: SUCCESS or FAILURE -> finalized.
  virtual CallbackReturn on_shutdown(const State & previous_state);
  /// activating: SUCCESS -> active, FAILURE -> inactive.
  virtual CallbackReturn on_activate(const State & previous_state);
  /// deactivating: SUCCESS -> inactive, FAILURE -> active.
  virtual CallbackReturn on_deactivate(const State & previous_state);
  /// errorprocessing: SUCCESS -> unconfigured, otherwise finalized.
  virtual CallbackReturn on_error(const State & previous_state);
};

}  // namespace node_interfaces
}  // namespace rclcdds_lifecycle
