// Interoperability with an independent ROS 2 implementation: @foxglove/ros2 (over
// @foxglove/rtps, on Node.js) subscribes to a PointCloud2 published by rclcdds, every field
// random, and prints every decoded field; each must equal what was sent. (Our own messages, with
// clouds nested in sequences, are decoded the same way by nimbra_object_detect's
// test_messages_interop; an Image has the cloud's field shapes: header, uint32s, string, uint8
// flag, uint8[].)
// @foxglove/rtps discovers by multicast only, so both sides opt in to multicast on lo; the test
// therefore runs only inside the private network namespace of scripts/netns.sh.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include <sensor_msgs/msg/point_cloud2.hpp>

#include "../transport/cdr_test_helpers.hpp"
#include "../transport/child_process.hpp"
#include "flatten_message.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/node_topics.hpp"

using namespace std::chrono_literals;

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

  sensor_msgs::msg::PointCloud2 cloud;
  const auto & members = rclcdds::get_message_members<sensor_msgs::msg::PointCloud2>();
  rclcdds_test::MessageFiller(7, rclcdds_test::FillMode::Random).fill(members, &cloud);
  ASSERT_FALSE(cloud.fields.empty() || cloud.data.empty() || cloud.header.frame_id.empty());
  setenv("RCLCDDS_NETWORK", "localhost-multicast", 1);
  rclcdds::init(0, nullptr);
  auto node = std::make_shared<rclcdds::NodeTopics>("interop_publisher", "/interop");
  // Transient local: the independent subscriber asks for that durability.
  const auto qos = rclcdds::QoS(1).transient_local();
  auto cloud_pub = node->create_publisher<sensor_msgs::msg::PointCloud2>("cloud", qos);
  std::atomic<bool> publishing{true};
  std::thread publisher([&] {
      while (publishing) {
        cloud_pub->publish(cloud);
        std::this_thread::sleep_for(200ms);
      }
    });
  rclcdds_test::ChildProcess subscriber({"/usr/bin/env", "node", dir + "/subscriber.js",
      dir + "/../../../interfaces", "30000", "/interop/cloud=sensor_msgs/PointCloud2"});
  const int code = subscriber.wait(60s);
  publishing = false;
  publisher.join();
  rclcdds::shutdown();
  unsetenv("RCLCDDS_NETWORK");
  const std::string output = subscriber.output();
  ASSERT_EQ(code, 0) << output;

  EXPECT_EQ(interop::received_lines(output, "/interop/cloud"), interop::expected_lines(cloud));
  // The byte count it saw matches our serialised size (padding included).
  const std::string bytes = std::to_string(rclcdds::serialized_size(members, &cloud));
  EXPECT_NE(output.find("/interop/cloud bytes=" + bytes), std::string::npos) << output;
}
