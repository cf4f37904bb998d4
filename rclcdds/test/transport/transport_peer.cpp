// Second process of the publish/subscribe test:
//   transport_peer TOPIC COUNT
// publishes COUNT 640x480 16UC1 images transient local (image I: stamp I s, byte k equal to
// (7 k + I) mod 256), prints "published COUNT" and keeps its writer alive until SIGINT/SIGTERM.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sensor_msgs/msg/image.hpp>

#include "rclcdds/context.hpp"
#include "rclcdds/node_topics.hpp"

int main(int argc, char ** argv)
{
  if (argc != 3) {
    std::fprintf(stderr, "usage: transport_peer TOPIC COUNT\n");
    return 2;
  }
  const int count = std::atoi(argv[2]);
  rclcdds::init(argc, argv);
  auto node = std::make_shared<rclcdds::NodeTopics>("transport_peer");
  auto publisher = node->create_publisher<sensor_msgs::msg::Image>(
    argv[1], rclcdds::QoS(10).transient_local());
  for (int index = 0; index < count; ++index) {
    sensor_msgs::msg::Image image;
    image.header.frame_id = "camera";
    image.header.stamp.sec = index;
    image.width = 640;
    image.height = 480;
    image.encoding = "16UC1";
    image.step = 1280;
    image.data.resize(640 * 480 * 2);
    for (size_t i = 0; i < image.data.size(); ++i) {
      image.data[i] = static_cast<uint8_t>(i * 7 + static_cast<size_t>(index));
    }
    publisher->publish(image);
  }
  std::printf("published %d\n", count);
  std::fflush(stdout);
  while (rclcdds::sleep_for(std::chrono::milliseconds(100))) {
  }
  return 0;
}
