// Publish/subscribe between processes over real DDS (run inside scripts/netns.sh). Live delivery
// in order across processes, also of large images, is pinned by test_bag_processes (our writers to
// the recorder, the player to our readers) and test_node_hostile_peers (a node's 10 Hz topic).
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include "child_process.hpp"

using namespace std::chrono_literals;
using rclcdds_test::ChildProcess;

// Images of 600 kB each: a transient local late joiner gets every kept one intact and in order,
// a volatile one gets none of them; SIGINT ends a subscriber's spin promptly, SIGTERM a publisher.
TEST(PubSubProcesses, LateJoinersGetTheKeptImagesOnlyWhenTransientAndSignalsStopBothSides)
{
  const std::string topic = "latched_" + std::to_string(getpid());
  ChildProcess publisher({TRANSPORT_PEER, "publish", topic, "10"});
  ASSERT_TRUE(publisher.wait_for_line("published 10", 10s)) << publisher.output();
  std::this_thread::sleep_for(300ms);  // the images are sent before anyone listens

  ChildProcess late({TRANSPORT_PEER, "subscribe", topic, "10", "transient", "20"});
  EXPECT_EQ(late.wait(30s), 0) << late.output();
  const auto lines = late.lines_starting_with("received ");
  ASSERT_EQ(lines.size(), 10u) << late.output();
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i], "received image " + std::to_string(i) + " intact");
  }

  ChildProcess volatile_late({TRANSPORT_PEER, "subscribe", topic, "1", "default", "60"});
  ASSERT_TRUE(volatile_late.wait_for_line("matched", 10s)) << volatile_late.output();
  std::this_thread::sleep_for(500ms);
  const auto start = std::chrono::steady_clock::now();
  volatile_late.signal(SIGINT);
  EXPECT_EQ(volatile_late.wait(10s), 1) << volatile_late.output();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_FALSE(volatile_late.lines_starting_with("done 0").empty()) << volatile_late.output();

  publisher.signal(SIGTERM);
  EXPECT_EQ(publisher.wait(10s), 0) << publisher.output();
}
