#include "rclcdds/parameter.hpp"

namespace rclcdds
{

Parameter Parameter::from_parameter_msg(const rcl_interfaces::msg::Parameter & parameter)
{
  return Parameter(parameter.name, ParameterValue(parameter.value));
}

rcl_interfaces::msg::Parameter Parameter::to_parameter_msg() const
{
  rcl_interfaces::msg::Parameter msg;
  msg.name = name_;
  msg.value = value_.to_value_msg();
  return msg;
}

std::string to_string(const Parameter & parameter)
{
  return "{\"" + parameter.get_name() + "\": {\"type\": \"" + parameter.get_type_name() +
         "\", \"value\": \"" + parameter.value_to_string() + "\"}}";
}

std::ostream & operator<<(std::ostream & os, const Parameter & parameter)
{
  return os << to_string(parameter);
}

}  // namespace rclcdds
