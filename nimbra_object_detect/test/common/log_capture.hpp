// Test helper: collects what the process-wide logger writes while it is alive.
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace spdlog::sinks
{
class sink;
}  // namespace spdlog::sinks

namespace nimbra::test
{

/// Adds a text sink to nimbra::Logger for its lifetime (single-threaded tests only).
class LogCapture
{
public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture &) = delete;
  LogCapture & operator=(const LogCapture &) = delete;

  /// @brief Captured lines without the rolling number, e.g. "[INFO] cam_1 ...".
  std::vector<std::string> Lines() const;

private:
  std::ostringstream stream_;             ///< text written by the sink
  std::shared_ptr<spdlog::sinks::sink> sink_;  ///< the sink added to the logger
};

}  // namespace nimbra::test
