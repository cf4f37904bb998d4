// Logger behaviour per environment, observed on the output of fresh probe processes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.hpp"

namespace
{

using Lines = std::vector<std::string>;

/// Runs the probe with the three logger variables set as given ("NAME=value"), the others unset,
/// checks that it exits with 0 and collects its output lines. A journal record's CODE_FILE is
/// reduced to the file name, and its CODE_LINE reads "(probe line)" when it is the line the probe
/// announced before the statement; the announcement itself is dropped.
Lines RunProbe(const std::string & scenario, const Lines & environment)
{
  for (const char * name : {"SPDLOG_STDOUT", "SPDLOG_SYSTEMD", "SPDLOG_LEVEL"}) {
    unsetenv(name);
  }
  for (const std::string & entry : environment) {
    const std::size_t equals = entry.find('=');
    setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
  }
  rclcdds_test::ChildProcess probe({LOGGER_PROBE_PATH, scenario});
  EXPECT_TRUE(probe.started()) << LOGGER_PROBE_PATH;
  EXPECT_EQ(probe.wait(std::chrono::seconds(30)), 0) << scenario;
  Lines lines;
  std::istringstream stream(probe.output());
  std::string announced;
  for (std::string line; std::getline(stream, line);) {
    const std::string file_field = "journal CODE_FILE=";
    if (line.rfind("probe line ", 0) == 0) {
      announced = line.substr(11);
      continue;
    }
    if (line.rfind(file_field, 0) == 0) {
      line = file_field + std::filesystem::path(line.substr(file_field.size())).filename().string();
    } else if (line == "journal CODE_LINE=" + announced) {
      line = "journal CODE_LINE=(probe line)";
    }
    lines.push_back(line);
  }
  return lines;
}

// The four statements of the "levels" scenario from `first` on, numbered from 1, then the level.
Lines LevelLines(int first, int level)
{
  static const char * const kStatements[] = {
    "[DEBUG] debug statement 1", "[INFO] info statement 2", "[WARN] warn statement three",
    "[ERROR] error statement 4.50 4"};
  Lines lines;
  for (int i = first; i < 4; ++i) {
    lines.push_back("  " + std::to_string(i - first + 1) + " " + kStatements[i]);
  }
  lines.push_back("probe level " + std::to_string(level));
  return lines;
}

/// The fields of one journal record of the "journal" scenario, in the sink's order.
Lines JournalRecord(const std::string & message, int priority)
{
  return {"journal MESSAGE=" + message, "journal PRIORITY=" + std::to_string(priority),
    "journal SYSLOG_IDENTIFIER=spdlog", "journal CODE_FILE=logger_probe.cpp",
    "journal CODE_LINE=(probe line)", "journal CODE_FUNC=Journal", "journal end"};
}

Lines Join(std::initializer_list<Lines> parts)
{
  Lines joined;
  for (const Lines & part : parts) {
    joined.insert(joined.end(), part.begin(), part.end());
  }
  return joined;
}

TEST(LoggerEnvironment, EachSetting)
{
  struct Case
  {
    const char * name;
    const char * scenario;
    Lines environment;
    Lines lines;
  };
  const std::string invalid_level =
    "environment variable SPDLOG_LEVEL is invalid, and set default level";
  auto settings = [](const std::string & out, const std::string & journal,
    const std::string & level) {
      return Lines{"SPDLOG_STDOUT=" + out, "SPDLOG_SYSTEMD=" + journal, "SPDLOG_LEVEL=" + level};
    };
  auto console = [&settings](const std::string & level) {
      return settings("true", "false", level);
    };
  // 130 statements numbered from 1, the number wrapping from 127 to 0.
  Lines wrapped;
  for (int i = 0; i < 130; ++i) {
    std::string number = std::to_string((i + 1) & 0x7F);
    number.insert(0, 3 - number.size(), ' ');
    wrapped.push_back(number + " [INFO] statement " + std::to_string(i));
  }
  const std::vector<Case> cases = {
    {"nothing set: notices, console, info level", "levels", {},
      Join({{"environment variable SPDLOG_STDOUT is not set, and set true",
          "environment variable SPDLOG_SYSTEMD is not set, and set false",
          "environment variable SPDLOG_LEVEL is not set, and set default level"},
        LevelLines(1, 2)})},
    {"trace", "levels", console("trace"), LevelLines(0, 0)},
    {"debug", "levels", console("debug"), LevelLines(0, 1)},
    {"warning", "levels", console("warning"), LevelLines(2, 3)},
    {"error", "levels", console("error"), LevelLines(3, 4)},
    {"critical", "levels", console("critical"), LevelLines(4, 5)},
    {"invalid settings fall back with notices", "levels", settings("yes", "TRUE", "verbose"),
      Join({{"environment variable SPDLOG_STDOUT is invalid, and set true",
          "environment variable SPDLOG_SYSTEMD is invalid, and set false", invalid_level},
        LevelLines(1, 2)})},
    // Level names are case sensitive.
    {"Info", "levels", console("Info"), Join({{invalid_level}, LevelLines(1, 2)})},
    {"warn", "levels", console("warn"), Join({{invalid_level}, LevelLines(1, 2)})},
    {"empty level", "levels", console(""), Join({{invalid_level}, LevelLines(1, 2)})},
    // Also the "info" setting: level 2, the debug statement is not shown.
    {"sequence wraps from 127 to 0", "latesink", console("info"),
      Join({wrapped, {"  3 [WARN] seen by the late sink", "  3 [WARN] seen by the late sink",
          "probe level 2"}})},
    // Nothing is printed for the 130 enabled statements, yet they advance the counter: the warn
    // statement seen by a sink added afterwards is number 131 & 0x7F. The debug one is not counted.
    {"no sinks still count statements", "latesink", settings("false", "false", "info"),
      {"  3 [WARN] seen by the late sink", "probe level 2"}},
    {"disabled statements are not counted", "latesink", settings("false", "false", "warning"),
      {"  1 [WARN] seen by the late sink", "probe level 3"}},
    {"journal records carry priority, message and source location", "journal",
      settings("false", "true", "info"),
      Join({JournalRecord("  1 [INFO] cam_1 journal info", 6),
        JournalRecord("  2 [WARN] cam_2 journal warn", 4), {"probe level 2"}})},
    // The info statement is disabled: not printed, not journalled, not counted.
    {"console comes before the journal", "journal", settings("true", "true", "warning"),
      Join({{"  1 [WARN] cam_2 journal warn"}, JournalRecord("  1 [WARN] cam_2 journal warn", 4),
        {"probe level 3"}})},
    {"run-time format error is logged, not thrown", "badformat", console("info"),
      {"  1 [INFO] log format error (negative precision) in: value {0:.{1}f}",
        "  2 [INFO] after 6", "probe level 2"}},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RunProbe(c.scenario, c.environment), c.lines);
  }
}

TEST(LoggerSequence, SharedByAllThreads)
{
  const Lines lines =
    RunProbe("threads", {"SPDLOG_STDOUT=true", "SPDLOG_SYSTEMD=false", "SPDLOG_LEVEL=info"});
  ASSERT_EQ(lines.size(), 801U);
  // 800 statements take the numbers 1..800 once each; printed modulo 128.
  std::map<int, int> seen;
  std::map<std::string, int> per_thread;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    const std::string & line = lines[i];
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
  EXPECT_EQ(per_thread, (std::map<std::string, int>{
    {"thread 0", 200}, {"thread 1", 200}, {"thread 2", 200}, {"thread 3", 200}}));
}

}  // namespace
