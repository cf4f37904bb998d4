#include "rclcdds/arguments.hpp"

#include <algorithm>
#include <cctype>
#include <functional>
#include <stdexcept>

#include "rclcdds/exceptions.hpp"

namespace rclcdds
{

namespace
{

using exceptions::InvalidROSArgsError;

const char * const kLogFlags[] = {
  "--enable-stdout-logs", "--disable-stdout-logs", "--enable-rosout-logs",
  "--disable-rosout-logs", "--enable-external-lib-logs", "--disable-external-lib-logs",
};

std::string lower(std::string text)
{
  std::transform(
    text.begin(), text.end(), text.begin(),
    [](unsigned char c) {return static_cast<char>(std::tolower(c));});
  return text;
}

std::string checked_log_level(const std::string & level)
{
  const std::string l = lower(level);
  if (l == "unset" || l == "debug" || l == "info" || l == "warn" || l == "error" || l == "fatal") {
    return l;
  }
  throw InvalidROSArgsError(
          "Argument following --log-level is not a valid log level: '" + level +
          "' (expected debug, info, warn, error or fatal)");
}

/// Splits "[node:]rest" where the node prefix is a single ':' that is not "://" or ":=".
void split_node_prefix(std::string & lhs, std::string & node)
{
  const size_t pos = lhs.find(':');
  if (pos != std::string::npos && lhs.compare(pos, 3, "://") != 0) {
    node = lhs.substr(0, pos);
    lhs = lhs.substr(pos + 1);
  }
}

RemapRule parse_remap_rule(const std::string & flag, const std::string & text)
{
  const auto fail = [&](const std::string & why) {
      return InvalidROSArgsError(
        "Couldn't parse remap rule: '" + flag + " " + text + "'. Error: " + why);
    };
  const size_t sep = text.find(":=");
  if (sep == std::string::npos) {
    throw fail("expected 'from:=to'");
  }
  RemapRule rule;
  std::string lhs = text.substr(0, sep);
  rule.replacement = text.substr(sep + 2);
  split_node_prefix(lhs, rule.node_name);
  if (!rule.node_name.empty()) {
    try {
      validate_node_name(rule.node_name);
    } catch (const std::invalid_argument & e) {
      throw fail(e.what());
    }
  }
  if (lhs.empty() || rule.replacement.empty()) {
    throw fail("both sides of ':=' must be given");
  }
  rule.kind = RemapRule::Kind::kTopicOrService;
  if (lhs.rfind("rostopic://", 0) == 0) {
    rule.kind = RemapRule::Kind::kTopic;
    lhs = lhs.substr(11);
  } else if (lhs.rfind("rosservice://", 0) == 0) {
    rule.kind = RemapRule::Kind::kService;
    lhs = lhs.substr(13);
  }
  try {
    if (lhs == "__node" || lhs == "__name") {
      rule.kind = RemapRule::Kind::kNodeName;
      validate_node_name(rule.replacement);
    } else if (lhs == "__ns") {
      rule.kind = RemapRule::Kind::kNamespace;
      if (rule.replacement[0] != '/') {
        throw std::invalid_argument("namespace '" + rule.replacement + "' must be absolute");
      }
      normalize_namespace(rule.replacement);
    } else if (lhs.rfind("__", 0) == 0) {
      throw std::invalid_argument("unknown special name '" + lhs + "'");
    } else if (lhs.find('*') != std::string::npos) {
      throw std::invalid_argument("wildcards in remap rules are not supported");
    } else {
      // Check both sides now with a placeholder node so a bad rule fails at start-up.
      expand_topic_name(lhs, "node", "/");
      expand_topic_name(rule.replacement, "node", "/");
    }
  } catch (const std::invalid_argument & e) {
    throw fail(e.what());
  }
  rule.match = lhs;
  return rule;
}

ParameterOverride parse_param_rule(const std::string & flag, const std::string & text)
{
  const auto fail = [&](const std::string & why) {
      return InvalidROSArgsError(
        "Couldn't parse parameter override rule: '" + flag + " " + text + "'. Error: " + why);
    };
  const size_t sep = text.find(":=");
  if (sep == std::string::npos) {
    throw fail("expected 'name:=value'");
  }
  std::string lhs = text.substr(0, sep);
  std::string node;
  split_node_prefix(lhs, node);
  if (lhs.empty()) {
    throw fail("the parameter name is empty");
  }
  ParameterOverride out;
  out.node_pattern = node.empty() ? "/**" : (node[0] == '/' ? node : "/" + node);
  try {
    out.parameter = Parameter(lhs, parameter_value_from_text(text.substr(sep + 2)));
  } catch (const std::invalid_argument & e) {
    throw fail(e.what());
  }
  return out;
}

const RemapRule * find_rule(
  const Arguments * local_args, const Arguments * global_args,
  const std::function<bool(const RemapRule &)> & matches)
{
  for (const Arguments * source : {local_args, global_args}) {
    if (source == nullptr) {
      continue;
    }
    for (const RemapRule & rule : source->remap_rules()) {
      if (matches(rule)) {
        return &rule;
      }
    }
  }
  return nullptr;
}

}  // namespace

void Arguments::parse_ros_arg(const std::vector<std::string> & args, size_t & i)
{
  const std::string & flag = args[i];
  const auto next = [&]() -> const std::string & {
      if (i + 1 >= args.size() || args[i + 1] == "--" || args[i + 1] == "--ros-args") {
        throw InvalidROSArgsError("Couldn't parse trailing " + flag + " flag: its value is missing");
      }
      return args[++i];
    };
  if (flag == "-p" || flag == "--param") {
    parameter_overrides_.push_back(parse_param_rule(flag, next()));
  } else if (flag == "--params-file") {
    const std::string & path = next();
    const auto items = parse_parameter_file(path);
    parameter_overrides_.insert(parameter_overrides_.end(), items.begin(), items.end());
    parameter_files_.push_back(path);
  } else if (flag == "-r" || flag == "--remap") {
    remap_rules_.push_back(parse_remap_rule(flag, next()));
  } else if (flag == "-e" || flag == "--enclave") {
    enclave_ = next();
  } else if (flag == "--log-level") {
    const std::string & value = next();
    const size_t sep = value.find(":=");
    if (sep == std::string::npos) {
      log_level_ = checked_log_level(value);
    } else {
      logger_levels_[value.substr(0, sep)] = checked_log_level(value.substr(sep + 2));
    }
  } else if (flag == "--log-config-file") {
    log_flags_.push_back(flag + "=" + next());
  } else if (std::find(std::begin(kLogFlags), std::end(kLogFlags), flag) != std::end(kLogFlags)) {
    log_flags_.push_back(flag);
  } else {
    unknown_ros_args_.push_back(flag);
  }
}

Arguments Arguments::parse(const std::vector<std::string> & args)
{
  Arguments parsed;
  bool in_ros_args = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string & arg = args[i];
    if (arg == "--ros-args") {
      in_ros_args = true;
    } else if (!in_ros_args) {
      parsed.non_ros_args_.push_back(arg);
    } else if (arg == "--") {
      in_ros_args = false;
    } else {
      parsed.parse_ros_arg(args, i);
    }
  }
  return parsed;
}

Arguments Arguments::parse(int argc, const char * const argv[])
{
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  }
  return parse(args);
}

Arguments Arguments::parse_strict(const std::vector<std::string> & args)
{
  Arguments parsed = parse(args);
  if (!parsed.unknown_ros_args().empty()) {
    throw exceptions::UnknownROSArgsError(parsed.unknown_ros_args());
  }
  return parsed;
}

std::vector<std::string> remove_ros_arguments(int argc, const char * const argv[])
{
  return Arguments::parse(argc, argv).non_ros_args();
}

std::string remap_node_name(
  const std::string & node_name, const Arguments * local_args, const Arguments * global_args)
{
  const RemapRule * rule = find_rule(
    local_args, global_args, [&](const RemapRule & r) {
      return r.kind == RemapRule::Kind::kNodeName &&
      (r.node_name.empty() || r.node_name == node_name);
    });
  return rule ? rule->replacement : node_name;
}

std::string remap_node_namespace(
  const std::string & node_name, const std::string & node_namespace,
  const Arguments * local_args, const Arguments * global_args)
{
  const RemapRule * rule = find_rule(
    local_args, global_args, [&](const RemapRule & r) {
      return r.kind == RemapRule::Kind::kNamespace &&
      (r.node_name.empty() || r.node_name == node_name);
    });
  return rule ? rule->replacement : normalize_namespace(node_namespace);
}

std::string remap_topic_name(
  const std::string & expanded_name, bool is_service, const std::string & node_name,
  const std::string & node_namespace, const Arguments * local_args, const Arguments * global_args)
{
  const RemapRule * rule = find_rule(
    local_args, global_args, [&](const RemapRule & r) {
      const bool kind_ok = r.kind == RemapRule::Kind::kTopicOrService ||
      (r.kind == RemapRule::Kind::kTopic && !is_service) ||
      (r.kind == RemapRule::Kind::kService && is_service);
      return kind_ok && (r.node_name.empty() || r.node_name == node_name) &&
      expand_topic_name(r.match, node_name, node_namespace) == expanded_name;
    });
  return rule ? expand_topic_name(rule->replacement, node_name, node_namespace) : expanded_name;
}

}  // namespace rclcdds
