// The ray-casting renderer and the ground truth it gives: small scenes whose depth and object ids
// are known by hand, range limits, noise, refused settings; on the demo world, every pixel's depth
// on the object it is labelled with, object placements, label regions and the truth JSON. Then
// the world itself: robot motion, corridor layout and its palette, camera mounts, camera_info and
// the TF chain the node publishes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "nimbra_demo_scene/camera_mount.hpp"
#include "nimbra_demo_scene/demo_palette.hpp"
#include "nimbra_demo_scene/demo_world.hpp"
#include "nimbra_demo_scene/depth_renderer.hpp"
#include "nimbra_demo_scene/ground_truth.hpp"
#include "nimbra_demo_scene/ros_conversions.hpp"
#include "rclcdds/tf2/buffer_core.hpp"
#include "rclcdds/tf2/eigen.hpp"
#include "rclcdds/tf2/time.hpp"

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

/// Millimetres at pixel `i` of a 16UC1 little-endian depth image.
uint16_t mmAt(const std::vector<uint8_t> & depth, size_t i)
{
  return static_cast<uint16_t>(depth[2 * i] | (depth[2 * i + 1] << 8));
}

struct Frame
{
  std::vector<uint8_t> depth, rgb;
  std::vector<uint16_t> labels;
};

Frame render(
  const Scene & scene, const CameraIntrinsics & k, const DepthRenderer::Params & params,
  const Eigen::Isometry3d & pose, uint64_t frame_index = 0)
{
  Frame frame;
  DepthRenderer(k, params).render(scene, pose, frame_index, frame.depth, frame.rgb, frame.labels);
  return frame;
}

// Odd size: the principal point is the centre pixel (80, 60).
const CameraIntrinsics kOdd = CameraIntrinsics::fromHorizontalFov(161, 121, 80.0 * kDegree);

TEST(DepthRenderer, DepthAndObjectOfTheNearestSurfaceWithDepthZeroOutsideTheRange)
{
  struct Row
  {
    const char * name;
    Scene scene;
    Eigen::Isometry3d pose;
    double max_range;
    uint32_t u, v;
    double mm;
    uint16_t label;
  };
  const Eigen::Isometry3d down = cameraPose({1.1, 0.0, 1.0}, 90.0);
  const Eigen::Isometry3d level = cameraPose({0, 0, 0.5}, 0);
  const Scene cup = floorWith({box({0.9, -0.2, 0.0}, {1.3, 0.2, 0.1}, 3)});
  // Object 9's front face is 3 m ahead of the level camera: 3 m on every pixel of it.
  const Scene ahead = floorWith({box({3.0, -0.3, 0.0}, {3.5, 0.3, 0.4}, 9)});
  const auto floor_mm = [](uint32_t v) {return 0.5e3 * kOdd.fy / (v - kOdd.cy);};
  const Row rows[] = {
    {"forward, 0.6 m high, 30 deg down: 0.6 / sin 30", floorWith(), cameraPose({0, 0, 0.6}, 30),
      10.0, 80, 60, 1200, 5},
    {"0.5 m high, 10 deg down: 0.5 / sin 10", floorWith(), cameraPose({0, 0, 0.5}, 10), 10.0, 80,
      60, 2879, 5},
    {"the same floor beyond a 2 m range", floorWith(), cameraPose({0, 0, 0.5}, 10), 2.0, 80, 60, 0,
      5},
    {"straight down onto a 10 cm box", cup, down, 10.0, 80, 60, 900, 3},
    {"straight down beside it: the height", cup, down, 10.0, 2, 2, 1000, 5},
    {"looking 20 deg up: nothing hit", floorWith(), cameraPose({0, 0, 0.5}, -20), 10.0, 80, 60, 0,
      kNoObject},
    {"a face 5 cm from the lens, under the minimum range",
      floorWith({box({0.05, -1.0, 0.0}, {0.3, 1.0, 1.0}, 3)}), level, 10.0, 80, 60, 0, 3},
    {"level: the box face below the centre", ahead, level, 10.0, 80, 65, 3000, 9},
    {"level: the floor in front of the box", ahead, level, 10.0, 80, 120, floor_mm(120), 5},
    {"level: the floor beside the box", ahead, level, 10.0, 150, 100, floor_mm(100), 5},
    {"level: nothing above the horizon", ahead, level, 10.0, 80, 5, 0, kNoObject},
  };
  const Rgb background = paletteEntry("background").colour;
  for (const Row & row : rows) {
    SCOPED_TRACE(row.name);
    const Frame frame = render(row.scene, kOdd, exact(row.max_range), row.pose);
    const size_t pixel = static_cast<size_t>(row.v) * kOdd.width + row.u;
    EXPECT_NEAR(mmAt(frame.depth, pixel), row.mm, 1.0);
    ASSERT_EQ(frame.labels.size(), size_t{161} * 121);
    EXPECT_EQ(frame.labels[pixel], row.label);
    const uint8_t * rgb = &frame.rgb[3 * pixel];
    EXPECT_EQ(row.label == kNoObject, rgb[0] == background.r && rgb[1] == background.g &&
      rgb[2] == background.b);
    // The render without labels gives the same images.
    std::vector<uint8_t> depth, colour;
    DepthRenderer(kOdd, exact(row.max_range)).render(row.scene, row.pose, 0, depth, colour);
    EXPECT_EQ(depth, frame.depth);
    EXPECT_EQ(colour, frame.rgb);
  }
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
  for (size_t i = 0; i < truth.labels.size(); ++i) {
    if (mmAt(truth.depth, i) != 0) {
      const double error = mmAt(noisy.depth, i) - mmAt(truth.depth, i);
      sum += error;
      sum_sq += error * error;
      ++count;
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
  std::vector<DepthRenderer::Params> rows(4);
  rows[0].max_range_m = 70.0;  // beyond 16UC1
  rows[1].min_range_m = rows[1].max_range_m;
  rows[2].noise_m = -0.001;
  rows[3].noise_m = std::nan("");
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_THROW(DepthRenderer(kOdd, rows[i]), std::invalid_argument) << "row " << i;
  }
  CameraIntrinsics broken = kOdd;
  broken.fx = 0.0;
  EXPECT_THROW(DepthRenderer(broken, DepthRenderer::Params{}), std::invalid_argument);
}

TEST(LabelRegions, BoundsAndCountsEveryObjectAndSkipsEmptyPixels)
{
  constexpr uint16_t N = kNoObject;
  // 5 x 4 image.
  const std::vector<uint16_t> labels = {
    N, 3, 3, N, N,
    N, 3, N, 0, N,
    7, N, N, 0, 0,
    N, N, N, N, 0,
  };
  std::vector<std::vector<size_t>> regions;
  for (const PixelRegion & r : labelRegions(labels, 5, 4)) {
    regions.push_back({r.id, r.u_min, r.v_min, r.u_max, r.v_max, r.pixels});
  }
  // By ascending id: {id, u_min, v_min, u_max, v_max, pixels}.
  EXPECT_EQ(regions, (std::vector<std::vector<size_t>>{
    {0, 3, 1, 4, 3, 4}, {3, 1, 0, 2, 1, 3}, {7, 0, 2, 0, 2, 1}}));
  EXPECT_TRUE(labelRegions(std::vector<uint16_t>(6, N), 3, 2).empty());
  EXPECT_THROW(labelRegions(labels, 4, 4), std::invalid_argument);
}

/// Distance of `p` from the surface of `object` (its plane, or the nearest of its boxes).
double distanceToObject(const Scene & scene, const WorldObject & object, const Eigen::Vector3d & p)
{
  if (object.plane >= 0) {
    const AxisPlane & plane = scene.planes[object.plane];
    return std::abs(p[plane.axis] - plane.offset);
  }
  double best = 1e9;
  for (size_t index : object.boxes) {
    const Box & box = scene.boxes[index];
    // Outside distance, or depth below the nearest face when inside.
    const double outside = Eigen::AlignedBox3d(box.min, box.max).exteriorDistance(p);
    best = std::min(best, outside > 0.0 ? outside :
      std::min((p - box.min).minCoeff(), (box.max - p).minCoeff()));
  }
  return best;
}

TEST(DemoRig, EveryPixelWithDepthLiesOnItsLabelledObjectAndTheTruthJsonListsThem)
{
  DemoRig::Params params;
  params.width = 160;
  params.height = 120;
  params.noise_m = 0.0;
  DemoRig rig(params);
  const CameraIntrinsics & k = rig.intrinsics();
  for (uint64_t frame : {0ULL, 90ULL, 270ULL, 333ULL, 500ULL}) {
    for (size_t camera = 0; camera < rig.cameraCount(); ++camera) {
      SCOPED_TRACE("frame " + std::to_string(frame) + " camera " + std::to_string(camera));
      const DemoRig::CameraFrame & f = rig.render(frame, camera);
      const Scene & scene = rig.world().sceneAt(f.scene_t);
      ASSERT_EQ(f.labels.size(), size_t{160} * 120);
      size_t with_depth = 0, off_surface = 0;
      for (size_t i = 0; i < f.labels.size(); ++i) {
        const double z = mmAt(f.depth_16uc1, i) / 1000.0, u = i % k.width, v = i / k.width;
        if (z == 0.0) {
          continue;
        }
        ++with_depth;
        const uint16_t id = f.labels[i];
        ASSERT_LT(id, rig.world().objects().size()) << "pixel " << u << "," << v;
        const Eigen::Vector3d optical((u - k.cx) / k.fx * z, (v - k.cy) / k.fy * z, z);
        const Eigen::Vector3d p = f.map_to_optical * optical;
        // Half a millimetre of depth rounding, stretched along grazing rays.
        if (distanceToObject(scene, rig.world().objects()[id], p) > 0.01) {
          ++off_surface;
        }
      }
      EXPECT_GT(with_depth, 0U);
      EXPECT_EQ(off_surface, 0U);
    }
  }

  // The truth JSON of camera 1's frame 30 (scene time 3 s): every object with the extents of its
  // boxes in map and in base_footprint, and its pixels when in view.
  const DemoRig::CameraFrame & frame = rig.render(30, 0);
  const std::vector<PixelRegion> regions = labelRegions(frame.labels, 160, 120);
  const YAML::Node doc = YAML::Load(frameTruthJson(rig, frame));  // JSON is YAML
  EXPECT_NEAR(doc["scene_t"].as<double>(), 3.0, 1e-9);
  EXPECT_EQ(doc["camera"].as<int>(), 1);
  EXPECT_EQ(doc["frame_id"].as<std::string>(), "camera_01_depth_optical_frame");
  ASSERT_EQ(doc["objects"].size(), rig.world().objects().size());
  const Eigen::Isometry3d base_from_map = rig.world().mapToBase(3.0).inverse();
  const auto written = [](const YAML::Node & xyz) {  // 4 decimals
      return Eigen::Vector3d(xyz[0].as<double>(), xyz[1].as<double>(), xyz[2].as<double>());
    };
  size_t with_pixels = 0;
  for (const YAML::Node & object : doc["objects"]) {
    const WorldObject & truth = rig.world().objects().at(object["id"].as<size_t>());
    SCOPED_TRACE(truth.name);
    EXPECT_EQ(object["name"].as<std::string>(), truth.name);
    EXPECT_EQ(object["class"].as<std::string>(), truth.semantic_class);
    ASSERT_EQ(static_cast<bool>(object["map_min"]), !truth.boxes.empty());
    Eigen::AlignedBox3d map, base;
    for (size_t index : truth.boxes) {
      const Box & box = rig.world().sceneAt(3.0).boxes[index];
      for (int c = 0; c < 8; ++c) {
        const Eigen::Vector3d corner((c & 1) ? box.max.x() : box.min.x(),
          (c & 2) ? box.max.y() : box.min.y(), (c & 4) ? box.max.z() : box.min.z());
        map.extend(corner);
        base.extend(base_from_map * corner);
      }
    }
    if (!truth.boxes.empty()) {
      EXPECT_LT((written(object["map_min"]) - map.min()).lpNorm<Eigen::Infinity>(), 1e-4);
      EXPECT_LT((written(object["map_max"]) - map.max()).lpNorm<Eigen::Infinity>(), 1e-4);
      EXPECT_LT((written(object["base_min"]) - base.min()).lpNorm<Eigen::Infinity>(), 1e-4);
      EXPECT_LT((written(object["base_max"]) - base.max()).lpNorm<Eigen::Infinity>(), 1e-4);
    }
    if (object["pixels"]) {
      ++with_pixels;
      const auto region = std::find_if(
        regions.begin(), regions.end(), [&](const PixelRegion & r) {return r.id == truth.id;});
      ASSERT_NE(region, regions.end());
      EXPECT_EQ(object["pixels"].as<size_t>(), region->pixels);
      EXPECT_EQ(object["pixel_box"].as<std::vector<uint32_t>>(),
        (std::vector<uint32_t>{region->u_min, region->v_min, region->u_max, region->v_max}));
    }
  }
  EXPECT_EQ(with_pixels, regions.size());
  // The centres the report matches detections against (the JSON holds the extents).
  for (const ObjectPlacement & placement : rig.world().placementsAt(3.0)) {
    EXPECT_TRUE(placement.map_centre.isApprox(placement.map_extent.center(), 1e-12));
    EXPECT_TRUE(placement.base_centre.isApprox(base_from_map * placement.map_centre, 1e-9));
  }
}

TEST(RobotTrajectory, IsPeriodicAndItsTwistMatchesTheMotion)
{
  const RobotTrajectory trajectory(RobotTrajectory::Params{});
  constexpr double kDt = 1e-3;
  // Sweep one loop and a bit: finite differences of the pose give the commanded twist.
  for (double t = 0.05; t < trajectory.period() + 5.0; t += 0.37) {
    const Pose2D a = trajectory.poseAt(t);
    const Pose2D b = trajectory.poseAt(t + kDt);
    const BodyTwist twist = trajectory.twistAt(t);
    SCOPED_TRACE("t = " + std::to_string(t));
    const double forward = (b.x - a.x) * std::cos(a.yaw) + (b.y - a.y) * std::sin(a.yaw);
    const double sideways = -(b.x - a.x) * std::sin(a.yaw) + (b.y - a.y) * std::cos(a.yaw);
    EXPECT_NEAR(forward / kDt, twist.linear_x, 1e-3);
    EXPECT_NEAR(sideways / kDt, 0.0, 1e-3);
    EXPECT_NEAR(std::remainder(b.yaw - a.yaw, 2.0 * M_PI) / kDt, twist.angular_z, 1e-3);
    // cmd_vel carries it.
    const geometry_msgs::msg::Twist message = toTwistMsg(twist);
    EXPECT_EQ(message.linear.x, twist.linear_x);
    EXPECT_EQ(message.angular.z, twist.angular_z);
    const Pose2D again = trajectory.poseAt(t + trajectory.period());
    EXPECT_NEAR(again.x, a.x, 1e-9);
    EXPECT_NEAR(again.y, a.y, 1e-9);
  }
  EXPECT_THROW(RobotTrajectory(RobotTrajectory::Params{0.0, 0.6, 0.3}), std::invalid_argument);
}

bool overlapsInVolume(const Box & a, const Box & b)
{
  return ((a.min.array() < b.max.array()) && (b.min.array() < a.max.array())).all();
}

TEST(DemoWorld, SeededLayoutWhereBoxesStandOnTheFloorOrAnotherObjectAndNeverInterpenetrate)
{
  std::vector<Box> previous_seed;
  for (uint32_t seed : {42U, 43U, 7U}) {
    DemoWorld::Params params;
    params.seed = seed;
    DemoWorld world(params);
    // Another seed, another layout (the process test pins that one seed gives one layout).
    const std::vector<Box> & boxes = world.sceneAt(3.0).boxes;
    EXPECT_TRUE(previous_seed.empty() || previous_seed.front().min != boxes.front().min);
    previous_seed = boxes;
    // Several instants, so the cart and the walking person are checked along their paths.
    for (double t : {0.0, 1.7, 4.2, 9.9, 14.0, 21.5, 33.0}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " t " + std::to_string(t));
      const Scene & scene = world.sceneAt(t);
      for (const Box & box : scene.boxes) {
        const std::string & name = world.objects()[box.object].name;
        EXPECT_TRUE((box.min.array() < box.max.array()).all()) << name;
        EXPECT_GE(box.min.y(), -1.6) << name;
        EXPECT_LE(box.max.y(), 1.6) << name;
        bool supported = box.min.z() == 0.0;
        for (const Box & other : scene.boxes) {
          if (box.object != other.object) {
            EXPECT_FALSE(overlapsInVolume(box, other))
              << name << " and " << world.objects()[other.object].name;
          }
          supported = supported ||
            (&other != &box && std::abs(other.max.z() - box.min.z()) < 1e-12 &&
            (box.min.head<2>().array() < other.max.head<2>().array()).all() &&
            (other.min.head<2>().array() < box.max.head<2>().array()).all());
        }
        EXPECT_TRUE(supported) << name << " floats";
      }
    }
  }
}

TEST(DemoWorld, HoldsTheObjectsTheNodeMustHandle)
{
  DemoWorld world(DemoWorld::Params{});
  // Each object has a palette row of its own (its colour and its class for the demo model);
  // two of them move.
  for (const WorldObject & object : world.objects()) {
    EXPECT_EQ(std::count_if(demoPalette().begin(), demoPalette().end(),
      [&](const PaletteEntry & row) {return row.name == object.name;}), 1) << object.name;
    EXPECT_EQ(object.moving, object.name == "cart" || object.name == "person_walking");
  }
  EXPECT_THROW(world.object("unicorn"), std::out_of_range);
  EXPECT_THROW(paletteEntry("no such row"), std::out_of_range);

  const Scene & scene = world.sceneAt(0.0);
  const auto box = [&](const std::string & name) {
      return scene.boxes[world.object(name).boxes.front()];
    };
  // Trash on an obstacle: the bench bottle stands on the bench; the table bottle sits above a
  // bottle's height band on the floor (0.15 m).
  EXPECT_DOUBLE_EQ(box("bottle_on_bench").min.z(), box("waiting_bench").max.z());
  EXPECT_GT(box("bottle_on_table").min.z(), 0.15);
  // Litter lies flat in a lane (y = +-0.6), floor patches are thin.
  for (int i = 1; i <= 6; ++i) {
    const Box & litter = box("litter_" + std::to_string(i));
    EXPECT_LE(litter.max.z(), 0.1) << i;
    EXPECT_NEAR(std::abs(litter.min.y() + litter.max.y()) / 2.0, 0.6, 0.2) << i;
  }
  EXPECT_LT(box("carpet").max.z(), 0.01);
  EXPECT_LT(box("spill").max.z(), 0.01);

  DemoWorld::Params bad;
  bad.litter_count = 7;
  EXPECT_THROW(DemoWorld{bad}, std::invalid_argument);
  bad.litter_count = 2;
  bad.obstacle_count = -1;
  EXPECT_THROW(DemoWorld{bad}, std::invalid_argument);
}

TEST(CameraMount, OpticalFrameLooksForwardAndDownAndThePublishedTransformsComposeToItsPose)
{
  // Mount 1's optical frame: z forward and 30 deg down, x right, y down.
  const Eigen::Matrix3d axes = CameraMount::demoMount(1).baseToOptical().linear();
  const double pitch = 30.0 * kDegree;
  EXPECT_TRUE(axes.col(2).isApprox(Eigen::Vector3d(std::cos(pitch), 0.0, -std::sin(pitch))));
  EXPECT_TRUE(axes.col(0).isApprox(Eigen::Vector3d(0.0, -1.0, 0.0)));
  EXPECT_LT(axes.col(1).z(), 0.0);
  EXPECT_THROW(CameraMount::demoMount(3), std::invalid_argument);

  DemoWorld world(DemoWorld::Params{});
  const CameraMount mount = CameraMount::demoMount(2);
  rclcdds::tf2::BufferCore buffer;
  ASSERT_TRUE(buffer.setTransform(toTransformMsg(mount.baseToOptical(), "base_footprint",
    mount.depthFrame(), builtin_interfaces::msg::Time{}), "test", true));
  // Transforms as the node sends them: one stamp per frame, scene time at 10 Hz.
  for (int frame = 0; frame < 400; frame += 37) {
    const double scene_t = frame / 10.0;
    builtin_interfaces::msg::Time stamp;
    stamp.sec = 1000 + frame;
    ASSERT_TRUE(buffer.setTransform(toTransformMsg(world.mapToOdom(), "map", "odom", stamp), "t"));
    ASSERT_TRUE(
      buffer.setTransform(
        toTransformMsg(world.odomToBase(scene_t), "odom", "base_footprint", stamp), "t"));
    const Eigen::Isometry3d looked_up = rclcdds::tf2::transformToEigen(
      buffer.lookupTransform("map", mount.depthFrame(), rclcdds::tf2::fromMsg(stamp)));
    const Eigen::Isometry3d rendered = world.mapToBase(scene_t) * mount.baseToOptical();
    SCOPED_TRACE("frame " + std::to_string(frame));
    EXPECT_TRUE(looked_up.isApprox(rendered, 1e-9));
  }
}

TEST(RosConversions, CameraInfoCarriesTheRenderersIntrinsics)
{
  const auto k = CameraIntrinsics::fromHorizontalFov(640, 480, 80.0 * kDegree);
  const auto info = toCameraInfoMsg(k, "camera_01_depth_optical_frame");
  // The node reads fx, fy, cx, cy from K[0], K[4], K[2], K[5].
  EXPECT_EQ(info.k, (std::array<double, 9>{k.fx, 0, k.cx, 0, k.fy, k.cy, 0, 0, 1}));
  EXPECT_EQ(info.p, (std::array<double, 12>{k.fx, 0, k.cx, 0, 0, k.fy, k.cy, 0, 0, 0, 1, 0}));
  EXPECT_EQ(info.d, std::vector<double>(5, 0.0));
  EXPECT_EQ(info.distortion_model, "plumb_bob");
  EXPECT_THROW(CameraIntrinsics::fromHorizontalFov(640, 480, M_PI), std::invalid_argument);
}

}  // namespace
}  // namespace nimbra_demo_scene
