#include "peer_input.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "../transport/warning_limiter.hpp"
#include "rclcdds/names.hpp"

namespace rclcdds_cli
{

namespace
{

bool valid_identifier(const std::string & part)
{
  if (part.empty() || std::isalpha(static_cast<unsigned char>(part[0])) == 0) {
    return false;
  }
  return std::all_of(part.begin(), part.end(), [](char c) {
             return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
           });
}

std::string shown(const std::string & text) {return rclcdds::detail::printable(text, 96);}

std::string participant_text(const rmw_dds_common::msg::ParticipantEntitiesInfo & info)
{
  std::string text;
  char byte[4];
  for (size_t i = 0; i < 12 && i < info.gid.data.size(); ++i) {
    std::snprintf(byte, sizeof(byte), "%02x", info.gid.data[i]);
    text += byte;
  }
  return text;
}

bool valid_node_name(const std::string & name)
{
  if (name.empty() || name.size() > kMaxNodeNameLength) {
    return false;
  }
  try {
    rclcdds::validate_node_name(name);
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

bool valid_namespace(const std::string & ns)
{
  if (ns.empty() || ns.size() > kMaxNamespaceLength || ns[0] != '/') {
    return false;
  }
  try {
    return rclcdds::normalize_namespace(ns) == ns;
  } catch (const std::exception &) {
    return false;
  }
}

}  // namespace

bool valid_message_type_name(const std::string & type_name)
{
  std::vector<std::string> parts;
  std::stringstream stream(type_name);
  std::string part;
  while (std::getline(stream, part, '/')) {
    parts.push_back(part);
  }
  if (type_name.empty() || type_name.back() == '/') {
    return false;
  }
  if (parts.size() == 3) {
    return valid_identifier(parts[0]) && parts[1] == "msg" && valid_identifier(parts[2]);
  }
  return parts.size() == 2 && valid_identifier(parts[0]) && valid_identifier(parts[1]);
}

TopicTypeChoice choose_topic_type(
  const std::vector<TopicEndpoint> & endpoints, const std::string & topic,
  const std::string & given_type)
{
  std::set<std::string> types;  // of the publishers; "" for a non-ROS DDS type name
  for (const auto & endpoint : endpoints) {
    if (endpoint.topic == topic && endpoint.is_writer) {
      types.insert(endpoint.type);
    }
  }
  TopicTypeChoice choice;
  if (!given_type.empty()) {
    choice.type = given_type;
  } else if (types.empty()) {
    throw std::runtime_error(
            "no publisher of '" + topic + "' found: give the message type (pkg/msg/Type)");
  } else if (types.size() > 1) {
    std::string list;
    for (const auto & type : types) {
      list += (list.empty() ? "" : ", ") + (type.empty() ? "<not a ROS type>" : shown(type));
    }
    throw std::runtime_error(
            "'" + topic + "' is published with " + std::to_string(types.size()) + " types (" +
            list + "): give the one to use");
  } else {
    choice.type = *types.begin();
  }
  if (!valid_message_type_name(choice.type)) {
    throw std::runtime_error(
            "'" + topic + "' has type '" + shown(choice.type) +
            "', which is not a valid message type name (pkg/msg/Type)");
  }
  std::string others;
  for (const auto & endpoint : endpoints) {
    if (endpoint.topic != topic || !endpoint.is_writer) {
      continue;
    }
    if (endpoint.type != choice.type) {
      continue;
    }
    choice.any_writer = true;
    choice.all_reliable = choice.all_reliable && endpoint.reliable;
    choice.all_transient_local = choice.all_transient_local && endpoint.transient_local;
  }
  for (const auto & type : types) {
    if (type != choice.type) {
      others += (others.empty() ? "" : ", ") + (type.empty() ? "<not a ROS type>" : shown(type));
    }
  }
  if (!others.empty()) {
    choice.note = "'" + topic + "' also has publishers of " + others + ": only " + choice.type +
      " is read";
  }
  return choice;
}

std::vector<std::string> announced_node_names(
  const rmw_dds_common::msg::ParticipantEntitiesInfo & info, bool include_hidden,
  std::vector<std::string> & warnings)
{
  std::vector<std::string> names;
  size_t invalid = 0;
  std::string first_invalid;
  size_t valid = 0;
  for (const auto & node : info.node_entities_info_seq) {
    if (!valid_node_name(node.node_name) || !valid_namespace(node.node_namespace)) {
      if (invalid++ == 0) {
        first_invalid = shown(node.node_namespace) + " " + shown(node.node_name);
      }
      continue;
    }
    if (++valid > kMaxAnnouncedNodes) {
      continue;
    }
    if (!include_hidden && node.node_name[0] == '_') {
      continue;
    }
    names.push_back((node.node_namespace == "/" ? "" : node.node_namespace) + "/" + node.node_name);
  }
  const std::string who = "participant " + participant_text(info);
  if (invalid > 0) {
    warnings.push_back(
      who + " announces " + std::to_string(invalid) + " invalid or over-long node name" +
      (invalid == 1 ? "" : "s") + " (left out; first: " + first_invalid + ")");
  }
  if (valid > kMaxAnnouncedNodes) {
    warnings.push_back(
      who + " announces " + std::to_string(valid) + " nodes: only the first " +
      std::to_string(kMaxAnnouncedNodes) + " are listed");
  }
  return names;
}

void RateMonitor::add_sample(Clock::time_point arrival)
{
  arrivals_.push_back(arrival);
  while (arrivals_.size() > window_ + 1) {
    arrivals_.pop_front();
  }
  ++new_samples_;
}

std::string RateMonitor::report()
{
  std::string text;
  if (new_samples_ == 0 || arrivals_.size() < 2) {
    text = "no new messages";
  } else {
    std::vector<double> gaps;
    for (size_t i = 1; i < arrivals_.size(); ++i) {
      gaps.push_back(std::chrono::duration<double>(arrivals_[i] - arrivals_[i - 1]).count());
    }
    double mean = 0.0;
    for (double gap : gaps) {
      mean += gap;
    }
    mean /= static_cast<double>(gaps.size());
    double variance = 0.0;
    for (double gap : gaps) {
      variance += (gap - mean) * (gap - mean);
    }
    variance /= static_cast<double>(gaps.size());
    char line[256];
    std::snprintf(
      line, sizeof(line), "average rate: %.3f\n\tmin: %.3fs max: %.3fs std dev: %.5fs window: %zu",
      mean > 0 ? 1.0 / mean : 0.0, *std::min_element(gaps.begin(), gaps.end()),
      *std::max_element(gaps.begin(), gaps.end()), std::sqrt(variance), gaps.size() + 1);
    text = line;
    reported_rate_ = true;
  }
  if (malformed_ > 0) {
    text += "\n\tmalformed samples ignored: " + std::to_string(malformed_);
  }
  new_samples_ = 0;
  malformed_ = 0;
  return text;
}

}  // namespace rclcdds_cli
