// Publish-to-callback latency of a 640x480 16UC1 image (614 400 data bytes) between two processes
// on loopback, measured as half the round trip of a ping-pong, beside Cyclone DDS's own ddsperf
// ping-pong at the same payload size and with the same loopback configuration, in the same run.
// Run inside scripts/netns.sh:  transport_latency_benchmark [--benchmark_min_time=5]
// The echo side is this executable started again with "--echo".
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
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
#include <utility>
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

double cpu_seconds(const struct rusage & usage)
{
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

/// CPU per round trip of a ddsperf ping process from one of its per-second thread reports
/// ("... ddsperf:1%+1% recvUC:9%+23% pong:11%+30%") and the round trips of that second.
double ddsperf_cpu_us_per_rt(const std::string & line, double round_trips)
{
  double percent = 0;
  std::istringstream words(line);
  std::string word;
  while (words >> word) {
    const size_t colon = word.find(':');
    const size_t plus = word.find("%+");
    if (colon == std::string::npos || plus == std::string::npos || plus < colon) {
      continue;
    }
    percent += std::atof(word.c_str() + colon + 1) + std::atof(word.c_str() + plus + 2);
  }
  return round_trips > 0 ? percent * 1e4 / round_trips : 0;
}

/// Median and 90th percentile of each whole one-second window of samples (as ddsperf reports
/// them), averaged over the windows; falls back to the whole run when it is shorter.
std::pair<double, double> per_second_percentiles(
  const std::vector<double> & values, const std::vector<double> & at_s)
{
  std::vector<double> p50s, p90s, window;
  size_t begin = 0;
  for (size_t i = 0; i <= values.size(); ++i) {
    const bool ends = i == values.size() ||
      static_cast<int64_t>(at_s[i]) != static_cast<int64_t>(at_s[begin]);
    if (!ends) {
      continue;
    }
    if (i < values.size() || p50s.empty()) {  // a trailing partial window counts only alone
      window.assign(values.begin() + static_cast<std::ptrdiff_t>(begin),
        values.begin() + static_cast<std::ptrdiff_t>(i));
      std::sort(window.begin(), window.end());
      if (!window.empty()) {
        p50s.push_back(window[window.size() / 2]);
        p90s.push_back(window[window.size() * 9 / 10]);
      }
    }
    begin = i;
  }
  auto avg = [](const std::vector<double> & v) {
      double sum = 0;
      for (double x : v) {
        sum += x;
      }
      return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
    };
  return {avg(p50s), avg(p90s)};
}

int64_t steady_ns()
{
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
    std::chrono::steady_clock::now().time_since_epoch()).count();
}

/// Median and 90th percentile of a sample (sorted in place), microseconds.
std::pair<double, double> p50_p90_us(std::vector<double> & ns)
{
  if (ns.empty()) {
    return {0, 0};
  }
  std::sort(ns.begin(), ns.end());
  return {ns[ns.size() / 2] * 1e-3, ns[ns.size() * 9 / 10] * 1e-3};
}

/// Echo process: sends every image from "latency_ping" straight back on "latency_pong".
int run_echo()
{
  rclcdds::init(0, nullptr);
  auto node = std::make_shared<rclcdds::NodeTopics>("latency_echo");
  auto pong = node->create_publisher<sensor_msgs::msg::Image>("latency_pong", rclcdds::QoS(1));
  // Stamps for the ping side's breakdown, in the first 16 data bytes: when the callback started
  // (steady clock, shared by both processes) and how long the previous publish took.
  int64_t previous_publish_ns = 0;
  auto ping = node->create_subscription<sensor_msgs::msg::Image>(
    "latency_ping", rclcdds::QoS(1),
    [&pong, &previous_publish_ns](sensor_msgs::msg::Image::UniquePtr image) {
      const int64_t in = steady_ns();
      if (image->data.size() >= 16) {
        std::memcpy(image->data.data(), &in, 8);
        std::memcpy(image->data.data() + 8, &previous_publish_ns, 8);
      }
      pong->publish(std::move(image));
      previous_publish_ns = steady_ns() - in;
    });
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
  int64_t pong_at_ns = 0, echo_in_ns = 0, echo_publish_ns = 0;
  auto pong = node->create_subscription<sensor_msgs::msg::Image>(
    "latency_pong", rclcdds::QoS(1),
    [&](const sensor_msgs::msg::Image & image) {
      pong_at_ns = steady_ns();
      if (image.data.size() >= 16) {
        std::memcpy(&echo_in_ns, image.data.data(), 8);
        std::memcpy(&echo_publish_ns, image.data.data() + 8, 8);
      }
      last_seq = image.header.stamp.nanosec;
    });
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
  std::vector<double> at_s;  // when each sample started, seconds since the first
  const auto first = std::chrono::steady_clock::now();
  struct rusage usage_before;
  getrusage(RUSAGE_SELF, &usage_before);
  // Where a round trip goes: each publish (serialisation and the synchronous send of every
  // fragment) and each leg after its publish (delivery, wake-up, take, deserialisation).
  std::vector<double> ping_publish, echo_publish, out_after_publish, back_after_publish;
  for (auto _ : state) {
    image.header.stamp.nanosec = ++seq;
    const auto start = std::chrono::steady_clock::now();
    const int64_t start_ns = steady_ns();
    ping->publish(image);
    const int64_t published_ns = steady_ns();
    while (last_seq.load() != seq) {
      executor.spin_once(std::chrono::milliseconds(100));
      if (std::chrono::steady_clock::now() - start > std::chrono::seconds(2)) {
        break;  // lost: counts as a 2 s sample; reliable QoS makes this rare
      }
    }
    if (last_seq.load() == seq && echo_in_ns > 0) {
      ping_publish.push_back(static_cast<double>(published_ns - start_ns));
      out_after_publish.push_back(static_cast<double>(echo_in_ns - published_ns));
      back_after_publish.push_back(static_cast<double>(pong_at_ns - echo_in_ns - echo_publish_ns));
      if (echo_publish_ns > 0) {
        echo_publish.push_back(static_cast<double>(echo_publish_ns));
      }
    }
    const double rtt = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(rtt / 2);
    one_way_us.push_back(rtt / 2 * 1e6);
    at_s.push_back(std::chrono::duration<double>(start - first).count());
  }
  struct rusage usage_after;
  getrusage(RUSAGE_SELF, &usage_after);
  const double round_trips = std::max<double>(1, static_cast<double>(one_way_us.size()));
  state.counters["minflt_per_rt"] =
    static_cast<double>(usage_after.ru_minflt - usage_before.ru_minflt) / round_trips;
  state.counters["vcsw_per_rt"] =
    static_cast<double>(usage_after.ru_nvcsw - usage_before.ru_nvcsw) / round_trips;
  // CPU of the whole ping process (all threads: executor, Cyclone's receive thread, ...).
  state.counters["cpu_us_per_rt"] =
    (cpu_seconds(usage_after) - cpu_seconds(usage_before)) * 1e6 / round_trips;
  const std::pair<const char *, std::vector<double> *> parts[] = {
    {"ping_publish", &ping_publish}, {"echo_publish", &echo_publish},
    {"out_after_publish", &out_after_publish}, {"back_after_publish", &back_after_publish}};
  for (const auto & [name, values] : parts) {
    const auto [p50, p90] = p50_p90_us(*values);
    state.counters[std::string(name) + "_p50_us"] = p50;
    state.counters[std::string(name) + "_p90_us"] = p90;
  }
  // ddsperf's figures are per one-second report, averaged over the reports: the same here.
  const auto per_second = per_second_percentiles(one_way_us, at_s);
  state.counters["p50_per_second_us"] = per_second.first;
  state.counters["p90_per_second_us"] = per_second.second;
  std::sort(one_way_us.begin(), one_way_us.end());
  if (!one_way_us.empty()) {
    state.counters["median_us"] = one_way_us[one_way_us.size() / 2];
    state.counters["p90_us"] = one_way_us[one_way_us.size() * 9 / 10];
    state.counters["p99_us"] = one_way_us[one_way_us.size() * 99 / 100];
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
  std::vector<double> means, medians, p90s, cpus;
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
    double count = 0;  // round trips of the last latency report
    while (std::getline(log, line)) {
      double mean = 0, min = 0, p50 = 0, p90 = 0;
      const char * at = std::strstr(line.c_str(), " mean ");
      if (at != nullptr &&
        std::sscanf(at, " mean %lfus min %lfus 50%% %lfus 90%% %lfus", &mean, &min, &p50, &p90) == 4)
      {
        means.push_back(mean);
        medians.push_back(p50);
        p90s.push_back(p90);
        const char * cnt = std::strstr(line.c_str(), " cnt ");
        count = cnt != nullptr ? std::atof(cnt + 5) : 0;
      } else if (std::strstr(line.c_str(), " rss:") != nullptr && count > 0) {
        cpus.push_back(ddsperf_cpu_us_per_rt(line, count));
        count = 0;
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
  if (!cpus.empty()) {
    state.counters["ddsperf_cpu_us_per_rt"] = avg(cpus);
  }
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
