#include "rclcdds/lifecycle_node.hpp"

#include <memory>

#include "../transport/warning_limiter.hpp"

namespace rclcdds_lifecycle
{

LifecycleNode::LifecycleNode(
  const std::string & node_name, const rclcdds::NodeOptions & options,
  bool enable_communication_interface)
: LifecycleNode(node_name, "", options, enable_communication_interface)
{
}

LifecycleNode::LifecycleNode(
  const std::string & node_name, const std::string & node_namespace,
  const rclcdds::NodeOptions & options, bool enable_communication_interface)
: rclcdds::Node(node_name, node_namespace, options),
  state_machine_(this)
{
  const rclcdds::Logger logger = get_logger();
  // Refused transitions can come from any peer through ~/change_state: their warnings are
  // rate-limited, the others are not.
  auto refusals = std::make_shared<rclcdds::detail::WarningLimiter>();
  state_machine_.set_log_sink(
    [logger, refusals](const std::string & message) {
      uint64_t suppressed = 0;
      if (message.rfind("Unable to start transition", 0) != 0) {
        logger.log(rclcdds::Logger::Level::Warn, message);
      } else if (refusals->allow(suppressed)) {
        logger.log(
          rclcdds::Logger::Level::Warn,
          message + rclcdds::detail::WarningLimiter::suffix(suppressed));
      }
    },
    [logger](const std::string & message) {logger.log(rclcdds::Logger::Level::Error, message);});
  if (enable_communication_interface) {
    create_communication_interface();
  }
}

LifecycleNode::~LifecycleNode()
{
  state_machine_.set_transition_event_callback(nullptr);
}

void LifecycleNode::create_communication_interface()
{
  using namespace lifecycle_msgs::srv;  // NOLINT(build/namespaces)
  transition_event_publisher_ = rclcdds::Node::create_publisher<lifecycle_msgs::msg::TransitionEvent>(
    "~/transition_event", rclcdds::QoS(10));
  auto publisher = transition_event_publisher_;
  state_machine_.set_transition_event_callback(
    [publisher](const lifecycle_msgs::msg::TransitionEvent & event) {publisher->publish(event);});

  change_state_service_ = create_service<ChangeState>(
    "~/change_state",
    [this](
      const std::shared_ptr<ChangeState::Request> request,
      std::shared_ptr<ChangeState::Response> response) {on_change_state(request, response);});

  get_state_service_ = create_service<GetState>(
    "~/get_state",
    [this](const std::shared_ptr<GetState::Request>, std::shared_ptr<GetState::Response> response) {
      response->current_state = get_current_state().to_msg();
    });

  get_available_states_service_ = create_service<GetAvailableStates>(
    "~/get_available_states",
    [this](
      const std::shared_ptr<GetAvailableStates::Request>,
      std::shared_ptr<GetAvailableStates::Response> response) {
      for (const State & state : get_available_states()) {
        response->available_states.push_back(state.to_msg());
      }
    });

  get_available_transitions_service_ = create_service<GetAvailableTransitions>(
    "~/get_available_transitions",
    [this](
      const std::shared_ptr<GetAvailableTransitions::Request>,
      std::shared_ptr<GetAvailableTransitions::Response> response) {
      for (const Transition & transition : get_available_transitions()) {
        response->available_transitions.push_back(transition.to_description_msg());
      }
    });

  get_transition_graph_service_ = create_service<GetAvailableTransitions>(
    "~/get_transition_graph",
    [this](
      const std::shared_ptr<GetAvailableTransitions::Request>,
      std::shared_ptr<GetAvailableTransitions::Response> response) {
      for (const Transition & transition : get_transition_graph()) {
        response->available_transitions.push_back(transition.to_description_msg());
      }
    });
}

void LifecycleNode::on_change_state(
  const std::shared_ptr<lifecycle_msgs::srv::ChangeState::Request> request,
  std::shared_ptr<lifecycle_msgs::srv::ChangeState::Response> response)
{
  // A label wins over the id: command-line tools send id 0 with a label.
  uint8_t transition_id = request->transition.id;
  if (!request->transition.label.empty()) {
    bool found = false;
    for (const Transition & transition : get_available_transitions()) {
      if (transition.label() == request->transition.label) {
        transition_id = transition.id();
        found = true;
        break;
      }
    }
    if (!found) {
      static rclcdds::detail::WarningLimiter unknown_labels;
      uint64_t suppressed = 0;
      if (unknown_labels.allow(suppressed)) {
        RCLCDDS_WARN(
          get_logger(), "Unable to start transition '%s' from current state %s%s",
          rclcdds::detail::printable(request->transition.label, 64).c_str(),
          get_current_state().label().c_str(),
          rclcdds::detail::WarningLimiter::suffix(suppressed).c_str());
      }
      response->success = false;
      return;
    }
  }
  CallbackReturn cb_return_code = CallbackReturn::FAILURE;
  const bool started = state_machine_.change_state(transition_id, cb_return_code);
  response->success = started && cb_return_code == CallbackReturn::SUCCESS;
}

}  // namespace rclcdds_lifecycle
