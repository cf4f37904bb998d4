// Lifecycle state machine (the standard graph, callback results, error processing, events) and
// the lifecycle publisher, over a fake publisher.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <std_msgs/msg/string.hpp>

#include "rclcdds/lifecycle/lifecycle_publisher.hpp"
#include "rclcdds/lifecycle/state_machine.hpp"

namespace
{

using rclcdds_lifecycle::LifecycleStateMachine;
using rclcdds_lifecycle::SimpleManagedEntity;
using rclcdds_lifecycle::State;
using CallbackReturn = rclcdds_lifecycle::node_interfaces::LifecycleNodeInterface::CallbackReturn;
using S = lifecycle_msgs::msg::State;
using T = lifecycle_msgs::msg::Transition;

/// Node whose callbacks return scripted results and record what ran.
class ScriptedNode : public rclcdds_lifecycle::node_interfaces::LifecycleNodeInterface
{
public:
  CallbackReturn on_configure(const State & s) override {return run("configure", s);}
  CallbackReturn on_cleanup(const State & s) override {return run("cleanup", s);}
  CallbackReturn on_shutdown(const State & s) override {return run("shutdown", s);}
  CallbackReturn on_activate(const State & s) override {return run("activate", s);}
  CallbackReturn on_deactivate(const State & s) override {return run("deactivate", s);}
  CallbackReturn on_error(const State & s) override {return run("error", s);}

  CallbackReturn next{CallbackReturn::SUCCESS};        ///< result of the next callback
  CallbackReturn error_result{CallbackReturn::SUCCESS};  ///< result of on_error
  bool throw_next{false};
  std::vector<std::string> calls;
  std::vector<uint8_t> previous_states;

private:
  CallbackReturn run(const std::string & name, const State & previous)
  {
    calls.push_back(name);
    previous_states.push_back(previous.id());
    if (name == "error") {
      return error_result;
    }
    if (throw_next) {
      throw std::runtime_error("camera failed");
    }
    return next;
  }
};

TEST(StateMachine, TransitionResultsFollowTheStandardGraph)
{
  constexpr uint8_t unconfigured = S::PRIMARY_STATE_UNCONFIGURED;
  constexpr uint8_t inactive = S::PRIMARY_STATE_INACTIVE;
  constexpr uint8_t active = S::PRIMARY_STATE_ACTIVE;
  constexpr uint8_t finalized = S::PRIMARY_STATE_FINALIZED;
  constexpr CallbackReturn ok = CallbackReturn::SUCCESS;
  constexpr CallbackReturn failure = CallbackReturn::FAILURE;
  constexpr CallbackReturn error = CallbackReturn::ERROR;
  struct Case
  {
    const char * name;
    uint8_t start;  ///< primary state reached first with successful transitions
    uint8_t transition;
    CallbackReturn result;
    uint8_t expected;
    CallbackReturn on_error = ok;  ///< result of on_error after an ERROR
  };
  // Successful configure, activate, deactivate, cleanup and shutdown from unconfigured: the
  // label/shortcut test walks through them.
  const std::vector<Case> cases = {
    {"configure fails", unconfigured, T::TRANSITION_CONFIGURE, failure, unconfigured},
    {"configure errs, error handled", unconfigured, T::TRANSITION_CONFIGURE, error, unconfigured},
    {"cleanup fails", inactive, T::TRANSITION_CLEANUP, failure, inactive},
    {"activate fails", inactive, T::TRANSITION_ACTIVATE, failure, inactive},
    {"activate errs, error not handled", inactive, T::TRANSITION_ACTIVATE, error, finalized,
      failure},
    {"deactivate fails", active, T::TRANSITION_DEACTIVATE, failure, active},
    {"deactivate errs, error handled", active, T::TRANSITION_DEACTIVATE, error, unconfigured},
    {"shutdown from inactive fails", inactive, T::TRANSITION_INACTIVE_SHUTDOWN, failure, finalized},
    {"shutdown from active", active, T::TRANSITION_ACTIVE_SHUTDOWN, ok, finalized},
  };
  for (const auto & c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedNode node;
    LifecycleStateMachine machine(&node);
    if (c.start != unconfigured) {
      machine.configure();
    }
    if (c.start == active) {
      machine.activate();
    }
    ASSERT_EQ(machine.get_current_state().id(), c.start);
    node.next = c.result;
    node.error_result = c.on_error;
    node.calls.clear();
    CallbackReturn returned = error;
    EXPECT_EQ(machine.trigger_transition(c.transition, returned).id(), c.expected);
    EXPECT_EQ(returned, c.result);
    // on_error runs exactly when the callback reported an error.
    EXPECT_EQ(node.calls.size(), c.result == error ? 2u : 1u);
    EXPECT_EQ(node.calls.back() == "error", c.result == error);
    if (c.expected == finalized) {
      EXPECT_TRUE(machine.get_available_transitions().empty());
    }
  }
}

TEST(StateMachine, ExceptionIsAnErrorRegisteredCallbacksReplaceVirtualsNoNestedTransitions)
{
  ScriptedNode node;
  LifecycleStateMachine machine(&node);
  std::vector<std::string> errors;
  machine.set_log_sink([](const std::string &) {}, [&](const std::string & e) {errors.push_back(e);});
  node.throw_next = true;
  CallbackReturn returned;
  EXPECT_EQ(machine.configure(returned).id(), S::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_EQ(returned, CallbackReturn::ERROR);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("camera failed"), std::string::npos);

  node.calls.clear();  // a registered callback replaces the virtual one
  machine.register_on_configure([](const State &) {return CallbackReturn::FAILURE;});
  EXPECT_EQ(machine.configure(returned).id(), S::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_EQ(returned, CallbackReturn::FAILURE);
  EXPECT_TRUE(node.calls.empty());

  State inner;  // a transition started from inside a callback is refused
  machine.register_on_configure(
    [&](const State &) {
      inner = machine.activate();
      return CallbackReturn::SUCCESS;
    });
  EXPECT_EQ(machine.configure().id(), S::PRIMARY_STATE_INACTIVE);
  EXPECT_EQ(inner.id(), S::TRANSITION_STATE_CONFIGURING);
}

TEST(StateMachine, RefusedTransitionsLabelTriggersShortcutsAvailableTransitionsAndEvents)
{
  ScriptedNode node;
  LifecycleStateMachine machine(&node);
  std::vector<std::string> events;
  machine.set_transition_event_callback(
    [&](const lifecycle_msgs::msg::TransitionEvent & e) {
      EXPECT_GT(e.timestamp, 0u);
      events.push_back(
        std::to_string(e.transition.id) + " " + e.transition.label + ": " + e.start_state.label +
        " [" + std::to_string(e.start_state.id) + "] -> " + e.goal_state.label + " [" +
        std::to_string(e.goal_state.id) + "]");
    });
  std::vector<std::string> warnings;
  machine.set_log_sink([&](const std::string & w) {warnings.push_back(w);}, nullptr);
  CallbackReturn returned = CallbackReturn::SUCCESS;
  EXPECT_FALSE(machine.change_state(T::TRANSITION_ACTIVATE, returned));
  EXPECT_EQ(returned, CallbackReturn::FAILURE);
  EXPECT_EQ(machine.activate().id(), S::PRIMARY_STATE_UNCONFIGURED);
  EXPECT_FALSE(machine.change_state(T::TRANSITION_ON_CONFIGURE_SUCCESS, returned));
  EXPECT_EQ(warnings.size(), 3u);
  EXPECT_EQ(
    warnings[0],
    "Unable to start transition 3 from current state unconfigured: the transition is not "
    "available from this state");

  EXPECT_EQ(machine.get_available_states().size(), 10u);
  EXPECT_EQ(machine.get_transition_graph().size(), 25u);
  auto available = machine.get_available_transitions();
  ASSERT_EQ(available.size(), 2u);
  EXPECT_EQ(available[0].label(), "configure");
  EXPECT_EQ(available[1].id(), T::TRANSITION_UNCONFIGURED_SHUTDOWN);
  EXPECT_EQ(available[1].goal_state().label(), "shuttingdown");

  EXPECT_EQ(machine.trigger_transition("configure").label(), "inactive");
  // Two events per transition (refused ones have none): into the transition state and out.
  EXPECT_EQ(
    events, (std::vector<std::string>{"1 configure: unconfigured [1] -> configuring [10]",
      "10 transition_success: configuring [10] -> inactive [2]"}));
  EXPECT_EQ(machine.get_available_transitions().size(), 3u);
  EXPECT_EQ(
    machine.trigger_transition(rclcdds_lifecycle::Transition(T::TRANSITION_ACTIVATE)).label(),
    "active");
  EXPECT_EQ(machine.deactivate().label(), "inactive");
  EXPECT_EQ(machine.cleanup().label(), "unconfigured");
  EXPECT_EQ(machine.shutdown().label(), "finalized");
  EXPECT_EQ(
    node.calls,
    (std::vector<std::string>{"configure", "activate", "deactivate", "cleanup", "shutdown"}));
  EXPECT_EQ(node.previous_states[1], S::PRIMARY_STATE_INACTIVE);
}

TEST(StateMachine, ManagedEntitiesFollowTheActiveState)
{
  LifecycleStateMachine machine;
  auto entity = std::make_shared<SimpleManagedEntity>();
  machine.add_managed_entity(entity);
  bool active_during_on_activate = false;
  machine.register_on_activate(
    [&](const State &) {
      active_during_on_activate = entity->is_activated();
      return CallbackReturn::SUCCESS;
    });
  machine.configure();
  EXPECT_FALSE(entity->is_activated());
  machine.activate();
  EXPECT_TRUE(active_during_on_activate);
  EXPECT_TRUE(entity->is_activated());
  machine.deactivate();
  EXPECT_FALSE(entity->is_activated());

  machine.register_on_activate([](const State &) {return CallbackReturn::FAILURE;});
  machine.activate();
  EXPECT_FALSE(entity->is_activated());  // rolled back with the failed activation

  machine.register_on_activate([](const State &) {return CallbackReturn::SUCCESS;});
  machine.activate();
  auto late = std::make_shared<SimpleManagedEntity>();
  machine.add_managed_entity(late);
  EXPECT_TRUE(late->is_activated());  // added while active
  machine.shutdown();
  EXPECT_FALSE(entity->is_activated());
  EXPECT_FALSE(late->is_activated());
}

using Msg = std_msgs::msg::String;

/// Publisher stand-in recording what reaches the wire.
class FakePublisher
{
public:
  explicit FakePublisher(std::string topic) : topic_(std::move(topic)) {}
  virtual ~FakePublisher() = default;
  virtual void publish(const Msg & msg) {sent.push_back(msg.data);}
  virtual void publish(std::unique_ptr<Msg> msg) {sent.push_back(msg->data + " (owned)");}
  const char * get_topic_name() const {return topic_.c_str();}

  std::vector<std::string> sent;

private:
  std::string topic_;
};

// A machine drives on_activate/on_deactivate of its managed entities (this publisher is one):
// ManagedEntitiesFollowTheActiveState; through a node: test_node_processes.cpp's lifecycle peer.
TEST(LifecyclePublisher, DropsWhileInactiveAndWarnsOncePerPeriod)
{
  auto pub = std::make_shared<rclcdds_lifecycle::LifecyclePublisher<Msg, FakePublisher>>(
    "/detected_wastes");
  std::vector<std::string> warnings;
  pub->set_warning_sink([&](const std::string & w) {warnings.push_back(w);});

  pub->publish(Msg().set__data("a"));
  pub->publish(std::make_unique<Msg>(Msg().set__data("b")));
  FakePublisher & base = *pub;  // publishing through the base class is gated too
  base.publish(Msg().set__data("hidden"));
  EXPECT_TRUE(pub->sent.empty());
  EXPECT_EQ(pub->dropped_count(), 3u);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(
    warnings[0],
    "Trying to publish message on the topic '/detected_wastes', but the publisher is not activated");

  pub->on_activate();
  pub->publish(Msg().set__data("c"));
  pub->publish(std::make_unique<Msg>(Msg().set__data("d")));
  EXPECT_EQ(pub->sent, (std::vector<std::string>{"c", "d (owned)"}));

  pub->on_deactivate();
  pub->publish(Msg().set__data("e"));
  pub->publish(Msg().set__data("f"));
  EXPECT_EQ(pub->sent.size(), 2u);
  EXPECT_EQ(warnings.size(), 2u);  // one more warning for the new inactive period
}

}  // namespace
