#include "rclcdds/parameter_service.hpp"

#include <exception>
#include <string>
#include <vector>

#include "rclcdds/node.hpp"

namespace rclcdds
{

namespace
{

std::vector<Parameter> from_messages(const std::vector<rcl_interfaces::msg::Parameter> & messages)
{
  std::vector<Parameter> parameters;
  parameters.reserve(messages.size());
  for (const auto & message : messages) {
    parameters.push_back(Parameter::from_parameter_msg(message));
  }
  return parameters;
}

rcl_interfaces::msg::SetParametersResult refused(const std::string & reason)
{
  rcl_interfaces::msg::SetParametersResult result;
  result.successful = false;
  result.reason = reason;
  return result;
}

/// rclcpp's answer for a set request naming a parameter the node does not have.
constexpr const char kNotDeclared[] = "One or more parameters were not declared before setting";

}  // namespace

ParameterService::ParameterService(
  Node & node, std::shared_ptr<node_interfaces::NodeParameters> parameters, const QoS & qos)
: parameters_(std::move(parameters))
{
  using namespace rcl_interfaces::srv;  // NOLINT(build/namespaces)
  const Logger logger = node.get_logger();
  auto store = parameters_;

  get_parameters_service_ = node.create_service<GetParameters>(
    "~/get_parameters",
    [store, logger](
      const std::shared_ptr<GetParameters::Request> request,
      std::shared_ptr<GetParameters::Response> response) {
      try {
        for (const Parameter & parameter : store->get_parameters(request->names)) {
          response->values.push_back(parameter.get_value_message());
        }
      } catch (const std::exception & error) {
        response->values.clear();
        RCLCDDS_DEBUG(logger, "Failed to get parameters: %s", error.what());
      }
    }, qos);

  get_parameter_types_service_ = node.create_service<GetParameterTypes>(
    "~/get_parameter_types",
    [store, logger](
      const std::shared_ptr<GetParameterTypes::Request> request,
      std::shared_ptr<GetParameterTypes::Response> response) {
      try {
        response->types = store->get_parameter_types(request->names);
      } catch (const std::exception & error) {
        response->types.clear();
        RCLCDDS_DEBUG(logger, "Failed to get parameter types: %s", error.what());
      }
    }, qos);

  set_parameters_service_ = node.create_service<SetParameters>(
    "~/set_parameters",
    [store](
      const std::shared_ptr<SetParameters::Request> request,
      std::shared_ptr<SetParameters::Response> response) {
      // Each parameter on its own: one refusal does not stop the others.
      for (const Parameter & parameter : from_messages(request->parameters)) {
        try {
          response->results.push_back(store->set_parameters_atomically({parameter}));
        } catch (const exceptions::ParameterNotDeclaredException &) {
          response->results.push_back(refused(kNotDeclared));
        } catch (const std::exception & error) {
          response->results.push_back(refused(error.what()));
        }
      }
    }, qos);

  set_parameters_atomically_service_ = node.create_service<SetParametersAtomically>(
    "~/set_parameters_atomically",
    [store](
      const std::shared_ptr<SetParametersAtomically::Request> request,
      std::shared_ptr<SetParametersAtomically::Response> response) {
      try {
        response->result = store->set_parameters_atomically(from_messages(request->parameters));
      } catch (const exceptions::ParameterNotDeclaredException &) {
        response->result = refused(kNotDeclared);
      } catch (const std::exception & error) {
        response->result = refused(error.what());
      }
    }, qos);

  describe_parameters_service_ = node.create_service<DescribeParameters>(
    "~/describe_parameters",
    [store, logger](
      const std::shared_ptr<DescribeParameters::Request> request,
      std::shared_ptr<DescribeParameters::Response> response) {
      try {
        response->descriptors = store->describe_parameters(request->names);
      } catch (const std::exception & error) {
        response->descriptors.clear();
        RCLCDDS_DEBUG(logger, "Failed to describe parameters: %s", error.what());
      }
    }, qos);

  list_parameters_service_ = node.create_service<ListParameters>(
    "~/list_parameters",
    [store](
      const std::shared_ptr<ListParameters::Request> request,
      std::shared_ptr<ListParameters::Response> response) {
      response->result = store->list_parameters(request->prefixes, request->depth);
    }, qos);
}

}  // namespace rclcdds
