// The ray-casting renderer on small scenes whose depth and object ids are known by hand: nearest
// surface, range limits, noise and the settings it refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "nimbra_demo_scene/camera_mount.hpp"
#include "nimbra_demo_scene/demo_palette.hpp"
#include "nimbra_demo_scene/depth_renderer.hpp"

namespace nimbra_demo_scene
{
namespace
{

constexpr double kDegree = M_PI / 180.0;

/// The floor (object 5), and boxes given as min, max and object id.
Scene floorWith(const std::vector<Box> & boxes = {})
{
  Scene scene;
  scene.planes.push_back({2, 0.0, 1.0, {{200, 200, 200}, SurfaceKind::kFloor}, 5});
  scene.boxes = boxes;
  return scene;
}

Box box(const Eigen::Vector3d & min, const Eigen::Vector3d & max, uint16_t object)
{
  return Box{min, max, {{200, 30, 30}, SurfaceKind::kObstacle}, object};
}

/// Optical frame of a camera at `position` in map, looking along +x, `pitch_deg` down.
Eigen::Isometry3d cameraPose(const Eigen::Vector3d & position, double pitch_deg)
{
  CameraMount mount;
  mount.position = position;
  mount.pitch_down_rad = pitch_deg * kDegree;
  return mount.baseToOptical();
}

DepthRenderer::Params exact(double max_range = 10.0)
{
  DepthRenderer::Params params;
  params.noise_m = 0.0;
  params.max_range_m = max_range;
  return params;
}

struct Frame
{
  std::vector<uint8_t> depth, rgb;
  std::vector<uint16_t> labels;
  uint32_t width{0};

  uint16_t mm(uint32_t u, uint32_t v) const
  {
    const size_t i = 2 * (static_cast<size_t>(v) * width + u);
    return static_cast<uint16_t>(depth[i] | (depth[i + 1] << 8));
  }
  const uint8_t * colour(uint32_t u, uint32_t v) const {return &rgb[3 * (v * width + u)];}
};

Frame render(
  const Scene & scene, const CameraIntrinsics & k, const DepthRenderer::Params & params,
  const Eigen::Isometry3d & pose, uint64_t frame_index = 0)
{
  Frame frame;
  frame.width = k.width;
  DepthRenderer(k, params).render(scene, pose, frame_index, frame.depth, frame.rgb, frame.labels);
  return frame;
}

// Odd size: the principal point is the centre pixel (80, 60).
const CameraIntrinsics kOdd = CameraIntrinsics::fromHorizontalFov(161, 121, 80.0 * kDegree);

TEST(DepthRenderer, OpticalDepthOfTheNearestSurfaceOrZeroOutsideTheRange)
{
  struct Row
  {
    const char * name;
    Scene scene;
    Eigen::Isometry3d pose;
    double max_range;
    uint32_t u, v;
    uint16_t mm;
  };
  const Eigen::Isometry3d down = cameraPose({1.1, 0.0, 1.0}, 90.0);
  const Scene cup = floorWith({box({0.9, -0.2, 0.0}, {1.3, 0.2, 0.1}, 3)});
  const Row rows[] = {
    {"forward, 0.6 m high, 30 deg down: 0.6 / sin 30", floorWith(), cameraPose({0, 0, 0.6}, 30),
      10.0, 80, 60, 1200},
    {"0.5 m high, 10 deg down: 0.5 / sin 10", floorWith(), cameraPose({0, 0, 0.5}, 10), 10.0, 80,
      60, 2879},
    {"the same floor beyond a 2 m range", floorWith(), cameraPose({0, 0, 0.5}, 10), 2.0, 80, 60, 0},
    {"straight down onto a 10 cm box", cup, down, 10.0, 80, 60, 900},
    {"straight down beside it: the height", cup, down, 10.0, 2, 2, 1000},
    {"looking 20 deg up: nothing hit", floorWith(), cameraPose({0, 0, 0.5}, -20), 10.0, 80, 60, 0},
    {"a face 5 cm from the lens, under the minimum range",
      floorWith({box({0.05, -1.0, 0.0}, {0.3, 1.0, 1.0}, 3)}), cameraPose({0, 0, 0.5}, 0), 10.0,
      80, 60, 0},
  };
  for (const Row & row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(render(row.scene, kOdd, exact(row.max_range), row.pose).mm(row.u, row.v), row.mm);
  }
}

TEST(DepthRenderer, ObjectIdsDepthAndColourOfABoxInFrontOfTheFloor)
{
  // A level camera 0.5 m high; a box (object 9) whose front face is 3 m ahead: its depth is 3 m
  // on every pixel. The upper half of the image sees nothing.
  const Scene scene = floorWith({box({3.0, -0.3, 0.0}, {3.5, 0.3, 0.4}, 9)});
  const auto k = CameraIntrinsics::fromHorizontalFov(64, 48, 80.0 * kDegree);
  const Frame frame = render(scene, k, exact(), cameraPose({0, 0, 0.5}, 0));
  ASSERT_EQ(frame.labels.size(), size_t{64} * 48);
  ASSERT_EQ(frame.depth.size(), size_t{64} * 48 * 2);
  ASSERT_EQ(frame.rgb.size(), size_t{64} * 48 * 3);
  struct Probe
  {
    uint32_t u, v;
    uint16_t label;
    double mm;  // floor: 0.5 m * fy / (v - cy)
  };
  const Probe probes[] = {
    {0, 0, kNoObject, 0}, {32, 5, kNoObject, 0}, {32, 26, 9, 3000}, {31, 28, 9, 3000},
    {5, 47, 5, 0.5e3 * k.fy / (47 - k.cy)}, {32, 47, 5, 0.5e3 * k.fy / (47 - k.cy)},
    {60, 40, 5, 0.5e3 * k.fy / (40 - k.cy)}};
  const Rgb background = paletteEntry("background").colour;
  for (const Probe & probe : probes) {
    SCOPED_TRACE(std::to_string(probe.u) + "," + std::to_string(probe.v));
    EXPECT_EQ(frame.labels[probe.v * 64 + probe.u], probe.label);
    EXPECT_NEAR(frame.mm(probe.u, probe.v), probe.mm, 1.0);
    const uint8_t * rgb = frame.colour(probe.u, probe.v);
    if (probe.label == kNoObject) {
      EXPECT_EQ(Eigen::Vector3i(rgb[0], rgb[1], rgb[2]),
        Eigen::Vector3i(background.r, background.g, background.b));
    } else if (probe.label == 9) {
      EXPECT_GT(rgb[0], 2 * rgb[1]);  // the box's red, shaded
    }
  }
  // The render without labels gives the same images.
  std::vector<uint8_t> depth, rgb;
  DepthRenderer(k, exact()).render(scene, cameraPose({0, 0, 0.5}, 0), 0, depth, rgb);
  EXPECT_EQ(depth, frame.depth);
  EXPECT_EQ(rgb, frame.rgb);
}

TEST(DepthRenderer, NoiseIsSeededPerFrameAndHasTheConfiguredSpread)
{
  const auto k = CameraIntrinsics::fromHorizontalFov(160, 120, 80.0 * kDegree);
  DepthRenderer::Params params = exact();
  params.noise_m = 0.005;
  params.seed = 7;
  const Eigen::Isometry3d pose = cameraPose({0, 0, 0.6}, 30);
  const Frame truth = render(floorWith(), k, exact(), pose);
  const Frame noisy = render(floorWith(), k, params, pose, 3);
  double sum = 0.0, sum_sq = 0.0;
  size_t count = 0;
  for (uint32_t v = 0; v < k.height; ++v) {
    for (uint32_t u = 0; u < k.width; ++u) {
      if (truth.mm(u, v) != 0) {
        const double error = noisy.mm(u, v) - truth.mm(u, v);
        sum += error;
        sum_sq += error * error;
        ++count;
      }
    }
  }
  ASSERT_GT(count, 10000U);
  const double mean = sum / count;
  EXPECT_NEAR(mean, 0.0, 0.3);
  EXPECT_NEAR(std::sqrt(sum_sq / count - mean * mean), 5.0, 0.5);  // mm; rounding adds ~0.3 mm

  EXPECT_EQ(render(floorWith(), k, params, pose, 3).depth, noisy.depth);
  EXPECT_NE(render(floorWith(), k, params, pose, 4).depth, noisy.depth);
  params.seed = 8;
  EXPECT_NE(render(floorWith(), k, params, pose, 3).depth, noisy.depth);
}

TEST(DepthRenderer, RefusesUnusableSettings)
{
  const std::pair<const char *, std::function<void(DepthRenderer::Params &)>> rows[] = {
    {"range beyond 16UC1", [](DepthRenderer::Params & p) {p.max_range_m = 70.0;}},
    {"empty range", [](DepthRenderer::Params & p) {p.min_range_m = p.max_range_m;}},
    {"negative noise", [](DepthRenderer::Params & p) {p.noise_m = -0.001;}},
    {"NaN noise", [](DepthRenderer::Params & p) {p.noise_m = std::nan("");}},
  };
  for (const auto & [name, spoil] : rows) {
    DepthRenderer::Params params;
    spoil(params);
    EXPECT_THROW(DepthRenderer(kOdd, params), std::invalid_argument) << name;
  }
  CameraIntrinsics broken = kOdd;
  broken.fx = 0.0;
  EXPECT_THROW(DepthRenderer(broken, DepthRenderer::Params{}), std::invalid_argument);
}

}  // namespace
}  // namespace nimbra_demo_scene
