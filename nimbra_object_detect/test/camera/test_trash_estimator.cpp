// Geometry of one trash detection on constructed depth images: border test, instance cloud,
// size estimate and the mapping of colour-image detections onto the depth image.
#include <gtest/gtest.h>
#include <Eigen/Geometry>

#include <cmath>
#include <limits>
#include <string>
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
  struct Case
  {
    Detection box;
    bool touches;
  };
  const std::vector<Case> cases = {
    {Box(5, 5, 95, 75), false},
    {Box(4, 5, 95, 75), true},
    {Box(5, 4, 95, 75), true},
    {Box(5, 5, 96, 75), true},
    {Box(5, 5, 95, 76), true},
    {Box(6, 6, 94, 74), false},
  };
  for (const Case & c : cases) {
    EXPECT_EQ(trashTouchesBorder(c.box, 5, 100, 80), c.touches)
      << c.box.x1 << "," << c.box.y1 << " " << c.box.x2 << "," << c.box.y2;
  }
}

class TrashInstanceCloudTest : public ::testing::Test
{
protected:
  TrashInstanceCloudTest()
  {
    camera_.fx = camera_.fy = 100.0F;
    camera_.cx = 10.0F;
    camera_.cy = 5.0F;
    camera_.width = 20;
    camera_.height = 10;
    camera_.depth_max = 2.0F;
  }

  TrashCamera camera_;
};

TEST_F(TrashInstanceCloudTest, OnlyFiniteDepthInsideTheRangeAndTheMaskGivesPoints)
{
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // Row 2 of the box holds the unusable values, row 3 good ones; the box covers columns 2..9.
  cv::Mat depth(10, 20, CV_32FC1, cv::Scalar(0.0F));
  const float unusable[] = {nan, inf, -inf, -1.0F, 0.0F, 2.0F, 2.5F, nan};
  for (int u = 2; u < 10; ++u) {
    depth.at<float>(2, u) = unusable[u - 2];
    depth.at<float>(3, u) = 1.0F + 0.1F * static_cast<float>(u);
  }
  struct Case
  {
    int32_t x2;         // right edge of the box (exclusive)
    bool mask;          // mask leaves out column 2
    std::size_t points;
  };
  const std::vector<Case> cases = {
    {6, false, 4},   // columns 2..5
    {7, false, 5},   // columns 2..6
    {7, true, 4},    // columns 3..6
    {40, false, 8},  // box past the image edge: only the image is read
  };
  pcl::PointCloud<pcl::PointXYZ> cloud;
  for (const Case & c : cases) {
    Detection detection = Box(2, 0, c.x2, 10);
    if (c.mask) {
      detection.mask = cv::Mat(10, 20, CV_8UC1, cv::Scalar(1));
      detection.mask.col(2).setTo(0);
    }
    trashInstanceCloud(depth, detection, camera_, cloud);
    ASSERT_EQ(cloud.size(), c.points) << "x2 " << c.x2 << " mask " << c.mask;
    for (const auto & p : cloud.points) {
      EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
      EXPECT_NEAR(p.y, (3.0F - 5.0F) * p.z / 100.0F, 1e-6F);
    }
  }
  // Pixel (u = 4, v = 3) at 1.4 m.
  trashInstanceCloud(depth, Box(4, 3, 5, 4), camera_, cloud);
  ASSERT_EQ(cloud.size(), 1U);
  EXPECT_NEAR(cloud.points[0].x, (4.0F - 10.0F) * 1.4F / 100.0F, 1e-6F);
  EXPECT_NEAR(cloud.points[0].z, 1.4F, 1e-6F);

  // A mask of another size than the depth image is never indexed.
  Detection other = Box(2, 0, 10, 10);
  other.mask = cv::Mat(5, 10, CV_8UC1, cv::Scalar(1));
  trashInstanceCloud(depth, other, camera_, cloud);
  EXPECT_TRUE(cloud.empty());
}

TEST(TrashEstimator, SizeOfAKnownBoxAndTooFewPoints)
{
  // A 0.3 x 0.1 x 0.2 m box standing on the floor, turned 30 degrees about z, seen by a
  // forward-looking camera 0.4 m above the floor: its corners and edge points, in the camera frame.
  Eigen::Matrix4f cam_to_base = Eigen::Matrix4f::Zero();
  cam_to_base(0, 2) = 1.0F;
  cam_to_base(1, 0) = -1.0F;
  cam_to_base(2, 1) = -1.0F;
  cam_to_base(2, 3) = 0.4F;
  cam_to_base(3, 3) = 1.0F;
  const Eigen::Matrix4f base_to_cam = cam_to_base.inverse();
  const Eigen::Affine3f pose =
    Eigen::Translation3f(1.0F, 0.2F, 0.0F) * Eigen::AngleAxisf(0.5235988F, Eigen::Vector3f::UnitZ());
  pcl::PointCloud<pcl::PointXYZ> cloud;
  for (int i = 0; i <= 6; ++i) {
    for (const float y : {-0.05F, 0.05F}) {
      for (const float z : {0.0F, 0.2F}) {
        const Eigen::Vector3f base = pose * Eigen::Vector3f(-0.15F + 0.05F * i, y, z);
        const Eigen::Vector4f cam = base_to_cam * base.homogeneous();
        cloud.push_back(pcl::PointXYZ(cam.x(), cam.y(), cam.z()));
      }
    }
  }
  ASSERT_EQ(cloud.size(), 28U);
  const std::vector<float> size = ComputeWasteSize3D(cloud, cam_to_base);
  ASSERT_EQ(size.size(), 3U);
  EXPECT_NEAR(size[0], 0.3F, 1e-3F);
  EXPECT_NEAR(size[1], 0.1F, 1e-3F);
  EXPECT_NEAR(size[2], 0.2F, 1e-4F);

  for (const std::size_t count : {std::size_t{5}, std::size_t{19}}) {
    cloud.resize(count);
    EXPECT_EQ(ComputeWasteSize3D(cloud, cam_to_base), (std::vector<float>{-1.0F, -1.0F, -1.0F}))
      << count;
  }
  cloud.resize(20);
  EXPECT_GT(ComputeWasteSize3D(cloud, cam_to_base)[0], 0.0F);
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
  colour.type = semantic::BOTTLE;
  Detection depth;
  ASSERT_TRUE(mapDetectionToImage(colour, 4, 3, depth));
  ASSERT_EQ(depth.mask.size(), cv::Size(4, 3));
  for (int v = 0; v < 3; ++v) {
    for (int u = 0; u < 4; ++u) {
      EXPECT_EQ(depth.mask.at<uint8_t>(v, u), 10 * (2 * v + 1) + 2 * u + 1) << u << "," << v;
    }
  }
  EXPECT_EQ(depth.x1, 0);
  EXPECT_EQ(depth.y1, 0);
  EXPECT_EQ(depth.x2, 4);
  EXPECT_EQ(depth.y2, 3);
  EXPECT_EQ(depth.type, semantic::BOTTLE);

  // Same size or no mask: unchanged; a mask that is not CV_8UC1 cannot be mapped.
  Detection same;
  ASSERT_TRUE(mapDetectionToImage(colour, 8, 6, same));
  EXPECT_EQ(same.mask.data, colour.mask.data);
  ASSERT_TRUE(mapDetectionToImage(Box(1, 1, 7, 5), 4, 3, same));
  EXPECT_EQ(same.x2, 7);
  colour.mask.convertTo(colour.mask, CV_32F);
  EXPECT_FALSE(mapDetectionToImage(colour, 4, 3, same));
}

}  // namespace
}  // namespace nimbra::test
