// Named logger shaped like rclcpp::Logger, backed by spdlog, with printf-style macros.
#pragma once

#include <cstdarg>
#include <memory>
#include <string>

namespace spdlog
{
class logger;
}  // namespace spdlog

namespace rclcdds
{

/// A named logger ("object_detect", "object_detect.params"); cheap to copy.
class Logger
{
public:
  /// Severities, ordered as rcutils orders them.
  enum class Level {Debug, Info, Warn, Error, Fatal};

  /// Logger of `name` ("" is the root logger "rclcdds").
  explicit Logger(const std::string & name = "");

  const std::string & get_name() const {return name_;}

  /// Logger named "<this name>.<suffix>".
  Logger get_child(const std::string & suffix) const;

  /// Minimum severity that is printed; applies to every copy of this logger.
  void set_level(Level level);
  bool is_enabled(Level level) const;

  /// Prints one line "[LEVEL] [name]: message".
  void log(Level level, const std::string & message) const;

  /// printf-style variant used by the RCLCDDS_* macros.
  void logf(Level level, const char * format, ...) const __attribute__((format(printf, 3, 4)));

private:
  std::string name_;
  std::shared_ptr<spdlog::logger> impl_;
};

/// The logger called `name`, as rclcpp::get_logger.
Logger get_logger(const std::string & name);

}  // namespace rclcdds

/// printf-style logging macros, as RCLCPP_INFO(logger, "x=%d", x).
#define RCLCDDS_DEBUG(logger, ...) (logger).logf(::rclcdds::Logger::Level::Debug, __VA_ARGS__)
#define RCLCDDS_INFO(logger, ...) (logger).logf(::rclcdds::Logger::Level::Info, __VA_ARGS__)
#define RCLCDDS_WARN(logger, ...) (logger).logf(::rclcdds::Logger::Level::Warn, __VA_ARGS__)
#define RCLCDDS_ERROR(logger, ...) (logger).logf(::rclcdds::Logger::Level::Error, __VA_ARGS__)
#define RCLCDDS_FATAL(logger, ...) (logger).logf(::rclcdds::Logger::Level::Fatal, __VA_ARGS__)
