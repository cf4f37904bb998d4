#include "nimbra_perception_libs/dynamic_cloud_detector.hpp"

#include <algorithm>
#include <cmath>

#include <Eigen/Geometry>

#include "depth_history.hpp"
#include "moving_object_tracker.hpp"

namespace orvix
{
namespace perception
{
namespace
{

bool finitePose(const geometry_msgs::msg::Pose & pose)
{
  const auto & p = pose.position;
  const auto & q = pose.orientation;
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::isfinite(q.x) &&
         std::isfinite(q.y) && std::isfinite(q.z) && std::isfinite(q.w);
}

DynamicDetectorParams checked(const DynamicDetectorParams & params, const std::string & source)
{
  const std::string problem = validateDynamicDetectorParams(params);
  if (!problem.empty()) {
    throw ConfigError(source + ": " + problem);
  }
  return params;
}

}  // namespace

struct DynamicCloudDetector::Impl
{
  DynamicDetectorParams params;
  detail::DepthHistory history;
  detail::MovingObjectTracker objects;
  float fx = 0.0F, fy = 0.0F, cx = 0.0F, cy = 0.0F;
  bool have_intrinsics = false;
  Eigen::Isometry3d cam_from_base = Eigen::Isometry3d::Identity();
  Eigen::Matrix<float, 3, 4> cur_from_base = Eigen::Matrix<float, 3, 4>::Identity();  ///< same, float
  bool have_last_pose = false;
  Eigen::Vector3d last_position = Eigen::Vector3d::Zero();
  std::vector<std::uint8_t> moving;
  // Per full-resolution pixel: depth of the moving point labelled there by the last Update (0: none).
  cv::Mat moving_depth;
  std::vector<int> touched;  ///< pixels written into moving_depth by the last Update
  // Judged points of the last Update (finite, within max_depth): input index, base x-y, evidence.
  std::vector<std::size_t> judged;
  std::vector<float> judged_x;
  std::vector<float> judged_y;
  std::vector<std::uint8_t> seen_through;
  std::vector<std::uint8_t> held;            ///< per judged point: the oldest frame saw a surface there
  std::vector<std::uint8_t> at_edge;         ///< per judged point: near the left or right image edge or max_depth
  std::vector<float> vacated_xy;             ///< base x-y of earlier points now seen through, m
  std::vector<std::uint8_t> object_moving;
  // Ring of the judged points of the last `history_frames` updates, odometry frame.
  std::vector<std::vector<Eigen::Vector3f>> past_points;
  int past_newest = -1;
  int past_count = 0;
  bool has_result = false;
  std::string error;

  explicit Impl(const DynamicDetectorParams & p)
  : params(p)
  {
    // The current frame is stored first, then compared with the `history_frames` before it.
    history.configure(p.history_frames + 1, p.depth_downsample, p.min_depth, p.max_depth);
    past_points.resize(static_cast<std::size_t>(p.history_frames));
    objects.configure(p);
  }

  void forget()
  {
    history.clear();
    objects.clear();
    past_newest = -1;
    past_count = 0;
  }

  bool project(const Eigen::Vector3f & q, float & u, float & v) const
  {
    if (!(q.z() > 0.0F)) {
      return false;
    }
    const float inv_z = 1.0F / q.z();
    u = fx * q.x() * inv_z + cx;
    v = fy * q.y() * inv_z + cy;
    return true;
  }

  // Pixel (nearest, pixel centres at integer coordinates) of a base-frame point in the current image,
  // or -1; `depth` receives its camera depth.
  int pixelOf(const Eigen::Vector4f & point, float & depth) const
  {
    const Eigen::Vector3f q = cur_from_base * point;
    float u = 0.0F;
    float v = 0.0F;
    if (moving_depth.empty() || !project(q, u, v)) {
      return -1;
    }
    if (!(u > -0.5F && v > -0.5F && u < static_cast<float>(moving_depth.cols) - 0.5F &&
      v < static_cast<float>(moving_depth.rows) - 0.5F))
    {
      return -1;
    }
    depth = q.z();
    return static_cast<int>(std::lround(v)) * moving_depth.cols + static_cast<int>(std::lround(u));
  }

  void clearResult()
  {
    float * data = moving_depth.empty() ? nullptr : moving_depth.ptr<float>();
    for (int index : touched) {
      data[index] = 0.0F;
    }
    touched.clear();
    has_result = false;
  }

  void label(const PointCloudXYZ & cloud, const Eigen::Isometry3d & odom_from_base);

  // Points of the oldest stored update that the current frame sees through: the place an object left.
  void findVacated(const Eigen::Isometry3d & odom_from_base)
  {
    vacated_xy.clear();
    if (past_count == 0 || history.size() == 0) {
      return;
    }
    const int oldest = (past_newest - (past_count - 1) + static_cast<int>(past_points.size())) %
      static_cast<int>(past_points.size());
    const detail::DepthFrame & now = history.frame(0);
    const Eigen::Matrix<float, 3, 4> cam_from_odom = now.cam_from_odom.matrix().topRows<3>().cast<float>();
    const Eigen::Matrix<float, 3, 4> base_from_odom =
      odom_from_base.inverse().matrix().topRows<3>().cast<float>();
    for (const Eigen::Vector3f & p : past_points[static_cast<std::size_t>(oldest)]) {
      const Eigen::Vector4f point(p.x(), p.y(), p.z(), 1.0F);
      const Eigen::Vector3f q = cam_from_odom * point;
      float u = 0.0F;
      float v = 0.0F;
      if (q.z() < params.min_depth || q.z() > params.max_depth || !project(q, u, v)) {
        continue;
      }
      const float seen = history.nearestDepth(now, u, v);
      if (seen > q.z() + params.min_depth_gap + params.depth_gap_ratio * q.z()) {
        const Eigen::Vector3f b = base_from_odom * point;
        vacated_xy.push_back(b.x());
        vacated_xy.push_back(b.y());
      }
    }
  }

  void storeJudged(const PointCloudXYZ & cloud, const Eigen::Isometry3d & odom_from_base)
  {
    past_newest = (past_newest + 1) % static_cast<int>(past_points.size());
    past_count = std::min(past_count + 1, static_cast<int>(past_points.size()));
    std::vector<Eigen::Vector3f> & slot = past_points[static_cast<std::size_t>(past_newest)];
    slot.clear();
    const Eigen::Isometry3f to_odom = odom_from_base.cast<float>();
    for (std::size_t i : judged) {
      const pcl::PointXYZ & p = cloud.points[i];
      slot.push_back(to_odom * Eigen::Vector3f(p.x, p.y, p.z));
    }
  }
};

void DynamicCloudDetector::Impl::label(const PointCloudXYZ & cloud, const Eigen::Isometry3d & odom_from_base)
{
  const std::size_t n = cloud.size();
  moving.assign(n, 0U);
  // Frame 0 is the current one; 1 and older are compared.
  const int frames = history.size();
  // Transforms from the current base frame into each stored camera, composed once per frame.
  Eigen::Matrix<float, 3, 4> past_from_base[65];
  for (int k = 0; k < frames; ++k) {
    past_from_base[k] = (history.frame(k).cam_from_odom * odom_from_base).matrix().topRows<3>().cast<float>();
  }
  judged.clear();
  judged_x.clear();
  judged_y.clear();
  seen_through.clear();
  held.clear();
  at_edge.clear();
  // Only the left and right edges: an upright object cut by the top or bottom keeps its floor position.
  constexpr float kRangeEdge = 0.3F;  // m
  const float edge = 4.0F * static_cast<float>(history.factor());
  const float right = static_cast<float>(moving_depth.cols - 1) - edge;
  for (std::size_t i = 0; i < n; ++i) {
    const pcl::PointXYZ & p = cloud.points[i];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      continue;
    }
    const Eigen::Vector4f point(p.x, p.y, p.z, 1.0F);
    const Eigen::Vector3f current = cur_from_base * point;
    if (current.z() > params.max_depth) {
      continue;
    }
    // Oldest frames first: they are the likeliest to have seen through a moving object. A point that
    // earlier frames saw in place as often as a move would need votes is settled as still.
    int votes = 0;
    int confirmations = 0;
    int oldest_verdict = 0;  // of the oldest frame with a reading: 1 seen through, 2 surface, 3 hidden
    for (int k = frames - 1; k >= 1 && votes < params.min_votes && confirmations < params.min_votes; --k) {
      const Eigen::Vector3f q = past_from_base[k] * point;
      float u = 0.0F;
      float v = 0.0F;
      if (q.z() < params.min_depth || !project(q, u, v)) {
        continue;
      }
      const float seen = history.nearestDepth(history.frame(k), u, v);
      if (seen <= 0.0F) {
        continue;
      }
      const float margin = params.min_depth_gap + params.depth_gap_ratio * q.z();
      if (seen > q.z() + margin) {
        ++votes;  // the earlier frame saw clearly beyond this position: it was empty then
        oldest_verdict = oldest_verdict == 0 ? 1 : oldest_verdict;
      } else if (seen > q.z() - margin) {
        ++confirmations;  // the earlier frame saw a surface here
        oldest_verdict = oldest_verdict == 0 ? 2 : oldest_verdict;
      } else {
        oldest_verdict = oldest_verdict == 0 ? 3 : oldest_verdict;
      }
    }
    judged.push_back(i);
    judged_x.push_back(p.x);
    judged_y.push_back(p.y);
    seen_through.push_back(votes >= params.min_votes ? 1U : 0U);
    held.push_back(oldest_verdict == 2 ? 1U : 0U);
    float cu = 0.0F;
    float cv = 0.0F;
    // Near the range limit counts as an edge too: the visible part of a long wall slides with it.
    const bool inside = project(current, cu, cv) && cu >= edge && cu <= right &&
      current.z() < params.max_depth - kRangeEdge;
    at_edge.push_back(inside ? 0U : 1U);
  }
  findVacated(odom_from_base);
  storeJudged(cloud, odom_from_base);
  // Evidence becomes a decision per object: see-through points mark their whole object, if confirmed.
  objects.label(
    judged_x.data(), judged_y.data(), seen_through.data(), held.data(), at_edge.data(), judged.size(), vacated_xy.data(),
    vacated_xy.size() / 2, odom_from_base, object_moving);
  float * moving_data = moving_depth.ptr<float>();
  for (std::size_t j = 0; j < judged.size(); ++j) {
    if (object_moving[j] == 0U) {
      continue;
    }
    const pcl::PointXYZ & p = cloud.points[judged[j]];
    moving[judged[j]] = 1U;
    float depth = 0.0F;
    const int index = pixelOf(Eigen::Vector4f(p.x, p.y, p.z, 1.0F), depth);
    if (index < 0) {
      continue;
    }
    if (moving_data[index] == 0.0F) {
      touched.push_back(index);
      moving_data[index] = depth;
    } else {
      moving_data[index] = std::min(moving_data[index], depth);
    }
  }
}

DynamicCloudDetector::DynamicCloudDetector(const std::string & config_path)
: impl_(std::make_unique<Impl>(loadDynamicDetectorParams(config_path)))
{
}

DynamicCloudDetector::DynamicCloudDetector(const DynamicDetectorParams & params)
: impl_(std::make_unique<Impl>(checked(params, "DynamicCloudDetector")))
{
}

DynamicCloudDetector::~DynamicCloudDetector() = default;

void DynamicCloudDetector::SetCameraInfo(float fx, float fy, float cx, float cy)
{
  Impl & m = *impl_;
  m.fx = fx;
  m.fy = fy;
  m.cx = cx;
  m.cy = cy;
  m.have_intrinsics = std::isfinite(fx) && std::isfinite(fy) && std::isfinite(cx) && std::isfinite(cy) &&
    fx > 0.0F && fy > 0.0F;
  // Stored frames were taken with other intrinsics.
  m.forget();
  m.clearResult();
}

void DynamicCloudDetector::SetTf(const Eigen::Matrix4f & base_to_cam)
{
  Impl & m = *impl_;
  m.cam_from_base.matrix() = base_to_cam.cast<double>();
  m.cur_from_base = base_to_cam.topRows<3>();
  m.forget();
  m.clearResult();
}

bool DynamicCloudDetector::Update(
  const PointCloudXYZ::ConstPtr & cloud, const cv::Mat & depth, const geometry_msgs::msg::Pose & pose)
{
  Impl & m = *impl_;
  if (!cloud) {
    m.error = "Update: null cloud";
    return false;
  }
  if (!m.have_intrinsics) {
    m.error = "Update: no valid camera info (SetCameraInfo)";
    return false;
  }
  if (depth.empty() || depth.type() != CV_32FC1) {
    m.error = "Update: depth image must be a non-empty CV_32FC1 image in metres";
    return false;
  }
  if (!finitePose(pose)) {
    m.error = "Update: pose holds NaN or infinite values";
    return false;
  }
  Eigen::Quaterniond q(pose.orientation.w, pose.orientation.x, pose.orientation.y, pose.orientation.z);
  if (q.norm() < 1e-6) {
    m.error = "Update: pose orientation is not a rotation (zero quaternion)";
    return false;
  }
  if (!m.cam_from_base.matrix().allFinite()) {
    m.error = "Update: base-to-camera transform holds NaN or infinite values";
    return false;
  }
  m.error.clear();
  q.normalize();
  Eigen::Isometry3d odom_from_base = Eigen::Isometry3d::Identity();
  odom_from_base.linear() = q.toRotationMatrix();
  odom_from_base.translation() = Eigen::Vector3d(pose.position.x, pose.position.y, pose.position.z);

  // A jump of the odometry (reset, relocalisation) makes the stored poses meaningless.
  if (m.have_last_pose && (odom_from_base.translation() - m.last_position).norm() > m.params.reset_distance) {
    m.forget();
  }
  m.last_position = odom_from_base.translation();
  m.have_last_pose = true;
  if (m.moving_depth.size() != depth.size()) {
    m.touched.clear();
    m.moving_depth = cv::Mat::zeros(depth.size(), CV_32FC1);
    m.forget();
  }
  m.clearResult();

  const bool compared = m.history.size() > 0;
  m.history.push(depth, m.cam_from_base * odom_from_base.inverse());
  m.label(*cloud, odom_from_base);
  m.has_result = compared;
  if (compared) {
    ready_ = true;
  }
  return true;
}

bool DynamicCloudDetector::DivideCloud(
  const PointCloudXYZ & in, PointCloudXYZ & moving, PointCloudXYZ & still) const
{
  const Impl & m = *impl_;
  moving.clear();
  still.clear();
  moving.header = in.header;
  still.header = in.header;
  const float * data = m.moving_depth.empty() ? nullptr : m.moving_depth.ptr<float>();
  for (const pcl::PointXYZ & p : in.points) {
    bool is_moving = false;
    if (m.has_result && data != nullptr && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z)) {
      float depth = 0.0F;
      const int index = m.pixelOf(Eigen::Vector4f(p.x, p.y, p.z, 1.0F), depth);
      is_moving = index >= 0 && data[index] > 0.0F &&
        std::fabs(data[index] - depth) <= m.params.match_tolerance;
    }
    (is_moving ? moving : still).push_back(p);
  }
  for (PointCloudXYZ * out : {&moving, &still}) {
    out->width = static_cast<std::uint32_t>(out->size());
    out->height = 1;
    out->is_dense = in.is_dense;
  }
  return m.has_result;
}

bool DynamicCloudDetector::DivideCloud(
  const PointCloudXYZ::ConstPtr & in, const PointCloudXYZ::Ptr & moving, const PointCloudXYZ::Ptr & still) const
{
  if (!in || !moving || !still) {
    return false;
  }
  return DivideCloud(*in, *moving, *still);
}

void DynamicCloudDetector::Reset()
{
  impl_->forget();
  impl_->clearResult();
  impl_->moving.clear();
  impl_->have_last_pose = false;
  ready_ = false;
}

const std::vector<std::uint8_t> & DynamicCloudDetector::movingFlags() const {return impl_->moving;}

const DynamicDetectorParams & DynamicCloudDetector::params() const {return impl_->params;}

const std::string & DynamicCloudDetector::lastError() const {return impl_->error;}

}  // namespace perception
}  // namespace orvix
