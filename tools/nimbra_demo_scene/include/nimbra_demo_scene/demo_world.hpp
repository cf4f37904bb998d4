// The demo corridor: floor, walls, obstacles, a walking person, litter and the robot's motion.
#pragma once

#include <cstdint>
#include <vector>

#include <Eigen/Geometry>

#include "nimbra_demo_scene/robot_trajectory.hpp"
#include "nimbra_demo_scene/scene.hpp"

namespace nimbra_demo_scene
{

/// A hospital corridor along the map x axis, laid out from a seed, with a robot looping
/// through it. Everything is a function of the seed and the scene time.
class DemoWorld
{
public:
  /// Layout of the corridor.
  struct Params
  {
    uint32_t seed{42};              ///< seed of the obstacle and litter layout
    double half_width_m{1.6};       ///< walls at y = -half_width and y = +half_width, m
    int obstacle_count{4};          ///< boxes standing against the walls
    int litter_count{6};            ///< paper, bottles and cups on the floor
    double person_x_m{10.5};        ///< where the person crosses the corridor, m
    double person_speed_mps{0.8};   ///< walking speed of the person, m/s
  };

  /// @throws std::invalid_argument for a corridor too narrow for the robot's lanes or
  ///   negative counts
  explicit DemoWorld(const Params & params);

  /// Scene at `t_s` seconds: moves the person; reuses the scene's storage.
  const Scene & sceneAt(double t_s);
  /// The robot's motion.
  const RobotTrajectory & trajectory() const {return trajectory_;}
  /// Pose of the base in the map frame at `t_s`.
  Eigen::Isometry3d mapToBase(double t_s) const;
  /// Fixed pose of the odometry origin in the map (a small localisation offset).
  Eigen::Isometry3d mapToOdom() const;
  /// Pose of the base in the odometry frame at `t_s` (mapToOdom^-1 * mapToBase).
  Eigen::Isometry3d odomToBase(double t_s) const;
  /// Index of the person's box in Scene::boxes.
  size_t personIndex() const {return person_index_;}

private:
  void layOut();

  Params params_;
  RobotTrajectory trajectory_;
  Scene scene_;
  size_t person_index_{0};
};

}  // namespace nimbra_demo_scene
