// Naming and identity of the DDS endpoints behind services and clients (rmw_cyclonedds layout).
#pragma once

#include <cstdint>
#include <string>

#include "rclcdds/context.hpp"
#include "rclcdds/dds_endpoint.hpp"
#include "rclcdds/serialization.hpp"

namespace rclcdds
{
namespace detail
{

/// Which side of a service an endpoint pair belongs to.
enum class ServiceRole {Server, Client};

/// Fresh client/service id: the participant's GUID prefix and a process-wide counter, written
/// as 16 dot-separated hex bytes.
std::string make_service_endpoint_id(const Context & context);

/// USER_DATA text of a service ("serviceid=<id>;") or client ("clientid=<id>;") endpoint.
std::string service_user_data(ServiceRole role, const std::string & id);

/// Value of `key` in USER_DATA of the form "k1=v1;k2=v2;"; empty when absent.
std::string user_data_value(const std::string & user_data, const std::string & key);

/// Request ("rq<name>Request") or reply ("rr<name>Reply") endpoint of a fully qualified service.
EndpointDescription service_endpoint(
  const std::string & service_name, bool request, const ServiceMembers & members, const QoS & qos,
  const std::string & user_data);

/// DDS instance handle of an entity (0 when unknown).
uint64_t instance_handle(int32_t entity);

}  // namespace detail
}  // namespace rclcdds
