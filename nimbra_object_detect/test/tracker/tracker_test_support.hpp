// Shared fixtures of the tracker tests: a configuration, observations, poses and cameras.
#pragma once

#include <geometry_msgs/msg/pose.hpp>

#include <cmath>
#include <utility>
#include <vector>

#include "common/semantic_type.hpp"
#include "tracker/trash_tracker.hpp"

namespace orvix::perception::test
{

/// dist_thres 0.25, min age 3, max retain 2, cache 5 m, window 0.8, footprint 1 x 0.5 m,
/// base PAPER, arm BOTTLE, uncertain MASK and SWAB, base limits 0.05 m high and 0.15 m long.
inline TrashTrackerConfig TestConfig()
{
  TrashTrackerConfig config;
  config.dist_thres = 0.25F;
  config.min_age_threshold = 3;
  config.max_retain_time = 2;
  config.cache_radius = 5.0F;
  config.sensor_range_rate = 0.8F;
  config.footprint_box = {{-0.5F, -0.25F, 0.5F, 0.25F}};
  config.base_handle_waste_height_metric = 0.05F;
  config.base_handle_waste_length_metric = 0.15F;
  config.base_handle_class = {semantic::PAPER};
  config.arm_handle_class = {semantic::BOTTLE};
  config.uncertain_class = {semantic::MASK, semantic::SWAB};
  return config;
}

inline WasteObservation Observation(
  double x, double y, int32_t type = semantic::PAPER, std::vector<float> size = {-1.F, -1.F, -1.F},
  float distance = 1.0F)
{
  return {x, y, 0.0, distance, type, std::move(size)};
}

/// Pose of "base_footprint" in "map" at (x, y) with heading `yaw` [rad].
inline geometry_msgs::msg::Pose RobotPose(double x, double y, double yaw = 0.0)
{
  geometry_msgs::msg::Pose pose;
  pose.position.x = x;
  pose.position.y = y;
  pose.orientation.z = std::sin(yaw / 2.0);
  pose.orientation.w = std::cos(yaw / 2.0);
  return pose;
}

/// Camera 0.5 m above (`x`, 0) in the base frame looking horizontally along +x (forward) or -x
/// (backward), optical axes (x right, y down, z ahead); 640 x 480 px, f = 400 px, centred.
inline TrackerCameraInfo HorizontalCamera(double x, bool forward)
{
  // Optical z to base +x (or -x), optical x to base -y (or +y), optical y to base -z.
  const double qy = forward ? 0.5 : -0.5;
  return {x, 0.0, 0.5,  // tx, ty, tz
    -0.5, qy, -qy, 0.5,  // qx, qy, qz, qw
    640, 480, 400.0F, 320.0F, 400.0F, 240.0F};  // width, height, fx, cx, fy, cy
}

}  // namespace orvix::perception::test
