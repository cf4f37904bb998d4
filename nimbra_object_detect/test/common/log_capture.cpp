#include "log_capture.hpp"

#include <gtest/gtest.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/ostream_sink.h>

#include <algorithm>

#include "common/logger.hpp"

namespace nimbra::test
{

LogCapture::LogCapture()
: sink_(std::make_shared<spdlog::sinks::ostream_sink_st>(stream_))
{
  sink_->set_pattern("%v");
  Logger::Instance().logger()->sinks().push_back(sink_);
}

LogCapture::~LogCapture()
{
  auto & sinks = Logger::Instance().logger()->sinks();
  sinks.erase(std::remove(sinks.begin(), sinks.end(), sink_), sinks.end());
}

std::vector<std::string> LogCapture::Lines() const
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

}  // namespace nimbra::test
