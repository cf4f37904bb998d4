// Mask labelling of obstacle clusters: matching gate, point split, whole-cluster rule, recursion,
// merging, frame-size mismatch and the debug lines.
#include <gtest/gtest.h>
#include <nimbra_perception_libs/perception_utils.hpp>
#include <opencv2/imgproc.hpp>

#include <Eigen/Geometry>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "cloud_test_scenes.hpp"
#include "common/cloud.hpp"
#include "log_capture.hpp"

namespace nimbra::test
{
namespace
{

const CameraIntrinsics kIntrinsics{100.0F, 100.0F, 32.0F, 24.0F};
constexpr int kWidth = 64;
constexpr int kHeight = 48;
const cv::Size kDepthSize(kWidth, kHeight);

CloudConfig labellingConfig()
{
  CloudConfig config;
  config.mask_iou_max = 0.5F;
  config.obstacle_percent = 0.2F;
  config.person_percent = 0.5F;
  config.cloud_x_merge_distance = 0.5F;
  return config;
}

/// Ten points on row 24, columns 20..29, 2 m ahead, base frame = camera frame.
PointCloud::Ptr rowCluster(int u0 = 20, int u1 = 29, int v = 24, float z = 2.0F)
{
  return clusterAtPixels(kIntrinsics, u0, u1, v, v, z, Eigen::Matrix4f::Identity());
}

/// A one-pixel mask on row 24 whose 11 x 11 dilation covers the first `covered` columns of
/// rowCluster() (the dilation reaches 5 pixels past the mask).
cv::Mat maskCoveringFirst(int covered, cv::Size size = kDepthSize)
{
  const int column = 14 + covered;
  return rectangleMask(size, column, column, 24, 24);
}

std::vector<ClassCloudInfo> label(
  const CloudConfig & config, const std::vector<PointCloud::Ptr> & clusters,
  const std::vector<Detection> & detections,
  const Eigen::Matrix4f & base_to_camera = Eigen::Matrix4f::Identity(), int width = kWidth,
  int height = kHeight)
{
  Cloud cloud(config, nullptr, nullptr);
  AiResult ai_result;
  ai_result.detections = detections;
  std::vector<ClassCloudInfo> pieces;
  cloud.cloudDynamicStaticSplit(
    clusters, ai_result, kIntrinsics, base_to_camera, width, height, pieces);
  return pieces;
}

void expectPiece(
  const ClassCloudInfo & piece, semantic::SemanticType type, std::size_t points,
  bool has_detection)
{
  EXPECT_EQ(piece.type, type);
  EXPECT_EQ(piece.cloud.points.size(), points);
  EXPECT_EQ(piece.cloud.width, points);
  EXPECT_EQ(piece.cloud.height, 1U);
  EXPECT_EQ(piece.has_detection, has_detection);
  EXPECT_EQ(piece.detection.type, type);
}

TEST(CloudLabellingMatch, AlmostCoveredClusterTakesTheClassWhole)
{
  // Coverage 0.9 > 0.5 and share 0.1 < obstacle_percent 0.2.
  const auto pieces = label(
    labellingConfig(), {rowCluster()},
    {makeDetection(semantic::CHAIR, maskCoveringFirst(9), 0.75F)});
  ASSERT_EQ(pieces.size(), 1U);
  expectPiece(pieces[0], semantic::CHAIR, 10, true);
  EXPECT_FLOAT_EQ(pieces[0].detection.score, 0.75F);
  EXPECT_EQ(pieces[0].cloud.header.frame_id, "base_footprint");
}

TEST(CloudLabellingMatch, PartlyCoveredClusterIsSplitByTheDilatedMask)
{
  // Coverage 0.6: columns 20..25 become CHAIR, 26..29 find no other detection.
  const auto pieces =
    label(labellingConfig(), {rowCluster()}, {makeDetection(semantic::CHAIR, maskCoveringFirst(6))});
  ASSERT_EQ(pieces.size(), 2U);
  expectPiece(pieces[0], semantic::CHAIR, 6, true);
  expectPiece(pieces[1], semantic::NO_TYPE, 4, false);
  EXPECT_FLOAT_EQ(pieces[0].cloud.points.back().x, pointAtPixel(kIntrinsics, 25, 24, 2.0F).x);
  EXPECT_FLOAT_EQ(pieces[1].cloud.points.front().x, pointAtPixel(kIntrinsics, 26, 24, 2.0F).x);
}

TEST(CloudLabellingMatch, CoverageEqualToTheGateDoesNotMatch)
{
  const auto pieces =
    label(labellingConfig(), {rowCluster()}, {makeDetection(semantic::CHAIR, maskCoveringFirst(5))});
  ASSERT_EQ(pieces.size(), 1U);
  expectPiece(pieces[0], semantic::NO_TYPE, 10, false);
}

TEST(CloudLabellingMatch, WholeClusterLimitDependsOnTheClass)
{
  // Coverage 0.6 leaves a share of 0.4: below person_percent 0.5, above obstacle_percent 0.2.
  struct Case
  {
    semantic::SemanticType type;
    std::size_t first_piece_points;
  };
  for (const Case & c : {Case{semantic::PERSON, 10}, Case{semantic::CHAIR, 6}}) {
    const auto pieces =
      label(labellingConfig(), {rowCluster()}, {makeDetection(c.type, maskCoveringFirst(6))});
    ASSERT_FALSE(pieces.empty());
    EXPECT_EQ(pieces[0].type, c.type);
    EXPECT_EQ(pieces[0].cloud.points.size(), c.first_piece_points);
  }
}

TEST(CloudLabellingMatch, RemainderIsMatchedAgainstTheOtherDetections)
{
  const cv::Mat right_part = rectangleMask(kDepthSize, 29, 29, 24, 24);  // dilates over 24..34
  const auto pieces = label(
    labellingConfig(), {rowCluster()},
    {makeDetection(semantic::CHAIR, maskCoveringFirst(6)),
     makeDetection(semantic::OBSTACLE, right_part)});
  ASSERT_EQ(pieces.size(), 2U);
  expectPiece(pieces[0], semantic::CHAIR, 6, true);
  expectPiece(pieces[1], semantic::OBSTACLE, 4, true);
}

TEST(CloudLabellingMatch, FirstMatchingDetectionWinsOverABetterOne)
{
  // OBSTACLE covers 0.6 of the cluster and comes first; CHAIR (0.9) only gets what is left.
  const cv::Mat right_part = rectangleMask(kDepthSize, 29, 29, 24, 24);
  const auto pieces = label(
    labellingConfig(), {rowCluster()},
    {makeDetection(semantic::OBSTACLE, right_part),
     makeDetection(semantic::CHAIR, maskCoveringFirst(9))});
  ASSERT_EQ(pieces.size(), 2U);
  expectPiece(pieces[0], semantic::OBSTACLE, 6, true);
  expectPiece(pieces[1], semantic::CHAIR, 4, true);
}

TEST(CloudLabellingMatch, PointsAtTheOriginAreNotProjectedAndLeaveASplit)
{
  PointCloud::Ptr cluster = rowCluster();
  cluster->points.emplace_back(0.0F, 0.0F, 0.0F);
  cluster->width = static_cast<uint32_t>(cluster->points.size());
  const auto pieces =
    label(labellingConfig(), {cluster}, {makeDetection(semantic::CHAIR, maskCoveringFirst(6))});
  ASSERT_EQ(pieces.size(), 2U);
  EXPECT_EQ(pieces[0].cloud.points.size() + pieces[1].cloud.points.size(), 10U);
}

TEST(CloudLabellingMatch, DetectionsWithoutUsableMaskNeverMatch)
{
  Detection no_mask = makeDetection(semantic::CHAIR, maskCoveringFirst(9));
  no_mask.mask = cv::Mat();
  Detection empty_mask = makeDetection(semantic::CHAIR, cv::Mat::zeros(kDepthSize, CV_8UC1));
  CloudConfig config = labellingConfig();
  const auto pieces = label(config, {rowCluster()}, {no_mask, empty_mask});
  ASSERT_EQ(pieces.size(), 1U);
  expectPiece(pieces[0], semantic::NO_TYPE, 10, false);
}

TEST(CloudLabellingMatch, MaskIsSearchedAroundItsTruncatedBox)
{
  // The box ends (exclusively) at the mask's column: the margin still finds the mask. A box with
  // its corners in reverse order makes the whole mask count.
  Detection truncated = makeDetection(semantic::CHAIR, maskCoveringFirst(9));
  truncated.x2 = truncated.x1;
  Detection reversed = makeDetection(semantic::CHAIR, maskCoveringFirst(9));
  std::swap(reversed.x1, reversed.x2);
  for (const Detection & detection : {truncated, reversed}) {
    const auto pieces = label(labellingConfig(), {rowCluster()}, {detection});
    ASSERT_EQ(pieces.size(), 1U);
    expectPiece(pieces[0], semantic::CHAIR, 10, true);
  }
}

TEST(CloudLabellingClusters, WithoutDetectionsEveryClusterIsOneUnlabelledPiece)
{
  const std::vector<PointCloud::Ptr> clusters = {
    rowCluster(), nullptr, std::make_shared<PointCloud>(), rowCluster(30, 34, 10)};
  const auto pieces = label(labellingConfig(), clusters, {});
  ASSERT_EQ(pieces.size(), 2U);
  expectPiece(pieces[0], semantic::NO_TYPE, 10, false);
  expectPiece(pieces[1], semantic::NO_TYPE, 5, false);
}

TEST(CloudLabellingClusters, PiecesOfOneDetectionMergeByCentroidDistance)
{
  // Forward camera: base x is the depth. Two clusters inside one PERSON mask, 0.3 m or 0.8 m
  // apart in x; the larger one (20 points) is the main piece.
  const Eigen::Matrix4f camera_to_base = forwardCameraToBase(0.1F, 0.0F, 0.6F);
  const Eigen::Matrix4f base_to_camera = camera_to_base.inverse();
  const cv::Mat person = rectangleMask(kDepthSize, 20, 29, 20, 26);
  struct Case
  {
    float far_depth;
    std::size_t pieces;
  };
  for (const Case & c : {Case{2.3F, 1}, Case{2.8F, 2}}) {
    const std::vector<PointCloud::Ptr> clusters = {
      clusterAtPixels(kIntrinsics, 20, 29, 20, 21, 2.0F, camera_to_base),
      clusterAtPixels(kIntrinsics, 20, 29, 26, 26, c.far_depth, camera_to_base)};
    const auto pieces = label(
      labellingConfig(), clusters, {makeDetection(semantic::PERSON, person)}, base_to_camera);
    ASSERT_EQ(pieces.size(), c.pieces) << c.far_depth;
    if (c.pieces == 1) {
      expectPiece(pieces[0], semantic::PERSON, 30, true);
    } else {
      expectPiece(pieces[0], semantic::NO_TYPE, 10, false);
      expectPiece(pieces[1], semantic::PERSON, 20, true);
      EXPECT_NEAR(pieces[0].cloud.points[0].x, 0.1F + c.far_depth, 1e-5F);
    }
  }
}

TEST(CloudLabellingFrames, MasksLargerThanTheDepthImageAreComparedAtScale)
{
  // Colour masks at twice the depth resolution: depth pixel u maps to mask column 2u + 1.
  const cv::Size colour(2 * kWidth, 2 * kHeight);
  const PointCloud::Ptr cluster = rowCluster(40, 49, 30);
  struct Case
  {
    int mask_last_column;
    std::size_t chair_points;
    std::size_t pieces;
  };
  // Columns 81..99 cover all ten points; 81..89 dilate to 94 and cover depth columns 40..46.
  for (const Case & c : {Case{99, 10, 1}, Case{89, 7, 2}}) {
    const cv::Mat mask = rectangleMask(colour, 81, c.mask_last_column, 61, 61);
    const auto pieces =
      label(labellingConfig(), {cluster}, {makeDetection(semantic::CHAIR, mask)});
    ASSERT_EQ(pieces.size(), c.pieces);
    expectPiece(pieces[0], semantic::CHAIR, c.chair_points, true);
  }
}

TEST(CloudLabellingFrames, DirectCallAppendsToTheCallersLists)
{
  Cloud cloud(labellingConfig(), nullptr, nullptr);
  AiResult ai_result;
  ai_result.detections = {makeDetection(semantic::CHAIR, maskCoveringFirst(6))};
  std::vector<bool> used;
  std::vector<std::vector<ClassCloudInfo>> bbox_cloud_info;
  std::vector<ClassCloudInfo> other_cloud_info;
  const PointCloud::Ptr cluster = rowCluster();
  cloud.cloudAssginLabel(
    ai_result, used, *cluster, *cluster, kIntrinsics, kWidth, kHeight, bbox_cloud_info,
    other_cloud_info);
  ASSERT_EQ(used.size(), 1U);
  EXPECT_TRUE(used[0]);
  ASSERT_EQ(bbox_cloud_info.size(), 1U);
  ASSERT_EQ(bbox_cloud_info[0].size(), 1U);
  EXPECT_FALSE(bbox_cloud_info[0][0].has_detection);
  EXPECT_EQ(bbox_cloud_info[0][0].cloud.points.size(), 6U);
  ASSERT_EQ(other_cloud_info.size(), 1U);
  EXPECT_EQ(other_cloud_info[0].cloud.points.size(), 4U);

  // Frames whose two clouds disagree in length cannot be split: the cluster stays unlabelled.
  PointCloud shorter = *cluster;
  shorter.points.pop_back();
  used.assign(1, false);
  other_cloud_info.clear();
  cloud.cloudAssginLabel(
    ai_result, used, shorter, *cluster, kIntrinsics, kWidth, kHeight, bbox_cloud_info,
    other_cloud_info);
  ASSERT_EQ(other_cloud_info.size(), 1U);
  EXPECT_EQ(other_cloud_info[0].cloud.points.size(), 10U);
}

TEST(CloudLabellingLog, DebugLinesNameSizesCoverageAndClass)
{
  LogCapture capture;
  label(labellingConfig(), {rowCluster()}, {makeDetection(semantic::CHAIR, maskCoveringFirst(6))});
  const std::vector<std::string> lines = capture.Lines();
  const std::vector<std::string> expected = {
    "[DEBUG] cloud_pixel_locate size =10",
    "[DEBUG] cloud_iou=0.60, id=CHAIR",
    "[DEBUG] info.cloud.size()=6, split_base_cloud.size()=4",
    "[DEBUG] cloudAssginLabel add to bbox_cloud_info",
    "[DEBUG] cloud_pixel_locate size =4",
    "[DEBUG] cloudDynamicStaticSplit bbox_cloud size = 1, other_cloud_info size=1",
  };
  EXPECT_EQ(lines, expected);
}

// ---------------------------------------------------------------------------------------------
// The labelling works on bounding boxes and reused buffers; this literal version, on whole
// images, must give the same pieces on random scenes.

void referenceLabel(
  const CloudConfig & config, const AiResult & ai, std::vector<bool> & used,
  const PointCloud & camera, const PointCloud & base, const CameraIntrinsics & k, int width,
  int height, std::vector<std::vector<ClassCloudInfo>> & bbox, std::vector<ClassCloudInfo> & other)
{
  std::vector<cv::Point> pixels;
  std::vector<std::size_t> index;
  for (std::size_t i = 0; i < camera.points.size(); ++i) {
    const auto & p = camera.points[i];
    if (p.x == 0.0F && p.y == 0.0F && p.z == 0.0F) {
      continue;
    }
    pixels.emplace_back(
      orvix::perception::clamp(p.x * k.fx / p.z + k.cx + 0.5F, 0, width - 1),
      orvix::perception::clamp(p.y * k.fy / p.z + k.cy + 0.5F, 0, height - 1));
    index.push_back(i);
  }
  cv::Mat cluster_mask = cv::Mat::zeros(height, width, CV_8UC1);
  orvix::perception::pixelToMask(pixels, cluster_mask);
  const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(11, 11));
  for (std::size_t d = 0; d < ai.detections.size(); ++d) {
    if (used[d]) {
      continue;
    }
    cv::Mat dilated;
    cv::dilate(ai.detections[d].mask, dilated, kernel);
    const float iou = orvix::perception::maskIou(cluster_mask, dilated, 0);
    if (!(iou > config.mask_iou_max)) {
      continue;
    }
    ClassCloudInfo info;
    PointCloud rest_camera;
    PointCloud rest_base;
    for (std::size_t n = 0; n < pixels.size(); ++n) {
      if (orvix::perception::isPointInMask(dilated, pixels[n])) {
        info.cloud.points.push_back(base.points[index[n]]);
      } else {
        rest_camera.points.push_back(camera.points[index[n]]);
        rest_base.points.push_back(base.points[index[n]]);
      }
    }
    const float limit = ai.detections[d].type == semantic::PERSON ? config.person_percent
                                                                  : config.obstacle_percent;
    if (1.0F - iou < limit) {
      info.cloud.points = base.points;
      rest_base.points.clear();
    }
    used[d] = true;
    info.type = ai.detections[d].type;
    bbox[d].push_back(info);
    if (!rest_base.points.empty()) {
      referenceLabel(config, ai, used, rest_camera, rest_base, k, width, height, bbox, other);
    }
    return;
  }
  ClassCloudInfo unmatched;
  unmatched.cloud.points = base.points;
  other.push_back(unmatched);
}

TEST(CloudLabellingReference, RandomScenesMatchTheWholeImageComputation)
{
  CloudConfig config = labellingConfig();
  Cloud reused(config, nullptr, nullptr);
  for (unsigned seed = 1; seed <= 6; ++seed) {
    const LabellingScene scene = makeLabellingScene(20, 10, seed);
    const Eigen::Matrix4f base_to_camera = scene.camera_to_base.inverse();

    std::vector<std::vector<ClassCloudInfo>> bbox(scene.ai_result.detections.size());
    std::vector<ClassCloudInfo> other;
    for (const auto & cluster : scene.clusters) {
      PointCloud camera;
      for (const auto & p : cluster->points) {
        const Eigen::Vector4f q = base_to_camera * Eigen::Vector4f(p.x, p.y, p.z, 1.0F);
        camera.points.emplace_back(q.x(), q.y(), q.z());
      }
      std::vector<bool> used(scene.ai_result.detections.size(), false);
      referenceLabel(
        config, scene.ai_result, used, camera, *cluster, scene.intrinsics, scene.width,
        scene.height, bbox, other);
    }
    std::vector<ClassCloudInfo> pieces;
    reused.cloudDynamicStaticSplit(
      scene.clusters, scene.ai_result, scene.intrinsics, base_to_camera, scene.width,
      scene.height, pieces);

    // Compare the labelled point counts per class and the unlabelled total.
    std::map<int, std::size_t> expected_points;
    std::size_t labelled_pieces = 0;
    for (const auto & list : bbox) {
      for (const auto & piece : list) {
        expected_points[piece.type] += piece.cloud.points.size();
      }
      labelled_pieces += list.empty() ? 0 : 1;
    }
    for (const auto & piece : other) {
      expected_points[semantic::NO_TYPE] += piece.cloud.points.size();
    }
    std::map<int, std::size_t> actual_points;
    std::size_t representing = 0;
    for (const auto & piece : pieces) {
      actual_points[piece.type] += piece.cloud.points.size();
      representing += piece.has_detection ? 1 : 0;
    }
    // Merging may turn distant pieces of a detection into NO_TYPE; scenes keep each detection's
    // pieces within one cluster, so no piece is moved between classes here.
    EXPECT_EQ(actual_points, expected_points) << "seed " << seed;
    EXPECT_EQ(representing, labelled_pieces) << "seed " << seed;
    EXPECT_GT(labelled_pieces, 0U) << "seed " << seed;
  }
}

}  // namespace
}  // namespace nimbra::test
