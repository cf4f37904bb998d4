// Logger of the transport layer ("rclcdds.transport", spdlog, stderr).
#pragma once

#include <memory>

#include <spdlog/spdlog.h>

namespace rclcdds
{
namespace detail
{

/// Shared logger for DDS-level events (dropped samples, DDS errors).
std::shared_ptr<spdlog::logger> transport_logger();

}  // namespace detail
}  // namespace rclcdds
