// The journal sink pulls in <syslog.h>, whose LOG_DEBUG and LOG_INFO priority macros share their
// names with the logging macros; it is included first so that logger.hpp replaces them afterwards.
#include <spdlog/sinks/systemd_sink.h>

#include "common/logger.hpp"

#include <spdlog/logger.h>
#include <spdlog/sinks/stdout_color_sinks.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace nimbra
{
namespace
{

constexpr int32_t kDefaultLevel = static_cast<int32_t>(LogLevel::kInfo);

/// Writes one configuration notice straight to standard output (never through the logger).
void Notice(const char * text)
{
  std::cout << text << '\n' << std::flush;
}

/// Outcome of reading a "true"/"false" switch from the environment.
enum class Switch { kUnset, kTrue, kFalse, kInvalid };

Switch ReadSwitch(const char * variable)
{
  const char * text = std::getenv(variable);
  if (text == nullptr) {
    return Switch::kUnset;
  }
  const std::string value(text);
  if (value == "true") {
    return Switch::kTrue;
  }
  if (value == "false") {
    return Switch::kFalse;
  }
  return Switch::kInvalid;
}

/// SPDLOG_STDOUT: console output unless explicitly "false".
bool ReadConsoleSwitch()
{
  switch (ReadSwitch("SPDLOG_STDOUT")) {
    case Switch::kUnset:
      Notice("environment variable SPDLOG_STDOUT is not set, and set true");
      return true;
    case Switch::kInvalid:
      Notice("environment variable SPDLOG_STDOUT is invalid, and set true");
      return true;
    case Switch::kFalse:
      return false;
    case Switch::kTrue:
      break;
  }
  return true;
}

/// SPDLOG_SYSTEMD: journal output only when explicitly "true".
bool ReadJournalSwitch()
{
  switch (ReadSwitch("SPDLOG_SYSTEMD")) {
    case Switch::kUnset:
      Notice("environment variable SPDLOG_SYSTEMD is not set, and set false");
      return false;
    case Switch::kInvalid:
      Notice("environment variable SPDLOG_SYSTEMD is invalid, and set false");
      return false;
    case Switch::kTrue:
      return true;
    case Switch::kFalse:
      break;
  }
  return false;
}

/// SPDLOG_LEVEL: one of the exact, case-sensitive level names; info otherwise.
int32_t ReadLevel()
{
  const char * text = std::getenv("SPDLOG_LEVEL");
  if (text == nullptr) {
    Notice("environment variable SPDLOG_LEVEL is not set, and set default level");
    return kDefaultLevel;
  }
  static const std::pair<const char *, LogLevel> kLevelNames[] = {
    {"trace", LogLevel::kTrace}, {"debug", LogLevel::kDebug}, {"info", LogLevel::kInfo},
    {"warning", LogLevel::kWarn}, {"error", LogLevel::kError}, {"critical", LogLevel::kCritical},
  };
  const std::string value(text);
  for (const auto & [name, level] : kLevelNames) {
    if (value == name) {
      return static_cast<int32_t>(level);
    }
  }
  Notice("environment variable SPDLOG_LEVEL is invalid, and set default level");
  return kDefaultLevel;
}

/// Prefix of a statement: its rolling number (0..127, width 3) and level tag.
std::string Prefix(LogLevel message_level, uint8_t number)
{
  switch (message_level) {
    case LogLevel::kDebug:
      return fmt::format(FMT_STRING("{0:3d} [DEBUG] "), number);
    case LogLevel::kInfo:
      return fmt::format(FMT_STRING("{0:3d} [INFO] "), number);
    case LogLevel::kWarn:
      return fmt::format(FMT_STRING("{0:3d} [WARN] "), number);
    default:
      return fmt::format(FMT_STRING("{0:3d} [ERROR] "), number);
  }
}

}  // namespace

Logger & Logger::Instance()
{
  static Logger instance("spdlog");
  return instance;
}

Logger::Logger(const std::string & name)
: sequence_(0), level_(kDefaultLevel)
{
  std::vector<spdlog::sink_ptr> sinks;
  if (ReadConsoleSwitch()) {
    sinks.push_back(
      std::make_shared<spdlog::sinks::stdout_color_sink_mt>(spdlog::color_mode::automatic));
  }
  if (ReadJournalSwitch()) {
    sinks.push_back(std::make_shared<spdlog::sinks::systemd_sink_mt>());
  }
  // Deliberately not registered in spdlog's global registry: nothing else may reconfigure it.
  logger_ = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());

  level_ = ReadLevel();
  logger_->set_level(static_cast<spdlog::level::level_enum>(level_));
  // Sinks receive only the message text; the prefix carries number and level.
  logger_->set_pattern("%v", spdlog::pattern_time_type::local);
}

void Logger::Write(
  LogLevel message_level, const SourceLocation & location, const std::string & message)
{
  const std::shared_ptr<spdlog::logger> logger = logger_;
  const auto sequence =
    static_cast<uint8_t>(sequence_.fetch_add(1, std::memory_order_relaxed) + 1U);
  std::string line = Prefix(message_level, static_cast<uint8_t>(sequence & 0x7F));
  line += message;
  logger->log(
    spdlog::source_loc{location.file, location.line, location.function},
    static_cast<spdlog::level::level_enum>(message_level), line);
}

std::string Logger::FormatFailure(fmt::string_view format, const char * reason)
{
  return "log format error (" + std::string(reason) + ") in: " +
         std::string(format.data(), format.size());
}

}  // namespace nimbra
