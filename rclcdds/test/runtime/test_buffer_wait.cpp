// Timed lookups: the error after the timeout, canTransform's reason and its wait (a lookup that
// ends when the transform arrives is in test_tf_listener.cpp).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "rclcdds/tf2/buffer.hpp"

namespace
{

using namespace std::chrono_literals;
namespace tf2 = rclcdds::tf2;

geometry_msgs::msg::TransformStamped camera_link(int32_t sec)
{
  geometry_msgs::msg::TransformStamped t;
  t.header.frame_id = "base_footprint";
  t.child_frame_id = "camera";
  t.header.stamp.sec = sec;
  t.transform.translation.x = 0.3;
  t.transform.rotation.w = 1.0;
  return t;
}

TEST(BufferWait, LookupThrowsTheUnderlyingErrorAfterTimeout)
{
  rclcdds::tf2_ros::Buffer buffer(std::make_shared<rclcdds::Clock>());
  buffer.setTransform(camera_link(10), "publisher");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(
    buffer.lookupTransform("base_footprint", "camera", tf2::timeFromSec(11.0), 50ms),
    tf2::ExtrapolationException);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  EXPECT_THROW(
    buffer.lookupTransform("map", "camera", tf2::TimePointZero, 20ms), tf2::LookupException);
}

TEST(BufferWait, CanTransformWithTimeoutReportsReason)
{
  rclcdds::tf2_ros::Buffer buffer(std::make_shared<rclcdds::Clock>(), tf2::durationFromSec(10.0));
  std::string error;
  EXPECT_FALSE(buffer.canTransform("base_footprint", "camera", tf2::TimePointZero, 10ms, &error));
  EXPECT_EQ(
    error,
    "canTransform: target_frame base_footprint does not exist. canTransform: source_frame camera "
    "does not exist.");
  std::thread publisher([&buffer] {
      std::this_thread::sleep_for(30ms);
      buffer.setTransform(camera_link(1), "publisher");
    });
  EXPECT_TRUE(buffer.canTransform("base_footprint", "camera", tf2::TimePointZero, 2s, &error));
  publisher.join();
  EXPECT_TRUE(buffer.canTransform("base_footprint", "camera", rclcdds::Time(1, 0)));
}

}  // namespace
