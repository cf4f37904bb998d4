// CDR (XCDR1) serialisation of any rosidl C++ message through its introspection type support.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include <rosidl_typesupport_introspection_cpp/message_introspection.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>
#include <rosidl_typesupport_introspection_cpp/service_introspection.hpp>
#include <rosidl_typesupport_introspection_cpp/service_type_support_decl.hpp>

#include "rclcdds/serialized_message.hpp"

namespace rclcdds
{

using MessageMembers = rosidl_typesupport_introspection_cpp::MessageMembers;
using ServiceMembers = rosidl_typesupport_introspection_cpp::ServiceMembers;

/// Size in bytes of the CDR encapsulation header that starts every payload.
constexpr size_t kEncapsulationHeaderSize = 4;

/// Request/reply correlation that rmw_cyclonedds puts right after the encapsulation header.
struct ServicePrefix
{
  uint64_t guid{0};      ///< client identifier (first 8 bytes of its writer GUID in rmw_cyclonedds)
  int64_t sequence{0};   ///< request sequence number, echoed by the reply
};

/// Thrown when a message cannot be put on the wire (a string or sequence beyond its bound,
/// a field kind ROS 2 does not serialise).
class SerializationError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// Introspection description of message type T.
template<class T>
const MessageMembers & get_message_members()
{
  const auto * ts = rosidl_typesupport_introspection_cpp::get_message_type_support_handle<T>();
  return *static_cast<const MessageMembers *>(ts->data);
}

/// Introspection description of service type T.
template<class T>
const ServiceMembers & get_service_members()
{
  const auto * ts = rosidl_typesupport_introspection_cpp::get_service_type_support_handle<T>();
  return *static_cast<const ServiceMembers *>(ts->data);
}

/// DDS type name ROS 2 uses for a message, e.g. "sensor_msgs::msg::dds_::Image_".
std::string dds_type_name(const MessageMembers & members);

/// Bytes `serialize_message` produces for `msg` (header and trailing padding included).
/// @throws SerializationError as serialize_message does
size_t serialized_size(
  const MessageMembers & members, const void * msg, const ServicePrefix * prefix = nullptr);

/// Writes `msg` as little-endian XCDR1: encapsulation 00 01 00 00, the optional service prefix,
/// the body, zero padding to a multiple of 4 bytes. Replaces the content of `out`.
/// @throws SerializationError on a string or sequence beyond its bound
void serialize_message(
  const MessageMembers & members, const void * msg, SerializedMessage & out,
  const ServicePrefix * prefix = nullptr);

/// Reads an untrusted CDR payload (either byte order) into `msg`, which must be a constructed
/// message of the described type. Never reads outside [data, data + size) and never sizes a
/// container beyond what the remaining bytes can encode.
/// @param prefix receives the service prefix when not null (the payload must then carry one)
/// @param error receives the reason when the payload is rejected
/// @return false when the payload is malformed; `msg` is then valid but its content unspecified
bool deserialize_message(
  const MessageMembers & members, const uint8_t * data, size_t size, void * msg,
  ServicePrefix * prefix = nullptr, std::string * error = nullptr);

/// Typed serialisation of one message type, shaped like rclcpp::Serialization.
template<class T>
class Serialization
{
public:
  /// @throws SerializationError on a string or sequence beyond its bound
  void serialize_message(const T & msg, SerializedMessage & out) const
  {
    rclcdds::serialize_message(get_message_members<T>(), &msg, out);
  }

  /// @return false (with the reason in `error`) when the payload is malformed
  bool deserialize_message(
    const SerializedMessage & in, T & msg, std::string * error = nullptr) const
  {
    return rclcdds::deserialize_message(
      get_message_members<T>(), in.data(), in.size(), &msg, nullptr, error);
  }
};

}  // namespace rclcdds
