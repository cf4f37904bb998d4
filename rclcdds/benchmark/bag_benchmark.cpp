// Recording and playing camera-sized streams with rclcdds_cli bag (run by hand inside
// scripts/netns.sh): 2 cameras x (640x480 16UC1 depth, 614 kB + 640x480 rgb8 colour, 921 kB) at
// 30 Hz. Prints the sustained MB/s, messages lost and CPU used by the recorder and the player.
//   bag_benchmark [SECONDS] [sqlite3|mcap|mcap-zstd|mcap-lz4 ...] [depth=N (publisher history, 5)]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sensor_msgs/msg/image.hpp>

#include "bag_storage.hpp"
#include "child_process.hpp"
#include "rclcdds/rclcdds.hpp"
#include "rclcdds/raw_reader.hpp"
#include "rclcdds/raw_writer.hpp"
#include "rclcdds/serialization.hpp"

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

namespace
{

/// CPU seconds (user + system) a process used so far, from /proc/PID/stat.
double cpu_seconds(pid_t pid)
{
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), {});
  const size_t close = text.rfind(')');
  if (close == std::string::npos) {
    return 0.0;
  }
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double utime = 0;
  double stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) {
      utime = std::stod(field);
    } else if (i == 15) {
      stime = std::stod(field);
    }
  }
  return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::vector<uint8_t> image_payload(uint32_t width, uint32_t height, const char * encoding,
  uint32_t bytes_per_pixel, int frame, const std::string & frame_id)
{
  sensor_msgs::msg::Image image;
  image.header.frame_id = frame_id;
  image.header.stamp.sec = frame;
  image.width = width;
  image.height = height;
  image.encoding = encoding;
  image.step = width * bytes_per_pixel;
  image.data.resize(static_cast<size_t>(image.step) * height);
  for (size_t i = 0; i < image.data.size(); i += 64) {
    image.data[i] = static_cast<uint8_t>(frame + i);
  }
  rclcdds::SerializedMessage out;
  rclcdds::serialize_message(rclcdds::get_message_members<sensor_msgs::msg::Image>(), &image, out);
  return std::vector<uint8_t>(out.data(), out.data() + out.size());
}

struct Stream
{
  std::string topic;
  std::unique_ptr<rclcdds::RawWriter> writer;
  uint32_t width, height, bpp;
  const char * encoding;
};

void run(const std::string & mode, double seconds, size_t depth)
{
  auto context = rclcdds::get_global_default_context();
  const std::string dir = "/tmp/rclcdds_bag_benchmark_" + mode + "_" + std::to_string(getpid());
  std::vector<Stream> streams;
  for (const char * camera : {"cam1", "cam2"}) {
    for (int is_depth = 1; is_depth >= 0; --is_depth) {
      Stream s;
      s.topic = std::string("/") + camera + (is_depth ? "/depth/image_raw" : "/color/image_raw");
      s.width = 640;
      s.height = 480;
      s.bpp = is_depth ? 2 : 3;
      s.encoding = is_depth ? "16UC1" : "rgb8";
      s.writer = std::make_unique<rclcdds::RawWriter>(context, rclcdds::topic_endpoint_description(
            s.topic, rclcdds::get_message_members<sensor_msgs::msg::Image>(), rclcdds::QoS(depth)));
      streams.push_back(std::move(s));
    }
  }
  std::vector<std::string> argv = {RCLCDDS_CLI, "bag", "record", "-o", dir, "--settle", "0.5"};
  for (const auto & s : streams) {
    argv.push_back(s.topic);
  }
  argv.push_back("--storage");
  argv.push_back(mode == "sqlite3" ? "sqlite3" : "mcap");
  if (mode == "mcap-zstd" || mode == "mcap-lz4") {
    argv.push_back("--compression");
    argv.push_back(mode.substr(5));
  }
  rclcdds_test::ChildProcess recorder(argv);
  const auto match_deadline = SteadyClock::now() + 10s;
  while (SteadyClock::now() < match_deadline &&
    !std::all_of(streams.begin(), streams.end(), [](const Stream & s) {
      return s.writer->matched_subscription_count() > 0;
    }))
  {
    std::this_thread::sleep_for(10ms);
  }
  std::this_thread::sleep_for(300ms);
  const double cpu_before = cpu_seconds(recorder.pid());
  const auto start = SteadyClock::now();
  const int frames = static_cast<int>(seconds * 30);
  uint64_t sent_bytes = 0;
  uint64_t sent = 0;
  for (int frame = 0; frame < frames; ++frame) {
    std::this_thread::sleep_until(start + std::chrono::microseconds(33333) * frame);
    for (auto & s : streams) {
      auto payload = image_payload(s.width, s.height, s.encoding, s.bpp, frame, s.topic);
      rclcdds::SerializedMessage message;
      message.assign(payload.data(), payload.size());
      sent_bytes += payload.size();
      s.writer->write(std::move(message));
      ++sent;
    }
  }
  const double wall = std::chrono::duration<double>(SteadyClock::now() - start).count();
  std::this_thread::sleep_for(1500ms);  // retransmissions still in flight
  const double recorder_cpu = cpu_seconds(recorder.pid()) - cpu_before;
  recorder.signal(SIGINT);
  const int code = recorder.wait(std::chrono::minutes(2));
  {
    std::istringstream output(recorder.output());
    for (std::string line; std::getline(output, line); ) {
      if (line.find("dropped") != std::string::npos || line.find("error") != std::string::npos) {
        std::printf("[%s] recorder: %s\n", mode.c_str(), line.c_str());
      }
    }
  }
  const auto bag = rclcdds_bag::open_bag_directory(dir);
  uint64_t size = 0;
  for (const auto & file : bag.files) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    size += static_cast<uint64_t>(in.tellg());
  }
  std::printf(
    "[%s] record: %llu messages sent in %.2f s (%.1f MB/s), %llu recorded, %lld lost, "
    "recorder CPU %.0f%% of one core, bag %.1f MB, exit %d\n",
    mode.c_str(), static_cast<unsigned long long>(sent), wall, sent_bytes / wall / 1e6,
    static_cast<unsigned long long>(bag.metadata.message_count),
    static_cast<long long>(sent) - static_cast<long long>(bag.metadata.message_count),
    100.0 * recorder_cpu / (wall + 1.5), size / 1e6, code);

  // Which frames are missing (the stamp's seconds carry the frame number).
  std::map<std::string, std::vector<int>> frames_seen;
  for (const auto & file : bag.files) {
    auto reader = rclcdds_bag::storage_of_file(file) == "mcap" ?
      rclcdds_bag::open_mcap_reader(file) : rclcdds_bag::open_sqlite_reader(file);
    rclcdds_bag::BagMessage m;
    while (reader->next(m)) {
      if (m.data.size() >= 8) {
        int32_t frame = 0;
        std::memcpy(&frame, m.data.data() + 4, 4);
        frames_seen[reader->topics()[m.topic].name].push_back(frame);
      }
    }
  }
  for (const auto & [topic, seen] : frames_seen) {
    std::string missing;
    int count = 0;
    for (int frame = 0, i = 0; frame < frames; ++frame) {
      if (i < static_cast<int>(seen.size()) && seen[i] == frame) {
        ++i;
      } else if (++count <= 12) {
        missing += " " + std::to_string(frame);
      }
    }
    if (count > 0) {
      std::printf("[%s]   %s: %d frames missing:%s%s\n", mode.c_str(), topic.c_str(), count,
        missing.c_str(), count > 12 ? " ..." : "");
    }
  }

  // Play it back at rate 1 into readers here.
  std::vector<std::unique_ptr<rclcdds::RawReader>> readers;
  for (const auto & s : streams) {
    readers.push_back(std::make_unique<rclcdds::RawReader>(context, rclcdds::topic_endpoint_description(
        s.topic, rclcdds::get_message_members<sensor_msgs::msg::Image>(),
        rclcdds::QoS(rclcdds::KeepLast(100)))));
  }
  std::atomic<uint64_t> received{0};
  std::atomic<bool> stop{false};
  std::thread taker([&] {
      while (!stop) {
        bool any = false;
        for (auto & reader : readers) {
          while (reader->take([&](const uint8_t *, size_t, const rclcdds::SampleInfo &) {++received;})) {
            any = true;
          }
        }
        if (!any) {
          std::this_thread::sleep_for(200us);
        }
      }
    });
  rclcdds_test::ChildProcess player({RCLCDDS_CLI, "bag", "play", dir, "--delay", "1.0"});
  std::this_thread::sleep_for(1s);
  const double player_cpu_before = cpu_seconds(player.pid());
  const auto play_start = SteadyClock::now();
  double player_cpu = 0;
  while (player.output().find("Played ") == std::string::npos &&
    SteadyClock::now() - play_start < std::chrono::duration<double>(seconds * 3 + 10))
  {
    player_cpu = cpu_seconds(player.pid()) - player_cpu_before;
    std::this_thread::sleep_for(20ms);
  }
  const double play_wall = std::chrono::duration<double>(SteadyClock::now() - play_start).count();
  const int play_code = player.wait(std::chrono::minutes(2));
  std::this_thread::sleep_for(300ms);
  stop = true;
  taker.join();
  std::printf(
    "[%s] play at rate 1: %llu of %llu messages received in %.2f s, player CPU %.0f%% of one "
    "core, exit %d\n", mode.c_str(), static_cast<unsigned long long>(received.load()),
    static_cast<unsigned long long>(bag.metadata.message_count), play_wall,
    100.0 * player_cpu / play_wall, play_code);
  std::fflush(stdout);
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace

int main(int argc, char ** argv)
{
  rclcdds::init(argc, argv);
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  std::vector<std::string> modes;
  size_t depth = 5;
  for (int i = 2; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.rfind("depth=", 0) == 0) {
      depth = static_cast<size_t>(std::max(1, std::atoi(word.c_str() + 6)));
    } else {
      modes.push_back(word);
    }
  }
  std::printf("publishers: reliable, keep-last %zu\n", depth);
  if (modes.empty()) {
    modes = {"sqlite3", "mcap", "mcap-zstd"};
  }
  for (const auto & mode : modes) {
    run(mode, seconds > 0 ? seconds : 10.0, depth);
  }
  rclcdds::shutdown();
  return 0;
}
