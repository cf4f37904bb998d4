#include "rclcdds/network_config.hpp"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace rclcdds
{

namespace
{

/// Highest domain id whose RTPS ports fit in 16 bits (as rcl's limit).
constexpr unsigned long kMaxDomainId = 232;

std::string getenv_string(const char * name)
{
  const char * value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

uint32_t parse_domain_id(const std::string & text)
{
  if (text.empty()) {
    return 0;
  }
  char * end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || text[0] == '-' ||
    value > kMaxDomainId)
  {
    throw std::invalid_argument(
            "environment variable ROS_DOMAIN_ID='" + text +
            "': expected an integer from 0 to 232");
  }
  return static_cast<uint32_t>(value);
}

}  // namespace

const char * to_string(NetworkMode mode)
{
  switch (mode) {
    case NetworkMode::LocalhostMulticast:
      return "localhost-multicast";
    case NetworkMode::CycloneUri:
      return "cyclonedds-uri";
    case NetworkMode::Localhost:
    default:
      return "localhost";
  }
}

std::string NetworkConfig::loopback_xml(bool multicast)
{
  // Unicast discovery probes the participant-index ports on 127.0.0.1, so several processes
  // find each other without multicast; the index range is raised from Cyclone's 9 to 60.
  std::string xml =
    "<CycloneDDS><Domain Id=\"any\"><General><Interfaces>"
    "<NetworkInterface address=\"127.0.0.1\"";
  xml += multicast ? " multicast=\"true\"/>" : "/>";
  xml += "</Interfaces><AllowMulticast>";
  xml += multicast ? "true" : "false";
  xml +=
    "</AllowMulticast></General><Discovery>"
    "<ParticipantIndex>auto</ParticipantIndex>"
    "<MaxAutoParticipantIndex>60</MaxAutoParticipantIndex>"
    "<Peers><Peer Address=\"127.0.0.1\"/></Peers>"
    "</Discovery></Domain></CycloneDDS>";
  return xml;
}

NetworkConfig NetworkConfig::from_environment()
{
  NetworkConfig config;
  config.domain_id = parse_domain_id(getenv_string("ROS_DOMAIN_ID"));
  const std::string mode = getenv_string("RCLCDDS_NETWORK");
  if (mode.empty() || mode == "localhost") {
    config.mode = NetworkMode::Localhost;
    config.cyclone_xml = loopback_xml(false);
  } else if (mode == "localhost-multicast") {
    config.mode = NetworkMode::LocalhostMulticast;
    config.cyclone_xml = loopback_xml(true);
  } else if (mode == "cyclonedds-uri") {
    if (getenv_string("CYCLONEDDS_URI").empty()) {
      throw std::invalid_argument(
              "environment variable RCLCDDS_NETWORK='cyclonedds-uri' needs CYCLONEDDS_URI to name "
              "a Cyclone DDS configuration");
    }
    config.mode = NetworkMode::CycloneUri;
  } else {
    throw std::invalid_argument(
            "environment variable RCLCDDS_NETWORK='" + mode +
            "': expected one of localhost, localhost-multicast, cyclonedds-uri");
  }
  return config;
}

}  // namespace rclcdds
