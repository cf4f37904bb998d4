// Options of a node, shaped like rclcpp::NodeOptions.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rclcdds/arguments.hpp"
#include "rclcdds/parameter.hpp"

namespace rclcdds
{

class Context;

/// Construction options of a node; setters return *this so they chain.
class NodeOptions
{
public:
  NodeOptions() = default;

  /// Context the node belongs to; null means the process's default context.
  const std::shared_ptr<Context> & context() const {return context_;}
  NodeOptions & context(std::shared_ptr<Context> context);

  /// Node-local command line ("--ros-args", "-r", "__node:=x", ...); non-ROS entries are ignored.
  const std::vector<std::string> & arguments() const {return arguments_;}
  NodeOptions & arguments(const std::vector<std::string> & arguments);

  /// arguments() parsed; unknown ROS arguments throw here.
  /// @throws exceptions::UnknownROSArgsError, exceptions::InvalidROSArgsError,
  ///   exceptions::ParameterFileError
  const Arguments & parsed_arguments() const;

  /// Values that override every other source of initial parameter values.
  const std::vector<Parameter> & parameter_overrides() const {return parameter_overrides_;}
  NodeOptions & parameter_overrides(const std::vector<Parameter> & parameter_overrides);
  template<typename ParameterT>
  NodeOptions & append_parameter_override(const std::string & name, const ParameterT & value)
  {
    parameter_overrides_.emplace_back(name, ParameterValue(value));
    return *this;
  }

  /// Whether the process-wide (init) arguments apply to this node; default true.
  bool use_global_arguments() const {return use_global_arguments_;}
  NodeOptions & use_global_arguments(bool use_global_arguments);

  /// Whether the node logs to /rosout; default true.
  bool enable_rosout() const {return enable_rosout_;}
  NodeOptions & enable_rosout(bool enable_rosout);

  /// Accepted for source compatibility; messages always go through DDS.
  bool use_intra_process_comms() const {return use_intra_process_comms_;}
  NodeOptions & use_intra_process_comms(bool use_intra_process_comms);

  /// Whether the six parameter services are offered; default true.
  bool start_parameter_services() const {return start_parameter_services_;}
  NodeOptions & start_parameter_services(bool start_parameter_services);

  /// Whether changes are published on /parameter_events; default true.
  bool start_parameter_event_publisher() const {return start_parameter_event_publisher_;}
  NodeOptions & start_parameter_event_publisher(bool start_parameter_event_publisher);

  /// Whether parameters may be set and read without being declared; default false.
  bool allow_undeclared_parameters() const {return allow_undeclared_parameters_;}
  NodeOptions & allow_undeclared_parameters(bool allow_undeclared_parameters);

  /// Whether every override is declared (dynamically typed) at construction; default false.
  bool automatically_declare_parameters_from_overrides() const
  {
    return automatically_declare_parameters_from_overrides_;
  }
  NodeOptions & automatically_declare_parameters_from_overrides(bool value);

private:
  std::shared_ptr<Context> context_;
  std::vector<std::string> arguments_;
  mutable std::shared_ptr<const Arguments> parsed_arguments_;
  std::vector<Parameter> parameter_overrides_;
  bool use_global_arguments_{true};
  bool enable_rosout_{true};
  bool use_intra_process_comms_{false};
  bool start_parameter_services_{true};
  bool start_parameter_event_publisher_{true};
  bool allow_undeclared_parameters_{false};
  bool automatically_declare_parameters_from_overrides_{false};
};

}  // namespace rclcdds
