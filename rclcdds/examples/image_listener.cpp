// Prints every image received on "image": size, encoding, a checksum and the transport latency.
//   image_listener [--count N] [--timeout SECONDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sensor_msgs/msg/image.hpp>

#include "rclcdds/context.hpp"
#include "rclcdds/executors.hpp"
#include "rclcdds/node_topics.hpp"

int main(int argc, char ** argv)
{
  long count = 0;         // stop after this many images; 0 for no limit
  double timeout = 0.0;   // stop after this many seconds; 0 for no limit
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (key == "--count") {
      count = std::strtol(argv[i + 1], nullptr, 10);
    } else if (key == "--timeout") {
      timeout = std::strtod(argv[i + 1], nullptr);
    }
  }
  rclcdds::init(argc, argv);
  auto node = std::make_shared<rclcdds::NodeTopics>("image_listener");

  long received = 0;
  auto subscription = node->create_subscription<sensor_msgs::msg::Image>(
    "image", rclcdds::QoS(5),
    [&received, count](sensor_msgs::msg::Image::ConstSharedPtr image) {
      const auto now = std::chrono::system_clock::now().time_since_epoch();
      const double stamp = image->header.stamp.sec + image->header.stamp.nanosec * 1e-9;
      const double latency_ms =
        (std::chrono::duration<double>(now).count() - stamp) * 1e3;
      uint64_t checksum = 0;
      for (uint8_t byte : image->data) {
        checksum = checksum * 31 + byte;
      }
      ++received;
      std::printf(
        "received image %ld: %ux%u %s step %u frame '%s', %zu bytes, checksum %016llx, "
        "latency %.2f ms\n",
        received, image->width, image->height, image->encoding.c_str(), image->step,
        image->header.frame_id.c_str(), image->data.size(),
        static_cast<unsigned long long>(checksum), latency_ms);
      std::fflush(stdout);
      if (count > 0 && received >= count) {
        rclcdds::shutdown(nullptr, "received all images");
      }
    });

  rclcdds::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  const auto start = std::chrono::steady_clock::now();
  while (rclcdds::ok()) {
    executor.spin_once(std::chrono::milliseconds(100));
    if (timeout > 0.0 &&
      std::chrono::steady_clock::now() - start > std::chrono::duration<double>(timeout))
    {
      break;
    }
  }
  std::printf("image_listener: %ld image(s) received\n", received);
  rclcdds::shutdown();
  return received > 0 ? 0 : 1;
}
