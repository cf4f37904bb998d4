#include "scenes.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include <pcl/filters/voxel_grid.h>

#include "nimbra_perception_libs/cloud_cluster.hpp"

namespace orvix
{
namespace perception
{
namespace testing
{
namespace
{

constexpr float kInf = std::numeric_limits<float>::infinity();

// Ray o + t d against the plane z = a x + b y + c; t > 0.
float hitPlane(const Eigen::Vector3f & o, const Eigen::Vector3f & d, float a, float b, float c)
{
  const float denom = d.z() - a * d.x() - b * d.y();
  if (std::fabs(denom) < 1e-9F) {
    return kInf;
  }
  const float t = (a * o.x() + b * o.y() + c - o.z()) / denom;
  return t > 1e-6F ? t : kInf;
}

float hitBox(const Eigen::Vector3f & o, const Eigen::Vector3f & d, const Box & box)
{
  float t0 = 0.0F;
  float t1 = kInf;
  for (int axis = 0; axis < 3; ++axis) {
    if (std::fabs(d[axis]) < 1e-12F) {
      if (o[axis] < box.min[axis] || o[axis] > box.max[axis]) {
        return kInf;
      }
      continue;
    }
    float ta = (box.min[axis] - o[axis]) / d[axis];
    float tb = (box.max[axis] - o[axis]) / d[axis];
    if (ta > tb) {
      std::swap(ta, tb);
    }
    t0 = std::max(t0, ta);
    t1 = std::min(t1, tb);
    if (t0 > t1) {
      return kInf;
    }
  }
  return t0 > 1e-6F ? t0 : kInf;
}

// Ray o + t d against the side of an upright cylinder standing on the floor; t > 0. Its caps are
// never seen first: the cameras are mounted lower than its top and above the floor.
float hitCylinder(const Eigen::Vector3f & o, const Eigen::Vector3f & d, const Cylinder & c)
{
  const float ox = o.x() - c.centre.x();
  const float oy = o.y() - c.centre.y();
  const float a = d.x() * d.x() + d.y() * d.y();
  const float b = ox * d.x() + oy * d.y();
  const float disc = b * b - a * (ox * ox + oy * oy - c.radius * c.radius);
  if (a < 1e-12F || disc < 0.0F) {
    return kInf;
  }
  for (float t : {(-b - std::sqrt(disc)) / a, (-b + std::sqrt(disc)) / a}) {
    const float z = o.z() + t * d.z();
    if (t > 1e-6F && z >= c.z_min && z <= c.z_max) {
      return t;
    }
  }
  return kInf;
}

// The rising plane where it is the floor, and for a ramp the flat part before its start.
float hitFloor(const Floor & floor, const Eigen::Vector3f & o, const Eigen::Vector3f & d)
{
  auto along = [&](float t) {return floor.direction.dot((o + t * d).head<2>()) - floor.start;};
  const float start = floor.ramp ? floor.start : 0.0F;
  const Eigen::Vector2f rise = floor.slope * floor.direction;
  float t = hitPlane(o, d, rise.x(), rise.y(), floor.level - floor.slope * start);
  if (floor.ramp && t < kInf && along(t) < 0.0F) {
    t = kInf;
  }
  const float t_flat = floor.ramp ? hitPlane(o, d, 0.0F, 0.0F, floor.level) : kInf;
  return t_flat < kInf && along(t_flat) < 0.0F ? std::min(t, t_flat) : t;
}

}  // namespace

float Floor::heightAt(float x, float y) const
{
  const float along = direction.x() * x + direction.y() * y - (ramp ? start : 0.0F);
  return level + slope * (ramp ? std::max(0.0F, along) : along);
}

Camera makeCamera(float x, float height, float pitch)
{
  Camera camera;
  // Optical frame (x right, y down, z forward) into base frame (x forward, y left, z up).
  Eigen::Matrix3f optical_to_base;
  optical_to_base << 0, 0, 1,
    -1, 0, 0,
    0, -1, 0;
  const Eigen::Matrix3f pitch_down = Eigen::AngleAxisf(pitch, Eigen::Vector3f::UnitY()).toRotationMatrix();
  camera.base_from_cam.linear() = pitch_down * optical_to_base;
  camera.base_from_cam.translation() = Eigen::Vector3f(x, 0.0F, height);
  return camera;
}

DepthFrame Scene::render(
  const Camera & camera, const Eigen::Isometry3f & world_from_base, std::mt19937 & rng) const
{
  std::normal_distribution<float> noise(0.0F, 0.005F);
  DepthFrame frame;
  const auto pixels = static_cast<std::size_t>(camera.width * camera.height);
  frame.depth = cv::Mat::zeros(camera.height, camera.width, CV_32FC1);
  frame.solid.assign(pixels, -1);
  frame.true_height.assign(pixels, 0.0F);
  const Eigen::Isometry3f world_from_cam = world_from_base * camera.base_from_cam;
  const Eigen::Vector3f origin = world_from_cam.translation();
  for (int v = 0; v < camera.height; ++v) {
    for (int u = 0; u < camera.width; ++u) {
      const Eigen::Vector3f ray_cam((u - camera.cx) / camera.fx, (v - camera.cy) / camera.fy, 1.0F);
      const Eigen::Vector3f dir = world_from_cam.linear() * ray_cam;
      float best = hitFloor(floor, origin, dir);
      int solid = -1;
      for (std::size_t k = 0; k < boxes.size() + cylinders.size(); ++k) {
        const float t = k < boxes.size() ? hitBox(origin, dir, boxes[k]) :
          hitCylinder(origin, dir, cylinders[k - boxes.size()]);
        if (t < best) {
          best = t;
          solid = static_cast<int>(k);
        }
      }
      // t is the depth along the optical axis because ray_cam has z = 1.
      if (best > camera.max_depth) {
        continue;
      }
      const auto index = static_cast<std::size_t>(v * camera.width + u);
      const Eigen::Vector3f p = origin + best * dir;
      frame.solid[index] = solid;
      frame.true_height[index] = p.z() - floor.heightAt(p.x(), p.y());
      frame.depth.at<float>(v, u) = std::max(0.0F, best + noise(rng));
    }
  }
  return frame;
}

LabelledCloud cloudFromFrame(const DepthFrame & frame, const Camera & camera, int stride, float obstacle_height)
{
  LabelledCloud out;
  for (int v = 0; v < camera.height; v += stride) {
    for (int u = 0; u < camera.width; u += stride) {
      const float d = frame.depth.at<float>(v, u);
      if (!(d > 0.0F)) {
        continue;
      }
      const auto index = static_cast<std::size_t>(v * camera.width + u);
      const Eigen::Vector3f cam((u - camera.cx) * d / camera.fx, (v - camera.cy) * d / camera.fy, d);
      const Eigen::Vector3f base = camera.base_from_cam * cam;
      out.cloud->push_back(pcl::PointXYZ(base.x(), base.y(), base.z()));
      const int solid = frame.solid[index];
      out.truth.push_back(
        solid < 0 ? Truth::kGround :
        frame.true_height[index] >= obstacle_height ? Truth::kObstacle : Truth::kUnscored);
      out.solid.push_back(solid);
    }
  }
  return out;
}

LabelledCloud voxelize(const LabelledCloud & in, float leaf)
{
  pcl::VoxelGrid<pcl::PointXYZ> grid;
  grid.setInputCloud(in.cloud);
  grid.setLeafSize(leaf, leaf, leaf);
  grid.setSaveLeafLayout(true);
  LabelledCloud out;
  grid.filter(*out.cloud);
  out.truth.assign(out.cloud->size(), Truth::kUnscored);
  out.solid.assign(out.cloud->size(), -2);  // -2: no point seen yet
  for (std::size_t i = 0; i < in.cloud->size(); ++i) {
    const auto v = static_cast<std::size_t>(grid.getCentroidIndex((*in.cloud)[i]));
    if (out.solid[v] == -2) {
      out.truth[v] = in.truth[i];
      out.solid[v] = in.solid[i];
    } else if (out.truth[v] != in.truth[i] || out.solid[v] != in.solid[i]) {
      out.truth[v] = Truth::kUnscored;  // mixed
      out.solid[v] = -1;
    }
  }
  return out;
}

// ---- ground removal ----

Scene boxesScene(float level)
{
  Scene scene;
  scene.floor.level = level;
  scene.boxes.push_back({{1.0F, 0.25F, level - 0.02F}, {1.3F, 0.55F, level + 0.30F}});
  scene.boxes.push_back({{1.2F, -0.60F, level - 0.02F}, {1.5F, -0.30F, level + 0.50F}});
  scene.boxes.push_back({{0.75F, -0.10F, level - 0.02F}, {0.90F, 0.05F, level + 0.15F}});
  return scene;
}

std::vector<GroundCase> groundCases()
{
  // Narrower ground band and step tolerances than the defaults, to see 3 cm steps.
  GroundRemovalParams step;
  step.cam_height = 0.0F;
  step.max_slope = 0.1F;
  step.max_dist_point_groundline = 0.015F;
  step.max_height_diff_for_front = 0.01F;
  step.max_height_diff_for_start_up = 0.015F;
  step.z_distance_need_remove = 0.015F;
  std::vector<GroundCase> cases;
  for (const auto & [label, params] : {std::make_pair(std::string("default"), GroundRemovalParams()),
      std::make_pair(std::string("step_sensitive"), step)})
  {
    cases.push_back({label + "/flat_boxes_low_camera", boxesScene(0.0F), params, 0.35F, 0.35F});
    cases.push_back({label + "/flat_boxes_high_camera", boxesScene(0.0F), params, 0.9F, 0.7F});
    cases.push_back({label + "/floor_at_cam_height", boxesScene(params.cam_height), params});

    Scene ramp = boxesScene(0.0F);
    ramp.floor = Floor{0.0F, params.max_slope, {1.0F, 0.0F}, true, 0.9F};
    ramp.boxes.resize(1);
    ramp.boxes[0].min.z() = -0.05F;
    ramp.boxes[0].max.z() += params.max_slope * 0.3F;  // stands on the ramp
    cases.push_back({label + "/ramp_max_slope", ramp, params});

    const std::pair<const char *, Eigen::Vector2f> tilts[] = {
      {"pitch", {1.0F, 0.0F}}, {"roll", {0.0F, 1.0F}}, {"diagonal", {0.70710678F, -0.70710678F}}};
    for (const auto & [tilt_name, direction] : tilts) {
      const Scene tilt{Floor{0.0F, params.max_slope, direction}, {}, {}};
      cases.push_back({label + "/tilt_max_slope_" + tilt_name, tilt, params});
    }
  }
  Scene step_scene;  // 3 cm higher from x = 1.1 m on
  step_scene.boxes.push_back({{1.1F, -5.0F, -0.02F}, {10.0F, 5.0F, 0.03F}});
  cases.push_back({"step_sensitive/step_3cm", step_scene, step});
  cases.push_back({"step_sensitive/step_3cm_low_camera", step_scene, step, 0.35F, 0.35F});
  return cases;
}

LabelledCloud renderCase(const GroundCase & c, unsigned seed, int invalid_points)
{
  std::mt19937 rng(seed);
  Camera camera = makeCamera(0.2F, c.camera_height, c.camera_pitch);
  camera.max_depth = c.params.point_cloud_max_range + 0.5F;
  const DepthFrame frame = c.scene.render(camera, Eigen::Isometry3f::Identity(), rng);
  // Solid points count as obstacles from 1 cm above the ground band.
  const float obstacle_height = c.params.max_dist_point_groundline + 0.01F;
  LabelledCloud cloud = voxelize(cloudFromFrame(frame, camera, 2, obstacle_height), 0.01F);
  if (cloud.cloud->empty()) {
    return cloud;
  }
  std::uniform_int_distribution<std::size_t> pick(0, cloud.cloud->size() - 1);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (int k = 0; k < invalid_points; ++k) {
    const std::size_t i = pick(rng);
    pcl::PointXYZ & p = (*cloud.cloud)[i];
    p = k % 3 == 0 ? pcl::PointXYZ(nan, nan, nan) : k % 3 == 1 ? pcl::PointXYZ(p.x, p.y, nan) :
      pcl::PointXYZ(kInf, p.y, p.z);
    cloud.truth[i] = Truth::kUnscored;
    cloud.solid[i] = -1;
  }
  cloud.cloud->is_dense = false;
  return cloud;
}

GroundScore scoreLabels(
  const LabelledCloud & cloud, const std::vector<PointLabel> & labels, const GroundRemovalParams & params)
{
  GroundScore score;
  for (std::size_t i = 0; i < cloud.cloud->size(); ++i) {
    const pcl::PointXYZ & p = (*cloud.cloud)[i];
    if (cloud.truth[i] == Truth::kUnscored || !std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      continue;
    }
    const float r = std::hypot(p.x, p.y);
    if (r < params.point_cloud_min_range || r >= params.point_cloud_max_range) {
      continue;
    }
    if (cloud.truth[i] == Truth::kGround) {
      ++score.ground_total;
      score.ground_correct += labels[i] == PointLabel::kGround ? 1 : 0;
    } else {
      ++score.obstacle_total;
      score.obstacle_correct += labels[i] == PointLabel::kObstacle ? 1 : 0;
    }
  }
  return score;
}

// ---- moving objects ----

namespace
{

constexpr int kMinPointsInView = 40;  ///< a mover with fewer obstacle points is not yet in view
constexpr float kScoreAfter = 0.5F;   ///< s in view before a mover is scored

// Box of `size` (length, width, height) standing at `centre`, its length along x or along y.
Box boxAt(const Eigen::Vector2f & centre, const Eigen::Vector3f & size, bool long_along_x)
{
  const Eigen::Vector2f half = 0.5F * (long_along_x ? size.head<2>() : Eigen::Vector2f(size.y(), size.x()));
  return Box{{centre.x() - half.x(), centre.y() - half.y(), 0.0F},
    {centre.x() + half.x(), centre.y() + half.y(), size.z()}};
}

Cylinder personAt(const Eigen::Vector2f & centre) {return Cylinder{centre, 0.25F, 0.0F, 1.7F};}

// Randomised corridor with its static objects; movers and robot are set by the caller.
struct CaseBuilder
{
  std::mt19937 rng;

  float uniform(float low, float high) {return std::uniform_real_distribution<float>(low, high)(rng);}
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
    c.scene.boxes.push_back(boxAt({std::max(1.0F, cart_x), -side * (half_width - 0.35F)}, Mover().box, true));
    return c;
  }

  /// Sets the robot's motion and the frame count (at most 2.4 s, shorter for a fast mover to stay inside).
  static void robot(MovingCase & c, float speed, float turn, float duration)
  {
    c.robot_speed = speed;
    c.robot_turn = turn;
    c.frames = std::max(16, static_cast<int>(std::lround(std::min(2.4F, duration) * c.rate)));
  }
};

// Mover crossing the corridor at `crossing_x`, `y_mid` in the middle of the sequence.
Mover across(bool person, float speed, float direction, float crossing_x, float y_mid, float duration)
{
  Mover m;
  m.person = person;
  m.velocity = Eigen::Vector2f(0.0F, direction * speed);
  m.start = Eigen::Vector2f(crossing_x, y_mid) - 0.5F * duration * m.velocity;
  return m;
}

// A crossing case kind: ranges of the mover's and the robot's speed, of the crossing's lateral offset
// and distance ahead.
struct Crossing
{
  const char * name;
  bool person;
  float v_low, v_high, robot_low, robot_high, y_range, x_low, x_high;
  bool turning;
  bool hidden;  ///< a static box hides the mover's legs in the middle of the crossing
};

constexpr Crossing kCrossings[] = {
  {"person_across_straight", true, 0.3F, 1.5F, 0.0F, 0.5F, 0.3F, 1.2F, 3.5F, false, false},
  {"cart_across_turning", false, 0.2F, 1.2F, 0.1F, 0.4F, 0.3F, 1.2F, 3.0F, true, false},
  {"person_behind_static_box", true, 0.3F, 1.2F, 0.0F, 0.3F, 0.2F, 2.4F, 3.5F, false, true},
  {"person_slow_turning", true, 0.2F, 0.4F, 0.0F, 0.3F, 0.3F, 1.0F, 3.0F, true, false},
};

}  // namespace

void MovingFigures::add(const MovingFigures & o)
{
  mover_points += o.mover_points;
  mover_flagged += o.mover_flagged;
  static_points += o.static_points;
  static_flagged += o.static_flagged;
  piece_frames += o.piece_frames;
  piece_dynamic += o.piece_dynamic;
}

Camera movingCamera()
{
  Camera camera = makeCamera(0.2F, 0.6F, 0.3F);
  camera.max_depth = 6.0F;
  return camera;
}

std::vector<MovingCase> movingCases(unsigned seed)
{
  CaseBuilder b{std::mt19937(seed)};
  std::vector<MovingCase> cases;
  // Time for a crossing mover to go from one side to the other, staying 0.45 m off the walls.
  auto crossing_time = [](float half_width, float y_mid, float speed) {
      return 2.0F * (half_width - 0.45F - std::fabs(y_mid)) / speed;
    };
  auto crossing = [&](const Crossing & k) {
      const float w = b.uniform(1.6F, 2.2F), v = b.uniform(k.v_low, k.v_high);
      const float vr = b.uniform(k.robot_low, k.robot_high), y_mid = b.uniform(-k.y_range, k.y_range);
      const float t = std::min(2.4F, crossing_time(w, y_mid, v));
      const float x = vr * 0.5F * t + 0.2F + b.uniform(k.x_low, k.x_high);
      MovingCase c = b.corridor(k.name, w, x);
      if (k.hidden) {
        const float bx = x - b.uniform(0.8F, 1.1F);
        c.scene.boxes.push_back({{bx - 0.3F, y_mid - 0.5F, 0.0F}, {bx + 0.3F, y_mid + 0.5F, 0.8F}});
      }
      c.movers.push_back(across(k.person, v, b.sign(), x, y_mid, t));
      b.robot(c, vr, k.turning ? b.sign() * b.uniform(0.15F, 0.35F) : 0.0F, t);
      cases.push_back(c);
    };
  crossing(kCrossings[0]);
  crossing(kCrossings[1]);
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
  // A person approaching until 1 m in front of the camera, or a cart receding to the range limit.
  for (const bool approaching : {true, false}) {
    const float w = b.uniform(1.6F, 2.2F), v = b.uniform(0.3F, 1.2F);
    const float vr = b.uniform(0.0F, approaching ? 0.5F : std::min(0.5F, v));
    const float start = 0.2F + (approaching ? b.uniform(3.2F, 4.0F) : b.uniform(1.0F, 1.8F));
    const float t = std::min(2.4F, approaching ? (start - 1.2F) / (v + vr) :
      (4.0F + 0.2F - start) / std::max(0.1F, v - vr));
    MovingCase c = b.corridor(approaching ? "person_along_approaching" : "cart_along_receding", w, -10.0F);
    c.movers.push_back({approaching, {start, b.uniform(-0.6F, 0.6F)}, {approaching ? -v : v, 0.0F}});
    b.robot(c, vr, 0.0F, t);
    cases.push_back(c);
  }
  crossing(kCrossings[2]);
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
  crossing(kCrossings[3]);
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
  for (const Mover & m : c.movers) {
    const Eigen::Vector2f centre = m.start + std::min(static_cast<float>(f) * dt, m.stop_after) * m.velocity;
    if (m.person) {
      scene.cylinders.push_back(personAt(centre));
    } else {
      scene.boxes.push_back(boxAt(centre, m.box, std::fabs(m.velocity.x()) >= std::fabs(m.velocity.y())));
    }
  }
  // Solid of each mover: carts after the static boxes, persons after the static cylinders.
  std::vector<int> solid_of_mover;
  int carts = 0, persons = 0;
  for (const Mover & m : c.movers) {
    solid_of_mover.push_back(m.person ?
      static_cast<int>(scene.boxes.size() + c.scene.cylinders.size()) + persons++ :
      static_cast<int>(c.scene.boxes.size()) + carts++);
  }
  const Camera camera = movingCamera();
  const Eigen::Isometry3f world_from_base =
    Eigen::Translation3f(x, y, 0.0F) * Eigen::AngleAxisf(yaw, Eigen::Vector3f::UnitZ());
  MovingFrame out;
  out.pose.position.x = x;
  out.pose.position.y = y;
  const Eigen::Quaternionf q(world_from_base.linear());
  out.pose.orientation.x = q.x();
  out.pose.orientation.y = q.y();
  out.pose.orientation.z = q.z();
  out.pose.orientation.w = q.w();
  const DepthFrame frame = scene.render(camera, world_from_base, rng);
  out.depth = frame.depth;
  const LabelledCloud all = cloudFromFrame(frame, camera, stride, 0.05F);
  out.obstacles = std::make_shared<PointCloudXYZ>();
  for (std::size_t i = 0; i < all.cloud->size(); ++i) {
    if (all.truth[i] != Truth::kObstacle) {
      continue;
    }
    out.obstacles->push_back((*all.cloud)[i]);
    const auto it = std::find(solid_of_mover.begin(), solid_of_mover.end(), all.solid[i]);
    out.mover_of_point.push_back(it == solid_of_mover.end() ? -1 : static_cast<int>(it - solid_of_mover.begin()));
  }
  return out;
}

MovingRun::MovingRun(
  const MovingCase & c, const DynamicDetectorParams & params, unsigned noise_seed, int stride)
: detector(params), case_(c), rng_(noise_seed), stride_(stride)
{
  const Camera camera = movingCamera();
  detector.SetCameraInfo(camera.fx, camera.fy, camera.cx, camera.cy);
  detector.SetTf(camera.base_from_cam.inverse().matrix());
}

const MovingFrame & MovingRun::next()
{
  frame = renderMovingFrame(case_, next_frame_++, stride_, rng_);
  updated = detector.Update(frame.obstacles, frame.depth, frame.pose);
  return frame;
}

MovingFigures runMovingCase(const MovingCase & c, const DynamicDetectorParams & params, unsigned noise_seed)
{
  MovingRun run(c, params, noise_seed);
  CloudCluster clusterer(CloudClusterPara{0.05F, 3, 10});  // the node's grid clustering
  MovingFigures figures;
  const int score_after = static_cast<int>(std::lround(kScoreAfter * c.rate));
  std::vector<int> first_in_view(c.movers.size(), -1);
  std::vector<PointCloudXYZ::Ptr> clusters;
  PointCloudXYZ moving, still;
  for (int f = 0; f < c.frames; ++f) {
    const MovingFrame & frame = run.next();
    const std::vector<std::uint8_t> & flags = run.detector.movingFlags();
    int count = 0;
    clusterer.obstacleCluster(frame.obstacles, count, clusters);
    const std::vector<int> & cluster_of_point = clusterer.pointClusterIds();
    // Per mover: its points, those flagged, and its points per cluster; static points after frame 0.
    std::vector<long> points(c.movers.size()), flagged(c.movers.size());
    std::vector<std::map<int, int>> per_cluster(c.movers.size());
    for (std::size_t i = 0; i < flags.size(); ++i) {
      const int m = frame.mover_of_point[i];
      if (m < 0) {
        figures.static_points += f > 0 ? 1 : 0;
        figures.static_flagged += f > 0 ? flags[i] : 0;
        continue;
      }
      ++points[m];
      flagged[m] += flags[i];
      if (cluster_of_point[i] >= 0) {
        ++per_cluster[m][cluster_of_point[i]];
      }
    }
    for (std::size_t m = 0; m < c.movers.size(); ++m) {
      if (first_in_view[m] < 0 && points[m] >= kMinPointsInView) {
        first_in_view[m] = f;
      }
      if (first_in_view[m] < 0 || f < first_in_view[m] + score_after || points[m] < kMinPointsInView) {
        continue;
      }
      figures.mover_points += points[m];
      figures.mover_flagged += flagged[m];
      ++figures.piece_frames;
      if (per_cluster[m].empty()) {
        continue;
      }
      const int best = std::max_element(per_cluster[m].begin(), per_cluster[m].end(),
          [](const auto & a, const auto & b) {return a.second < b.second;})->first;
      run.detector.DivideCloud(*clusters[static_cast<std::size_t>(best)], moving, still);
      const double share = static_cast<double>(moving.size()) / static_cast<double>(clusters[best]->size());
      figures.piece_dynamic += share > 0.7 ? 1 : 0;
    }
    run.detector.ready_ = false;
  }
  return figures;
}

std::vector<NamedFigures> runMovingFamily(
  const std::vector<unsigned> & seeds, const DynamicDetectorParams & params, const char * label)
{
  std::vector<NamedFigures> figures;
  for (unsigned seed : seeds) {
    const std::vector<MovingCase> cases = movingCases(seed);
    figures.resize(cases.size() + 1);
    for (std::size_t k = 0; k < cases.size(); ++k) {
      const MovingFigures f = runMovingCase(cases[k], params, seed * 31U + static_cast<unsigned>(k));
      figures[k].name = cases[k].name;
      figures[k].figures.add(f);
      figures.back().figures.add(f);
    }
  }
  figures.back().name = "overall";
  std::printf("[ moving   ] %s seeds:", label);
  for (unsigned seed : seeds) {
    std::printf(" %u", seed);
  }
  std::printf("\n[ moving   ] %-26s %8s %9s %10s %9s %9s\n", "case", "recall", "points", "static FP",
    "dynamic", "frames");
  for (const NamedFigures & k : figures) {
    const MovingFigures & f = k.figures;
    std::printf("[ moving   ] %-26s %8.4f %9ld %10.5f %9.4f %9d", k.name.c_str(), f.recall(), f.mover_points,
      f.staticRate(), f.dynamicShare(), f.piece_frames);
    std::printf(&k == &figures.back() ? "  (static points %ld)\n" : "\n", f.static_points);
  }
  return figures;
}

}  // namespace testing
}  // namespace perception
}  // namespace orvix
