// Logger of the runtime layer ("rclcdds.runtime", spdlog, stderr).
#pragma once

#include <memory>

#include <spdlog/spdlog.h>

namespace rclcdds
{
namespace detail
{

/// Shared logger for runtime events (lifecycle, transforms, dropped publications).
std::shared_ptr<spdlog::logger> runtime_logger();

}  // namespace detail
}  // namespace rclcdds
