// rclcdds_cli bag record / play / info as separate processes against publishers and readers of
// this test (run inside scripts/netns.sh). Prints how far playback times fall from the recorded
// offsets, and fails only where the median is far off. Bags against independent implementations
// (npm, installed by scripts/setup.sh): ours are read by @foxglove/rosbag2-web (sqlite3) and
// @mcap/core (MCAP) with every message decoded; MCAP files of @mcap/core are read and played by us.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <geometry_msgs/msg/vector3.hpp>
#include <rosgraph_msgs/msg/clock.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <std_msgs/msg/string.hpp>

#include "../node/node_test_fixture.hpp"
#include "../transport/cdr_test_helpers.hpp"
#include "../transport/child_process.hpp"
#include "bag_storage.hpp"
#include "message_definition.hpp"
#include "rclcdds/raw_reader.hpp"
#include "rclcdds/raw_writer.hpp"

using namespace std::chrono_literals;
using rclcdds_test::ChildProcess;
using rclcdds_test::temp_dir;
using rclcdds_test::wire_of;

namespace
{

const char kImageTopic[] = "/bagtest/image";
const char kChatterTopic[] = "/bagtest/chatter";

/// A payload decoded as T; a test failure when it does not decode.
template<class T>
T deserialize(const std::vector<uint8_t> & data)
{
  T message;
  std::string error;
  EXPECT_TRUE(rclcdds_test::decode(data, &error, &message)) << error;
  return message;
}

struct Received
{
  std::chrono::steady_clock::time_point when;
  std::vector<uint8_t> data;
};

/// Takes everything arriving on some topics (best effort, deep history) on its own thread.
class Receiver
{
public:
  Receiver(const rclcdds::Context::SharedPtr & context,
    const std::vector<std::pair<std::string, const rclcdds::MessageMembers *>> & topics)
  {
    for (const auto & [topic, members] : topics) {
      readers_.emplace_back(topic, std::make_unique<rclcdds::RawReader>(
          context, rclcdds::topic_endpoint_description(
            topic, *members, rclcdds::QoS(rclcdds::KeepLast(1000)).best_effort())));
    }
    thread_ = std::thread([this] {
          while (!stop_) {
            bool any = false;
            for (auto & [topic, reader] : readers_) {
              const std::string & name = topic;
              any = reader->take([&](const uint8_t * data, size_t size, const rclcdds::SampleInfo &) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    received_[name].push_back({std::chrono::steady_clock::now(),
                      std::vector<uint8_t>(data, data + size)});
                  }) || any;
            }
            if (!any) {
              std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
          }
        });
  }

  ~Receiver()
  {
    stop_ = true;
    thread_.join();
  }

  std::map<std::string, std::vector<Received>> received()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

private:
  std::vector<std::pair<std::string, std::unique_ptr<rclcdds::RawReader>>> readers_;
  std::mutex mutex_;
  std::map<std::string, std::vector<Received>> received_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

/// Stored messages of a bag, per topic, in stored order.
inline std::map<std::string, std::vector<rclcdds_bag::BagMessage>> read_bag(const std::string & dir)
{
  std::map<std::string, std::vector<rclcdds_bag::BagMessage>> out;
  for (const auto & file : rclcdds_bag::open_bag_directory(dir).files) {
    auto reader = rclcdds_bag::storage_of_file(file) == "mcap" ?
      rclcdds_bag::open_mcap_reader(file) : rclcdds_bag::open_sqlite_reader(file);
    rclcdds_bag::BagMessage m;
    while (reader->next(m)) {
      out[reader->topics()[m.topic].name].push_back(m);
    }
  }
  return out;
}

double percentile(std::vector<double> values, double p)
{
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5))];
}

/// rclcdds_cli run to completion: its exit code and output.
std::pair<int, std::string> cli(const std::vector<std::string> & words)
{
  std::vector<std::string> argv{RCLCDDS_CLI};
  argv.insert(argv.end(), words.begin(), words.end());
  ChildProcess process(argv);
  const int code = process.wait(60s);
  return {code, process.output()};
}

/// An rgb8 image of `width` x `height` pixels, all bytes `i`, from frame "camera_<i>".
sensor_msgs::msg::Image image(int i, uint32_t width, uint32_t height)
{
  sensor_msgs::msg::Image image;
  image.header.frame_id = "camera_" + std::to_string(i);
  image.width = width;
  image.height = height;
  image.encoding = "rgb8";
  image.step = 3 * width;
  image.data.assign(size_t{image.step} * height, static_cast<uint8_t>(i));
  return image;
}

/// Runs test/bag/interop/bag_interop.js, which must succeed; its output lines.
std::vector<std::string> node(const std::vector<std::string> & args)
{
  std::vector<std::string> argv = {"/usr/bin/env", "node", BAG_INTEROP_DIR "/bag_interop.js"};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess process(argv);
  EXPECT_EQ(process.wait(60s), 0) << process.output();
  return process.lines_starting_with("");
}

class BagProcessesTest : public rclcdds_test::NodeTest
{
protected:
  /// Publishes `count` images (best effort) and strings (reliable) at 40 Hz while a recorder
  /// runs, and returns the payloads sent per topic.
  std::map<std::string, std::vector<std::vector<uint8_t>>> record(
    const std::string & dir, const std::vector<std::string> & extra, int count)
  {
    rclcdds::RawWriter image_writer(context_, rclcdds::topic_endpoint_description(
        kImageTopic, rclcdds::get_message_members<sensor_msgs::msg::Image>(),
        rclcdds::QoS(5).best_effort()));
    rclcdds::RawWriter chatter_writer(context_, rclcdds::topic_endpoint_description(
        kChatterTopic, rclcdds::get_message_members<std_msgs::msg::String>(), rclcdds::QoS(10)));
    std::vector<std::string> argv = {RCLCDDS_CLI, "bag", "record", "-o", dir, kImageTopic,
      kChatterTopic, "--settle", "0.5"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    ChildProcess recorder(argv);
    EXPECT_TRUE(wait_until([&] {
        return image_writer.matched_subscription_count() > 0 &&
        chatter_writer.matched_subscription_count() > 0;
      }, 10s)) << recorder.output();
    std::this_thread::sleep_for(200ms);
    std::map<std::string, std::vector<std::vector<uint8_t>>> sent;
    for (int i = 0; i < count; ++i) {
      std_msgs::msg::String text;
      text.data = "message " + std::to_string(i);
      for (auto & [writer, topic, payload] : {
          std::make_tuple(&image_writer, kImageTopic, wire_of(image(i, 320, 240))),
          std::make_tuple(&chatter_writer, kChatterTopic, wire_of(text))})
      {
        sent[topic].push_back(payload);
        rclcdds::SerializedMessage copy;
        copy.assign(payload.data(), payload.size());
        writer->write(std::move(copy));
      }
      std::this_thread::sleep_for(25ms);
    }
    std::this_thread::sleep_for(300ms);
    recorder.signal(SIGINT);
    EXPECT_EQ(recorder.wait(15s), 0) << recorder.output();
    return sent;
  }

  /// Plays `dir` at `rate` (with `extra` options); checks every stored message arrives
  /// byte-identical in stored order per topic, prints the timing figures and returns what
  /// arrived on /clock.
  std::vector<Received> play_and_compare(
    const std::string & dir, const std::string & label, double rate,
    const std::vector<std::string> & extra = {})
  {
    const auto stored = read_bag(dir);
    Receiver receiver(context_, {
        {kImageTopic, &rclcdds::get_message_members<sensor_msgs::msg::Image>()},
        {kChatterTopic, &rclcdds::get_message_members<std_msgs::msg::String>()},
        {"/clock", &rclcdds::get_message_members<rosgraph_msgs::msg::Clock>()}});
    std::vector<std::string> words = {"bag", "play", dir, "--rate", std::to_string(rate),
      "--delay", "1.0"};
    words.insert(words.end(), extra.begin(), extra.end());
    const auto [code, output] = cli(words);
    EXPECT_EQ(code, 0) << output;
    std::this_thread::sleep_for(200ms);
    auto received = receiver.received();
    // The receiver cannot see when the player started: the start that fits best (the median
    // of received minus recorded offsets, which absorbs any common zero) anchors the times.
    const int64_t zero = stored.begin()->second.front().time_ns;
    std::vector<double> differences_ms;
    const auto origin = std::chrono::steady_clock::now();
    for (const auto & [topic, messages] : stored) {
      const auto & got = received[topic];
      EXPECT_EQ(got.size(), messages.size()) << label << " " << topic << "\n" << output;
      for (size_t i = 0; i < std::min(got.size(), messages.size()); ++i) {
        EXPECT_EQ(got[i].data, messages[i].data) << label << " " << topic << " message " << i;
        const double expected = static_cast<double>(messages[i].time_ns - zero) / 1e6 / rate;
        differences_ms.push_back(
          std::chrono::duration<double, std::milli>(got[i].when - origin).count() - expected);
      }
    }
    const double start = percentile(differences_ms, 0.5);
    std::vector<double> errors_ms;
    for (double difference : differences_ms) {
      errors_ms.push_back(std::abs(difference - start));
    }
    std::printf(
      "[ FIGURE ] playback timing %s rate %g: %zu messages, |error| median %.3f ms, p95 %.3f ms, "
      "max %.3f ms\n", label.c_str(), rate, errors_ms.size(), percentile(errors_ms, 0.5),
      percentile(errors_ms, 0.95), percentile(errors_ms, 1.0));
    // Loose enough for a loaded machine; a wrong rate drifts by a large part of the bag's span.
    EXPECT_LT(percentile(errors_ms, 0.5), 100.0) << label << ": the bag's timing is not kept";
    return received["/clock"];
  }
};

// One recording per storage format: stored as sent, described by metadata.yaml and info, played
// back byte-identical; the MCAP bag also with /clock and then cut off.
TEST_F(BagProcessesTest, RecordsAndPlaysBackByteIdenticalInBothFormats)
{
  for (const std::string storage : {"sqlite3", "mcap"}) {
    SCOPED_TRACE(storage);
    const std::string dir = temp_dir() + "/bag";
    const bool mcap = storage == "mcap";
    const auto sent = record(dir, mcap ? std::vector<std::string>{"--storage", "mcap",
        "--compression", "zstd"} : std::vector<std::string>{"--storage", "sqlite3"}, 40);
    const auto stored = read_bag(dir);
    ASSERT_EQ(stored.size(), sent.size());
    for (const auto & [topic, payloads] : sent) {
      ASSERT_EQ(stored.at(topic).size(), payloads.size()) << topic;
      for (size_t i = 0; i < payloads.size(); ++i) {
        ASSERT_EQ(stored.at(topic)[i].data, payloads[i]) << topic << " " << i;
      }
    }
    const auto bag = rclcdds_bag::open_bag_directory(dir);
    ASSERT_TRUE(bag.has_metadata_file);
    for (const auto & topic : bag.metadata.topics) {
      EXPECT_EQ(topic.message_count, 40u) << topic.topic.name;
      const auto qos = rclcdds_bag::qos_profiles_from_yaml(topic.topic.offered_qos_profiles);
      ASSERT_EQ(qos.size(), 1u) << topic.topic.name;
      EXPECT_EQ(qos[0].reliability, topic.topic.name == kImageTopic ? 2 : 1) << topic.topic.name;
    }
    const auto [code, info] = cli({"bag", "info", dir});
    ASSERT_EQ(code, 0) << info;
    EXPECT_NE(info.find("Storage id:        " + storage), std::string::npos) << info;
    EXPECT_NE(info.find("Messages:          80"), std::string::npos) << info;
    EXPECT_NE(info.find("Topic: /bagtest/image | Type: sensor_msgs/msg/Image | Count: 40"),
      std::string::npos) << info;
    if (!mcap) {
      play_and_compare(dir, storage, 1.0);
      continue;
    }
    // /clock follows bag time, also at twice the speed.
    std::vector<int64_t> times;
    for (const auto & sample : play_and_compare(dir, storage, 2.0, {"--clock", "100"})) {
      const auto clock = deserialize<rosgraph_msgs::msg::Clock>(sample.data).clock;
      times.push_back(int64_t{clock.sec} * 1000000000 + clock.nanosec);
    }
    ASSERT_GE(times.size(), 20u) << "about 100 Hz over about 0.5 s";
    for (size_t i = 1; i < times.size(); ++i) {
      EXPECT_GE(times[i], times[i - 1]) << "clock went backwards at " << i;
    }
    EXPECT_GE(times.front(), bag.metadata.start_ns);
    EXPECT_LE(times.back(), bag.metadata.start_ns + bag.metadata.duration_ns + 100000000);
    // Cut off: what is readable plays, and where it stopped is said.
    ASSERT_EQ(bag.files.size(), 1u);
    std::filesystem::resize_file(bag.files[0], std::filesystem::file_size(bag.files[0]) * 2 / 3);
    const auto [cut_code, cut_output] = cli({"bag", "play", dir, "--rate", "4", "--delay", "0.2"});
    EXPECT_EQ(cut_code, 0) << cut_output;
    EXPECT_NE(cut_output.find("cut off"), std::string::npos) << cut_output;
  }
}

TEST_F(BagProcessesTest, BadBagsSayWhatIsWrongAndPlayWhatTheyCan)
{
  // An empty directory: one line, non-zero exit.
  const auto [empty_code, empty_output] = cli({"bag", "play", temp_dir(), "--delay", "0"});
  EXPECT_EQ(empty_code, 1) << empty_output;
  EXPECT_NE(empty_output.find("no .db3 or .mcap"), std::string::npos) << empty_output;
  // A topic whose type is not installed beside one that is: the other still plays. (The bag has
  // no metadata.yaml, which is said; Humble's layout without it is read in test_bag_storage.)
  const std::string mixed = temp_dir();
  auto writer = rclcdds_bag::open_mcap_writer(mixed + "/mixed_0.mcap");
  const size_t unknown =
    writer->add_topic({"/bagtest/unknown", "nonexistent_pkg/msg/Nope", "cdr", "", ""});
  const size_t known = writer->add_topic({"/chatter", "std_msgs/msg/String", "cdr", "", ""});
  const std::vector<uint8_t> hello = {0, 1, 0, 0, 6, 0, 0, 0, 'h', 'e', 'l', 'l', 'o', 0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    writer->write(unknown, 1000000000 + i * 10000000, hello.data(), hello.size());
    writer->write(known, 1000000000 + i * 10000000 + 1, hello.data(), hello.size());
  }
  writer->close();
  Receiver receiver(
    context_, {{"/chatter", &rclcdds::get_message_members<std_msgs::msg::String>()}});
  const auto [code, output] = cli({"bag", "play", mixed, "--delay", "1.0"});
  ASSERT_EQ(code, 0) << output;
  EXPECT_NE(output.find("'nonexistent_pkg/msg/Nope' cannot be loaded"), std::string::npos)
    << output;
  EXPECT_NE(output.find("no metadata.yaml"), std::string::npos) << output;
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(receiver.received()["/chatter"].size(), 3u) << output;
}

TEST_F(BagProcessesTest, IndependentImplementationsReadOurBagsAndWePlayTheirs)
{
  ASSERT_TRUE(std::filesystem::exists(BAG_INTEROP_DIR "/node_modules/@mcap/core")) <<
    "npm packages missing: run scripts/setup.sh";
  struct Case
  {
    const char * label;
    bool sqlite;
    rclcdds_bag::McapOptions options;
    const char * reader_line;  ///< which @mcap/core reader ran (none for sqlite)
  };
  const Case cases[] = {
    {"sqlite3", true, {}, nullptr},
    {"mcap zstd with summary", false, {"zstd", 2000}, "reader indexed"},
    {"mcap lz4 without summary", false, {"lz4", 2000, false}, "reader stream"},
    {"mcap unchunked", false, {"", 0}, "reader stream"},
  };
  const std::vector<std::pair<std::string, std::string>> topics = {
    {"/chatter", "std_msgs/msg/String"}, {"/camera/image", "sensor_msgs/msg/Image"},
    {"/cmd", "geometry_msgs/msg/Vector3"}};
  for (const auto & c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = temp_dir() + (c.sqlite ? "/ours_0.db3" : "/ours_0.mcap");
    auto writer = c.sqlite ? rclcdds_bag::open_sqlite_writer(path) :
      rclcdds_bag::open_mcap_writer(path, c.options);
    std::vector<size_t> index;
    for (const auto & [name, type] : topics) {
      rclcdds_bag::TopicInfo info{name, type, "cdr",
        rclcdds_bag::qos_profiles_to_yaml({{3, 0, 1, 2}}), rclcdds_bag::message_definition(type)};
      ASSERT_FALSE(info.definition.empty()) << type << ": its .msg file was not found";
      index.push_back(writer->add_topic(info));
    }
    // Each message written, and the line the reader prints for it.
    std::vector<std::string> expected;
    int64_t time = 1700000000000000000;
    const auto write = [&](size_t topic, const std::vector<uint8_t> & bytes,
      const std::string & summary) {
        writer->write(index[topic], time, bytes.data(), bytes.size());
        expected.push_back("{\"topic\":\"" + topics[topic].first + "\",\"type\":\"" +
          topics[topic].second + "\",\"time\":\"" + std::to_string(time) + "\",\"summary\":\"" +
          summary + "\"}");
        time += 1000000;
      };
    for (int i = 0; i < 5; ++i) {
      std_msgs::msg::String text;
      text.data = "text " + std::to_string(i);
      write(0, wire_of(text), text.data);
      write(1, wire_of(image(i, 4, 2)), "4x2 rgb8 camera_" + std::to_string(i) + " 24");
      geometry_msgs::msg::Vector3 vector;
      vector.x = i;
      vector.y = 0.5;
      vector.z = -i;
      write(2, wire_of(vector), std::to_string(i) + " 0.5 " + std::to_string(-i));
    }
    writer->close();
    if (c.reader_line != nullptr) {
      expected.push_back(c.reader_line);
    }
    expected.push_back("total 15");
    EXPECT_EQ(node({c.sqlite ? "read-db3" : "read-mcap", path}), expected);
  }

  // MCAP files @mcap/core writes (lz4 chunks and a summary, or plain chunks without one): every
  // message of both topics is played, in order.
  for (const std::string summary : {"summary", "nosummary"}) {
    SCOPED_TRACE(summary);
    const std::string dir = temp_dir();
    node({"write-mcap", dir + "/js_0.mcap", summary == "summary" ? "lz4" : "none", summary});
    Receiver receiver(context_, {
        {"/js/chatter", &rclcdds::get_message_members<std_msgs::msg::String>()},
        {"/js/vector", &rclcdds::get_message_members<geometry_msgs::msg::Vector3>()}});
    const auto [code, output] = cli({"bag", "play", dir, "--delay", "1.0"});
    ASSERT_EQ(code, 0) << output;
    std::this_thread::sleep_for(200ms);
    auto got = receiver.received();
    ASSERT_EQ(got["/js/chatter"].size(), 5u) << output;
    ASSERT_EQ(got["/js/vector"].size(), 5u) << output;
    for (size_t i = 0; i < 5; ++i) {
      EXPECT_EQ(deserialize<std_msgs::msg::String>(got["/js/chatter"][i].data).data,
        "js " + std::to_string(i));
      EXPECT_EQ(deserialize<geometry_msgs::msg::Vector3>(got["/js/vector"][i].data).y, i * 0.5);
    }
  }
}

}  // namespace
