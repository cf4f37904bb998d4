// Small helpers shared by the camera's stages: wall-clock stage durations and poses of transforms.
#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>

#include <chrono>
#include <cstdint>

#include <geometry_msgs/msg/pose.hpp>

namespace nimbra
{

/// Clock of the stage runtimes in the log.
using StageClock = std::chrono::steady_clock;

/// @brief Whole microseconds from `from` to `to` (nanoseconds / 1000, truncated).
inline int64_t microsecondsBetween(StageClock::time_point from, StageClock::time_point to)
{
  return std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count() / 1000;
}

/// @brief Pose of a rigid transform: position = translation, orientation = rotation quaternion.
inline geometry_msgs::msg::Pose poseOfTransform(const Eigen::Matrix4f & transform)
{
  geometry_msgs::msg::Pose pose;
  pose.position.x = transform(0, 3);
  pose.position.y = transform(1, 3);
  pose.position.z = transform(2, 3);
  const Eigen::Quaternionf rotation(transform.block<3, 3>(0, 0));
  pose.orientation.x = rotation.x();
  pose.orientation.y = rotation.y();
  pose.orientation.z = rotation.z();
  pose.orientation.w = rotation.w();
  return pose;
}

}  // namespace nimbra
