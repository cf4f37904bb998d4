// Robot motion, corridor layout and its palette, camera mounts, camera_info and the TF chain the
// node publishes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <string>

#include "nimbra_demo_scene/camera_mount.hpp"
#include "nimbra_demo_scene/demo_palette.hpp"
#include "nimbra_demo_scene/demo_world.hpp"
#include "nimbra_demo_scene/ros_conversions.hpp"
#include "rclcdds/tf2/buffer_core.hpp"
#include "rclcdds/tf2/eigen.hpp"
#include "rclcdds/tf2/time.hpp"

namespace nimbra_demo_scene
{
namespace
{

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
  const double pitch = 30.0 * M_PI / 180.0;
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
  const auto k = CameraIntrinsics::fromHorizontalFov(640, 480, 80.0 * M_PI / 180.0);
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
