// Managed (lifecycle) node shaped like rclcpp_lifecycle::LifecycleNode.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <lifecycle_msgs/msg/transition_event.hpp>
#include <lifecycle_msgs/srv/change_state.hpp>
#include <lifecycle_msgs/srv/get_available_states.hpp>
#include <lifecycle_msgs/srv/get_available_transitions.hpp>
#include <lifecycle_msgs/srv/get_state.hpp>

#include "rclcdds/lifecycle/lifecycle_node_interface.hpp"
#include "rclcdds/lifecycle/lifecycle_publisher.hpp"
#include "rclcdds/lifecycle/managed_entity.hpp"
#include "rclcdds/lifecycle/state.hpp"
#include "rclcdds/lifecycle/state_machine.hpp"
#include "rclcdds/lifecycle/transition.hpp"
#include "rclcdds/node.hpp"

namespace rclcdds_lifecycle
{

/// A node with the standard lifecycle: override the on_* callbacks (or register them), drive it
/// with configure()/activate()/... or from outside through "~/change_state". Publishers created
/// here are lifecycle publishers that send only while the node is active. With the
/// communication interface enabled it offers "~/change_state", "~/get_state",
/// "~/get_available_states", "~/get_available_transitions", "~/get_transition_graph" and
/// publishes every state change on "~/transition_event".
class LifecycleNode : public rclcdds::Node, public node_interfaces::LifecycleNodeInterface
{
public:
  using SharedPtr = std::shared_ptr<LifecycleNode>;
  using WeakPtr = std::weak_ptr<LifecycleNode>;
  using CallbackReturn = node_interfaces::LifecycleNodeInterface::CallbackReturn;
  using TransitionCallback = LifecycleStateMachine::TransitionCallback;

  explicit LifecycleNode(
    const std::string & node_name,
    const rclcdds::NodeOptions & options = rclcdds::NodeOptions(),
    bool enable_communication_interface = true);
  LifecycleNode(
    const std::string & node_name, const std::string & node_namespace,
    const rclcdds::NodeOptions & options = rclcdds::NodeOptions(),
    bool enable_communication_interface = true);
  ~LifecycleNode() override;

  /// Lifecycle publisher registered as a managed entity: inactive until the node activates.
  template<class MessageT>
  std::shared_ptr<LifecyclePublisher<MessageT>> create_publisher(
    const std::string & topic_name, const rclcdds::QoS & qos,
    const rclcdds::PublisherOptions & options = rclcdds::PublisherOptions())
  {
    (void)options;
    auto publisher = std::make_shared<LifecyclePublisher<MessageT>>(
      get_context(), resolve_remapped(topic_name, false), qos, get_node_entities());
    const rclcdds::Logger logger = get_logger();
    publisher->set_warning_sink(
      [logger](const std::string & message) {logger.log(rclcdds::Logger::Level::Warn, message);});
    add_managed_entity(publisher);
    return publisher;
  }

  /// @{ State machine.
  State get_current_state() const {return state_machine_.get_current_state();}
  std::vector<State> get_available_states() const {return state_machine_.get_available_states();}
  std::vector<Transition> get_available_transitions() const
  {
    return state_machine_.get_available_transitions();
  }
  std::vector<Transition> get_transition_graph() const
  {
    return state_machine_.get_transition_graph();
  }
  /// @}

  /// @{ Run a transition; they return the state reached (unchanged when not available).
  State trigger_transition(const Transition & transition)
  {
    return state_machine_.trigger_transition(transition);
  }
  State trigger_transition(const Transition & transition, CallbackReturn & cb_return_code)
  {
    return state_machine_.trigger_transition(transition, cb_return_code);
  }
  State trigger_transition(uint8_t transition_id)
  {
    return state_machine_.trigger_transition(transition_id);
  }
  State trigger_transition(uint8_t transition_id, CallbackReturn & cb_return_code)
  {
    return state_machine_.trigger_transition(transition_id, cb_return_code);
  }
  State configure() {return state_machine_.configure();}
  State configure(CallbackReturn & cb_return_code) {return state_machine_.configure(cb_return_code);}
  State cleanup() {return state_machine_.cleanup();}
  State cleanup(CallbackReturn & cb_return_code) {return state_machine_.cleanup(cb_return_code);}
  State activate() {return state_machine_.activate();}
  State activate(CallbackReturn & cb_return_code) {return state_machine_.activate(cb_return_code);}
  State deactivate() {return state_machine_.deactivate();}
  State deactivate(CallbackReturn & cb_return_code)
  {
    return state_machine_.deactivate(cb_return_code);
  }
  State shutdown() {return state_machine_.shutdown();}
  State shutdown(CallbackReturn & cb_return_code) {return state_machine_.shutdown(cb_return_code);}
  /// @}

  /// @{ Replace the callback of one transition (instead of overriding on_*).
  bool register_on_configure(TransitionCallback callback)
  {
    return state_machine_.register_on_configure(std::move(callback));
  }
  bool register_on_cleanup(TransitionCallback callback)
  {
    return state_machine_.register_on_cleanup(std::move(callback));
  }
  bool register_on_shutdown(TransitionCallback callback)
  {
    return state_machine_.register_on_shutdown(std::move(callback));
  }
  bool register_on_activate(TransitionCallback callback)
  {
    return state_machine_.register_on_activate(std::move(callback));
  }
  bool register_on_deactivate(TransitionCallback callback)
  {
    return state_machine_.register_on_deactivate(std::move(callback));
  }
  bool register_on_error(TransitionCallback callback)
  {
    return state_machine_.register_on_error(std::move(callback));
  }
  /// @}

  /// Switches `entity` on and off with the node (held weakly).
  void add_managed_entity(std::weak_ptr<ManagedEntityInterface> entity)
  {
    state_machine_.add_managed_entity(std::move(entity));
  }

private:
  void create_communication_interface();
  void on_change_state(
    const std::shared_ptr<lifecycle_msgs::srv::ChangeState::Request> request,
    std::shared_ptr<lifecycle_msgs::srv::ChangeState::Response> response);

  LifecycleStateMachine state_machine_;
  rclcdds::Publisher<lifecycle_msgs::msg::TransitionEvent>::SharedPtr transition_event_publisher_;
  rclcdds::Service<lifecycle_msgs::srv::ChangeState>::SharedPtr change_state_service_;
  rclcdds::Service<lifecycle_msgs::srv::GetState>::SharedPtr get_state_service_;
  rclcdds::Service<lifecycle_msgs::srv::GetAvailableStates>::SharedPtr
    get_available_states_service_;
  rclcdds::Service<lifecycle_msgs::srv::GetAvailableTransitions>::SharedPtr
    get_available_transitions_service_;
  rclcdds::Service<lifecycle_msgs::srv::GetAvailableTransitions>::SharedPtr
    get_transition_graph_service_;
};

}  // namespace rclcdds_lifecycle
