#include "moving_scenes.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>

#include "nimbra_perception_libs/cloud_cluster.hpp"
#include "nimbra_perception_libs/dynamic_cloud_detector.hpp"

namespace orvix
{
namespace perception
{
namespace testing
{
namespace
{

constexpr float kPersonRadius = 0.25F;
constexpr float kPersonHeight = 1.7F;
constexpr float kCartLength = 0.8F;
constexpr float kCartWidth = 0.55F;
constexpr float kCartHeight = 0.9F;
constexpr int kPointStride = 4;
constexpr int kMinPointsInView = 40;  ///< a mover with fewer obstacle points is not yet in view
constexpr float kScoreAfter = 0.5F;   ///< s in view before a mover is scored

Box cartAt(const Eigen::Vector2f & centre, bool long_along_x)
{
  const float hx = 0.5F * (long_along_x ? kCartLength : kCartWidth);
  const float hy = 0.5F * (long_along_x ? kCartWidth : kCartLength);
  return Box{{centre.x() - hx, centre.y() - hy, 0.0F}, {centre.x() + hx, centre.y() + hy, kCartHeight}};
}

Cylinder personAt(const Eigen::Vector2f & centre)
{
  Cylinder c;
  c.centre = centre;
  c.radius = kPersonRadius;
  c.z_max = kPersonHeight;
  return c;
}

Eigen::Isometry3f worldFromBase(float x, float y, float yaw)
{
  Eigen::Isometry3f t = Eigen::Isometry3f::Identity();
  t.linear() = Eigen::AngleAxisf(yaw, Eigen::Vector3f::UnitZ()).toRotationMatrix();
  t.translation() = Eigen::Vector3f(x, y, 0.0F);
  return t;
}

geometry_msgs::msg::Pose toPose(const Eigen::Isometry3f & t)
{
  geometry_msgs::msg::Pose pose;
  pose.position.x = t.translation().x();
  pose.position.y = t.translation().y();
  pose.position.z = t.translation().z();
  const Eigen::Quaternionf q(t.linear());
  pose.orientation.x = q.x();
  pose.orientation.y = q.y();
  pose.orientation.z = q.z();
  pose.orientation.w = q.w();
  return pose;
}

// Randomised corridor with its static objects; movers and robot are set by the caller.
class CaseBuilder
{
public:
  explicit CaseBuilder(unsigned seed)
  : rng_(seed) {}

  float uniform(float low, float high) {return std::uniform_real_distribution<float>(low, high)(rng_);}
  float sign() {return uniform(0.0F, 1.0F) < 0.5F ? -1.0F : 1.0F;}

  /// Corridor of half width `half_width`, end wall 5.5-8 m ahead, a static cylinder and a static cart
  /// beside the walls at least 0.9 m (in x) away from `keep_clear_x`.
  MovingCase corridor(const std::string & name, float half_width, float keep_clear_x)
  {
    MovingCase c;
    c.name = name;
    const float end = uniform(5.5F, 8.0F);
    c.scene.boxes.push_back({{-2.0F, half_width, 0.0F}, {end, half_width + 0.2F, 2.0F}});
    c.scene.boxes.push_back({{-2.0F, -half_width - 0.2F, 0.0F}, {end, -half_width, 2.0F}});
    c.scene.boxes.push_back({{end, -half_width - 0.2F, 0.0F}, {end + 0.2F, half_width + 0.2F, 2.0F}});
    const float side = sign();
    const float pillar_x = keep_clear_x + sign() * uniform(0.9F, 1.4F);
    const float cart_x = keep_clear_x + sign() * uniform(0.9F, 1.4F);
    c.scene.cylinders.push_back(personAt({std::max(0.9F, pillar_x), side * (half_width - 0.3F)}));
    c.scene.boxes.push_back(cartAt({std::max(1.0F, cart_x), -side * (half_width - 0.35F)}, true));
    return c;
  }

  /// Sets the robot's motion and the frame count (at most 2.4 s, shorter for a fast mover to stay inside).
  void robot(MovingCase & c, float speed, float turn, float duration)
  {
    c.robot_speed = speed;
    c.robot_turn = turn;
    c.frames = std::max(16, static_cast<int>(std::lround(std::min(2.4F, duration) * c.rate)));
  }

private:
  std::mt19937 rng_;
};

// Mover crossing the corridor at distance `ahead` from where the robot is at mid-sequence.
Mover across(bool person, float speed, float direction, float crossing_x, float y_mid, float duration)
{
  Mover m;
  m.person = person;
  m.velocity = Eigen::Vector2f(0.0F, direction * speed);
  m.start = Eigen::Vector2f(crossing_x, y_mid) - 0.5F * duration * m.velocity;
  return m;
}

}  // namespace

void MovingFigures::add(const MovingFigures & o)
{
  mover_points += o.mover_points;
  mover_flagged += o.mover_flagged;
  static_points += o.static_points;
  static_flagged += o.static_flagged;
  piece_frames += o.piece_frames;
  piece_dynamic += o.piece_dynamic;
  piece_static += o.piece_static;
}

Camera movingCamera()
{
  Camera camera = makeCamera(0.2F, 0.6F, 0.3F);
  camera.max_depth = 6.0F;
  return camera;
}

std::vector<MovingCase> movingCases(unsigned seed)
{
  CaseBuilder b(seed);
  std::vector<MovingCase> cases;
  // Time for a crossing mover to go from one side to the other, staying 0.45 m off the walls.
  auto crossing_time = [](float half_width, float y_mid, float speed) {
      return 2.0F * (half_width - 0.45F - std::fabs(y_mid)) / speed;
    };
  {
    const float w = b.uniform(1.6F, 2.2F), v = b.uniform(0.3F, 1.5F), vr = b.uniform(0.0F, 0.5F);
    const float y_mid = b.uniform(-0.3F, 0.3F), t = std::min(2.4F, crossing_time(w, y_mid, v));
    const float x = vr * 0.5F * t + 0.2F + b.uniform(1.2F, 3.5F);
    MovingCase c = b.corridor("person_across_straight", w, x);
    c.movers.push_back(across(true, v, b.sign(), x, y_mid, t));
    b.robot(c, vr, 0.0F, t);
    cases.push_back(c);
  }
  {
    const float w = b.uniform(1.6F, 2.2F), v = b.uniform(0.2F, 1.2F), vr = b.uniform(0.1F, 0.4F);
    const float y_mid = b.uniform(-0.3F, 0.3F), t = std::min(2.4F, crossing_time(w, y_mid, v));
    const float x = vr * 0.5F * t + 0.2F + b.uniform(1.2F, 3.0F);
    MovingCase c = b.corridor("cart_across_turning", w, x);
    c.movers.push_back(across(false, v, b.sign(), x, y_mid, t));
    b.robot(c, vr, b.sign() * b.uniform(0.15F, 0.35F), t);
    cases.push_back(c);
  }
  {
    const float w = b.uniform(1.8F, 2.2F), v = b.uniform(0.3F, 1.2F), vr = b.uniform(0.0F, 0.4F);
    const float t = std::min(2.4F, 2.0F * (w - 0.6F) / (v * 0.70710678F));
    const float x = vr * 0.5F * t + 0.2F + b.uniform(2.0F, 3.2F);
    MovingCase c = b.corridor("person_diagonal", w, x);
    Mover m;
    m.velocity = Eigen::Vector2f(-0.70710678F * v, b.sign() * 0.70710678F * v);
    m.start = Eigen::Vector2f(x, b.uniform(-0.2F, 0.2F)) - 0.5F * t * m.velocity;
    c.movers.push_back(m);
    b.robot(c, vr, 0.0F, t);
    cases.push_back(c);
  }
  {
    const float w = b.uniform(1.6F, 2.2F), v = b.uniform(0.3F, 1.2F), vr = b.uniform(0.0F, 0.5F);
    const float start = 0.2F + b.uniform(3.2F, 4.0F);
    // Until it is 1 m in front of the camera.
    const float t = std::min(2.4F, (start - 1.2F) / (v + vr));
    MovingCase c = b.corridor("person_along_approaching", w, -10.0F);
    Mover m;
    m.velocity = Eigen::Vector2f(-v, 0.0F);
    m.start = Eigen::Vector2f(start, b.uniform(-0.6F, 0.6F));
    c.movers.push_back(m);
    b.robot(c, vr, 0.0F, t);
    cases.push_back(c);
  }
  {
    const float w = b.uniform(1.6F, 2.2F), v = b.uniform(0.3F, 1.2F), vr = b.uniform(0.0F, std::min(0.5F, v));
    const float start = 0.2F + b.uniform(1.0F, 1.8F);
    const float t = std::min(2.4F, (4.0F + 0.2F - start) / std::max(0.1F, v - vr));
    MovingCase c = b.corridor("cart_along_receding", w, -10.0F);
    Mover m;
    m.person = false;
    m.velocity = Eigen::Vector2f(v, 0.0F);
    m.start = Eigen::Vector2f(start, b.uniform(-0.6F, 0.6F));
    c.movers.push_back(m);
    b.robot(c, vr, 0.0F, t);
    cases.push_back(c);
  }
  {
    const float w = b.uniform(1.6F, 2.2F), v = b.uniform(0.3F, 1.2F), vr = b.uniform(0.0F, 0.3F);
    const float y_mid = b.uniform(-0.2F, 0.2F), t = std::min(2.4F, crossing_time(w, y_mid, v));
    const float x = vr * 0.5F * t + 0.2F + b.uniform(2.4F, 3.5F);
    MovingCase c = b.corridor("person_behind_static_box", w, x);
    // Hides the legs in the middle of the crossing.
    const float bx = x - b.uniform(0.8F, 1.1F);
    c.scene.boxes.push_back({{bx - 0.3F, y_mid - 0.5F, 0.0F}, {bx + 0.3F, y_mid + 0.5F, 0.8F}});
    c.movers.push_back(across(true, v, b.sign(), x, y_mid, t));
    b.robot(c, vr, 0.0F, t);
    cases.push_back(c);
  }
  {
    const float w = b.uniform(1.8F, 2.2F), v1 = b.uniform(0.3F, 1.2F), v2 = b.uniform(0.2F, 1.0F);
    const float vr = b.uniform(0.0F, 0.4F), y1 = b.uniform(-0.3F, 0.3F), y2 = b.uniform(-0.3F, 0.3F);
    const float t = std::min({2.4F, crossing_time(w, y1, v1), crossing_time(w, y2, v2)});
    const float x1 = vr * 0.5F * t + 0.2F + b.uniform(1.2F, 2.2F);
    const float x2 = x1 + b.uniform(1.0F, 1.6F);
    MovingCase c = b.corridor("person_and_cart", w, 0.5F * (x1 + x2));
    const float direction = b.sign();
    c.movers.push_back(across(true, v1, direction, x1, y1, t));
    c.movers.push_back(across(false, v2, -direction, x2, y2, t));
    b.robot(c, vr, 0.0F, t);
    cases.push_back(c);
  }
  {
    const float w = b.uniform(1.6F, 2.2F), v = b.uniform(0.2F, 0.4F), vr = b.uniform(0.0F, 0.3F);
    const float y_mid = b.uniform(-0.3F, 0.3F), t = 2.4F;
    const float x = vr * 0.5F * t + 0.2F + b.uniform(1.0F, 3.0F);
    MovingCase c = b.corridor("person_slow_turning", w, x);
    c.movers.push_back(across(true, v, b.sign(), x, y_mid, t));
    b.robot(c, vr, b.sign() * b.uniform(0.15F, 0.35F), t);
    cases.push_back(c);
  }
  return cases;
}

MovingFrame renderMovingFrame(const MovingCase & c, int f, int stride, std::mt19937 & rng)
{
  const float dt = 1.0F / c.rate;
  float x = 0.0F, y = 0.0F, yaw = 0.0F;
  for (int k = 0; k < f; ++k) {
    x += c.robot_speed * dt * std::cos(yaw);
    y += c.robot_speed * dt * std::sin(yaw);
    yaw += c.robot_turn * dt;
  }
  Scene scene = c.scene;
  std::vector<int> solid_of_mover;
  for (const Mover & m : c.movers) {
    const Eigen::Vector2f centre = m.start + static_cast<float>(f) * dt * m.velocity;
    if (m.person) {
      solid_of_mover.push_back(-1 - static_cast<int>(scene.cylinders.size()));  // resolved below
      scene.cylinders.push_back(personAt(centre));
    } else {
      solid_of_mover.push_back(static_cast<int>(scene.boxes.size()));
      scene.boxes.push_back(cartAt(centre, std::fabs(m.velocity.x()) >= std::fabs(m.velocity.y())));
    }
  }
  for (int & s : solid_of_mover) {
    if (s < 0) {
      s = static_cast<int>(scene.boxes.size()) + (-1 - s);  // cylinders follow the boxes
    }
  }
  const Camera camera = movingCamera();
  MovingFrame out;
  out.world_from_base = worldFromBase(x, y, yaw);
  const DepthFrame frame = scene.render(camera, out.world_from_base, 0.005F, rng);
  out.depth = frame.depth;
  const LabelledCloud all = cloudFromFrame(frame, camera, stride, 0.05F);
  out.obstacles = std::make_shared<PointCloudXYZ>();
  for (std::size_t i = 0; i < all.cloud->size(); ++i) {
    if (all.truth[i] != Truth::kObstacle) {
      continue;
    }
    out.obstacles->push_back((*all.cloud)[i]);
    const auto it = std::find(solid_of_mover.begin(), solid_of_mover.end(), all.box_index[i]);
    out.mover_of_point.push_back(it == solid_of_mover.end() ? -1 : static_cast<int>(it - solid_of_mover.begin()));
  }
  return out;
}

geometry_msgs::msg::Pose poseMessage(const Eigen::Isometry3f & world_from_base) {return toPose(world_from_base);}

MovingFigures runMovingCase(const MovingCase & c, const DynamicDetectorParams & params, unsigned noise_seed)
{
  const Camera camera = movingCamera();
  DynamicCloudDetector detector(params);
  detector.SetCameraInfo(camera.fx, camera.fy, camera.cx, camera.cy);
  detector.SetTf(camera.base_from_cam.inverse().matrix());
  CloudClusterPara cluster_params;
  cluster_params.cluster_grid_step = 0.05F;
  cluster_params.cluster_grid_kernelSize = 3;
  cluster_params.cluster_grid_th = 10;
  CloudCluster clusterer(cluster_params);
  std::mt19937 rng(noise_seed);
  MovingFigures figures;
  const int score_after = static_cast<int>(std::lround(kScoreAfter * c.rate));
  std::vector<int> first_in_view(c.movers.size(), -1);
  std::vector<PointCloudXYZ::Ptr> clusters;
  PointCloudXYZ moving, still;
  for (int f = 0; f < c.frames; ++f) {
    const MovingFrame frame = renderMovingFrame(c, f, kPointStride, rng);
    const PointCloudXYZ::Ptr & cloud = frame.obstacles;
    const std::vector<int> & mover_of_point = frame.mover_of_point;
    detector.Update(cloud, frame.depth, toPose(frame.world_from_base));
    const std::vector<std::uint8_t> & flags = detector.movingFlags();
    int count = 0;
    clusterer.obstacleCluster(cloud, count, clusters);
    const std::vector<int> & cluster_of_point = clusterer.pointClusterIds();
    for (std::size_t m = 0; m < c.movers.size(); ++m) {
      long points = 0, flagged = 0;
      std::map<int, int> per_cluster;
      for (std::size_t i = 0; i < cloud->size(); ++i) {
        if (mover_of_point[i] == static_cast<int>(m)) {
          ++points;
          flagged += flags[i];
          if (cluster_of_point[i] >= 0) {
            ++per_cluster[cluster_of_point[i]];
          }
        }
      }
      if (first_in_view[m] < 0 && points >= kMinPointsInView) {
        first_in_view[m] = f;
      }
      if (first_in_view[m] < 0 || f < first_in_view[m] + score_after || points < kMinPointsInView) {
        continue;
      }
      figures.mover_points += points;
      figures.mover_flagged += flagged;
      ++figures.piece_frames;
      if (per_cluster.empty()) {
        continue;
      }
      const int best = std::max_element(per_cluster.begin(), per_cluster.end(),
          [](const auto & a, const auto & b) {return a.second < b.second;})->first;
      detector.DivideCloud(*clusters[static_cast<std::size_t>(best)], moving, still);
      const double share = static_cast<double>(moving.size()) / static_cast<double>(clusters[best]->size());
      figures.piece_dynamic += share > 0.7 ? 1 : 0;
      figures.piece_static += share < 0.3 ? 1 : 0;
    }
    if (f > 0) {
      for (std::size_t i = 0; i < cloud->size(); ++i) {
        if (mover_of_point[i] < 0) {
          ++figures.static_points;
          figures.static_flagged += flags[i];
        }
      }
    }
    detector.ready_ = false;
  }
  return figures;
}

MovingFigures runMovingFamily(
  const std::vector<unsigned> & seeds, const DynamicDetectorParams & params, const char * label, bool print,
  std::vector<NamedFigures> * per_case)
{
  std::vector<std::string> names;
  std::vector<MovingFigures> per_kind;
  MovingFigures total;
  for (unsigned seed : seeds) {
    const std::vector<MovingCase> cases = movingCases(seed);
    if (per_kind.empty()) {
      per_kind.resize(cases.size());
      for (const MovingCase & c : cases) {
        names.push_back(c.name);
      }
    }
    for (std::size_t k = 0; k < cases.size(); ++k) {
      const MovingFigures f = runMovingCase(cases[k], params, seed * 31U + static_cast<unsigned>(k));
      per_kind[k].add(f);
      total.add(f);
    }
  }
  if (print) {
    std::printf("[ moving   ] %s seeds:", label);
    for (unsigned seed : seeds) {
      std::printf(" %u", seed);
    }
    std::printf("\n[ moving   ] %-26s %8s %9s %10s %9s %9s\n", "case", "recall", "points", "static FP",
      "dynamic", "frames");
    for (std::size_t k = 0; k < per_kind.size(); ++k) {
      const MovingFigures & f = per_kind[k];
      std::printf("[ moving   ] %-26s %8.4f %9ld %10.5f %9.4f %9d\n", names[k].c_str(), f.recall(), f.mover_points,
        f.staticRate(), f.dynamicShare(), f.piece_frames);
    }
    std::printf("[ moving   ] %-26s %8.4f %9ld %10.5f %9.4f %9d  (static points %ld)\n", "overall",
      total.recall(), total.mover_points, total.staticRate(), total.dynamicShare(), total.piece_frames,
      total.static_points);
  }
  if (per_case != nullptr) {
    per_case->clear();
    for (std::size_t k = 0; k < per_kind.size(); ++k) {
      per_case->push_back({names[k], per_kind[k]});
    }
  }
  return total;
}

}  // namespace testing
}  // namespace perception
}  // namespace orvix
