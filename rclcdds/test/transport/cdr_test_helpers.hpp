// Helpers of the CDR tests: byte literals and introspection-driven random message filling.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "rclcdds/serialization.hpp"

namespace rclcdds_test
{

/// Bytes of a payload as a vector, for readable EXPECT_EQ failures.
inline std::vector<uint8_t> bytes_of(const rclcdds::SerializedMessage & msg)
{
  return std::vector<uint8_t>(msg.data(), msg.data() + msg.size());
}

/// How a random fill chooses values.
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

  void fill(const rclcdds::MessageMembers & members, void * msg);

  /// True when a float field got a NaN (then operator== cannot compare the messages).
  bool used_nan() const {return used_nan_;}

private:
  void fill_member(const rosidl_typesupport_introspection_cpp::MessageMember & member, uint8_t * field);
  void fill_element(const rosidl_typesupport_introspection_cpp::MessageMember & member, void * element);
  size_t pick_count(const rosidl_typesupport_introspection_cpp::MessageMember & member);
  std::string pick_string(size_t bound);

  std::mt19937 rng_;
  FillMode mode_;
  bool used_nan_{false};
};

}  // namespace rclcdds_test
