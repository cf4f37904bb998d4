// Shared fixtures of the tracker tests: a configuration, observations, poses and cameras.
#pragma once

#include <geometry_msgs/msg/pose.hpp>
#include <nimbra_protocol/msg/detected_wastes.hpp>
#include <visualization_msgs/msg/marker_array.hpp>

#include <memory>
#include <string>
#include <vector>

#include "tracker/trash_tracker.hpp"

namespace orvix
{
namespace perception
{
namespace test
{

/// Image size and intrinsics of the test cameras: 640 x 480, f = 400 px, centred.
inline constexpr int kImageWidth = 640;
inline constexpr int kImageHeight = 480;
inline constexpr float kFocal = 400.0F;
/// Height of the test cameras above the floor [m].
inline constexpr double kCameraHeight = 0.5;

/// dist_thres 0.25, min age 3, max retain 2, cache 5 m, window 0.8, footprint 1 x 0.5 m,
/// base PAPER, arm BOTTLE, uncertain MASK and SWAB, base limits 0.05 m high and 0.15 m long.
TrashTrackerConfig TestConfig();

WasteObservation Observation(
  double x, double y, int32_t type = 400, std::vector<float> size = {-1.F, -1.F, -1.F},
  float distance = 1.0F);

/// Pose of "base_footprint" in "map" at (x, y) with heading `yaw` [rad].
geometry_msgs::msg::Pose RobotPose(double x, double y, double yaw = 0.0);

/// Camera at (`x`, 0, kCameraHeight) in the base frame looking horizontally along +x (forward)
/// or -x (backward), optical axes (x right, y down, z ahead).
TrackerCameraInfo HorizontalCamera(double x, bool forward);

/// Records what a tracker publishes, in order.
struct PublishedLog
{
  std::vector<std::string> order;  ///< "trash_marker" / "detected_wastes", one per publication
  std::vector<nimbra_protocol::msg::DetectedWastes> wastes;
  std::vector<visualization_msgs::msg::MarkerArray> markers;
};

/// A tracker built from `config` whose publishers append to `log`.
std::unique_ptr<TrashTracker> MakeTracker(
  const TrashTrackerConfig & config, std::shared_ptr<PublishedLog> log,
  std::shared_ptr<HungarianAlgorithm> solver = nullptr);

}  // namespace test
}  // namespace perception
}  // namespace orvix
