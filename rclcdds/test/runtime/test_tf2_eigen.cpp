// Eigen conversions of transforms.
#include <gtest/gtest.h>

#include <cmath>

#include "rclcdds/tf2/eigen.hpp"

namespace
{

namespace tf2 = rclcdds::tf2;

geometry_msgs::msg::Transform sample()
{
  geometry_msgs::msg::Transform t;
  t.translation.x = 0.1;
  t.translation.y = -0.2;
  t.translation.z = 0.9;
  const Eigen::Quaterniond q(Eigen::AngleAxisd(0.7, Eigen::Vector3d(1, 2, 3).normalized()));
  t.rotation.x = q.x();
  t.rotation.y = q.y();
  t.rotation.z = q.z();
  t.rotation.w = q.w();
  return t;
}

TEST(Tf2Eigen, IsometryRoundTrip)
{
  const auto msg = sample();
  const Eigen::Isometry3d iso = tf2::transformToEigen(msg);
  EXPECT_NEAR(iso.translation().z(), 0.9, 1e-12);
  const auto back = tf2::eigenToTransform(iso);
  EXPECT_NEAR(back.transform.translation.y, -0.2, 1e-12);
  const double dot = back.transform.rotation.x * msg.rotation.x +
    back.transform.rotation.y * msg.rotation.y + back.transform.rotation.z * msg.rotation.z +
    back.transform.rotation.w * msg.rotation.w;
  EXPECT_NEAR(std::abs(dot), 1.0, 1e-12);

  auto doubled = msg;  // an unnormalised quaternion is normalised
  doubled.rotation.w *= 2.0;
  doubled.rotation.x *= 2.0;
  doubled.rotation.y *= 2.0;
  doubled.rotation.z *= 2.0;
  EXPECT_TRUE(tf2::transformToEigen(doubled).isApprox(iso, 1e-12));
}

TEST(Tf2Eigen, Matrix4fMapsPointsLikeTheIsometry)
{
  const auto msg = sample();
  const Eigen::Matrix4f m = tf2::transformToMatrix4f(msg);
  const Eigen::Vector4f p(1.0f, 2.0f, 3.0f, 1.0f);
  const Eigen::Vector3d expected = tf2::transformToEigen(msg) * Eigen::Vector3d(1, 2, 3);
  const Eigen::Vector4f got = m * p;
  EXPECT_NEAR(got.x(), expected.x(), 1e-5);
  EXPECT_NEAR(got.y(), expected.y(), 1e-5);
  EXPECT_NEAR(got.z(), expected.z(), 1e-5);
  EXPECT_FLOAT_EQ(m(3, 3), 1.0f);
  EXPECT_FLOAT_EQ(m(3, 0), 0.0f);

  const auto back = tf2::matrix4fToTransform(m);
  EXPECT_NEAR(back.translation.x, 0.1, 1e-6);
  EXPECT_NEAR(back.rotation.w * back.rotation.w + back.rotation.x * back.rotation.x +
    back.rotation.y * back.rotation.y + back.rotation.z * back.rotation.z, 1.0, 1e-9);
  // Inverse of the matrix undoes the transform (base_to_cam = cam_to_base^-1).
  EXPECT_TRUE((m.inverse() * m).isIdentity(1e-5f));
}

}  // namespace
