// Logs a fixed scenario through nimbra::Logger so that a test can compare the exact standard
// output of a fresh process (the logger reads its environment once per process).
//   logger_probe levels    one statement per level
//   logger_probe journal   one info and one warn statement, printing their source lines
//   logger_probe threads   4 threads x 200 info statements
//   logger_probe latesink  130 info and 1 debug statement, then a warn statement through a sink
//                          added afterwards (shows what was counted while nothing was printed)
//   logger_probe badformat a statement whose argument does not fit its format at run time
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <spdlog/logger.h>
#include <spdlog/sinks/ostream_sink.h>

#include "common/logger.hpp"

namespace
{

void Levels()
{
  LOG_DEBUG("debug statement {0:d}", 1);
  LOG_INFO("info statement {0:d}", 2);
  LOG_WARN("warn statement {0:s}", std::string("three"));
  LOG_ERROR("error statement {1:.2f} {0:d}", 4, 4.5);
}

void Journal()
{
  std::cout << "probe line " << __LINE__ + 1 << std::endl;
  LOG_INFO("cam_{0:d} journal info", 1);
  std::cout << "probe line " << __LINE__ + 1 << std::endl;
  LOG_WARN("cam_{0:d} journal warn", 2);
}

void Threads()
{
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t]() {
        for (int i = 0; i < 200; ++i) {
          LOG_INFO("thread {0:d} statement {1:d}", t, i);
        }
      });
  }
  for (auto & thread : threads) {
    thread.join();
  }
}

void LateSink()
{
  for (int i = 0; i < 130; ++i) {
    LOG_INFO("statement {0:d}", i);
  }
  LOG_DEBUG("debug statement {0:d}", 131);
  auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(std::cout, true);
  sink->set_pattern("%v");
  nimbra::Logger::Instance().logger()->sinks().push_back(sink);
  LOG_WARN("seen by the late sink");
}

void BadFormat()
{
  // A negative precision taken from an argument: only detectable at run time.
  LOG_INFO("value {0:.{1}f}", 5.0, -1);
  LOG_INFO("after {0:d}", 6);
}

}  // namespace

int main(int argc, char ** argv)
{
  const std::map<std::string, void (*)()> scenarios = {{"levels", Levels}, {"journal", Journal},
    {"threads", Threads}, {"latesink", LateSink}, {"badformat", BadFormat}};
  const std::string scenario = argc > 1 ? argv[1] : "";
  const auto found = scenarios.find(scenario);
  if (found == scenarios.end()) {
    std::cerr << "unknown scenario '" << scenario << "'\n";
    return 2;
  }
  found->second();
  std::cout << "probe level " << nimbra::Logger::Instance().level() << std::endl;
  return 0;
}
