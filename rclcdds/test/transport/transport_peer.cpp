// Second process of the publish/subscribe tests.
//   transport_peer publish   TOPIC COUNT QOS KIND
//   transport_peer subscribe TOPIC COUNT QOS KIND [TIMEOUT_S]
// QOS: default | transient; KIND: message (std_msgs/String "message I") | image (640x480 16UC1
// whose bytes depend on I). With default QoS the publisher waits for a subscriber and for SIGUSR1
// (sent by the test once the subscriber has printed "matched", i.e. both sides know each other);
// with transient QoS it publishes at once. It then keeps its writer alive until SIGINT/SIGTERM.
// The subscriber prints "matched" when it sees a publisher, "received message I" or "received
// image I intact|CORRUPT" per message and "done N" at the end; it exits 0 once COUNT arrived, 1
// on timeout or signal.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

void say(const std::string & line)
{
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std_msgs::msg::String make_string(int index)
{
  std_msgs::msg::String msg;
  msg.data = "message " + std::to_string(index);
  return msg;
}

template<class MessageT>
int publish(rclcdds::NodeTopics & node, const std::string & topic, int count, rclcdds::QoS qos,
  MessageT (*make)(int))
{
  auto publisher = node.create_publisher<MessageT>(topic, qos);
  const bool wait = qos.durability() != rclcdds::DurabilityPolicy::TransientLocal;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (wait && (publisher->get_subscription_count() == 0 || !g_go) && rclcdds::ok()) {
    if (std::chrono::steady_clock::now() > deadline) {
      say("no subscriber");
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (int i = 0; i < count && rclcdds::ok(); ++i) {
    publisher->publish(make(i));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  say("published " + std::to_string(count));
  while (rclcdds::sleep_for(std::chrono::milliseconds(100))) {
  }
  return 0;
}

}  // namespace

int main(int argc, char ** argv)
{
  if (argc < 6) {
    std::fprintf(stderr, "usage: transport_peer publish|subscribe TOPIC COUNT QOS KIND [TIMEOUT]\n");
    return 2;
  }
  const std::string mode = argv[1];
  const std::string topic = argv[2];
  const int count = std::atoi(argv[3]);
  const rclcdds::QoS qos =
    std::string(argv[4]) == "transient" ? rclcdds::QoS(10).transient_local() : rclcdds::QoS(10);
  const bool image = std::string(argv[5]) == "image";
  const double timeout = argc > 6 ? std::atof(argv[6]) : 20.0;

  std::signal(SIGUSR1, on_go);
  rclcdds::init(argc, argv);
  auto node = std::make_shared<rclcdds::NodeTopics>("transport_peer_" + mode);
  if (mode == "publish") {
    return image ? publish(*node, topic, count, qos, make_image) :
           publish(*node, topic, count, qos, make_string);
  }

  int received = 0;
  rclcdds::SubscriptionBase::SharedPtr subscription;
  if (image) {
    subscription = node->create_subscription<sensor_msgs::msg::Image>(
      topic, qos, [&received](const sensor_msgs::msg::Image & msg) {
        ++received;
        const bool intact = msg == make_image(msg.header.stamp.sec);
        say("received image " + std::to_string(msg.header.stamp.sec) +
        (intact ? " intact" : " CORRUPT"));
      });
  } else {
    subscription = node->create_subscription<std_msgs::msg::String>(
      topic, qos, [&received](std_msgs::msg::String::ConstSharedPtr msg) {
        ++received;
        say("received " + msg->data);
      });
  }
  say("subscribed");
  rclcdds::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
  bool matched = false;
  while (rclcdds::ok() && received < count && std::chrono::steady_clock::now() < deadline) {
    executor.spin_once(std::chrono::milliseconds(20));
    if (!matched && subscription->get_publisher_count() > 0) {
      matched = true;
      say("matched");
    }
  }
  say("done " + std::to_string(received));
  return received >= count ? 0 : 1;
}
