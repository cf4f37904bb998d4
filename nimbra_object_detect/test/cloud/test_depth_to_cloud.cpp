// Strided depth-to-cloud conversion: block grid, first valid pixel, limits, mask, encodings and
// malformed input; then the downsampling of the depth cloud.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <tuple>

#include "cloud_test_scenes.hpp"
#include "common/cloud_preprocess.hpp"
#include "common/depth_to_cloud.hpp"

namespace nimbra::test
{
namespace
{

const CameraIntrinsics kIntrinsics{100.0F, 120.0F, 5.0F, 4.0F};

/// A pixel that must become a point: column, row and depth in metres.
struct Pixel
{
  int u;
  int v;
  float z;
};

/// What one conversion is given; a table row may change any of it.
struct Input
{
  sensor_msgs::msg::Image depth;
  RegionCloudRequest region;
  int stride;
  CameraIntrinsics intrinsics = kIntrinsics;
  float depth_max = 2.0F;
};

TEST(DepthToCloudScan, EachCase)
{
  struct Case
  {
    const char * name;
    int width;
    int height;
    const char * encoding;
    std::function<double(int u, int v)> value;
    std::array<int, 4> region;  ///< x1, y1, x2, y2
    int stride;
    std::size_t count;
    std::vector<Pixel> points;  ///< every point in order; empty: only the count is checked
    std::function<void(Input &)> edit = nullptr;
    const char * refusal = nullptr;  ///< part of the reason of a refused input
  };
  const auto all = [](double stored) { return [stored](int, int) { return stored; }; };
  const auto mask_at = [](int u, int v) {
      return [u, v](Input & in) {
               in.region.mask = cv::Mat::zeros(4, 4, CV_8UC1);
               in.region.mask.at<uint8_t>(v, u) = 1;
             };
    };
  // Refused input: an 8 x 6 image of 1 m in 2 x 2 blocks, spoiled, gives no points and a reason.
  const auto refused = [&all](const char * name, std::function<void(Input &)> spoil,
    const char * reason) {
      return Case{name, 8, 6, "16UC1", all(1000.0), {0, 0, 8, 6}, 2, 0, {}, spoil, reason};
    };
  const double values[] = {std::nan(""), -1.0, HUGE_VAL, 0.5};
  const std::vector<Case> cases = {
    // Each block gives its first valid pixel; block origins are 0, 4 and 8 on both axes (the
    // 2-pixel blocks at the right and bottom edges emit too).
    {"10 x 10 with stride 4 gives 3 x 3 blocks", 10, 10, "16UC1", all(1000.0), {0, 0, 10, 10}, 4,
      9, {{0, 0, 1}, {4, 0, 1}, {8, 0, 1}, {0, 4, 1}, {4, 4, 1}, {8, 4, 1}, {0, 8, 1}, {4, 8, 1},
        {8, 8, 1}}},
    // Block (0, 0): row 0 empty, row 1 has depth from column 2 on.
    {"later valid pixel of a block is used", 4, 4, "16UC1",
      [](int u, int v) { return (v == 0 || (v == 1 && u < 2)) ? 0.0 : 1500.0 + u; },
      {0, 0, 4, 4}, 4, 1, {{2, 1, 1502.0F * 0.001F}}},
    {"stride 1 gives every valid pixel", 6, 5, "16UC1",
      [](int u, int v) { return (u + v) % 2 == 0 ? 800.0 : 0.0; }, {0, 0, 6, 5}, 1, 15, {}},
    // 7 columns in blocks of 3: 3 block columns; 6 rows: 2 block rows.
    {"sub-region starts blocks at its corner", 20, 20, "32FC1", all(1.0), {3, 5, 10, 11}, 3, 6,
      {{3, 5, 1}, {6, 5, 1}, {9, 5, 1}, {3, 8, 1}, {6, 8, 1}, {9, 8, 1}}},
    // Block columns start at -3, 1, 5, 9 (the first holds column 0 only).
    {"region partly outside the image is clipped", 10, 10, "16UC1", all(1000.0), {-3, 6, 14, 12},
      4, 4, {{0, 6, 1}, {1, 6, 1}, {5, 6, 1}, {9, 6, 1}}},
    {"empty region gives no points and no error", 4, 4, "16UC1", all(1000.0), {2, 0, 2, 4}, 1, 0,
      {}},
    {"mask selects a pixel inside the block", 4, 4, "16UC1", all(1000.0), {0, 0, 4, 4}, 4, 1,
      {{3, 2, 1}}, mask_at(3, 2)},
    {"valid depths outside the mask give nothing", 4, 4, "16UC1",
      [](int u, int) { return u < 2 ? 1000.0 : 0.0; }, {0, 0, 4, 4}, 4, 0, {},
      [](Input & in) {
        in.region.mask = cv::Mat::zeros(4, 4, CV_8UC1);
        in.region.mask.colRange(2, 4).setTo(255);
      }},
    // Bounds are strict; 16UC1 and mono16 values are millimetres through the float scale 0.001,
    // as the image conversion does; the other encodings are metres.
    {"stored 0 is no depth", 2, 2, "16UC1", all(0.0), {0, 0, 2, 2}, 2, 0, {}},
    {"stored 1999 is kept", 2, 2, "16UC1", all(1999.0), {0, 0, 2, 2}, 2, 1,
      {{0, 0, 1999.0F * 0.001F}}},
    {"stored 2000 is at the limit", 2, 2, "16UC1", all(2000.0), {0, 0, 2, 2}, 2, 0, {}},
    {"32FC1 exactly at the limit", 2, 2, "32FC1", all(2.0), {0, 0, 2, 2}, 2, 0, {}},
    {"NaN, negative and infinite depths are skipped", 4, 1, "32FC1",
      [&values](int u, int) { return values[u]; }, {0, 0, 4, 1}, 4, 1, {{3, 0, 0.5F}}},
    {"mono16 is millimetres", 2, 2, "mono16", all(1500.0), {0, 0, 2, 2}, 2, 1,
      {{0, 0, 1500.0F * 0.001F}}},
    {"64FC1 is metres", 2, 2, "64FC1", all(1.25), {0, 0, 2, 2}, 2, 1, {{0, 0, 1.25F}}},
    {"8UC1 is metres", 2, 2, "8UC1", all(1.0), {0, 0, 2, 2}, 2, 1, {{0, 0, 1.0F}}},
    {"16SC1 is metres", 2, 2, "16SC1", all(1.0), {0, 0, 2, 2}, 2, 1, {{0, 0, 1.0F}}},
    {"big-endian pixels are swapped", 1, 1, "16UC1", all(0.0), {0, 0, 1, 1}, 1, 1,
      {{0, 0, 1500.0F * 0.001F}}, [](Input & in) {
        in.depth.is_bigendian = 1;
        in.depth.data = {0x05, 0xDC};  // 1500, most significant byte first
      }},
    {"row padding is skipped", 3, 3, "16UC1",
      [](int u, int v) { return 100.0 * (1 + u + 3 * v); }, {0, 0, 3, 3}, 1, 9,
      {{0, 0, 0.1F}, {1, 0, 0.2F}, {2, 0, 0.3F}, {0, 1, 0.4F}, {1, 1, 0.5F}, {2, 1, 0.6F},
        {0, 2, 0.7F}, {1, 2, 0.8F}, {2, 2, 0.9F}},
      [](Input & in) {
        in.depth = makeDepthMessage(
          3, 3, "16UC1", [](int u, int v) { return 100.0 * (1 + u + 3 * v); }, 6);
      }},
    refused("short data", [](Input & in) { in.depth.data.resize(in.depth.data.size() - 1); },
      "bytes"),
    refused("step below the row", [](Input & in) { in.depth.step = 15; }, "step"),
    refused("unsupported encoding", [](Input & in) { in.depth.encoding = "rgb8"; }, "unsupported"),
    refused("empty image", [](Input & in) { in.depth.width = 0; }, "empty"),
    refused("reversed columns", [](Input & in) { std::swap(in.region.x1, in.region.x2); },
      "reverse"),
    refused("reversed rows", [](Input & in) { std::swap(in.region.y1, in.region.y2); }, "reverse"),
    refused("region right of the image", [](Input & in) { in.region.x1 = 8; in.region.x2 = 12; },
      "outside"),
    refused("region above the image", [](Input & in) { in.region.y1 = -5; in.region.y2 = 0; },
      "outside"),
    refused("stride zero", [](Input & in) { in.stride = 0; }, "stride"),
    refused("mask of another size",
      [](Input & in) { in.region.mask = cv::Mat::ones(12, 16, CV_8UC1); }, "mask"),
    refused("mask of another type",
      [](Input & in) { in.region.mask = cv::Mat::ones(6, 8, CV_32FC1); }, "mask"),
    refused("zero focal length", [](Input & in) { in.intrinsics.fx = 0.0F; }, "intrinsics"),
    refused("depth limit NaN", [](Input & in) { in.depth_max = std::nanf(""); }, "depth_max"),
  };
  // One cloud for all rows: each conversion must hold only its own points (the 16-bit stride-2
  // rows take the vectorised path, the others the general scan); a refused input finds 7 there.
  PointCloud cloud;
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    Input in{makeDepthMessage(c.width, c.height, c.encoding, c.value), {}, c.stride};
    std::tie(in.region.x1, in.region.y1, in.region.x2, in.region.y2) =
      std::tie(c.region[0], c.region[1], c.region[2], c.region[3]);
    if (c.edit) {
      c.edit(in);
    }
    if (c.refusal != nullptr) {
      cloud.points.resize(7);
    }
    std::string error;
    EXPECT_EQ(
      DepthToCloud(in.depth, in.intrinsics, in.region, in.depth_max, in.stride, cloud, &error),
      c.refusal == nullptr) << error;
    if (c.refusal != nullptr) {
      EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
    }
    ASSERT_EQ(cloud.points.size(), c.count);
    EXPECT_EQ(cloud.width, c.count);
    EXPECT_EQ(cloud.height, 1U);
    EXPECT_EQ(cloud.header.frame_id, "camera_depth_optical_frame");
    EXPECT_EQ(cloud.header.stamp, 100250000ULL);
    EXPECT_TRUE(cloud.is_dense);
    for (std::size_t i = 0; i < c.points.size(); ++i) {
      const pcl::PointXYZ & p = cloud.points[i];
      const pcl::PointXYZ want = pointAtPixel(kIntrinsics, c.points[i].u, c.points[i].v,
        c.points[i].z);
      EXPECT_NEAR(p.x, want.x, 1e-6F) << i;
      EXPECT_NEAR(p.y, want.y, 1e-6F) << i;
      EXPECT_NEAR(p.z, want.z, 1e-6F) << i;
      EXPECT_EQ(p.data[3], 1.0F) << i;
    }
  }
}

TEST(DepthToCloudView, OpenCvImageIsConvertedWithTheGivenScale)
{
  cv::Mat image(3, 3, CV_16UC1, cv::Scalar(1200));
  DepthImageView view;
  ASSERT_TRUE(makeDepthImageView(image, 0.001F, view));
  RegionCloudRequest region;
  region.x2 = 3;
  region.y2 = 3;
  PointCloud cloud;
  ASSERT_TRUE(DepthToCloud(view, kIntrinsics, region, 2.0F, 3, cloud));
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
    ASSERT_EQ(coordinates(fast), coordinates(general))
      << "trial " << trial << " image " << width << " x " << height << " region (" << region.x1
      << ", " << region.y1 << ")-(" << region.x2 << ", " << region.y2 << ")";
  }
}

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

}  // namespace
}  // namespace nimbra::test
