// A hostile DDS peer for the robustness tests, in a process (and participant) of its own: writes
// the bytes of a file as they are (RawWriter hands them to DDS without looking at them) under
// any topic and type name, with any writer USER_DATA. Given well-formed bytes it is also the
// other process of the transport's late-joiner test.
//   hostile_peer --topic T --type TYPE --payload-file PATH [--user-data TEXT] [--count N]
//                [--rate HZ] [--transient-local] [--depth N] [--match-timeout S] [--linger S]
// Prints "matched" once a reader is matched and "sent N" after the last write; SIGINT or SIGTERM
// ends the linger (exit 0).
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "rclcdds/context.hpp"
#include "rclcdds/raw_writer.hpp"

int main(int argc, char ** argv)
{
  std::map<std::string, std::string> options = {{"--count", "1"}, {"--rate", "10"},
    {"--depth", "100"}, {"--match-timeout", "5"}, {"--linger", "0.5"}};
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    options[word] = word == "--transient-local" || i + 1 == argc ? "1" : argv[++i];
  }
  std::ifstream file(options["--payload-file"], std::ios::binary);
  const std::vector<uint8_t> payload(std::istreambuf_iterator<char>(file), {});
  if (options["--topic"].empty() || options["--type"].empty() || payload.empty()) {
    std::fprintf(stderr, "hostile_peer: needs --topic, --type and a non-empty --payload-file\n");
    return 2;
  }
  rclcdds::init(argc, argv);
  rclcdds::EndpointDescription description;
  description.topic_name = options["--topic"];
  description.type_name = options["--type"];
  description.qos = rclcdds::QoS(std::stoul(options["--depth"]));
  if (options.count("--transient-local") != 0) {
    description.qos.transient_local();
  }
  description.user_data = options["--user-data"];
  rclcdds::RawWriter writer(rclcdds::get_global_default_context(), description);

  using Clock = std::chrono::steady_clock;
  const auto seconds = [&](const char * name) {
      return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::stod(options[name])));
    };
  const auto match_deadline = Clock::now() + seconds("--match-timeout");
  while (writer.matched_subscription_count() == 0 && Clock::now() < match_deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (writer.matched_subscription_count() > 0) {
    std::printf("matched\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const long count = std::stol(options["--count"]);
  const double rate = std::stod(options["--rate"]);
  const auto period = std::chrono::duration_cast<Clock::duration>(
    std::chrono::duration<double>(rate > 0 ? 1.0 / rate : 0.0));
  auto next = Clock::now();
  for (long sent = 0; sent < count; ++sent) {
    rclcdds::SerializedMessage copy;
    copy.assign(payload.data(), payload.size());
    writer.write(std::move(copy));
    std::this_thread::sleep_until(next += period);
  }
  std::printf("sent %ld\n", count);
  std::fflush(stdout);
  rclcdds::sleep_for(seconds("--linger"));
  rclcdds::shutdown();
  return 0;
}
