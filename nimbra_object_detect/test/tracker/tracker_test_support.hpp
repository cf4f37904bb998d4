// Shared fixtures of the tracker tests: a configuration, observations, poses, cameras and a tracker
// whose publications are recorded.
#pragma once

#include <geometry_msgs/msg/pose.hpp>
#include <nimbra_protocol/msg/detected_wastes.hpp>
#include <visualization_msgs/msg/marker_array.hpp>

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/semantic_type.hpp"
#include "tracker/trash_tracker.hpp"

namespace orvix::perception::test
{

/// Image size and intrinsics of the test cameras: 640 x 480, f = 400 px, centred.
inline constexpr int kImageWidth = 640;
inline constexpr int kImageHeight = 480;
inline constexpr float kFocal = 400.0F;
/// Height of the test cameras above the floor [m].
inline constexpr double kCameraHeight = 0.5;

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
  config.class_num = 10;
  return config;
}

inline WasteObservation Observation(
  double x, double y, int32_t type = semantic::PAPER, std::vector<float> size = {-1.F, -1.F, -1.F},
  float distance = 1.0F)
{
  WasteObservation observation;
  observation.x = x;
  observation.y = y;
  observation.type = type;
  observation.size = std::move(size);
  observation.distance = distance;
  return observation;
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

/// Camera at (`x`, 0, kCameraHeight) in the base frame looking horizontally along +x (forward)
/// or -x (backward), optical axes (x right, y down, z ahead).
inline TrackerCameraInfo HorizontalCamera(double x, bool forward)
{
  TrackerCameraInfo camera;
  camera.tx = x;
  camera.tz = kCameraHeight;
  // Optical z to base +x (or -x), optical x to base -y (or +y), optical y to base -z.
  camera.qw = 0.5;
  camera.qx = -0.5;
  camera.qy = forward ? 0.5 : -0.5;
  camera.qz = -camera.qy;
  camera.width = kImageWidth;
  camera.height = kImageHeight;
  camera.fx = kFocal;
  camera.fy = kFocal;
  camera.cx = kImageWidth / 2.0F;
  camera.cy = kImageHeight / 2.0F;
  return camera;
}

/// What a tracker publishes, in order.
struct PublishedLog
{
  std::vector<std::string> order;  ///< "trash_marker" / "detected_wastes", one per publication
  std::vector<nimbra_protocol::msg::DetectedWastes> wastes;
  std::vector<visualization_msgs::msg::MarkerArray> markers;
};

/// A tracker built from `config` whose publishers append to `log`.
inline std::unique_ptr<TrashTracker> MakeTracker(
  const TrashTrackerConfig & config, std::shared_ptr<PublishedLog> log,
  std::shared_ptr<HungarianAlgorithm> solver = nullptr)
{
  auto on_wastes = [log](const nimbra_protocol::msg::DetectedWastes & message) {
      log->order.push_back("detected_wastes");
      log->wastes.push_back(message);
    };
  auto on_markers = [log](const visualization_msgs::msg::MarkerArray & message) {
      log->order.push_back("trash_marker");
      log->markers.push_back(message);
    };
  return std::make_unique<TrashTracker>(config, on_wastes, on_markers, std::move(solver));
}

}  // namespace orvix::perception::test
