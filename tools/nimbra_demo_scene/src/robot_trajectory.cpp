#include "nimbra_demo_scene/robot_trajectory.hpp"

#include <cmath>
#include <stdexcept>

namespace nimbra_demo_scene
{
namespace
{

double wrapAngle(double angle)
{
  angle = std::remainder(angle, 2.0 * M_PI);
  return angle <= -M_PI ? angle + 2.0 * M_PI : angle;
}

}  // namespace

RobotTrajectory::RobotTrajectory(const Params & params)
: params_(params)
{
  if (!(params.length_m > 0.0 && params.turn_radius_m > 0.0 && params.speed_mps > 0.0)) {
    throw std::invalid_argument(
            "robot trajectory: length, turn radius and speed must be positive");
  }
  straight_s_ = params.length_m / params.speed_mps;
  turn_s_ = M_PI * params.turn_radius_m / params.speed_mps;
  period_ = 2.0 * (straight_s_ + turn_s_);
}

Pose2D RobotTrajectory::poseAt(double t_s) const
{
  const double r = params_.turn_radius_m;
  const double length = params_.length_m;
  const double rate = params_.speed_mps / r;
  double s = std::fmod(t_s, period_);
  if (s < 0.0) {
    s += period_;
  }
  Pose2D pose;
  if (s < straight_s_) {  // east along y = -r
    pose.x = params_.speed_mps * s;
    pose.y = -r;
    pose.yaw = 0.0;
    return pose;
  }
  s -= straight_s_;
  if (s < turn_s_) {  // left U-turn around (length, 0)
    const double phi = rate * s;
    pose.x = length + r * std::sin(phi);
    pose.y = -r * std::cos(phi);
    pose.yaw = wrapAngle(phi);
    return pose;
  }
  s -= turn_s_;
  if (s < straight_s_) {  // west along y = +r
    pose.x = length - params_.speed_mps * s;
    pose.y = r;
    pose.yaw = M_PI;
    return pose;
  }
  s -= straight_s_;
  const double phi = rate * s;  // left U-turn around (0, 0)
  pose.x = -r * std::sin(phi);
  pose.y = r * std::cos(phi);
  pose.yaw = wrapAngle(M_PI + phi);
  return pose;
}

BodyTwist RobotTrajectory::twistAt(double t_s) const
{
  double s = std::fmod(t_s, period_);
  if (s < 0.0) {
    s += period_;
  }
  const bool turning = (s >= straight_s_ && s < straight_s_ + turn_s_) ||
    s >= 2.0 * straight_s_ + turn_s_;
  BodyTwist twist;
  twist.linear_x = params_.speed_mps;
  twist.angular_z = turning ? params_.speed_mps / params_.turn_radius_m : 0.0;
  return twist;
}

Eigen::Isometry3d RobotTrajectory::toIsometry(const Pose2D & pose)
{
  Eigen::Isometry3d iso = Eigen::Isometry3d::Identity();
  iso.linear() = Eigen::AngleAxisd(pose.yaw, Eigen::Vector3d::UnitZ()).toRotationMatrix();
  iso.translation() = Eigen::Vector3d(pose.x, pose.y, 0.0);
  return iso;
}

}  // namespace nimbra_demo_scene
