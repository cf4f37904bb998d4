// The demo corridor: floor, walls, furniture, floor patches, litter, people, a cart and the
// robot's motion, every surface tagged with the world object it belongs to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Geometry>

#include "nimbra_demo_scene/robot_trajectory.hpp"
#include "nimbra_demo_scene/scene.hpp"

namespace nimbra_demo_scene
{

/// One thing of the world: a plane (floor, wall) or one or more boxes of one colour.
struct WorldObject
{
  uint16_t id{0};               ///< index in DemoWorld::objects(), the label of its pixels
  std::string name;             ///< palette row, e.g. "chair", "litter_2", "floor"
  std::string semantic_class;   ///< class the demo model reports; empty: none
  SurfaceKind kind{SurfaceKind::kObstacle};  ///< what it is
  int plane{-1};                ///< index in Scene::planes, or -1 for a boxed object
  std::vector<size_t> boxes;    ///< indices in Scene::boxes (empty for a plane)
  bool moving{false};           ///< true for the walking person and the cart
};

/// Where a boxed object is at one instant.
struct ObjectPlacement
{
  uint16_t id{0};                       ///< WorldObject::id
  Eigen::AlignedBox3d map_extent;       ///< union of its boxes in map, m
  Eigen::AlignedBox3d base_extent;      ///< axis-aligned bounds of its box corners in base_footprint, m
  Eigen::Vector3d map_centre{Eigen::Vector3d::Zero()};   ///< centre of map_extent, m
  Eigen::Vector3d base_centre{Eigen::Vector3d::Zero()};  ///< map_centre in base_footprint, m
};

/// A hospital corridor along the map x axis, laid out from a seed, with a robot looping
/// through it. Everything is a function of the seed and the scene time.
///
/// Layout (map frame, walls at y = +-half_width): a carpet and a coffee spill in the robot's
/// lanes, a waiting bench with a bottle standing on it, a chair, a wheelchair, a hospital bed, a
/// table with a bottle on it, litter on the floor of the lanes (paper, bottle, paper cup, mask,
/// cycling), a cart pushed back and forth between the lanes, a person walking across the corridor
/// through the robot's east U-turn, a person standing and plain obstacles beyond the loop.
class DemoWorld
{
public:
  /// Layout of the corridor.
  struct Params
  {
    uint32_t seed{42};              ///< seed of the layout jitter (positions of all objects)
    double half_width_m{1.6};       ///< walls at y = -half_width and y = +half_width, m
    int obstacle_count{2};          ///< plain obstacles near the far end, 0..2
    int litter_count{6};            ///< litter items on the floor, 0..6
    double person_x_m{8.4};         ///< where the person crosses the corridor (the robot's east U-turn), m
    double person_speed_mps{0.8};   ///< walking speed of the person, m/s
    double cart_speed_mps{0.4};     ///< speed of the cart, m/s
  };

  /// @throws std::invalid_argument for a corridor too narrow for the robot's lanes or
  ///   counts out of range
  explicit DemoWorld(const Params & params);

  /// Scene at `t_s` seconds: moves the person and the cart; reuses the scene's storage.
  const Scene & sceneAt(double t_s);
  /// The robot's motion.
  const RobotTrajectory & trajectory() const {return trajectory_;}
  /// Pose of the base in the map frame at `t_s`.
  Eigen::Isometry3d mapToBase(double t_s) const;
  /// Fixed pose of the odometry origin in the map (a small localisation offset).
  Eigen::Isometry3d mapToOdom() const;
  /// Pose of the base in the odometry frame at `t_s` (mapToOdom^-1 * mapToBase).
  Eigen::Isometry3d odomToBase(double t_s) const;
  /// Index of the walking person's box in Scene::boxes.
  size_t personIndex() const {return person_index_;}

  /// Every object; objects()[id].id == id.
  const std::vector<WorldObject> & objects() const {return objects_;}
  /// The object named `name` (a palette row).
  /// @throws std::out_of_range when there is none
  const WorldObject & object(const std::string & name) const;
  /// Where every boxed object is at `t_s`, in map and in base_footprint (planes are left out).
  std::vector<ObjectPlacement> placementsAt(double t_s);

private:
  void layOut();
  uint16_t addObject(const std::string & name, SurfaceKind kind);
  void addBox(uint16_t object, const Eigen::Vector3d & min, const Eigen::Vector3d & max);
  void addPlane(uint16_t object, int axis, double offset, double facing);

  Params params_;
  RobotTrajectory trajectory_;
  Scene scene_;
  std::vector<WorldObject> objects_;
  size_t person_index_{0};
  size_t cart_index_{0};
};

}  // namespace nimbra_demo_scene
