// One trash frame on constructed depth images: the geometry of a detection (border test, instance
// cloud, size estimate, colour box on the depth image) and the frame's rules (split, point count,
// range, support by a base or bench, height band, area, the bottle announcements of camera 1).
#include <gtest/gtest.h>
#include <Eigen/Geometry>

#include <algorithm>
#include <limits>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "camera/trash_estimator.hpp"
#include "camera/trash_frame.hpp"
#include "cloud_test_scenes.hpp"
#include "common/semantic_type.hpp"
#include "log_capture.hpp"

namespace nimbra::test
{
namespace
{

using Heights = std::map<semantic::SemanticType, std::pair<double, double>>;

constexpr int kWidth = 100;
constexpr int kHeight = 80;

/// A detection of `type` with the box's corners and no mask.
Detection Box(semantic::SemanticType type, int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
  return Detection{{x1, y1, x2, y2, cv::Mat()}, {}, 0.0F, 0, type};
}

/// A forward-looking camera 0.5 m above the floor: optical z ahead (base x), x right, y down.
TrashCamera Camera()
{
  // fx, fy, cx, cy, width, height, depth_max, camera to base_footprint
  return TrashCamera{50.0F, 50.0F, 50.0F, 40.0F, kWidth, kHeight, 3.0F,
    forwardCameraToBase(0.0F, 0.0F, 0.5F)};
}

/// Litter of `type` whose box is columns [u1, u2) x rows [v1, v2) and whose mask keeps `pixels`
/// of them (row by row), all at `depth` metres in `image`.
Detection Item(semantic::SemanticType type, int u1, int v1, int u2, int v2, int pixels,
  float depth, cv::Mat & image)
{
  Detection d = Box(type, u1, v1, u2, v2);
  d.mask = cv::Mat::zeros(kHeight, kWidth, CV_8UC1);
  int kept = 0;
  for (int v = v1; v < v2; ++v) {
    for (int u = u1; u < u2 && kept < pixels; ++u, ++kept) {
      d.mask.at<uint8_t>(v, u) = 255;
      image.at<float>(v, u) = depth;
    }
  }
  return d;
}

TrashRules Rules(int32_t cam_id = 1)
{
  return TrashRules{cam_id, {semantic::PAPER, semantic::BOTTLE}};
}

TEST(TrashEstimator, BorderTestAtTheThresholdAndOnePixelInside)
{
  // Image 100 x 80, threshold 5: the box may reach columns 5..95 and rows 5..75.
  EXPECT_FALSE(trashTouchesBorder(Box(semantic::PAPER, 5, 5, 95, 75), 5, 100, 80));
  for (const Detection & box : {Box(semantic::PAPER, 4, 5, 95, 75),
      Box(semantic::PAPER, 5, 4, 95, 75), Box(semantic::PAPER, 5, 5, 96, 75),
      Box(semantic::PAPER, 5, 5, 95, 76)})
  {
    EXPECT_TRUE(trashTouchesBorder(box, 5, 100, 80)) << box.x1 << "," << box.y1 << " " << box.x2;
  }
}

TEST(TrashEstimator, InstanceCloudTakesFiniteDepthInsideRangeBoxAndMask)
{
  // Columns 2..9: unusable depths in row 2 (depth_max is 3 m), usable ones (1.2 .. 1.9 m) in row 3.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float unusable[] = {nan, inf, -inf, -1.0F, 0.0F, 3.0F, 3.5F, nan};
  cv::Mat depth(kHeight, kWidth, CV_32FC1, cv::Scalar(0.0F));
  for (int u = 2; u < 10; ++u) {
    depth.at<float>(2, u) = unusable[u - 2];
    depth.at<float>(3, u) = 1.0F + 0.1F * static_cast<float>(u);
  }
  // Each row: the box's columns 2 .. x2 - 1 (rows 0..9); the mask's rows (0: no mask; kHeight:
  // the image's size, column 2 left out; 5: another size); the points taken.
  pcl::PointCloud<pcl::PointXYZ> cloud;
  for (const auto & [x2, mask_rows, points] : std::vector<std::tuple<int32_t, int, std::size_t>>{
      {6, 0, 4}, {7, 0, 5}, {7, kHeight, 4}, {400, 0, 8}, {10, 5, 0}})
  {
    Detection detection = Box(semantic::PAPER, 2, 0, x2, 10);
    if (mask_rows > 0) {
      detection.mask = cv::Mat(mask_rows, kWidth, CV_8UC1, cv::Scalar(1));
      detection.mask.col(2).setTo(0);
    }
    trashInstanceCloud(depth, detection, Camera(), cloud);
    ASSERT_EQ(cloud.size(), points) << "x2 " << x2 << " mask rows " << mask_rows;
    for (const auto & p : cloud.points) {
      EXPECT_NEAR(p.y, (3.0F - 40.0F) * p.z / 50.0F, 1e-6F);  // row 3 only
    }
  }
  trashInstanceCloud(depth, Box(semantic::PAPER, 4, 3, 5, 4), Camera(), cloud);
  ASSERT_EQ(cloud.size(), 1U);
  EXPECT_NEAR(cloud.points[0].x, (4.0F - 50.0F) * 1.4F / 50.0F, 1e-6F);
}

TEST(TrashEstimator, SizeOfAKnownBoxAndTooFewPoints)
{
  // A 0.3 x 0.1 x 0.2 m box on the floor, turned 30 degrees, seen by the forward camera.
  const Eigen::Matrix4f cam_to_base = Camera().cam_to_base;
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
  // Below 20 points: no size (the rule table pins all three -1 values through the frame).
  for (const std::size_t count : {20, 19, 5}) {
    cloud.resize(count);
    EXPECT_EQ(ComputeWasteSize3D(cloud, cam_to_base)[0] == -1.0F, count < 20) << count;
  }
}

TEST(TrashEstimator, ColourBoxIsScaledOntoADepthImageOfHalfItsSize)
{
  // The mask's resampling is pinned by the region extraction tests; the trash instance cloud
  // also reads the box, which must shrink with the image.
  Detection colour = Box(semantic::PAPER, 1, 1, 7, 5);
  colour.mask = cv::Mat(6, 8, CV_8UC1, cv::Scalar(1));
  Detection depth;
  ASSERT_TRUE(mapDetectionToImage(colour, 4, 3, depth));
  ASSERT_EQ(depth.mask.size(), cv::Size(4, 3));
  EXPECT_EQ(std::vector<int32_t>({depth.x1, depth.y1, depth.x2, depth.y2}),
    std::vector<int32_t>({0, 0, 4, 3}));
  // Without a mask the box stays as it is.
  ASSERT_TRUE(mapDetectionToImage(Box(semantic::PAPER, 1, 1, 7, 5), 4, 3, depth));
  EXPECT_EQ(depth.x2, 7);
}

TEST(TrashFrame, EachRuleAtItsLimit)
{
  // Row 65 lies on the floor at 1 m (y = (65 - 40) / 50 = 0.5 m below the camera).
  const Heights floor_band{{semantic::PAPER, {-0.05, 0.08}}};
  struct Case
  {
    const char * name;
    int pixels;
    float depth;
    int row;
    Heights heights;
    std::vector<Detection> others;  // split from the paper as the worker does
    std::size_t observations;
  };
  const std::vector<Case> cases{
    {"4 points are too few", 4, 1.0F, 65, floor_band, {}, 0},
    {"5 points are enough; no size, area test passed", 5, 1.0F, 65, floor_band, {}, 1},
    {"ahead exactly at threshold + 0.5", 8, 2.0F, 65, floor_band, {}, 1},
    {"ahead beyond threshold + 0.5", 8, 2.01F, 65, floor_band, {}, 0},
    {"height equal to the class maximum", 8, 1.0F, 65, {{semantic::PAPER, {-0.05, 0.0}}}, {}, 0},
    {"above the band, on nothing", 8, 1.0F, 55, floor_band, {}, 0},
    {"above the band, box overlap exactly 0.7", 8, 1.0F, 55, floor_band,
      {Box(semantic::WAITING_BENCH, 20, 55, 27, 56)}, 0},
    {"above the band, box overlap 0.8 with a bench", 8, 1.0F, 55, floor_band,
      {Box(semantic::WAITING_BENCH, 20, 55, 28, 56)}, 1},
    {"above the band, box overlap 0.8 with a base", 8, 1.0F, 55, floor_band,
      {Box(semantic::BASE, 20, 55, 28, 56)}, 1},
    {"above the band, box overlap 0.8 with a chair", 8, 1.0F, 55, floor_band,
      {Box(semantic::CHAIR, 20, 55, 28, 56)}, 0},
    {"class without a height band", 8, 1.0F, 65, {}, {}, 0},
    {"class without a height band, again: no second warning", 8, 1.0F, 65, {}, {}, 0},
  };
  LogCapture log;
  TrashFrameEstimator frame(Rules());
  for (const auto & c : cases) {
    cv::Mat depth = cv::Mat::zeros(kHeight, kWidth, CV_32FC1);
    std::vector<Detection> detections = c.others;
    detections.push_back(Item(semantic::PAPER, 20, c.row, 30, c.row + 1, c.pixels, c.depth, depth));
    std::vector<Detection> trash;
    std::vector<Detection> bases;
    frame.split(detections, trash, bases);
    ASSERT_EQ(trash.size(), 1u) << c.name;
    const auto result = frame.estimate(trash, bases, depth, Camera(), Eigen::Matrix4f::Identity(),
        c.heights);
    ASSERT_EQ(result.observations.size(), c.observations) << c.name;
    if (c.observations == 1 && c.pixels < 20) {
      EXPECT_EQ(result.observations[0].size, (std::vector<float>{-1.0F, -1.0F, -1.0F})) << c.name;
    }
  }
  const auto lines = log.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "[WARN] cam_1 trash class PAPER has no height "
    "range in the model height file; its detections are not used"), 1);
}

TEST(TrashFrame, BottlesOutsideTheirBandAreAnnouncedOnceByCameraOneOnly)
{
  const Heights heights{{semantic::BOTTLE, {-0.05, 0.15}}};
  // Rows 50 and 52 at 1 m: 0.3 and 0.26 m above the floor, outside the band.
  cv::Mat depth = cv::Mat::zeros(kHeight, kWidth, CV_32FC1);
  const std::vector<Detection> bottles{Item(semantic::BOTTLE, 20, 50, 30, 51, 8, 1.0F, depth),
    Item(semantic::BOTTLE, 60, 52, 70, 53, 8, 1.0F, depth)};
  TrashFrameEstimator camera_one(Rules(1));
  const auto first = camera_one.estimate(bottles, {}, depth, Camera(), Eigen::Matrix4f::Identity(),
      heights);
  EXPECT_TRUE(first.observations.empty());
  ASSERT_TRUE(first.announced.has_value());
  EXPECT_EQ(camera_one.broadcastHistory().size(), 1u);

  // The first bottle seen again 2 cm away (map plane) is not announced again; the second one is.
  Eigen::Matrix4f moved = Eigen::Matrix4f::Identity();
  moved(1, 3) = 0.02F;
  const auto again = camera_one.estimate({bottles[0]}, {}, depth, Camera(), moved, heights);
  EXPECT_FALSE(again.announced.has_value());
  const auto second = camera_one.estimate({bottles[1]}, {}, depth, Camera(), moved, heights);
  EXPECT_TRUE(second.announced.has_value());
  EXPECT_EQ(camera_one.broadcastHistory().size(), 2u);

  TrashFrameEstimator camera_two(Rules(2));
  EXPECT_FALSE(camera_two.estimate(bottles, {}, depth, Camera(), Eigen::Matrix4f::Identity(),
    heights).announced.has_value());
  EXPECT_TRUE(camera_two.broadcastHistory().empty());
}

}  // namespace
}  // namespace nimbra::test
