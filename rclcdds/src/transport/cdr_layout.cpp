#include "cdr_layout.hpp"

#include <algorithm>

namespace rclcdds
{
namespace cdr
{

namespace ts = rosidl_typesupport_introspection_cpp;

size_t min_element_wire_size(const ts::MessageMember & member)
{
  switch (member.type_id_) {
    case ts::ROS_TYPE_STRING:
    case ts::ROS_TYPE_WSTRING:
      return 4;  // the length word
    case ts::ROS_TYPE_MESSAGE:
      return min_message_wire_size(nested_members(member));
    default:
      return std::max<size_t>(1, primitive_size(member.type_id_));
  }
}

size_t min_message_wire_size(const ts::MessageMembers & members)
{
  size_t total = 0;
  for (uint32_t i = 0; i < members.member_count_; ++i) {
    const ts::MessageMember & member = members.members_[i];
    if (!member.is_array_) {
      total += min_element_wire_size(member);
    } else if (is_fixed_array(member)) {
      total += member.array_size_ * min_element_wire_size(member);
    } else {
      total += 4;  // the element count
    }
  }
  return std::max<size_t>(1, total);
}

}  // namespace cdr
}  // namespace rclcdds
