// Sorting of labelled pieces into static and dynamic groups by class and moving share.
#include <gtest/gtest.h>
#include <nimbra_perception_libs/dynamic_cloud_detector.hpp>

#include <vector>

#include "cloud_test_scenes.hpp"
#include "common/obstacle_groups.hpp"

namespace nimbra::test
{
namespace
{

ClassCloudInfo piece(semantic::SemanticType type, std::size_t points, bool has_detection = false)
{
  ClassCloudInfo info;
  info.type = type;
  info.has_detection = has_detection;
  info.detection.type = type;
  for (std::size_t i = 0; i < points; ++i) {
    info.cloud.points.emplace_back(1.0F + 0.01F * static_cast<float>(i), 0.0F, 0.2F);
  }
  info.cloud.width = static_cast<uint32_t>(points);
  info.cloud.height = 1;
  info.cloud.header.frame_id = "base_footprint";
  return info;
}

/// Flags the first `moving` points of every piece as moving.
MotionSplitter firstPointsMove(std::size_t moving)
{
  return [moving](const PointCloud & in, PointCloud & moving_part, PointCloud & still_part) {
    moving_part.clear();
    still_part.clear();
    for (std::size_t i = 0; i < in.points.size(); ++i) {
      (i < moving ? moving_part : still_part).push_back(in.points[i]);
    }
  };
}

TEST(ObstacleGroupsSort, ClassesGoToTheirGroups)
{
  const ObstacleGroups groups = sortObstacleGroups(
    {piece(semantic::PERSON, 5, true), piece(semantic::CHAIR, 4, true), piece(semantic::NO_TYPE, 3)},
    {piece(semantic::CARPET, 6, true)}, MotionSplitter());
  // Labelled pieces are never split by motion, even when every point moves.
  const ObstacleGroups moving =
    sortObstacleGroups({piece(semantic::CHAIR, 10, true)}, {}, firstPointsMove(10));
  ASSERT_EQ(moving.static_cloud_info.size(), 1U);
  EXPECT_TRUE(moving.dynamic_cloud_info.empty());
  ASSERT_EQ(groups.dynamic_cloud_info.size(), 1U);
  EXPECT_EQ(groups.dynamic_cloud_info[0].type, semantic::PERSON);
  ASSERT_EQ(groups.static_cloud_info.size(), 3U);
  EXPECT_EQ(groups.static_cloud_info[0].type, semantic::CHAIR);
  EXPECT_EQ(groups.static_cloud_info[1].type, semantic::NO_TYPE);
  EXPECT_EQ(groups.static_cloud_info[2].type, semantic::CARPET);
  EXPECT_TRUE(groups.coffee_cloud_info.empty());
}

TEST(ObstacleGroupsSort, MovingShareDecidesUnlabelledPieces)
{
  // Ten points per piece: a share of exactly 0.7 or 0.3 splits the piece.
  struct Case
  {
    std::size_t moving;
    std::size_t dynamic_points;  // 0: no dynamic piece
    std::size_t static_points;   // 0: no static piece
  };
  const Case cases[] = {
    {8, 10, 0}, {7, 7, 3}, {5, 5, 5}, {3, 3, 7}, {2, 0, 10}, {0, 0, 10}, {10, 10, 0}};
  for (const Case & c : cases) {
    const ObstacleGroups groups =
      sortObstacleGroups({piece(semantic::NO_TYPE, 10)}, {}, firstPointsMove(c.moving));
    ASSERT_EQ(groups.dynamic_cloud_info.size(), c.dynamic_points > 0 ? 1U : 0U) << c.moving;
    ASSERT_EQ(groups.static_cloud_info.size(), c.static_points > 0 ? 1U : 0U) << c.moving;
    if (c.dynamic_points > 0) {
      EXPECT_EQ(groups.dynamic_cloud_info[0].cloud.points.size(), c.dynamic_points);
      EXPECT_EQ(groups.dynamic_cloud_info[0].cloud.width, c.dynamic_points);
      EXPECT_EQ(groups.dynamic_cloud_info[0].type, semantic::NO_TYPE);
      EXPECT_EQ(groups.dynamic_cloud_info[0].cloud.header.frame_id, "base_footprint");
    }
    if (c.static_points > 0) {
      EXPECT_EQ(groups.static_cloud_info[0].cloud.points.size(), c.static_points);
    }
  }
}

TEST(ObstacleGroupsDetector, ReadyFlagGatesTheSplitAndIsCleared)
{
  orvix::perception::DynamicCloudDetector detector{orvix::perception::DynamicDetectorParams()};
  // Not ready: unlabelled pieces are static and the flag stays false.
  ObstacleGroups groups = sortObstacleGroups({piece(semantic::NO_TYPE, 4)}, {}, &detector);
  EXPECT_EQ(groups.static_cloud_info.size(), 1U);
  EXPECT_FALSE(detector.ready_);

  // Ready without any stored result: DivideCloud calls everything still; the flag is cleared
  // even when there is nothing to sort.
  detector.ready_ = true;
  groups = sortObstacleGroups({piece(semantic::NO_TYPE, 4)}, {}, &detector);
  ASSERT_EQ(groups.static_cloud_info.size(), 1U);
  EXPECT_EQ(groups.static_cloud_info[0].cloud.points.size(), 4U);
  EXPECT_FALSE(detector.ready_);
  detector.ready_ = true;
  groups = sortObstacleGroups({}, {}, &detector);
  EXPECT_FALSE(detector.ready_);
  EXPECT_TRUE(groups.static_cloud_info.empty());

  groups = sortObstacleGroups({piece(semantic::NO_TYPE, 4)}, {}, nullptr);
  EXPECT_EQ(groups.static_cloud_info.size(), 1U);
}

}  // namespace
}  // namespace nimbra::test
