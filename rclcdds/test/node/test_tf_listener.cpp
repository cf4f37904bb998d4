// TransformListener and broadcasters over DDS.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "node_test_fixture.hpp"
#include "rclcdds/tf2/buffer.hpp"
#include "rclcdds/tf2/exceptions.hpp"
#include "rclcdds/tf2_ros/static_transform_broadcaster.hpp"
#include "rclcdds/tf2_ros/transform_broadcaster.hpp"
#include "rclcdds/tf2_ros/transform_listener.hpp"

using namespace std::chrono_literals;

namespace
{

geometry_msgs::msg::TransformStamped make_transform(
  const std::string & parent, const std::string & child, const rclcdds::Time & stamp, double x)
{
  geometry_msgs::msg::TransformStamped transform;
  transform.header.frame_id = parent;
  transform.header.stamp = stamp;
  transform.child_frame_id = child;
  transform.transform.translation.x = x;
  transform.transform.rotation.w = 1.0;
  return transform;
}

class TransformListenerTest : public rclcdds_test::NodeTest
{
};

TEST_F(TransformListenerTest, LookupSucceedsWhenTheTransformArrivesDuringTheTimeout)
{
  // The node is never spun: the listener's own thread fills the buffer.
  auto node = std::make_shared<rclcdds::Node>("tf_user", node_options());
  rclcdds::tf2_ros::Buffer buffer(node->get_clock());
  rclcdds::tf2_ros::TransformListener listener(buffer, node);
  auto broadcaster_node = std::make_shared<rclcdds::Node>("tf_source", node_options());
  rclcdds::tf2_ros::TransformBroadcaster broadcaster(broadcaster_node);

  const rclcdds::Time stamp = node->now();
  std::thread late_sender([&] {
      std::this_thread::sleep_for(300ms);
      // Repeated until the listener has matched and stored it.
      for (int i = 0; i < 100 && !buffer.canTransform("odom", "base_footprint", stamp); ++i) {
        broadcaster.sendTransform(make_transform("odom", "base_footprint", stamp, 1.25));
        std::this_thread::sleep_for(20ms);
      }
    });
  const auto start = std::chrono::steady_clock::now();
  geometry_msgs::msg::TransformStamped result;
  EXPECT_NO_THROW(
    result = buffer.lookupTransform("odom", "base_footprint", stamp, rclcdds::Duration(5s)));
  const auto waited = std::chrono::steady_clock::now() - start;
  late_sender.join();
  EXPECT_DOUBLE_EQ(result.transform.translation.x, 1.25);
  EXPECT_GE(waited, 250ms);
  EXPECT_LT(waited, 5s);
}

TEST_F(TransformListenerTest, LateListenerGetsEveryStaticTransform)
{
  auto broadcaster_node = std::make_shared<rclcdds::Node>("tf_static_source", node_options());
  rclcdds::tf2_ros::StaticTransformBroadcaster broadcaster(broadcaster_node);
  const rclcdds::Time stamp(0, 0, rclcdds::RCL_ROS_TIME);
  broadcaster.sendTransform(make_transform("base_footprint", "camera_01", stamp, 0.3));
  broadcaster.sendTransform(make_transform("base_footprint", "camera_02", stamp, -0.3));

  // Private listener node, created after both were sent (transient local).
  rclcdds::tf2_ros::Buffer buffer(std::make_shared<rclcdds::Clock>(rclcdds::RCL_ROS_TIME));
  auto listener_options = node_options();
  auto listener_node = std::make_shared<rclcdds::Node>("tf_late", listener_options);
  rclcdds::tf2_ros::TransformListener listener(buffer, listener_node);
  const auto latest = rclcdds::Time(0, 0, rclcdds::RCL_ROS_TIME);
  auto one = buffer.lookupTransform("base_footprint", "camera_01", latest, rclcdds::Duration(5s));
  auto two = buffer.lookupTransform("base_footprint", "camera_02", latest, rclcdds::Duration(5s));
  EXPECT_DOUBLE_EQ(one.transform.translation.x, 0.3);
  EXPECT_DOUBLE_EQ(two.transform.translation.x, -0.3);
  auto between = buffer.lookupTransform("camera_01", "camera_02", latest, rclcdds::Duration(1s));
  EXPECT_NEAR(between.transform.translation.x, -0.6, 1e-12);
}

}  // namespace
