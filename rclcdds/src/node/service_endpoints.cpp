#include "service_endpoints.hpp"

#include <dds/dds.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace rclcdds
{
namespace detail
{

std::string make_service_endpoint_id(const Context & context)
{
  static std::atomic<uint32_t> counter{0};
  uint8_t id[16] = {};
  dds_guid_t guid;
  if (dds_get_guid(context.participant(), &guid) == DDS_RETCODE_OK) {
    std::memcpy(id, guid.v, 12);
  }
  const uint32_t n = ++counter;
  id[12] = static_cast<uint8_t>(n >> 24);
  id[13] = static_cast<uint8_t>(n >> 16);
  id[14] = static_cast<uint8_t>(n >> 8);
  id[15] = static_cast<uint8_t>(n);
  std::string text;
  char byte[4];
  for (size_t i = 0; i < sizeof(id); ++i) {
    std::snprintf(byte, sizeof(byte), i == 0 ? "%x" : ".%x", id[i]);
    text += byte;
  }
  return text;
}

std::string service_user_data(ServiceRole role, const std::string & id)
{
  return std::string(role == ServiceRole::Server ? "serviceid=" : "clientid=") + id + ";";
}

std::string user_data_value(const std::string & user_data, const std::string & key)
{
  size_t pos = 0;
  while (pos < user_data.size()) {
    size_t end = user_data.find(';', pos);
    if (end == std::string::npos) {
      end = user_data.size();
    }
    const std::string item = user_data.substr(pos, end - pos);
    const size_t eq = item.find('=');
    if (eq != std::string::npos && item.compare(0, eq, key) == 0 && eq == key.size()) {
      return item.substr(eq + 1);
    }
    pos = end + 1;
  }
  return "";
}

EndpointDescription service_endpoint(
  const std::string & service_name, bool request, const ServiceMembers & members, const QoS & qos,
  const std::string & user_data)
{
  EndpointDescription description;
  description.topic_name = std::string(request ? "rq" : "rr") + service_name +
    (request ? "Request" : "Reply");
  description.type_name = dds_type_name(
    request ? *members.request_members_ : *members.response_members_);
  description.qos = qos;
  description.user_data = user_data;
  return description;
}

uint64_t instance_handle(int32_t entity)
{
  dds_instance_handle_t handle = 0;
  if (dds_get_instance_handle(entity, &handle) != DDS_RETCODE_OK) {
    return 0;
  }
  return handle;
}

}  // namespace detail
}  // namespace rclcdds
