// Executor dispatch cost: a ready timer taken and run, and a message from publish to callback,
// single- and multi-threaded. Run inside scripts/netns.sh (it opens a DDS participant).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <std_msgs/msg/string.hpp>

#include "rclcdds/rclcdds.hpp"

namespace
{

using namespace std::chrono_literals;

/// One context and node for the whole run.
struct Fixture
{
  Fixture()
  {
    if (!rclcdds::ok()) {
      rclcdds::init(0, nullptr);
    }
  }
};

void BM_ReadyTimerDispatch(benchmark::State & state)
{
  Fixture fixture;
  auto node = std::make_shared<rclcdds::Node>("bench_timer");
  int64_t calls = 0;
  // A period of 1 ns keeps the timer ready: every spin_once waits, takes and runs it.
  auto timer = node->create_wall_timer(1ns, [&calls] {++calls;});
  rclcdds::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  for (auto _ : state) {
    executor.spin_once(1s);
  }
  state.SetItemsProcessed(calls);
}
BENCHMARK(BM_ReadyTimerDispatch)->Unit(benchmark::kMicrosecond);

void BM_PublishToCallbackSingleThreaded(benchmark::State & state)
{
  Fixture fixture;
  auto node = std::make_shared<rclcdds::Node>("bench_single");
  int64_t received = 0;
  auto subscription = node->create_subscription<std_msgs::msg::String>(
    "bench_single_topic", rclcdds::QoS(1000),
    [&received](const std_msgs::msg::String &) {++received;});
  auto publisher = node->create_publisher<std_msgs::msg::String>(
    "bench_single_topic", rclcdds::QoS(1000));
  while (publisher->get_subscription_count() == 0) {
    std::this_thread::sleep_for(1ms);
  }
  rclcdds::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std_msgs::msg::String msg;
  msg.data = "x";
  for (auto _ : state) {
    const int64_t before = received;
    publisher->publish(msg);
    while (received == before) {
      executor.spin_once(1s);
    }
  }
  state.SetItemsProcessed(received);
}
BENCHMARK(BM_PublishToCallbackSingleThreaded)->Unit(benchmark::kMicrosecond);

/// Throughput of batches of 1000 messages through a multi-threaded executor with
/// state.range(0) threads (one reentrant group, so callbacks can run in parallel).
void BM_BatchThroughMultiThreaded(benchmark::State & state)
{
  Fixture fixture;
  constexpr int kBatch = 1000;
  auto node = std::make_shared<rclcdds::Node>("bench_multi");
  auto group = node->create_callback_group(rclcdds::CallbackGroupType::Reentrant);
  rclcdds::SubscriptionOptions options;
  options.callback_group = group;
  std::atomic<int64_t> received{0};
  auto subscription = node->create_subscription<std_msgs::msg::String>(
    "bench_multi_topic", rclcdds::QoS(kBatch),
    [&received](const std_msgs::msg::String &) {++received;}, options);
  auto publisher = node->create_publisher<std_msgs::msg::String>(
    "bench_multi_topic", rclcdds::QoS(kBatch));
  while (publisher->get_subscription_count() == 0) {
    std::this_thread::sleep_for(1ms);
  }
  rclcdds::executors::MultiThreadedExecutor executor(
    rclcdds::ExecutorOptions(), static_cast<size_t>(state.range(0)));
  executor.add_node(node);
  std::thread spinner([&executor] {executor.spin();});
  std_msgs::msg::String msg;
  msg.data = "x";
  for (auto _ : state) {
    const int64_t target = received + kBatch;
    for (int i = 0; i < kBatch; ++i) {
      publisher->publish(msg);
    }
    while (received < target) {
      std::this_thread::yield();
    }
  }
  executor.cancel();
  spinner.join();
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BatchThroughMultiThreaded)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)
->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
