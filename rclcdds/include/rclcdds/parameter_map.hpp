// Parameter files and command-line parameter values, read and typed as rcl reads them.
#pragma once

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "rclcdds/parameter.hpp"

namespace rclcdds
{

/// One parameter value from a file or the command line, with the node pattern it applies to.
struct ParameterOverride
{
  std::string node_pattern;  ///< "/ns/node", "/**", "/*", "/ns/*", "/**/node", ...
  Parameter parameter;       ///< name (nested keys joined with ".") and typed value
};

/// Parameters per node name, like rclcpp::ParameterMap.
using ParameterMap = std::unordered_map<std::string, std::vector<Parameter>>;

/// Reads a parameter file into its assignments, in file order.
/// @throws exceptions::ParameterFileError naming file, line and key when the file is unreadable
///   or malformed (no ros__parameters level, a key without value, an empty or mixed-type list, ...)
std::vector<ParameterOverride> parse_parameter_file(const std::string & path);

/// Same as parse_parameter_file for YAML text; `source_name` stands for the file in messages.
std::vector<ParameterOverride> parse_parameter_yaml(
  const std::string & yaml_text, const std::string & source_name);

/// Parameters of a file per node name (as written in the file, with a leading "/");
/// a later value of the same parameter for the same node name wins.
ParameterMap parameter_map_from_yaml_file(const std::string & path);

/// Types one YAML scalar as rcl does: quoted -> string; Y/y/yes/Yes/YES/true/True/TRUE/on/On/ON
/// and their negatives -> bool; a full integer parse (base 0, so 0x1F and 010 too) -> integer;
/// a full floating-point parse or .nan/.inf/-.inf spellings -> double; anything else -> string.
ParameterValue parameter_value_from_yaml_scalar(const std::string & text, bool quoted);

/// Parses the value text of `-p name:=value` (a YAML scalar or flow list such as "[1, 2]").
/// @throws std::invalid_argument with the reason when it is empty, a map or a mixed list
ParameterValue parameter_value_from_text(const std::string & text);

/// True when a node pattern of a parameter file ("/**", "/*", "/ns/*", "/**/node", "/ns/node")
/// matches a fully qualified node name.
bool node_pattern_matches(const std::string & pattern, const std::string & node_fqn);

/// The values that apply to one node: every assignment whose pattern matches, in order, so
/// a later assignment of a name replaces an earlier one.
std::map<std::string, ParameterValue> resolve_parameter_overrides(
  const std::string & node_fqn, const std::vector<ParameterOverride> & assignments);

}  // namespace rclcdds
