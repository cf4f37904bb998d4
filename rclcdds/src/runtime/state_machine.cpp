#include "rclcdds/lifecycle/state_machine.hpp"

#include <chrono>
#include <exception>

#include <lifecycle_msgs/msg/state.hpp>
#include <lifecycle_msgs/msg/transition.hpp>

#include "runtime_log.hpp"

namespace rclcdds_lifecycle
{

namespace
{

using S = lifecycle_msgs::msg::State;
using T = lifecycle_msgs::msg::Transition;

constexpr const char kSuccess[] = "transition_success";
constexpr const char kFailure[] = "transition_failure";
constexpr const char kError[] = "transition_error";

}  // namespace

std::string state_label(uint8_t state_id)
{
  switch (state_id) {
    case S::PRIMARY_STATE_UNCONFIGURED: return "unconfigured";
    case S::PRIMARY_STATE_INACTIVE: return "inactive";
    case S::PRIMARY_STATE_ACTIVE: return "active";
    case S::PRIMARY_STATE_FINALIZED: return "finalized";
    case S::TRANSITION_STATE_CONFIGURING: return "configuring";
    case S::TRANSITION_STATE_CLEANINGUP: return "cleaningup";
    case S::TRANSITION_STATE_SHUTTINGDOWN: return "shuttingdown";
    case S::TRANSITION_STATE_ACTIVATING: return "activating";
    case S::TRANSITION_STATE_DEACTIVATING: return "deactivating";
    case S::TRANSITION_STATE_ERRORPROCESSING: return "errorprocessing";
    default: return "unknown";
  }
}

/// One edge of the graph: transition id and label, start and goal state ids.
struct LifecycleStateMachine::Edge
{
  uint8_t id;
  const char * label;
  uint8_t start;
  uint8_t goal;
};

// The graph of rcl_lifecycle's default state machine.
const std::vector<LifecycleStateMachine::Edge> & LifecycleStateMachine::graph()
{
  static const std::vector<Edge> edges = {
    {T::TRANSITION_CONFIGURE, "configure", S::PRIMARY_STATE_UNCONFIGURED,
      S::TRANSITION_STATE_CONFIGURING},
    {T::TRANSITION_CLEANUP, "cleanup", S::PRIMARY_STATE_INACTIVE, S::TRANSITION_STATE_CLEANINGUP},
    {T::TRANSITION_ACTIVATE, "activate", S::PRIMARY_STATE_INACTIVE, S::TRANSITION_STATE_ACTIVATING},
    {T::TRANSITION_DEACTIVATE, "deactivate", S::PRIMARY_STATE_ACTIVE,
      S::TRANSITION_STATE_DEACTIVATING},
    {T::TRANSITION_UNCONFIGURED_SHUTDOWN, "shutdown", S::PRIMARY_STATE_UNCONFIGURED,
      S::TRANSITION_STATE_SHUTTINGDOWN},
    {T::TRANSITION_INACTIVE_SHUTDOWN, "shutdown", S::PRIMARY_STATE_INACTIVE,
      S::TRANSITION_STATE_SHUTTINGDOWN},
    {T::TRANSITION_ACTIVE_SHUTDOWN, "shutdown", S::PRIMARY_STATE_ACTIVE,
      S::TRANSITION_STATE_SHUTTINGDOWN},
    {T::TRANSITION_ON_CONFIGURE_SUCCESS, kSuccess, S::TRANSITION_STATE_CONFIGURING,
      S::PRIMARY_STATE_INACTIVE},
    {T::TRANSITION_ON_CONFIGURE_FAILURE, kFailure, S::TRANSITION_STATE_CONFIGURING,
      S::PRIMARY_STATE_UNCONFIGURED},
    {T::TRANSITION_ON_CONFIGURE_ERROR, kError, S::TRANSITION_STATE_CONFIGURING,
      S::TRANSITION_STATE_ERRORPROCESSING},
    {T::TRANSITION_ON_CLEANUP_SUCCESS, kSuccess, S::TRANSITION_STATE_CLEANINGUP,
      S::PRIMARY_STATE_UNCONFIGURED},
    {T::TRANSITION_ON_CLEANUP_FAILURE, kFailure, S::TRANSITION_STATE_CLEANINGUP,
      S::PRIMARY_STATE_INACTIVE},
    {T::TRANSITION_ON_CLEANUP_ERROR, kError, S::TRANSITION_STATE_CLEANINGUP,
      S::TRANSITION_STATE_ERRORPROCESSING},
    {T::TRANSITION_ON_ACTIVATE_SUCCESS, kSuccess, S::TRANSITION_STATE_ACTIVATING,
      S::PRIMARY_STATE_ACTIVE},
    {T::TRANSITION_ON_ACTIVATE_FAILURE, kFailure, S::TRANSITION_STATE_ACTIVATING,
      S::PRIMARY_STATE_INACTIVE},
    {T::TRANSITION_ON_ACTIVATE_ERROR, kError, S::TRANSITION_STATE_ACTIVATING,
      S::TRANSITION_STATE_ERRORPROCESSING},
    {T::TRANSITION_ON_DEACTIVATE_SUCCESS, kSuccess, S::TRANSITION_STATE_DEACTIVATING,
      S::PRIMARY_STATE_INACTIVE},
    {T::TRANSITION_ON_DEACTIVATE_FAILURE, kFailure, S::TRANSITION_STATE_DEACTIVATING,
      S::PRIMARY_STATE_ACTIVE},
    {T::TRANSITION_ON_DEACTIVATE_ERROR, kError, S::TRANSITION_STATE_DEACTIVATING,
      S::TRANSITION_STATE_ERRORPROCESSING},
    {T::TRANSITION_ON_SHUTDOWN_SUCCESS, kSuccess, S::TRANSITION_STATE_SHUTTINGDOWN,
      S::PRIMARY_STATE_FINALIZED},
    {T::TRANSITION_ON_SHUTDOWN_FAILURE, kFailure, S::TRANSITION_STATE_SHUTTINGDOWN,
      S::PRIMARY_STATE_FINALIZED},
    {T::TRANSITION_ON_SHUTDOWN_ERROR, kError, S::TRANSITION_STATE_SHUTTINGDOWN,
      S::TRANSITION_STATE_ERRORPROCESSING},
    {T::TRANSITION_ON_ERROR_SUCCESS, kSuccess, S::TRANSITION_STATE_ERRORPROCESSING,
      S::PRIMARY_STATE_UNCONFIGURED},
    {T::TRANSITION_ON_ERROR_FAILURE, kFailure, S::TRANSITION_STATE_ERRORPROCESSING,
      S::PRIMARY_STATE_FINALIZED},
    {T::TRANSITION_ON_ERROR_ERROR, kError, S::TRANSITION_STATE_ERRORPROCESSING,
      S::PRIMARY_STATE_FINALIZED},
  };
  return edges;
}

Transition LifecycleStateMachine::to_transition(const Edge & e)
{
  return Transition(
    e.id, e.label, State(e.start, state_label(e.start)), State(e.goal, state_label(e.goal)));
}

namespace
{

const char * result_label(LifecycleStateMachine::CallbackReturn result)
{
  switch (result) {
    case LifecycleStateMachine::CallbackReturn::SUCCESS: return kSuccess;
    case LifecycleStateMachine::CallbackReturn::FAILURE: return kFailure;
    default: return kError;
  }
}

}  // namespace

LifecycleStateMachine::LifecycleStateMachine(node_interfaces::LifecycleNodeInterface * node)
: node_(node), current_(S::PRIMARY_STATE_UNCONFIGURED)
{
  if (node_ != nullptr) {
    using Node = node_interfaces::LifecycleNodeInterface;
    const auto bind = [this](CallbackReturn (Node::* fn)(const State &)) {
        return [this, fn](const State & s) {return (node_->*fn)(s);};
      };
    callbacks_[S::TRANSITION_STATE_CONFIGURING] = bind(&Node::on_configure);
    callbacks_[S::TRANSITION_STATE_CLEANINGUP] = bind(&Node::on_cleanup);
    callbacks_[S::TRANSITION_STATE_SHUTTINGDOWN] = bind(&Node::on_shutdown);
    callbacks_[S::TRANSITION_STATE_ACTIVATING] = bind(&Node::on_activate);
    callbacks_[S::TRANSITION_STATE_DEACTIVATING] = bind(&Node::on_deactivate);
    callbacks_[S::TRANSITION_STATE_ERRORPROCESSING] = bind(&Node::on_error);
  }
}

#define RCLCDDS_REGISTER(fn, state) \
  bool LifecycleStateMachine::fn(TransitionCallback callback) \
  { \
    std::lock_guard<std::recursive_mutex> lock(mutex_); \
    callbacks_[state] = std::move(callback); \
    return true; \
  }
RCLCDDS_REGISTER(register_on_configure, S::TRANSITION_STATE_CONFIGURING)
RCLCDDS_REGISTER(register_on_cleanup, S::TRANSITION_STATE_CLEANINGUP)
RCLCDDS_REGISTER(register_on_shutdown, S::TRANSITION_STATE_SHUTTINGDOWN)
RCLCDDS_REGISTER(register_on_activate, S::TRANSITION_STATE_ACTIVATING)
RCLCDDS_REGISTER(register_on_deactivate, S::TRANSITION_STATE_DEACTIVATING)
RCLCDDS_REGISTER(register_on_error, S::TRANSITION_STATE_ERRORPROCESSING)
#undef RCLCDDS_REGISTER

State LifecycleStateMachine::get_current_state() const
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return State(current_, state_label(current_));
}

std::vector<State> LifecycleStateMachine::get_available_states() const
{
  std::vector<State> states;
  for (uint8_t id : {S::PRIMARY_STATE_UNCONFIGURED, S::PRIMARY_STATE_INACTIVE,
      S::PRIMARY_STATE_ACTIVE, S::PRIMARY_STATE_FINALIZED, S::TRANSITION_STATE_CONFIGURING,
      S::TRANSITION_STATE_CLEANINGUP, S::TRANSITION_STATE_SHUTTINGDOWN,
      S::TRANSITION_STATE_ACTIVATING, S::TRANSITION_STATE_DEACTIVATING,
      S::TRANSITION_STATE_ERRORPROCESSING})
  {
    states.emplace_back(id, state_label(id));
  }
  return states;
}

std::vector<Transition> LifecycleStateMachine::get_available_transitions() const
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<Transition> out;
  for (const auto & e : graph()) {
    if (e.start == current_) {
      out.push_back(to_transition(e));
    }
  }
  return out;
}

std::vector<Transition> LifecycleStateMachine::get_transition_graph() const
{
  std::vector<Transition> out;
  for (const auto & e : graph()) {
    out.push_back(to_transition(e));
  }
  return out;
}

const LifecycleStateMachine::Edge * LifecycleStateMachine::find_edge(uint8_t start, uint8_t id) const
{
  for (const Edge & e : graph()) {
    if (e.start == start && e.id == id) {
      return &e;
    }
  }
  return nullptr;
}

const LifecycleStateMachine::Edge * LifecycleStateMachine::find_edge(
  uint8_t start, const std::string & label) const
{
  for (const Edge & e : graph()) {
    if (e.start == start && label == e.label) {
      return &e;
    }
  }
  return nullptr;
}

void LifecycleStateMachine::move_along(const Edge & edge)
{
  current_ = edge.goal;
  if (!event_callback_) {
    return;
  }
  lifecycle_msgs::msg::TransitionEvent event;
  event.timestamp = static_cast<uint64_t>(
    std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch()).count());
  event.transition.id = edge.id;
  event.transition.label = edge.label;
  event.start_state.id = edge.start;
  event.start_state.label = state_label(edge.start);
  event.goal_state.id = edge.goal;
  event.goal_state.label = state_label(edge.goal);
  event_callback_(event);
}

LifecycleStateMachine::CallbackReturn LifecycleStateMachine::execute_callback(
  uint8_t transition_state, const State & previous)
{
  auto it = callbacks_.find(transition_state);
  if (it == callbacks_.end() || !it->second) {
    return CallbackReturn::SUCCESS;
  }
  try {
    return it->second(previous);
  } catch (const std::exception & e) {
    error(
      "Caught exception in callback for transition " + std::to_string(transition_state) +
      " (" + state_label(transition_state) + "): " + e.what());
  } catch (...) {
    error(
      "Caught unknown exception in callback for transition " + std::to_string(transition_state));
  }
  return CallbackReturn::ERROR;
}

bool LifecycleStateMachine::change_state(uint8_t transition_id, CallbackReturn & cb_return_code)
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  cb_return_code = CallbackReturn::FAILURE;
  const Edge * start_edge = in_transition_ ? nullptr : find_edge(current_, transition_id);
  if (start_edge == nullptr || transition_id >= T::TRANSITION_ON_CONFIGURE_SUCCESS) {
    warn(
      "Unable to start transition " + std::to_string(transition_id) + " from current state " +
      state_label(current_) + ": the transition is not available from this state");
    return false;
  }
  in_transition_ = true;
  const State previous(current_, state_label(current_));
  const Edge first = *start_edge;
  move_along(first);
  if (current_ == S::TRANSITION_STATE_ACTIVATING) {
    sync_entities(true);  // so on_activate may already publish
  }
  cb_return_code = execute_callback(current_, previous);
  const Edge * done = find_edge(current_, result_label(cb_return_code));
  move_along(*done);
  if (cb_return_code == CallbackReturn::ERROR) {
    warn("Error occurred during transition " + std::string(first.label) + ", processing the error");
    const CallbackReturn error_code = execute_callback(current_, previous);
    const Edge * after_error = find_edge(current_, result_label(error_code));
    move_along(*after_error);
  }
  sync_entities(current_ == S::PRIMARY_STATE_ACTIVE);
  in_transition_ = false;
  return true;
}

State LifecycleStateMachine::trigger_transition(uint8_t transition_id, CallbackReturn & cb_return_code)
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  change_state(transition_id, cb_return_code);
  return get_current_state();
}

State LifecycleStateMachine::trigger_transition(uint8_t transition_id)
{
  CallbackReturn ignored;
  return trigger_transition(transition_id, ignored);
}

State LifecycleStateMachine::trigger_transition(
  const Transition & transition, CallbackReturn & cb_return_code)
{
  return trigger_transition(transition.id(), cb_return_code);
}

State LifecycleStateMachine::trigger_transition(const Transition & transition)
{
  return trigger_transition(transition.id());
}

State LifecycleStateMachine::trigger_transition(
  const std::string & label, CallbackReturn & cb_return_code)
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const Edge * edge = find_edge(current_, label);
  if (edge == nullptr) {
    cb_return_code = CallbackReturn::FAILURE;
    warn(
      "Unable to start transition '" + label + "' from current state " + state_label(current_) +
      ": the transition is not available from this state");
    return get_current_state();
  }
  return trigger_transition(edge->id, cb_return_code);
}

State LifecycleStateMachine::trigger_transition(const std::string & label)
{
  CallbackReturn ignored;
  return trigger_transition(label, ignored);
}

State LifecycleStateMachine::configure() {return trigger_transition(T::TRANSITION_CONFIGURE);}
State LifecycleStateMachine::configure(CallbackReturn & r)
{
  return trigger_transition(T::TRANSITION_CONFIGURE, r);
}
State LifecycleStateMachine::cleanup() {return trigger_transition(T::TRANSITION_CLEANUP);}
State LifecycleStateMachine::cleanup(CallbackReturn & r)
{
  return trigger_transition(T::TRANSITION_CLEANUP, r);
}
State LifecycleStateMachine::activate() {return trigger_transition(T::TRANSITION_ACTIVATE);}
State LifecycleStateMachine::activate(CallbackReturn & r)
{
  return trigger_transition(T::TRANSITION_ACTIVATE, r);
}
State LifecycleStateMachine::deactivate() {return trigger_transition(T::TRANSITION_DEACTIVATE);}
State LifecycleStateMachine::deactivate(CallbackReturn & r)
{
  return trigger_transition(T::TRANSITION_DEACTIVATE, r);
}
State LifecycleStateMachine::shutdown() {return trigger_transition(std::string("shutdown"));}
State LifecycleStateMachine::shutdown(CallbackReturn & r)
{
  return trigger_transition(std::string("shutdown"), r);
}

void LifecycleStateMachine::add_managed_entity(std::weak_ptr<ManagedEntityInterface> entity)
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (auto locked = entity.lock()) {
    if (current_ == S::PRIMARY_STATE_ACTIVE) {
      locked->on_activate();
    }
  }
  entities_.push_back(std::move(entity));
}

void LifecycleStateMachine::sync_entities(bool active)
{
  for (auto it = entities_.begin(); it != entities_.end(); ) {
    if (auto entity = it->lock()) {
      active ? entity->on_activate() : entity->on_deactivate();
      ++it;
    } else {
      it = entities_.erase(it);
    }
  }
}

void LifecycleStateMachine::set_transition_event_callback(TransitionEventCallback callback)
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  event_callback_ = std::move(callback);
}

void LifecycleStateMachine::set_log_sink(LogSink warn_sink, LogSink error_sink)
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  warn_sink_ = std::move(warn_sink);
  error_sink_ = std::move(error_sink);
}

void LifecycleStateMachine::warn(const std::string & message) const
{
  if (warn_sink_) {
    warn_sink_(message);
  } else {
    rclcdds::detail::runtime_logger()->warn("{}", message);
  }
}

void LifecycleStateMachine::error(const std::string & message) const
{
  if (error_sink_) {
    error_sink_(message);
  } else {
    rclcdds::detail::runtime_logger()->error("{}", message);
  }
}

}  // namespace rclcdds_lifecycle
