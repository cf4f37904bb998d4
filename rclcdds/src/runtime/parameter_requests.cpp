#include "parameter_requests.hpp"

#include <exception>
#include <vector>

namespace rclcdds
{
namespace detail
{

namespace
{

rcl_interfaces::msg::SetParametersResult refused(const std::string & reason)
{
  rcl_interfaces::msg::SetParametersResult result;
  result.successful = false;
  result.reason = reason;
  return result;
}

/// The store's answer to setting `parameters` at once, with every refusal as a result.
rcl_interfaces::msg::SetParametersResult set_atomically(
  node_interfaces::NodeParameters & store, const std::vector<Parameter> & parameters)
{
  try {
    return store.set_parameters_atomically(parameters);
  } catch (const exceptions::ParameterNotDeclaredException &) {
    return refused(kParameterNotDeclared);
  } catch (const std::exception & error) {
    return refused(error.what());
  }
}

}  // namespace

void answer_get_parameters(
  node_interfaces::NodeParameters & store, const rcl_interfaces::srv::GetParameters::Request & request,
  rcl_interfaces::srv::GetParameters::Response & response, std::string & error)
{
  try {
    for (const Parameter & parameter : store.get_parameters(request.names)) {
      response.values.push_back(parameter.get_value_message());
    }
  } catch (const std::exception & e) {
    response.values.clear();
    error = e.what();
  }
}

void answer_get_parameter_types(
  node_interfaces::NodeParameters & store,
  const rcl_interfaces::srv::GetParameterTypes::Request & request,
  rcl_interfaces::srv::GetParameterTypes::Response & response, std::string & error)
{
  try {
    response.types = store.get_parameter_types(request.names);
  } catch (const std::exception & e) {
    response.types.clear();
    error = e.what();
  }
}

void answer_set_parameters(
  node_interfaces::NodeParameters & store, const rcl_interfaces::srv::SetParameters::Request & request,
  rcl_interfaces::srv::SetParameters::Response & response)
{
  response.results.reserve(request.parameters.size());
  for (const auto & message : request.parameters) {
    Parameter parameter;
    try {
      parameter = Parameter::from_parameter_msg(message);
    } catch (const std::exception & error) {
      response.results.push_back(refused(error.what()));
      continue;
    }
    response.results.push_back(set_atomically(store, {parameter}));
  }
}

void answer_set_parameters_atomically(
  node_interfaces::NodeParameters & store,
  const rcl_interfaces::srv::SetParametersAtomically::Request & request,
  rcl_interfaces::srv::SetParametersAtomically::Response & response)
{
  std::vector<Parameter> parameters;
  parameters.reserve(request.parameters.size());
  for (const auto & message : request.parameters) {
    try {
      parameters.push_back(Parameter::from_parameter_msg(message));
    } catch (const std::exception & error) {
      response.result = refused(error.what());
      return;
    }
  }
  response.result = set_atomically(store, parameters);
}

void answer_describe_parameters(
  node_interfaces::NodeParameters & store,
  const rcl_interfaces::srv::DescribeParameters::Request & request,
  rcl_interfaces::srv::DescribeParameters::Response & response, std::string & error)
{
  try {
    response.descriptors = store.describe_parameters(request.names);
  } catch (const std::exception & e) {
    response.descriptors.clear();
    error = e.what();
  }
}

void answer_list_parameters(
  node_interfaces::NodeParameters & store, const rcl_interfaces::srv::ListParameters::Request & request,
  rcl_interfaces::srv::ListParameters::Response & response, std::string & error)
{
  try {
    response.result = store.list_parameters(request.prefixes, request.depth);
  } catch (const std::exception & e) {
    response.result = rcl_interfaces::msg::ListParametersResult();
    error = e.what();
  }
}

}  // namespace detail
}  // namespace rclcdds
