// Process-wide logger of the node: a thin singleton around an spdlog logger whose sinks and level
// come from the environment (SPDLOG_STDOUT, SPDLOG_SYSTEMD, SPDLOG_LEVEL), read once at first use.
#pragma once

#include <fmt/format.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>

namespace spdlog
{
class logger;
}  // namespace spdlog

namespace nimbra
{

/// Where a log statement sits in the source.
struct SourceLocation
{
  const char * file;      ///< source file path as compiled
  int line;               ///< line number, 1-based
  const char * function;  ///< bare name of the calling function
};

/// Levels in spdlog numbering, as stored in `Logger::level()`.
enum class LogLevel : int32_t
{
  kTrace = 0,
  kDebug = 1,
  kInfo = 2,
  kWarn = 3,
  kError = 4,
  kCritical = 5,
};

/// Process-wide logger: prefixes every enabled statement with a rolling number and a level tag.
class Logger
{
public:
  /// @brief The singleton, created on first use with the logger name "spdlog".
  static Logger & Instance();

  Logger(const Logger &) = delete;
  Logger & operator=(const Logger &) = delete;

  /// @brief Logs at debug level with the prefix "{0:3d} [DEBUG] ".
  template <typename... Args>
  void Debug(const SourceLocation & location, fmt::format_string<Args...> format, Args &&... args)
  {
    Log(LogLevel::kDebug, location, format, std::forward<Args>(args)...);
  }

  /// @brief Logs at info level with the prefix "{0:3d} [INFO] ".
  template <typename... Args>
  void Info(const SourceLocation & location, fmt::format_string<Args...> format, Args &&... args)
  {
    Log(LogLevel::kInfo, location, format, std::forward<Args>(args)...);
  }

  /// @brief Logs at warn level with the prefix "{0:3d} [WARN] ".
  template <typename... Args>
  void Warn(const SourceLocation & location, fmt::format_string<Args...> format, Args &&... args)
  {
    Log(LogLevel::kWarn, location, format, std::forward<Args>(args)...);
  }

  /// @brief Logs at error level with the prefix "{0:3d} [ERROR] ".
  template <typename... Args>
  void Error(const SourceLocation & location, fmt::format_string<Args...> format, Args &&... args)
  {
    Log(LogLevel::kError, location, format, std::forward<Args>(args)...);
  }

  /// @brief Configured level in spdlog numbering (trace 0 ... critical 5).
  int32_t level() const { return level_; }

  /// @brief True when a statement at `message_level` is written and counted.
  bool enabled(LogLevel message_level) const
  {
    return level_ <= static_cast<int32_t>(message_level);
  }

  /// @brief The underlying spdlog logger, for adding sinks in tools and tests (before any other
  /// thread logs: the sink list itself is not guarded).
  std::shared_ptr<spdlog::logger> logger() const { return logger_; }

private:
  explicit Logger(const std::string & name);

  template <typename... Args>
  void Log(
    LogLevel message_level, const SourceLocation & location, fmt::format_string<Args...> format,
    Args &&... args)
  {
    if (!enabled(message_level)) {
      return;
    }
    std::string message;
    try {
      message = fmt::vformat(fmt::string_view(format), fmt::make_format_args(args...));
    } catch (const std::exception & e) {
      // A bad format string must never take a thread down: log it with the reason instead.
      message = FormatFailure(fmt::string_view(format), e.what());
    }
    Write(message_level, location, message);
  }

  /// @brief Advances the counter, adds the prefix and hands the line to the spdlog logger.
  void Write(LogLevel message_level, const SourceLocation & location, const std::string & message);

  static std::string FormatFailure(fmt::string_view format, const char * reason);

  std::shared_ptr<spdlog::logger> logger_;  ///< underlying logger; never replaced
  std::atomic<uint8_t> sequence_;           ///< rolling count of enabled statements, wraps at 256
  int32_t level_;                           ///< configured level in spdlog numbering
};

}  // namespace nimbra

// Call-site macros: LOG_INFO("cam_{0:d} : fxParam={1}", cam_id, fx). The format must be a string
// literal; it is checked against the arguments at compile time. File, line and the bare function
// name are captured automatically.
//
// <syslog.h> uses the names LOG_DEBUG and LOG_INFO for priorities; in a file that includes this
// header, these names are the logging macros.
#ifdef LOG_DEBUG
#undef LOG_DEBUG
#endif
#ifdef LOG_INFO
#undef LOG_INFO
#endif

#define NIMBRA_LOG_SOURCE_LOCATION (::nimbra::SourceLocation{__FILE__, __LINE__, __func__})

// Splits the macro arguments into the format literal and the rest without the GNU `##` extension
// (warning-free under -Wpedantic in C++17); supports up to 15 arguments after the format.
#define NIMBRA_LOG_FIRST(...) NIMBRA_LOG_FIRST_HELPER(__VA_ARGS__, unused)
#define NIMBRA_LOG_FIRST_HELPER(first, ...) first
#define NIMBRA_LOG_REST(...) NIMBRA_LOG_REST_DISPATCH(NIMBRA_LOG_ARITY(__VA_ARGS__), __VA_ARGS__)
#define NIMBRA_LOG_REST_DISPATCH(arity, ...) NIMBRA_LOG_REST_DISPATCH2(arity, __VA_ARGS__)
#define NIMBRA_LOG_REST_DISPATCH2(arity, ...) NIMBRA_LOG_REST_##arity(__VA_ARGS__)
#define NIMBRA_LOG_REST_ONE(first)
#define NIMBRA_LOG_REST_MANY(first, ...) , __VA_ARGS__
#define NIMBRA_LOG_ARITY(...)                                                                \
  NIMBRA_LOG_SELECT_17TH(                                                                    \
    __VA_ARGS__, MANY, MANY, MANY, MANY, MANY, MANY, MANY, MANY, MANY, MANY, MANY, MANY, MANY, \
    MANY, MANY, ONE, unused)
#define NIMBRA_LOG_SELECT_17TH(                                                              \
  a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, ...)           \
  a17

#define NIMBRA_LOG_CALL(method, ...)                                          \
  ::nimbra::Logger::Instance().method(                                        \
    NIMBRA_LOG_SOURCE_LOCATION, FMT_STRING(NIMBRA_LOG_FIRST(__VA_ARGS__))     \
    NIMBRA_LOG_REST(__VA_ARGS__))

#define LOG_DEBUG(...) NIMBRA_LOG_CALL(Debug, __VA_ARGS__)
#define LOG_INFO(...) NIMBRA_LOG_CALL(Info, __VA_ARGS__)
#define LOG_WARN(...) NIMBRA_LOG_CALL(Warn, __VA_ARGS__)
#define LOG_ERROR(...) NIMBRA_LOG_CALL(Error, __VA_ARGS__)

// Same, naming the source function explicitly, for lines whose function name differs from the C++
// function that writes them: LOG_INFO_IN("get_cam_para", "cam_{} : fxParam={}", cam_id, fx).
#define NIMBRA_LOG_CALL_IN(method, function, ...)                             \
  ::nimbra::Logger::Instance().method(                                        \
    ::nimbra::SourceLocation{__FILE__, __LINE__, function},                   \
    FMT_STRING(NIMBRA_LOG_FIRST(__VA_ARGS__)) NIMBRA_LOG_REST(__VA_ARGS__))

#define LOG_DEBUG_IN(function, ...) NIMBRA_LOG_CALL_IN(Debug, function, __VA_ARGS__)
#define LOG_INFO_IN(function, ...) NIMBRA_LOG_CALL_IN(Info, function, __VA_ARGS__)
#define LOG_WARN_IN(function, ...) NIMBRA_LOG_CALL_IN(Warn, function, __VA_ARGS__)
#define LOG_ERROR_IN(function, ...) NIMBRA_LOG_CALL_IN(Error, function, __VA_ARGS__)
