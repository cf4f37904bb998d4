// Strided depth-to-cloud conversion: block grid, first valid pixel, limits, mask, encodings and
// malformed input.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "cloud_test_scenes.hpp"
#include "common/depth_to_cloud.hpp"

namespace nimbra::test
{
namespace
{

const CameraIntrinsics kIntrinsics{100.0F, 120.0F, 5.0F, 4.0F};

RegionCloudRequest wholeImage(int width, int height)
{
  RegionCloudRequest region;
  region.x2 = width;
  region.y2 = height;
  return region;
}

PointCloud convert(
  const sensor_msgs::msg::Image & depth, const RegionCloudRequest & region, float depth_max,
  int stride, bool expect_ok = true)
{
  PointCloud cloud;
  std::string error;
  EXPECT_EQ(expect_ok, DepthToCloud(depth, kIntrinsics, region, depth_max, stride, cloud, &error))
    << error;
  EXPECT_EQ(cloud.height, 1U);
  EXPECT_EQ(cloud.width, cloud.points.size());
  return cloud;
}

TEST(DepthToCloudGrid, TenByTenWithStrideFourGivesThreeByThreeBlocks)
{
  const auto depth = makeDepthMessage(10, 10, "16UC1", [](int, int) { return 1000.0; });
  const PointCloud cloud = convert(depth, wholeImage(10, 10), 2.0F, 4);
  ASSERT_EQ(cloud.points.size(), 9U);
  // Each block contributes its top-left pixel; block origins are 0, 4 and 8 on both axes.
  const int origins[] = {0, 4, 8};
  std::size_t i = 0;
  for (int v : origins) {
    for (int u : origins) {
      const pcl::PointXYZ & p = cloud.points[i++];
      EXPECT_FLOAT_EQ(p.z, 1.0F);
      EXPECT_FLOAT_EQ(p.x, (static_cast<float>(u) - kIntrinsics.cx) * 1.0F / kIntrinsics.fx);
      EXPECT_FLOAT_EQ(p.y, (static_cast<float>(v) - kIntrinsics.cy) * 1.0F / kIntrinsics.fy);
    }
  }
}

TEST(DepthToCloudGrid, LastBlocksAreTwoPixelsWide)
{
  // Only the last two columns and rows hold depth: the 2-pixel blocks at the edge still emit.
  const auto depth = makeDepthMessage(
    10, 10, "16UC1", [](int u, int v) { return (u >= 8 && v >= 8) ? 1000.0 : 0.0; });
  const PointCloud cloud = convert(depth, wholeImage(10, 10), 2.0F, 4);
  ASSERT_EQ(cloud.points.size(), 1U);
  EXPECT_FLOAT_EQ(cloud.points[0].x, (8.0F - kIntrinsics.cx) / kIntrinsics.fx);
}

TEST(DepthToCloudGrid, LaterValidPixelOfBlockIsUsed)
{
  // Block (0, 0) of stride 4: row 0 empty, row 1 has depth from column 2 on.
  const auto depth = makeDepthMessage(4, 4, "16UC1", [](int u, int v) {
    if (v == 0 || (v == 1 && u < 2)) {
      return 0.0;
    }
    return 1500.0 + u;
  });
  const PointCloud cloud = convert(depth, wholeImage(4, 4), 2.0F, 4);
  ASSERT_EQ(cloud.points.size(), 1U);
  const float d = 1502.0F * 0.001F;
  EXPECT_FLOAT_EQ(cloud.points[0].z, d);
  EXPECT_FLOAT_EQ(cloud.points[0].x, (2.0F - kIntrinsics.cx) * d / kIntrinsics.fx);
  EXPECT_FLOAT_EQ(cloud.points[0].y, (1.0F - kIntrinsics.cy) * d / kIntrinsics.fy);
}

TEST(DepthToCloudGrid, StrideOneGivesEveryValidPixel)
{
  const auto depth =
    makeDepthMessage(6, 5, "16UC1", [](int u, int v) { return (u + v) % 2 == 0 ? 800.0 : 0.0; });
  EXPECT_EQ(convert(depth, wholeImage(6, 5), 2.0F, 1).points.size(), 15U);
}

TEST(DepthToCloudGrid, SubRegionStartsBlocksAtItsCorner)
{
  const auto depth = makeDepthMessage(20, 20, "32FC1", [](int, int) { return 1.0; });
  RegionCloudRequest region;
  region.x1 = 3;
  region.y1 = 5;
  region.x2 = 10;  // 7 columns: blocks of 3 -> 3 columns of blocks
  region.y2 = 11;  // 6 rows: 2 rows of blocks
  const PointCloud cloud = convert(depth, region, 2.0F, 3);
  ASSERT_EQ(cloud.points.size(), 6U);
  EXPECT_FLOAT_EQ(cloud.points[0].x, (3.0F - kIntrinsics.cx) / kIntrinsics.fx);
  EXPECT_FLOAT_EQ(cloud.points[0].y, (5.0F - kIntrinsics.cy) / kIntrinsics.fy);
  EXPECT_FLOAT_EQ(cloud.points[5].x, (9.0F - kIntrinsics.cx) / kIntrinsics.fx);
  EXPECT_FLOAT_EQ(cloud.points[5].y, (8.0F - kIntrinsics.cy) / kIntrinsics.fy);
}

TEST(DepthToCloudLimits, DepthBoundsAreStrict)
{
  // 16UC1 values go through the float scale 0.001, as the image conversion does.
  struct Case
  {
    double stored;
    bool kept;
  };
  const Case cases[] = {{0.0, false}, {1.0, true}, {1999.0, true}, {2000.0, false}, {2001.0, false}};
  for (const Case & c : cases) {
    const auto depth = makeDepthMessage(2, 2, "16UC1", [&c](int, int) { return c.stored; });
    EXPECT_EQ(convert(depth, wholeImage(2, 2), 2.0F, 2).points.size(), c.kept ? 1U : 0U)
      << "stored " << c.stored;
  }
  const auto exact = makeDepthMessage(2, 2, "32FC1", [](int, int) { return 2.0; });
  EXPECT_TRUE(convert(exact, wholeImage(2, 2), 2.0F, 2).points.empty());
}

TEST(DepthToCloudLimits, NonFiniteAndNegativeDepthsAreSkipped)
{
  const double values[] = {std::nan(""), -1.0, HUGE_VAL, 0.5};
  const auto depth =
    makeDepthMessage(4, 1, "32FC1", [&values](int u, int) { return values[u]; });
  const PointCloud cloud = convert(depth, wholeImage(4, 1), 2.0F, 4);
  ASSERT_EQ(cloud.points.size(), 1U);
  EXPECT_FLOAT_EQ(cloud.points[0].z, 0.5F);
  EXPECT_TRUE(cloud.is_dense);
}

TEST(DepthToCloudMask, MaskSelectsPixelsInsideTheBlock)
{
  const auto depth = makeDepthMessage(4, 4, "16UC1", [](int, int) { return 1000.0; });
  RegionCloudRequest region = wholeImage(4, 4);
  region.mask = cv::Mat::zeros(4, 4, CV_8UC1);
  region.mask.at<uint8_t>(2, 3) = 1;
  const PointCloud cloud = convert(depth, region, 2.0F, 4);
  ASSERT_EQ(cloud.points.size(), 1U);
  EXPECT_FLOAT_EQ(cloud.points[0].x, (3.0F - kIntrinsics.cx) / kIntrinsics.fx);
  EXPECT_FLOAT_EQ(cloud.points[0].y, (2.0F - kIntrinsics.cy) / kIntrinsics.fy);
}

TEST(DepthToCloudMask, BlockWhoseValidDepthsLieOutsideTheMaskYieldsNothing)
{
  // Valid depth only in the left half, mask only in the right half.
  const auto depth =
    makeDepthMessage(4, 4, "16UC1", [](int u, int) { return u < 2 ? 1000.0 : 0.0; });
  RegionCloudRequest region = wholeImage(4, 4);
  region.mask = cv::Mat::zeros(4, 4, CV_8UC1);
  region.mask.colRange(2, 4).setTo(255);
  EXPECT_TRUE(convert(depth, region, 2.0F, 4).points.empty());
}

TEST(DepthToCloudEncoding, UnitsFollowTheEncoding)
{
  struct Case
  {
    const char * encoding;
    double stored;
    float z;
  };
  const Case cases[] = {
    {"16UC1", 1500.0, 1500.0F * 0.001F}, {"mono16", 1500.0, 1500.0F * 0.001F},
    {"32FC1", 1.5, 1.5F},                {"64FC1", 1.25, 1.25F},
    {"8UC1", 1.0, 1.0F},                 {"16SC1", 1.0, 1.0F},
  };
  for (const Case & c : cases) {
    const auto depth = makeDepthMessage(2, 2, c.encoding, [&c](int, int) { return c.stored; });
    const PointCloud cloud = convert(depth, wholeImage(2, 2), 2.0F, 2);
    ASSERT_EQ(cloud.points.size(), 1U) << c.encoding;
    EXPECT_FLOAT_EQ(cloud.points[0].z, c.z) << c.encoding;
  }
  const auto millimetres = makeDepthMessage(1, 1, "16UC1", [](int, int) { return 1500.0; });
  EXPECT_NEAR(convert(millimetres, wholeImage(1, 1), 2.0F, 1).points[0].z, 1.5F, 1e-6F);
}

TEST(DepthToCloudEncoding, BigEndianPixelsAreSwapped)
{
  sensor_msgs::msg::Image depth = makeDepthMessage(1, 1, "16UC1", [](int, int) { return 0.0; });
  depth.is_bigendian = 1;
  depth.data = {0x05, 0xDC};  // 1500 stored most significant byte first
  const PointCloud cloud = convert(depth, wholeImage(1, 1), 2.0F, 1);
  ASSERT_EQ(cloud.points.size(), 1U);
  EXPECT_NEAR(cloud.points[0].z, 1.5F, 1e-6F);
}

TEST(DepthToCloudEncoding, RowPaddingIsSkipped)
{
  const auto depth =
    makeDepthMessage(3, 3, "16UC1", [](int u, int v) { return 100.0 * (1 + u + 3 * v); }, 6);
  const PointCloud cloud = convert(depth, wholeImage(3, 3), 2.0F, 1);
  ASSERT_EQ(cloud.points.size(), 9U);
  EXPECT_NEAR(cloud.points[8].z, 0.9F, 1e-6F);
}

TEST(DepthToCloudMessage, HeaderAndOutputReplacePreviousContent)
{
  const auto depth = makeDepthMessage(4, 4, "16UC1", [](int, int) { return 1000.0; });
  PointCloud cloud;
  cloud.points.resize(50);
  ASSERT_TRUE(DepthToCloud(depth, kIntrinsics, wholeImage(4, 4), 2.0F, 2, cloud));
  EXPECT_EQ(cloud.points.size(), 4U);
  EXPECT_EQ(cloud.header.frame_id, "camera_depth_optical_frame");
  EXPECT_EQ(cloud.header.stamp, 100250000ULL);
}

TEST(DepthToCloudRegion, RegionPartlyOutsideTheImageIsClipped)
{
  const auto depth = makeDepthMessage(10, 10, "16UC1", [](int, int) { return 1000.0; });
  RegionCloudRequest region;
  region.x1 = -3;  // block columns start at -3, 1, 5, 9 (the first holds columns 0..0)
  region.y1 = 6;
  region.x2 = 14;
  region.y2 = 12;
  const PointCloud cloud = convert(depth, region, 2.0F, 4);
  ASSERT_EQ(cloud.points.size(), 4U);
  EXPECT_FLOAT_EQ(cloud.points[0].x, (0.0F - kIntrinsics.cx) / kIntrinsics.fx);
  EXPECT_FLOAT_EQ(cloud.points[1].x, (1.0F - kIntrinsics.cx) / kIntrinsics.fx);
  EXPECT_FLOAT_EQ(cloud.points[3].x, (9.0F - kIntrinsics.cx) / kIntrinsics.fx);
}

TEST(DepthToCloudRegion, EmptyRegionGivesNoPointsWithoutError)
{
  const auto depth = makeDepthMessage(4, 4, "16UC1", [](int, int) { return 1000.0; });
  RegionCloudRequest region;
  region.x1 = 2;
  region.x2 = 2;
  region.y2 = 4;
  EXPECT_TRUE(convert(depth, region, 2.0F, 1).points.empty());
}

/// A request or message that must be refused with an empty cloud and a reason.
struct Malformed
{
  const char * name;
  std::function<void(sensor_msgs::msg::Image &, RegionCloudRequest &, int &)> spoil;
  const char * reason_part;
};

class DepthToCloudMalformed : public ::testing::TestWithParam<Malformed>
{
};

TEST_P(DepthToCloudMalformed, GivesEmptyCloudAndReason)
{
  sensor_msgs::msg::Image depth = makeDepthMessage(8, 6, "16UC1", [](int, int) { return 1000.0; });
  RegionCloudRequest region = wholeImage(8, 6);
  int stride = 2;
  GetParam().spoil(depth, region, stride);
  PointCloud cloud;
  cloud.points.resize(7);
  std::string error;
  EXPECT_FALSE(DepthToCloud(depth, kIntrinsics, region, 2.0F, stride, cloud, &error));
  EXPECT_TRUE(cloud.points.empty());
  EXPECT_EQ(cloud.width, 0U);
  EXPECT_NE(error.find(GetParam().reason_part), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
  Cases, DepthToCloudMalformed,
  ::testing::Values(
    Malformed{"ShortData", [](auto & d, auto &, int &) { d.data.resize(d.data.size() - 1); },
              "bytes"},
    Malformed{"StepBelowRow", [](auto & d, auto &, int &) { d.step = 15; }, "step"},
    Malformed{"UnsupportedEncoding", [](auto & d, auto &, int &) { d.encoding = "rgb8"; },
              "unsupported"},
    Malformed{"EmptyImage", [](auto & d, auto &, int &) { d.width = 0; }, "empty"},
    Malformed{"ReversedColumns", [](auto &, auto & r, int &) { std::swap(r.x1, r.x2); },
              "reverse"},
    Malformed{"ReversedRows", [](auto &, auto & r, int &) { std::swap(r.y1, r.y2); }, "reverse"},
    Malformed{"RegionRightOfImage", [](auto &, auto & r, int &) { r.x1 = 8; r.x2 = 12; },
              "outside"},
    Malformed{"RegionAboveImage", [](auto &, auto & r, int &) { r.y1 = -5; r.y2 = 0; },
              "outside"},
    Malformed{"StrideZero", [](auto &, auto &, int & s) { s = 0; }, "stride"},
    Malformed{"MaskOfOtherSize",
              [](auto &, auto & r, int &) { r.mask = cv::Mat::ones(12, 16, CV_8UC1); }, "mask"},
    Malformed{"MaskOfOtherType",
              [](auto &, auto & r, int &) { r.mask = cv::Mat::ones(6, 8, CV_32FC1); }, "mask"}),
  [](const ::testing::TestParamInfo<Malformed> & param_info) { return std::string(param_info.param.name); });

TEST(DepthToCloudMalformedParameters, UnusableIntrinsicsAndLimitAreRefused)
{
  const auto depth = makeDepthMessage(4, 4, "16UC1", [](int, int) { return 1000.0; });
  PointCloud cloud;
  std::string error;
  EXPECT_FALSE(DepthToCloud(
    depth, CameraIntrinsics{0.0F, 100.0F, 2.0F, 2.0F}, wholeImage(4, 4), 2.0F, 1, cloud, &error));
  EXPECT_NE(error.find("intrinsics"), std::string::npos);
  EXPECT_FALSE(
    DepthToCloud(depth, kIntrinsics, wholeImage(4, 4), std::nanf(""), 1, cloud, &error));
  EXPECT_NE(error.find("depth_max"), std::string::npos);
}

TEST(DepthToCloudView, OpenCvImageIsConvertedWithTheGivenScale)
{
  cv::Mat image(3, 3, CV_16UC1, cv::Scalar(1200));
  DepthImageView view;
  ASSERT_TRUE(makeDepthImageView(image, 0.001F, view));
  PointCloud cloud;
  ASSERT_TRUE(DepthToCloud(view, kIntrinsics, wholeImage(3, 3), 2.0F, 3, cloud));
  ASSERT_EQ(cloud.points.size(), 1U);
  EXPECT_NEAR(cloud.points[0].z, 1.2F, 1e-6F);
  std::string error;
  EXPECT_FALSE(makeDepthImageView(cv::Mat(3, 3, CV_8UC3), 1.0F, view, &error));
  EXPECT_NE(error.find("channels"), std::string::npos);
}

TEST(DepthToCloudPaths, SixteenBitStrideTwoMatchesTheGeneralScan)
{
  // Native-order 16-bit images with 2 x 2 blocks and no mask take a vectorised path; the same
  // pixels stored big-endian take the general scan. Both must give identical clouds, also for
  // regions cut by the image border and sparse or out-of-range depths.
  std::mt19937 random(20240611U);
  std::uniform_int_distribution<int> size(3, 90);
  std::uniform_real_distribution<double> share(0.0, 1.0);
  for (int trial = 0; trial < 60; ++trial) {
    const int width = size(random);
    const int height = size(random);
    const double holes = share(random);
    std::uniform_int_distribution<int> stored(0, 3000);
    std::vector<double> values(static_cast<std::size_t>(width * height));
    for (double & value : values) {
      value = share(random) < holes ? 0.0 : stored(random);
    }
    const auto pixel = [&values, width](int u, int v) {
      return values[static_cast<std::size_t>(v * width + u)];
    };
    const auto native = makeDepthMessage(width, height, "16UC1", pixel, trial % 3);
    sensor_msgs::msg::Image swapped = native;
    swapped.is_bigendian = 1;
    for (std::size_t v = 0; v < swapped.height; ++v) {
      for (std::size_t u = 0; u < swapped.width; ++u) {
        const std::size_t at = v * swapped.step + 2 * u;
        std::swap(swapped.data[at], swapped.data[at + 1]);
      }
    }
    std::uniform_int_distribution<int> corner_u(-5, width + 2);
    std::uniform_int_distribution<int> corner_v(-5, height + 2);
    RegionCloudRequest region;
    region.x1 = corner_u(random);
    region.y1 = corner_v(random);
    region.x2 = std::max(region.x1 + 1, std::min(corner_u(random) + width / 2, width + 4));
    region.y2 = std::max(region.y1 + 1, std::min(corner_v(random) + height / 2, height + 4));
    PointCloud fast;
    PointCloud general;
    const bool fast_ok = DepthToCloud(native, kIntrinsics, region, 2.0F, 2, fast);
    const bool general_ok = DepthToCloud(swapped, kIntrinsics, region, 2.0F, 2, general);
    ASSERT_EQ(fast_ok, general_ok) << "trial " << trial;
    ASSERT_EQ(fast.points.size(), general.points.size())
      << "trial " << trial << " image " << width << " x " << height << " region (" << region.x1
      << ", " << region.y1 << ")-(" << region.x2 << ", " << region.y2 << ")";
    for (std::size_t i = 0; i < fast.points.size(); ++i) {
      EXPECT_EQ(fast.points[i].x, general.points[i].x) << "trial " << trial << " point " << i;
      EXPECT_EQ(fast.points[i].y, general.points[i].y) << "trial " << trial << " point " << i;
      EXPECT_EQ(fast.points[i].z, general.points[i].z) << "trial " << trial << " point " << i;
    }
  }
}

TEST(DepthToCloudPaths, ReusedCloudHoldsOnlyTheNewPoints)
{
  const auto many = makeDepthMessage(40, 40, "16UC1", [](int, int) { return 1000.0; });
  const auto few =
    makeDepthMessage(40, 40, "16UC1", [](int u, int v) { return u < 4 && v < 2 ? 900.0 : 0.0; });
  PointCloud cloud;
  ASSERT_TRUE(DepthToCloud(many, kIntrinsics, wholeImage(40, 40), 2.0F, 2, cloud));
  EXPECT_EQ(cloud.points.size(), 400U);
  ASSERT_TRUE(DepthToCloud(few, kIntrinsics, wholeImage(40, 40), 2.0F, 2, cloud));
  ASSERT_EQ(cloud.points.size(), 2U);
  EXPECT_EQ(cloud.width, 2U);
  EXPECT_FLOAT_EQ(cloud.points[1].z, 900.0F * 0.001F);
  EXPECT_FLOAT_EQ(cloud.points[1].data[3], 1.0F);
}

}  // namespace
}  // namespace nimbra::test
