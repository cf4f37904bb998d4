#include "rclcdds/node_options.hpp"

#include <utility>

namespace rclcdds
{

NodeOptions & NodeOptions::context(std::shared_ptr<Context> context)
{
  context_ = std::move(context);
  return *this;
}

NodeOptions & NodeOptions::arguments(const std::vector<std::string> & arguments)
{
  arguments_ = arguments;
  parsed_arguments_.reset();
  return *this;
}

const Arguments & NodeOptions::parsed_arguments() const
{
  if (!parsed_arguments_) {
    parsed_arguments_ = std::make_shared<const Arguments>(Arguments::parse_strict(arguments_));
  }
  return *parsed_arguments_;
}

NodeOptions & NodeOptions::parameter_overrides(const std::vector<Parameter> & parameter_overrides)
{
  parameter_overrides_ = parameter_overrides;
  return *this;
}

NodeOptions & NodeOptions::use_global_arguments(bool use_global_arguments)
{
  use_global_arguments_ = use_global_arguments;
  return *this;
}

NodeOptions & NodeOptions::enable_rosout(bool enable_rosout)
{
  enable_rosout_ = enable_rosout;
  return *this;
}

NodeOptions & NodeOptions::use_intra_process_comms(bool use_intra_process_comms)
{
  use_intra_process_comms_ = use_intra_process_comms;
  return *this;
}

NodeOptions & NodeOptions::start_parameter_services(bool start_parameter_services)
{
  start_parameter_services_ = start_parameter_services;
  return *this;
}

NodeOptions & NodeOptions::start_parameter_event_publisher(bool start_parameter_event_publisher)
{
  start_parameter_event_publisher_ = start_parameter_event_publisher;
  return *this;
}

NodeOptions & NodeOptions::allow_undeclared_parameters(bool allow_undeclared_parameters)
{
  allow_undeclared_parameters_ = allow_undeclared_parameters;
  return *this;
}

NodeOptions & NodeOptions::automatically_declare_parameters_from_overrides(bool value)
{
  automatically_declare_parameters_from_overrides_ = value;
  return *this;
}

}  // namespace rclcdds
