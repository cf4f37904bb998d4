// Answers of the six parameter services, apart from DDS: every request from the network is
// answered (or refused in its reply) and no request field can make them throw.
#pragma once

#include <string>

#include <rcl_interfaces/srv/describe_parameters.hpp>
#include <rcl_interfaces/srv/get_parameter_types.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/list_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters_atomically.hpp>

#include "rclcdds/node_interfaces/node_parameters.hpp"

namespace rclcdds
{
namespace detail
{

/// rclcpp's answer for a set request naming a parameter the node does not have.
constexpr const char kParameterNotDeclared[] =
  "One or more parameters were not declared before setting";

// Each answer fills `response` from `store`. Where rclcpp answers a failure with an empty
// response (get, types, describe), `error` receives the reason for a debug line.

void answer_get_parameters(
  node_interfaces::NodeParameters & store, const rcl_interfaces::srv::GetParameters::Request & request,
  rcl_interfaces::srv::GetParameters::Response & response, std::string & error);

void answer_get_parameter_types(
  node_interfaces::NodeParameters & store,
  const rcl_interfaces::srv::GetParameterTypes::Request & request,
  rcl_interfaces::srv::GetParameterTypes::Response & response, std::string & error);

/// One result per requested parameter, in order; a parameter whose value message holds an
/// unknown type is refused in its own result and does not stop the others.
void answer_set_parameters(
  node_interfaces::NodeParameters & store, const rcl_interfaces::srv::SetParameters::Request & request,
  rcl_interfaces::srv::SetParameters::Response & response);

/// All or nothing; any parameter with an unknown value type refuses the whole request.
void answer_set_parameters_atomically(
  node_interfaces::NodeParameters & store,
  const rcl_interfaces::srv::SetParametersAtomically::Request & request,
  rcl_interfaces::srv::SetParametersAtomically::Response & response);

void answer_describe_parameters(
  node_interfaces::NodeParameters & store,
  const rcl_interfaces::srv::DescribeParameters::Request & request,
  rcl_interfaces::srv::DescribeParameters::Response & response, std::string & error);

void answer_list_parameters(
  node_interfaces::NodeParameters & store, const rcl_interfaces::srv::ListParameters::Request & request,
  rcl_interfaces::srv::ListParameters::Response & response, std::string & error);

}  // namespace detail
}  // namespace rclcdds
