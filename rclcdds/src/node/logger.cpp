#include "rclcdds/logger.hpp"

#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <mutex>
#include <vector>

namespace rclcdds
{

namespace
{

spdlog::level::level_enum to_spdlog(Logger::Level level)
{
  switch (level) {
    case Logger::Level::Debug: return spdlog::level::debug;
    case Logger::Level::Info: return spdlog::level::info;
    case Logger::Level::Warn: return spdlog::level::warn;
    case Logger::Level::Error: return spdlog::level::err;
    case Logger::Level::Fatal: return spdlog::level::critical;
  }
  return spdlog::level::info;
}

/// One spdlog logger per name, registered under "ros.<name>" so that users can find and
/// reconfigure them through spdlog's registry.
std::shared_ptr<spdlog::logger> logger_for(const std::string & name)
{
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  const std::string key = "ros." + name;
  if (auto existing = spdlog::get(key)) {
    return existing;
  }
  auto logger = spdlog::stderr_color_mt(key);
  logger->set_pattern("[%^%l%$] [%E.%f] [" + name + "]: %v");
  return logger;
}

}  // namespace

Logger::Logger(const std::string & name)
: name_(name.empty() ? "rclcdds" : name), impl_(logger_for(name_))
{
}

Logger Logger::get_child(const std::string & suffix) const
{
  return Logger(name_ + "." + suffix);
}

void Logger::set_level(Level level)
{
  impl_->set_level(to_spdlog(level));
}

bool Logger::is_enabled(Level level) const
{
  return impl_->should_log(to_spdlog(level));
}

void Logger::log(Level level, const std::string & message) const
{
  impl_->log(to_spdlog(level), "{}", message);
}

void Logger::logf(Level level, const char * format, ...) const
{
  if (!is_enabled(level)) {
    return;
  }
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(args);
  log(level, text);
}

Logger get_logger(const std::string & name)
{
  return Logger(name);
}

}  // namespace rclcdds
