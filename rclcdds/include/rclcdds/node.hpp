// ROS 2 node shaped like rclcpp::Node: topics, services, timers, parameters, clock, logger.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <rcl_interfaces/msg/parameter_event.hpp>
#include <rosgraph_msgs/msg/clock.hpp>

#include "rclcdds/client.hpp"
#include "rclcdds/clock.hpp"
#include "rclcdds/logger.hpp"
#include "rclcdds/node_interfaces/node_parameters.hpp"
#include "rclcdds/node_options.hpp"
#include "rclcdds/node_topics.hpp"
#include "rclcdds/service.hpp"
#include "rclcdds/time_source.hpp"
#include "rclcdds/timer.hpp"

namespace rclcdds
{

class ParameterService;

/// A ROS 2 node. Name and namespace follow the `-r __node:=` / `-r __ns:=` rules of the
/// process and of NodeOptions::arguments(); topic and service names follow the `-r` rules.
/// The node offers the parameter services, publishes /parameter_events, drives its ROS clock
/// from /clock while "use_sim_time" is true, and is announced on ros_discovery_info.
class Node : public NodeTopics, public std::enable_shared_from_this<Node>
{
public:
  using SharedPtr = std::shared_ptr<Node>;
  using WeakPtr = std::weak_ptr<Node>;
  using OnSetParametersCallbackHandle = node_interfaces::OnSetParametersCallbackHandle;
  using OnParametersSetCallbackType = node_interfaces::NodeParameters::OnParametersSetCallbackType;

  /// @throws exceptions::InvalidNodeNameError, exceptions::InvalidNamespaceError, the parsing
  ///   and parameter exceptions of NodeOptions and NodeParameters, std::runtime_error when the
  ///   context is not initialised
  explicit Node(const std::string & node_name, const NodeOptions & options = NodeOptions());
  Node(
    const std::string & node_name, const std::string & node_namespace,
    const NodeOptions & options = NodeOptions());
  ~Node() override;

  /// This node as the handle executors take (as rclcpp's get_node_base_interface()).
  NodeTopics::SharedPtr get_node_base_interface() {return shared_from_this();}

  const NodeOptions & get_node_options() const {return options_;}

  /// Logger named after the node ("ns.name" without the leading slash).
  Logger get_logger() const {return logger_;}

  /// The node's ROS clock (system time, or /clock time while use_sim_time is true).
  Clock::SharedPtr get_clock() const {return clock_;}
  /// Current time of the node's clock.
  Time now() const {return clock_->now();}

  // create_publisher and create_subscription come from NodeTopics; its resolve_topic_name()
  // applies this node's `-r` rules through remap_name(), also through a NodeTopics reference.

  /// Timer on the steady clock; `callback` takes nothing or a TimerBase &.
  template<class DurationRepT, class DurationT, class CallbackT>
  typename WallTimer<CallbackT>::SharedPtr create_wall_timer(
    std::chrono::duration<DurationRepT, DurationT> period, CallbackT callback,
    CallbackGroup::SharedPtr group = nullptr)
  {
    auto timer = std::make_shared<WallTimer<CallbackT>>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(period), std::move(callback),
      get_context());
    add_waitable(timer, group);
    return timer;
  }

  /// Timer on the node's ROS clock (follows /clock under simulated time).
  template<class DurationRepT, class DurationT, class CallbackT>
  typename GenericTimer<CallbackT>::SharedPtr create_timer(
    std::chrono::duration<DurationRepT, DurationT> period, CallbackT callback,
    CallbackGroup::SharedPtr group = nullptr)
  {
    auto timer = std::make_shared<GenericTimer<CallbackT>>(
      clock_, std::chrono::duration_cast<std::chrono::nanoseconds>(period), std::move(callback),
      get_context());
    add_waitable(timer, group);
    return timer;
  }

  /// Service server; the callback takes (request, response), (id, request, response) or
  /// (id, request) for a deferred reply.
  template<class ServiceT, class CallbackT>
  typename Service<ServiceT>::SharedPtr create_service(
    const std::string & service_name, CallbackT && callback, const QoS & qos = ServicesQoS(),
    CallbackGroup::SharedPtr group = nullptr)
  {
    auto service = std::make_shared<Service<ServiceT>>(
      get_context(), resolve_remapped(service_name, true), std::forward<CallbackT>(callback),
      qos, get_node_entities());
    add_waitable(service, group);
    return service;
  }

  /// Service client; its replies are taken by the executor serving `group`.
  template<class ServiceT>
  typename Client<ServiceT>::SharedPtr create_client(
    const std::string & service_name, const QoS & qos = ServicesQoS(),
    CallbackGroup::SharedPtr group = nullptr)
  {
    auto client = std::make_shared<Client<ServiceT>>(
      get_context(), resolve_remapped(service_name, true), qos, get_node_entities());
    add_waitable(client, group);
    return client;
  }

  /// Fully qualified topic or service name after expansion and the `-r` rules.
  /// @throws exceptions::InvalidTopicNameError
  std::string resolve_remapped(const std::string & name, bool is_service) const;

  /// @{ Parameters, as rclcpp::Node (see node_interfaces::NodeParameters for the rules).
  const ParameterValue & declare_parameter(
    const std::string & name, const ParameterValue & default_value = ParameterValue(),
    const rcl_interfaces::msg::ParameterDescriptor & descriptor =
    rcl_interfaces::msg::ParameterDescriptor(),
    bool ignore_override = false)
  {
    return parameters_->declare_parameter(name, default_value, descriptor, ignore_override);
  }

  template<typename ParameterT>
  auto declare_parameter(
    const std::string & name, const ParameterT & default_value,
    const rcl_interfaces::msg::ParameterDescriptor & descriptor =
    rcl_interfaces::msg::ParameterDescriptor(),
    bool ignore_override = false)
  {
    return parameters_->declare_parameter<ParameterT>(
      name, default_value, descriptor, ignore_override);
  }

  void undeclare_parameter(const std::string & name) {parameters_->undeclare_parameter(name);}
  bool has_parameter(const std::string & name) const {return parameters_->has_parameter(name);}

  rcl_interfaces::msg::SetParametersResult set_parameter(const Parameter & parameter)
  {
    return parameters_->set_parameter(parameter);
  }
  std::vector<rcl_interfaces::msg::SetParametersResult> set_parameters(
    const std::vector<Parameter> & parameters)
  {
    return parameters_->set_parameters(parameters);
  }
  rcl_interfaces::msg::SetParametersResult set_parameters_atomically(
    const std::vector<Parameter> & parameters)
  {
    return parameters_->set_parameters_atomically(parameters);
  }

  Parameter get_parameter(const std::string & name) const {return parameters_->get_parameter(name);}
  bool get_parameter(const std::string & name, Parameter & parameter) const
  {
    return parameters_->get_parameter(name, parameter);
  }
  /// Typed read: false when absent. @throws exceptions::InvalidParameterTypeException
  template<typename ParameterT>
  bool get_parameter(const std::string & name, ParameterT & value) const
  {
    return parameters_->get_parameter(name, value);
  }
  template<typename ParameterT>
  bool get_parameter_or(
    const std::string & name, ParameterT & value, const ParameterT & alternative_value) const
  {
    return parameters_->get_parameter_or(name, value, alternative_value);
  }
  template<typename ParameterT>
  ParameterT get_parameter_or(const std::string & name, const ParameterT & alternative_value) const
  {
    return parameters_->get_parameter_or(name, alternative_value);
  }
  std::vector<Parameter> get_parameters(const std::vector<std::string> & names) const
  {
    return parameters_->get_parameters(names);
  }
  template<typename ParameterT>
  bool get_parameters(const std::string & prefix, std::map<std::string, ParameterT> & values) const
  {
    return parameters_->get_parameters(prefix, values);
  }
  rcl_interfaces::msg::ParameterDescriptor describe_parameter(const std::string & name) const
  {
    return parameters_->describe_parameter(name);
  }
  std::vector<rcl_interfaces::msg::ParameterDescriptor> describe_parameters(
    const std::vector<std::string> & names) const
  {
    return parameters_->describe_parameters(names);
  }
  std::vector<uint8_t> get_parameter_types(const std::vector<std::string> & names) const
  {
    return parameters_->get_parameter_types(names);
  }
  rcl_interfaces::msg::ListParametersResult list_parameters(
    const std::vector<std::string> & prefixes, uint64_t depth) const
  {
    return parameters_->list_parameters(prefixes, depth);
  }

  /// Registers a validating callback; it stays registered while the handle lives.
  OnSetParametersCallbackHandle::SharedPtr add_on_set_parameters_callback(
    OnParametersSetCallbackType callback)
  {
    return parameters_->add_on_set_parameters_callback(std::move(callback));
  }
  void remove_on_set_parameters_callback(const OnSetParametersCallbackHandle * handle)
  {
    parameters_->remove_on_set_parameters_callback(handle);
  }

  /// The parameter store (as rclcpp's get_node_parameters_interface()).
  std::shared_ptr<node_interfaces::NodeParameters> get_node_parameters_interface()
  {
    return parameters_;
  }
  /// @}

protected:
  /// Applies the `-r from:=to` rules of the node's and the process's arguments.
  std::string remap_name(const std::string & expanded_name, bool is_service) const override;

private:
  /// Name, namespace and parsed arguments after the remapping rules.
  struct Identity
  {
    std::string original_name;
    std::string name;
    std::string namespace_;
    Context::SharedPtr context;
    std::shared_ptr<const Arguments> global_arguments;  ///< null when not used
  };

  Node(Identity identity, const NodeOptions & options);
  static Identity resolve_identity(
    const std::string & node_name, const std::string & node_namespace, const NodeOptions & options);
  void update_clock_subscription(bool needed);

  NodeOptions options_;
  std::string original_name_;
  std::shared_ptr<const Arguments> global_arguments_;
  Logger logger_;
  Clock::SharedPtr clock_;
  Publisher<rcl_interfaces::msg::ParameterEvent>::SharedPtr parameter_events_publisher_;
  std::shared_ptr<node_interfaces::NodeParameters> parameters_;
  std::unique_ptr<TimeSource> time_source_;
  std::mutex clock_subscription_mutex_;
  Subscription<rosgraph_msgs::msg::Clock>::SharedPtr clock_subscription_;
  std::shared_ptr<ParameterService> parameter_service_;
  std::shared_ptr<void> announcement_;
};

}  // namespace rclcdds
