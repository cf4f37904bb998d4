#include "runtime_log.hpp"

#include <spdlog/sinks/stdout_color_sinks.h>

namespace rclcdds
{
namespace detail
{

std::shared_ptr<spdlog::logger> runtime_logger()
{
  static const std::shared_ptr<spdlog::logger> logger = [] {
      auto existing = spdlog::get("rclcdds.runtime");
      return existing ? existing : spdlog::stderr_color_mt("rclcdds.runtime");
    }();
  return logger;
}

}  // namespace detail
}  // namespace rclcdds
