// Downsampling threshold and voxel parameters, and the frame change of the depth cloud.
#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include "cloud_test_scenes.hpp"
#include "common/cloud_preprocess.hpp"

namespace nimbra::test
{
namespace
{

/// `crowd` points stacked at (1, 1, 1) plus one point at (3, 0, 0).
PointCloud crowdAndLoner(std::size_t crowd)
{
  PointCloud cloud;
  for (std::size_t i = 0; i < crowd; ++i) {
    cloud.points.emplace_back(1.001F, 1.001F, 1.001F);
  }
  cloud.points.emplace_back(3.001F, 0.001F, 0.001F);
  cloud.width = static_cast<uint32_t>(cloud.points.size());
  cloud.height = 1;
  cloud.header.frame_id = "camera";
  return cloud;
}

TEST(CloudPreprocessDownsample, OnlyCloudsAboveFiveHundredPointsAreFiltered)
{
  CloudConfig config;
  config.cloud_min_point = 1;
  PointCloud sampled;
  ASSERT_TRUE(downsampleCloud(crowdAndLoner(499), config, sampled));  // 500 points
  EXPECT_TRUE(sampled.points.empty());
  ASSERT_TRUE(downsampleCloud(crowdAndLoner(500), config, sampled));  // 501 points
  EXPECT_EQ(sampled.points.size(), 2U);
  EXPECT_EQ(sampled.header.frame_id, "camera");
  // With the default cloud_min_point 5 the lone point's voxel is dropped.
  ASSERT_TRUE(downsampleCloud(crowdAndLoner(600), CloudConfig(), sampled));
  ASSERT_EQ(sampled.points.size(), 1U);
  EXPECT_NEAR(sampled.points[0].x, 1.001F, 1e-5F);

  config.cloud_y_leafSize = 0.0F;
  std::string error;
  EXPECT_FALSE(downsampleCloud(crowdAndLoner(600), config, sampled, &error));
  EXPECT_TRUE(sampled.points.empty());
  EXPECT_NE(error.find("leaf"), std::string::npos);
}

TEST(CloudPreprocessTransform, PointsMoveAndTheHeaderIsKept)
{
  PointCloud camera;
  camera.header.frame_id = "camera";
  camera.header.stamp = 42;
  camera.points.emplace_back(0.5F, -0.2F, 2.0F);
  camera.width = 1;
  camera.height = 1;
  PointCloud base;
  transformCloud(camera, forwardCameraToBase(0.2F, 0.1F, 0.6F), base);
  EXPECT_EQ(coordinates(base), (std::vector<std::array<float, 3>>{{2.2F, -0.4F, 0.8F}}));
  EXPECT_EQ(base.header.stamp, 42U);
}

}  // namespace
}  // namespace nimbra::test
