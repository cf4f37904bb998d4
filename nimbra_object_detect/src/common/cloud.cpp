#include "common/cloud.hpp"

#include <nimbra_perception_libs/cloud_cluster.hpp>
#include <nimbra_perception_libs/perception_utils.hpp>
#include <nimbra_perception_libs/remove_ground_line_fit.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "common/logger.hpp"

namespace nimbra
{
namespace
{

/// Half the edge of the square structuring element that widens detection masks (11 x 11).
constexpr int kDilationRadius = 5;

/// Pixels a mask may reach beyond its detection box (the box corners are truncated to integers).
constexpr int kBoxMargin = 2;

/// A detection mask widened by the structuring element, kept for one frame.
struct DilatedMask
{
  cv::Mat buffer;     ///< labelling-frame image, zero outside `roi`
  cv::Rect roi;       ///< part of `buffer` the last dilation wrote
  bool usable = false;  ///< false when the detection has no mask in the labelling frame
};

/// The two frames of a cluster remainder handed to the next recursion level.
struct RestClouds
{
  Cloud::PointCloud camera;  ///< remainder in the camera frame
  Cloud::PointCloud base;    ///< the same points in the base frame
};

/// True when any of the `count` bytes is non-zero (a reduction the compiler vectorises).
bool anyNonZero(const uint8_t * bytes, int count)
{
  uint8_t any = 0;
  for (int i = 0; i < count; ++i) {
    any |= bytes[i];
  }
  return any != 0;
}

/// Bounding box of the non-zero pixels of a CV_8UC1 mask; empty when there are none.
/// `columns` is scratch space, grown to the mask's width.
cv::Rect maskSupport(const cv::Mat & mask, std::vector<uint8_t> & columns)
{
  int top = -1;
  int bottom = -1;
  for (int v = 0; v < mask.rows; ++v) {
    if (anyNonZero(mask.ptr<uint8_t>(v), mask.cols)) {
      top = top < 0 ? v : top;
      bottom = v;
    }
  }
  if (top < 0) {
    return {};
  }
  // OR of the rows that hold pixels; local pointers and bounds keep the loop vectorisable.
  const int width = mask.cols;
  columns.assign(static_cast<std::size_t>(width), 0);
  uint8_t * merged = columns.data();
  for (int v = top; v <= bottom; ++v) {
    const uint8_t * row = mask.ptr<uint8_t>(v);
    for (int u = 0; u < width; ++u) {
      merged[u] |= row[u];
    }
  }
  int left = 0;
  while (merged[left] == 0) {
    ++left;
  }
  int right = width - 1;
  while (merged[right] == 0) {
    --right;
  }
  return cv::Rect(left, top, right - left + 1, bottom - top + 1);
}

/// The part of a frame where a detection's mask can be non-zero: its box widened by the margin;
/// the whole frame when the box misses it or its corners are in reverse order.
cv::Rect searchWindow(const Detection & detection, cv::Size frame)
{
  if (detection.x2 < detection.x1 || detection.y2 < detection.y1) {
    return cv::Rect(0, 0, frame.width, frame.height);
  }
  const auto clip = [](int64_t value, int limit) {
    return static_cast<int>(std::clamp<int64_t>(value, 0, limit));
  };
  const int left = clip(int64_t{detection.x1} - kBoxMargin, frame.width);
  const int top = clip(int64_t{detection.y1} - kBoxMargin, frame.height);
  const int right = clip(int64_t{detection.x2} + kBoxMargin, frame.width);
  const int bottom = clip(int64_t{detection.y2} + kBoxMargin, frame.height);
  if (right <= left || bottom <= top) {
    return cv::Rect(0, 0, frame.width, frame.height);
  }
  return cv::Rect(left, top, right - left, bottom - top);
}

bool debugEnabled()
{
  return Logger::Instance().enabled(LogLevel::kDebug);
}

void finishCloud(Cloud::PointCloud & cloud)
{
  cloud.width = static_cast<uint32_t>(cloud.points.size());
  cloud.height = 1;
}

/// Starts an empty cloud that inherits the header and density of `source`.
void startPieceCloud(const Cloud::PointCloud & source, Cloud::PointCloud & piece)
{
  piece.points.clear();
  piece.header = source.header;
  piece.is_dense = source.is_dense;
  finishCloud(piece);
}

ClassCloudInfo unmatchedPiece(const Cloud::PointCloud & cloud)
{
  ClassCloudInfo piece;
  piece.cloud = cloud;
  finishCloud(piece.cloud);
  return piece;
}

/// Mean x of the cloud's points; only finite points count when the cloud is not marked dense.
/// NaN when no point counts.
float centroidX(const Cloud::PointCloud & cloud)
{
  double sum = 0.0;
  std::size_t count = 0;
  for (const pcl::PointXYZ & p : cloud.points) {
    if (!cloud.is_dense && !(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z))) {
      continue;
    }
    sum += p.x;
    ++count;
  }
  return count == 0 ? std::numeric_limits<float>::quiet_NaN()
                    : static_cast<float>(sum / static_cast<double>(count));
}

void transformInto(
  const Cloud::PointCloud & in, const Eigen::Matrix4f & transform, Cloud::PointCloud & out)
{
  const Eigen::Matrix3f rotation = transform.topLeftCorner<3, 3>();
  const Eigen::Vector3f translation = transform.topRightCorner<3, 1>();
  out.header = in.header;
  out.is_dense = in.is_dense;
  out.points.resize(in.points.size());
  for (std::size_t i = 0; i < in.points.size(); ++i) {
    out.points[i].getVector3fMap() = rotation * in.points[i].getVector3fMap() + translation;
  }
  finishCloud(out);
}

}  // namespace

/// Buffers of the labelling, sized once per image size and reused from frame to frame.
struct Cloud::Workspace
{
  cv::Size frame;                          ///< labelling frame: the detection masks' size
  cv::Mat cluster_mask;                    ///< projected cluster, zero outside `cluster_roi`
  cv::Rect cluster_roi;                    ///< bounding box of the projected pixels
  std::vector<cv::Point> pixels;           ///< projected pixels in the labelling frame
  std::vector<std::size_t> point_index;    ///< source point of each projected pixel
  std::vector<DilatedMask> dilated;        ///< one per detection of the frame
  std::vector<std::unique_ptr<RestClouds>> rest;  ///< remainder buffers, one per recursion level
  PointCloud camera_cluster;               ///< camera-frame copy of the current cluster
  std::vector<uint8_t> support_columns;    ///< scratch row for finding a mask's support
  cv::Mat kernel = cv::getStructuringElement(
    cv::MORPH_RECT, cv::Size(2 * kDilationRadius + 1, 2 * kDilationRadius + 1));

  RestClouds & restAt(std::size_t level)
  {
    while (rest.size() <= level) {
      rest.push_back(std::make_unique<RestClouds>());
    }
    return *rest[level];
  }

  void clearClusterMask()
  {
    if (!cluster_roi.empty()) {
      cluster_mask(cluster_roi).setTo(0);
      cluster_roi = cv::Rect();
    }
  }
};

Cloud::Cloud(
  const CloudConfig & config, std::shared_ptr<orvix::perception::CloudCluster> cluster,
  std::shared_ptr<orvix::perception::RemoveGroundLineFit> ground_remover)
: config_(config),
  cluster_(std::move(cluster)),
  ground_remover_(std::move(ground_remover)),
  workspace_(std::make_unique<Workspace>())
{
}

Cloud::~Cloud() = default;

void Cloud::setGroundRemover(std::shared_ptr<orvix::perception::RemoveGroundLineFit> ground_remover)
{
  ground_remover_ = std::move(ground_remover);
}

void Cloud::prepareDetections(const AiResult & ai_result, int32_t width, int32_t height)
{
  Workspace & ws = *workspace_;
  const std::vector<Detection> & detections = ai_result.detections;

  // Detection masks have the colour image's size, the cluster is projected with the depth
  // intrinsics into the depth image. Everything is compared in the masks' frame: a depth pixel
  // (u, v) maps to the mask pixel holding its centre, (u + 0.5) * mask size / depth size, which is
  // (u, v) itself when both images have the same size. The frame is the size of the first usable
  // mask; a detection whose mask has another size, another type or no pixels never matches.
  cv::Size frame(std::max(width, 1), std::max(height, 1));
  for (const Detection & detection : detections) {
    if (!detection.mask.empty() && detection.mask.type() == CV_8UC1) {
      frame = detection.mask.size();
      break;
    }
  }
  if (ws.cluster_mask.size() != frame) {
    ws.cluster_mask = cv::Mat::zeros(frame, CV_8UC1);
    ws.cluster_roi = cv::Rect();
  }
  ws.frame = frame;
  if (ws.dilated.size() < detections.size()) {
    ws.dilated.resize(detections.size());
  }

  const cv::Rect image(0, 0, frame.width, frame.height);
  for (std::size_t i = 0; i < detections.size(); ++i) {
    DilatedMask & slot = ws.dilated[i];
    if (slot.buffer.size() != frame) {
      slot.buffer = cv::Mat::zeros(frame, CV_8UC1);
    } else if (!slot.roi.empty()) {
      slot.buffer(slot.roi).setTo(0);
    }
    slot.roi = cv::Rect();
    const cv::Mat & mask = detections[i].mask;
    slot.usable = !mask.empty() && mask.type() == CV_8UC1 && mask.size() == frame;
    if (!slot.usable) {
      continue;
    }
    // The model draws each mask inside its box: only the box, widened by a small margin for the
    // rounding of its corners, is searched. A box that misses the mask's frame searches it all.
    cv::Rect search = searchWindow(detections[i], frame);
    cv::Rect support = maskSupport(mask(search), ws.support_columns);
    support.x += search.x;
    support.y += search.y;
    if (support.empty()) {
      slot.usable = false;
      continue;
    }
    // The dilation cannot reach farther than the radius from the mask's support, so dilating
    // that neighbourhood alone gives the same image as dilating the whole mask.
    slot.roi = cv::Rect(
                 support.x - kDilationRadius, support.y - kDilationRadius,
                 support.width + 2 * kDilationRadius, support.height + 2 * kDilationRadius) &
               image;
    cv::Mat target = slot.buffer(slot.roi);
    cv::dilate(mask(slot.roi), target, ws.kernel);
  }
}

void Cloud::projectCluster(
  const PointCloud & camera_cloud, const CameraIntrinsics & intrinsics, int32_t width,
  int32_t height)
{
  Workspace & ws = *workspace_;
  ws.pixels.clear();
  ws.point_index.clear();
  ws.clearClusterMask();
  if (width <= 0 || height <= 0 || !intrinsicsValid(intrinsics)) {
    return;
  }
  const bool scaled = ws.frame.width != width || ws.frame.height != height;
  const int64_t frame_w = ws.frame.width;
  const int64_t frame_h = ws.frame.height;
  int min_u = std::numeric_limits<int>::max();
  int min_v = std::numeric_limits<int>::max();
  int max_u = -1;
  int max_v = -1;
  for (std::size_t i = 0; i < camera_cloud.points.size(); ++i) {
    const pcl::PointXYZ & p = camera_cloud.points[i];
    if (p.x == 0.0F && p.y == 0.0F && p.z == 0.0F) {
      continue;
    }
    // Points on or behind the image plane, or not finite, have no pixel.
    if (!(p.z > 0.0F) || !std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      continue;
    }
    int u = orvix::perception::clamp(p.x * intrinsics.fx / p.z + intrinsics.cx + 0.5F, 0, width - 1);
    int v = orvix::perception::clamp(p.y * intrinsics.fy / p.z + intrinsics.cy + 0.5F, 0, height - 1);
    if (scaled) {
      u = static_cast<int>(((2 * static_cast<int64_t>(u) + 1) * frame_w) / (2 * int64_t{width}));
      v = static_cast<int>(((2 * static_cast<int64_t>(v) + 1) * frame_h) / (2 * int64_t{height}));
    }
    ws.pixels.emplace_back(u, v);
    ws.point_index.push_back(i);
    min_u = std::min(min_u, u);
    max_u = std::max(max_u, u);
    min_v = std::min(min_v, v);
    max_v = std::max(max_v, v);
  }
  if (!ws.pixels.empty()) {
    ws.cluster_roi = cv::Rect(min_u, min_v, max_u - min_u + 1, max_v - min_v + 1);
    orvix::perception::pixelToMask(ws.pixels, ws.cluster_mask);
  }
}

float Cloud::clusterCoverage(std::size_t index) const
{
  const Workspace & ws = *workspace_;
  const DilatedMask & dilated = ws.dilated[index];
  if (!dilated.usable || ws.pixels.empty() || (ws.cluster_roi & dilated.roi).empty()) {
    return 0.0F;
  }
  // Mode 0 measures the share of the cluster mask (the first) covered by the dilated mask: it
  // counts cluster pixels only, so comparing inside the cluster's bounding box is exact.
  const cv::Mat cluster = ws.cluster_mask(ws.cluster_roi);
  const cv::Mat detection = dilated.buffer(ws.cluster_roi);
  return orvix::perception::maskIou(cluster, detection, orvix::perception::kMaskOverFirst);
}

void Cloud::cloudAssginLabel(
  const AiResult & ai_result, std::vector<bool> & used, const PointCloud & camera_cloud,
  const PointCloud & base_cloud, const CameraIntrinsics & intrinsics, int32_t width,
  int32_t height, std::vector<std::vector<ClassCloudInfo>> & bbox_cloud_info,
  std::vector<ClassCloudInfo> & other_cloud_info)
{
  const std::size_t count = ai_result.detections.size();
  if (used.size() < count) {
    used.resize(count, false);
  }
  if (bbox_cloud_info.size() < count) {
    bbox_cloud_info.resize(count);
  }
  prepareDetections(ai_result, width, height);
  assignLabel(
    0, ai_result, used, camera_cloud, base_cloud, intrinsics, width, height, bbox_cloud_info,
    other_cloud_info);
}

void Cloud::assignLabel(
  std::size_t level, const AiResult & ai_result, std::vector<bool> & used,
  const PointCloud & camera_cloud, const PointCloud & base_cloud,
  const CameraIntrinsics & intrinsics, int32_t width, int32_t height,
  std::vector<std::vector<ClassCloudInfo>> & bbox_cloud_info,
  std::vector<ClassCloudInfo> & other_cloud_info)
{
  Workspace & ws = *workspace_;
  const bool debug = debugEnabled();
  if (camera_cloud.points.size() != base_cloud.points.size()) {
    // The two frames must describe the same points; without that no point can be split.
    ws.clearClusterMask();
    other_cloud_info.push_back(unmatchedPiece(base_cloud));
    return;
  }
  projectCluster(camera_cloud, intrinsics, width, height);
  if (debug) {
    LOG_DEBUG("cloud_pixel_locate size ={0:d}", ws.pixels.size());
  }

  const std::vector<Detection> & detections = ai_result.detections;
  for (std::size_t d = 0; d < detections.size(); ++d) {
    if (used[d]) {
      continue;
    }
    const Detection & detection = detections[d];
    const float iou = clusterCoverage(d);
    if (debug) {
      LOG_DEBUG("cloud_iou={0:03.2f}, id={1:s}", iou, semantic::SemanticTypeName(detection.type));
    }
    if (!(iou > config_.mask_iou_max)) {
      continue;
    }

    // First match wins: points inside the dilated mask form the piece, the others the rest.
    ClassCloudInfo info;
    startPieceCloud(base_cloud, info.cloud);
    info.cloud.points.reserve(ws.pixels.size());
    RestClouds & rest = ws.restAt(level);
    startPieceCloud(camera_cloud, rest.camera);
    startPieceCloud(base_cloud, rest.base);
    const cv::Mat & dilated = ws.dilated[d].buffer;
    for (std::size_t k = 0; k < ws.pixels.size(); ++k) {
      const std::size_t i = ws.point_index[k];
      if (orvix::perception::isPointInMask(dilated, ws.pixels[k])) {
        info.cloud.points.push_back(base_cloud.points[i]);
      } else {
        rest.camera.points.push_back(camera_cloud.points[i]);
        rest.base.points.push_back(base_cloud.points[i]);
      }
    }
    if (debug) {
      LOG_DEBUG(
        "info.cloud.size()={0:d}, split_base_cloud.size()={1:d}", info.cloud.points.size(),
        rest.base.points.size());
    }

    // A cluster almost entirely covered by the mask is taken whole.
    const float share = 1.0F - iou;
    const float limit =
      detection.type == semantic::PERSON ? config_.person_percent : config_.obstacle_percent;
    if (share < limit) {
      info.cloud.points = base_cloud.points;
      rest.camera.points.clear();
      rest.base.points.clear();
    }
    finishCloud(info.cloud);
    finishCloud(rest.camera);
    finishCloud(rest.base);
    ws.clearClusterMask();
    used[d] = true;

    if (info.cloud.points.empty()) {
      // Nothing of the cluster lies in the mask: it stays unmatched as a whole.
      other_cloud_info.push_back(unmatchedPiece(base_cloud));
      return;
    }
    info.detection = detection;
    info.type = detection.type;
    info.has_detection = false;
    bbox_cloud_info[d].push_back(std::move(info));
    if (debug) {
      LOG_DEBUG("cloudAssginLabel add to bbox_cloud_info");
    }
    if (!rest.base.points.empty()) {
      assignLabel(
        level + 1, ai_result, used, rest.camera, rest.base, intrinsics, width, height,
        bbox_cloud_info, other_cloud_info);
    }
    return;
  }

  ws.clearClusterMask();
  other_cloud_info.push_back(unmatchedPiece(base_cloud));
}

void Cloud::mergeDetectionPieces(
  std::vector<std::vector<ClassCloudInfo>> & bbox_cloud_info,
  std::vector<ClassCloudInfo> & merged) const
{
  std::vector<float> centroid_x;
  for (std::vector<ClassCloudInfo> & pieces : bbox_cloud_info) {
    if (pieces.empty()) {
      continue;
    }
    if (pieces.size() == 1) {
      pieces.front().has_detection = true;
      merged.push_back(std::move(pieces.front()));
      continue;
    }
    centroid_x.clear();
    std::size_t main = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      centroid_x.push_back(centroidX(pieces[i].cloud));
      if (pieces[i].cloud.points.size() > pieces[main].cloud.points.size()) {
        main = i;
      }
    }
    ClassCloudInfo & main_piece = pieces[main];
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (i == main) {
        continue;
      }
      PointCloud & cloud = pieces[i].cloud;
      if (std::fabs(centroid_x[i] - centroid_x[main]) < config_.cloud_x_merge_distance) {
        main_piece.cloud.points.insert(
          main_piece.cloud.points.end(), cloud.points.begin(), cloud.points.end());
        main_piece.cloud.is_dense = main_piece.cloud.is_dense && cloud.is_dense;
        finishCloud(main_piece.cloud);
      } else {
        ClassCloudInfo unmatched;
        unmatched.cloud = std::move(cloud);
        merged.push_back(std::move(unmatched));
      }
    }
    main_piece.has_detection = true;
    merged.push_back(std::move(main_piece));
  }
}

void Cloud::cloudDynamicStaticSplit(
  const std::vector<PointCloud::Ptr> & clusters, const AiResult & ai_result,
  const CameraIntrinsics & intrinsics, const Eigen::Matrix4f & base_to_camera, int32_t width,
  int32_t height, std::vector<ClassCloudInfo> & class_cloud_info)
{
  Workspace & ws = *workspace_;
  const std::size_t count = ai_result.detections.size();
  std::vector<std::vector<ClassCloudInfo>> bbox_cloud_info(count);
  std::vector<ClassCloudInfo> other_cloud_info;
  std::vector<bool> used;
  prepareDetections(ai_result, width, height);

  for (const PointCloud::Ptr & cluster : clusters) {
    if (!cluster || cluster->points.empty() || cluster->width == 0) {
      continue;
    }
    transformInto(*cluster, base_to_camera, ws.camera_cluster);
    used.assign(count, false);
    assignLabel(
      0, ai_result, used, ws.camera_cluster, *cluster, intrinsics, width, height,
      bbox_cloud_info, other_cloud_info);
  }

  std::vector<ClassCloudInfo> merged;
  mergeDetectionPieces(bbox_cloud_info, merged);
  LOG_DEBUG(
    "cloudDynamicStaticSplit bbox_cloud size = {}, other_cloud_info size={}", merged.size(),
    other_cloud_info.size());

  class_cloud_info = std::move(merged);
  class_cloud_info.reserve(class_cloud_info.size() + other_cloud_info.size());
  for (ClassCloudInfo & piece : other_cloud_info) {
    class_cloud_info.push_back(std::move(piece));
  }
}

}  // namespace nimbra
