#include "rclcdds/node_interfaces/node_parameters.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <utility>

#include <rcl_interfaces/msg/parameter_type.hpp>

namespace rclcdds
{
namespace node_interfaces
{

using rcl_interfaces::msg::ParameterDescriptor;
using rcl_interfaces::msg::SetParametersResult;

/// Refuses changes made from inside an on-set callback (same thread, recursive lock).
class NodeParameters::MutationGuard
{
public:
  explicit MutationGuard(bool & enabled) : enabled_(enabled)
  {
    if (!enabled_) {
      throw exceptions::ParameterModifiedInCallbackException(
              "cannot set or declare a parameter, or change the callback from within set callback");
    }
    enabled_ = false;
  }
  ~MutationGuard() {enabled_ = true;}
  MutationGuard(const MutationGuard &) = delete;
  MutationGuard & operator=(const MutationGuard &) = delete;

private:
  bool & enabled_;
};

namespace
{

SetParametersResult success()
{
  SetParametersResult result;
  result.successful = true;
  return result;
}

SetParametersResult failure(const std::string & reason)
{
  SetParametersResult result;
  result.successful = false;
  result.reason = reason;
  return result;
}

bool doubles_equal(double x, double y, double ulp = 100.0)
{
  return std::abs(x - y) <= std::numeric_limits<double>::epsilon() * std::abs(x + y) * ulp;
}

std::string range_reason(const std::string & name, const char * range_type)
{
  return "Parameter {" + name + "} doesn't comply with " + range_type + " range.";
}

std::string type_reason(const std::string & name, ParameterType old_type, ParameterType new_type)
{
  return "Wrong parameter type, parameter {" + name + "} is of type {" + to_string(old_type) +
         "}, setting it to {" + to_string(new_type) + "} is not allowed.";
}

bool integer_in_range(int64_t v, const rcl_interfaces::msg::IntegerRange & range)
{
  if (v == range.from_value || v == range.to_value) {
    return true;
  }
  if (v < range.from_value || v > range.to_value) {
    return false;
  }
  return range.step == 0 || (v - range.from_value) % static_cast<int64_t>(range.step) == 0;
}

bool double_in_range(double v, const rcl_interfaces::msg::FloatingPointRange & range)
{
  if (doubles_equal(v, range.from_value) || doubles_equal(v, range.to_value)) {
    return true;
  }
  if (v < range.from_value || v > range.to_value || std::isnan(v)) {
    return false;
  }
  if (range.step == 0.0) {
    return true;
  }
  const double steps = std::round((v - range.from_value) / range.step);
  return doubles_equal(v, range.from_value + steps * range.step);
}

SetParametersResult check_range(const ParameterDescriptor & descriptor, const ParameterValue & value)
{
  if (!descriptor.integer_range.empty()) {
    const auto & range = descriptor.integer_range[0];
    if (value.get_type() == PARAMETER_INTEGER && !integer_in_range(value.get<int64_t>(), range)) {
      return failure(range_reason(descriptor.name, "integer"));
    }
    if (value.get_type() == PARAMETER_INTEGER_ARRAY) {
      for (int64_t v : value.get<std::vector<int64_t>>()) {
        if (!integer_in_range(v, range)) {
          return failure(range_reason(descriptor.name, "integer"));
        }
      }
    }
  }
  if (!descriptor.floating_point_range.empty()) {
    const auto & range = descriptor.floating_point_range[0];
    if (value.get_type() == PARAMETER_DOUBLE && !double_in_range(value.get<double>(), range)) {
      return failure(range_reason(descriptor.name, "floating point"));
    }
    if (value.get_type() == PARAMETER_DOUBLE_ARRAY) {
      for (double v : value.get<std::vector<double>>()) {
        if (!double_in_range(v, range)) {
          return failure(range_reason(descriptor.name, "floating point"));
        }
      }
    }
  }
  return success();
}

/// Type and range checks of a set request against the descriptors.
SetParametersResult check_parameters(
  std::map<std::string, ParameterInfo> & infos, const std::vector<Parameter> & parameters,
  bool allow_undeclared)
{
  for (const Parameter & parameter : parameters) {
    const std::string & name = parameter.get_name();
    ParameterDescriptor descriptor;
    auto it = infos.find(name);
    if (it != infos.end()) {
      descriptor = it->second.descriptor;
    } else if (allow_undeclared) {
      descriptor.dynamic_typing = true;  // implicitly declared parameters are dynamically typed
    }
    if (descriptor.name.empty()) {
      descriptor.name = name;
    }
    const auto declared_type = static_cast<ParameterType>(descriptor.type);
    if (!descriptor.dynamic_typing && declared_type != parameter.get_type()) {
      return failure(type_reason(name, declared_type, parameter.get_type()));
    }
    const SetParametersResult range = check_range(descriptor, parameter.get_parameter_value());
    if (!range.successful) {
      return range;
    }
  }
  return success();
}

template<typename Container>
SetParametersResult call_on_set_callbacks(
  const std::vector<Parameter> & parameters, Container & callbacks)
{
  SetParametersResult result = success();
  for (auto it = callbacks.begin(); it != callbacks.end(); ) {
    auto handle = it->lock();
    if (!handle) {
      it = callbacks.erase(it);
      continue;
    }
    result = handle->callback(parameters);
    if (!result.successful) {
      return result;
    }
    ++it;
  }
  return result;
}

}  // namespace

NodeParameters::NodeParameters(
  const std::string & node_fqn, const NodeOptions & options, const Arguments * global_args,
  ParameterEventCallback event_callback, Clock::SharedPtr event_clock)
: node_fqn_(node_fqn),
  allow_undeclared_(options.allow_undeclared_parameters()),
  parameter_overrides_(resolve_overrides(node_fqn, options, global_args)),
  event_callback_(std::move(event_callback)),
  event_clock_(std::move(event_clock))
{
  if (options.automatically_declare_parameters_from_overrides()) {
    ParameterDescriptor descriptor;
    descriptor.dynamic_typing = true;
    for (const auto & entry : parameter_overrides_) {
      if (!has_parameter(entry.first)) {
        declare_parameter(entry.first, entry.second, descriptor, true);
      }
    }
  }
}

std::map<std::string, ParameterValue> NodeParameters::resolve_overrides(
  const std::string & node_fqn, const NodeOptions & options, const Arguments * global_args)
{
  std::vector<ParameterOverride> assignments;
  if (global_args != nullptr && options.use_global_arguments()) {
    assignments = global_args->parameter_overrides();
  }
  const auto & local = options.parsed_arguments().parameter_overrides();
  assignments.insert(assignments.end(), local.begin(), local.end());
  std::map<std::string, ParameterValue> result = resolve_parameter_overrides(node_fqn, assignments);
  for (const Parameter & parameter : options.parameter_overrides()) {
    result[parameter.get_name()] = parameter.get_parameter_value();
  }
  return result;
}

SetParametersResult NodeParameters::set_atomically_common(
  const std::vector<Parameter> & parameters, std::map<std::string, ParameterInfo> & infos,
  CallbackContainer & callbacks, bool allow_undeclared)
{
  SetParametersResult result = check_parameters(infos, parameters, allow_undeclared);
  if (!result.successful) {
    return result;
  }
  result = call_on_set_callbacks(parameters, callbacks);
  if (!result.successful) {
    return result;
  }
  for (const Parameter & parameter : parameters) {
    ParameterInfo & info = infos[parameter.get_name()];
    info.descriptor.name = parameter.get_name();
    info.descriptor.type = parameter.get_type();
    info.value = parameter.get_parameter_value();
  }
  return result;
}

SetParametersResult NodeParameters::declare_common(
  const std::string & name, const ParameterValue & default_value,
  const ParameterDescriptor & descriptor, std::map<std::string, ParameterInfo> & parameters_out,
  CallbackContainer & callbacks, rcl_interfaces::msg::ParameterEvent * event, bool ignore_override)
{
  std::map<std::string, ParameterInfo> staged{{name, ParameterInfo()}};
  staged.at(name).descriptor = descriptor;
  staged.at(name).descriptor.name = name;

  const ParameterValue * initial = &default_value;
  const auto override_it = parameter_overrides_.find(name);
  if (!ignore_override && override_it != parameter_overrides_.end()) {
    initial = &override_it->second;
  }
  if (initial->get_type() == PARAMETER_NOT_SET) {
    if (descriptor.dynamic_typing) {
      staged.at(name).descriptor.type = PARAMETER_NOT_SET;
    }
    parameters_out[name] = staged.at(name);
    return success();
  }
  const std::vector<Parameter> wrapped{Parameter(name, *initial)};
  const SetParametersResult result = set_atomically_common(wrapped, staged, callbacks, false);
  if (!result.successful) {
    return result;
  }
  parameters_out[name] = staged.at(name);
  if (event != nullptr) {
    event->new_parameters.push_back(wrapped[0].to_parameter_msg());
  }
  return result;
}

const ParameterValue & NodeParameters::declare_helper(
  const std::string & name, ParameterType type, const ParameterValue & default_value,
  ParameterDescriptor descriptor, bool ignore_override)
{
  if (name.empty()) {
    throw exceptions::InvalidParametersException("parameter name must not be empty");
  }
  if (parameters_.count(name) != 0) {
    throw exceptions::ParameterAlreadyDeclaredException(
            "parameter '" + name + "' has already been declared");
  }
  if (!descriptor.dynamic_typing) {
    if (type == PARAMETER_NOT_SET) {
      type = default_value.get_type();
    }
    if (type == PARAMETER_NOT_SET) {
      throw exceptions::InvalidParameterTypeException(
              name, "cannot declare a statically typed parameter with an uninitialized value");
    }
    descriptor.type = type;
  }
  rcl_interfaces::msg::ParameterEvent event;
  const SetParametersResult result = declare_common(
    name, default_value, descriptor, parameters_, on_set_callbacks_, &event, ignore_override);
  if (!result.successful) {
    if (result.reason.rfind("Wrong parameter type", 0) == 0) {
      throw exceptions::InvalidParameterTypeException(name, result.reason);
    }
    throw exceptions::InvalidParameterValueException(
            "parameter '" + name + "' could not be set: " + result.reason);
  }
  emit(event);
  if (parameters_.at(name).value.get_type() != PARAMETER_NOT_SET) {
    call_post_set({Parameter(name, parameters_.at(name).value)});
  }
  return parameters_.at(name).value;
}

const ParameterValue & NodeParameters::declare_parameter(
  const std::string & name, const ParameterValue & default_value,
  const ParameterDescriptor & descriptor, bool ignore_override)
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  MutationGuard guard(modification_enabled_);
  return declare_helper(name, PARAMETER_NOT_SET, default_value, descriptor, ignore_override);
}

const ParameterValue & NodeParameters::declare_parameter(
  const std::string & name, ParameterType type, const ParameterDescriptor & descriptor,
  bool ignore_override)
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  MutationGuard guard(modification_enabled_);
  if (type == PARAMETER_NOT_SET) {
    throw std::invalid_argument(
            "declare_parameter(): the provided parameter type cannot be PARAMETER_NOT_SET");
  }
  if (descriptor.dynamic_typing) {
    throw std::invalid_argument(
            "declare_parameter(): cannot declare parameter of specific type and pass descriptor "
            "with `dynamic_typing=true`");
  }
  return declare_helper(name, type, ParameterValue(), descriptor, ignore_override);
}

void NodeParameters::undeclare_parameter(const std::string & name)
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  MutationGuard guard(modification_enabled_);
  auto it = parameters_.find(name);
  if (it == parameters_.end()) {
    throw exceptions::ParameterNotDeclaredException(
            "cannot undeclare parameter '" + name + "' which has not yet been declared");
  }
  if (it->second.descriptor.read_only) {
    throw exceptions::ParameterImmutableException(
            "cannot undeclare parameter '" + name + "' because it is read-only");
  }
  if (!it->second.descriptor.dynamic_typing) {
    throw exceptions::InvalidParameterTypeException(
            name, "cannot undeclare a statically typed parameter");
  }
  rcl_interfaces::msg::ParameterEvent event;
  event.deleted_parameters.push_back(Parameter(name, it->second.value).to_parameter_msg());
  parameters_.erase(it);
  emit(event);
}

bool NodeParameters::has_parameter(const std::string & name) const
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return parameters_.count(name) != 0;
}

std::vector<SetParametersResult> NodeParameters::set_parameters(
  const std::vector<Parameter> & parameters)
{
  std::vector<SetParametersResult> results;
  results.reserve(parameters.size());
  for (const Parameter & parameter : parameters) {
    results.push_back(set_parameters_atomically({parameter}));
  }
  return results;
}

SetParametersResult NodeParameters::set_parameter(const Parameter & parameter)
{
  return set_parameters_atomically({parameter});
}

SetParametersResult NodeParameters::set_parameters_atomically(
  const std::vector<Parameter> & parameters)
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  MutationGuard guard(modification_enabled_);

  std::vector<const Parameter *> to_declare;
  for (const Parameter & parameter : parameters) {
    const std::string & name = parameter.get_name();
    if (name.empty()) {
      throw exceptions::InvalidParametersException("parameter name must not be empty");
    }
    auto it = parameters_.find(name);
    if (it == parameters_.end()) {
      if (!allow_undeclared_) {
        throw exceptions::ParameterNotDeclaredException(
                "parameter '" + name + "' cannot be set because it was not declared");
      }
      to_declare.push_back(&parameter);
      continue;
    }
    if (it->second.descriptor.read_only) {
      return failure("parameter '" + name + "' cannot be set because it is read-only");
    }
  }

  // Implicit declarations are staged so nothing changes when a later step fails.
  std::map<std::string, ParameterInfo> staged;
  rcl_interfaces::msg::ParameterEvent event;
  CallbackContainer no_callbacks;
  ParameterDescriptor dynamic;
  dynamic.dynamic_typing = true;
  for (const Parameter * parameter : to_declare) {
    const SetParametersResult result = declare_common(
      parameter->get_name(), parameter->get_parameter_value(), dynamic, staged, no_callbacks,
      &event, true);
    if (!result.successful) {
      return result;
    }
  }

  std::vector<std::string> to_undeclare;
  for (const Parameter & parameter : parameters) {
    if (parameter.get_type() != PARAMETER_NOT_SET) {
      continue;
    }
    auto it = parameters_.find(parameter.get_name());
    if (it != parameters_.end() && it->second.value.get_type() != PARAMETER_NOT_SET) {
      if (!it->second.descriptor.dynamic_typing) {
        return failure("cannot undeclare a statically typed parameter");
      }
      to_undeclare.push_back(parameter.get_name());
    }
  }

  // Check and call back on a copy so a refusal leaves the store untouched.
  std::map<std::string, ParameterInfo> updated = parameters_;
  const SetParametersResult result =
    set_atomically_common(parameters, updated, on_set_callbacks_, allow_undeclared_);
  if (!result.successful) {
    return result;
  }
  for (auto & entry : staged) {
    updated[entry.first] = entry.second;
  }
  for (const std::string & name : to_undeclare) {
    auto it = updated.find(name);
    event.deleted_parameters.push_back(Parameter(name, parameters_.at(name).value).to_parameter_msg());
    updated.erase(it);
  }
  for (const Parameter & parameter : parameters) {
    const std::string & name = parameter.get_name();
    if (staged.count(name) == 0 &&
      std::find(to_undeclare.begin(), to_undeclare.end(), name) == to_undeclare.end())
    {
      event.changed_parameters.push_back(parameter.to_parameter_msg());
    }
  }
  parameters_.swap(updated);
  emit(event);
  call_post_set(parameters);
  return result;
}

Parameter NodeParameters::get_parameter(const std::string & name) const
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto it = parameters_.find(name);
  if (it != parameters_.end()) {
    if (it->second.value.get_type() != PARAMETER_NOT_SET || it->second.descriptor.dynamic_typing) {
      return Parameter(name, it->second.value);
    }
    throw exceptions::ParameterUninitializedException(name);
  }
  if (allow_undeclared_) {
    return Parameter(name);
  }
  throw exceptions::ParameterNotDeclaredException(name);
}

bool NodeParameters::get_parameter(const std::string & name, Parameter & parameter) const
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto it = parameters_.find(name);
  if (it == parameters_.end() || it->second.value.get_type() == PARAMETER_NOT_SET) {
    return false;
  }
  parameter = Parameter(name, it->second.value);
  return true;
}

std::vector<Parameter> NodeParameters::get_parameters(const std::vector<std::string> & names) const
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<Parameter> results;
  results.reserve(names.size());
  for (const std::string & name : names) {
    results.push_back(get_parameter(name));
  }
  return results;
}

bool NodeParameters::get_parameters_by_prefix(
  const std::string & prefix, std::map<std::string, Parameter> & parameters) const
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const std::string with_dot = prefix.empty() ? prefix : prefix + ".";
  bool found = false;
  for (const auto & entry : parameters_) {
    if (entry.first.compare(0, with_dot.size(), with_dot) == 0 && entry.first.size() > with_dot.size()) {
      parameters[entry.first.substr(with_dot.size())] = Parameter(entry.first, entry.second.value);
      found = true;
    }
  }
  return found;
}

std::vector<ParameterDescriptor> NodeParameters::describe_parameters(
  const std::vector<std::string> & names) const
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<ParameterDescriptor> results;
  results.reserve(names.size());
  for (const std::string & name : names) {
    auto it = parameters_.find(name);
    if (it != parameters_.end()) {
      results.push_back(it->second.descriptor);
    } else if (allow_undeclared_) {
      ParameterDescriptor unknown;
      unknown.name = name;
      results.push_back(unknown);
    } else {
      throw exceptions::ParameterNotDeclaredException(name);
    }
  }
  return results;
}

ParameterDescriptor NodeParameters::describe_parameter(const std::string & name) const
{
  return describe_parameters({name}).front();
}

std::vector<uint8_t> NodeParameters::get_parameter_types(const std::vector<std::string> & names) const
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<uint8_t> results;
  results.reserve(names.size());
  for (const std::string & name : names) {
    auto it = parameters_.find(name);
    if (it != parameters_.end()) {
      results.push_back(it->second.value.get_type());
    } else if (allow_undeclared_) {
      results.push_back(PARAMETER_NOT_SET);
    } else {
      throw exceptions::ParameterNotDeclaredException(name);
    }
  }
  return results;
}

rcl_interfaces::msg::ListParametersResult NodeParameters::list_parameters(
  const std::vector<std::string> & prefixes, uint64_t depth) const
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  rcl_interfaces::msg::ListParametersResult result;
  const uint64_t kRecursive = 0;  // ListParameters DEPTH_RECURSIVE
  const auto separators_below_depth = [depth](const std::string & text) {
      return static_cast<uint64_t>(std::count(text.begin(), text.end(), '.')) < depth;
    };
  const bool all = prefixes.empty() && depth == kRecursive;
  for (const auto & entry : parameters_) {
    const std::string & name = entry.first;
    if (!all) {
      bool keep = prefixes.empty() && separators_below_depth(name);
      for (size_t i = 0; !keep && i < prefixes.size(); ++i) {
        const std::string & prefix = prefixes[i];
        if (name == prefix) {
          keep = true;
        } else if (name.compare(0, prefix.size() + 1, prefix + ".") == 0) {
          keep = depth == kRecursive || separators_below_depth(name.substr(prefix.size() + 1));
        }
      }
      if (!keep) {
        continue;
      }
    }
    result.names.push_back(name);
    const size_t last_dot = name.find_last_of('.');
    if (last_dot != std::string::npos) {
      const std::string prefix = name.substr(0, last_dot);
      if (std::find(result.prefixes.begin(), result.prefixes.end(), prefix) == result.prefixes.end()) {
        result.prefixes.push_back(prefix);
      }
    }
  }
  return result;
}

OnSetParametersCallbackHandle::SharedPtr NodeParameters::add_on_set_parameters_callback(
  OnSetParametersCallbackType callback)
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  MutationGuard guard(modification_enabled_);
  auto handle = std::make_shared<OnSetParametersCallbackHandle>();
  handle->callback = std::move(callback);
  on_set_callbacks_.emplace_front(handle);  // the newest callback runs first
  return handle;
}

void NodeParameters::remove_on_set_parameters_callback(const OnSetParametersCallbackHandle * handle)
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  MutationGuard guard(modification_enabled_);
  auto it = std::find_if(
    on_set_callbacks_.begin(), on_set_callbacks_.end(),
    [handle](const auto & weak) {return weak.lock().get() == handle;});
  if (it == on_set_callbacks_.end()) {
    throw std::runtime_error("On set parameter callback doesn't exist");
  }
  on_set_callbacks_.erase(it);
}

PostSetParametersCallbackHandle::SharedPtr NodeParameters::add_post_set_parameters_callback(
  PostSetParametersCallbackType callback)
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  MutationGuard guard(modification_enabled_);
  auto handle = std::make_shared<PostSetParametersCallbackHandle>();
  handle->callback = std::move(callback);
  post_set_callbacks_.emplace_front(handle);
  return handle;
}

void NodeParameters::call_post_set(const std::vector<Parameter> & parameters)
{
  for (auto it = post_set_callbacks_.begin(); it != post_set_callbacks_.end(); ) {
    auto handle = it->lock();
    if (!handle) {
      it = post_set_callbacks_.erase(it);
      continue;
    }
    handle->callback(parameters);
    ++it;
  }
}

void NodeParameters::set_parameter_event_callback(
  ParameterEventCallback callback, Clock::SharedPtr clock)
{
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  event_callback_ = std::move(callback);
  event_clock_ = std::move(clock);
}

void NodeParameters::emit(rcl_interfaces::msg::ParameterEvent & event)
{
  if (!event_callback_) {
    return;
  }
  event.node = node_fqn_;
  if (event_clock_) {
    event.stamp = event_clock_->now();
  }
  event_callback_(event);
}

}  // namespace node_interfaces
}  // namespace rclcdds
