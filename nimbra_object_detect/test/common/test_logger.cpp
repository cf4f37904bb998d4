// Logger behaviour per environment, observed on the output of fresh probe processes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.hpp"

namespace
{

constexpr const char * kNotSetLines[] = {
  "environment variable SPDLOG_STDOUT is not set, and set true",
  "environment variable SPDLOG_SYSTEMD is not set, and set false",
  "environment variable SPDLOG_LEVEL is not set, and set default level",
};

struct ProbeResult
{
  int exit_code = -1;
  std::vector<std::string> lines;
};

/// Runs the probe with the three logger variables set as given ("NAME=value"), the others unset,
/// and collects its output lines.
ProbeResult RunProbe(const std::string & scenario, const std::vector<std::string> & environment)
{
  for (const char * name : {"SPDLOG_STDOUT", "SPDLOG_SYSTEMD", "SPDLOG_LEVEL"}) {
    unsetenv(name);
  }
  for (const std::string & entry : environment) {
    const std::size_t equals = entry.find('=');
    setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
  }
  rclcdds_test::ChildProcess probe({LOGGER_PROBE_PATH, scenario});
  ProbeResult result;
  EXPECT_TRUE(probe.started()) << LOGGER_PROBE_PATH;
  result.exit_code = probe.wait(std::chrono::seconds(30));
  std::istringstream stream(probe.output());
  for (std::string line; std::getline(stream, line);) {
    result.lines.push_back(line);
  }
  return result;
}

// The four statements of the "levels" scenario from `first` on, numbered from 1, then the level.
std::vector<std::string> LevelLines(int first, int level)
{
  static const char * const kStatements[] = {
    "[DEBUG] debug statement 1", "[INFO] info statement 2", "[WARN] warn statement three",
    "[ERROR] error statement 4.50 4"};
  std::vector<std::string> lines;
  for (int i = first; i < 4; ++i) {
    lines.push_back("  " + std::to_string(i - first + 1) + " " + kStatements[i]);
  }
  lines.push_back("probe level " + std::to_string(level));
  return lines;
}

std::vector<std::string> Join(std::vector<std::string> head, const std::vector<std::string> & tail)
{
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST(LoggerEnvironment, EachSetting)
{
  struct Case
  {
    const char * name;
    const char * scenario;
    std::vector<std::string> environment;
    std::vector<std::string> lines;
  };
  const std::string invalid_level =
    "environment variable SPDLOG_LEVEL is invalid, and set default level";
  auto console = [](const std::string & level) {
      return std::vector<std::string>{
        "SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=" + level};
    };
  const std::vector<Case> cases = {
    {"nothing set: notices, console, info level", "levels", {},
      Join({kNotSetLines[0], kNotSetLines[1], kNotSetLines[2]}, LevelLines(1, 2))},
    {"trace", "levels", console("trace"), LevelLines(0, 0)},
    {"debug", "levels", console("debug"), LevelLines(0, 1)},
    {"info", "levels", console("info"), LevelLines(1, 2)},
    {"warning", "levels", console("warning"), LevelLines(2, 3)},
    {"error", "levels", console("error"), LevelLines(3, 4)},
    {"critical", "levels", console("critical"), LevelLines(4, 5)},
    {"invalid settings fall back with notices", "levels",
      {"SPDLOG_STDOUT=yes", "SPDLOG_SYSTEMD=TRUE", "SPDLOG_LEVEL=verbose"},
      Join({"environment variable SPDLOG_STDOUT is invalid, and set true",
          "environment variable SPDLOG_SYSTEMD is invalid, and set false", invalid_level},
        LevelLines(1, 2))},
    // Level names are case sensitive.
    {"Info", "levels", console("Info"), Join({invalid_level}, LevelLines(1, 2))},
    {"WARNING", "levels", console("WARNING"), Join({invalid_level}, LevelLines(1, 2))},
    {"warn", "levels", console("warn"), Join({invalid_level}, LevelLines(1, 2))},
    {"empty level", "levels", console(""), Join({invalid_level}, LevelLines(1, 2))},
    // Nothing is printed for the 130 enabled statements, yet they advance the counter: the warn
    // statement seen by a sink added afterwards is number 131 & 0x7F. The debug one is not counted.
    {"no sinks still count statements", "latesink",
      {"SPDLOG_STDOUT=false", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"},
      {"  3 [WARN] seen by the late sink", "probe level 2"}},
    {"disabled statements are not counted", "latesink",
      {"SPDLOG_STDOUT=false", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=warning"},
      {"  1 [WARN] seen by the late sink", "probe level 3"}},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    const ProbeResult result = RunProbe(c.scenario, c.environment);
    ASSERT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.lines, c.lines);
  }
}

TEST(LoggerSequence, WrapsFrom127ToZero)
{
  const ProbeResult result =
    RunProbe("wrap", {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"});
  ASSERT_EQ(result.exit_code, 0);
  ASSERT_EQ(result.lines.size(), 131U);
  for (int i = 0; i < 130; ++i) {
    std::string number = std::to_string((i + 1) & 0x7F);
    number.insert(0, 3 - number.size(), ' ');
    EXPECT_EQ(result.lines[static_cast<std::size_t>(i)],
      number + " [INFO] statement " + std::to_string(i));
  }
}

TEST(LoggerSequence, SharedByAllThreads)
{
  const ProbeResult result =
    RunProbe("threads", {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"});
  ASSERT_EQ(result.exit_code, 0);
  ASSERT_EQ(result.lines.size(), 801U);
  // 800 statements take the numbers 1..800 once each; printed modulo 128.
  std::map<int, int> seen;
  std::map<std::string, int> per_thread;
  for (std::size_t i = 0; i + 1 < result.lines.size(); ++i) {
    const std::string & line = result.lines[i];
    ASSERT_GE(line.size(), 11U) << line;
    ASSERT_EQ(line.substr(3, 8), " [INFO] ") << line;
    ++seen[std::stoi(line.substr(0, 3))];
    ++per_thread[line.substr(11, 8)];
  }
  std::map<int, int> expected;
  for (int n = 1; n <= 800; ++n) {
    ++expected[n & 0x7F];
  }
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(per_thread.size(), 4U);
  for (const auto & [thread, count] : per_thread) {
    EXPECT_EQ(count, 200) << thread;
  }
}

TEST(LoggerJournal, RecordsCarryPriorityMessageAndSourceLocation)
{
  const ProbeResult result =
    RunProbe("journal", {"SPDLOG_STDOUT=false", "SPDLOG_SYSTEMD=true", "SPDLOG_LEVEL=info"});
  ASSERT_EQ(result.exit_code, 0);
  ASSERT_EQ(result.lines.size(), 17U);
  // Each record: the probe's source line, then the journal fields in the sink's order.
  for (std::size_t record = 0; record < 2; ++record) {
    const std::size_t base = record * 8;
    const std::string & probe_line = result.lines[base];
    ASSERT_EQ(probe_line.rfind("probe line ", 0), 0U) << probe_line;
    const std::string line_number = probe_line.substr(11);
    const bool info = record == 0;
    EXPECT_EQ(result.lines[base + 1], info ? "journal MESSAGE=  1 [INFO] cam_1 journal info"
                                           : "journal MESSAGE=  2 [WARN] cam_2 journal warn");
    EXPECT_EQ(result.lines[base + 2], info ? "journal PRIORITY=6" : "journal PRIORITY=4");
    EXPECT_EQ(result.lines[base + 3], "journal SYSLOG_IDENTIFIER=spdlog");
    const std::string & file = result.lines[base + 4];
    EXPECT_EQ(file.rfind("journal CODE_FILE=", 0), 0U) << file;
    EXPECT_NE(file.find("logger_probe.cpp"), std::string::npos) << file;
    EXPECT_EQ(result.lines[base + 5], "journal CODE_LINE=" + line_number);
    EXPECT_EQ(result.lines[base + 6], "journal CODE_FUNC=Journal");
    EXPECT_EQ(result.lines[base + 7], "journal end");
  }
  EXPECT_EQ(result.lines[16], "probe level 2");
}

TEST(LoggerJournal, ConsoleComesBeforeJournal)
{
  const ProbeResult result =
    RunProbe("journal", {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=true", "SPDLOG_LEVEL=warning"});
  ASSERT_EQ(result.exit_code, 0);
  // The info statement is disabled: not printed, not journalled, not counted.
  ASSERT_EQ(result.lines.size(), 11U);
  EXPECT_EQ(result.lines[0].rfind("probe line ", 0), 0U);
  EXPECT_EQ(result.lines[1].rfind("probe line ", 0), 0U);
  EXPECT_EQ(result.lines[2], "  1 [WARN] cam_2 journal warn");
  EXPECT_EQ(result.lines[3], "journal MESSAGE=  1 [WARN] cam_2 journal warn");
  EXPECT_EQ(result.lines[4], "journal PRIORITY=4");
  EXPECT_EQ(result.lines[10], "probe level 3");
}

TEST(LoggerFormat, RunTimeFormatErrorIsLoggedNotThrown)
{
  const ProbeResult result =
    RunProbe("badformat", {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"});
  ASSERT_EQ(result.exit_code, 0);
  ASSERT_EQ(result.lines.size(), 3U);
  EXPECT_EQ(result.lines[0].rfind("  1 [INFO] log format error (", 0), 0U) << result.lines[0];
  EXPECT_NE(result.lines[0].find("in: value {0:.{1}f}"), std::string::npos) << result.lines[0];
  EXPECT_EQ(result.lines[1], "  2 [INFO] after 6");
}

}  // namespace
