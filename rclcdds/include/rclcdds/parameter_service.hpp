// The six standard parameter services of a node (as rclcpp::ParameterService).
#pragma once

#include <memory>

#include <rcl_interfaces/srv/describe_parameters.hpp>
#include <rcl_interfaces/srv/get_parameter_types.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/list_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters_atomically.hpp>

#include "rclcdds/node_interfaces/node_parameters.hpp"
#include "rclcdds/qos.hpp"
#include "rclcdds/service.hpp"

namespace rclcdds
{

class Node;

/// "~/get_parameters", "~/get_parameter_types", "~/set_parameters",
/// "~/set_parameters_atomically", "~/describe_parameters" and "~/list_parameters" answering
/// from the node's parameter store.
class ParameterService
{
public:
  using SharedPtr = std::shared_ptr<ParameterService>;

  /// @param qos QoS of the services (ParametersQoS by default)
  ParameterService(
    Node & node, std::shared_ptr<node_interfaces::NodeParameters> parameters,
    const QoS & qos = ParametersQoS());

private:
  std::shared_ptr<node_interfaces::NodeParameters> parameters_;
  Service<rcl_interfaces::srv::GetParameters>::SharedPtr get_parameters_service_;
  Service<rcl_interfaces::srv::GetParameterTypes>::SharedPtr get_parameter_types_service_;
  Service<rcl_interfaces::srv::SetParameters>::SharedPtr set_parameters_service_;
  Service<rcl_interfaces::srv::SetParametersAtomically>::SharedPtr
    set_parameters_atomically_service_;
  Service<rcl_interfaces::srv::DescribeParameters>::SharedPtr describe_parameters_service_;
  Service<rcl_interfaces::srv::ListParameters>::SharedPtr list_parameters_service_;
};

}  // namespace rclcdds
