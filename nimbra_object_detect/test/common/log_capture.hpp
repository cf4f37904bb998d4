// Test helper: collects what the process-wide logger writes while it is alive.
#pragma once

#include <gtest/gtest.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/ostream_sink.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/logger.hpp"

namespace nimbra::test
{

/// Adds a text sink to nimbra::Logger for its lifetime (single-threaded tests only).
class LogCapture
{
public:
  LogCapture()
  : sink_(std::make_shared<spdlog::sinks::ostream_sink_st>(stream_))
  {
    sink_->set_pattern("%v");
    Logger::Instance().logger()->sinks().push_back(sink_);
  }

  ~LogCapture()
  {
    auto & sinks = Logger::Instance().logger()->sinks();
    sinks.erase(std::remove(sinks.begin(), sinks.end(), sink_), sinks.end());
  }

  LogCapture(const LogCapture &) = delete;
  LogCapture & operator=(const LogCapture &) = delete;

  /// @brief Captured lines without the rolling number, e.g. "[INFO] cam_1 ...".
  std::vector<std::string> Lines() const
  {
    std::vector<std::string> lines;
    std::istringstream text(stream_.str());
    for (std::string line; std::getline(text, line);) {
      // "NNN " is the rolling number, right-aligned in three characters.
      EXPECT_GE(line.size(), 4U) << line;
      EXPECT_EQ(line[3], ' ') << line;
      lines.push_back(line.size() >= 4 ? line.substr(4) : line);
    }
    return lines;
  }

private:
  std::ostringstream stream_;             ///< text written by the sink
  std::shared_ptr<spdlog::sinks::sink> sink_;  ///< the sink added to the logger
};

}  // namespace nimbra::test
