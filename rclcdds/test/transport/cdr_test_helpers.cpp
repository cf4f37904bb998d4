#include "cdr_test_helpers.hpp"

#include <limits>

#include <rosidl_typesupport_introspection_cpp/field_types.hpp>

namespace rclcdds_test
{

namespace ts = rosidl_typesupport_introspection_cpp;

namespace
{

template<class T>
T pick_integer(std::mt19937 & rng, FillMode mode)
{
  if (mode == FillMode::Extremes) {
    switch (rng() % 3) {
      case 0: return std::numeric_limits<T>::max();
      case 1: return std::numeric_limits<T>::min();
      default: return T{0};
    }
  }
  return static_cast<T>(rng());
}

template<class T>
T pick_float(std::mt19937 & rng, FillMode mode, bool & used_nan)
{
  if (mode == FillMode::Extremes) {
    switch (rng() % 6) {
      case 0: used_nan = true; return std::numeric_limits<T>::quiet_NaN();
      case 1: return std::numeric_limits<T>::infinity();
      case 2: return -std::numeric_limits<T>::infinity();
      case 3: return std::numeric_limits<T>::max();
      case 4: return std::numeric_limits<T>::lowest();
      default: return std::numeric_limits<T>::denorm_min();
    }
  }
  return static_cast<T>(std::uniform_real_distribution<double>(-1e6, 1e6)(rng));
}

}  // namespace

std::string MessageFiller::pick_string(size_t bound)
{
  size_t length = mode_ == FillMode::Extremes ? (rng_() % 2 ? 0 : 300) : rng_() % 12;
  if (bound > 0 && length > bound) {
    length = bound;
  }
  std::string text(length, ' ');
  for (char & c : text) {
    c = static_cast<char>(' ' + rng_() % 95);
  }
  return text;
}

size_t MessageFiller::pick_count(const ts::MessageMember & member)
{
  size_t count = 0;
  if (mode_ == FillMode::Extremes) {
    // Large byte and number sequences (images, clouds), otherwise empty or a few elements.
    const bool numeric = member.type_id_ != ts::ROS_TYPE_MESSAGE &&
      member.type_id_ != ts::ROS_TYPE_STRING && member.type_id_ != ts::ROS_TYPE_WSTRING;
    count = rng_() % 2 ? 0 : (numeric ? 100000 : 3);
  } else {
    count = rng_() % 4;
  }
  if (member.is_upper_bound_ && count > member.array_size_) {
    count = member.array_size_;
  }
  return count;
}

void MessageFiller::fill_element(const ts::MessageMember & member, void * element)
{
  switch (member.type_id_) {
    case ts::ROS_TYPE_FLOAT: *static_cast<float *>(element) = pick_float<float>(rng_, mode_, used_nan_); break;
    case ts::ROS_TYPE_DOUBLE: *static_cast<double *>(element) = pick_float<double>(rng_, mode_, used_nan_); break;
    case ts::ROS_TYPE_BOOLEAN: *static_cast<bool *>(element) = rng_() % 2 == 0; break;
    case ts::ROS_TYPE_OCTET:
    case ts::ROS_TYPE_UINT8:
    case ts::ROS_TYPE_CHAR: *static_cast<uint8_t *>(element) = pick_integer<uint8_t>(rng_, mode_); break;
    case ts::ROS_TYPE_INT8: *static_cast<int8_t *>(element) = pick_integer<int8_t>(rng_, mode_); break;
    case ts::ROS_TYPE_UINT16: *static_cast<uint16_t *>(element) = pick_integer<uint16_t>(rng_, mode_); break;
    case ts::ROS_TYPE_WCHAR: *static_cast<char16_t *>(element) = static_cast<char16_t>(pick_integer<uint16_t>(rng_, mode_)); break;
    case ts::ROS_TYPE_INT16: *static_cast<int16_t *>(element) = pick_integer<int16_t>(rng_, mode_); break;
    case ts::ROS_TYPE_UINT32: *static_cast<uint32_t *>(element) = pick_integer<uint32_t>(rng_, mode_); break;
    case ts::ROS_TYPE_INT32: *static_cast<int32_t *>(element) = pick_integer<int32_t>(rng_, mode_); break;
    case ts::ROS_TYPE_UINT64: *static_cast<uint64_t *>(element) = pick_integer<uint64_t>(rng_, mode_); break;
    case ts::ROS_TYPE_INT64: *static_cast<int64_t *>(element) = pick_integer<int64_t>(rng_, mode_); break;
    case ts::ROS_TYPE_STRING: *static_cast<std::string *>(element) = pick_string(member.string_upper_bound_); break;
    case ts::ROS_TYPE_WSTRING: {
        std::string text = pick_string(member.string_upper_bound_);
        *static_cast<std::u16string *>(element) = std::u16string(text.begin(), text.end());
        break;
      }
    case ts::ROS_TYPE_MESSAGE:
      fill(*static_cast<const rclcdds::MessageMembers *>(member.members_->data), element);
      break;
    default:
      break;
  }
}

void MessageFiller::fill_member(const ts::MessageMember & member, uint8_t * field)
{
  if (!member.is_array_) {
    fill_element(member, field);
    return;
  }
  const bool fixed = member.array_size_ > 0 && !member.is_upper_bound_;
  const size_t count = fixed ? member.array_size_ : pick_count(member);
  if (!fixed) {
    member.resize_function(field, count);
  }
  for (size_t i = 0; i < count; ++i) {
    if (member.get_function != nullptr) {
      fill_element(member, member.get_function(field, i));
    } else {
      bool value = rng_() % 2 == 0;  // std::vector<bool>
      member.assign_function(field, i, &value);
    }
  }
}

void MessageFiller::fill(const rclcdds::MessageMembers & members, void * msg)
{
  for (uint32_t i = 0; i < members.member_count_; ++i) {
    fill_member(members.members_[i], static_cast<uint8_t *>(msg) + members.members_[i].offset_);
  }
}

}  // namespace rclcdds_test
