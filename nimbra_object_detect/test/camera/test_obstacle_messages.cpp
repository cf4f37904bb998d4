// Messages built from labelled pieces: semantic clouds (camera 2's rules, view extent), coloured
// inspection clouds, the people list.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "camera/obstacle_messages.hpp"
#include "rclcdds/conversions/pcl_conversions.hpp"

namespace nimbra::test
{
namespace
{

ClassCloudInfo Piece(semantic::SemanticType type, const std::vector<std::array<float, 3>> & points)
{
  ClassCloudInfo piece;
  piece.type = type;
  for (const auto & p : points) {
    piece.cloud.push_back(pcl::PointXYZ(p[0], p[1], p[2]));
  }
  return piece;
}

CameraFrameState ReadyExtent()
{
  CameraFrameState extent;
  extent.ready = true;
  extent.extremes = {{{1.0F, 2.0F, 3.0F}, {4.0F, 5.0F, 6.0F}, {7.0F, 8.0F, 9.0F},
    {10.0F, 11.0F, 12.0F}}};
  return extent;
}

TEST(ObstacleMessages, EmptyGroupGivesAMessageWithoutClusters)
{
  std::size_t sent = 99;
  const auto msg = makeSemanticPointCloud({}, 1, nullptr, 12.5, sent);
  EXPECT_TRUE(msg.clusters.empty());
  EXPECT_TRUE(msg.camera_frame.empty());
  EXPECT_EQ(msg.camera_id, 1);
  EXPECT_EQ(msg.header.frame_id, "base_footprint");
  EXPECT_EQ(msg.header.stamp.sec, 12);
  EXPECT_EQ(msg.header.stamp.nanosec, 500000000U);
  EXPECT_EQ(sent, 0U);
}

TEST(ObstacleMessages, CameraTwoKeepsOnlyPointsAheadAndSendsItsExtentFromX02)
{
  const std::vector<ClassCloudInfo> pieces = {
    Piece(semantic::CHAIR, {{0.1F, 0.0F, 0.2F}, {0.59F, 0.1F, 0.2F}}),       // all behind 0.6
    Piece(semantic::HOSPITAL_BED, {{0.5F, 0.0F, 0.1F}, {0.6F, 0.1F, 0.1F}, {1.2F, 0.2F, 0.3F}}),
  };
  const CameraFrameState extent = ReadyExtent();
  struct Case
  {
    int32_t cam_id;
    std::size_t clusters;
    std::size_t points;
    float first_x;  // camera_frame[0], [3] and [6]
  };
  for (const Case & c : {Case{1, 2, 5, 0.0F}, Case{2, 1, 2, 0.2F}}) {
    std::size_t sent = 0;
    const auto msg = makeSemanticPointCloud(pieces, c.cam_id, &extent, 3.0, sent);
    ASSERT_EQ(msg.clusters.size(), c.clusters) << c.cam_id;
    EXPECT_EQ(sent, c.points);
    const auto & last = msg.clusters.back();
    EXPECT_EQ(last.semantic_type, semantic::HOSPITAL_BED);
    pcl::PointCloud<pcl::PointXYZ> decoded;
    rclcdds::pcl_conversions::fromROSMsg(last.cloud, decoded);
    EXPECT_EQ(decoded.size(), c.cam_id == 2 ? 2U : 3U);
    EXPECT_FLOAT_EQ(decoded.points.front().x, c.cam_id == 2 ? 0.6F : 0.5F);
    ASSERT_EQ(msg.camera_frame.size(), 12U);
    for (std::size_t i = 0; i < 12; ++i) {
      const bool replaced = c.cam_id == 2 && (i == 0 || i == 3 || i == 6);
      EXPECT_FLOAT_EQ(msg.camera_frame[i], replaced ? c.first_x : static_cast<float>(i + 1))
        << "cam " << c.cam_id << " value " << i;
    }
  }
}

TEST(ObstacleMessages, ExtentIsSentOnlyWhenTheRecordIsReady)
{
  CameraFrameState extent = ReadyExtent();
  extent.ready = false;
  std::size_t sent = 0;
  EXPECT_TRUE(makeSemanticPointCloud({}, 2, &extent, 1.0, sent).camera_frame.empty());
  extent.ready = true;
  EXPECT_EQ(makeSemanticPointCloud({}, 2, &extent, 1.0, sent).camera_frame.size(), 12U);
}

TEST(ObstacleMessages, ColouredCloudUsesThePaletteRowOfTheClass)
{
  const std::vector<ClassCloudInfo> pieces = {
    Piece(semantic::PERSON, {{1.0F, 0.0F, 0.5F}, {1.0F, 0.1F, 1.5F}}),
  };
  const auto msg = makeColouredCloud(pieces, 2.0);
  EXPECT_EQ(msg.header.frame_id, "base_footprint");
  pcl::PointCloud<pcl::PointXYZRGBA> decoded;
  rclcdds::pcl_conversions::fromROSMsg(msg, decoded);
  ASSERT_EQ(decoded.size(), 2U);
  for (const auto & p : decoded.points) {
    EXPECT_EQ((std::array<int, 3>{{p.r, p.g, p.b}}), (std::array<int, 3>{{255, 56, 56}}));
  }
  EXPECT_FLOAT_EQ(decoded.points[1].z, 1.5F);
}

TEST(ObstacleMessages, PeopleListHoldsCentroidHullBoxAndHeightOfPersonPieces)
{
  // The corners of a 1 x 0.5 m rectangle and three points inside it, 1.7 m tall.
  ClassCloudInfo person = Piece(semantic::PERSON, {
    {2.0F, 0.0F, 0.2F}, {2.5F, 0.25F, 1.0F}, {3.0F, 0.0F, 1.7F}, {3.0F, 0.5F, 0.9F},
    {2.2F, 0.1F, 1.1F}, {2.0F, 0.5F, 0.4F}, {2.8F, 0.4F, 0.3F}});
  person.detection.x1 = 10;
  person.detection.y1 = 20;
  person.detection.x2 = 30;
  person.detection.y2 = 60;
  const std::vector<ClassCloudInfo> pieces = {
    Piece(semantic::CHAIR, {{5.0F, 5.0F, 0.5F}}), person};
  const auto list = makePeopleList(pieces, 2, 4.0);
  EXPECT_EQ(list.source, "camera_2");
  EXPECT_EQ(list.kind, nimbra_protocol::msg::ObjectList::KIND_PERSON);
  EXPECT_EQ(list.header.frame_id, "base_footprint");
  ASSERT_EQ(list.objects.size(), 1U);
  const auto & object = list.objects[0];
  EXPECT_NEAR(object.pose.position.x, 17.5 / 7.0, 1e-6);
  EXPECT_NEAR(object.pose.position.y, 1.75 / 7.0, 1e-6);
  EXPECT_EQ(object.pose.position.z, 0.0);
  EXPECT_EQ(object.pose.orientation.w, 1.0);
  EXPECT_NEAR(object.height, 1.7, 1e-6);
  EXPECT_EQ(object.count, 1);
  EXPECT_EQ(object.bbox, (std::array<double, 4>{{10.0, 20.0, 30.0, 60.0}}));

  std::vector<std::pair<float, float>> hull;
  for (const auto & vertex : object.polygon) {
    EXPECT_EQ(vertex.z, 0.0F);
    hull.emplace_back(vertex.x, vertex.y);
  }
  std::sort(hull.begin(), hull.end());
  EXPECT_EQ(hull, (std::vector<std::pair<float, float>>{
      {2.0F, 0.0F}, {2.0F, 0.5F}, {3.0F, 0.0F}, {3.0F, 0.5F}}));
}

}  // namespace
}  // namespace nimbra::test
