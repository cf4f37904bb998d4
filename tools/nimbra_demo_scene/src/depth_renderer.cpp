#include "nimbra_demo_scene/depth_renderer.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>

#include "nimbra_demo_scene/demo_palette.hpp"

namespace nimbra_demo_scene
{
namespace
{

constexpr size_t kNoiseTableBits = 16;
constexpr size_t kNoiseMask = (size_t{1} << kNoiseTableBits) - 1;
constexpr double kMaxEncodableRange = 65.0;   // 16UC1 holds up to 65.535 m
constexpr float kAmbient = 0.45F;
constexpr float kDiffuse = 0.55F;
constexpr float kTileSize = 0.6F;             // floor tiles, m
constexpr float kJointWidth = 0.015F;         // tile joints, m
constexpr float kJointShade = 0.8F;
constexpr float kDimPerMetre = 0.035F;        // colour dimming with distance
constexpr float kMinDim = 0.55F;

/// Mixes a 64-bit value (splitmix64 finaliser).
uint64_t mix(uint64_t x)
{
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

/// Faces in the order of the shading table: +x, -x, +y, -y, +z, -z.
int faceIndex(int axis, bool positive) {return axis * 2 + (positive ? 0 : 1);}

uint8_t scaleChannel(uint8_t channel, float factor)
{
  const float value = static_cast<float>(channel) * factor + 0.5F;
  return static_cast<uint8_t>(std::clamp(value, 0.0F, 255.0F));
}

}  // namespace

DepthRenderer::DepthRenderer(const CameraIntrinsics & intrinsics, const Params & params)
: intrinsics_(intrinsics), params_(params)
{
  std::string reason;
  if (!intrinsics.valid(&reason)) {
    throw std::invalid_argument("depth renderer: invalid intrinsics: " + reason);
  }
  if (!(params.min_range_m >= 0.0 && params.min_range_m < params.max_range_m &&
    params.max_range_m <= kMaxEncodableRange))
  {
    throw std::invalid_argument(
            "depth renderer: need 0 <= min_range_m < max_range_m <= 65 m (16UC1 millimetres)");
  }
  if (!(std::isfinite(params.noise_m) && params.noise_m >= 0.0)) {
    throw std::invalid_argument("depth renderer: noise_m must be finite and not negative");
  }
  column_slope_.resize(intrinsics.width);
  for (uint32_t u = 0; u < intrinsics.width; ++u) {
    column_slope_[u] = static_cast<float>((u - intrinsics.cx) / intrinsics.fx);
  }
  row_slope_.resize(intrinsics.height);
  for (uint32_t v = 0; v < intrinsics.height; ++v) {
    row_slope_[v] = static_cast<float>((v - intrinsics.cy) / intrinsics.fy);
  }
  noise_.resize(kNoiseMask + 1);
  std::mt19937 rng(params.seed);
  std::normal_distribution<float> normal(0.0F, 1.0F);
  for (auto & sample : noise_) {
    sample = normal(rng);
  }
}

void DepthRenderer::prepareShading(const Scene & scene)
{
  const Eigen::Vector3f light = Eigen::Vector3f(0.3F, 0.2F, 0.93F).normalized();
  std::array<float, 6> face_shade{};
  for (int axis = 0; axis < 3; ++axis) {
    face_shade[faceIndex(axis, true)] = kAmbient + kDiffuse * std::max(0.0F, light[axis]);
    face_shade[faceIndex(axis, false)] = kAmbient + kDiffuse * std::max(0.0F, -light[axis]);
  }
  shaded_.resize(scene.planes.size() + scene.boxes.size());
  material_object_.resize(shaded_.size());
  const auto shade = [&](const Material & material, std::array<Rgb, 6> & out) {
      for (size_t face = 0; face < 6; ++face) {
        out[face] = Rgb{
          scaleChannel(material.colour.r, face_shade[face]),
          scaleChannel(material.colour.g, face_shade[face]),
          scaleChannel(material.colour.b, face_shade[face])};
      }
    };
  for (size_t i = 0; i < scene.planes.size(); ++i) {
    shade(scene.planes[i].material, shaded_[i]);
    material_object_[i] = scene.planes[i].object;
  }
  for (size_t i = 0; i < scene.boxes.size(); ++i) {
    shade(scene.boxes[i].material, shaded_[scene.planes.size() + i]);
    material_object_[scene.planes.size() + i] = scene.boxes[i].object;
  }
}

void DepthRenderer::prepareBoxes(const Scene & scene, const Eigen::Isometry3d & map_to_optical)
{
  const Eigen::Isometry3d optical_from_map = map_to_optical.inverse();
  const int last_u = static_cast<int>(intrinsics_.width) - 1;
  const int last_v = static_cast<int>(intrinsics_.height) - 1;
  constexpr double kNearZ = 1e-3;
  active_.clear();
  for (size_t i = 0; i < scene.boxes.size(); ++i) {
    const Box & box = scene.boxes[i];
    double z_min = std::numeric_limits<double>::max();
    double z_max = std::numeric_limits<double>::lowest();
    double u_min = z_min, u_max = z_max, v_min = z_min, v_max = z_max;
    for (int corner = 0; corner < 8; ++corner) {
      const Eigen::Vector3d p_map(
        (corner & 1) ? box.max.x() : box.min.x(),
        (corner & 2) ? box.max.y() : box.min.y(),
        (corner & 4) ? box.max.z() : box.min.z());
      const Eigen::Vector3d p = optical_from_map * p_map;
      z_min = std::min(z_min, p.z());
      z_max = std::max(z_max, p.z());
      if (p.z() > kNearZ) {
        const double u = intrinsics_.fx * p.x() / p.z() + intrinsics_.cx;
        const double v = intrinsics_.fy * p.y() / p.z() + intrinsics_.cy;
        u_min = std::min(u_min, u);
        u_max = std::max(u_max, u);
        v_min = std::min(v_min, v);
        v_max = std::max(v_max, v);
      }
    }
    if (z_max <= kNearZ) {
      continue;  // behind the camera (depth z is linear, so the box's z lies within its corners')
    }
    ActiveBox active;
    for (int axis = 0; axis < 3; ++axis) {
      active.min[axis] = static_cast<float>(box.min[axis]);
      active.max[axis] = static_cast<float>(box.max[axis]);
    }
    active.material = scene.planes.size() + i;
    if (z_min > kNearZ) {
      // Every corner in front: the projection lies inside the corners' bounding rectangle.
      active.u0 = static_cast<int>(std::max(0.0, std::floor(u_min) - 1.0));
      active.u1 = static_cast<int>(std::min<double>(last_u, std::ceil(u_max) + 1.0));
      active.v0 = static_cast<int>(std::max(0.0, std::floor(v_min) - 1.0));
      active.v1 = static_cast<int>(std::min<double>(last_v, std::ceil(v_max) + 1.0));
      if (u_min > last_u + 1.0 || u_max < -1.0 || v_min > last_v + 1.0 || v_max < -1.0) {
        continue;  // outside the image
      }
    } else {
      active.u0 = 0;
      active.u1 = last_u;
      active.v0 = 0;
      active.v1 = last_v;
    }
    active_.push_back(active);
  }
}

DepthRenderer::Stats DepthRenderer::render(
  const Scene & scene, const Eigen::Isometry3d & map_to_optical, uint64_t frame_index,
  std::vector<uint8_t> & depth_16uc1, std::vector<uint8_t> & rgb8)
{
  return renderInto(scene, map_to_optical, frame_index, depth_16uc1, rgb8, nullptr);
}

DepthRenderer::Stats DepthRenderer::render(
  const Scene & scene, const Eigen::Isometry3d & map_to_optical, uint64_t frame_index,
  std::vector<uint8_t> & depth_16uc1, std::vector<uint8_t> & rgb8,
  std::vector<uint16_t> & labels)
{
  return renderInto(scene, map_to_optical, frame_index, depth_16uc1, rgb8, &labels);
}

DepthRenderer::Stats DepthRenderer::renderInto(
  const Scene & scene, const Eigen::Isometry3d & map_to_optical, uint64_t frame_index,
  std::vector<uint8_t> & depth_16uc1, std::vector<uint8_t> & rgb8,
  std::vector<uint16_t> * labels)
{
  const auto start = std::chrono::steady_clock::now();
  const size_t width = intrinsics_.width;
  const size_t height = intrinsics_.height;
  if (depth_16uc1.size() != width * height * 2) {
    depth_16uc1.resize(width * height * 2);
  }
  if (rgb8.size() != width * height * 3) {
    rgb8.resize(width * height * 3);
  }
  uint16_t * label_out = nullptr;
  if (labels != nullptr) {
    labels->resize(width * height);
    label_out = labels->data();
  }
  prepareShading(scene);
  prepareBoxes(scene, map_to_optical);

  const Eigen::Matrix3f rotation = map_to_optical.linear().cast<float>();
  const Eigen::Vector3f origin = map_to_optical.translation().cast<float>();
  const Eigen::Vector3f axis_x = rotation.col(0);
  const Eigen::Vector3f axis_y = rotation.col(1);
  const Eigen::Vector3f axis_z = rotation.col(2);
  const float min_range = static_cast<float>(params_.min_range_m);
  const float max_range = static_cast<float>(params_.max_range_m);
  const float sigma = static_cast<float>(params_.noise_m);
  const uint64_t frame_key = mix(frame_index ^ (static_cast<uint64_t>(params_.seed) << 32));
  const size_t plane_count = scene.planes.size();
  const Rgb background = paletteEntry("background").colour;  // nothing hit: open corridor end

  Stats stats;
  stats.boxes_tested = active_.size();
  uint8_t * depth_out = depth_16uc1.data();
  uint8_t * rgb_out = rgb8.data();
  for (size_t v = 0; v < height; ++v) {
    // Ray directions scaled so that their optical z is 1: the ray parameter is the depth.
    const Eigen::Vector3f row_dir = axis_z + axis_y * row_slope_[v];
    const size_t noise_offset = static_cast<size_t>(mix(frame_key + v));
    const int vi = static_cast<int>(v);
    for (size_t u = 0; u < width; ++u) {
      const Eigen::Vector3f dir = row_dir + axis_x * column_slope_[u];
      float best_t = std::numeric_limits<float>::infinity();
      size_t best_material = 0;
      int best_face = 0;
      bool hit = false;
      for (size_t p = 0; p < plane_count; ++p) {
        const AxisPlane & plane = scene.planes[p];
        const float d = dir[plane.axis];
        if (d * static_cast<float>(plane.facing) >= 0.0F) {
          continue;  // parallel or seen from behind
        }
        const float t = (static_cast<float>(plane.offset) - origin[plane.axis]) / d;
        if (t > 0.0F && t < best_t) {
          best_t = t;
          best_material = p;
          best_face = faceIndex(plane.axis, plane.facing > 0.0);
          hit = true;
        }
      }
      const int ui = static_cast<int>(u);
      for (const ActiveBox & box : active_) {
        if (ui < box.u0 || ui > box.u1 || vi < box.v0 || vi > box.v1) {
          continue;
        }
        float t_near = 0.0F;
        float t_far = best_t;
        int near_axis = -1;
        bool miss = false;
        for (int axis = 0; axis < 3 && !miss; ++axis) {
          const float inv = 1.0F / dir[axis];
          float t0 = (box.min[axis] - origin[axis]) * inv;
          float t1 = (box.max[axis] - origin[axis]) * inv;
          if (t0 > t1) {
            std::swap(t0, t1);
          }
          if (t0 > t_near) {
            t_near = t0;
            near_axis = axis;
          }
          t_far = std::min(t_far, t1);
          miss = !(t_near <= t_far);  // also true for NaN from a ray inside a slab face
        }
        if (!miss && near_axis >= 0 && t_near < best_t) {
          best_t = t_near;
          best_material = box.material;
          best_face = faceIndex(near_axis, dir[near_axis] < 0.0F);
          hit = true;
        }
      }

      const size_t pixel = v * width + u;
      uint16_t depth_mm = 0;
      if (hit && best_t >= min_range && best_t <= max_range) {
        const float noisy = best_t + sigma * noise_[(noise_offset + u) & kNoiseMask];
        const float mm = std::round(noisy * 1000.0F);
        depth_mm = static_cast<uint16_t>(std::clamp(mm, 1.0F, 65535.0F));
        ++stats.valid_pixels;
      }
      depth_out[2 * pixel] = static_cast<uint8_t>(depth_mm & 0xFF);
      depth_out[2 * pixel + 1] = static_cast<uint8_t>(depth_mm >> 8);

      Rgb colour = background;
      if (hit) {
        colour = shaded_[best_material][best_face];
        float factor = std::max(kMinDim, 1.0F - kDimPerMetre * best_t);
        if (best_material < plane_count && scene.planes[best_material].material.kind ==
          SurfaceKind::kFloor)
        {
          const float x = origin.x() + best_t * dir.x();
          const float y = origin.y() + best_t * dir.y();
          const float fx = x / kTileSize - std::floor(x / kTileSize);
          const float fy = y / kTileSize - std::floor(y / kTileSize);
          const float joint = kJointWidth / kTileSize;
          if (fx < joint || fy < joint) {
            factor *= kJointShade;
          }
        }
        colour = Rgb{
          scaleChannel(colour.r, factor), scaleChannel(colour.g, factor),
          scaleChannel(colour.b, factor)};
      }
      if (label_out != nullptr) {
        label_out[pixel] = hit ? material_object_[best_material] : kNoObject;
      }
      rgb_out[3 * pixel] = colour.r;
      rgb_out[3 * pixel + 1] = colour.g;
      rgb_out[3 * pixel + 2] = colour.b;
    }
  }
  stats.render_ms = std::chrono::duration<double, std::milli>(
    std::chrono::steady_clock::now() - start).count();
  return stats;
}

}  // namespace nimbra_demo_scene
