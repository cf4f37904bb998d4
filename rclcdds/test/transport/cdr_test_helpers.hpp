// Helpers of the CDR tests: encoding and decoding through an introspection description, and
// filling every field of a message with random or extreme values.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include <rosidl_typesupport_introspection_cpp/field_types.hpp>

#include "rclcdds/serialization.hpp"

namespace rclcdds_test
{

namespace ts = rosidl_typesupport_introspection_cpp;

/// Bytes written as pairs of hex digits ("00010000 6d617000"); spaces only separate fields.
inline std::vector<uint8_t> hex(const std::string & text)
{
  std::vector<uint8_t> out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != ' ') {
      out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i++, 2), nullptr, 16)));
    }
  }
  return out;
}

/// Our CDR of `msg`; serialized_size must predict its length.
inline std::vector<uint8_t> encode(
  const rclcdds::MessageMembers & members, const void * msg,
  const rclcdds::ServicePrefix * prefix = nullptr)
{
  rclcdds::SerializedMessage out;
  rclcdds::serialize_message(members, msg, out, prefix);
  EXPECT_EQ(out.size(), rclcdds::serialized_size(members, msg, prefix));
  return std::vector<uint8_t>(out.data(), out.data() + out.size());
}

template<class T>
std::vector<uint8_t> wire_of(const T & msg, const rclcdds::ServicePrefix * prefix = nullptr)
{
  return encode(rclcdds::get_message_members<T>(), &msg, prefix);
}

/// Decodes `bytes` as a T; false, with the reader's reason in `error`, when refused.
template<class T>
bool decode(const std::vector<uint8_t> & bytes, std::string * error = nullptr, T * out = nullptr)
{
  T msg;
  return rclcdds::deserialize_message(
    rclcdds::get_message_members<T>(), bytes.data(), bytes.size(), out ? out : &msg, nullptr,
    error);
}

/// How a fill chooses values.
enum class FillMode
{
  Random,    ///< random values, short sequences and strings
  Extremes,  ///< numeric limits, NaN and infinities, empty or long strings and sequences
};

/// Fills every field of a message through its introspection description.
class MessageFiller
{
public:
  MessageFiller(uint32_t seed, FillMode mode) : rng_(seed), mode_(mode) {}

  void fill(const rclcdds::MessageMembers & members, void * msg)
  {
    for (uint32_t i = 0; i < members.member_count_; ++i) {
      fill_member(members.members_[i], static_cast<uint8_t *>(msg) + members.members_[i].offset_);
    }
  }

  /// True when a float field got a NaN (then operator== cannot compare the messages).
  bool used_nan() const {return used_nan_;}

private:
  template<class T>
  T pick()
  {
    using limits = std::numeric_limits<T>;
    if constexpr (std::is_same_v<T, bool>) {
      return rng_() % 2 == 0;
    } else if constexpr (std::is_floating_point_v<T>) {
      if (mode_ == FillMode::Random) {
        return static_cast<T>(std::uniform_real_distribution<double>(-1e6, 1e6)(rng_));
      }
      const T extremes[] = {limits::quiet_NaN(), limits::infinity(), -limits::infinity(),
        limits::max(), limits::lowest(), limits::denorm_min()};
      const size_t index = rng_() % 6;
      used_nan_ = used_nan_ || index == 0;
      return extremes[index];
    } else {
      if (mode_ == FillMode::Random) {
        return static_cast<T>(rng_());
      }
      const T extremes[] = {limits::max(), limits::min(), T{0}};
      return extremes[rng_() % 3];
    }
  }

  template<class T>
  void put(void * element) {*static_cast<T *>(element) = pick<T>();}

  std::string pick_string(size_t bound)
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

  size_t pick_count(const ts::MessageMember & member)
  {
    size_t count = rng_() % 4;
    if (mode_ == FillMode::Extremes) {
      // Large byte and number sequences (images, clouds), otherwise empty or a few elements.
      const bool numeric = member.type_id_ != ts::ROS_TYPE_MESSAGE &&
        member.type_id_ != ts::ROS_TYPE_STRING && member.type_id_ != ts::ROS_TYPE_WSTRING;
      count = rng_() % 2 ? 0 : (numeric ? 100000 : 3);
    }
    return member.is_upper_bound_ && count > member.array_size_ ? member.array_size_ : count;
  }

  void fill_element(const ts::MessageMember & member, void * element)
  {
    switch (member.type_id_) {
      case ts::ROS_TYPE_FLOAT: put<float>(element); break;
      case ts::ROS_TYPE_DOUBLE: put<double>(element); break;
      case ts::ROS_TYPE_BOOLEAN: put<bool>(element); break;
      case ts::ROS_TYPE_OCTET:
      case ts::ROS_TYPE_UINT8:
      case ts::ROS_TYPE_CHAR: put<uint8_t>(element); break;
      case ts::ROS_TYPE_INT8: put<int8_t>(element); break;
      case ts::ROS_TYPE_UINT16: put<uint16_t>(element); break;
      case ts::ROS_TYPE_WCHAR: put<char16_t>(element); break;
      case ts::ROS_TYPE_INT16: put<int16_t>(element); break;
      case ts::ROS_TYPE_UINT32: put<uint32_t>(element); break;
      case ts::ROS_TYPE_INT32: put<int32_t>(element); break;
      case ts::ROS_TYPE_UINT64: put<uint64_t>(element); break;
      case ts::ROS_TYPE_INT64: put<int64_t>(element); break;
      case ts::ROS_TYPE_STRING:
        *static_cast<std::string *>(element) = pick_string(member.string_upper_bound_);
        break;
      case ts::ROS_TYPE_WSTRING: {
          const std::string text = pick_string(member.string_upper_bound_);
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

  void fill_member(const ts::MessageMember & member, uint8_t * field)
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
        bool value = pick<bool>();  // std::vector<bool> has no element address
        member.assign_function(field, i, &value);
      }
    }
  }

  std::mt19937 rng_;
  FillMode mode_;
  bool used_nan_{false};
};

}  // namespace rclcdds_test
