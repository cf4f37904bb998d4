// rclcdds_cli: topics, nodes, parameters and lifecycle of a ROS 2 graph, without a ROS 2
// installation. Works against rclcdds nodes and Humble nodes using rmw_cyclonedds_cpp.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <lifecycle_msgs/srv/change_state.hpp>
#include <lifecycle_msgs/srv/get_available_transitions.hpp>
#include <lifecycle_msgs/srv/get_state.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/list_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>

#include "cli_options.hpp"
#include "bag/bag_commands.hpp"
#include "dynamic_message.hpp"
#include "graph_query.hpp"
#include "message_text.hpp"
#include "peer_input.hpp"
#include "rclcdds/names.hpp"
#include "rclcdds/parameter_map.hpp"
#include "rclcdds/rclcdds.hpp"
#include "rclcdds/raw_reader.hpp"
#include "rclcdds/raw_writer.hpp"
#include "../transport/warning_limiter.hpp"

namespace rclcdds_cli
{
namespace
{

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char kUsage[] =
  "usage: rclcdds_cli <command> ...\n"
  "  topic list [-t]                           topics of the graph (-t: with types)\n"
  "  topic echo TOPIC [TYPE] [--once] [--count N] [--timeout S] [--full-length]\n"
  "  topic hz TOPIC [TYPE] [--window N] [--duration S]\n"
  "  topic pub TOPIC TYPE YAML [--once | --times N] [--rate HZ]\n"
  "  node list [--all]                         announced nodes (--all: hidden ones too)\n"
  "  param list NODE\n"
  "  param get NODE NAME\n"
  "  param set NODE NAME VALUE                 VALUE typed as in parameter files\n"
  "  param dump NODE                           parameters as a parameter file\n"
  "  lifecycle get NODE\n"
  "  lifecycle set NODE TRANSITION             label (configure, activate, ...) or id\n"
  "  lifecycle list NODE                       transitions available now\n"
  "  bag record -o DIR [TOPIC ...] [--all] [--storage sqlite3|mcap] [--duration S]\n"
  "  bag play DIR [--rate R] [--loop] [--clock [HZ]] [--topics T ...] [--start-offset S]\n"
  "  bag info DIR                              rosbag2 bags (sqlite3 .db3 or MCAP)\n"
  "Options: --timeout S (services and discovery, default 5), --settle S (discovery wait,\n"
  "default 1.5). Network settings as every rclcdds process (loopback unless configured).\n";

/// Command line after the command words: positionals and --options.
struct Args
{
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  ///< "--x" -> value ("" for flags)

  bool flag(const std::string & name) const {return options.count(name) != 0;}
  double number(const std::string & name, double fallback) const
  {
    auto it = options.find(name);
    if (it == options.end()) {
      return fallback;
    }
    return rclcdds_cli::non_negative_number(name, it->second);
  }
};

Args parse_args(const std::vector<std::string> & words)
{
  static const std::set<std::string> kFlags = {"--once", "--full-length", "--all", "-t"};
  Args args;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string & word = words[i];
    if (kFlags.count(word) != 0) {
      args.options[word] = "";
    } else if (word.rfind("--", 0) == 0 && word.size() > 2) {
      if (i + 1 >= words.size()) {
        throw std::invalid_argument("option " + word + " needs a value");
      }
      args.options[word] = words[++i];
    } else {
      args.positional.push_back(word);
    }
  }
  return args;
}

std::chrono::milliseconds seconds_option(const Args & args, const char * name, double fallback)
{
  return std::chrono::milliseconds(static_cast<int64_t>(args.number(name, fallback) * 1000.0));
}

/// The hidden node the service clients belong to.
rclcdds::Node::SharedPtr make_cli_node()
{
  rclcdds::NodeOptions options;
  options.start_parameter_services(false).start_parameter_event_publisher(false)
  .use_global_arguments(false);
  return std::make_shared<rclcdds::Node>("_rclcdds_cli_" + std::to_string(::getpid()), options);
}

/// Sends one request and waits for its reply; throws on timeout.
template<class ServiceT>
std::shared_ptr<typename ServiceT::Response> call_service(
  const rclcdds::Node::SharedPtr & node, const std::string & service_name,
  std::shared_ptr<typename ServiceT::Request> request, std::chrono::milliseconds timeout)
{
  auto client = node->create_client<ServiceT>(service_name);
  if (!client->wait_for_service(timeout)) {
    throw std::runtime_error("service '" + service_name + "' not available");
  }
  auto future = client->async_send_request(request);
  if (rclcdds::spin_until_future_complete(node, future, timeout) !=
    rclcdds::FutureReturnCode::SUCCESS)
  {
    throw std::runtime_error("no reply from '" + service_name + "'");
  }
  return future.get();
}

std::string node_service(const std::string & node_name, const std::string & service)
{
  std::string fqn = node_name.empty() || node_name[0] != '/' ? "/" + node_name : node_name;
  return fqn + "/" + service;
}

/// Finds the type and a QoS that matches every publisher of `topic` of that type. Several
/// announced types, or an invalid one, are an error unless the user names the type.
struct TopicChoice
{
  std::string type;
  rclcdds::QoS qos{10};
};

TopicChoice choose_topic(
  const rclcdds::Context & context, const std::string & topic, const std::string & given_type,
  std::chrono::milliseconds settle)
{
  const TopicTypeChoice typed =
    choose_topic_type(discover_topics(context, settle), topic, given_type);
  if (!typed.note.empty()) {
    std::cerr << "rclcdds_cli: " << typed.note << "\n";
  }
  TopicChoice choice;
  choice.type = typed.type;
  choice.qos = rclcdds::QoS(100);
  if (typed.any_writer && !typed.all_reliable) {
    choice.qos.best_effort();
  }
  if (typed.any_writer && typed.all_transient_local) {
    choice.qos.transient_local();
  }
  return choice;
}

/// Introspection of the chosen type; a type not installed here is one clear error.
const rclcdds::MessageMembers & topic_members(const std::string & topic, const TopicChoice & choice)
{
  try {
    return load_message_members(choice.type);
  } catch (const std::runtime_error & error) {
    throw std::runtime_error(
            "cannot read '" + topic + "' as " + choice.type + ": " + error.what());
  }
}

rclcdds::RawReader make_topic_reader(
  const rclcdds::Context::SharedPtr & context, const std::string & topic,
  const rclcdds::MessageMembers & members, const rclcdds::QoS & qos)
{
  return rclcdds::RawReader(context, rclcdds::topic_endpoint_description(topic, members, qos));
}

int topic_list(const rclcdds::Context::SharedPtr & context, const Args & args)
{
  std::map<std::string, std::set<std::string>> topics;
  for (const auto & endpoint : discover_topics(*context, seconds_option(args, "--settle", 1.5))) {
    topics[endpoint.topic].insert(endpoint.type);
  }
  for (const auto & [topic, types] : topics) {
    std::string line = topic;
    if (args.flag("-t")) {
      line += " [";
      for (const auto & type : types) {
        line += (line.back() == '[' ? "" : ", ") + type;
      }
      line += "]";
    }
    std::cout << line << "\n";
  }
  return 0;
}

int topic_echo(const rclcdds::Context::SharedPtr & context, const Args & args)
{
  if (args.positional.empty()) {
    throw std::invalid_argument("topic echo needs a topic");
  }
  const std::string topic = rclcdds::expand_topic_name(args.positional[0], "rclcdds_cli", "/");
  const TopicChoice choice = choose_topic(
    *context, topic, args.positional.size() > 1 ? args.positional[1] : "",
    seconds_option(args, "--settle", 1.5));
  const auto & members = topic_members(topic, choice);
  rclcdds::RawReader reader = make_topic_reader(context, topic, members, choice.qos);
  rclcdds::detail::WarningLimiter malformed_warnings;
  const long wanted = args.flag("--once") ? 1 : static_cast<long>(args.number("--count", 0));
  const bool forever = !args.flag("--timeout");
  const auto deadline = Clock::now() + seconds_option(args, "--timeout", 0);
  PrintOptions print;
  if (args.flag("--full-length")) {
    print.max_array_length = 0;
  }
  long printed = 0;
  while (rclcdds::ok(context) && (forever || Clock::now() < deadline)) {
    bool got = false;
    reader.take(
      [&](const uint8_t * data, size_t size, const rclcdds::SampleInfo &) {
        got = true;
        DynamicMessage message(members);
        std::string error;
        if (!rclcdds::deserialize_message(members, data, size, message.data(), nullptr, &error)) {
          uint64_t suppressed = 0;
          if (malformed_warnings.allow(suppressed)) {
            std::cerr << "dropped a malformed message: " << error <<
              rclcdds::detail::WarningLimiter::suffix(suppressed) << "\n";
          }
          return;
        }
        std::cout << message_to_yaml(members, message.data(), print) << "---" << std::endl;
        ++printed;
      });
    if (wanted > 0 && printed >= wanted) {
      return 0;
    }
    if (!got) {
      auto left = forever ? std::chrono::nanoseconds(100ms) :
        std::min<std::chrono::nanoseconds>(100ms, deadline - Clock::now());
      rclcdds::detail::wait_for_read_condition(
        reader.read_condition(), *context, std::max(left, std::chrono::nanoseconds(0)));
    }
  }
  return wanted > 0 && printed < wanted ? 1 : 0;
}

int topic_hz(const rclcdds::Context::SharedPtr & context, const Args & args)
{
  if (args.positional.empty()) {
    throw std::invalid_argument("topic hz needs a topic");
  }
  const std::string topic = rclcdds::expand_topic_name(args.positional[0], "rclcdds_cli", "/");
  const TopicChoice choice = choose_topic(
    *context, topic, args.positional.size() > 1 ? args.positional[1] : "",
    seconds_option(args, "--settle", 1.5));
  const auto & members = topic_members(topic, choice);
  rclcdds::RawReader reader = make_topic_reader(context, topic, members, choice.qos);
  const size_t window = static_cast<size_t>(args.number("--window", 10000));
  const bool forever = !args.flag("--duration");
  const auto end = Clock::now() + seconds_option(args, "--duration", 0);
  RateMonitor rate(window);
  auto next_report = Clock::now() + 1s;
  while (rclcdds::ok(context) && (forever || Clock::now() < end)) {
    // Only samples that decode count: a flood of garbage must not show up as a rate.
    while (reader.take([&](const uint8_t * data, size_t size, const rclcdds::SampleInfo &) {
        DynamicMessage message(members);
        if (rclcdds::deserialize_message(members, data, size, message.data())) {
          rate.add_sample(Clock::now());
        } else {
          rate.add_malformed();
        }
      }))
    {
    }
    if (Clock::now() >= next_report) {
      next_report += 1s;
      std::cout << rate.report() << std::endl;
    }
    rclcdds::detail::wait_for_read_condition(reader.read_condition(), *context, 20ms);
  }
  return rate.reported_rate() ? 0 : 1;
}

int topic_pub(const rclcdds::Context::SharedPtr & context, const Args & args)
{
  if (args.positional.size() < 2) {
    throw std::invalid_argument("topic pub needs a topic and a type");
  }
  const std::string topic = rclcdds::expand_topic_name(args.positional[0], "rclcdds_cli", "/");
  const auto & members = load_message_members(args.positional[1]);
  DynamicMessage message(members);
  std::string error;
  if (!message_from_yaml(
      members, args.positional.size() > 2 ? args.positional[2] : "", message.data(), error))
  {
    std::cerr << "invalid message: " << error << "\n";
    return 1;
  }
  rclcdds::RawWriter writer(context, rclcdds::topic_endpoint_description(topic, members, rclcdds::QoS(10)));
  const long times = args.flag("--once") ? 1 : static_cast<long>(args.number("--times", 0));
  const double rate = args.number("--rate", 1.0);
  if (times > 0) {
    // Give subscribers a moment to match so that a single message is not lost.
    const auto deadline = Clock::now() + seconds_option(args, "--timeout", 5);
    while (writer.matched_subscription_count() == 0 && Clock::now() < deadline) {
      rclcdds::sleep_for(10ms, context);
    }
    rclcdds::sleep_for(100ms, context);
  }
  std::cout << "publisher: beginning loop" << std::endl;
  const std::string text = message_to_yaml(members, message.data(), PrintOptions());
  for (long n = 1; rclcdds::ok(context) && (times == 0 || n <= times); ++n) {
    rclcdds::SerializedMessage payload;
    rclcdds::serialize_message(members, message.data(), payload);
    writer.write(std::move(payload));
    std::cout << "publishing #" << n << ":\n" << text << std::endl;
    if (times != 0 && n == times) {
      break;
    }
    rclcdds::sleep_for(
      std::chrono::nanoseconds(static_cast<int64_t>(1e9 / std::max(rate, 1e-3))), context);
  }
  // Let reliable delivery finish before the writer goes away.
  rclcdds::sleep_for(200ms, context);
  return 0;
}

int node_list(const rclcdds::Context::SharedPtr & context, const Args & args)
{
  std::vector<std::string> warnings;
  const auto names =
    discover_nodes(context, seconds_option(args, "--settle", 1.5), args.flag("--all"), &warnings);
  for (const auto & warning : warnings) {
    std::cerr << "rclcdds_cli: " << warning << "\n";
  }
  for (const auto & name : names) {
    std::cout << name << "\n";
  }
  return 0;
}

std::string double_text(double value)
{
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  std::string text(buffer, result.ptr);
  if (text.find_first_of(".en") == std::string::npos) {
    text += ".0";
  }
  return text;
}

/// Value as `ros2 param` prints it (doubles in their shortest exact form). Strings come from
/// the node as they are: controls are escaped; `quote` quotes every string as YAML.
std::string value_text(const rcl_interfaces::msg::ParameterValue & value, bool quote = false)
{
  using rcl_interfaces::msg::ParameterType;
  if (value.type == ParameterType::PARAMETER_STRING) {
    return quote ? quoted_text(value.string_value) : escaped_text(value.string_value);
  }
  if (value.type == ParameterType::PARAMETER_STRING_ARRAY) {
    std::string text = "[";
    for (size_t i = 0; i < value.string_array_value.size(); ++i) {
      const std::string & item = value.string_array_value[i];
      text += (i == 0 ? "" : ", ") + (quote ? quoted_text(item) : escaped_text(item));
    }
    return text + "]";
  }
  if (value.type > ParameterType::PARAMETER_STRING_ARRAY) {
    return "<unknown parameter type " + std::to_string(static_cast<int>(value.type)) + ">";
  }
  if (value.type == ParameterType::PARAMETER_DOUBLE) {
    return double_text(value.double_value);
  }
  if (value.type == ParameterType::PARAMETER_DOUBLE_ARRAY) {
    std::string text = "[";
    for (size_t i = 0; i < value.double_array_value.size(); ++i) {
      text += (i == 0 ? "" : ", ") + double_text(value.double_array_value[i]);
    }
    return text + "]";
  }
  return rclcdds::to_string(rclcdds::ParameterValue(value));
}

std::string typed_value_line(const rcl_interfaces::msg::ParameterValue & value)
{
  using rcl_interfaces::msg::ParameterType;
  switch (value.type) {
    case ParameterType::PARAMETER_BOOL: return "Boolean value is: " + value_text(value);
    case ParameterType::PARAMETER_INTEGER: return "Integer value is: " + value_text(value);
    case ParameterType::PARAMETER_DOUBLE: return "Double value is: " + value_text(value);
    case ParameterType::PARAMETER_STRING: return "String value is: " + value_text(value);
    case ParameterType::PARAMETER_BYTE_ARRAY: return "Byte values are: " + value_text(value);
    case ParameterType::PARAMETER_BOOL_ARRAY: return "Boolean values are: " + value_text(value);
    case ParameterType::PARAMETER_INTEGER_ARRAY: return "Integer values are: " + value_text(value);
    case ParameterType::PARAMETER_DOUBLE_ARRAY: return "Double values are: " + value_text(value);
    case ParameterType::PARAMETER_STRING_ARRAY: return "String values are: " + value_text(value);
    default: return "Parameter not set.";
  }
}

std::vector<std::string> list_parameter_names(
  const rclcdds::Node::SharedPtr & node, const std::string & target,
  std::chrono::milliseconds timeout)
{
  auto request = std::make_shared<rcl_interfaces::srv::ListParameters::Request>();
  auto names = call_service<rcl_interfaces::srv::ListParameters>(
    node, node_service(target, "list_parameters"), request, timeout)->result.names;
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<rcl_interfaces::msg::ParameterValue> get_parameter_values(
  const rclcdds::Node::SharedPtr & node, const std::string & target,
  const std::vector<std::string> & names, std::chrono::milliseconds timeout)
{
  auto request = std::make_shared<rcl_interfaces::srv::GetParameters::Request>();
  request->names = names;
  return call_service<rcl_interfaces::srv::GetParameters>(
    node, node_service(target, "get_parameters"), request, timeout)->values;
}

int param_command(const rclcdds::Context::SharedPtr &, const std::string & verb, const Args & args)
{
  if (args.positional.empty()) {
    throw std::invalid_argument("param " + verb + " needs a node name");
  }
  const std::string & target = args.positional[0];
  const auto timeout = seconds_option(args, "--timeout", 5);
  auto node = make_cli_node();
  if (verb == "list") {
    for (const auto & name : list_parameter_names(node, target, timeout)) {
      std::cout << "  " << escaped_text(name) << "\n";
    }
    return 0;
  }
  if (verb == "get") {
    if (args.positional.size() < 2) {
      throw std::invalid_argument("param get needs a parameter name");
    }
    const auto values = get_parameter_values(node, target, {args.positional[1]}, timeout);
    if (values.empty() || values[0].type == rcl_interfaces::msg::ParameterType::PARAMETER_NOT_SET) {
      std::cout << "Parameter not set." << std::endl;
      return 1;
    }
    std::cout << typed_value_line(values[0]) << std::endl;
    return 0;
  }
  if (verb == "set") {
    if (args.positional.size() < 3) {
      throw std::invalid_argument("param set needs a parameter name and a value");
    }
    const rclcdds::Parameter parameter(
      args.positional[1], rclcdds::parameter_value_from_text(args.positional[2]));
    auto request = std::make_shared<rcl_interfaces::srv::SetParameters::Request>();
    request->parameters.push_back(parameter.to_parameter_msg());
    const auto results = call_service<rcl_interfaces::srv::SetParameters>(
      node, node_service(target, "set_parameters"), request, timeout)->results;
    if (results.size() == 1 && results[0].successful) {
      std::cout << "Set parameter successful" << std::endl;
      return 0;
    }
    std::cout << "Setting parameter failed" <<
      (results.empty() || results[0].reason.empty() ? "" : ": " + results[0].reason) << std::endl;
    return 1;
  }
  if (verb == "dump") {
    const auto names = list_parameter_names(node, target, timeout);
    const auto values = get_parameter_values(node, target, names, timeout);
    std::cout << (target[0] == '/' ? target : "/" + target) << ":\n  ros__parameters:\n";
    for (size_t i = 0; i < names.size() && i < values.size(); ++i) {
      std::cout << "    " << escaped_text(names[i]) << ": " << value_text(values[i], true) << "\n";
    }
    return 0;
  }
  throw std::invalid_argument("unknown param command '" + verb + "'");
}

int lifecycle_command(const std::string & verb, const Args & args)
{
  if (args.positional.empty()) {
    throw std::invalid_argument("lifecycle " + verb + " needs a node name");
  }
  const std::string & target = args.positional[0];
  const auto timeout = seconds_option(args, "--timeout", 5);
  auto node = make_cli_node();
  if (verb == "get") {
    auto state = call_service<lifecycle_msgs::srv::GetState>(
      node, node_service(target, "get_state"),
      std::make_shared<lifecycle_msgs::srv::GetState::Request>(), timeout)->current_state;
    std::cout << state.label << " [" << static_cast<int>(state.id) << "]" << std::endl;
    return 0;
  }
  if (verb == "list") {
    auto transitions = call_service<lifecycle_msgs::srv::GetAvailableTransitions>(
      node, node_service(target, "get_available_transitions"),
      std::make_shared<lifecycle_msgs::srv::GetAvailableTransitions::Request>(), timeout);
    for (const auto & t : transitions->available_transitions) {
      std::cout << "- " << t.transition.label << " [" << static_cast<int>(t.transition.id) <<
        "]\n\tStart: " << t.start_state.label << "\n\tGoal: " << t.goal_state.label << "\n";
    }
    return 0;
  }
  if (verb == "set") {
    if (args.positional.size() < 2) {
      throw std::invalid_argument("lifecycle set needs a transition");
    }
    auto request = std::make_shared<lifecycle_msgs::srv::ChangeState::Request>();
    const std::string & transition = args.positional[1];
    if (!transition.empty() && std::all_of(transition.begin(), transition.end(), ::isdigit)) {
      const int id = std::stoi(transition);
      if (id > 255) {
        throw std::invalid_argument("transition id out of range");
      }
      request->transition.id = static_cast<uint8_t>(id);
    } else {
      request->transition.label = transition;
    }
    const bool success = call_service<lifecycle_msgs::srv::ChangeState>(
      node, node_service(target, "change_state"), request, timeout)->success;
    std::cout << (success ? "Transitioning successful" : "Transitioning failed") << std::endl;
    return success ? 0 : 1;
  }
  throw std::invalid_argument("unknown lifecycle command '" + verb + "'");
}

int run(const std::vector<std::string> & words)
{
  if (words.size() < 2 || words[0] == "-h" || words[0] == "--help") {
    std::cout << kUsage;
    return words.empty() || words[0] == "-h" || words[0] == "--help" ? 0 : 2;
  }
  const std::string group = words[0];
  const std::string verb = words[1];
  if (group == "bag") {
    return bag_command(
      rclcdds::get_global_default_context(), verb,
      std::vector<std::string>(words.begin() + 2, words.end()));
  }
  const Args args = parse_args(std::vector<std::string>(words.begin() + 2, words.end()));
  auto context = rclcdds::get_global_default_context();
  if (group == "topic" && verb == "list") {
    return topic_list(context, args);
  }
  if (group == "topic" && verb == "echo") {
    return topic_echo(context, args);
  }
  if (group == "topic" && verb == "hz") {
    return topic_hz(context, args);
  }
  if (group == "topic" && verb == "pub") {
    return topic_pub(context, args);
  }
  if (group == "node" && verb == "list") {
    return node_list(context, args);
  }
  if (group == "param") {
    return param_command(context, verb, args);
  }
  if (group == "lifecycle") {
    return lifecycle_command(verb, args);
  }
  std::cerr << "unknown command '" << group << " " << verb << "'\n" << kUsage;
  return 2;
}

}  // namespace
}  // namespace rclcdds_cli

int main(int argc, char ** argv)
{
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    words.emplace_back(argv[i]);
  }
  if (words.empty() || words[0] == "-h" || words[0] == "--help") {
    std::cout << rclcdds_cli::kUsage;
    return words.empty() ? 2 : 0;
  }
  int code = 1;
  try {
    rclcdds::init(argc, argv);
    code = rclcdds_cli::run(words);
  } catch (const std::invalid_argument & error) {
    std::cerr << "rclcdds_cli: " << error.what() << "\n" << rclcdds_cli::kUsage;
    code = 2;
  } catch (const std::exception & error) {
    std::cerr << "rclcdds_cli: " << error.what() << "\n";
    code = 1;
  }
  rclcdds::shutdown();
  return code;
}
