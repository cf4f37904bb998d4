// Bags against independent implementations (npm, installed by scripts/setup.sh): ours are read by
// @foxglove/rosbag2-web (sqlite3) and @mcap/core (MCAP) with every message decoded; theirs, and a
// .db3 laid out by sql.js on its own, are read and played by us. Play runs DDS: scripts/netns.sh.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <geometry_msgs/msg/vector3.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <std_msgs/msg/string.hpp>

#include "../node/node_test_fixture.hpp"
#include "../transport/child_process.hpp"
#include "bag_storage.hpp"
#include "bag_test_support.hpp"
#include "message_definition.hpp"

using namespace std::chrono_literals;
using rclcdds_bag_test::deserialize;
using rclcdds_bag_test::mcap_options;
using rclcdds_bag_test::serialize;
using rclcdds_bag_test::temp_dir;
using rclcdds_test::ChildProcess;

namespace
{

const std::string kScript = std::string(BAG_INTEROP_DIR) + "/bag_interop.js";

bool npm_packages_installed()
{
  struct stat info;
  return ::stat((std::string(BAG_INTEROP_DIR) + "/node_modules/@mcap/core").c_str(), &info) == 0;
}

/// Runs the script; its stdout and stderr.
std::string node(const std::vector<std::string> & args, int expected = 0)
{
  std::vector<std::string> argv = {"/usr/bin/env", "node", kScript};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess process(argv);
  EXPECT_EQ(process.wait(60s), expected) << process.output();
  return process.output();
}

std::vector<std::string> lines(const std::string & text)
{
  std::vector<std::string> out;
  std::stringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    out.push_back(line);
  }
  return out;
}

class BagInteropTest : public rclcdds_test::NodeTest
{
protected:
  void SetUp() override
  {
    ASSERT_TRUE(npm_packages_installed()) <<
      "npm packages missing: run scripts/setup.sh (npm install in " BAG_INTEROP_DIR ")";
    rclcdds_test::NodeTest::SetUp();
  }
};

TEST_F(BagInteropTest, BagsWeWriteAreDecodedByIndependentReaders)
{
  struct Case
  {
    const char * label;
    bool sqlite;
    rclcdds_bag::McapOptions options;
    const char * mode;
    const char * reader_line;  ///< which @mcap/core reader ran (none for sqlite)
  };
  const Case cases[] = {
    {"sqlite3", true, {}, "read-db3", nullptr},
    {"mcap zstd with summary", false, mcap_options("zstd", 2000), "read-mcap", "reader indexed"},
    {"mcap lz4 without summary", false, mcap_options("lz4", 2000, false), "read-mcap",
      "reader stream"},
    {"mcap unchunked", false, mcap_options("", 0), "read-mcap", "reader stream"},
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
      write(0, serialize(text), text.data);
      sensor_msgs::msg::Image image;
      image.header.frame_id = "cam_" + std::to_string(i);
      image.width = 4;
      image.height = 2;
      image.encoding = "rgb8";
      image.step = 12;
      image.data.assign(24, static_cast<uint8_t>(i));
      write(1, serialize(image), "4x2 rgb8 cam_" + std::to_string(i) + " 24");
      geometry_msgs::msg::Vector3 vector;
      vector.x = i;
      vector.y = 0.5;
      vector.z = -i;
      write(2, serialize(vector), std::to_string(i) + " 0.5 " + std::to_string(-i));
    }
    writer->close();
    if (c.reader_line != nullptr) {
      expected.push_back(c.reader_line);
    }
    expected.push_back("total 15");
    EXPECT_EQ(lines(node({c.mode, path})), expected);
  }
}

TEST_F(BagInteropTest, BagsTheyWriteAreReadAndPlayedByUs)
{
  struct Case
  {
    const char * label;
    std::vector<std::string> args;
    const char * file;
  };
  const Case cases[] = {
    {"@mcap/core lz4 with summary", {"write-mcap", "", "lz4", "summary"}, "js_0.mcap"},
    {"@mcap/core plain without summary", {"write-mcap", "", "none", "nosummary"}, "js_0.mcap"},
    {"sql.js database in Humble's layout", {"write-db3", ""}, "js_0.db3"},
  };
  for (const auto & c : cases) {
    SCOPED_TRACE(c.label);
    const std::string dir = temp_dir();
    auto args = c.args;
    args[1] = dir + "/" + c.file;
    node(args);
    // Read back through the storage layer.
    const auto stored = rclcdds_bag_test::read_bag(dir);
    ASSERT_EQ(stored.size(), 2u);
    ASSERT_EQ(stored.at("/js/chatter").size(), 5u);
    ASSERT_EQ(stored.at("/js/vector").size(), 5u);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(deserialize<std_msgs::msg::String>(stored.at("/js/chatter")[i].data).data,
        "js " + std::to_string(i));
      EXPECT_EQ(deserialize<geometry_msgs::msg::Vector3>(stored.at("/js/vector")[i].data).y, i * 0.5);
    }
    // And played: every string arrives, in order.
    rclcdds_bag_test::Receiver receiver(context_, {{"/js/chatter",
        &rclcdds::get_message_members<std_msgs::msg::String>()}});
    ChildProcess player({RCLCDDS_CLI, "bag", "play", dir, "--delay", "1.0"});
    ASSERT_EQ(player.wait(30s), 0) << player.output();
    std::this_thread::sleep_for(200ms);
    const auto got = receiver.received()["/js/chatter"];
    ASSERT_EQ(got.size(), 5u) << player.output();
    for (int i = 0; i < 5; ++i) {
      // DDS carries payloads padded with zeros to a multiple of 4 bytes; the JavaScript writer
      // stores them unpadded.
      auto expected = stored.at("/js/chatter")[i].data;
      expected.resize((expected.size() + 3) / 4 * 4, 0);
      EXPECT_EQ(got[i].data, expected);
    }
  }
}

}  // namespace
