#include "nimbra_demo_scene/ground_truth.hpp"

#include <algorithm>
#include <cmath>
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

}  // namespace nimbra_demo_scene
