// Publishes a synthetic 16UC1 depth image (a moving ramp) on "image" at a fixed rate, after
// waiting up to 5 s for a first subscriber.
//   image_talker [--count N] [--rate HZ] [--width W] [--height H]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <sensor_msgs/msg/image.hpp>

#include "rclcdds/context.hpp"
#include "rclcdds/node_topics.hpp"

namespace
{

struct Options
{
  long count{50};      ///< images to send; 0 for endless
  double rate{10.0};   ///< images per second
  uint32_t width{640};
  uint32_t height{480};
};

Options parse(int argc, char ** argv)
{
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const char * value = argv[i + 1];
    if (key == "--count") {
      options.count = std::strtol(value, nullptr, 10);
    } else if (key == "--rate") {
      options.rate = std::strtod(value, nullptr);
    } else if (key == "--width") {
      options.width = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
    } else if (key == "--height") {
      options.height = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
    }
  }
  if (options.rate <= 0.0) {
    options.rate = 10.0;
  }
  return options;
}

void fill(sensor_msgs::msg::Image & image, long frame)
{
  auto * depth = reinterpret_cast<uint16_t *>(image.data.data());
  for (uint32_t v = 0; v < image.height; ++v) {
    for (uint32_t u = 0; u < image.width; ++u) {
      depth[v * image.width + u] = static_cast<uint16_t>(500 + (u + v + frame * 8) % 4000);
    }
  }
}

}  // namespace

int main(int argc, char ** argv)
{
  const Options options = parse(argc, argv);
  rclcdds::init(argc, argv);
  auto node = std::make_shared<rclcdds::NodeTopics>("image_talker");
  auto publisher = node->create_publisher<sensor_msgs::msg::Image>("image", rclcdds::QoS(5));

  sensor_msgs::msg::Image image;
  image.header.frame_id = "camera_depth_optical_frame";
  image.width = options.width;
  image.height = options.height;
  image.encoding = "16UC1";
  image.step = options.width * 2;
  image.data.resize(static_cast<size_t>(image.step) * image.height);

  const auto wait_until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (publisher->get_subscription_count() == 0 && rclcdds::ok() &&
    std::chrono::steady_clock::now() < wait_until)
  {
    rclcdds::sleep_for(std::chrono::milliseconds(10));
  }

  const auto period = std::chrono::duration<double>(1.0 / options.rate);
  auto next = std::chrono::steady_clock::now();
  for (long frame = 0; rclcdds::ok() && (options.count == 0 || frame < options.count); ++frame) {
    fill(image, frame);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    image.header.stamp.sec = static_cast<int32_t>(
      std::chrono::duration_cast<std::chrono::seconds>(now).count());
    image.header.stamp.nanosec = static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() % 1000000000LL);
    publisher->publish(image);
    std::printf(
      "published image %ld: %ux%u %s, %zu bytes (%zu subscriber(s))\n", frame, image.width,
      image.height, image.encoding.c_str(), image.data.size(), publisher->get_subscription_count());
    std::fflush(stdout);
    next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
    std::this_thread::sleep_until(next);
  }
  rclcdds::shutdown();
  return 0;
}
