// Translation of rclcdds::QoS into Cyclone DDS QoS objects.
#pragma once

#include <dds/dds.h>

#include <memory>
#include <string>

#include "rclcdds/qos.hpp"

namespace rclcdds
{
namespace detail
{

/// Deleter for dds_qos_t.
struct DdsQosDeleter
{
  void operator()(dds_qos_t * qos) const {dds_delete_qos(qos);}
};
using DdsQosPtr = std::unique_ptr<dds_qos_t, DdsQosDeleter>;

/// Reader/writer QoS for `qos` with USER_DATA `user_data` (none when empty). Policies left at
/// SystemDefault are not set, so Cyclone's defaults apply.
DdsQosPtr make_endpoint_qos(const QoS & qos, const std::string & user_data);

}  // namespace detail
}  // namespace rclcdds
