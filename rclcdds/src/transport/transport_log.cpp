#include "transport_log.hpp"

#include <spdlog/sinks/stdout_color_sinks.h>

namespace rclcdds
{
namespace detail
{

std::shared_ptr<spdlog::logger> transport_logger()
{
  static const std::shared_ptr<spdlog::logger> logger = [] {
      auto existing = spdlog::get("rclcdds.transport");
      return existing ? existing : spdlog::stderr_color_mt("rclcdds.transport");
    }();
  return logger;
}

}  // namespace detail
}  // namespace rclcdds
