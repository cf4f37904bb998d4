// Sorting of labelled pieces into static and dynamic groups by class and moving share.
#include <gtest/gtest.h>
#include <nimbra_perception_libs/dynamic_cloud_detector.hpp>

#include <utility>
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

using Pieces = std::vector<std::pair<semantic::SemanticType, std::size_t>>;

/// Type and point count of every piece of a group, in order.
Pieces pieces(const std::vector<ClassCloudInfo> & group)
{
  Pieces summary;
  for (const ClassCloudInfo & info : group) {
    EXPECT_EQ(info.cloud.width, info.cloud.points.size());
    EXPECT_EQ(info.cloud.header.frame_id, "base_footprint");
    summary.emplace_back(info.type, info.cloud.points.size());
  }
  return summary;
}

TEST(ObstacleGroupsSort, ClassesGoToTheirGroups)
{
  const ObstacleGroups groups = sortObstacleGroups(
    {piece(semantic::PERSON, 5, true), piece(semantic::CHAIR, 4, true),
      piece(semantic::NO_TYPE, 3)}, {piece(semantic::CARPET, 6, true)}, MotionSplitter());
  EXPECT_EQ(pieces(groups.dynamic_cloud_info), (Pieces{{semantic::PERSON, 5}}));
  EXPECT_EQ(pieces(groups.static_cloud_info),
    (Pieces{{semantic::CHAIR, 4}, {semantic::NO_TYPE, 3}, {semantic::CARPET, 6}}));
  EXPECT_TRUE(groups.coffee_cloud_info.empty());
  // Labelled pieces are never split by motion, even when every point moves.
  const ObstacleGroups moving =
    sortObstacleGroups({piece(semantic::CHAIR, 10, true)}, {}, firstPointsMove(10));
  EXPECT_EQ(pieces(moving.static_cloud_info), (Pieces{{semantic::CHAIR, 10}}));
  EXPECT_TRUE(moving.dynamic_cloud_info.empty());
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
  const auto unlabelled = [](std::size_t points) {
      return points > 0 ? Pieces{{semantic::NO_TYPE, points}} : Pieces{};
    };
  const Case cases[] = {
    {8, 10, 0}, {7, 7, 3}, {5, 5, 5}, {3, 3, 7}, {2, 0, 10}, {0, 0, 10}, {10, 10, 0}};
  for (const Case & c : cases) {
    const ObstacleGroups groups =
      sortObstacleGroups({piece(semantic::NO_TYPE, 10)}, {}, firstPointsMove(c.moving));
    EXPECT_EQ(pieces(groups.dynamic_cloud_info), unlabelled(c.dynamic_points)) << c.moving;
    EXPECT_EQ(pieces(groups.static_cloud_info), unlabelled(c.static_points)) << c.moving;
  }
}

TEST(ObstacleGroupsDetector, ReadyFlagIsClearedAndNoDetectorKeepsPiecesStatic)
{
  // Not ready, or ready without any stored result (DivideCloud then calls everything still):
  // the unlabelled piece is static. The flag is false afterwards, even with nothing to sort.
  orvix::perception::DynamicCloudDetector detector{orvix::perception::DynamicDetectorParams()};
  for (const bool ready : {false, true}) {
    detector.ready_ = ready;
    const ObstacleGroups groups = sortObstacleGroups({piece(semantic::NO_TYPE, 4)}, {}, &detector);
    EXPECT_EQ(pieces(groups.static_cloud_info), (Pieces{{semantic::NO_TYPE, 4}})) << ready;
    EXPECT_FALSE(detector.ready_);
  }
  detector.ready_ = true;
  EXPECT_TRUE(sortObstacleGroups({}, {}, &detector).static_cloud_info.empty());
  EXPECT_FALSE(detector.ready_);
  const ObstacleGroups groups = sortObstacleGroups({piece(semantic::NO_TYPE, 4)}, {}, nullptr);
  EXPECT_EQ(pieces(groups.static_cloud_info), (Pieces{{semantic::NO_TYPE, 4}}));
}

}  // namespace
}  // namespace nimbra::test
