// Geometry of one trash detection on constructed depth images: border test, instance cloud,
// size estimate and the mapping of colour-image detections onto the depth image.
#include <gtest/gtest.h>
#include <Eigen/Geometry>

#include <cmath>
#include <limits>
#include <vector>

#include "camera/trash_estimator.hpp"

namespace nimbra::test
{
namespace
{

Detection Box(int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
  Detection d;
  d.x1 = x1;
  d.y1 = y1;
  d.x2 = x2;
  d.y2 = y2;
  return d;
}

TEST(TrashEstimator, BorderTestAtTheThresholdAndOnePixelInside)
{
  // Image 100 x 80, threshold 5: the box may reach columns 5..95 and rows 5..75.
  EXPECT_FALSE(trashTouchesBorder(Box(5, 5, 95, 75), 5, 100, 80));
  for (const Detection & box : {Box(4, 5, 95, 75), Box(5, 4, 95, 75), Box(5, 5, 96, 75),
      Box(5, 5, 95, 76)})
  {
    EXPECT_TRUE(trashTouchesBorder(box, 5, 100, 80)) << box.x1 << "," << box.y1 << " " << box.x2;
  }
}

TEST(TrashEstimator, InstanceCloudTakesFiniteDepthInsideRangeBoxAndMask)
{
  TrashCamera camera;
  camera.fx = camera.fy = 100.0F;
  camera.cx = 10.0F;
  camera.cy = 5.0F;
  camera.depth_max = 2.0F;
  // Row 2 holds unusable depths, row 3 usable ones (1.2 .. 1.9 m) in columns 2..9.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float unusable[] = {nan, inf, -inf, -1.0F, 0.0F, 2.0F, 2.5F, nan};
  cv::Mat depth(10, 20, CV_32FC1, cv::Scalar(0.0F));
  for (int u = 2; u < 10; ++u) {
    depth.at<float>(2, u) = unusable[u - 2];
    depth.at<float>(3, u) = 1.0F + 0.1F * static_cast<float>(u);
  }
  struct Case
  {
    int32_t x2;          // box columns 2 .. x2 - 1
    int mask_rows;       // 0: no mask; 10: the image's size without column 2; 5: another size
    std::size_t points;
  };
  pcl::PointCloud<pcl::PointXYZ> cloud;
  for (const Case & c : {Case{6, 0, 4}, Case{7, 0, 5}, Case{7, 10, 4}, Case{40, 0, 8},
      Case{10, 5, 0}})
  {
    Detection detection = Box(2, 0, c.x2, 10);
    if (c.mask_rows > 0) {
      detection.mask = cv::Mat(c.mask_rows, 20, CV_8UC1, cv::Scalar(1));
      detection.mask.col(2).setTo(0);
    }
    trashInstanceCloud(depth, detection, camera, cloud);
    ASSERT_EQ(cloud.size(), c.points) << "x2 " << c.x2 << " mask rows " << c.mask_rows;
    for (const auto & p : cloud.points) {
      EXPECT_NEAR(p.y, -2.0F * p.z / 100.0F, 1e-6F);  // row 3 only
    }
  }
  trashInstanceCloud(depth, Box(4, 3, 5, 4), camera, cloud);
  ASSERT_EQ(cloud.size(), 1U);
  EXPECT_NEAR(cloud.points[0].x, (4.0F - 10.0F) * 1.4F / 100.0F, 1e-6F);
}

TEST(TrashEstimator, SizeOfAKnownBoxAndTooFewPoints)
{
  // A 0.3 x 0.1 x 0.2 m box on the floor, turned 30 degrees, seen by a forward camera 0.4 m up.
  Eigen::Matrix4f cam_to_base = Eigen::Matrix4f::Zero();
  cam_to_base(0, 2) = 1.0F;
  cam_to_base(1, 0) = -1.0F;
  cam_to_base(2, 1) = -1.0F;
  cam_to_base(2, 3) = 0.4F;
  cam_to_base(3, 3) = 1.0F;
  const Eigen::Affine3f pose = Eigen::Translation3f(1.0F, 0.2F, 0.0F) *
    Eigen::AngleAxisf(0.5235988F, Eigen::Vector3f::UnitZ());
  pcl::PointCloud<pcl::PointXYZ> cloud;
  for (int i = 0; i <= 6; ++i) {
    for (const float y : {-0.05F, 0.05F}) {
      for (const float z : {0.0F, 0.2F}) {
        const Eigen::Vector3f base = pose * Eigen::Vector3f(-0.15F + 0.05F * i, y, z);
        const Eigen::Vector4f cam = cam_to_base.inverse() * base.homogeneous();
        cloud.push_back(pcl::PointXYZ(cam.x(), cam.y(), cam.z()));
      }
    }
  }
  const std::vector<float> size = ComputeWasteSize3D(cloud, cam_to_base);
  ASSERT_EQ(size.size(), 3U);
  EXPECT_NEAR(size[0], 0.3F, 1e-3F);
  EXPECT_NEAR(size[1], 0.1F, 1e-3F);
  EXPECT_NEAR(size[2], 0.2F, 1e-4F);
  for (const std::size_t count : {20, 19, 5}) {
    cloud.resize(count);
    const std::vector<float> estimate = ComputeWasteSize3D(cloud, cam_to_base);
    if (count == 20) {
      EXPECT_GT(estimate[0], 0.0F);
    } else {
      EXPECT_EQ(estimate, (std::vector<float>{-1.0F, -1.0F, -1.0F})) << count;
    }
  }
}

TEST(TrashEstimator, ColourDetectionIsMappedOntoADepthImageOfHalfItsSize)
{
  // Colour 8 x 6, depth 4 x 3: depth pixel (u, v) reads colour pixel (2u + 1, 2v + 1).
  Detection colour = Box(1, 1, 7, 5);
  colour.mask = cv::Mat(6, 8, CV_8UC1);
  for (int v = 0; v < 6; ++v) {
    for (int u = 0; u < 8; ++u) {
      colour.mask.at<uint8_t>(v, u) = static_cast<uint8_t>(10 * v + u);
    }
  }
  Detection depth;
  ASSERT_TRUE(mapDetectionToImage(colour, 4, 3, depth));
  ASSERT_EQ(depth.mask.size(), cv::Size(4, 3));
  for (int v = 0; v < 3; ++v) {
    for (int u = 0; u < 4; ++u) {
      EXPECT_EQ(depth.mask.at<uint8_t>(v, u), 10 * (2 * v + 1) + 2 * u + 1) << u << "," << v;
    }
  }
  EXPECT_EQ(std::vector<int32_t>({depth.x1, depth.y1, depth.x2, depth.y2}),
    std::vector<int32_t>({0, 0, 4, 3}));
  // Same size, or no mask: unchanged; a mask that is not CV_8UC1 cannot be mapped.
  ASSERT_TRUE(mapDetectionToImage(colour, 8, 6, depth));
  EXPECT_EQ(depth.mask.data, colour.mask.data);
  ASSERT_TRUE(mapDetectionToImage(Box(1, 1, 7, 5), 4, 3, depth));
  EXPECT_EQ(depth.x2, 7);
  colour.mask.convertTo(colour.mask, CV_32F);
  EXPECT_FALSE(mapDetectionToImage(colour, 4, 3, depth));
}

}  // namespace
}  // namespace nimbra::test
