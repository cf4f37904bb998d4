// Mask labelling of obstacle clusters: matching gate, point split, whole-cluster rule, recursion,
// merging, frame-size mismatch and the debug lines.
#include <gtest/gtest.h>
#include <nimbra_perception_libs/perception_utils.hpp>
#include <opencv2/imgproc.hpp>

#include <Eigen/Geometry>

#include <algorithm>
#include <array>
#include <optional>
#include <random>
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

/// Points seen at every pixel of the rectangle (columns u0..u1, rows v0..v1, inclusive) at depth
/// `z`, in row-major order, moved by `camera_to_base` into base_footprint.
PointCloud::Ptr clusterAtPixels(
  int u0, int u1, int v0, int v1, float z,
  const Eigen::Matrix4f & camera_to_base = Eigen::Matrix4f::Identity())
{
  auto cloud = std::make_shared<PointCloud>();
  for (int v = v0; v <= v1; ++v) {
    for (int u = u0; u <= u1; ++u) {
      pcl::PointXYZ p = pointAtPixel(kIntrinsics, u, v, z);
      const Eigen::Vector4f moved = camera_to_base * Eigen::Vector4f(p.x, p.y, p.z, 1.0F);
      cloud->points.emplace_back(moved.x(), moved.y(), moved.z());
    }
  }
  cloud->width = static_cast<uint32_t>(cloud->points.size());
  cloud->height = 1;
  cloud->is_dense = true;
  cloud->header.frame_id = "base_footprint";
  return cloud;
}

/// Ten points on row 24, columns 20..29, 2 m ahead, base frame = camera frame.
PointCloud::Ptr rowCluster(int u0 = 20, int u1 = 29, int v = 24, float z = 2.0F)
{
  return clusterAtPixels(u0, u1, v, v, z);
}

/// A one-pixel mask on row 24 whose 11 x 11 dilation covers the first `covered` columns of
/// rowCluster() (the dilation reaches 5 pixels past the mask).
cv::Mat maskCoveringFirst(int covered)
{
  return rectangleMask(kDepthSize, 14 + covered, 14 + covered, 24, 24);
}

/// Labels the clusters of a kWidth x kHeight depth frame with a fresh labeller.
std::vector<ClassCloudInfo> label(
  const std::vector<PointCloud::Ptr> & clusters, const std::vector<Detection> & detections,
  const Eigen::Matrix4f & base_to_camera = Eigen::Matrix4f::Identity())
{
  Cloud cloud(labellingConfig(), nullptr, nullptr);
  AiResult ai_result;
  ai_result.detections = detections;
  std::vector<ClassCloudInfo> pieces;
  cloud.cloudDynamicStaticSplit(
    clusters, ai_result, kIntrinsics, base_to_camera, kWidth, kHeight, pieces);
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

TEST(CloudLabellingMatch, EachCase)
{
  // The cluster is one image row of points 2 m ahead; a piece is given by the columns of its
  // points, in order.
  struct Piece
  {
    semantic::SemanticType type;
    int u0;
    int u1;
    bool has_detection;
  };
  struct Case
  {
    const char * name;
    std::vector<Detection> detections;
    std::vector<Piece> pieces;
    bool origin_point = false;  ///< the cluster also holds a point at the origin
    std::array<int, 3> row = {20, 29, 24};  ///< the cluster's first and last column, its row
    std::optional<std::vector<std::string>> log = std::nullopt;  ///< every debug line, in order
  };
  const cv::Mat right_part = rectangleMask(kDepthSize, 29, 29, 24, 24);  // dilates over 24..34
  Detection no_mask = makeDetection(semantic::CHAIR, maskCoveringFirst(9));
  no_mask.mask = cv::Mat();
  // The box ends (exclusively) at the mask's column: only its margin finds the mask.
  Detection box_short = makeDetection(semantic::CHAIR, maskCoveringFirst(9));
  box_short.x1 -= 4;
  box_short.x2 -= 1;
  Detection box_reversed = makeDetection(semantic::CHAIR, maskCoveringFirst(9));
  std::swap(box_reversed.x1, box_reversed.x2);
  const auto chair = [](int covered) {
      return makeDetection(semantic::CHAIR, maskCoveringFirst(covered));
    };
  // Colour masks at twice the depth resolution: depth pixel u maps to mask column 2u + 1.
  const auto colour = [](int last_column) {
      return makeDetection(semantic::CHAIR,
        rectangleMask(cv::Size(2 * kWidth, 2 * kHeight), 81, last_column, 61, 61));
    };
  const std::vector<Case> cases = {
    // Coverage 0.9 > 0.5 and share 0.1 < obstacle_percent 0.2.
    {"almost covered cluster takes the class whole", {chair(9)}, {{semantic::CHAIR, 20, 29, true}}},
    {"partly covered cluster is split by the dilated mask", {chair(6)},
      {{semantic::CHAIR, 20, 25, true}, {semantic::NO_TYPE, 26, 29, false}}, false, {20, 29, 24},
      std::vector<std::string>{
        "[DEBUG] cloud_pixel_locate size =10",
        "[DEBUG] cloud_iou=0.60, id=CHAIR",
        "[DEBUG] info.cloud.size()=6, split_base_cloud.size()=4",
        "[DEBUG] cloudAssginLabel add to bbox_cloud_info",
        "[DEBUG] cloud_pixel_locate size =4",
        "[DEBUG] cloudDynamicStaticSplit bbox_cloud size = 1, other_cloud_info size=1"}},
    {"coverage equal to the gate does not match", {chair(5)}, {{semantic::NO_TYPE, 20, 29, false}}},
    // Share 0.4: below person_percent 0.5 (above obstacle_percent, see the split above).
    {"person is taken whole below the person limit",
      {makeDetection(semantic::PERSON, maskCoveringFirst(6))}, {{semantic::PERSON, 20, 29, true}}},
    {"remainder is matched against the other detections",
      {chair(6), makeDetection(semantic::OBSTACLE, right_part)},
      {{semantic::CHAIR, 20, 25, true}, {semantic::OBSTACLE, 26, 29, true}}},
    // OBSTACLE covers 0.6 of the cluster and comes first; CHAIR (0.9) only gets what is left.
    {"first matching detection wins over a better one",
      {makeDetection(semantic::OBSTACLE, right_part), chair(9)},
      {{semantic::OBSTACLE, 24, 29, true}, {semantic::CHAIR, 20, 23, true}}},
    {"points at the origin are not projected and leave a split", {chair(6)},
      {{semantic::CHAIR, 20, 25, true}, {semantic::NO_TYPE, 26, 29, false}}, true},
    {"detections without a usable mask never match",
      {no_mask, makeDetection(semantic::CHAIR, cv::Mat::zeros(kDepthSize, CV_8UC1))},
      {{semantic::NO_TYPE, 20, 29, false}}},
    {"mask just past its box is found by the margin", {box_short},
      {{semantic::CHAIR, 20, 29, true}}},
    {"box in reverse order searches the whole mask", {box_reversed},
      {{semantic::CHAIR, 20, 29, true}}},
    // Colour columns 81..99 cover all ten points; 81..89 dilate to 94 and cover depth 40..46.
    {"larger mask compared at scale covers the cluster", {colour(99)},
      {{semantic::CHAIR, 40, 49, true}}, false, {40, 49, 30}},
    {"larger mask compared at scale covers part of it", {colour(89)},
      {{semantic::CHAIR, 40, 46, true}, {semantic::NO_TYPE, 47, 49, false}}, false, {40, 49, 30}},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    PointCloud::Ptr cluster = rowCluster(c.row[0], c.row[1], c.row[2]);
    if (c.origin_point) {
      cluster->points.emplace_back(0.0F, 0.0F, 0.0F);
      cluster->width = static_cast<uint32_t>(cluster->points.size());
    }
    LogCapture capture;
    const auto pieces = label({cluster}, c.detections);
    if (c.log) {
      EXPECT_EQ(capture.Lines(), *c.log);
    }
    ASSERT_EQ(pieces.size(), c.pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      const Piece & want = c.pieces[i];
      expectPiece(pieces[i], want.type, static_cast<std::size_t>(want.u1 - want.u0 + 1),
        want.has_detection);
      EXPECT_EQ(pieces[i].cloud.header.frame_id, "base_footprint");
      EXPECT_EQ(
        coordinates(pieces[i].cloud), coordinates(*rowCluster(want.u0, want.u1, c.row[2])))
        << "piece " << i;
      if (want.has_detection) {
        EXPECT_FLOAT_EQ(pieces[i].detection.score, 0.9F);
      }
    }
  }
}

TEST(CloudLabellingClusters, UnlabelledClustersAndPiecesOfOneDetectionMergedByDistance)
{
  // Without detections every cluster, null and empty ones skipped, is one unlabelled piece.
  const auto plain =
    label({rowCluster(), nullptr, std::make_shared<PointCloud>(), rowCluster(30, 34, 10)}, {});
  ASSERT_EQ(plain.size(), 2U);
  expectPiece(plain[0], semantic::NO_TYPE, 10, false);
  expectPiece(plain[1], semantic::NO_TYPE, 5, false);

  // Forward camera: base x is the depth. Two clusters inside one PERSON mask, 0.3 m or 0.8 m
  // apart in x; the larger one (20 points) is the main piece.
  const Eigen::Matrix4f camera_to_base = forwardCameraToBase(0.1F, 0.0F, 0.6F);
  const Detection person =
    makeDetection(semantic::PERSON, rectangleMask(kDepthSize, 20, 29, 20, 26));
  for (const float far_depth : {2.3F, 2.8F}) {
    SCOPED_TRACE(far_depth);
    const std::vector<PointCloud::Ptr> clusters = {
      clusterAtPixels(20, 29, 20, 21, 2.0F, camera_to_base),
      clusterAtPixels(20, 29, 26, 26, far_depth, camera_to_base)};
    const auto pieces = label(clusters, {person}, camera_to_base.inverse());
    if (far_depth < 2.5F) {
      ASSERT_EQ(pieces.size(), 1U);
      expectPiece(pieces[0], semantic::PERSON, 30, true);
    } else {
      ASSERT_EQ(pieces.size(), 2U);
      expectPiece(pieces[0], semantic::NO_TYPE, 10, false);
      expectPiece(pieces[1], semantic::PERSON, 20, true);
      EXPECT_EQ(coordinates(pieces[0].cloud), coordinates(*clusters[1]));
    }
  }
}

// Frames whose two clouds disagree in length cannot be split: the cluster stays unlabelled.
TEST(CloudLabellingFrames, CloudsOfDifferentLengthLeaveTheClusterUnlabelled)
{
  Cloud cloud(labellingConfig(), nullptr, nullptr);
  AiResult ai_result;
  ai_result.detections = {makeDetection(semantic::CHAIR, maskCoveringFirst(6))};
  std::vector<bool> used;
  std::vector<std::vector<ClassCloudInfo>> bbox_cloud_info;
  std::vector<ClassCloudInfo> other_cloud_info;
  const PointCloud::Ptr cluster = rowCluster();
  PointCloud shorter = *cluster;
  shorter.points.pop_back();
  cloud.cloudAssginLabel(
    ai_result, used, shorter, *cluster, kIntrinsics, kWidth, kHeight, bbox_cloud_info,
    other_cloud_info);
  ASSERT_EQ(other_cloud_info.size(), 1U);
  EXPECT_EQ(coordinates(other_cloud_info[0].cloud), coordinates(*cluster));
  EXPECT_EQ(bbox_cloud_info.size(), 1U);
  EXPECT_TRUE(bbox_cloud_info[0].empty());
}

// The labelling keeps its masks from cluster to cluster and frame to frame and clears only the
// parts it wrote: a reused labeller must split every cluster of random frames exactly as a fresh
// one does.
TEST(CloudLabellingReuse, ReusedBuffersGiveWhatFreshOnesGive)
{
  const CloudConfig config = labellingConfig();
  Cloud reused(config, nullptr, nullptr);
  std::mt19937 random(20240612U);
  std::uniform_int_distribution<int> corner_u(0, kWidth - 12);
  std::uniform_int_distribution<int> corner_v(0, kHeight - 10);
  std::uniform_int_distribution<int> shift(-3, 3);
  std::uniform_real_distribution<float> depth(1.0F, 3.0F);
  std::bernoulli_distribution drop(0.5);
  const semantic::SemanticType types[] = {semantic::PERSON, semantic::CHAIR, semantic::OBSTACLE};
  std::size_t labelled = 0;
  for (int frame = 0; frame < 12; ++frame) {
    // Six clusters, each about half the pixels of a 10 x 8 box at random places, so that pixels
    // left over from earlier clusters would show inside a box; a detection over each of the
    // first four boxes, shifted by a few pixels.
    std::vector<PointCloud::Ptr> clusters;
    AiResult ai_result;
    for (int i = 0; i < 6; ++i) {
      const int u = corner_u(random);
      const int v = corner_v(random);
      clusters.push_back(clusterAtPixels(u, u + 9, v, v + 7, depth(random)));
      auto & points = clusters.back()->points;
      points.erase(
        std::remove_if(points.begin(), points.end(), [&](const auto &) { return drop(random); }),
        points.end());
      clusters.back()->width = static_cast<uint32_t>(points.size());
      if (i < 4) {
        const int du = shift(random);
        const int dv = shift(random);
        ai_result.detections.push_back(makeDetection(
          types[i % 3],
          rectangleMask(kDepthSize, std::max(u + du, 0), u + 9 + du, std::max(v + dv, 0),
          v + 7 + dv)));
      }
    }
    for (std::size_t c = 0; c < clusters.size(); ++c) {
      // Per run: the points of every labelled piece, list by list, then of every other piece.
      std::vector<std::vector<std::vector<std::array<float, 3>>>> split(2);
      for (int run = 0; run < 2; ++run) {
        Cloud fresh(config, nullptr, nullptr);
        std::vector<bool> used;
        std::vector<std::vector<ClassCloudInfo>> bbox;
        std::vector<ClassCloudInfo> other;
        (run == 0 ? reused : fresh).cloudAssginLabel(
          ai_result, used, *clusters[c], *clusters[c], kIntrinsics, kWidth, kHeight, bbox, other);
        bbox.push_back(other);
        for (const auto & pieces : bbox) {
          split[run].emplace_back();  // separates the lists
          for (const ClassCloudInfo & piece : pieces) {
            split[run].push_back(coordinates(piece.cloud));
          }
        }
        labelled += run == 0 ? split[0].size() - bbox.size() - other.size() : 0;
      }
      EXPECT_EQ(split[0], split[1]) << "frame " << frame << " cluster " << c;
    }
  }
  EXPECT_GT(labelled, 20U);
}

}  // namespace
}  // namespace nimbra::test
