// Cost of a log statement: disabled (below the level), and enabled into a sink that discards.
// Run by hand: SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info ./benchmark_logger
#include <benchmark/benchmark.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/null_sink.h>

#include <string>

#include "common/logger.hpp"

namespace
{

void BM_DisabledStatement(benchmark::State & state)
{
  for (auto _ : state) {
    LOG_DEBUG("cam_{0:d} : disabled statement {1:.3f}", 1, 0.5);
  }
}
BENCHMARK(BM_DisabledStatement);

void BM_EnabledStatement(benchmark::State & state)
{
  auto & sinks = nimbra::Logger::Instance().logger()->sinks();
  sinks.clear();
  sinks.push_back(std::make_shared<spdlog::sinks::null_sink_mt>());
  const std::string name = "PERSON";
  for (auto _ : state) {
    LOG_INFO(
      "cam_{0:d} ai_conf_.parser label {1:d}, type {2:s}, thresh {3:05.4f}.", 1, 7, name, 0.45);
  }
}
BENCHMARK(BM_EnabledStatement);

}  // namespace

BENCHMARK_MAIN();
