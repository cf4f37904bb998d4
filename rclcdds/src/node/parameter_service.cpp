#include "rclcdds/parameter_service.hpp"

#include <string>

#include "../runtime/parameter_requests.hpp"
#include "rclcdds/node.hpp"

namespace rclcdds
{

ParameterService::ParameterService(
  Node & node, std::shared_ptr<node_interfaces::NodeParameters> parameters, const QoS & qos)
: parameters_(std::move(parameters))
{
  using namespace rcl_interfaces::srv;  // NOLINT(build/namespaces)
  const Logger logger = node.get_logger();
  auto store = parameters_;

  // The answers never throw: a request from the network cannot end spin().
  get_parameters_service_ = node.create_service<GetParameters>(
    "~/get_parameters",
    [store, logger](
      const std::shared_ptr<GetParameters::Request> request,
      std::shared_ptr<GetParameters::Response> response) {
      std::string error;
      detail::answer_get_parameters(*store, *request, *response, error);
      if (!error.empty()) {
        RCLCDDS_DEBUG(logger, "Failed to get parameters: %s", error.c_str());
      }
    }, qos);

  get_parameter_types_service_ = node.create_service<GetParameterTypes>(
    "~/get_parameter_types",
    [store, logger](
      const std::shared_ptr<GetParameterTypes::Request> request,
      std::shared_ptr<GetParameterTypes::Response> response) {
      std::string error;
      detail::answer_get_parameter_types(*store, *request, *response, error);
      if (!error.empty()) {
        RCLCDDS_DEBUG(logger, "Failed to get parameter types: %s", error.c_str());
      }
    }, qos);

  set_parameters_service_ = node.create_service<SetParameters>(
    "~/set_parameters",
    [store](
      const std::shared_ptr<SetParameters::Request> request,
      std::shared_ptr<SetParameters::Response> response) {
      detail::answer_set_parameters(*store, *request, *response);
    }, qos);

  set_parameters_atomically_service_ = node.create_service<SetParametersAtomically>(
    "~/set_parameters_atomically",
    [store](
      const std::shared_ptr<SetParametersAtomically::Request> request,
      std::shared_ptr<SetParametersAtomically::Response> response) {
      detail::answer_set_parameters_atomically(*store, *request, *response);
    }, qos);

  describe_parameters_service_ = node.create_service<DescribeParameters>(
    "~/describe_parameters",
    [store, logger](
      const std::shared_ptr<DescribeParameters::Request> request,
      std::shared_ptr<DescribeParameters::Response> response) {
      std::string error;
      detail::answer_describe_parameters(*store, *request, *response, error);
      if (!error.empty()) {
        RCLCDDS_DEBUG(logger, "Failed to describe parameters: %s", error.c_str());
      }
    }, qos);

  list_parameters_service_ = node.create_service<ListParameters>(
    "~/list_parameters",
    [store, logger](
      const std::shared_ptr<ListParameters::Request> request,
      std::shared_ptr<ListParameters::Response> response) {
      std::string error;
      detail::answer_list_parameters(*store, *request, *response, error);
      if (!error.empty()) {
        RCLCDDS_DEBUG(logger, "Failed to list parameters: %s", error.c_str());
      }
    }, qos);
}

}  // namespace rclcdds
