// The rules of one trash frame on constructed depth images: split, point count, range, support
// by a base or bench, height band, area, and the bottle announcements of camera 1.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "camera/trash_frame.hpp"
#include "common/semantic_type.hpp"
#include "log_capture.hpp"

namespace nimbra::test
{
namespace
{

using Heights = std::map<semantic::SemanticType, std::pair<double, double>>;

constexpr int kWidth = 100;
constexpr int kHeight = 80;

/// A forward-looking camera 0.5 m above the floor: optical z ahead (base x), x right, y down.
TrashCamera Camera()
{
  TrashCamera camera;
  camera.fx = camera.fy = 50.0F;
  camera.cx = 50.0F;
  camera.cy = 40.0F;
  camera.width = kWidth;
  camera.height = kHeight;
  camera.depth_max = 3.0F;
  camera.cam_to_base << 0, 0, 1, 0, -1, 0, 0, 0, 0, -1, 0, 0.5F, 0, 0, 0, 1;
  return camera;
}

/// Litter of `type` whose box is columns [u1, u2) x rows [v1, v2) and whose mask keeps `pixels`
/// of them (row by row), all at `depth` metres in `image`.
Detection Item(semantic::SemanticType type, int u1, int v1, int u2, int v2, int pixels,
  float depth, cv::Mat & image)
{
  Detection d;
  d.type = type;
  d.x1 = u1;
  d.y1 = v1;
  d.x2 = u2;
  d.y2 = v2;
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

Detection Box(semantic::SemanticType type, int u1, int v1, int u2, int v2)
{
  Detection d;
  d.type = type;
  d.x1 = u1;
  d.y1 = v1;
  d.x2 = u2;
  d.y2 = v2;
  return d;
}

TrashRules Rules(int32_t cam_id = 1)
{
  TrashRules rules;
  rules.cam_id = cam_id;
  rules.trash_classes = {semantic::PAPER, semantic::BOTTLE};
  return rules;
}

TEST(TrashFrame, SplitKeepsLitterAndBasesInOrder)
{
  const TrashFrameEstimator frame(Rules());
  std::vector<Detection> trash;
  std::vector<Detection> bases;
  frame.split({Box(semantic::PAPER, 0, 0, 1, 1), Box(semantic::BASE, 0, 0, 1, 1),
      Box(semantic::CHAIR, 0, 0, 1, 1), Box(semantic::WAITING_BENCH, 0, 0, 1, 1),
      Box(semantic::BOTTLE, 0, 0, 1, 1)}, trash, bases);
  ASSERT_EQ(trash.size(), 2u);
  EXPECT_EQ(trash[1].type, semantic::BOTTLE);
  ASSERT_EQ(bases.size(), 2u);
  EXPECT_EQ(bases[1].type, semantic::WAITING_BENCH);
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
    std::vector<Detection> bases;
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
    {"class without a height band", 8, 1.0F, 65, {}, {}, 0},
  };
  for (const auto & c : cases) {
    TrashFrameEstimator frame(Rules());
    cv::Mat depth = cv::Mat::zeros(kHeight, kWidth, CV_32FC1);
    const Detection paper = Item(semantic::PAPER, 20, c.row, 30, c.row + 1, c.pixels, c.depth, depth);
    const auto result = frame.estimate({paper}, c.bases, depth, Camera(),
        Eigen::Matrix4f::Identity(), c.heights);
    ASSERT_EQ(result.observations.size(), c.observations) << c.name;
    if (c.observations == 1 && c.pixels < 20) {
      EXPECT_EQ(result.observations[0].size, (std::vector<float>{-1.0F, -1.0F, -1.0F})) << c.name;
    }
  }
}

TEST(TrashFrame, BottlesOutsideTheirBandAreAnnouncedOnceByCameraOneOnly)
{
  const Heights heights{{semantic::BOTTLE, {-0.05, 0.15}}};
  auto frame_with_two_bottles = [](cv::Mat & depth) {
      // Rows 50 and 52 at 1 m: 0.3 and 0.26 m above the floor, outside the band.
      return std::vector<Detection>{Item(semantic::BOTTLE, 20, 50, 30, 51, 8, 1.0F, depth),
        Item(semantic::BOTTLE, 60, 52, 70, 53, 8, 1.0F, depth)};
    };
  TrashFrameEstimator camera_one(Rules(1));
  cv::Mat depth = cv::Mat::zeros(kHeight, kWidth, CV_32FC1);
  const auto bottles = frame_with_two_bottles(depth);
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

TEST(TrashFrame, MissingHeightBandIsReportedOncePerClass)
{
  LogCapture log;
  TrashFrameEstimator frame(Rules());
  cv::Mat depth = cv::Mat::zeros(kHeight, kWidth, CV_32FC1);
  const Detection paper = Item(semantic::PAPER, 20, 65, 30, 66, 8, 1.0F, depth);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(frame.estimate({paper}, {}, depth, Camera(), Eigen::Matrix4f::Identity(), {})
      .observations.empty());
  }
  int warnings = 0;
  for (const auto & line : log.Lines()) {
    warnings += line.find("[WARN] cam_1 trash class PAPER has no height range") == 0 ? 1 : 0;
  }
  EXPECT_EQ(warnings, 1);
}

}  // namespace
}  // namespace nimbra::test
