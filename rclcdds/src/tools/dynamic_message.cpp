#include "dynamic_message.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "../transport/warning_limiter.hpp"
#include "peer_input.hpp"

namespace rclcdds_cli
{

namespace
{

struct TypeParts
{
  std::string package;
  std::string name;
};

TypeParts split_type(const std::string & type_name)
{
  // Names can come from other participants: only plain identifiers reach dlopen and dlsym.
  if (!valid_message_type_name(type_name)) {
    throw std::runtime_error(
            "'" + rclcdds::detail::printable(type_name, 96) +
            "' is not a message type name (expected pkg/msg/Type)");
  }
  std::vector<std::string> parts;
  std::stringstream stream(type_name);
  std::string part;
  while (std::getline(stream, part, '/')) {
    parts.push_back(part);
  }
  if (parts.size() == 3 && parts[1] == "msg") {
    return {parts[0], parts[2]};
  }
  if (parts.size() == 2) {
    return {parts[0], parts[1]};
  }
  throw std::runtime_error(
          "'" + type_name + "' is not a message type name (expected pkg/msg/Type)");
}

void * open_library(const std::string & package)
{
  const std::string file = "lib" + package + "__rosidl_typesupport_introspection_cpp.so";
  if (void * handle = dlopen(file.c_str(), RTLD_NOW | RTLD_GLOBAL)) {
    return handle;
  }
  const char * prefixes = std::getenv("AMENT_PREFIX_PATH");
  std::stringstream stream(prefixes != nullptr ? prefixes : "");
  std::string prefix;
  while (std::getline(stream, prefix, ':')) {
    if (prefix.empty()) {
      continue;
    }
    const std::string path = prefix + "/lib/" + file;
    if (void * handle = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL)) {
      return handle;
    }
  }
  throw std::runtime_error(
          "cannot load " + file + " (is the package '" + package +
          "' built and its setup file sourced?)");
}

}  // namespace

const rclcdds::MessageMembers & load_message_members(const std::string & type_name)
{
  static std::mutex mutex;
  static std::map<std::string, const rclcdds::MessageMembers *> cache;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = cache.find(type_name);
  if (it != cache.end()) {
    return *it->second;
  }
  const TypeParts parts = split_type(type_name);
  void * library = open_library(parts.package);
  const std::string symbol =
    "rosidl_typesupport_introspection_cpp__get_message_type_support_handle__" + parts.package +
    "__msg__" + parts.name;
  using GetHandle = const rosidl_message_type_support_t * (*)();
  auto get_handle = reinterpret_cast<GetHandle>(dlsym(library, symbol.c_str()));
  if (get_handle == nullptr) {
    throw std::runtime_error(
            "message type '" + type_name + "' not found (no symbol " + symbol + ")");
  }
  const auto * members = static_cast<const rclcdds::MessageMembers *>(get_handle()->data);
  cache[type_name] = members;
  return *members;
}

std::string ros_type_from_dds(const std::string & dds_type)
{
  const std::string marker = "::dds_::";
  const size_t pos = dds_type.find(marker);
  if (pos == std::string::npos || dds_type.empty() || dds_type.back() != '_') {
    return "";
  }
  std::string ns = dds_type.substr(0, pos);
  std::string name = dds_type.substr(pos + marker.size());
  name.pop_back();
  for (size_t p = ns.find("::"); p != std::string::npos; p = ns.find("::")) {
    ns.replace(p, 2, "/");
  }
  return ns + "/" + name;
}

DynamicMessage::DynamicMessage(const rclcdds::MessageMembers & members)
: members_(members), storage_(new unsigned char[members.size_of_ + alignof(std::max_align_t)])
{
  members_.init_function(data(), rosidl_runtime_cpp::MessageInitialization::ALL);
}

DynamicMessage::~DynamicMessage()
{
  members_.fini_function(data());
}

}  // namespace rclcdds_cli
