#include "rclcdds/names.hpp"

#include <cctype>

namespace rclcdds
{

namespace
{

bool is_word_char(char c)
{
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

/// Checks an absolute, expanded name made of "/"-separated tokens.
template<class Error>
void validate_absolute(const std::string & name, const char * what, bool allow_root)
{
  auto fail = [&](const std::string & rule) {
      throw Error(std::string(what) + " '" + name + "' is invalid: " + rule);
    };
  if (name.empty() || name[0] != '/') {
    fail("it must start with '/'");
  }
  if (name == "/") {
    if (!allow_root) {
      fail("it must not be just '/'");
    }
    return;
  }
  if (name.back() == '/') {
    fail("it must not end with '/'");
  }
  size_t token_start = 1;
  for (size_t i = 1; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/') {
      if (i == token_start) {
        fail("it must not contain '//'");
      }
      if (std::isdigit(static_cast<unsigned char>(name[token_start])) != 0) {
        fail("a token must not start with a digit");
      }
      token_start = i + 1;
    } else if (!is_word_char(name[i])) {
      fail(std::string("character '") + name[i] + "' is not allowed (only alphanumerics, '_' and '/')");
    }
  }
}

void replace_all(std::string & text, const std::string & from, const std::string & to)
{
  for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size())) {
    text.replace(pos, from.size(), to);
  }
}

}  // namespace

void validate_node_name(const std::string & node_name)
{
  if (node_name.empty()) {
    throw exceptions::InvalidNodeNameError("node name must not be empty");
  }
  if (std::isdigit(static_cast<unsigned char>(node_name[0])) != 0) {
    throw exceptions::InvalidNodeNameError(
            "node name '" + node_name + "' is invalid: it must not start with a digit");
  }
  for (char c : node_name) {
    if (!is_word_char(c)) {
      throw exceptions::InvalidNodeNameError(
              "node name '" + node_name + "' is invalid: character '" + std::string(1, c) +
              "' is not allowed (only alphanumerics and '_')");
    }
  }
}

std::string normalize_namespace(const std::string & node_namespace)
{
  std::string ns = node_namespace;
  if (ns.empty() || ns[0] != '/') {
    ns.insert(ns.begin(), '/');
  }
  validate_absolute<exceptions::InvalidNamespaceError>(ns, "namespace", true);
  return ns;
}

std::string fully_qualified_node_name(
  const std::string & node_name, const std::string & node_namespace)
{
  const std::string ns = normalize_namespace(node_namespace);
  return ns == "/" ? "/" + node_name : ns + "/" + node_name;
}

std::string expand_topic_name(
  const std::string & topic_name, const std::string & node_name,
  const std::string & node_namespace)
{
  if (topic_name.empty()) {
    throw exceptions::InvalidTopicNameError("topic name must not be empty");
  }
  const std::string ns = normalize_namespace(node_namespace);
  const std::string fqn = fully_qualified_node_name(node_name, ns);
  std::string name = topic_name;
  if (name[0] == '~') {
    if (name.size() > 1 && name[1] != '/') {
      throw exceptions::InvalidTopicNameError(
              "topic name '" + topic_name + "' is invalid: '~' must be followed by '/'");
    }
    name = fqn + name.substr(1);
  }
  replace_all(name, "{node}", node_name);
  replace_all(name, "{namespace}", ns == "/" ? "" : ns.substr(1));
  replace_all(name, "{ns}", ns == "/" ? "" : ns.substr(1));
  if (name[0] != '/') {
    name = (ns == "/" ? "/" : ns + "/") + name;
  }
  validate_absolute<exceptions::InvalidTopicNameError>(name, "topic name", false);
  return name;
}

std::string dds_topic_name(const std::string & fully_qualified_topic)
{
  return "rt" + fully_qualified_topic;
}

}  // namespace rclcdds
