// Transform tree (chains, interpolation, extrapolation errors, static links, bad input), timed
// lookups and the Eigen conversions.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <string>

#include "rclcdds/tf2/buffer.hpp"
#include "rclcdds/tf2/buffer_core.hpp"
#include "rclcdds/tf2/eigen.hpp"
#include "thrown_message.hpp"

namespace
{

using rclcdds::tf2::BufferCore;
using rclcdds::tf2::TimePoint;
using namespace std::chrono_literals;
namespace tf2 = rclcdds::tf2;

TimePoint at(double seconds) {return tf2::timeFromSec(seconds);}

geometry_msgs::msg::TransformStamped link(
  const std::string & parent, const std::string & child, double seconds,
  double x, double y, double z, double yaw = 0.0)
{
  geometry_msgs::msg::TransformStamped t;
  t.header.frame_id = parent;
  t.child_frame_id = child;
  t.header.stamp = tf2::toMsg(at(seconds));
  t.transform.translation.x = x;
  t.transform.translation.y = y;
  t.transform.translation.z = z;
  t.transform.rotation.z = std::sin(yaw / 2.0);
  t.transform.rotation.w = std::cos(yaw / 2.0);
  return t;
}

using rclcdds_test::message_of;

TEST(BufferCore, ChainsThroughACommonAncestorAndRandomChainsComposeLikeEigen)
{
  BufferCore buffer;
  ASSERT_TRUE(buffer.setTransform(link("map", "odom", 10.0, 1, 0, 0), "test"));
  ASSERT_TRUE(buffer.setTransform(link("odom", "base_footprint", 10.0, 0, 2, 0, M_PI / 2), "test"));
  ASSERT_TRUE(buffer.setTransform(link("base_footprint", "camera", 10.0, 0.5, 0, 1), "test"));
  ASSERT_TRUE(buffer.setTransform(link("map", "dock", 10.0, -3, 0, 0), "test"));

  // camera origin in map: base at (1, 2, 0) facing +y, camera 0.5 ahead and 1 up.
  const auto cam_in_map = buffer.lookupTransform("map", "camera", at(10.0));
  const Eigen::Isometry3d expected =
    Eigen::Translation3d(1.0, 2.5, 1.0) * Eigen::AngleAxisd(M_PI / 2, Eigen::Vector3d::UnitZ());
  EXPECT_TRUE(tf2::transformToEigen(cam_in_map).isApprox(expected, 1e-9));
  EXPECT_EQ(cam_in_map.header.frame_id, "map");
  EXPECT_EQ(cam_in_map.child_frame_id, "camera");

  // Across branches: camera expressed in dock, and the inverse.
  const auto cam_in_dock = buffer.lookupTransform("dock", "camera", at(10.0));
  EXPECT_NEAR(cam_in_dock.transform.translation.x, 4.0, 1e-9);
  const auto dock_in_cam = buffer.lookupTransform("camera", "dock", at(10.0));
  const Eigen::Isometry3d product =
    tf2::transformToEigen(cam_in_dock) * tf2::transformToEigen(dock_in_cam);
  EXPECT_TRUE(product.matrix().isIdentity(1e-9));

  const auto self = buffer.lookupTransform("camera", "camera", at(10.0));
  EXPECT_DOUBLE_EQ(self.transform.rotation.w, 1.0);

  // A chain of random links under the dock composes like the product of its Eigen isometries.
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Eigen::Isometry3d chain = Eigen::Isometry3d::Identity();
  std::string parent = "dock";
  for (int i = 0; i < 6; ++i) {
    Eigen::Quaterniond q(u(rng), u(rng), u(rng), u(rng));
    q.normalize();
    const Eigen::Isometry3d step = Eigen::Translation3d(u(rng), u(rng), u(rng)) * q;
    auto msg = tf2::eigenToTransform(step);
    msg.header.frame_id = parent;
    parent = "f" + std::to_string(i);
    msg.child_frame_id = parent;
    msg.header.stamp = tf2::toMsg(at(10.0));
    ASSERT_TRUE(buffer.setTransform(msg, "test"));
    chain = chain * step;
  }
  const auto got = buffer.lookupTransform("dock", parent, at(10.0));
  EXPECT_TRUE(tf2::transformToEigen(got).matrix().isApprox(chain.matrix(), 1e-9));
}

TEST(BufferCore, InterpolatesTranslationLinearlyAndRotationBySlerp)
{
  BufferCore buffer;
  buffer.setTransform(link("odom", "base", 1.0, 0, 0, 0, 0.0), "test");
  buffer.setTransform(link("odom", "base", 2.0, 2, 4, 0, M_PI / 2), "test");
  const auto mid = buffer.lookupTransform("odom", "base", at(1.25));
  EXPECT_TRUE(
    tf2::transformToEigen(mid).isApprox(
      Eigen::Translation3d(0.5, 1.0, 0.0) * Eigen::AngleAxisd(M_PI / 8, Eigen::Vector3d::UnitZ()),
      1e-9));
  const auto end = buffer.lookupTransform("odom", "base", at(2.0));
  EXPECT_NEAR(end.transform.translation.x, 2.0, 1e-12);
  const auto latest = buffer.lookupTransform("odom", "base", tf2::TimePointZero);
  EXPECT_EQ(tf2::fromMsg(latest.header.stamp), at(2.0));
}

TEST(BufferCore, ExtrapolationLookupAndConnectivityErrorsUseTf2Texts)
{
  BufferCore buffer;
  buffer.setTransform(link("odom", "base", 1.0, 0, 0, 0), "test");
  EXPECT_EQ(
    message_of<tf2::ExtrapolationException>([&] {buffer.lookupTransform("odom", "base", at(1.5));}),
    "Lookup would require extrapolation at time 1.500000, but only time 1.000000 is in the buffer, "
    "when looking up transform from frame [base] to frame [odom]");
  buffer.setTransform(link("odom", "base", 2.0, 0, 0, 0), "test");
  EXPECT_EQ(
    message_of<tf2::ExtrapolationException>([&] {buffer.lookupTransform("odom", "base", at(2.5));}),
    "Lookup would require extrapolation into the future.  Requested time 2.500000 but the latest "
    "data is at time 2.000000, when looking up transform from frame [base] to frame [odom]");
  EXPECT_EQ(
    message_of<tf2::ExtrapolationException>([&] {buffer.lookupTransform("base", "odom", at(0.5));}),
    "Lookup would require extrapolation into the past.  Requested time 0.500000 but the earliest "
    "data is at time 1.000000, when looking up transform from frame [odom] to frame [base]");
  std::string error;
  EXPECT_FALSE(buffer.canTransform("odom", "base", at(3.0), &error));
  EXPECT_NE(error.find("extrapolation into the future"), std::string::npos);

  buffer.setTransform(link("map", "odom", 1.0, 0, 0, 0), "test");
  buffer.setTransform(link("world", "other", 1.0, 0, 0, 0), "test");
  EXPECT_EQ(
    message_of<tf2::LookupException>([&] {buffer.lookupTransform("map", "camera", at(1.0));}),
    "\"camera\" passed to lookupTransform argument source_frame does not exist. ");
  EXPECT_EQ(
    message_of<tf2::ConnectivityException>([&] {buffer.lookupTransform("map", "other", at(1.0));}),
    "Could not find a connection between 'map' and 'other' because they are not part of the same "
    "tree.Tf has two or more unconnected trees.");
  EXPECT_EQ(
    message_of<tf2::InvalidArgumentException>([&] {buffer.lookupTransform("", "odom", at(1.0));}),
    "Invalid argument \"\" passed to lookupTransform argument target_frame - in tf2 frame_ids "
    "cannot be empty");
  EXPECT_THROW(buffer.lookupTransform("/map", "odom", at(1.0)), tf2::InvalidArgumentException);
  EXPECT_FALSE(buffer.canTransform("map", "nowhere", at(1.0), &error));
  EXPECT_EQ(error, "canTransform: source_frame nowhere does not exist.");
  // All of them are TransformExceptions, as tf2 users catch them.
  EXPECT_THROW(buffer.lookupTransform("map", "other", at(1.0)), tf2::TransformException);
}

TEST(BufferCore, StaticLinksHoldForAllTimes)
{
  BufferCore buffer;
  buffer.setTransform(link("base_footprint", "camera", 0.0, 0.2, 0, 0.8), "test", true);
  buffer.setTransform(link("odom", "base_footprint", 5.0, 1, 0, 0), "test");
  buffer.setTransform(link("odom", "base_footprint", 6.0, 2, 0, 0), "test");
  const auto static_only = buffer.lookupTransform("base_footprint", "camera", at(1234.5));
  EXPECT_DOUBLE_EQ(static_only.transform.translation.z, 0.8);
  const auto chained = buffer.lookupTransform("odom", "camera", at(5.5));
  EXPECT_NEAR(chained.transform.translation.x, 1.7, 1e-9);
  // Latest common time ignores the static link.
  const auto latest = buffer.lookupTransform("odom", "camera", tf2::TimePointZero);
  EXPECT_EQ(tf2::fromMsg(latest.header.stamp), at(6.0));
}

TEST(BufferCore, CacheTimeDropsOldData)
{
  BufferCore buffer(tf2::durationFromSec(10.0));
  for (int i = 0; i <= 20; ++i) {
    buffer.setTransform(link("odom", "base", 100.0 + i, i, 0, 0), "test");
  }
  EXPECT_TRUE(buffer.canTransform("odom", "base", at(110.0)));
  EXPECT_FALSE(buffer.canTransform("odom", "base", at(109.5)));
  EXPECT_FALSE(buffer.setTransform(link("odom", "base", 105.0, 0, 0, 0), "test"));  // too old
  EXPECT_FALSE(buffer.setTransform(link("odom", "base", 120.0, 0, 0, 0), "test"));  // repeated
}

TEST(BufferCore, RejectsInvalidTransforms)
{
  BufferCore buffer;
  auto nan = link("a", "b", 1.0, 0, 0, 0);
  nan.transform.translation.x = std::nan("");
  auto denormalized = link("a", "b", 1.0, 0, 0, 0);
  denormalized.transform.rotation.w = 2.0;
  EXPECT_FALSE(buffer.setTransform(nan, "test"));
  EXPECT_FALSE(buffer.setTransform(denormalized, "test"));
  EXPECT_FALSE(buffer.setTransform(link("a", "a", 1.0, 0, 0, 0), "test"));
  EXPECT_FALSE(buffer.setTransform(link("", "b", 1.0, 0, 0, 0), "test"));
  EXPECT_FALSE(buffer.setTransform(link("a", "", 1.0, 0, 0, 0), "test"));
  EXPECT_TRUE(buffer.getAllFrameNames().empty());
  EXPECT_TRUE(buffer.setTransform(link("/a", "/b", 1.0, 0, 0, 0), "test"));  // slash dropped
  EXPECT_EQ(buffer.allFramesAsString(), "Frame b exists with parent a.\n");
}

TEST(BufferWait, TimedLookupsThrowTheUnderlyingErrorAndCanTransformWaitsWithItsReason)
{
  rclcdds::tf2_ros::Buffer buffer(std::make_shared<rclcdds::Clock>(), tf2::durationFromSec(10.0));
  std::string error;
  EXPECT_FALSE(buffer.canTransform("base_footprint", "camera", tf2::TimePointZero, 10ms, &error));
  EXPECT_EQ(
    error,
    "canTransform: target_frame base_footprint does not exist. canTransform: source_frame camera "
    "does not exist.");
  // (A wait that ends when the transform arrives: the DDS transform listener test.)
  buffer.setTransform(link("base_footprint", "camera", 10.0, 0.3, 0, 0), "publisher");
  EXPECT_TRUE(buffer.canTransform("base_footprint", "camera", rclcdds::Time(10, 0)));

  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(
    buffer.lookupTransform("base_footprint", "camera", at(11.0), 50ms),
    tf2::ExtrapolationException);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  EXPECT_THROW(
    buffer.lookupTransform("map", "camera", tf2::TimePointZero, 20ms), tf2::LookupException);
}

TEST(Tf2Eigen, MessageIsometryAndMatrixConversionsAgree)
{
  const Eigen::Quaterniond q(Eigen::AngleAxisd(0.7, Eigen::Vector3d(1, 2, 3).normalized()));
  const Eigen::Isometry3d expected = Eigen::Translation3d(0.1, -0.2, 0.9) * q;
  geometry_msgs::msg::Transform msg = link("a", "b", 0.0, 0.1, -0.2, 0.9).transform;
  msg.rotation.x = 2.0 * q.x();  // an unnormalised quaternion is normalised
  msg.rotation.y = 2.0 * q.y();
  msg.rotation.z = 2.0 * q.z();
  msg.rotation.w = 2.0 * q.w();
  EXPECT_TRUE(tf2::transformToEigen(msg).isApprox(expected, 1e-12));
  const auto back = tf2::eigenToTransform(expected);
  EXPECT_TRUE(tf2::transformToEigen(back).isApprox(expected, 1e-12));
  EXPECT_NEAR(std::abs(back.transform.rotation.w), std::abs(q.w()), 1e-12);

  const Eigen::Matrix4f m = tf2::transformToMatrix4f(msg);
  EXPECT_TRUE(m.isApprox(expected.matrix().cast<float>(), 1e-6f));
  EXPECT_TRUE(tf2::transformToEigen(tf2::matrix4fToTransform(m)).isApprox(expected, 1e-6));
}

}  // namespace
