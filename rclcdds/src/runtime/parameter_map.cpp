#include "rclcdds/parameter_map.hpp"

#include <yaml-cpp/yaml.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "rclcdds/exceptions.hpp"

namespace rclcdds
{

namespace
{

constexpr const char kParamsKey[] = "ros__parameters";

bool is_one_of(const std::string & text, std::initializer_list<const char *> words)
{
  for (const char * w : words) {
    if (text == w) {
      return true;
    }
  }
  return false;
}

int line_of(const YAML::Node & node)
{
  const int line = node.Mark().line;
  return line >= 0 ? line + 1 : 0;
}

/// Quoted scalars (and explicit !!str) carry the non-specific or the str tag in yaml-cpp.
bool is_quoted(const YAML::Node & node)
{
  return node.Tag() == "!" || node.Tag() == "tag:yaml.org,2002:str";
}

bool valid_name_token(const std::string & token)
{
  if (token.empty() || std::isdigit(static_cast<unsigned char>(token[0]))) {
    return false;
  }
  for (char c : token) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) {
      return false;
    }
  }
  return true;
}

/// Joins node-name levels ("ns", "/node" or "/ns/node") into "/ns/node", checking each token.
std::string join_node_levels(const std::vector<std::string> & levels, std::string * bad_token)
{
  std::string joined;
  for (const std::string & level : levels) {
    std::stringstream ss(level);
    std::string token;
    while (std::getline(ss, token, '/')) {
      if (token.empty()) {
        continue;
      }
      if (token != "*" && token != "**" && !valid_name_token(token)) {
        *bad_token = token;
        return {};
      }
      joined += "/" + token;
    }
  }
  return joined;
}

class YamlReader
{
public:
  YamlReader(const std::string & source, std::vector<ParameterOverride> & out)
  : source_(source), out_(out) {}

  void read_root(const YAML::Node & root)
  {
    if (!root || root.IsNull()) {
      return;
    }
    if (!root.IsMap()) {
      fail(root, "", "the top level must map node names to their parameters");
    }
    std::vector<std::string> levels;
    read_node_level(root, levels);
  }

private:
  [[noreturn]] void fail(const YAML::Node & at, const std::string & key, const std::string & why)
  {
    throw exceptions::ParameterFileError(source_, line_of(at), key, why);
  }

  std::string key_text(const YAML::Node & key)
  {
    if (!key.IsScalar() || key.Scalar().empty()) {
      fail(key, "", "a key must be a non-empty text");
    }
    return key.Scalar();
  }

  void read_node_level(const YAML::Node & map, std::vector<std::string> & levels)
  {
    for (const auto & entry : map) {
      const std::string key = key_text(entry.first);
      if (key == kParamsKey) {
        if (levels.empty()) {
          fail(entry.first, key, "'ros__parameters' needs a node name above it");
        }
        std::string bad;
        const std::string pattern = join_node_levels(levels, &bad);
        if (pattern.empty()) {
          fail(entry.first, levels.back(), "invalid node name token '" + bad + "'");
        }
        if (entry.second.IsNull()) {
          continue;
        }
        if (!entry.second.IsMap()) {
          fail(entry.second, pattern, "'ros__parameters' must hold a map of parameters");
        }
        read_parameters(entry.second, "", pattern);
        continue;
      }
      if (!entry.second.IsMap()) {
        fail(
          entry.first, key,
          "expected a node name holding 'ros__parameters', found a value outside any node");
      }
      levels.push_back(key);
      read_node_level(entry.second, levels);
      levels.pop_back();
    }
  }

  void read_parameters(const YAML::Node & map, const std::string & prefix, const std::string & node)
  {
    for (const auto & entry : map) {
      const std::string name = prefix + key_text(entry.first);
      const YAML::Node & value = entry.second;
      if (value.IsMap()) {
        read_parameters(value, name + ".", node);
      } else if (value.IsSequence()) {
        out_.push_back({node, Parameter(name, read_sequence(value, name))});
      } else if (value.IsScalar()) {
        out_.push_back(
          {node, Parameter(name, parameter_value_from_yaml_scalar(value.Scalar(), is_quoted(value)))});
      } else {
        fail(entry.first, name, "no value");
      }
    }
  }

  ParameterValue read_sequence(const YAML::Node & seq, const std::string & name)
  {
    if (seq.size() == 0) {
      fail(seq, name, "empty list: the element type cannot be inferred");
    }
    std::vector<ParameterValue> items;
    for (const auto & element : seq) {
      if (!element.IsScalar()) {
        fail(
          element, name, element.IsNull() ? "list element without value" :
          "list elements must be plain values (no nested lists or maps)");
      }
      items.push_back(parameter_value_from_yaml_scalar(element.Scalar(), is_quoted(element)));
      if (items.back().get_type() != items.front().get_type()) {
        fail(
          element, name, "list mixes element types: element " + std::to_string(items.size() - 1) +
          " is " + to_string(items.back().get_type()) + " but the first is " +
          to_string(items.front().get_type()));
      }
    }
    return make_array(items);
  }

public:
  static ParameterValue make_array(const std::vector<ParameterValue> & items)
  {
    switch (items.front().get_type()) {
      case PARAMETER_BOOL: {
          std::vector<bool> v;
          for (const auto & i : items) {v.push_back(i.get<bool>());}
          return ParameterValue(v);
        }
      case PARAMETER_INTEGER: {
          std::vector<int64_t> v;
          for (const auto & i : items) {v.push_back(i.get<int64_t>());}
          return ParameterValue(v);
        }
      case PARAMETER_DOUBLE: {
          std::vector<double> v;
          for (const auto & i : items) {v.push_back(i.get<double>());}
          return ParameterValue(v);
        }
      default: {
          std::vector<std::string> v;
          for (const auto & i : items) {v.push_back(i.get<std::string>());}
          return ParameterValue(v);
        }
    }
  }

private:
  const std::string & source_;
  std::vector<ParameterOverride> & out_;
};

YAML::Node load_yaml(const std::string & text, const std::string & source)
{
  try {
    return YAML::Load(text);
  } catch (const YAML::ParserException & e) {
    throw exceptions::ParameterFileError(
            source, e.mark.line >= 0 ? e.mark.line + 1 : 0, "", "invalid YAML: " + e.msg);
  }
}

}  // namespace

ParameterValue parameter_value_from_yaml_scalar(const std::string & text, bool quoted)
{
  if (quoted) {
    return ParameterValue(text);
  }
  if (is_one_of(text, {"Y", "y", "yes", "Yes", "YES", "true", "True", "TRUE", "on", "On", "ON"})) {
    return ParameterValue(true);
  }
  if (is_one_of(text, {"N", "n", "no", "No", "NO", "false", "False", "FALSE", "off", "Off", "OFF"})) {
    return ParameterValue(false);
  }
  const char * begin = text.c_str();
  const char * end_of_text = begin + text.size();
  if (!text.empty()) {
    errno = 0;
    char * end = nullptr;
    const long long ival = std::strtoll(begin, &end, 0);  // NOLINT(runtime/int)
    if (errno == 0 && end != begin && end == end_of_text) {
      return ParameterValue(static_cast<int64_t>(ival));
    }
    if (is_one_of(text, {".nan", ".NaN", ".NAN"})) {
      return ParameterValue(std::numeric_limits<double>::quiet_NaN());
    }
    if (is_one_of(text, {".inf", ".Inf", ".INF", "+.inf", "+.Inf", "+.INF"})) {
      return ParameterValue(std::numeric_limits<double>::infinity());
    }
    if (is_one_of(text, {"-.inf", "-.Inf", "-.INF"})) {
      return ParameterValue(-std::numeric_limits<double>::infinity());
    }
    errno = 0;
    const double dval = std::strtod(begin, &end);
    if (errno == 0 && end != begin && end == end_of_text) {
      return ParameterValue(dval);
    }
  }
  return ParameterValue(text);
}

ParameterValue parameter_value_from_text(const std::string & text)
{
  if (text.empty()) {
    throw std::invalid_argument("no value after ':='");
  }
  YAML::Node node;
  try {
    node = YAML::Load(text);
  } catch (const YAML::ParserException & e) {
    throw std::invalid_argument("invalid YAML value '" + text + "': " + e.msg);
  }
  if (node.IsScalar()) {
    return parameter_value_from_yaml_scalar(node.Scalar(), is_quoted(node));
  }
  if (node.IsSequence()) {
    if (node.size() == 0) {
      throw std::invalid_argument("empty list '" + text + "': the element type cannot be inferred");
    }
    std::vector<ParameterValue> items;
    for (const auto & element : node) {
      if (!element.IsScalar()) {
        throw std::invalid_argument("list elements of '" + text + "' must be plain values");
      }
      items.push_back(parameter_value_from_yaml_scalar(element.Scalar(), is_quoted(element)));
      if (items.back().get_type() != items.front().get_type()) {
        throw std::invalid_argument("list '" + text + "' mixes element types");
      }
    }
    return YamlReader::make_array(items);
  }
  if (node.IsNull()) {
    throw std::invalid_argument("no value in '" + text + "'");
  }
  throw std::invalid_argument("'" + text + "' is a map; a parameter value must be a value or a list");
}

std::vector<ParameterOverride> parse_parameter_yaml(
  const std::string & yaml_text, const std::string & source_name)
{
  std::vector<ParameterOverride> out;
  YamlReader reader(source_name, out);
  reader.read_root(load_yaml(yaml_text, source_name));
  return out;
}

std::vector<ParameterOverride> parse_parameter_file(const std::string & path)
{
  std::ifstream file(path);
  if (!file) {
    throw exceptions::ParameterFileError(path, 0, "", "cannot open the file");
  }
  std::stringstream text;
  text << file.rdbuf();
  return parse_parameter_yaml(text.str(), path);
}

ParameterMap parameter_map_from_yaml_file(const std::string & path)
{
  ParameterMap map;
  for (const ParameterOverride & item : parse_parameter_file(path)) {
    auto & params = map[item.node_pattern];
    bool replaced = false;
    for (auto & p : params) {
      if (p.get_name() == item.parameter.get_name()) {
        p = item.parameter;
        replaced = true;
      }
    }
    if (!replaced) {
      params.push_back(item.parameter);
    }
  }
  return map;
}

bool node_pattern_matches(const std::string & pattern, const std::string & node_fqn)
{
  if (pattern == node_fqn) {
    return true;
  }
  if (pattern.find('*') == std::string::npos) {
    return false;
  }
  // "/*" stands for one name level and "/**" for any number of them.
  std::string regex;
  for (size_t i = 0; i < pattern.size(); ) {
    if (pattern.compare(i, 3, "/**") == 0) {
      regex += "(/\\w+)*";
      i += 3;
    } else if (pattern.compare(i, 2, "/*") == 0) {
      regex += "(/\\w+)";
      i += 2;
    } else {
      const char c = pattern[i++];
      if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '/') {
        regex += c;
      } else {
        return false;
      }
    }
  }
  return std::regex_match(node_fqn, std::regex(regex));
}

std::map<std::string, ParameterValue> resolve_parameter_overrides(
  const std::string & node_fqn, const std::vector<ParameterOverride> & assignments)
{
  std::map<std::string, ParameterValue> result;
  for (const ParameterOverride & item : assignments) {
    if (node_pattern_matches(item.node_pattern, node_fqn)) {
      result[item.parameter.get_name()] = item.parameter.get_parameter_value();
    }
  }
  return result;
}

}  // namespace rclcdds
