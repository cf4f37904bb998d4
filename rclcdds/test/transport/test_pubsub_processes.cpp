// Publish/subscribe between processes over real DDS (run inside scripts/netns.sh).
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"

using namespace std::chrono_literals;
using rclcdds_test::ChildProcess;

namespace
{

std::string unique_topic(const std::string & base)
{
  return base + "_" + std::to_string(getpid());
}

/// The "received ..." lines must be exactly `count` lines "received KIND I<suffix>", in order.
void expect_received(const ChildProcess & subscriber, const std::string & kind, size_t count,
  const std::string & suffix = "")
{
  const auto lines = subscriber.lines_starting_with("received ");
  ASSERT_EQ(lines.size(), count) << subscriber.output();
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i], "received " + kind + " " + std::to_string(i) + suffix);
  }
}

}  // namespace

TEST(PubSubProcesses, DefaultQosDeliversStringsInOrderAndLargeImagesIntact)
{
  // Both pairs run at once; the publishers stop on SIGINT and SIGTERM respectively.
  struct Case
  {
    std::string kind;
    size_t count;
    const char * suffix;
    int stop_signal;
  };
  const Case cases[] = {{"message", 20, "", SIGINT}, {"image", 10, " intact", SIGTERM}};
  std::vector<std::unique_ptr<ChildProcess>> subscribers, publishers;
  for (const Case & c : cases) {
    const std::string topic = unique_topic(c.kind);
    const std::string count = std::to_string(c.count);
    auto & subscriber = *subscribers.emplace_back(new ChildProcess(
        {TRANSPORT_PEER, "subscribe", topic, count, "default", c.kind, "40"}));
    ASSERT_TRUE(subscriber.wait_for_line("subscribed", 10s)) << subscriber.output();
    auto & publisher = *publishers.emplace_back(new ChildProcess(
        {TRANSPORT_PEER, "publish", topic, count, "default", c.kind}));
    ASSERT_TRUE(subscriber.wait_for_line("matched", 10s)) << subscriber.output();
    publisher.signal(SIGUSR1);
  }
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].kind);
    EXPECT_EQ(subscribers[i]->wait(40s), 0) << subscribers[i]->output();
    publishers[i]->signal(cases[i].stop_signal);
    EXPECT_EQ(publishers[i]->wait(10s), 0) << publishers[i]->output();
    expect_received(*subscribers[i], cases[i].kind, cases[i].count, cases[i].suffix);
  }
}

TEST(PubSubProcesses, LateJoinersGetTheKeptMessagesOnlyWhenTransientAndSigintStopsASubscriber)
{
  const std::string topic = unique_topic("latched");
  ChildProcess publisher({TRANSPORT_PEER, "publish", topic, "5", "transient", "message"});
  ASSERT_TRUE(publisher.wait_for_line("published 5", 10s)) << publisher.output();
  std::this_thread::sleep_for(300ms);  // the messages are sent before anyone listens

  ChildProcess late({TRANSPORT_PEER, "subscribe", topic, "5", "transient", "message", "15"});
  EXPECT_EQ(late.wait(20s), 0) << late.output();
  expect_received(late, "message", 5);

  // A volatile late joiner gets nothing of the past, and SIGINT ends its spin promptly.
  ChildProcess volatile_late({TRANSPORT_PEER, "subscribe", topic, "1", "default", "message", "60"});
  ASSERT_TRUE(volatile_late.wait_for_line("matched", 10s)) << volatile_late.output();
  std::this_thread::sleep_for(500ms);
  const auto start = std::chrono::steady_clock::now();
  volatile_late.signal(SIGINT);
  EXPECT_EQ(volatile_late.wait(10s), 1) << volatile_late.output();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_FALSE(volatile_late.lines_starting_with("done 0").empty()) << volatile_late.output();

  publisher.signal(SIGINT);
  EXPECT_EQ(publisher.wait(10s), 0) << publisher.output();
}
