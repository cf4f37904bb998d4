// ROS 2 name rules: validation of node names and namespaces, expansion of topic names.
#pragma once

#include <stdexcept>
#include <string>

namespace rclcdds
{
namespace exceptions
{

/// A topic or service name breaks the ROS 2 naming rules.
class InvalidTopicNameError : public std::invalid_argument
{
public:
  using std::invalid_argument::invalid_argument;
};

/// A node name breaks the ROS 2 naming rules.
class InvalidNodeNameError : public std::invalid_argument
{
public:
  using std::invalid_argument::invalid_argument;
};

/// A namespace breaks the ROS 2 naming rules.
class InvalidNamespaceError : public std::invalid_argument
{
public:
  using std::invalid_argument::invalid_argument;
};

}  // namespace exceptions

/// @throws exceptions::InvalidNodeNameError unless the name is [A-Za-z_][A-Za-z0-9_]*
void validate_node_name(const std::string & node_name);

/// Makes a namespace absolute ("" -> "/", "ns" -> "/ns") and checks it.
/// @throws exceptions::InvalidNamespaceError
std::string normalize_namespace(const std::string & node_namespace);

/// Fully qualified node name, e.g. "/ns/node" or "/node".
std::string fully_qualified_node_name(
  const std::string & node_name, const std::string & node_namespace);

/// Expands a topic or service name as rcl does: absolute names stay, "~" stands for the node's
/// fully qualified name, {node} and {ns}/{namespace} are substituted, relative names go under the
/// node namespace.
/// @throws exceptions::InvalidTopicNameError naming the offending name and the rule it breaks
std::string expand_topic_name(
  const std::string & topic_name, const std::string & node_name,
  const std::string & node_namespace);

/// DDS topic of a ROS topic: "/camera/image" -> "rt/camera/image".
std::string dds_topic_name(const std::string & fully_qualified_topic);

}  // namespace rclcdds
