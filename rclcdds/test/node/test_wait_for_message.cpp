// wait_for_message: a message that arrives during the wait, a timeout, an executor beside it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include <geometry_msgs/msg/twist.hpp>

#include "node_test_fixture.hpp"

using namespace std::chrono_literals;

namespace
{

class WaitForMessageTest : public rclcdds_test::NodeTest
{
};

TEST_F(WaitForMessageTest, ReturnsTheMessagePublishedDuringTheWaitEvenWhileTheNodeIsSpun)
{
  for (const bool spun : {false, true}) {
    SCOPED_TRACE(spun ? "node spun by an executor" : "node not spun");
    auto node = std::make_shared<rclcdds::Node>("wfm_reader", node_options());
    rclcdds::executors::SingleThreadedExecutor executor(executor_options());
    executor.add_node(node);
    // The node's own executor must not steal the message from the temporary subscription.
    std::unique_ptr<rclcdds_test::SpinThread> spin;
    if (spun) {
      spin = std::make_unique<rclcdds_test::SpinThread>(executor);
    }
    auto talker = std::make_shared<rclcdds::Node>("wfm_talker", node_options());
    const std::string topic = unique_name(spun ? "spun_topic" : "cmd_vel");
    auto publisher = talker->create_publisher<geometry_msgs::msg::Twist>(topic, rclcdds::QoS(10));
    std::atomic_bool stop{false};
    std::thread sender([&] {
        geometry_msgs::msg::Twist twist;
        twist.angular.z = spun ? -1.5 : 0.75;
        // Keeps publishing until the temporary subscription has matched and taken one.
        while (!stop) {
          publisher->publish(twist);
          std::this_thread::sleep_for(10ms);
        }
      });
    geometry_msgs::msg::Twist received;
    const bool got = rclcdds::wait_for_message(received, node, topic, 5s);
    stop = true;
    sender.join();
    ASSERT_TRUE(got);
    EXPECT_DOUBLE_EQ(received.angular.z, spun ? -1.5 : 0.75);
  }
}

TEST_F(WaitForMessageTest, TimesOutWithFalseAfterTheTimeout)
{
  auto node = std::make_shared<rclcdds::Node>("wfm_timeout", node_options());
  geometry_msgs::msg::Twist received;
  received.linear.x = 3.0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(rclcdds::wait_for_message(received, node, unique_name("silent"), 100ms));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 100ms);
  EXPECT_LT(elapsed, 2s);
  EXPECT_DOUBLE_EQ(received.linear.x, 3.0);  // untouched
}

TEST_F(WaitForMessageTest, ShutdownEndsAnEndlessWait)
{
  auto node = std::make_shared<rclcdds::Node>("wfm_shutdown", node_options());
  std::thread stopper([this] {
      std::this_thread::sleep_for(100ms);
      context_->shutdown("stop");
    });
  geometry_msgs::msg::Twist received;
  EXPECT_FALSE(rclcdds::wait_for_message(received, node, unique_name("never"), -1s));
  stopper.join();
}

}  // namespace
