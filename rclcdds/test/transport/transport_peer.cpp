// Second process of the publish/subscribe test; the messages are 640x480 16UC1 images whose bytes
// depend on their index I.
//   transport_peer publish   TOPIC COUNT              transient local: publishes at once, then
//                                                     keeps its writer alive until SIGINT/SIGTERM
//   transport_peer subscribe TOPIC COUNT QOS TIMEOUT_S  QOS: default | transient
// The subscriber prints "matched" when it sees a publisher, "received image I intact|CORRUPT" per
// message and "done N" at the end; it exits 0 once COUNT arrived, 1 on timeout or signal.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <sensor_msgs/msg/image.hpp>

#include "rclcdds/context.hpp"
#include "rclcdds/executors.hpp"
#include "rclcdds/node_topics.hpp"

namespace
{

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

}  // namespace

int main(int argc, char ** argv)
{
  const std::string mode = argc > 3 ? argv[1] : "";
  if (mode != "publish" && !(mode == "subscribe" && argc > 5)) {
    std::fprintf(stderr, "usage: transport_peer publish|subscribe TOPIC COUNT [QOS TIMEOUT_S]\n");
    return 2;
  }
  const std::string topic = argv[2];
  const int count = std::atoi(argv[3]);
  rclcdds::init(argc, argv);
  auto node = std::make_shared<rclcdds::NodeTopics>("transport_peer_" + mode);
  using sensor_msgs::msg::Image;
  if (mode == "publish") {
    auto publisher = node->create_publisher<Image>(topic, rclcdds::QoS(10).transient_local());
    for (int i = 0; i < count; ++i) {
      publisher->publish(make_image(i));
    }
    say("published " + std::to_string(count));
    while (rclcdds::sleep_for(std::chrono::milliseconds(100))) {
    }
    return 0;
  }

  const bool transient = std::string(argv[4]) == "transient";
  int received = 0;
  auto subscription = node->create_subscription<Image>(
    topic, transient ? rclcdds::QoS(10).transient_local() : rclcdds::QoS(10),
    [&received](const Image & msg) {
      ++received;
      const bool intact = msg == make_image(msg.header.stamp.sec);
      say("received image " + std::to_string(msg.header.stamp.sec) +
      (intact ? " intact" : " CORRUPT"));
    });
  rclcdds::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  const auto deadline =
    std::chrono::steady_clock::now() + std::chrono::duration<double>(std::atof(argv[5]));
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
