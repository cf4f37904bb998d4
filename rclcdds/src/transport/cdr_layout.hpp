// Wire sizes of rosidl field kinds in XCDR1, shared by the CDR writer and reader.
#pragma once

#include <cstddef>
#include <cstdint>

#include <rosidl_typesupport_introspection_cpp/field_types.hpp>
#include <rosidl_typesupport_introspection_cpp/message_introspection.hpp>

namespace rclcdds
{
namespace cdr
{

static_assert(sizeof(bool) == 1, "bool must occupy one byte");
static_assert(
  __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
  "the CDR writer emits the host byte order and declares it little endian");

/// Wire size (and alignment) of a primitive field kind; 0 for strings and nested messages.
inline size_t primitive_size(uint8_t type_id)
{
  namespace ts = rosidl_typesupport_introspection_cpp;
  switch (type_id) {
    case ts::ROS_TYPE_BOOLEAN:
    case ts::ROS_TYPE_OCTET:
    case ts::ROS_TYPE_UINT8:
    case ts::ROS_TYPE_INT8:
    case ts::ROS_TYPE_CHAR:
      return 1;
    case ts::ROS_TYPE_UINT16:
    case ts::ROS_TYPE_INT16:
    case ts::ROS_TYPE_WCHAR:
      return 2;
    case ts::ROS_TYPE_UINT32:
    case ts::ROS_TYPE_INT32:
    case ts::ROS_TYPE_FLOAT:
      return 4;
    case ts::ROS_TYPE_UINT64:
    case ts::ROS_TYPE_INT64:
    case ts::ROS_TYPE_DOUBLE:
      return 8;
    default:
      return 0;
  }
}

/// Nested message description of a ROS_TYPE_MESSAGE member.
inline const rosidl_typesupport_introspection_cpp::MessageMembers & nested_members(
  const rosidl_typesupport_introspection_cpp::MessageMember & member)
{
  return *static_cast<const rosidl_typesupport_introspection_cpp::MessageMembers *>(
    member.members_->data);
}

/// True for fixed-size arrays (T[N]); false for singletons and (bounded) sequences.
inline bool is_fixed_array(const rosidl_typesupport_introspection_cpp::MessageMember & member)
{
  return member.is_array_ && member.array_size_ > 0 && !member.is_upper_bound_;
}

/// Fewest bytes one value of the member's element type can occupy on the wire (at least 1),
/// the divisor that bounds how many elements a remaining payload can hold.
size_t min_element_wire_size(const rosidl_typesupport_introspection_cpp::MessageMember & member);

/// Fewest bytes a message of the described type can occupy on the wire (at least 1).
size_t min_message_wire_size(const rosidl_typesupport_introspection_cpp::MessageMembers & members);

}  // namespace cdr
}  // namespace rclcdds
