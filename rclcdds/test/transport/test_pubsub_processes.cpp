// Publish/subscribe between two processes over real DDS (run inside scripts/netns.sh).
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"

using namespace std::chrono_literals;
using rclcdds_test::ChildProcess;

namespace
{

std::string unique_topic(const char * base)
{
  return std::string(base) + "_" + std::to_string(getpid());
}

}  // namespace

TEST(PubSubProcesses, DefaultQosDeliversEveryMessageInOrder)
{
  const std::string topic = unique_topic("chatter");
  ChildProcess subscriber({TRANSPORT_PEER, "subscribe", topic, "20", "default", "20"});
  ASSERT_TRUE(subscriber.wait_for_line("subscribed", 10s)) << subscriber.output();
  ChildProcess publisher({TRANSPORT_PEER, "publish", topic, "20", "default"});
  ASSERT_TRUE(subscriber.wait_for_line("matched", 10s)) << subscriber.output();
  publisher.signal(SIGUSR1);
  EXPECT_EQ(subscriber.wait(30s), 0) << subscriber.output();
  publisher.signal(SIGINT);
  EXPECT_EQ(publisher.wait(10s), 0) << publisher.output();

  const auto lines = subscriber.lines_starting_with("received ");
  ASSERT_EQ(lines.size(), 20u) << subscriber.output();
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i], "received message " + std::to_string(i));
  }
}

TEST(PubSubProcesses, LargeImagesArriveIntact)
{
  const std::string topic = unique_topic("depth");
  ChildProcess subscriber({TRANSPORT_PEER, "subscribe", topic, "10", "default", "image", "30"});
  ASSERT_TRUE(subscriber.wait_for_line("subscribed", 10s)) << subscriber.output();
  ChildProcess publisher({TRANSPORT_PEER, "publish", topic, "10", "default", "image"});
  ASSERT_TRUE(subscriber.wait_for_line("matched", 10s)) << subscriber.output();
  publisher.signal(SIGUSR1);
  EXPECT_EQ(subscriber.wait(40s), 0) << subscriber.output();
  publisher.signal(SIGTERM);
  EXPECT_EQ(publisher.wait(10s), 0) << publisher.output();
  const auto lines = subscriber.lines_starting_with("received image");
  ASSERT_EQ(lines.size(), 10u) << subscriber.output();
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i], "received image " + std::to_string(i) + " intact");
  }
}

TEST(PubSubProcesses, TransientLocalLateJoinerGetsTheKeptMessages)
{
  const std::string topic = unique_topic("latched");
  ChildProcess publisher({TRANSPORT_PEER, "publish", topic, "5", "transient"});
  ASSERT_TRUE(publisher.wait_for_line("published 5", 10s)) << publisher.output();
  std::this_thread::sleep_for(300ms);  // the messages are sent before anyone listens

  ChildProcess late({TRANSPORT_PEER, "subscribe", topic, "5", "transient", "15"});
  EXPECT_EQ(late.wait(20s), 0) << late.output();
  const auto lines = late.lines_starting_with("received ");
  ASSERT_EQ(lines.size(), 5u) << late.output();
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i], "received message " + std::to_string(i));
  }

  // A volatile late joiner gets nothing of the past.
  ChildProcess volatile_late({TRANSPORT_PEER, "subscribe", topic, "1", "default", "2"});
  EXPECT_EQ(volatile_late.wait(10s), 1) << volatile_late.output();
  EXPECT_TRUE(volatile_late.lines_starting_with("received ").empty()) << volatile_late.output();

  publisher.signal(SIGINT);
  EXPECT_EQ(publisher.wait(10s), 0) << publisher.output();
}

TEST(PubSubProcesses, SigintStopsASpinningSubscriber)
{
  const std::string topic = unique_topic("idle");
  ChildProcess subscriber({TRANSPORT_PEER, "subscribe", topic, "1", "default", "60"});
  ASSERT_TRUE(subscriber.wait_for_line("subscribed", 10s)) << subscriber.output();
  const auto start = std::chrono::steady_clock::now();
  subscriber.signal(SIGINT);
  EXPECT_EQ(subscriber.wait(10s), 1) << subscriber.output();  // stopped before its one message
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_FALSE(subscriber.lines_starting_with("done 0").empty()) << subscriber.output();
}
