// rclcdds_cli bag record / play / info as separate processes against publishers and readers of
// this test (run inside scripts/netns.sh). Prints how far playback times fall from the recorded
// offsets: a figure, not a pass/fail limit.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <rosgraph_msgs/msg/clock.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <std_msgs/msg/string.hpp>

#include "../node/node_test_fixture.hpp"
#include "../transport/child_process.hpp"
#include "bag_storage.hpp"
#include "bag_test_support.hpp"
#include "rclcdds/raw_reader.hpp"
#include "rclcdds/raw_writer.hpp"
#include "rclcdds/serialization.hpp"

using namespace std::chrono_literals;
using rclcdds_test::ChildProcess;
using rclcdds_bag_test::Receiver;
using rclcdds_bag_test::read_bag;
using rclcdds_bag_test::temp_dir;
using SteadyClock = std::chrono::steady_clock;

namespace
{

const char kImageTopic[] = "/bagtest/image";
const char kChatterTopic[] = "/bagtest/chatter";

double percentile(std::vector<double> values, double p)
{
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  const size_t i = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
  return values[i];
}

class BagProcessesTest : public rclcdds_test::NodeTest
{
protected:
  static std::vector<std::pair<std::string, const rclcdds::MessageMembers *>> test_topics()
  {
    return {{kImageTopic, &rclcdds::get_message_members<sensor_msgs::msg::Image>()},
      {kChatterTopic, &rclcdds::get_message_members<std_msgs::msg::String>()}};
  }

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
      sensor_msgs::msg::Image image;
      image.header.frame_id = "camera_" + std::to_string(i);
      image.width = 320;
      image.height = 240;
      image.encoding = "rgb8";
      image.step = 960;
      image.data.resize(960 * 240);
      for (size_t j = 0; j < image.data.size(); j += 97) {
        image.data[j] = static_cast<uint8_t>(i + j);
      }
      std_msgs::msg::String text;
      text.data = "message " + std::to_string(i);
      for (auto & [writer, topic, payload] : {
          std::make_tuple(&image_writer, kImageTopic, serialize(image)),
          std::make_tuple(&chatter_writer, kChatterTopic, serialize(text))})
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

  template<class T>
  static std::vector<uint8_t> serialize(const T & message)
  {
    rclcdds::SerializedMessage out;
    rclcdds::serialize_message(rclcdds::get_message_members<T>(), &message, out);
    return std::vector<uint8_t>(out.data(), out.data() + out.size());
  }

  /// Plays `dir` at `rate` into a receiver; checks every stored message arrives byte-identical
  /// in stored order per topic and prints the timing figures.
  void play_and_compare(const std::string & dir, const std::string & label, double rate)
  {
    const auto stored = read_bag(dir);
    Receiver receiver(context_, test_topics());
    char rate_text[32];
    std::snprintf(rate_text, sizeof(rate_text), "%g", rate);
    ChildProcess player({RCLCDDS_CLI, "bag", "play", dir, "--rate", rate_text, "--delay", "1.0"});
    ASSERT_EQ(player.wait(60s), 0) << player.output();
    std::this_thread::sleep_for(200ms);
    const auto received = receiver.received();
    // The receiver cannot see when the player started: the start that fits best (the median
    // of received minus recorded offsets) anchors the receive times.
    int64_t first_stored = INT64_MAX;
    for (const auto & [topic, messages] : stored) {
      first_stored = std::min(first_stored, messages.front().time_ns);
    }
    std::vector<double> differences_ms;
    const SteadyClock::time_point origin = SteadyClock::now();
    for (const auto & [topic, messages] : stored) {
      auto it = received.find(topic);
      ASSERT_NE(it, received.end()) << topic << " never arrived\n" << player.output();
      ASSERT_EQ(it->second.size(), messages.size()) << topic << "\n" << player.output();
      for (size_t i = 0; i < messages.size(); ++i) {
        ASSERT_EQ(it->second[i].data, messages[i].data) << topic << " message " << i;
        const double expected = static_cast<double>(messages[i].time_ns - first_stored) / rate / 1e6;
        const double actual =
          std::chrono::duration<double, std::milli>(it->second[i].when - origin).count();
        differences_ms.push_back(actual - expected);
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
  }
};

TEST_F(BagProcessesTest, RecordsAndPlaysBackByteIdenticalInBothFormats)
{
  struct Case
  {
    const char * label;
    std::vector<std::string> options;
  };
  const Case cases[] = {
    {"sqlite3", {"--storage", "sqlite3"}},
    {"mcap_zstd", {"--storage", "mcap", "--compression", "zstd"}},
  };
  for (const auto & c : cases) {
    const std::string dir = temp_dir() + "/bag";
    const auto sent = record(dir, c.options, 40);
    // What was stored is what was sent, byte for byte, in order.
    const auto stored = read_bag(dir);
    for (const auto & [topic, payloads] : sent) {
      ASSERT_EQ(stored.count(topic), 1u) << c.label << " " << topic;
      ASSERT_EQ(stored.at(topic).size(), payloads.size()) << c.label << " " << topic;
      for (size_t i = 0; i < payloads.size(); ++i) {
        ASSERT_EQ(stored.at(topic)[i].data, payloads[i]) << c.label << " " << topic << " " << i;
      }
    }
    const auto bag = rclcdds_bag::open_bag_directory(dir);
    ASSERT_TRUE(bag.has_metadata_file) << c.label;
    EXPECT_EQ(bag.metadata.version, 5);
    EXPECT_EQ(bag.metadata.message_count, 80u) << c.label;
    EXPECT_EQ(bag.metadata.storage_identifier, c.options[1]);
    for (const auto & topic : bag.metadata.topics) {
      EXPECT_EQ(topic.message_count, 40u) << topic.topic.name;
      const auto qos = rclcdds_bag::qos_profiles_from_yaml(topic.topic.offered_qos_profiles);
      ASSERT_EQ(qos.size(), 1u) << topic.topic.name;
      EXPECT_EQ(qos[0].reliability, topic.topic.name == kImageTopic ? 2 : 1) << topic.topic.name;
    }
    ChildProcess info({RCLCDDS_CLI, "bag", "info", dir});
    ASSERT_EQ(info.wait(20s), 0) << info.output();
    EXPECT_NE(info.output().find("Messages:          80"), std::string::npos) << info.output();
    EXPECT_NE(info.output().find("Topic: /bagtest/image | Type: sensor_msgs/msg/Image | Count: 40"),
      std::string::npos) << info.output();

    play_and_compare(dir, c.label, 1.0);
    play_and_compare(dir, c.label, 2.0);
  }
}

TEST_F(BagProcessesTest, ClockFollowsBagTime)
{
  const std::string dir = temp_dir() + "/bag";
  record(dir, {}, 20);
  const auto bag = rclcdds_bag::open_bag_directory(dir);
  rclcdds::RawReader clock_reader(context_, rclcdds::topic_endpoint_description(
      "/clock", rclcdds::get_message_members<rosgraph_msgs::msg::Clock>(),
      rclcdds::QoS(100).best_effort()));
  ChildProcess player({RCLCDDS_CLI, "bag", "play", dir, "--clock", "100", "--delay", "1.0"});
  std::vector<int64_t> times;
  const auto deadline = SteadyClock::now() + 30s;
  bool exited = false;
  while (!exited && SteadyClock::now() < deadline) {
    clock_reader.take([&](const uint8_t * data, size_t size, const rclcdds::SampleInfo &) {
        rosgraph_msgs::msg::Clock clock;
        std::string error;
        ASSERT_TRUE(rclcdds::deserialize_message(
            rclcdds::get_message_members<rosgraph_msgs::msg::Clock>(), data, size, &clock, nullptr,
            &error)) << error;
        times.push_back(int64_t{clock.clock.sec} * 1000000000 + clock.clock.nanosec);
      });
    std::this_thread::sleep_for(1ms);
    exited = player.output().find("Played ") != std::string::npos;
  }
  EXPECT_EQ(player.wait(10s), 0) << player.output();
  ASSERT_GE(times.size(), 20u) << "about 100 Hz over a bag of about 0.8 s";
  for (size_t i = 1; i < times.size(); ++i) {
    EXPECT_GE(times[i], times[i - 1]) << "clock went backwards at " << i;
  }
  EXPECT_GE(times.front(), bag.metadata.start_ns);
  EXPECT_LE(times.back(), bag.metadata.start_ns + bag.metadata.duration_ns + 100000000);
}

TEST_F(BagProcessesTest, BadBagsSayWhatIsWrongAndPlayWhatTheyCan)
{
  // A Humble-layout database made by SQL, without metadata.yaml: played with a note.
  const std::string humble = temp_dir();
  const std::string make = "sqlite3 " + humble + "/humble_0.db3 < " BAG_TEST_DATA "/humble_bag.sql";
  ASSERT_EQ(std::system(make.c_str()), 0);
  {
    Receiver receiver(context_, {{"/chatter", &rclcdds::get_message_members<std_msgs::msg::String>()}});
    ChildProcess player({RCLCDDS_CLI, "bag", "play", humble, "--delay", "1.0"});
    ASSERT_EQ(player.wait(30s), 0) << player.output();
    EXPECT_NE(player.output().find("no metadata.yaml"), std::string::npos) << player.output();
    std::this_thread::sleep_for(200ms);
    const auto got = receiver.received()["/chatter"];
    ASSERT_EQ(got.size(), 2u) << player.output();
    std_msgs::msg::String text;
    ASSERT_TRUE(rclcdds::deserialize_message(
        rclcdds::get_message_members<std_msgs::msg::String>(), got[1].data.data(), got[1].data.size(),
        &text, nullptr, nullptr));
    EXPECT_EQ(text.data, "world!");
    ChildProcess info({RCLCDDS_CLI, "bag", "info", humble});
    ASSERT_EQ(info.wait(20s), 0) << info.output();
    EXPECT_NE(info.output().find("Messages:          4"), std::string::npos) << info.output();
  }
  // An empty directory: one line, non-zero exit.
  {
    ChildProcess player({RCLCDDS_CLI, "bag", "play", temp_dir(), "--delay", "0"});
    EXPECT_EQ(player.wait(20s), 1) << player.output();
    EXPECT_NE(player.output().find("no .db3 or .mcap"), std::string::npos) << player.output();
  }
  // A topic whose type is not installed beside one that is: the other still plays.
  const std::string mixed = temp_dir();
  {
    auto writer = rclcdds_bag::open_mcap_writer(mixed + "/mixed_0.mcap");
    const size_t unknown = writer->add_topic({"/bagtest/unknown", "nonexistent_pkg/msg/Nope", "cdr", "", ""});
    const size_t known = writer->add_topic({"/chatter", "std_msgs/msg/String", "cdr", "", ""});
    const std::vector<uint8_t> hello = {0, 1, 0, 0, 6, 0, 0, 0, 'h', 'e', 'l', 'l', 'o', 0, 0, 0};
    for (int i = 0; i < 3; ++i) {
      writer->write(unknown, 1000000000 + i * 10000000, hello.data(), hello.size());
      writer->write(known, 1000000000 + i * 10000000 + 1, hello.data(), hello.size());
    }
    writer->close();
    Receiver receiver(context_, {{"/chatter", &rclcdds::get_message_members<std_msgs::msg::String>()}});
    ChildProcess player({RCLCDDS_CLI, "bag", "play", mixed, "--delay", "1.0"});
    ASSERT_EQ(player.wait(30s), 0) << player.output();
    EXPECT_NE(player.output().find("'nonexistent_pkg/msg/Nope' cannot be loaded"), std::string::npos)
      << player.output();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(receiver.received()["/chatter"].size(), 3u) << player.output();
  }
  // A cut-off MCAP file: what is readable plays, and where it stopped is said.
  {
    const std::string dir = temp_dir() + "/bag";
    record(dir, {"--storage", "mcap"}, 20);
    const auto bag = rclcdds_bag::open_bag_directory(dir);
    ASSERT_EQ(bag.files.size(), 1u);
    std::ifstream in(bag.files[0], std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    in.close();
    std::ofstream(bag.files[0], std::ios::binary | std::ios::trunc).write(
      bytes.data(), static_cast<std::streamsize>(bytes.size() * 2 / 3));
    ChildProcess player({RCLCDDS_CLI, "bag", "play", dir, "--rate", "4", "--delay", "0.2"});
    EXPECT_EQ(player.wait(30s), 0) << player.output();
    EXPECT_NE(player.output().find("cut off"), std::string::npos) << player.output();
  }
}

}  // namespace
