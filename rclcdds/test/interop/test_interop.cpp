// Interoperability with an independent ROS 2 implementation: @foxglove/ros2 (over
// @foxglove/rtps, on Node.js) subscribes to an Image, a PointCloud2 and a SemanticPointCloud
// published by rclcdds and prints every decoded field; each must equal what was sent.
// @foxglove/rtps discovers by multicast only, so both sides opt in to multicast on lo; the test
// therefore runs only inside the private network namespace of scripts/netns.sh.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <nimbra_protocol/msg/semantic_point_cloud.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

#include "../transport/child_process.hpp"
#include "flatten_message.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/node_topics.hpp"

using namespace std::chrono_literals;

namespace
{

sensor_msgs::msg::Image make_image()
{
  sensor_msgs::msg::Image image;
  image.header.stamp.sec = 1700000123;
  image.header.stamp.nanosec = 456789;
  image.header.frame_id = "camera_color_optical_frame";
  image.height = 48;
  image.width = 64;
  image.encoding = "16UC1";
  image.step = 128;
  image.data.resize(128 * 48);
  for (size_t i = 0; i < image.data.size(); ++i) {
    image.data[i] = static_cast<uint8_t>((i * 13 + 7) & 0xff);
  }
  return image;
}

sensor_msgs::msg::PointCloud2 make_cloud(uint32_t points, const std::string & frame, float shift)
{
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header.stamp.sec = 1700000124;
  cloud.header.stamp.nanosec = 999999999;
  cloud.header.frame_id = frame;
  cloud.height = 1;
  cloud.width = points;
  for (const char * name : {"x", "y", "z"}) {
    sensor_msgs::msg::PointField field;
    field.name = name;
    field.offset = 4 * cloud.fields.size();
    field.datatype = sensor_msgs::msg::PointField::FLOAT32;
    field.count = 1;
    cloud.fields.push_back(field);
  }
  cloud.point_step = 12;
  cloud.row_step = 12 * points;
  cloud.data.resize(12 * points);
  for (uint32_t p = 0; p < points; ++p) {
    const float xyz[3] = {0.25f * p + shift, -0.5f * p, 1.5f};
    std::memcpy(&cloud.data[12 * p], xyz, sizeof(xyz));
  }
  cloud.is_dense = true;
  return cloud;
}

nimbra_protocol::msg::SemanticPointCloud make_semantic()
{
  nimbra_protocol::msg::SemanticPointCloud semantic;
  semantic.header.stamp.sec = 1700000125;
  semantic.header.stamp.nanosec = 1;
  semantic.header.frame_id = "base_footprint";
  semantic.clusters.resize(2);
  semantic.clusters[0].semantic_type = 1;
  semantic.clusters[0].has_detection = true;
  semantic.clusters[0].cloud = make_cloud(5, "base_footprint", 0.0f);
  semantic.clusters[1].semantic_type = -7;
  semantic.clusters[1].cloud = make_cloud(3, "base_footprint", 2.0f);
  semantic.camera_id = 2;
  semantic.camera_frame = {0.5f, -1.25f, 0.0f, 2.0f, 1.0f, 0.125f, 3.5f, -2.0f, 0.0f, 4.0f, 0.75f,
    0.25f};
  return semantic;
}

template<class T>
std::string bytes_line(const std::string & topic, const T & msg)
{
  return topic + " bytes=" +
         std::to_string(rclcdds::serialized_size(rclcdds::get_message_members<T>(), &msg));
}

}  // namespace

TEST(Interop, FoxgloveRos2DecodesOurMessagesFieldByField)
{
  const char * in_netns = std::getenv("NIMBRA_IN_NETNS");
  if (in_netns == nullptr || std::string(in_netns) != "1") {
    GTEST_SKIP() << "multicast on lo is only enabled inside scripts/netns.sh";
  }
  const std::string dir = INTEROP_DIR;
  struct stat info;
  ASSERT_EQ(stat((dir + "/node_modules/@foxglove/ros2").c_str(), &info), 0)
    << "npm packages missing: run scripts/setup.sh (npm install in " << dir << ")";

  const auto image = make_image();
  const auto cloud = make_cloud(4, "lidar", 0.0f);
  const auto semantic = make_semantic();
  setenv("RCLCDDS_NETWORK", "localhost-multicast", 1);
  rclcdds::init(0, nullptr);
  auto node = std::make_shared<rclcdds::NodeTopics>("interop_publisher", "/interop");
  // Transient local: the independent subscriber asks for that durability.
  const auto qos = rclcdds::QoS(1).transient_local();
  auto image_pub = node->create_publisher<sensor_msgs::msg::Image>("image", qos);
  auto cloud_pub = node->create_publisher<sensor_msgs::msg::PointCloud2>("cloud", qos);
  auto semantic_pub =
    node->create_publisher<nimbra_protocol::msg::SemanticPointCloud>("semantic", qos);
  std::atomic<bool> publishing{true};
  std::thread publisher([&] {
      while (publishing) {
        image_pub->publish(image);
        cloud_pub->publish(cloud);
        semantic_pub->publish(semantic);
        std::this_thread::sleep_for(200ms);
      }
    });
  rclcdds_test::ChildProcess subscriber({"/usr/bin/env", "node", dir + "/subscriber.js",
      dir + "/../../../interfaces", "30000", "/interop/image=sensor_msgs/Image",
      "/interop/cloud=sensor_msgs/PointCloud2",
      "/interop/semantic=nimbra_protocol/SemanticPointCloud"});
  const int code = subscriber.wait(60s);
  publishing = false;
  publisher.join();
  rclcdds::shutdown();
  unsetenv("RCLCDDS_NETWORK");
  const std::string output = subscriber.output();
  ASSERT_EQ(code, 0) << output;

  EXPECT_EQ(interop::received_lines(output, "/interop/image"), interop::expected_lines(image));
  EXPECT_EQ(interop::received_lines(output, "/interop/cloud"), interop::expected_lines(cloud));
  EXPECT_EQ(
    interop::received_lines(output, "/interop/semantic"), interop::expected_lines(semantic));
  // The byte counts it saw match our serialised sizes (padding included).
  EXPECT_NE(output.find(bytes_line("/interop/image", image)), std::string::npos) << output;
  EXPECT_NE(output.find(bytes_line("/interop/semantic", semantic)), std::string::npos) << output;
}
