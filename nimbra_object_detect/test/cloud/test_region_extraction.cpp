// Region clouds of detections that bypass ground removal: floor regions, height bands, largest
// cluster, and refused input.
#include <gtest/gtest.h>
#include <nimbra_perception_libs/cloud_cluster.hpp>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cloud_test_scenes.hpp"
#include "common/cloud.hpp"
#include "common/region_extraction.hpp"

namespace nimbra::test
{
namespace
{

using HeightRanges = std::map<semantic::SemanticType, std::pair<double, double>>;

constexpr int kWidth = 80;
constexpr int kHeight = 40;

class RegionExtractionTest : public ::testing::Test
{
protected:
  RegionExtractionTest()
  {
    params_.intrinsics = CameraIntrinsics{100.0F, 100.0F, 40.0F, 20.0F};
    params_.stride = 1;
    params_.cam_to_base = Eigen::Matrix4f::Identity();
    CloudConfig config;
    config.depth_max = 5.0F;
    context_ = std::make_unique<Cloud>(config,
      std::make_shared<orvix::perception::CloudCluster>(orvix::perception::CloudClusterPara()),
      nullptr);
  }

  static Detection wholeImage(semantic::SemanticType type)
  {
    Detection detection;
    detection.x2 = kWidth;
    detection.y2 = kHeight;
    detection.type = type;
    return detection;
  }

  RegionExtractionParams params_;
  std::unique_ptr<Cloud> context_;  ///< depth_max 5 m, default clusterer
};

TEST_F(RegionExtractionTest, HeightBandOfTheClassOrZeroToTwoMetres)
{
  // Depth 0.3 m + 0.1 m per column, base z = depth - 0.5 m. Without a range of its own the
  // class keeps (0, 2): columns 3..21; with the band (0.5, 1.0): depths 1.1 .. 1.4 m, columns
  // 8..11.
  params_.cam_to_base(2, 3) = -0.5F;
  const auto depth = makeDepthMessage(kWidth, kHeight, "16UC1", [](int u, int v) {
    return v == 0 && u < 28 ? 300.0 + 100.0 * u : 0.0;
  });
  const std::pair<HeightRanges, std::size_t> cases[] = {
    {{{semantic::CHAIR, {1.0, 1.5}}}, 19U}, {{{semantic::ESCALATOR_ENTRANCE, {0.5, 1.0}}}, 4U}};
  for (const auto & [ranges, kept] : cases) {
    RegionExtractionResult result;
    extractDetectionRegions(
      {wholeImage(semantic::ESCALATOR_ENTRANCE)}, depth, *context_, params_, ranges, result);
    ASSERT_EQ(result.dangerous_regions.size(), 1U);
    ASSERT_EQ(result.dangerous_stats.size(), 1U);
    EXPECT_EQ(result.dangerous_stats[0].kept_points, kept);
    const ClassCloudInfo & region = result.dangerous_regions[0];
    EXPECT_EQ(region.type, semantic::ESCALATOR_ENTRANCE);
    EXPECT_FALSE(region.has_detection);
    EXPECT_EQ(region.cloud.points.size(), kept);
  }
}

TEST_F(RegionExtractionTest, LargestOfThreeClustersIsKept)
{
  // Three patches 1 m ahead, 0.15 m and more apart: 8 x 5, 12 x 10 and 15 x 5 pixels.
  const auto depth = makeDepthMessage(kWidth, kHeight, "16UC1", [](int u, int v) {
    const bool a = u >= 2 && u <= 9 && v >= 5 && v <= 9;
    const bool b = u >= 25 && u <= 36 && v >= 5 && v <= 14;
    const bool c = u >= 55 && u <= 69 && v >= 5 && v <= 9;
    return a || b || c ? 1000.0 : 0.0;
  });
  RegionExtractionResult result;
  extractDetectionRegions(
    {wholeImage(semantic::ESCALATOR_ENTRANCE)}, depth, *context_, params_, {}, result);
  ASSERT_EQ(result.dangerous_regions.size(), 1U);
  EXPECT_EQ(result.dangerous_stats[0].cluster_count, 3);
  EXPECT_EQ(result.dangerous_stats[0].kept_points, 235U);
  const PointCloud & kept = result.dangerous_regions[0].cloud;
  ASSERT_EQ(kept.points.size(), 120U);
  EXPECT_EQ(kept.width, 120U);
  for (const auto & p : kept.points) {
    EXPECT_GE(p.x, (25.0F - 40.0F) / 100.0F - 1e-5F);
    EXPECT_LE(p.x, (36.0F - 40.0F) / 100.0F + 1e-5F);
  }
}

TEST_F(RegionExtractionTest, RecordsFollowDetectionOrderAndSkipEmptyRegions)
{
  const auto depth = makeDepthMessage(
    kWidth, kHeight, "16UC1", [](int u, int) { return u < 40 ? 1000.0 : 0.0; });
  Detection left = wholeImage(semantic::BASE);
  left.x2 = 20;
  Detection right_without_depth = wholeImage(semantic::ESCALATOR_ENTRANCE);
  right_without_depth.x1 = 50;
  Detection bad_mask = wholeImage(semantic::ESCALATOR_ENTRANCE);
  bad_mask.mask = cv::Mat::ones(10, 10, CV_16UC1);
  Detection middle = wholeImage(semantic::ESCALATOR_ENTRANCE);
  middle.x1 = 20;
  middle.x2 = 40;
  RegionExtractionResult result;
  extractDetectionRegions(
    {left, right_without_depth, bad_mask, middle}, depth, *context_, params_, {}, result);
  ASSERT_EQ(result.floor_regions.size(), 1U);
  EXPECT_EQ(result.floor_regions[0].type, semantic::BASE);
  ASSERT_EQ(result.dangerous_regions.size(), 1U);
  EXPECT_EQ(result.dangerous_stats.size(), 1U);
  EXPECT_EQ(result.errors, std::vector<std::string>{"detection 2: mask of type CV_16UC1 and size "
    "10 x 10 cannot be mapped onto the 80 x 40 depth image"});

  // A malformed depth image gives no region and a reason.
  auto malformed = depth;
  malformed.data.resize(10);
  result = RegionExtractionResult();
  extractDetectionRegions({left}, malformed, *context_, params_, {}, result);
  EXPECT_TRUE(result.floor_regions.empty());
  ASSERT_EQ(result.errors.size(), 1U);
  EXPECT_NE(result.errors[0].find("depth image"), std::string::npos);
}

TEST_F(RegionExtractionTest, ColourMaskOfTwiceTheDepthSizeIsMappedOntoTheDepthImage)
{
  // Depth 1 m everywhere; the colour image is 160 x 80. The colour mask covers colour columns
  // 40..79 and rows 20..59 (depth 20..39 and 10..29), minus one colour pixel that no depth pixel
  // centre falls on (42, 22) and one that depth pixel (25, 15) does fall on (51, 31). Base z =
  // depth - 3 m: a floor region keeps its points whatever their height.
  params_.cam_to_base(2, 3) = -3.0F;
  const auto depth = makeDepthMessage(kWidth, kHeight, "16UC1", [](int, int) { return 1000.0; });
  Detection colour = makeDetection(
    semantic::CARPET, rectangleMask(cv::Size(2 * kWidth, 2 * kHeight), 40, 79, 20, 59));
  colour.mask.at<uint8_t>(22, 42) = 0;
  colour.mask.at<uint8_t>(31, 51) = 0;
  Detection same_in_depth = makeDetection(
    semantic::CARPET, rectangleMask(cv::Size(kWidth, kHeight), 20, 39, 10, 29));
  same_in_depth.mask.at<uint8_t>(15, 25) = 0;
  RegionExtractionResult mapped;
  RegionExtractionResult direct;
  extractDetectionRegions({colour}, depth, *context_, params_, {}, mapped);
  extractDetectionRegions({same_in_depth}, depth, *context_, params_, {}, direct);
  EXPECT_TRUE(mapped.errors.empty()) << mapped.errors.front();
  ASSERT_EQ(mapped.floor_regions.size(), 1U);
  ASSERT_EQ(direct.floor_regions.size(), 1U);
  const ClassCloudInfo & region = mapped.floor_regions[0];
  EXPECT_EQ(region.type, semantic::CARPET);
  EXPECT_TRUE(region.has_detection);
  EXPECT_EQ(region.detection.type, semantic::NO_TYPE);
  EXPECT_TRUE(region.detection.mask.empty());
  ASSERT_EQ(region.cloud.points.size(), 399U);
  EXPECT_NEAR(region.cloud.points[0].z, -2.0F, 1e-5F);
  EXPECT_EQ(region.cloud.header.frame_id, "base_footprint");
  EXPECT_EQ(region.cloud.header.stamp, 100250000ULL);
  EXPECT_EQ(coordinates(region.cloud), coordinates(direct.floor_regions[0].cloud));
}

}  // namespace
}  // namespace nimbra::test
