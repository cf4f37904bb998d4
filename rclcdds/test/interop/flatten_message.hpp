// Flattens a message into "msg.path=value" lines exactly as subscriber.js prints what
// @foxglove/ros2 decoded (byte arrays as length and FNV-1a hash), and reads those lines back from
// the subscriber's output: a field-by-field comparison of what we sent with what it decoded.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <rosidl_typesupport_introspection_cpp/field_types.hpp>
#include <rosidl_typesupport_introspection_cpp/message_introspection.hpp>

#include "rclcdds/serialization.hpp"

namespace interop
{

namespace ts = rosidl_typesupport_introspection_cpp;

inline std::string fnv1a(const uint8_t * data, size_t size)
{
  uint32_t hash = 0x811c9dc5u;
  for (size_t i = 0; i < size; ++i) {
    hash = (hash ^ data[i]) * 0x01000193u;
  }
  char text[9];
  std::snprintf(text, sizeof(text), "%08x", hash);
  return text;
}

/// Shortest round-trip text of a number, as JavaScript prints it (no "-0").
inline std::string number_text(double value)
{
  if (value == 0.0) {
    return "0";
  }
  char text[64];
  auto result = std::to_chars(text, text + sizeof(text), value);
  return std::string(text, result.ptr);
}

inline std::string primitive_text(uint8_t type, const void * p)
{
  switch (type) {
    case ts::ROS_TYPE_BOOLEAN: return *static_cast<const bool *>(p) ? "true" : "false";
    case ts::ROS_TYPE_UINT8: return std::to_string(*static_cast<const uint8_t *>(p));
    case ts::ROS_TYPE_INT8: return std::to_string(*static_cast<const int8_t *>(p));
    case ts::ROS_TYPE_UINT16: return std::to_string(*static_cast<const uint16_t *>(p));
    case ts::ROS_TYPE_INT16: return std::to_string(*static_cast<const int16_t *>(p));
    case ts::ROS_TYPE_UINT32: return std::to_string(*static_cast<const uint32_t *>(p));
    case ts::ROS_TYPE_INT32: return std::to_string(*static_cast<const int32_t *>(p));
    case ts::ROS_TYPE_UINT64: return std::to_string(*static_cast<const uint64_t *>(p));
    case ts::ROS_TYPE_INT64: return std::to_string(*static_cast<const int64_t *>(p));
    case ts::ROS_TYPE_FLOAT: return number_text(*static_cast<const float *>(p));
    case ts::ROS_TYPE_DOUBLE: return number_text(*static_cast<const double *>(p));
    case ts::ROS_TYPE_STRING: return *static_cast<const std::string *>(p);
    default: return "?";
  }
}

/// Same flattening as subscriber.js, driven by the introspection description.
inline void flatten(
  const rclcdds::MessageMembers & members, const void * msg, const std::string & prefix,
  std::vector<std::string> & out)
{
  for (uint32_t i = 0; i < members.member_count_; ++i) {
    const ts::MessageMember & m = members.members_[i];
    const void * field = static_cast<const uint8_t *>(msg) + m.offset_;
    const std::string path = prefix + "." + m.name_;
    if (!m.is_array_) {
      if (m.type_id_ == ts::ROS_TYPE_MESSAGE) {
        flatten(*static_cast<const rclcdds::MessageMembers *>(m.members_->data), field, path, out);
      } else {
        out.push_back(path + "=" + primitive_text(m.type_id_, field));
      }
      continue;
    }
    const size_t count = m.size_function(field);
    out.push_back(path + ".length=" + std::to_string(count));
    if (m.type_id_ == ts::ROS_TYPE_UINT8 || m.type_id_ == ts::ROS_TYPE_INT8) {
      const void * bytes = count ? m.get_const_function(field, 0) : nullptr;
      out.push_back(path + ".fnv=" + fnv1a(static_cast<const uint8_t *>(bytes), count));
      continue;
    }
    for (size_t k = 0; k < count; ++k) {
      const std::string item = path + "[" + std::to_string(k) + "]";
      const void * element = m.get_const_function(field, k);
      if (m.type_id_ == ts::ROS_TYPE_MESSAGE) {
        flatten(*static_cast<const rclcdds::MessageMembers *>(m.members_->data), element, item, out);
      } else {
        out.push_back(item + "=" + primitive_text(m.type_id_, element));
      }
    }
  }
}

template<class T>
std::vector<std::string> expected_lines(const T & msg)
{
  std::vector<std::string> lines;
  flatten(rclcdds::get_message_members<T>(), &msg, "msg", lines);
  std::sort(lines.begin(), lines.end());
  return lines;
}

/// Lines the subscriber printed for `topic`, without the topic and the payload size.
inline std::vector<std::string> received_lines(const std::string & output, const std::string & topic)
{
  std::vector<std::string> lines;
  std::stringstream text(output);
  std::string line;
  while (std::getline(text, line)) {
    if (line.rfind(topic + " msg", 0) == 0) {
      lines.push_back(line.substr(topic.size() + 1));
    }
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace interop
