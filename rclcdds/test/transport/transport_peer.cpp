// Second process of the publish/subscribe tests.
//   transport_peer publish   TOPIC COUNT QOS [IMAGE]   QOS: default | transient
//   transport_peer subscribe TOPIC COUNT QOS [IMAGE] TIMEOUT_S
// With default QoS the publisher waits for a subscriber and for SIGUSR1 (sent by the test once
// the subscriber has printed "matched", i.e. both sides know each other); with transient QoS it
// publishes at once. It then keeps its writer alive until SIGINT/SIGTERM. The subscriber prints
// "matched" when it sees a publisher, one "received ..." line per message, and exits 0 once COUNT
// arrived, 1 on timeout.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <sensor_msgs/msg/image.hpp>
#include <std_msgs/msg/string.hpp>

#include "rclcdds/context.hpp"
#include "rclcdds/executors.hpp"
#include "rclcdds/node_topics.hpp"

namespace
{

std::atomic_bool g_go{false};

void on_go(int)
{
  g_go = true;
}

rclcdds::QoS qos_of(const std::string & name)
{
  if (name == "transient") {
    return rclcdds::QoS(10).transient_local();
  }
  return rclcdds::QoS(10);
}

/// Deterministic image content so the subscriber can check every byte.
sensor_msgs::msg::Image make_image(int index)
{
  sensor_msgs::msg::Image image;
  image.header.frame_id = "camera";
  image.header.stamp.sec = index;
  image.width = 640;
  image.height = 480;
  image.encoding = "16UC1";
  image.step = 1280;
  image.data.resize(640 * 480 * 2);
  for (size_t i = 0; i < image.data.size(); ++i) {
    image.data[i] = static_cast<uint8_t>((i * 7 + static_cast<size_t>(index)) & 0xff);
  }
  return image;
}

bool image_is_intact(const sensor_msgs::msg::Image & image)
{
  const sensor_msgs::msg::Image expected = make_image(image.header.stamp.sec);
  return image == expected;
}

template<class PublisherT, class MakeT>
int run_publisher(rclcdds::NodeTopics & node, PublisherT publisher, int count, bool wait, MakeT make)
{
  (void)node;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (wait && (publisher->get_subscription_count() == 0 || !g_go) && rclcdds::ok()) {
    if (std::chrono::steady_clock::now() > deadline) {
      std::printf("no subscriber\n");
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (int i = 0; i < count && rclcdds::ok(); ++i) {
    publisher->publish(make(i));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::printf("published %d\n", count);
  std::fflush(stdout);
  while (rclcdds::sleep_for(std::chrono::milliseconds(100))) {
  }
  return 0;
}

}  // namespace

int main(int argc, char ** argv)
{
  if (argc < 5) {
    std::fprintf(stderr, "usage: transport_peer publish|subscribe TOPIC COUNT QOS [image] [TIMEOUT]\n");
    return 2;
  }
  const std::string mode = argv[1];
  const std::string topic = argv[2];
  const int count = std::atoi(argv[3]);
  const rclcdds::QoS qos = qos_of(argv[4]);
  int next = 5;
  const bool image = argc > next && std::strcmp(argv[next], "image") == 0;
  if (image) {
    ++next;
  }
  const double timeout = argc > next ? std::atof(argv[next]) : 20.0;

  std::signal(SIGUSR1, on_go);
  rclcdds::init(argc, argv);
  auto node = std::make_shared<rclcdds::NodeTopics>("transport_peer_" + mode);
  const bool wait_for_subscriber = qos.durability() != rclcdds::DurabilityPolicy::TransientLocal;

  if (mode == "publish") {
    if (image) {
      auto publisher = node->create_publisher<sensor_msgs::msg::Image>(topic, qos);
      return run_publisher(*node, publisher, count, wait_for_subscriber, make_image);
    }
    auto publisher = node->create_publisher<std_msgs::msg::String>(topic, qos);
    return run_publisher(
      *node, publisher, count, wait_for_subscriber, [](int i) {
        std_msgs::msg::String msg;
        msg.data = "message " + std::to_string(i);
        return msg;
      });
  }

  int received = 0;
  rclcdds::SubscriptionBase::SharedPtr subscription;
  if (image) {
    subscription = node->create_subscription<sensor_msgs::msg::Image>(
      topic, qos, [&received](const sensor_msgs::msg::Image & msg) {
        ++received;
        std::printf(
          "received image %d %s\n", msg.header.stamp.sec, image_is_intact(msg) ? "intact" : "CORRUPT");
        std::fflush(stdout);
      });
  } else {
    subscription = node->create_subscription<std_msgs::msg::String>(
      topic, qos, [&received](std_msgs::msg::String::ConstSharedPtr msg) {
        ++received;
        std::printf("received %s\n", msg->data.c_str());
        std::fflush(stdout);
      });
  }
  std::printf("subscribed\n");
  std::fflush(stdout);
  rclcdds::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
  bool matched = false;
  while (rclcdds::ok() && received < count && std::chrono::steady_clock::now() < deadline) {
    executor.spin_once(std::chrono::milliseconds(20));
    if (!matched && subscription->get_publisher_count() > 0) {
      matched = true;
      std::printf("matched\n");
      std::fflush(stdout);
    }
  }
  std::printf("done %d\n", received);
  return received >= count ? 0 : 1;
}
