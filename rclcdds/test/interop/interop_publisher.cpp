// Publishes the interoperability test's Image, PointCloud2 and SemanticPointCloud every 200 ms
// (transient local, so a subscriber asking for that durability matches) until SIGINT/SIGTERM.
#include <chrono>
#include <cstdio>

#include "interop_messages.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/node_topics.hpp"

int main(int argc, char ** argv)
{
  rclcdds::init(argc, argv);
  auto node = std::make_shared<rclcdds::NodeTopics>("interop_publisher", "/interop");
  const auto qos = rclcdds::QoS(1).transient_local();
  auto image_pub = node->create_publisher<sensor_msgs::msg::Image>("image", qos);
  auto cloud_pub = node->create_publisher<sensor_msgs::msg::PointCloud2>("cloud", qos);
  auto semantic_pub =
    node->create_publisher<nimbra_protocol::msg::SemanticPointCloud>("semantic", qos);
  const auto image = interop::make_image();
  const auto cloud = interop::make_cloud(4, "lidar", 0.0f);
  const auto semantic = interop::make_semantic();
  std::printf("publishing\n");
  std::fflush(stdout);
  do {
    image_pub->publish(image);
    cloud_pub->publish(cloud);
    semantic_pub->publish(semantic);
  } while (rclcdds::sleep_for(std::chrono::milliseconds(200)));
  return 0;
}
