// Depth and colour of the ray-casting renderer against geometry computed by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "nimbra_demo_scene/camera_mount.hpp"
#include "nimbra_demo_scene/depth_renderer.hpp"

namespace nimbra_demo_scene
{
namespace
{

constexpr double kDegree = M_PI / 180.0;

Scene floorOnly()
{
  Scene scene;
  scene.planes.push_back({2, 0.0, 1.0, {{200, 200, 200}, SurfaceKind::kFloor}});
  return scene;
}

DepthRenderer::Params exact(double max_range = 10.0)
{
  DepthRenderer::Params params;
  params.noise_m = 0.0;
  params.max_range_m = max_range;
  return params;
}

/// Camera at `height` above the map origin, looking along +x, `pitch_down` below horizontal.
Eigen::Isometry3d cameraPose(double height, double pitch_down)
{
  CameraMount mount;
  mount.position = Eigen::Vector3d(0.0, 0.0, height);
  mount.pitch_down_rad = pitch_down;
  return mount.baseToOptical();
}

/// Rendered frame with accessors by pixel.
struct Frame
{
  std::vector<uint8_t> depth;
  std::vector<uint8_t> rgb;
  uint32_t width{0};

  uint16_t mm(uint32_t u, uint32_t v) const
  {
    const size_t i = 2 * (static_cast<size_t>(v) * width + u);
    return static_cast<uint16_t>(depth[i] | (depth[i + 1] << 8));
  }
  Rgb colour(uint32_t u, uint32_t v) const
  {
    const size_t i = 3 * (static_cast<size_t>(v) * width + u);
    return Rgb{rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

Frame renderFrame(
  const Scene & scene, const CameraIntrinsics & intrinsics, const DepthRenderer::Params & params,
  const Eigen::Isometry3d & pose, uint64_t frame_index = 0)
{
  DepthRenderer renderer(intrinsics, params);
  Frame frame;
  frame.width = intrinsics.width;
  renderer.render(scene, pose, frame_index, frame.depth, frame.rgb);
  return frame;
}

const CameraIntrinsics kIntrinsics = CameraIntrinsics::fromHorizontalFov(160, 120, 80.0 * kDegree);

TEST(DepthRendererFloor, PixelDepthMatchesTheCameraGeometry)
{
  struct Case
  {
    double height;
    double pitch_deg;
  };
  const Case cases[] = {{0.6, 30.0}, {0.35, 15.0}, {1.2, 60.0}};
  for (const Case & c : cases) {
    const double pitch = c.pitch_deg * kDegree;
    const Frame frame = renderFrame(floorOnly(), kIntrinsics, exact(), cameraPose(c.height, pitch));
    for (uint32_t v : {0U, 30U, 59U, 60U, 90U, 119U}) {
      for (uint32_t u : {0U, 80U, 159U}) {
        // A ray (x, y, 1) in the optical frame drops sin(pitch) + cos(pitch) * y per unit depth.
        const double slope = (v - kIntrinsics.cy) / kIntrinsics.fy;
        const double drop = std::sin(pitch) + std::cos(pitch) * slope;
        SCOPED_TRACE(
          "height " + std::to_string(c.height) + " pitch " + std::to_string(c.pitch_deg) +
          " pixel (" + std::to_string(u) + ", " + std::to_string(v) + ")");
        if (drop <= 0.0 || c.height / drop > 10.0) {
          EXPECT_EQ(frame.mm(u, v), 0);
        } else {
          EXPECT_NEAR(frame.mm(u, v), 1000.0 * c.height / drop, 0.5);
        }
      }
    }
  }
}

TEST(DepthRendererFloor, PrincipalRayOfTheForwardCameraMeetsTheFloorAtHeightOverSinPitch)
{
  // Odd size: the principal point is the centre pixel.
  const auto intrinsics = CameraIntrinsics::fromHorizontalFov(161, 121, 80.0 * kDegree);
  const Frame frame = renderFrame(floorOnly(), intrinsics, exact(), cameraPose(0.6, 30.0 * kDegree));
  EXPECT_EQ(frame.mm(80, 60), 1200);
}

TEST(DepthRendererOcclusion, BoxInFrontHidesTheFloorBehindIt)
{
  const Eigen::Isometry3d pose = cameraPose(0.5, 10.0 * kDegree);
  const Frame bare = renderFrame(floorOnly(), kIntrinsics, exact(), pose);
  Scene scene = floorOnly();
  Box box;
  box.min = Eigen::Vector3d(1.5, -0.5, 0.0);
  box.max = Eigen::Vector3d(2.0, 0.5, 1.0);
  box.material = {{200, 40, 40}, SurfaceKind::kObstacle};
  scene.boxes.push_back(box);
  const Frame blocked = renderFrame(scene, kIntrinsics, exact(), pose);

  // Principal row: the ray descends 10 degrees and would meet the floor at 0.5 / tan(10) = 2.84 m;
  // it meets the box face x = 1.5 first, at depth 1.5 / cos(10 degrees) along the optical axis.
  const uint32_t u = 80;
  const uint32_t v = 60;  // row 60 is 0.5 px below the principal point
  const double slope = (v - kIntrinsics.cy) / kIntrinsics.fy;
  const double pitch = 10.0 * kDegree;
  const double floor_depth = 0.5 / (std::sin(pitch) + std::cos(pitch) * slope);
  const double box_depth = 1.5 / (std::cos(pitch) - std::sin(pitch) * slope);
  EXPECT_NEAR(bare.mm(u, v), 1000.0 * floor_depth, 0.5);
  EXPECT_NEAR(blocked.mm(u, v), 1000.0 * box_depth, 0.5);
  EXPECT_LT(blocked.mm(u, v), bare.mm(u, v));
  // The face is lit differently from the floor and coloured red.
  const Rgb face = blocked.colour(u, v);
  EXPECT_GT(face.r, 2 * face.g);
  // The bottom row sees floor nearer than the box: unchanged.
  EXPECT_EQ(blocked.mm(u, 119), bare.mm(u, 119));
}

TEST(DepthRendererRange, ZeroWhereNothingIsHitOrOutsideTheRange)
{
  // Looking up 20 degrees: the upper half of the image sees nothing at all.
  const Frame sky = renderFrame(floorOnly(), kIntrinsics, exact(), cameraPose(0.5, -20.0 * kDegree));
  EXPECT_EQ(sky.mm(80, 0), 0);
  EXPECT_EQ(sky.mm(80, 60), 0);

  // Floor at about 2.8 m on the principal row: inside a 10 m range, outside a 2 m one.
  const Eigen::Isometry3d pose = cameraPose(0.5, 10.0 * kDegree);
  EXPECT_GT(renderFrame(floorOnly(), kIntrinsics, exact(10.0), pose).mm(80, 60), 2000);
  EXPECT_EQ(renderFrame(floorOnly(), kIntrinsics, exact(2.0), pose).mm(80, 60), 0);

  // A box face 5 cm in front of the lens is nearer than the minimum range.
  Scene scene = floorOnly();
  Box box;
  box.min = Eigen::Vector3d(0.05, -1.0, 0.0);
  box.max = Eigen::Vector3d(0.3, 1.0, 1.0);
  scene.boxes.push_back(box);
  EXPECT_EQ(renderFrame(scene, kIntrinsics, exact(), cameraPose(0.5, 0.0)).mm(80, 60), 0);
}

TEST(DepthRendererNoise, IsSeededPerFrameAndHasTheConfiguredSpread)
{
  DepthRenderer::Params params = exact();
  params.noise_m = 0.005;
  params.seed = 7;
  const Eigen::Isometry3d pose = cameraPose(0.6, 30.0 * kDegree);
  const Frame truth = renderFrame(floorOnly(), kIntrinsics, exact(), pose);
  const Frame noisy = renderFrame(floorOnly(), kIntrinsics, params, pose, 3);
  double sum = 0.0;
  double sum_sq = 0.0;
  size_t count = 0;
  for (uint32_t v = 0; v < kIntrinsics.height; ++v) {
    for (uint32_t u = 0; u < kIntrinsics.width; ++u) {
      if (truth.mm(u, v) == 0) {
        continue;
      }
      const double error = noisy.mm(u, v) - truth.mm(u, v);
      sum += error;
      sum_sq += error * error;
      ++count;
    }
  }
  ASSERT_GT(count, 10000U);
  const double mean = sum / count;
  const double sigma = std::sqrt(sum_sq / count - mean * mean);
  EXPECT_NEAR(mean, 0.0, 0.3);
  EXPECT_NEAR(sigma, 5.0, 0.5);  // mm (rounding adds about 0.3 mm)

  EXPECT_EQ(renderFrame(floorOnly(), kIntrinsics, params, pose, 3).depth, noisy.depth);
  EXPECT_NE(renderFrame(floorOnly(), kIntrinsics, params, pose, 4).depth, noisy.depth);
  params.seed = 8;
  EXPECT_NE(renderFrame(floorOnly(), kIntrinsics, params, pose, 3).depth, noisy.depth);
}

TEST(DepthRendererOutput, ResizesBuffersOnceAndKeepsTheirStorage)
{
  DepthRenderer renderer(kIntrinsics, exact());
  std::vector<uint8_t> depth(3);
  std::vector<uint8_t> rgb;
  const auto stats = renderer.render(floorOnly(), cameraPose(0.6, 0.5), 0, depth, rgb);
  EXPECT_EQ(depth.size(), 160U * 120U * 2U);
  EXPECT_EQ(rgb.size(), 160U * 120U * 3U);
  EXPECT_GT(stats.valid_pixels, 0U);
  const uint8_t * depth_storage = depth.data();
  const uint8_t * rgb_storage = rgb.data();
  renderer.render(floorOnly(), cameraPose(0.6, 0.5), 1, depth, rgb);
  EXPECT_EQ(depth.data(), depth_storage);
  EXPECT_EQ(rgb.data(), rgb_storage);
}

TEST(DepthRendererOutput, ColoursFollowTheSurfaceAndItsOrientation)
{
  Scene scene = floorOnly();
  Box cup;
  cup.min = Eigen::Vector3d(0.9, -0.2, 0.0);
  cup.max = Eigen::Vector3d(1.3, 0.2, 0.1);
  cup.material = {{40, 60, 220}, SurfaceKind::kCup};
  scene.boxes.push_back(cup);
  // Straight down from 1 m above the cup: the centre pixel sees its top face.
  CameraMount mount;
  mount.position = Eigen::Vector3d(1.1, 0.0, 1.0);
  mount.pitch_down_rad = 90.0 * kDegree;
  const auto intrinsics = CameraIntrinsics::fromHorizontalFov(161, 121, 80.0 * kDegree);
  const Frame frame = renderFrame(scene, intrinsics, exact(), mount.baseToOptical());
  EXPECT_EQ(frame.mm(80, 60), 900);
  const Rgb top = frame.colour(80, 60);
  EXPECT_GT(top.b, top.r);
  EXPECT_GT(top.b, top.g);
  const Rgb floor = frame.colour(2, 2);
  EXPECT_EQ(frame.mm(2, 2), 1000);  // looking straight down: optical depth is the height
  EXPECT_NEAR(floor.r, floor.b, 2);
}

TEST(DepthRendererConstruction, RejectsUnusableSettings)
{
  DepthRenderer::Params params;
  params.max_range_m = 70.0;  // beyond 16UC1
  EXPECT_THROW(DepthRenderer(kIntrinsics, params), std::invalid_argument);
  params = DepthRenderer::Params{};
  params.min_range_m = params.max_range_m;
  EXPECT_THROW(DepthRenderer(kIntrinsics, params), std::invalid_argument);
  params = DepthRenderer::Params{};
  params.noise_m = -0.001;
  EXPECT_THROW(DepthRenderer(kIntrinsics, params), std::invalid_argument);
  params.noise_m = std::nan("");
  EXPECT_THROW(DepthRenderer(kIntrinsics, params), std::invalid_argument);
  CameraIntrinsics broken = kIntrinsics;
  broken.fx = 0.0;
  EXPECT_THROW(DepthRenderer(broken, DepthRenderer::Params{}), std::invalid_argument);
}

}  // namespace
}  // namespace nimbra_demo_scene
