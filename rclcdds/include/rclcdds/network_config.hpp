// Where DDS traffic may go: loopback only unless the user opts in explicitly.
#pragma once

#include <cstdint>
#include <string>

namespace rclcdds
{

/// Network modes of the participant, chosen with the RCLCDDS_NETWORK environment variable.
enum class NetworkMode
{
  Localhost,           ///< "localhost" (default): 127.0.0.1, unicast discovery, no multicast
  LocalhostMulticast,  ///< "localhost-multicast": 127.0.0.1 with multicast on lo (tools that discover by multicast)
  CycloneUri,          ///< "cyclonedds-uri": Cyclone's own configuration from CYCLONEDDS_URI (any interface)
};

/// Resolved network settings of one process.
struct NetworkConfig
{
  NetworkMode mode{NetworkMode::Localhost};  ///< how the participant is configured
  uint32_t domain_id{0};                     ///< DDS domain, from ROS_DOMAIN_ID (0..232)
  std::string cyclone_xml;                   ///< configuration handed to Cyclone; empty in CycloneUri mode

  /// Reads RCLCDDS_NETWORK and ROS_DOMAIN_ID.
  /// @throws std::invalid_argument naming the variable and the values it accepts
  static NetworkConfig from_environment();

  /// Cyclone XML of the two loopback modes.
  static std::string loopback_xml(bool multicast);
};

/// Name of a network mode as RCLCDDS_NETWORK spells it.
const char * to_string(NetworkMode mode);

}  // namespace rclcdds
