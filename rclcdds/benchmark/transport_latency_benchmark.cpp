// Publish-to-callback latency of a 640x480 16UC1 image (614 400 data bytes) between two processes
// on loopback, measured as half the round trip of a ping-pong, beside Cyclone DDS's own ddsperf
// ping-pong at the same payload size and with the same loopback configuration, in the same run.
// Run inside scripts/netns.sh:  transport_latency_benchmark [--benchmark_min_time=5]
// The echo side is this executable started again with "--echo".
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sensor_msgs/msg/image.hpp>

#include "rclcdds/executors.hpp"
#include "rclcdds/network_config.hpp"
#include "rclcdds/node_topics.hpp"

extern char ** environ;

namespace
{

constexpr uint32_t kWidth = 640;
constexpr uint32_t kHeight = 480;
std::string g_self;  ///< path of this executable

/// Child process started with posix_spawn, killed on destruction.
class Child
{
public:
  Child(const std::vector<std::string> & argv, const std::string & output)
  {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char *> args;
    for (const auto & a : argv) {
      args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {stop();}
  void stop()
  {
    if (pid_ > 0) {
      kill(pid_, SIGINT);
      int status = 0;
      for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
      pid_ = -1;
    }
  }
  int wait()
  {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

private:
  pid_t pid_{-1};
};

/// Echo process: sends every image from "latency_ping" straight back on "latency_pong".
int run_echo()
{
  rclcdds::init(0, nullptr);
  auto node = std::make_shared<rclcdds::NodeTopics>("latency_echo");
  auto pong = node->create_publisher<sensor_msgs::msg::Image>("latency_pong", rclcdds::QoS(1));
  auto ping = node->create_subscription<sensor_msgs::msg::Image>(
    "latency_ping", rclcdds::QoS(1),
    [&pong](sensor_msgs::msg::Image::UniquePtr image) {pong->publish(std::move(image));});
  rclcdds::spin(node);
  return 0;
}

/// Ping side: one iteration = publish, wait for the echo; reports half the round trip.
void BM_ImageLatencyTwoProcesses(benchmark::State & state)
{
  Child echo({g_self, "--echo"}, "/tmp/rclcdds_latency_echo.log");
  auto context = std::make_shared<rclcdds::Context>();
  context->init(0, nullptr);
  auto node = std::make_shared<rclcdds::NodeTopics>("latency_ping", "", context);
  auto ping = node->create_publisher<sensor_msgs::msg::Image>("latency_ping", rclcdds::QoS(1));
  std::atomic<uint32_t> last_seq{0};
  auto pong = node->create_subscription<sensor_msgs::msg::Image>(
    "latency_pong", rclcdds::QoS(1),
    [&last_seq](const sensor_msgs::msg::Image & image) {last_seq = image.header.stamp.nanosec;});
  rclcdds::executors::SingleThreadedExecutor executor(rclcdds::ExecutorOptions{context});
  executor.add_node(node);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((ping->get_subscription_count() == 0 || pong->get_publisher_count() == 0) &&
    std::chrono::steady_clock::now() < deadline)
  {
    executor.spin_once(std::chrono::milliseconds(10));
  }
  if (ping->get_subscription_count() == 0 || pong->get_publisher_count() == 0) {
    state.SkipWithError("echo process not discovered");
    return;
  }

  sensor_msgs::msg::Image image;
  image.header.frame_id = "camera_depth_optical_frame";
  image.width = kWidth;
  image.height = kHeight;
  image.encoding = "16UC1";
  image.step = kWidth * 2;
  image.data.assign(static_cast<size_t>(kWidth) * kHeight * 2, 0x42);

  uint32_t seq = 0;
  std::vector<double> one_way_us;
  for (auto _ : state) {
    image.header.stamp.nanosec = ++seq;
    const auto start = std::chrono::steady_clock::now();
    ping->publish(image);
    while (last_seq.load() != seq) {
      executor.spin_once(std::chrono::milliseconds(100));
      if (std::chrono::steady_clock::now() - start > std::chrono::seconds(2)) {
        break;  // lost: counts as a 2 s sample; reliable QoS makes this rare
      }
    }
    const double rtt = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(rtt / 2);
    one_way_us.push_back(rtt / 2 * 1e6);
  }
  std::sort(one_way_us.begin(), one_way_us.end());
  if (!one_way_us.empty()) {
    state.counters["median_us"] = one_way_us[one_way_us.size() / 2];
    state.counters["p90_us"] = one_way_us[one_way_us.size() * 9 / 10];
    state.counters["min_us"] = one_way_us.front();
  }
  state.counters["payload_bytes"] = static_cast<double>(
    rclcdds::serialized_size(rclcdds::get_message_members<sensor_msgs::msg::Image>(), &image));
  context->shutdown("benchmark done");
}

/// Cyclone's ddsperf ping/pong at the same payload size and loopback configuration; reports its
/// one-way latency (it also halves the round trip) as mean over its per-second reports.
void BM_DdsperfLatencySameSize(benchmark::State & state)
{
  const std::string config_path = "/tmp/rclcdds_latency_cyclonedds.xml";
  {
    std::ofstream config(config_path);
    config << rclcdds::NetworkConfig::loopback_xml(false);
  }
  setenv("CYCLONEDDS_URI", ("file://" + config_path).c_str(), 1);
  const size_t size = kWidth * kHeight * 2 + 64;  // the image payload incl. its header fields
  const int seconds = std::max(3, static_cast<int>(state.range(0)));
  std::vector<double> means, medians, p90s;
  for (auto _ : state) {
    Child pong({"ddsperf", "-D", std::to_string(seconds + 2), "pong", "waitset"},
      "/tmp/rclcdds_ddsperf_pong.log");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Child ping({"ddsperf", "-D", std::to_string(seconds), "ping", "size", std::to_string(size),
        "waitset"}, "/tmp/rclcdds_ddsperf_ping.log");
    ping.wait();
    pong.stop();
    std::ifstream log("/tmp/rclcdds_ddsperf_ping.log");
    std::string line;
    while (std::getline(log, line)) {
      double mean = 0, min = 0, p50 = 0, p90 = 0;
      const char * at = std::strstr(line.c_str(), " mean ");
      if (at != nullptr &&
        std::sscanf(at, " mean %lfus min %lfus 50%% %lfus 90%% %lfus", &mean, &min, &p50, &p90) == 4)
      {
        means.push_back(mean);
        medians.push_back(p50);
        p90s.push_back(p90);
      }
    }
  }
  unsetenv("CYCLONEDDS_URI");
  if (medians.empty()) {
    state.SkipWithError("ddsperf printed no latency (is it installed? inside scripts/netns.sh?)");
    return;
  }
  auto avg = [](const std::vector<double> & v) {
      double sum = 0;
      for (double x : v) {
        sum += x;
      }
      return sum / static_cast<double>(v.size());
    };
  state.counters["ddsperf_mean_us"] = avg(means);
  state.counters["ddsperf_median_us"] = avg(medians);
  state.counters["ddsperf_p90_us"] = avg(p90s);
  state.counters["payload_bytes"] = static_cast<double>(size);
}

}  // namespace

BENCHMARK(BM_ImageLatencyTwoProcesses)->UseManualTime()->Unit(benchmark::kMicrosecond)
->MinTime(5.0);
BENCHMARK(BM_DdsperfLatencySameSize)->Arg(5)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char ** argv)
{
  g_self = argv[0];
  if (argc > 1 && std::strcmp(argv[1], "--echo") == 0) {
    return run_echo();
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
