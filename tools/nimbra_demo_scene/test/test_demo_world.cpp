// Robot motion, corridor layout, camera mounts and the TF chain the node publishes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "nimbra_demo_scene/camera_mount.hpp"
#include "nimbra_demo_scene/demo_world.hpp"
#include "nimbra_demo_scene/ros_conversions.hpp"
#include "rclcdds/tf2/buffer_core.hpp"
#include "rclcdds/tf2/eigen.hpp"
#include "rclcdds/tf2/time.hpp"

namespace nimbra_demo_scene
{
namespace
{

constexpr double kDegree = M_PI / 180.0;

double angleDifference(double a, double b)
{
  return std::remainder(a - b, 2.0 * M_PI);
}

TEST(RobotTrajectory, IsContinuousAndItsTwistMatchesTheMotion)
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
    EXPECT_NEAR(angleDifference(b.yaw, a.yaw) / kDt, twist.angular_z, 1e-3);
  }
}

TEST(RobotTrajectory, StartsEastboundAndComesBackAfterOnePeriod)
{
  const RobotTrajectory trajectory(RobotTrajectory::Params{});
  const Pose2D start = trajectory.poseAt(0.0);
  EXPECT_DOUBLE_EQ(start.x, 0.0);
  EXPECT_DOUBLE_EQ(start.y, -0.6);
  EXPECT_DOUBLE_EQ(start.yaw, 0.0);
  const Pose2D half = trajectory.poseAt(trajectory.period() / 2.0);
  EXPECT_NEAR(half.x, 8.0, 1e-9);
  EXPECT_NEAR(half.y, 0.6, 1e-9);
  EXPECT_NEAR(std::abs(half.yaw), M_PI, 1e-9);
  const Pose2D again = trajectory.poseAt(trajectory.period() + 1.0);
  EXPECT_NEAR(again.x, trajectory.poseAt(1.0).x, 1e-9);
  EXPECT_THROW(RobotTrajectory(RobotTrajectory::Params{0.0, 0.6, 0.3}), std::invalid_argument);
}

TEST(DemoWorld, LayoutIsDeterminedByTheSeed)
{
  DemoWorld::Params params;
  DemoWorld a(params);
  DemoWorld b(params);
  params.seed = 43;
  DemoWorld c(params);
  const Scene & sa = a.sceneAt(3.0);
  const Scene & sb = b.sceneAt(3.0);
  const Scene & sc = c.sceneAt(3.0);
  ASSERT_EQ(sa.boxes.size(), sb.boxes.size());
  bool any_different = false;
  for (size_t i = 0; i < sa.boxes.size(); ++i) {
    EXPECT_EQ(sa.boxes[i].min, sb.boxes[i].min);
    EXPECT_EQ(sa.boxes[i].max, sb.boxes[i].max);
    any_different = any_different || sa.boxes[i].min != sc.boxes[i].min;
  }
  EXPECT_TRUE(any_different);
}

bool overlapsInVolume(const Box & a, const Box & b)
{
  return ((a.min.array() < b.max.array()) && (b.min.array() < a.max.array())).all();
}

TEST(DemoWorld, BoxesStandOnTheFloorOrOnAnotherObjectAndNeverInterpenetrate)
{
  for (uint32_t seed : {42U, 43U, 7U}) {
    DemoWorld::Params params;
    params.seed = seed;
    DemoWorld world(params);
    // Several instants, so the cart and the walking person are checked along their paths.
    for (double t : {0.0, 1.7, 4.2, 9.9, 14.0, 21.5, 33.0}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " t " + std::to_string(t));
      const Scene & scene = world.sceneAt(t);
      ASSERT_EQ(scene.planes.size(), 3U);
      for (size_t i = 0; i < scene.boxes.size(); ++i) {
        const Box & box = scene.boxes[i];
        EXPECT_TRUE((box.min.array() < box.max.array()).all());
        EXPECT_GE(box.min.y(), -1.6);
        EXPECT_LE(box.max.y(), 1.6);
        bool supported = box.min.z() == 0.0;
        for (size_t j = 0; j < scene.boxes.size(); ++j) {
          const Box & other = scene.boxes[j];
          if (j == i) {
            continue;
          }
          if (box.object != other.object) {
            EXPECT_FALSE(overlapsInVolume(box, other))
              << world.objects()[box.object].name << " and " << world.objects()[other.object].name;
          }
          supported = supported || (std::abs(other.max.z() - box.min.z()) < 1e-12 &&
            (box.min.head<2>().array() < other.max.head<2>().array()).all() &&
            (other.min.head<2>().array() < box.max.head<2>().array()).all());
        }
        EXPECT_TRUE(supported) << world.objects()[box.object].name << " floats";
      }
    }
  }
}

TEST(DemoWorld, HoldsTheObjectsTheNodeMustHandle)
{
  DemoWorld world(DemoWorld::Params{});
  struct Expected
  {
    const char * name;
    const char * semantic_class;
    bool moving;
  };
  const Expected expected[] = {
    {"floor", "", false}, {"wall_north", "", false}, {"chair", "chair", false},
    {"wheelchair", "wheelchair", false}, {"hospital_bed", "hospital_bed", false},
    {"carpet", "carpet", false}, {"spill", "coffee", false},
    {"waiting_bench", "waiting_bench", false}, {"bottle_on_bench", "bottle", false},
    {"table", "", false}, {"bottle_on_table", "bottle", false},
    {"person_standing", "person", false}, {"person_walking", "person", true},
    {"cart", "", true}, {"litter_1", "paper", false}, {"litter_2", "bottle", false},
    {"litter_3", "paper_cup", false}, {"litter_4", "mask", false},
  };
  for (const Expected & e : expected) {
    SCOPED_TRACE(e.name);
    const WorldObject & object = world.object(e.name);
    EXPECT_EQ(object.semantic_class, e.semantic_class);
    EXPECT_EQ(object.moving, e.moving);
    EXPECT_EQ(&world.objects()[object.id], &object);
  }
  EXPECT_THROW(world.object("unicorn"), std::out_of_range);

  const Scene & scene = world.sceneAt(0.0);
  const auto top = [&](const char * name) {
      double z = 0.0;
      for (size_t index : world.object(name).boxes) {
        z = std::max(z, scene.boxes[index].max.z());
      }
      return z;
    };
  const auto bottom = [&](const char * name) {
      return scene.boxes[world.object(name).boxes.front()].min.z();
    };
  // Trash on an obstacle: the bench bottle stands on the bench; the table bottle sits above a
  // bottle's height band on the floor (0.15 m).
  EXPECT_DOUBLE_EQ(bottom("bottle_on_bench"), top("waiting_bench"));
  EXPECT_GT(bottom("bottle_on_table"), 0.15);
  // Litter lies flat in a lane, floor patches are thin.
  for (int i = 1; i <= 6; ++i) {
    const Box & box = scene.boxes[world.object("litter_" + std::to_string(i)).boxes.front()];
    EXPECT_LE(box.max.z(), 0.1);
    EXPECT_NEAR(std::abs(box.min.y() + box.max.y()) / 2.0, 0.6, 0.2);
  }
  EXPECT_LT(top("carpet"), 0.01);
  EXPECT_LT(top("spill"), 0.01);

  DemoWorld::Params bad;
  bad.litter_count = 7;
  EXPECT_THROW(DemoWorld{bad}, std::invalid_argument);
  bad.litter_count = 2;
  bad.obstacle_count = -1;
  EXPECT_THROW(DemoWorld{bad}, std::invalid_argument);
}

TEST(DemoWorld, CartIsPushedAlongTheCorridorBetweenTheLanes)
{
  DemoWorld world(DemoWorld::Params{});
  const size_t cart = world.object("cart").boxes.front();
  const double x0 = world.sceneAt(0.0).boxes[cart].min.x();
  const double x1 = world.sceneAt(2.0).boxes[cart].min.x();
  EXPECT_NEAR(x1 - x0, 0.8, 1e-9);  // 0.4 m/s
  const Box & box = world.sceneAt(2.0).boxes[cart];
  EXPECT_LT(box.max.y(), 0.3);       // lanes at +-0.6 with the robot's half width
  EXPECT_GT(box.min.y(), -0.3);
}

TEST(DemoWorld, PersonWalksAcrossTheCorridor)
{
  DemoWorld world(DemoWorld::Params{});
  const size_t person = world.personIndex();
  EXPECT_EQ(world.sceneAt(0.0).boxes[person].material.kind, SurfaceKind::kPerson);
  const double y0 = world.sceneAt(0.0).boxes[person].min.y();
  const double y1 = world.sceneAt(1.0).boxes[person].min.y();
  EXPECT_NEAR(std::abs(y1 - y0), 0.8, 1e-9);
  EXPECT_NEAR(world.sceneAt(1.0).boxes[person].max.z(), 1.7, 1e-12);
}

TEST(CameraMount, OpticalFrameLooksForwardAndDown)
{
  const CameraMount mount = CameraMount::demoMount(1);
  const Eigen::Isometry3d pose = mount.baseToOptical();
  const Eigen::Vector3d z = pose.linear().col(2);
  const Eigen::Vector3d x = pose.linear().col(0);
  const Eigen::Vector3d y = pose.linear().col(1);
  EXPECT_TRUE(z.isApprox(Eigen::Vector3d(std::cos(30 * kDegree), 0.0, -std::sin(30 * kDegree))));
  EXPECT_TRUE(x.isApprox(Eigen::Vector3d(0.0, -1.0, 0.0)));  // right
  EXPECT_LT(y.z(), 0.0);                                      // down
  EXPECT_NEAR(pose.translation().z(), 0.6, 1e-12);
  EXPECT_EQ(mount.depthFrame(), "camera_01_depth_optical_frame");
  EXPECT_EQ(mount.topic("depth/image_raw"), "/camera_01/depth/image_raw");
  EXPECT_EQ(CameraMount::demoMount(2).topic("color/image_raw"), "/camera_02/color/image_raw");
  EXPECT_THROW(CameraMount::demoMount(3), std::invalid_argument);
}

TEST(TransformChain, PublishedTransformsComposeToTheRenderedCameraPose)
{
  DemoWorld world(DemoWorld::Params{});
  const CameraMount mount = CameraMount::demoMount(2);
  rclcdds::tf2::BufferCore buffer;
  builtin_interfaces::msg::Time zero;
  ASSERT_TRUE(
    buffer.setTransform(
      toTransformMsg(mount.baseToOptical(), "base_footprint", mount.depthFrame(), zero), "test",
      true));
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
    EXPECT_TRUE(looked_up.translation().isApprox(rendered.translation(), 1e-9));
    EXPECT_TRUE(looked_up.linear().isApprox(rendered.linear(), 1e-9));
    // The camera stays at its mount height above the floor.
    EXPECT_NEAR(looked_up.translation().z(), 0.35, 1e-9);
  }
}

}  // namespace
}  // namespace nimbra_demo_scene
