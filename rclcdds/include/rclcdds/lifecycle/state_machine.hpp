// The standard lifecycle state machine of a managed node, without middleware.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <lifecycle_msgs/msg/transition_event.hpp>

#include "rclcdds/lifecycle/lifecycle_node_interface.hpp"
#include "rclcdds/lifecycle/managed_entity.hpp"
#include "rclcdds/lifecycle/state.hpp"
#include "rclcdds/lifecycle/transition.hpp"

namespace rclcdds_lifecycle
{

/// States 1-4 and 10-15 with transitions 1-7 and the callback results 10-62, as rcl_lifecycle's
/// default state machine. Runs the node's callbacks, processes errors, switches managed entities
/// (active exactly while the node is activating or active) and reports every state change.
/// Thread-safe: transitions are serialised; a transition requested from inside a callback fails.
class LifecycleStateMachine
{
public:
  using CallbackReturn = node_interfaces::LifecycleNodeInterface::CallbackReturn;
  using TransitionCallback = std::function<CallbackReturn(const State &)>;
  using TransitionEventCallback =
    std::function<void (const lifecycle_msgs::msg::TransitionEvent &)>;
  using LogSink = std::function<void (const std::string &)>;

  /// @param node object whose on_* callbacks run (not owned; null: every callback succeeds)
  explicit LifecycleStateMachine(node_interfaces::LifecycleNodeInterface * node = nullptr);

  /// @{ Replace the callback of one transition state (as rclcpp_lifecycle's register_on_*).
  bool register_on_configure(TransitionCallback callback);
  bool register_on_cleanup(TransitionCallback callback);
  bool register_on_shutdown(TransitionCallback callback);
  bool register_on_activate(TransitionCallback callback);
  bool register_on_deactivate(TransitionCallback callback);
  bool register_on_error(TransitionCallback callback);
  /// @}

  State get_current_state() const;
  /// All ten states.
  std::vector<State> get_available_states() const;
  /// Transitions leaving the current state.
  std::vector<Transition> get_available_transitions() const;
  /// Every transition of the machine.
  std::vector<Transition> get_transition_graph() const;

  /// @{ Runs a transition and returns the state it ends in (the current state when the
  /// transition is not available from it). `cb_return_code` receives the callback's result,
  /// or FAILURE when the transition could not start.
  State trigger_transition(const Transition & transition);
  State trigger_transition(const Transition & transition, CallbackReturn & cb_return_code);
  State trigger_transition(uint8_t transition_id);
  State trigger_transition(uint8_t transition_id, CallbackReturn & cb_return_code);
  /// By label ("configure", "cleanup", "activate", "deactivate", "shutdown").
  State trigger_transition(const std::string & label);
  State trigger_transition(const std::string & label, CallbackReturn & cb_return_code);
  /// @}

  /// @{ Shortcuts for the public transitions.
  State configure();
  State configure(CallbackReturn & cb_return_code);
  State cleanup();
  State cleanup(CallbackReturn & cb_return_code);
  State activate();
  State activate(CallbackReturn & cb_return_code);
  State deactivate();
  State deactivate(CallbackReturn & cb_return_code);
  State shutdown();
  State shutdown(CallbackReturn & cb_return_code);
  /// @}

  /// Runs a transition for the change_state service: false when it cannot start from the
  /// current state; otherwise true with the callback's result in `cb_return_code`.
  bool change_state(uint8_t transition_id, CallbackReturn & cb_return_code);

  /// Adds an entity that is activated with the node (kept by weak pointer).
  void add_managed_entity(std::weak_ptr<ManagedEntityInterface> entity);

  /// Receives a lifecycle_msgs/TransitionEvent for every state change (two per transition).
  void set_transition_event_callback(TransitionEventCallback callback);

  /// Replaces where warnings and errors go (default: the runtime logger).
  void set_log_sink(LogSink warn, LogSink error);

private:
  struct Edge;
  static const std::vector<Edge> & graph();
  static Transition to_transition(const Edge & edge);

  const Edge * find_edge(uint8_t start, uint8_t id) const;
  const Edge * find_edge(uint8_t start, const std::string & label) const;
  CallbackReturn execute_callback(uint8_t transition_state, const State & previous);
  void move_along(const Edge & edge);
  void sync_entities(bool active);
  void warn(const std::string & message) const;
  void error(const std::string & message) const;

  node_interfaces::LifecycleNodeInterface * node_;
  mutable std::recursive_mutex mutex_;
  bool in_transition_{false};
  uint8_t current_;
  std::map<uint8_t, TransitionCallback> callbacks_;
  std::vector<std::weak_ptr<ManagedEntityInterface>> entities_;
  TransitionEventCallback event_callback_;
  LogSink warn_sink_;
  LogSink error_sink_;
};

/// Label of a state id ("unconfigured", ..., "errorprocessing"; "unknown" otherwise).
std::string state_label(uint8_t state_id);

}  // namespace rclcdds_lifecycle
