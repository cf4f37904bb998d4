// Command-line ROS arguments (`--ros-args ... [--]`), parsed as rcl parses them.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "rclcdds/names.hpp"
#include "rclcdds/parameter_map.hpp"
#include "rclcdds/remap_rule.hpp"

namespace rclcdds
{

/// The ROS arguments of one command line (the process's or a node's NodeOptions::arguments).
class Arguments
{
public:
  Arguments() = default;

  /// Parses a full command line (argv[0] included). Recognised between `--ros-args` and `--`:
  /// `-p/--param [node:]name:=value`, `--params-file FILE`, `-r/--remap [node:]from:=to`,
  /// `-e/--enclave NAME`, `--log-level [logger:=]LEVEL`, `--log-config-file FILE` and the
  /// `--enable-*`/`--disable-*` log switches (accepted, kept only as flags).
  /// Unknown ROS arguments are collected in unknown_ros_args(), not thrown.
  /// @throws exceptions::InvalidROSArgsError for a malformed known argument
  /// @throws exceptions::ParameterFileError for an unreadable or malformed parameter file
  static Arguments parse(const std::vector<std::string> & args);
  static Arguments parse(int argc, const char * const argv[]);

  /// Same as parse, and throws exceptions::UnknownROSArgsError when any ROS argument is unknown.
  static Arguments parse_strict(const std::vector<std::string> & args);

  /// Parameter values of `--params-file` and `-p`, in command-line order.
  const std::vector<ParameterOverride> & parameter_overrides() const {return parameter_overrides_;}
  /// Paths given with `--params-file`, in order.
  const std::vector<std::string> & parameter_files() const {return parameter_files_;}
  /// `-r` rules, in order (the first matching rule wins).
  const std::vector<RemapRule> & remap_rules() const {return remap_rules_;}
  /// ROS arguments this parser does not know, in order.
  const std::vector<std::string> & unknown_ros_args() const {return unknown_ros_args_;}
  /// Everything outside the ROS argument sections, argv[0] first.
  const std::vector<std::string> & non_ros_args() const {return non_ros_args_;}
  /// Default log level ("debug", "info", "warn", "error", "fatal") from `--log-level LEVEL`.
  const std::optional<std::string> & log_level() const {return log_level_;}
  /// Per-logger levels from `--log-level name:=LEVEL`.
  const std::map<std::string, std::string> & logger_levels() const {return logger_levels_;}
  /// Enclave from `-e`/`--enclave`, empty when not given.
  const std::string & enclave() const {return enclave_;}
  /// Log switches given (`--enable-stdout-logs`, ...), in order.
  const std::vector<std::string> & log_flags() const {return log_flags_;}

private:
  void parse_ros_arg(const std::vector<std::string> & args, size_t & i);

  std::vector<ParameterOverride> parameter_overrides_;
  std::vector<std::string> parameter_files_;
  std::vector<RemapRule> remap_rules_;
  std::vector<std::string> unknown_ros_args_;
  std::vector<std::string> non_ros_args_;
  std::optional<std::string> log_level_;
  std::map<std::string, std::string> logger_levels_;
  std::string enclave_;
  std::vector<std::string> log_flags_;
};

/// The command line without its ROS arguments, as rclcpp::remove_ros_arguments returns it.
/// @throws exceptions::InvalidROSArgsError like Arguments::parse
std::vector<std::string> remove_ros_arguments(int argc, const char * const argv[]);

/// Node name after the `__node:=` rules: local rules first, then global ones; first match wins.
/// Either source may be null.
std::string remap_node_name(
  const std::string & node_name, const Arguments * local_args, const Arguments * global_args);

/// Namespace after the `__ns:=` rules (looked up by the node's original name).
std::string remap_node_namespace(
  const std::string & node_name, const std::string & node_namespace,
  const Arguments * local_args, const Arguments * global_args);

/// Expanded topic (or service) name (see expand_topic_name in names.hpp) after the topic rules: each rule's match and replacement are
/// expanded against the node, and the first rule whose match equals `expanded_name` wins.
/// `node_name` is the node's original name (used for node-targeted rules and by "~").
std::string remap_topic_name(
  const std::string & expanded_name, bool is_service, const std::string & node_name,
  const std::string & node_namespace, const Arguments * local_args, const Arguments * global_args);

}  // namespace rclcdds
