// Cyclone DDS sertype/serdata pair that carries ready-made CDR payloads: the DDS layer never
// interprets the bytes, the rosidl introspection code does (as rmw_cyclonedds_cpp).
#pragma once

#include <dds/dds.h>
#include <dds/ddsi/ddsi_serdata.h>
#include <dds/ddsi/ddsi_sertype.h>

#include <string>

#include "rclcdds/serialized_message.hpp"

namespace rclcdds
{
namespace detail
{

/// Keyless sertype named after the ROS 2 DDS type name.
struct CdrSertype : ddsi_sertype
{
};

/// One sample: its CDR payload, encapsulation header included.
struct CdrSerdata : ddsi_serdata
{
  SerializedMessage payload;  ///< bytes as on the wire
};

/// New sertype for `type_name` (e.g. "sensor_msgs::msg::dds_::Image_"); ownership passes to
/// dds_create_topic_sertype.
ddsi_sertype * create_cdr_sertype(const std::string & type_name);

/// Serdata that takes over `payload` without copying; the caller owns one reference.
ddsi_serdata * make_cdr_serdata(const ddsi_sertype * type, SerializedMessage && payload);

/// Creates a topic for writers/readers of `type_name`; the caller deletes it after use and
/// releases `*sertype_ref` (a counted reference to the sertype in use) with ddsi_sertype_unref.
/// @return the topic entity or a negative DDS return code
dds_entity_t create_cdr_topic(
  dds_entity_t participant, const std::string & topic_name, const std::string & type_name,
  const ddsi_sertype ** sertype_ref);

}  // namespace detail
}  // namespace rclcdds
