// Messages built from labelled pieces: semantic clouds (camera 2's rules, view extent), coloured
// inspection clouds, the people list.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <tuple>
#include <utility>
#include <vector>

#include "camera/obstacle_messages.hpp"
#include "common/color_palette.hpp"
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

TEST(ObstacleMessages, SemanticCloudOfCamerasOneAndTwoAndTheColouredCloud)
{
  const std::vector<ClassCloudInfo> pieces = {
    Piece(semantic::CHAIR, {{0.1F, 0.0F, 0.2F}, {0.59F, 0.1F, 0.2F}}),  // all behind x = 0.6
    Piece(semantic::HOSPITAL_BED, {{0.5F, 0.0F, 0.1F}, {0.6F, 0.1F, 0.1F}, {1.2F, 0.2F, 0.3F}}),
  };
  CameraFrameState extent;
  extent.extremes = {{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}}};
  // Each row: camera, extent ready, clusters, points sent, extent values.
  for (const auto & [cam_id, ready, clusters, points, extent_values] :
    std::vector<std::tuple<int32_t, bool, std::size_t, std::size_t, std::size_t>>{
      {1, true, 2, 5, 12}, {2, true, 1, 2, 12}, {2, false, 1, 2, 0}})
  {
    extent.ready = ready;
    std::size_t sent = 0;
    const auto msg = makeSemanticPointCloud(pieces, cam_id, &extent, 3.5, sent);
    EXPECT_EQ(msg.header.frame_id, "base_footprint");
    EXPECT_EQ(msg.header.stamp.nanosec, 500000000U);
    EXPECT_EQ(msg.camera_id, cam_id);
    ASSERT_EQ(msg.clusters.size(), clusters) << cam_id;
    EXPECT_EQ(sent, points);
    EXPECT_EQ(msg.clusters.back().semantic_type, semantic::HOSPITAL_BED);
    pcl::PointCloud<pcl::PointXYZ> bed;
    rclcdds::pcl_conversions::fromROSMsg(msg.clusters.back().cloud, bed);
    EXPECT_FLOAT_EQ(bed.points.front().x, cam_id == 2 ? 0.6F : 0.5F);
    ASSERT_EQ(msg.camera_frame.size(), extent_values);
    for (std::size_t i = 0; i < msg.camera_frame.size(); ++i) {
      const bool replaced = cam_id == 2 && i % 3 == 0 && i < 9;
      EXPECT_FLOAT_EQ(msg.camera_frame[i], replaced ? 0.2F : static_cast<float>(i + 1)) << i;
    }
  }
  std::size_t sent = 1;
  EXPECT_TRUE(makeSemanticPointCloud({}, 1, nullptr, 1.0, sent).clusters.empty());
  EXPECT_EQ(sent, 0U);

  // The coloured inspection cloud takes each point's colour from its class's palette row.
  pcl::PointCloud<pcl::PointXYZRGBA> coloured;
  rclcdds::pcl_conversions::fromROSMsg(makeColouredCloud(pieces, 3.5), coloured);
  ASSERT_EQ(coloured.size(), 5U);
  for (std::size_t i = 0; i < coloured.size(); ++i) {
    const auto & p = coloured.points[i];
    EXPECT_EQ((std::array<int, 3>{{p.r, p.g, p.b}}),
      ColorPaletteRow(i < 2 ? semantic::CHAIR : semantic::HOSPITAL_BED)) << i;
  }
}

TEST(ObstacleMessages, PeopleListHoldsCentroidHullBoxAndHeightOfPersonPieces)
{
  // The corners of a 1 x 0.5 m rectangle and three points inside it, 1.7 m tall.
  ClassCloudInfo person = Piece(semantic::PERSON, {
    {2.0F, 0.0F, 0.2F}, {2.5F, 0.25F, 1.0F}, {3.0F, 0.0F, 1.7F}, {3.0F, 0.5F, 0.9F},
    {2.2F, 0.1F, 1.1F}, {2.0F, 0.5F, 0.4F}, {2.8F, 0.4F, 0.3F}});
  person.detection = {{0, 0, 30, 60, cv::Mat()}, {}, 0.0F, 0, semantic::NO_TYPE};
  const auto list = makePeopleList({Piece(semantic::CHAIR, {{5, 5, 0.5F}}), person}, 2, 4.0);
  EXPECT_EQ(list.source, "camera_2");
  EXPECT_EQ(list.kind, nimbra_protocol::msg::ObjectList::KIND_PERSON);
  ASSERT_EQ(list.objects.size(), 1U);
  const auto & object = list.objects[0];
  EXPECT_NEAR(object.pose.position.x, 17.5 / 7.0, 1e-6);
  EXPECT_NEAR(object.pose.position.y, 1.75 / 7.0, 1e-6);
  EXPECT_EQ(object.pose.position.z, 0.0);
  EXPECT_NEAR(object.height, 1.7, 1e-6);
  EXPECT_EQ(object.count, 1);
  EXPECT_EQ(object.bbox, (std::array<double, 4>{{0.0, 0.0, 30.0, 60.0}}));
  std::vector<std::pair<float, float>> hull;
  for (const auto & vertex : object.polygon) {
    hull.emplace_back(vertex.x, vertex.y);
  }
  std::sort(hull.begin(), hull.end());
  EXPECT_EQ(hull, (std::vector<std::pair<float, float>>{
      {2.0F, 0.0F}, {2.0F, 0.5F}, {3.0F, 0.0F}, {3.0F, 0.5F}}));
}

}  // namespace
}  // namespace nimbra::test
