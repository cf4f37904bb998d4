#include "message_text.hpp"

#include <yaml-cpp/yaml.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <rosidl_typesupport_introspection_cpp/field_types.hpp>

namespace rclcdds_cli
{

namespace
{

namespace ft = rosidl_typesupport_introspection_cpp;
using rclcdds::MessageMembers;
using Member = rosidl_typesupport_introspection_cpp::MessageMember;

const MessageMembers & nested_members(const Member & member)
{
  return *static_cast<const MessageMembers *>(member.members_->data);
}

template<class T>
std::string number_text(T value)
{
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  std::string text(buffer, result.ptr);
  if constexpr (std::is_floating_point_v<T>) {
    if (text.find_first_of(".en") == std::string::npos) {
      text += ".0";  // keep the value recognisable as floating point
    }
  }
  return text;
}

/// Length of the UTF-8 sequence at `i` (1-4), or 0 when the bytes there are not valid UTF-8.
size_t utf8_length(const std::string & text, size_t i)
{
  const auto byte = [&text](size_t k) {return static_cast<unsigned char>(text[k]);};
  const unsigned char c = byte(i);
  size_t length = 0;
  uint32_t min = 0;
  if (c < 0x80) {
    return 1;
  } else if ((c & 0xe0) == 0xc0) {
    length = 2;
    min = 0x80;
  } else if ((c & 0xf0) == 0xe0) {
    length = 3;
    min = 0x800;
  } else if ((c & 0xf8) == 0xf0) {
    length = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) {
    return 0;
  }
  uint32_t code = c & (0x7f >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xc0) != 0x80) {
      return 0;
    }
    code = (code << 6) | (byte(i + k) & 0x3f);
  }
  if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
    return 0;
  }
  return length;
}

/// Code point of the valid UTF-8 sequence of `length` bytes at `i`.
uint32_t code_point(const std::string & text, size_t i, size_t length)
{
  const auto c = static_cast<unsigned char>(text[i]);
  uint32_t code = length == 1 ? c : c & (0x7f >> length);
  for (size_t k = 1; k < length; ++k) {
    code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3f);
  }
  return code;
}

/// Characters a terminal or a log reader acts on: C0 and C1 controls, DEL, line separators.
bool is_control(uint32_t code)
{
  return code < 0x20 || (code >= 0x7f && code <= 0x9f) || code == 0x2028 || code == 0x2029;
}

/// YAML double-quoted form, escaping controls and bytes that are not UTF-8, so that a string
/// from a peer can never start a line of its own, fake a field, or drive the terminal.
std::string double_quoted(const std::string & text)
{
  std::string out = "\"";
  char hex[12];
  for (size_t i = 0; i < text.size(); ) {
    const size_t length = utf8_length(text, i);
    if (length == 0) {  // a byte that is not UTF-8: shown as its value
      std::snprintf(hex, sizeof(hex), "\\x%02x", static_cast<unsigned char>(text[i]));
      out += hex;
      ++i;
      continue;
    }
    const uint32_t code = code_point(text, i, length);
    switch (code) {
      case 0x00: out += "\\0"; break;
      case 0x07: out += "\\a"; break;
      case 0x08: out += "\\b"; break;
      case 0x09: out += "\\t"; break;
      case 0x0a: out += "\\n"; break;
      case 0x0b: out += "\\v"; break;
      case 0x0c: out += "\\f"; break;
      case 0x0d: out += "\\r"; break;
      case 0x1b: out += "\\e"; break;
      case 0x22: out += "\\\""; break;
      case 0x5c: out += "\\\\"; break;
      case 0x85: out += "\\N"; break;
      case 0x2028: out += "\\L"; break;
      case 0x2029: out += "\\P"; break;
      default:
        if (is_control(code)) {
          std::snprintf(hex, sizeof(hex), code > 0xff ? "\\u%04x" : "\\x%02x", code);
          out += hex;
        } else {
          out.append(text, i, length);
        }
    }
    i += length;
  }
  return out + "\"";
}

bool needs_escapes(const std::string & text)
{
  for (size_t i = 0; i < text.size(); ) {
    const size_t length = utf8_length(text, i);
    if (length == 0 || is_control(code_point(text, i, length))) {
      return true;
    }
    i += length;
  }
  return false;
}

std::string quoted_if_needed(const std::string & text)
{
  if (text.empty()) {
    return "''";
  }
  if (needs_escapes(text)) {
    return double_quoted(text);
  }
  const bool plain = text.find_first_of(":#{}[],&*!|>'\"%@`") == std::string::npos &&
    text.front() != ' ' && text.back() != ' ' && text.front() != '-' && text.front() != '?';
  if (plain) {
    return text;
  }
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') {
      out += '\'';
    }
  }
  return out + "'";
}

/// Text of one primitive element at `p` (not for bool vectors).
std::string scalar_text(uint8_t type_id, const void * p)
{
  switch (type_id) {
    case ft::ROS_TYPE_FLOAT: return number_text(*static_cast<const float *>(p));
    case ft::ROS_TYPE_DOUBLE: return number_text(*static_cast<const double *>(p));
    case ft::ROS_TYPE_LONG_DOUBLE:
      return number_text(static_cast<double>(*static_cast<const long double *>(p)));
    case ft::ROS_TYPE_CHAR: return number_text(static_cast<int>(*static_cast<const char *>(p)));
    case ft::ROS_TYPE_BOOLEAN: return *static_cast<const bool *>(p) ? "true" : "false";
    case ft::ROS_TYPE_OCTET:
    case ft::ROS_TYPE_UINT8: return number_text(*static_cast<const uint8_t *>(p));
    case ft::ROS_TYPE_INT8: return number_text(*static_cast<const int8_t *>(p));
    case ft::ROS_TYPE_UINT16: return number_text(*static_cast<const uint16_t *>(p));
    case ft::ROS_TYPE_INT16: return number_text(*static_cast<const int16_t *>(p));
    case ft::ROS_TYPE_UINT32: return number_text(*static_cast<const uint32_t *>(p));
    case ft::ROS_TYPE_INT32: return number_text(*static_cast<const int32_t *>(p));
    case ft::ROS_TYPE_UINT64: return number_text(*static_cast<const uint64_t *>(p));
    case ft::ROS_TYPE_INT64: return number_text(*static_cast<const int64_t *>(p));
    case ft::ROS_TYPE_STRING: return quoted_if_needed(*static_cast<const std::string *>(p));
    case ft::ROS_TYPE_WSTRING: return "'<wstring>'";
    default: return "'<unknown>'";
  }
}

class Printer
{
public:
  explicit Printer(const PrintOptions & options) : options_(options) {}

  void fields(const MessageMembers & members, const void * message, size_t indent, bool first_dash)
  {
    for (uint32_t i = 0; i < members.member_count_; ++i) {
      const Member & member = members.members_[i];
      const auto * field = static_cast<const uint8_t *>(message) + member.offset_;
      std::string lead(indent, ' ');
      if (first_dash && i == 0) {
        lead = std::string(indent - 2, ' ') + "- ";
      }
      out_ << lead << member.name_ << ":";
      if (member.is_array_) {
        array(member, field, indent);
      } else if (member.type_id_ == ft::ROS_TYPE_MESSAGE) {
        out_ << "\n";
        fields(nested_members(member), field, indent + 2, false);
      } else {
        out_ << " " << scalar_text(member.type_id_, field) << "\n";
      }
    }
  }

  std::string text() const {return out_.str();}

private:
  void array(const Member & member, const void * field, size_t indent)
  {
    const size_t size = member.size_function(field);
    if (size == 0) {
      out_ << " []\n";
      return;
    }
    out_ << "\n";
    const size_t shown = options_.max_array_length == 0 ? size :
      std::min(size, options_.max_array_length);
    const std::string dash = std::string(indent, ' ') + "- ";
    for (size_t k = 0; k < shown; ++k) {
      if (member.type_id_ == ft::ROS_TYPE_MESSAGE) {
        fields(nested_members(member), member.get_const_function(field, k), indent + 2, true);
      } else if (member.type_id_ == ft::ROS_TYPE_BOOLEAN) {
        bool value = false;  // std::vector<bool> has no element address: fetch a copy
        member.fetch_function(field, k, &value);
        out_ << dash << (value ? "true" : "false") << "\n";
      } else {
        out_ << dash << scalar_text(member.type_id_, member.get_const_function(field, k)) << "\n";
      }
    }
    if (shown < size) {
      out_ << dash << "'...'\n";
    }
  }

  const PrintOptions & options_;
  std::ostringstream out_;
};

/// Reads one YAML scalar into the element at `p` of primitive type `type_id`.
void assign_scalar(uint8_t type_id, const YAML::Node & node, void * p)
{
  auto integer = [&node](auto * out) {
      using T = std::remove_pointer_t<decltype(out)>;
      const auto wide = node.as<long long>();
      if (wide < static_cast<long long>(std::numeric_limits<T>::min()) ||
        (wide > 0 && static_cast<unsigned long long>(wide) > std::numeric_limits<T>::max()))
      {
        throw std::out_of_range("value " + node.Scalar() + " out of range");
      }
      *out = static_cast<T>(wide);
    };
  switch (type_id) {
    case ft::ROS_TYPE_FLOAT: *static_cast<float *>(p) = node.as<float>(); break;
    case ft::ROS_TYPE_DOUBLE: *static_cast<double *>(p) = node.as<double>(); break;
    case ft::ROS_TYPE_LONG_DOUBLE: *static_cast<long double *>(p) = node.as<double>(); break;
    case ft::ROS_TYPE_BOOLEAN: *static_cast<bool *>(p) = node.as<bool>(); break;
    case ft::ROS_TYPE_CHAR: integer(static_cast<int8_t *>(p)); break;
    case ft::ROS_TYPE_OCTET:
    case ft::ROS_TYPE_UINT8: integer(static_cast<uint8_t *>(p)); break;
    case ft::ROS_TYPE_INT8: integer(static_cast<int8_t *>(p)); break;
    case ft::ROS_TYPE_UINT16: integer(static_cast<uint16_t *>(p)); break;
    case ft::ROS_TYPE_INT16: integer(static_cast<int16_t *>(p)); break;
    case ft::ROS_TYPE_UINT32: integer(static_cast<uint32_t *>(p)); break;
    case ft::ROS_TYPE_INT32: integer(static_cast<int32_t *>(p)); break;
    case ft::ROS_TYPE_UINT64: *static_cast<uint64_t *>(p) = node.as<uint64_t>(); break;
    case ft::ROS_TYPE_INT64: *static_cast<int64_t *>(p) = node.as<int64_t>(); break;
    case ft::ROS_TYPE_STRING: *static_cast<std::string *>(p) = node.as<std::string>(); break;
    default: throw std::runtime_error("field type not supported by the parser");
  }
}

void fill(const MessageMembers & members, const YAML::Node & node, void * message,
  const std::string & path);

void fill_member(const Member & member, const YAML::Node & value, void * field,
  const std::string & path)
{
  if (!member.is_array_) {
    if (member.type_id_ == ft::ROS_TYPE_MESSAGE) {
      fill(nested_members(member), value, field, path);
    } else {
      assign_scalar(member.type_id_, value, field);
    }
    return;
  }
  if (!value.IsSequence()) {
    throw std::runtime_error("expected a list");
  }
  const size_t count = value.size();
  if (member.array_size_ != 0 && !member.is_upper_bound_) {
    if (count != member.array_size_) {
      throw std::runtime_error(
              "expected exactly " + std::to_string(member.array_size_) + " elements");
    }
  } else {
    if (member.is_upper_bound_ && count > member.array_size_) {
      throw std::runtime_error("more than " + std::to_string(member.array_size_) + " elements");
    }
    member.resize_function(field, count);
  }
  for (size_t k = 0; k < count; ++k) {
    const std::string element_path = path + "[" + std::to_string(k) + "]";
    if (member.type_id_ == ft::ROS_TYPE_MESSAGE) {
      fill(nested_members(member), value[k], member.get_function(field, k), element_path);
    } else if (member.type_id_ == ft::ROS_TYPE_BOOLEAN) {
      const bool flag = value[k].as<bool>();
      member.assign_function(field, k, &flag);
    } else {
      assign_scalar(member.type_id_, value[k], member.get_function(field, k));
    }
  }
}

void fill(const MessageMembers & members, const YAML::Node & node, void * message,
  const std::string & path)
{
  if (node.IsNull()) {
    return;
  }
  if (!node.IsMap()) {
    throw std::runtime_error("'" + path + "': expected a mapping of field names");
  }
  for (const auto & entry : node) {
    const std::string key = entry.first.as<std::string>();
    const Member * member = nullptr;
    for (uint32_t i = 0; i < members.member_count_; ++i) {
      if (key == members.members_[i].name_) {
        member = &members.members_[i];
      }
    }
    const std::string field_path = path.empty() ? key : path + "." + key;
    if (member == nullptr) {
      throw std::runtime_error(
              "'" + field_path + "': no such field in " + members.message_namespace_ + "::" +
              members.message_name_);
    }
    try {
      fill_member(*member, entry.second, static_cast<uint8_t *>(message) + member->offset_,
        field_path);
    } catch (const YAML::Exception & error) {
      throw std::runtime_error("'" + field_path + "': " + error.msg);
    } catch (const std::out_of_range & error) {
      throw std::runtime_error("'" + field_path + "': " + error.what());
    } catch (const std::runtime_error & error) {
      const std::string what = error.what();
      throw std::runtime_error(
              what.rfind("'", 0) == 0 ? what : "'" + field_path + "': " + what);
    }
  }
}

}  // namespace

std::string escaped_text(const std::string & text)
{
  return needs_escapes(text) ? double_quoted(text) : text;
}

std::string quoted_text(const std::string & text)
{
  if (needs_escapes(text)) {
    return double_quoted(text);
  }
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') {
      out += '\'';
    }
  }
  return out + "'";
}

std::string message_to_yaml(
  const MessageMembers & members, const void * message, const PrintOptions & options)
{
  Printer printer(options);
  printer.fields(members, message, 0, false);
  return printer.text();
}

bool message_from_yaml(
  const MessageMembers & members, const std::string & text, void * message, std::string & error)
{
  try {
    fill(members, YAML::Load(text.empty() ? "{}" : text), message, "");
    return true;
  } catch (const YAML::Exception & ex) {
    error = "cannot parse '" + text + "': " + ex.msg;
  } catch (const std::exception & ex) {
    error = ex.what();
  }
  return false;
}

}  // namespace rclcdds_cli
