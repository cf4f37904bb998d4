// Parameter store of a node, shaped like rclcpp::node_interfaces::NodeParameters.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <rcl_interfaces/msg/list_parameters_result.hpp>
#include <rcl_interfaces/msg/parameter_descriptor.hpp>
#include <rcl_interfaces/msg/parameter_event.hpp>
#include <rcl_interfaces/msg/set_parameters_result.hpp>

#include "rclcdds/arguments.hpp"
#include "rclcdds/clock.hpp"
#include "rclcdds/exceptions.hpp"
#include "rclcdds/node_options.hpp"
#include "rclcdds/parameter.hpp"

namespace rclcdds
{
namespace node_interfaces
{

/// Value and descriptor of one declared parameter.
struct ParameterInfo
{
  ParameterValue value;                                   ///< current value (may be not set)
  rcl_interfaces::msg::ParameterDescriptor descriptor;    ///< name, type, ranges, flags
};

/// Keeps an on-set-parameters callback registered for as long as the handle lives.
struct OnSetParametersCallbackHandle
{
  using OnSetParametersCallbackType =
    std::function<rcl_interfaces::msg::SetParametersResult(const std::vector<Parameter> &)>;
  using OnParametersSetCallbackType = OnSetParametersCallbackType;
  using SharedPtr = std::shared_ptr<OnSetParametersCallbackHandle>;

  OnSetParametersCallbackType callback;  ///< validates (and may apply) a set request
};

/// Keeps a post-set-parameters callback registered for as long as the handle lives.
struct PostSetParametersCallbackHandle
{
  using PostSetParametersCallbackType = std::function<void (const std::vector<Parameter> &)>;
  using SharedPtr = std::shared_ptr<PostSetParametersCallbackHandle>;

  PostSetParametersCallbackType callback;  ///< told about values that have just been applied
};

/// Declared parameters of one node with rclcpp's rules for declaring, setting, typing and
/// callbacks. Thread-safe; the on-set callbacks run under the store's (recursive) lock.
class NodeParameters
{
public:
  using OnSetParametersCallbackType = OnSetParametersCallbackHandle::OnSetParametersCallbackType;
  using OnParametersSetCallbackType = OnSetParametersCallbackType;
  /// Receives every change (declare, set, undeclare) as a /parameter_events message.
  using ParameterEventCallback = std::function<void(const rcl_interfaces::msg::ParameterEvent &)>;

  using PostSetParametersCallbackType =
    PostSetParametersCallbackHandle::PostSetParametersCallbackType;

  /// @param node_fqn full node name, used in parameter events ("/ns/node")
  /// @param options overrides, local arguments and the undeclared/auto-declare switches
  /// @param global_args the process's arguments, or null (ignored when
  ///   options.use_global_arguments() is false)
  /// @param event_callback /parameter_events hook, already in place for the auto-declared overrides
  /// @param event_clock stamps the events when given
  /// @throws as parsing options.arguments() and declaring the overrides may throw
  NodeParameters(
    const std::string & node_fqn, const NodeOptions & options, const Arguments * global_args,
    ParameterEventCallback event_callback = nullptr, Clock::SharedPtr event_clock = nullptr);

  /// Initial values for a node, lowest precedence first: the global arguments (files and -p in
  /// order), the node's own arguments, then options.parameter_overrides().
  static std::map<std::string, ParameterValue> resolve_overrides(
    const std::string & node_fqn, const NodeOptions & options, const Arguments * global_args);

  /// Declares a parameter; its value is the override if one exists, else `default_value`.
  /// A parameter with a type (not dynamic_typing) keeps that type for ever.
  /// @throws exceptions::ParameterAlreadyDeclaredException, exceptions::InvalidParametersException,
  ///   exceptions::InvalidParameterTypeException, exceptions::InvalidParameterValueException
  const ParameterValue & declare_parameter(
    const std::string & name, const ParameterValue & default_value = ParameterValue(),
    const rcl_interfaces::msg::ParameterDescriptor & descriptor =
    rcl_interfaces::msg::ParameterDescriptor(),
    bool ignore_override = false);

  /// Declares a statically typed parameter without default (its value comes from an override).
  const ParameterValue & declare_parameter(
    const std::string & name, ParameterType type,
    const rcl_interfaces::msg::ParameterDescriptor & descriptor =
    rcl_interfaces::msg::ParameterDescriptor(),
    bool ignore_override = false);

  /// Typed declare returning the value as ParameterT (as rclcpp::Node::declare_parameter<T>).
  template<typename ParameterT>
  auto declare_parameter(
    const std::string & name, const ParameterT & default_value,
    const rcl_interfaces::msg::ParameterDescriptor & descriptor =
    rcl_interfaces::msg::ParameterDescriptor(),
    bool ignore_override = false)
  {
    try {
      return static_cast<ParameterT>(
        declare_parameter(name, ParameterValue(default_value), descriptor, ignore_override)
        .template get<ParameterT>());
    } catch (const ParameterTypeException & ex) {
      throw exceptions::InvalidParameterTypeException(name, ex.what());
    }
  }

  /// Typed declare without default. @throws exceptions::UninitializedStaticallyTypedParameterException
  template<typename ParameterT>
  auto declare_parameter(
    const std::string & name,
    const rcl_interfaces::msg::ParameterDescriptor & descriptor =
    rcl_interfaces::msg::ParameterDescriptor(),
    bool ignore_override = false)
  {
    const ParameterValue type_probe{ParameterT{}};
    try {
      return static_cast<ParameterT>(
        declare_parameter(name, type_probe.get_type(), descriptor, ignore_override)
        .template get<ParameterT>());
    } catch (const ParameterTypeException &) {
      throw exceptions::UninitializedStaticallyTypedParameterException(name);
    }
  }

  /// @throws exceptions::ParameterNotDeclaredException, exceptions::ParameterImmutableException,
  ///   exceptions::InvalidParameterTypeException for a statically typed parameter
  void undeclare_parameter(const std::string & name);

  bool has_parameter(const std::string & name) const;

  /// Sets each parameter on its own (one result per parameter, in order).
  /// @throws exceptions::ParameterNotDeclaredException unless undeclared parameters are allowed
  std::vector<rcl_interfaces::msg::SetParametersResult> set_parameters(
    const std::vector<Parameter> & parameters);

  /// Sets all or none: a failed type or range check or a callback returning successful=false
  /// leaves every value unchanged. A parameter set to "not set" is undeclared.
  /// @throws exceptions::ParameterNotDeclaredException unless undeclared parameters are allowed
  rcl_interfaces::msg::SetParametersResult set_parameters_atomically(
    const std::vector<Parameter> & parameters);

  /// set_parameters for one parameter.
  rcl_interfaces::msg::SetParametersResult set_parameter(const Parameter & parameter);

  /// @throws exceptions::ParameterNotDeclaredException, exceptions::ParameterUninitializedException
  Parameter get_parameter(const std::string & name) const;

  /// False (and `parameter` untouched) when the parameter is not declared or has no value.
  bool get_parameter(const std::string & name, Parameter & parameter) const;

  /// Typed read: false when absent, else stores the value.
  /// @throws exceptions::InvalidParameterTypeException ("parameter 'x' has invalid type:
  ///   expected [integer] got [double]") when the stored type differs; integers and doubles
  ///   are never converted into each other
  template<typename ParameterT>
  bool get_parameter(const std::string & name, ParameterT & value) const
  {
    Parameter parameter;
    if (!get_parameter(name, parameter)) {
      return false;
    }
    value = static_cast<ParameterT>(parameter.get_value<ParameterT>());
    return true;
  }

  /// Typed read with a fallback for an absent parameter; true when the parameter was found.
  template<typename ParameterT>
  bool get_parameter_or(
    const std::string & name, ParameterT & value, const ParameterT & alternative_value) const
  {
    const bool found = get_parameter(name, value);
    if (!found) {
      value = alternative_value;
    }
    return found;
  }

  /// Typed read with a fallback for an absent parameter.
  template<typename ParameterT>
  ParameterT get_parameter_or(const std::string & name, const ParameterT & alternative_value) const
  {
    ParameterT value;
    get_parameter_or(name, value, alternative_value);
    return value;
  }

  /// @throws as get_parameter(name)
  std::vector<Parameter> get_parameters(const std::vector<std::string> & names) const;

  /// Parameters named "<prefix>.<rest>", keyed by <rest>; false when there is none.
  bool get_parameters_by_prefix(
    const std::string & prefix, std::map<std::string, Parameter> & parameters) const;

  /// Typed prefix read (as rclcpp::Node::get_parameters(prefix, map)).
  /// @throws exceptions::InvalidParameterTypeException when one of them has another type
  template<typename ParameterT>
  bool get_parameters(const std::string & prefix, std::map<std::string, ParameterT> & values) const
  {
    std::map<std::string, Parameter> params;
    const bool found = get_parameters_by_prefix(prefix, params);
    for (const auto & entry : params) {
      values[entry.first] = static_cast<ParameterT>(entry.second.get_value<ParameterT>());
    }
    return found;
  }

  /// @throws exceptions::ParameterNotDeclaredException unless undeclared parameters are allowed
  std::vector<rcl_interfaces::msg::ParameterDescriptor> describe_parameters(
    const std::vector<std::string> & names) const;
  rcl_interfaces::msg::ParameterDescriptor describe_parameter(const std::string & name) const;

  /// @throws exceptions::ParameterNotDeclaredException unless undeclared parameters are allowed
  std::vector<uint8_t> get_parameter_types(const std::vector<std::string> & names) const;

  /// Names (and their "." prefixes) matching `prefixes` up to `depth` levels (0: unlimited),
  /// as the list_parameters service answers.
  rcl_interfaces::msg::ListParametersResult list_parameters(
    const std::vector<std::string> & prefixes, uint64_t depth) const;

  /// Registers a callback that can refuse a set request; the newest callback runs first and the
  /// first refusal stops the request. Dropping the handle unregisters the callback.
  OnSetParametersCallbackHandle::SharedPtr add_on_set_parameters_callback(
    OnSetParametersCallbackType callback);

  /// @throws std::runtime_error when the handle is not registered
  void remove_on_set_parameters_callback(const OnSetParametersCallbackHandle * handle);

  /// Registers a callback told about every accepted change after it is applied (as rclcpp's
  /// post-set callbacks of later distributions). Dropping the handle unregisters it.
  PostSetParametersCallbackHandle::SharedPtr add_post_set_parameters_callback(
    PostSetParametersCallbackType callback);

  /// Initial values resolved at construction.
  const std::map<std::string, ParameterValue> & get_parameter_overrides() const
  {
    return parameter_overrides_;
  }

  /// Installs the hook that publishes /parameter_events; events are stamped with `clock` when
  /// given. Called under the store's lock, in the order of the changes.
  void set_parameter_event_callback(ParameterEventCallback callback, Clock::SharedPtr clock = nullptr);

  const std::string & get_fully_qualified_name() const {return node_fqn_;}

private:
  using CallbackContainer = std::list<std::weak_ptr<OnSetParametersCallbackHandle>>;
  class MutationGuard;

  rcl_interfaces::msg::SetParametersResult declare_common(
    const std::string & name, const ParameterValue & default_value,
    const rcl_interfaces::msg::ParameterDescriptor & descriptor,
    std::map<std::string, ParameterInfo> & parameters_out, CallbackContainer & callbacks,
    rcl_interfaces::msg::ParameterEvent * event, bool ignore_override);
  rcl_interfaces::msg::SetParametersResult set_atomically_common(
    const std::vector<Parameter> & parameters, std::map<std::string, ParameterInfo> & infos,
    CallbackContainer & callbacks, bool allow_undeclared);
  const ParameterValue & declare_helper(
    const std::string & name, ParameterType type, const ParameterValue & default_value,
    rcl_interfaces::msg::ParameterDescriptor descriptor, bool ignore_override);
  void emit(rcl_interfaces::msg::ParameterEvent & event);
  void call_post_set(const std::vector<Parameter> & parameters);

  mutable std::recursive_mutex mutex_;
  bool modification_enabled_{true};
  std::string node_fqn_;
  bool allow_undeclared_{false};
  std::map<std::string, ParameterValue> parameter_overrides_;
  std::map<std::string, ParameterInfo> parameters_;
  CallbackContainer on_set_callbacks_;
  std::list<std::weak_ptr<PostSetParametersCallbackHandle>> post_set_callbacks_;
  ParameterEventCallback event_callback_;
  Clock::SharedPtr event_clock_;
};

}  // namespace node_interfaces
}  // namespace rclcdds
