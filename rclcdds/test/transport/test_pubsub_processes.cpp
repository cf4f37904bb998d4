// Publish/subscribe between processes over real DDS (run inside scripts/netns.sh). Live delivery
// in order across processes, also of large images, is pinned by test_bag_processes (our writers to
// the recorder, the player to our readers) and test_node_hostile_peers (a node's 10 Hz topic);
// SIGINT stopping a spin by ExecutorSignals in test_pubsub_local.cpp.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <sensor_msgs/msg/image.hpp>

#include "../node/node_test_fixture.hpp"
#include "child_process.hpp"

using namespace std::chrono_literals;
using rclcdds_test::ChildProcess;
using sensor_msgs::msg::Image;

namespace
{

class PubSubProcesses : public rclcdds_test::NodeTest {};

/// "I intact" when image I carries the peer's bytes for I, else "I CORRUPT".
std::string check(const Image & image)
{
  const auto index = static_cast<size_t>(image.header.stamp.sec);
  bool intact = image.data.size() == 640 * 480 * 2;
  for (size_t i = 0; intact && i < image.data.size(); ++i) {
    intact = image.data[i] == static_cast<uint8_t>(i * 7 + index);
  }
  return std::to_string(image.header.stamp.sec) + (intact ? " intact" : " CORRUPT");
}

}  // namespace

// Images of 600 kB kept by a transient local publisher in another process: a transient local late
// joiner gets every one intact and in order, a volatile one none; SIGTERM stops the publisher.
TEST_F(PubSubProcesses, LateJoinersGetTheKeptImagesOnlyWhenTransientAndSigtermStopsThePublisher)
{
  const std::string topic = unique_name("latched");
  ChildProcess publisher({TRANSPORT_PEER, topic, "10"});
  ASSERT_TRUE(publisher.wait_for_line("published 10", 10s)) << publisher.output();
  std::this_thread::sleep_for(300ms);  // the images are sent before anyone listens

  auto node = std::make_shared<rclcdds::Node>("late_joiners", node_options());
  std::vector<std::string> kept, missed;
  auto transient = node->create_subscription<Image>(
    topic, rclcdds::QoS(10).transient_local(), [&](const Image & m) {kept.push_back(check(m));});
  auto late = node->create_subscription<Image>(
    topic, rclcdds::QoS(10), [&](const Image & m) {missed.push_back(check(m));});
  rclcdds::executors::SingleThreadedExecutor executor(executor_options());
  executor.add_node(node);
  EXPECT_TRUE(wait_until([&] {
      executor.spin_some();
      return kept.size() >= 10 && late->get_publisher_count() > 0;
    }, 20s)) << kept.size();
  std::this_thread::sleep_for(500ms);  // time for kept images to reach the volatile one wrongly
  executor.spin_some();
  std::vector<std::string> expected;
  for (int i = 0; i < 10; ++i) {
    expected.push_back(std::to_string(i) + " intact");
  }
  EXPECT_EQ(kept, expected);
  EXPECT_TRUE(missed.empty());

  publisher.signal(SIGTERM);
  EXPECT_EQ(publisher.wait(10s), 0) << publisher.output();
}
