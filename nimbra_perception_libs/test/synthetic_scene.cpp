#include "synthetic_scene.hpp"

#include <cmath>
#include <limits>
#include <unordered_map>

namespace orvix
{
namespace perception
{
namespace testing
{
namespace
{

constexpr float kInf = std::numeric_limits<float>::infinity();

struct RayHit
{
  float t = kInf;
  Hit hit = Hit::kNone;
  int box = -1;
};

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

// Ray o + t d against the side and the top and bottom caps of an upright cylinder; t > 0.
float hitCylinder(const Eigen::Vector3f & o, const Eigen::Vector3f & d, const Cylinder & c)
{
  float best = kInf;
  const float ox = o.x() - c.centre.x();
  const float oy = o.y() - c.centre.y();
  const float a = d.x() * d.x() + d.y() * d.y();
  if (a > 1e-12F) {
    const float b = ox * d.x() + oy * d.y();
    const float cc = ox * ox + oy * oy - c.radius * c.radius;
    const float disc = b * b - a * cc;
    if (disc >= 0.0F) {
      const float root = std::sqrt(disc);
      for (float t : {(-b - root) / a, (-b + root) / a}) {
        const float z = o.z() + t * d.z();
        if (t > 1e-6F && z >= c.z_min && z <= c.z_max) {
          best = std::min(best, t);
          break;
        }
      }
    }
  }
  if (std::fabs(d.z()) > 1e-12F) {
    for (float z : {c.z_min, c.z_max}) {
      const float t = (z - o.z()) / d.z();
      const float x = ox + t * d.x();
      const float y = oy + t * d.y();
      if (t > 1e-6F && x * x + y * y <= c.radius * c.radius) {
        best = std::min(best, t);
      }
    }
  }
  return best;
}

RayHit castFloor(const Floor & floor, const Eigen::Vector3f & o, const Eigen::Vector3f & d)
{
  RayHit best;
  auto consider = [&best](float t, Hit hit) {
      if (t < best.t) {
        best.t = t;
        best.hit = hit;
      }
    };
  switch (floor.kind) {
    case FloorKind::kFlat:
      consider(hitPlane(o, d, 0.0F, 0.0F, floor.level), Hit::kFloor);
      break;
    case FloorKind::kTilt: {
        const float a = floor.slope * floor.direction.x();
        const float b = floor.slope * floor.direction.y();
        consider(hitPlane(o, d, a, b, floor.level), Hit::kFloor);
        break;
      }
    case FloorKind::kRamp: {
        const float t_flat = hitPlane(o, d, 0.0F, 0.0F, floor.level);
        if (t_flat < kInf && (o + t_flat * d).x() < floor.start_x) {
          consider(t_flat, Hit::kFloor);
        }
        const float t_ramp = hitPlane(o, d, floor.slope, 0.0F, floor.level - floor.slope * floor.start_x);
        if (t_ramp < kInf && (o + t_ramp * d).x() >= floor.start_x) {
          consider(t_ramp, Hit::kFloor);
        }
        break;
      }
    case FloorKind::kStep: {
        const float t_low = hitPlane(o, d, 0.0F, 0.0F, floor.level);
        if (t_low < kInf && (o + t_low * d).x() < floor.start_x) {
          consider(t_low, Hit::kFloor);
        }
        const float t_high = hitPlane(o, d, 0.0F, 0.0F, floor.level + floor.step_height);
        if (t_high < kInf && (o + t_high * d).x() >= floor.start_x) {
          consider(t_high, Hit::kRaised);
        }
        if (std::fabs(d.x()) > 1e-9F) {
          const float t_riser = (floor.start_x - o.x()) / d.x();
          const float z = o.z() + t_riser * d.z();
          if (t_riser > 1e-6F && z >= floor.level && z <= floor.level + floor.step_height) {
            consider(t_riser, Hit::kRiser);
          }
        }
        break;
      }
  }
  return best;
}

}  // namespace

float Floor::heightAt(float x, float y) const
{
  switch (kind) {
    case FloorKind::kFlat:
      return level;
    case FloorKind::kTilt:
      return level + slope * (direction.x() * x + direction.y() * y);
    case FloorKind::kRamp:
      return level + slope * std::max(0.0F, x - start_x);
    case FloorKind::kStep:
      return level;  // heights are measured from the robot-level floor
  }
  return level;
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
  const Camera & camera, const Eigen::Isometry3f & world_from_base, float noise_sigma,
  std::mt19937 & rng) const
{
  std::normal_distribution<float> noise(0.0F, noise_sigma > 0.0F ? noise_sigma : 1.0F);
  DepthFrame frame;
  const std::size_t pixels = static_cast<std::size_t>(camera.width) * static_cast<std::size_t>(camera.height);
  frame.depth = cv::Mat::zeros(camera.height, camera.width, CV_32FC1);
  frame.hit.assign(pixels, Hit::kNone);
  frame.box_index.assign(pixels, -1);
  frame.true_height.assign(pixels, 0.0F);
  const Eigen::Isometry3f world_from_cam = world_from_base * camera.base_from_cam;
  const Eigen::Vector3f origin = world_from_cam.translation();
  for (int v = 0; v < camera.height; ++v) {
    for (int u = 0; u < camera.width; ++u) {
      const Eigen::Vector3f ray_cam((u - camera.cx) / camera.fx, (v - camera.cy) / camera.fy, 1.0F);
      const Eigen::Vector3f dir = world_from_cam.linear() * ray_cam;
      RayHit best = castFloor(floor, origin, dir);
      for (std::size_t b = 0; b < boxes.size(); ++b) {
        const float t = hitBox(origin, dir, boxes[b]);
        if (t < best.t) {
          best.t = t;
          best.hit = Hit::kBox;
          best.box = static_cast<int>(b);
        }
      }
      for (std::size_t k = 0; k < cylinders.size(); ++k) {
        const float t = hitCylinder(origin, dir, cylinders[k]);
        if (t < best.t) {
          best.t = t;
          best.hit = Hit::kCylinder;
          best.box = static_cast<int>(boxes.size() + k);
        }
      }
      // t is the depth along the optical axis because ray_cam has z = 1.
      if (best.hit == Hit::kNone || best.t > camera.max_depth) {
        continue;
      }
      const std::size_t index = static_cast<std::size_t>(v) * static_cast<std::size_t>(camera.width) +
        static_cast<std::size_t>(u);
      const Eigen::Vector3f p = origin + best.t * dir;
      frame.hit[index] = best.hit;
      frame.box_index[index] = best.box;
      frame.true_height[index] = p.z() - floor.heightAt(p.x(), p.y());
      const float measured = best.t + (noise_sigma > 0.0F ? noise(rng) : 0.0F);
      frame.depth.at<float>(v, u) = std::max(0.0F, measured);
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
      const std::size_t index = static_cast<std::size_t>(v) * static_cast<std::size_t>(camera.width) +
        static_cast<std::size_t>(u);
      const Eigen::Vector3f cam((u - camera.cx) * d / camera.fx, (v - camera.cy) * d / camera.fy, d);
      const Eigen::Vector3f base = camera.base_from_cam * cam;
      out.cloud->push_back(pcl::PointXYZ(base.x(), base.y(), base.z()));
      Truth truth = Truth::kUnscored;
      switch (frame.hit[index]) {
        case Hit::kFloor:
          truth = Truth::kGround;
          break;
        case Hit::kRaised:
          truth = Truth::kObstacle;
          break;
        case Hit::kRiser:
        case Hit::kBox:
        case Hit::kCylinder:
          truth = frame.true_height[index] >= obstacle_height ? Truth::kObstacle : Truth::kUnscored;
          break;
        case Hit::kNone:
          break;
      }
      out.truth.push_back(truth);
      out.box_index.push_back(frame.box_index[index]);
    }
  }
  return out;
}

LabelledCloud voxelize(const LabelledCloud & in, float leaf)
{
  struct Acc
  {
    double x = 0, y = 0, z = 0;
    int n = 0;
    Truth truth = Truth::kGround;
    int box = -1;
    bool mixed = false;
  };
  std::unordered_map<std::int64_t, std::size_t> slot;
  std::vector<Acc> acc;
  for (std::size_t i = 0; i < in.cloud->size(); ++i) {
    const pcl::PointXYZ & p = (*in.cloud)[i];
    const auto ix = static_cast<std::int64_t>(std::floor(p.x / leaf)) + (1 << 20);
    const auto iy = static_cast<std::int64_t>(std::floor(p.y / leaf)) + (1 << 20);
    const auto iz = static_cast<std::int64_t>(std::floor(p.z / leaf)) + (1 << 20);
    const std::int64_t key = (ix << 42) | (iy << 21) | iz;
    auto it = slot.find(key);
    if (it == slot.end()) {
      it = slot.emplace(key, acc.size()).first;
      acc.emplace_back();
      acc.back().truth = in.truth[i];
      acc.back().box = in.box_index[i];
    }
    Acc & a = acc[it->second];
    a.x += p.x;
    a.y += p.y;
    a.z += p.z;
    ++a.n;
    if (a.truth != in.truth[i] || a.box != in.box_index[i]) {
      a.mixed = true;
    }
  }
  LabelledCloud out;
  for (const Acc & a : acc) {
    out.cloud->push_back(pcl::PointXYZ(
        static_cast<float>(a.x / a.n), static_cast<float>(a.y / a.n), static_cast<float>(a.z / a.n)));
    out.truth.push_back(a.mixed ? Truth::kUnscored : a.truth);
    out.box_index.push_back(a.mixed ? -1 : a.box);
  }
  return out;
}

void injectInvalidPoints(LabelledCloud & cloud, int count, std::mt19937 & rng)
{
  if (cloud.cloud->empty()) {
    return;
  }
  std::uniform_int_distribution<std::size_t> pick(0, cloud.cloud->size() - 1);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (int k = 0; k < count; ++k) {
    const std::size_t i = pick(rng);
    pcl::PointXYZ & p = (*cloud.cloud)[i];
    switch (k % 3) {
      case 0:
        p = pcl::PointXYZ(nan, nan, nan);
        break;
      case 1:
        p.z = nan;
        break;
      default:
        p.x = kInf;
        break;
    }
    cloud.truth[i] = Truth::kUnscored;
    cloud.box_index[i] = -1;
  }
  cloud.cloud->is_dense = false;
}

}  // namespace testing
}  // namespace perception
}  // namespace orvix
