// Deterministic robot motion: a loop along a corridor with a U-turn at each end.
#pragma once

#include <Eigen/Geometry>

namespace nimbra_demo_scene
{

/// Planar robot pose in the map frame.
struct Pose2D
{
  double x{0.0};    ///< m
  double y{0.0};    ///< m
  double yaw{0.0};  ///< rad, in (-pi, pi]
};

/// Body velocity of the robot, as a base controller receives it on cmd_vel.
struct BodyTwist
{
  double linear_x{0.0};   ///< forward speed, m/s
  double angular_z{0.0};  ///< yaw rate, rad/s (positive: left)
};

/// Loop in the map frame: east along y = -r from x = 0 to x = length, a left U-turn of radius r,
/// west along y = +r back to x = 0, a left U-turn back to the start. Constant speed.
class RobotTrajectory
{
public:
  /// Shape of the loop.
  struct Params
  {
    double length_m{8.0};     ///< straight part, m
    double turn_radius_m{0.6};///< U-turn radius (lanes at y = -r and y = +r), m
    double speed_mps{0.3};    ///< forward speed, m/s
  };

  /// @throws std::invalid_argument for a non-positive length, radius or speed
  explicit RobotTrajectory(const Params & params);

  /// Pose at time `t_s` seconds after the start (the loop repeats).
  Pose2D poseAt(double t_s) const;
  /// Commanded body velocity at `t_s`.
  BodyTwist twistAt(double t_s) const;
  /// Duration of one loop, s.
  double period() const {return period_;}

  /// Planar pose as a 3-D isometry (z = 0, rotation about z).
  static Eigen::Isometry3d toIsometry(const Pose2D & pose);

private:
  Params params_;
  double straight_s_{0.0};  ///< duration of a straight part, s
  double turn_s_{0.0};      ///< duration of a U-turn, s
  double period_{0.0};      ///< whole loop, s
};

}  // namespace nimbra_demo_scene
