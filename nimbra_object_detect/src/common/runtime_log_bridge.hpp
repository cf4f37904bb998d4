// Routes the client library's own log lines (transport, lifecycle, services, parameters) into the
// node's logger, so the console and the journal show one numbered sequence.
#pragma once

#include <string>
#include <vector>

namespace nimbra
{

/// @brief Sends every spdlog logger of the client library through `nimbra::Logger`: the loggers
/// named in `names` (registered now when missing, so the library finds them when it first logs)
/// and every one already registered under the prefixes "ros." and "rclcdds.".
/// Call once at start-up, before other threads log.
void RouteRuntimeLogs(const std::vector<std::string> & names);

}  // namespace nimbra
