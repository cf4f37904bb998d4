#include "nimbra_demo_scene/ground_truth.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>

namespace nimbra_demo_scene
{

std::vector<PixelRegion> labelRegions(
  const std::vector<uint16_t> & labels, uint32_t width, uint32_t height)
{
  if (labels.size() != static_cast<size_t>(width) * height) {
    throw std::invalid_argument(
            "labelRegions: " + std::to_string(labels.size()) + " labels for a " +
            std::to_string(width) + "x" + std::to_string(height) + " image");
  }
  std::map<uint16_t, PixelRegion> regions;
  for (uint32_t v = 0; v < height; ++v) {
    const uint16_t * row = labels.data() + static_cast<size_t>(v) * width;
    for (uint32_t u = 0; u < width; ++u) {
      if (row[u] == kNoObject) {
        continue;
      }
      auto inserted = regions.emplace(row[u], PixelRegion{row[u], u, v, u, v, 0});
      PixelRegion & region = inserted.first->second;
      region.u_min = std::min(region.u_min, u);
      region.u_max = std::max(region.u_max, u);
      region.v_max = v;  // rows arrive in order
      ++region.pixels;
    }
  }
  std::vector<PixelRegion> out;
  out.reserve(regions.size());
  for (const auto & entry : regions) {
    out.push_back(entry.second);
  }
  return out;
}

uint32_t DemoRig::cameraSeed(uint32_t world_seed, size_t camera)
{
  return world_seed + static_cast<uint32_t>(camera) * 7919U;
}

DemoRig::DemoRig(const Params & params)
: params_(params), world_(params.world),
  intrinsics_(CameraIntrinsics::fromHorizontalFov(params.width, params.height, kHorizontalFovRad))
{
  if (!(std::isfinite(params.rate_hz) && params.rate_hz > 0.0)) {
    throw std::invalid_argument("demo rig: rate_hz must be positive");
  }
  if (params.cameras < 1 || params.cameras > 2) {
    throw std::invalid_argument("demo rig: cameras must be 1 or 2");
  }
  DepthRenderer::Params render_params;
  render_params.noise_m = params.noise_m;
  render_params.max_range_m = params.max_range_m;
  for (int i = 0; i < params.cameras; ++i) {
    render_params.seed = cameraSeed(params.world.seed, static_cast<size_t>(i));
    renderers_.push_back(std::make_unique<DepthRenderer>(intrinsics_, render_params));
  }
}

const DemoRig::CameraFrame & DemoRig::render(uint64_t frame_index, size_t camera)
{
  DepthRenderer & renderer = *renderers_.at(camera);
  frame_.mount = CameraMount::demoMount(static_cast<int>(camera) + 1);
  frame_.scene_t = sceneTime(frame_index);
  const Scene & scene = world_.sceneAt(frame_.scene_t);
  frame_.map_to_optical = world_.mapToBase(frame_.scene_t) * frame_.mount.baseToOptical();
  renderer.render(
    scene, frame_.map_to_optical, frame_index, frame_.depth_16uc1, frame_.rgb8, frame_.labels);
  return frame_;
}

namespace
{

std::string jsonVector(const Eigen::Vector3d & v)
{
  char text[96];
  std::snprintf(text, sizeof(text), "[%.4f, %.4f, %.4f]", v.x(), v.y(), v.z());
  return text;
}

/// Names come from the palette (letters, digits, '_'); quotes and backslashes are escaped anyway.
std::string jsonString(const std::string & s)
{
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
    }
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string frameTruthJson(DemoRig & rig, const DemoRig::CameraFrame & frame)
{
  const uint32_t width = rig.intrinsics().width;
  const uint32_t height = rig.intrinsics().height;
  std::map<uint16_t, PixelRegion> in_view;
  for (const PixelRegion & region : labelRegions(frame.labels, width, height)) {
    in_view[region.id] = region;
  }
  std::map<uint16_t, ObjectPlacement> placed;
  for (const ObjectPlacement & placement : rig.world().placementsAt(frame.scene_t)) {
    placed[placement.id] = placement;
  }
  char head[256];
  std::snprintf(
    head, sizeof(head),
    "{\n  \"scene_t\": %.3f,\n  \"camera\": %d,\n  \"frame_id\": %s,\n"
    "  \"width\": %u,\n  \"height\": %u,\n  \"objects\": [", frame.scene_t, frame.mount.number,
    jsonString(frame.mount.depthFrame()).c_str(), width, height);
  std::string json = head;
  const char * separator = "\n";
  for (const WorldObject & object : rig.world().objects()) {
    json += separator;
    separator = ",\n";
    json += "    {\"id\": " + std::to_string(object.id) + ", \"name\": " + jsonString(object.name) +
      ", \"class\": " + jsonString(object.semantic_class) + ", \"moving\": " +
      (object.moving ? "true" : "false");
    const auto place = placed.find(object.id);
    if (place != placed.end()) {
      json += ", \"map_min\": " + jsonVector(place->second.map_extent.min()) +
        ", \"map_max\": " + jsonVector(place->second.map_extent.max()) +
        ", \"base_min\": " + jsonVector(place->second.base_extent.min()) +
        ", \"base_max\": " + jsonVector(place->second.base_extent.max());
    }
    const auto seen = in_view.find(object.id);
    if (seen != in_view.end()) {
      const PixelRegion & r = seen->second;
      json += ", \"pixels\": " + std::to_string(r.pixels) + ", \"pixel_box\": [" +
        std::to_string(r.u_min) + ", " + std::to_string(r.v_min) + ", " +
        std::to_string(r.u_max) + ", " + std::to_string(r.v_max) + "]";
    }
    json += "}";
  }
  return json + "\n  ]\n}\n";
}

}  // namespace nimbra_demo_scene
