// camera_info, image and transform messages built from the demo's geometry.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "nimbra_demo_scene/ros_conversions.hpp"

namespace nimbra_demo_scene
{
namespace
{

TEST(CameraInfo, CarriesTheIntrinsicsTheRendererUses)
{
  const auto intrinsics = CameraIntrinsics::fromHorizontalFov(640, 480, 80.0 * M_PI / 180.0);
  EXPECT_NEAR(intrinsics.fx, 320.0 / std::tan(40.0 * M_PI / 180.0), 1e-9);
  EXPECT_DOUBLE_EQ(intrinsics.fy, intrinsics.fx);
  EXPECT_DOUBLE_EQ(intrinsics.cx, 319.5);
  EXPECT_DOUBLE_EQ(intrinsics.cy, 239.5);

  const auto info = toCameraInfoMsg(intrinsics, "camera_01_depth_optical_frame");
  EXPECT_EQ(info.header.frame_id, "camera_01_depth_optical_frame");
  EXPECT_EQ(info.width, 640U);
  EXPECT_EQ(info.height, 480U);
  // The node reads fx, fy, cx, cy from K[0], K[4], K[2], K[5].
  EXPECT_DOUBLE_EQ(info.k[0], intrinsics.fx);
  EXPECT_DOUBLE_EQ(info.k[4], intrinsics.fy);
  EXPECT_DOUBLE_EQ(info.k[2], intrinsics.cx);
  EXPECT_DOUBLE_EQ(info.k[5], intrinsics.cy);
  EXPECT_DOUBLE_EQ(info.k[8], 1.0);
  EXPECT_DOUBLE_EQ(info.p[0], intrinsics.fx);
  EXPECT_DOUBLE_EQ(info.p[6], intrinsics.cy);
  EXPECT_DOUBLE_EQ(info.p[3], 0.0);
  EXPECT_EQ(info.d.size(), 5U);
  EXPECT_EQ(info.distortion_model, "plumb_bob");
}

TEST(CameraIntrinsicsTest, RejectsUnusableModels)
{
  EXPECT_THROW(CameraIntrinsics::fromHorizontalFov(0, 480, 1.0), std::invalid_argument);
  EXPECT_THROW(CameraIntrinsics::fromHorizontalFov(640, 480, M_PI), std::invalid_argument);
  CameraIntrinsics broken = CameraIntrinsics::fromHorizontalFov(64, 48, 1.0);
  broken.fy = std::nan("");
  std::string reason;
  EXPECT_FALSE(broken.valid(&reason));
  EXPECT_NE(reason.find("focal"), std::string::npos);
}

TEST(ImageMessages, AreSizedForTheirEncoding)
{
  const auto intrinsics = CameraIntrinsics::fromHorizontalFov(320, 240, 1.2);
  struct Case
  {
    const char * encoding;
    uint32_t bytes_per_pixel;
  };
  for (const Case & c : {Case{"16UC1", 2}, Case{"rgb8", 3}}) {
    sensor_msgs::msg::Image image;
    prepareImage(image, intrinsics, c.encoding, "frame");
    EXPECT_EQ(image.encoding, c.encoding);
    EXPECT_EQ(image.step, 320U * c.bytes_per_pixel);
    EXPECT_EQ(image.data.size(), 320U * 240U * c.bytes_per_pixel);
    EXPECT_EQ(image.is_bigendian, 0);
  }
  sensor_msgs::msg::Image image;
  EXPECT_THROW(prepareImage(image, intrinsics, "32FC1", "frame"), std::invalid_argument);
}

TEST(TransformMessages, KeepFramesStampAndAUnitQuaternion)
{
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  pose.linear() = Eigen::AngleAxisd(0.7, Eigen::Vector3d(1, 2, 3).normalized()).toRotationMatrix();
  pose.translation() = Eigen::Vector3d(1.0, -2.0, 0.5);
  builtin_interfaces::msg::Time stamp;
  stamp.sec = 12;
  stamp.nanosec = 345;
  const auto msg = toTransformMsg(pose, "map", "odom", stamp);
  EXPECT_EQ(msg.header.frame_id, "map");
  EXPECT_EQ(msg.child_frame_id, "odom");
  EXPECT_EQ(msg.header.stamp, stamp);
  const auto & q = msg.transform.rotation;
  EXPECT_NEAR(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w, 1.0, 1e-12);
  const Eigen::Quaterniond back(q.w, q.x, q.y, q.z);
  EXPECT_TRUE(back.toRotationMatrix().isApprox(pose.linear(), 1e-12));
  EXPECT_DOUBLE_EQ(msg.transform.translation.y, -2.0);

  const auto twist = toTwistMsg(BodyTwist{0.3, 0.5});
  EXPECT_DOUBLE_EQ(twist.linear.x, 0.3);
  EXPECT_DOUBLE_EQ(twist.angular.z, 0.5);
  EXPECT_DOUBLE_EQ(twist.linear.y, 0.0);
}

}  // namespace
}  // namespace nimbra_demo_scene
