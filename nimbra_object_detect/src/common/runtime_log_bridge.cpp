#include "common/runtime_log_bridge.hpp"

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <mutex>

#include "common/logger.hpp"

namespace nimbra
{

namespace
{

/// Hands each record to the node's logger at the same level, tagged with the logger's name.
class ForwardingSink : public spdlog::sinks::base_sink<std::mutex>
{
protected:
  void sink_it_(const spdlog::details::log_msg & msg) override
  {
    const std::string name(msg.logger_name.data(), msg.logger_name.size());
    const std::string text(msg.payload.data(), msg.payload.size());
    switch (msg.level) {
      case spdlog::level::trace:
      case spdlog::level::debug:
        LOG_DEBUG_IN("rclcdds", "[{0:s}] {1:s}", name, text);
        break;
      case spdlog::level::info:
        LOG_INFO_IN("rclcdds", "[{0:s}] {1:s}", name, text);
        break;
      case spdlog::level::warn:
        LOG_WARN_IN("rclcdds", "[{0:s}] {1:s}", name, text);
        break;
      default:
        LOG_ERROR_IN("rclcdds", "[{0:s}] {1:s}", name, text);
        break;
    }
  }
  void flush_() override {}
};

bool IsRuntimeLogger(const std::string & name)
{
  return name.rfind("ros.", 0) == 0 || name.rfind("rclcdds.", 0) == 0 || name == "rclcdds";
}

}  // namespace

void RouteRuntimeLogs(const std::vector<std::string> & names)
{
  static const auto sink = std::make_shared<ForwardingSink>();
  for (const auto & name : names) {
    if (!spdlog::get(name)) {
      spdlog::register_logger(std::make_shared<spdlog::logger>(name, sink));
    }
  }
  spdlog::apply_all(
    [](const std::shared_ptr<spdlog::logger> & logger) {
      if (IsRuntimeLogger(logger->name())) {
        logger->sinks().assign(1, sink);
      }
    });
}

}  // namespace nimbra
