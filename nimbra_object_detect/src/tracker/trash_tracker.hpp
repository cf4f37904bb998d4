// Process-wide tracker of the waste items seen on the floor by all trash-detecting cameras.
#pragma once

#include <geometry_msgs/msg/pose.hpp>
#include <nimbra_protocol/msg/detected_wastes.hpp>
#include <visualization_msgs/msg/marker_array.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tracker/camera_view_window.hpp"
#include "tracker/hungarian_algorithm.hpp"
#include "tracker/tracker_camera_info.hpp"
#include "tracker/trash_tracker_config.hpp"
#include "tracker/waste_observation.hpp"
#include "tracker/waste_track.hpp"

namespace orvix
{
namespace perception
{

/// Sends the confirmed wastes (the node wraps its "detected_wastes" publisher in it).
using DetectedWastesPublisher = std::function<void (const nimbra_protocol::msg::DetectedWastes &)>;
/// Sends the waste markers (the node wraps its "trash_marker" publisher in it).
using TrashMarkerPublisher = std::function<void (const visualization_msgs::msg::MarkerArray &)>;

/// Associates per-frame waste observations with tracks in "map", ages and removes them, and
/// publishes the confirmed ones with their handling codes. Thread-safe.
class TrashTracker
{
public:
  /**
   * @brief Loads the tracker file and keeps the two publishers (either may be empty).
   * @param solver assignment solver to use; a default one when null.
   * @throws TrackerConfigError naming file, key and expected form on any configuration problem.
   */
  TrashTracker(
    const std::string & config_path, DetectedWastesPublisher detected_wastes_pub,
    TrashMarkerPublisher trash_marker_pub, std::shared_ptr<HungarianAlgorithm> solver = nullptr);

  /// @brief As above from an already loaded configuration.
  /// @throws TrackerConfigError when `config.Check()` reports a problem.
  TrashTracker(
    const TrashTrackerConfig & config, DetectedWastesPublisher detected_wastes_pub,
    TrashMarkerPublisher trash_marker_pub, std::shared_ptr<HungarianAlgorithm> solver = nullptr);

  /**
   * @brief Registers a camera whose view window ages unmatched tracks.
   * @param error receives the reason when the camera is rejected (may be null).
   * @return false, registering nothing, when the geometry or intrinsics are unusable.
   */
  bool AddCamera(const TrackerCameraInfo & camera, std::string * error = nullptr);

  /**
   * @brief Merges one frame's observations into the tracks: ages tracks in some camera's view,
   * assigns observations to tracks within `dist_thres` at minimum total distance, smooths matched
   * tracks, starts tracks for new items and removes stale, distant and run-over tracks.
   * Observations with a non-finite position are dropped; a non-finite robot pose skips the update.
   * @param robot_pose pose of "base_footprint" in "map".
   */
  void Update(
    const std::vector<WasteObservation> & observations, const geometry_msgs::msg::Pose & robot_pose);

  /// @brief Votes the class of every track with enough hits and publishes them: markers on
  /// "trash_marker", then the list on "detected_wastes"; both also when empty.
  void Publish();

  /// @brief Copy of the current tracks, in creation order.
  std::vector<WasteTrack> tracks() const;

  /// @brief Copy of the registered cameras, in registration order.
  std::vector<TrackerCameraInfo> cameras() const;

  /// @brief The configuration in use.
  const TrashTrackerConfig & config() const {return config_;}

private:
  void CountMissed(const Eigen::Isometry3d & map_from_base);
  std::vector<int32_t> Associate(const std::vector<WasteObservation> & observations);
  void MergeObservation(WasteTrack & track, const WasteObservation & observation) const;
  void AddTrackIfNew(const WasteObservation & observation);
  void RemoveTracks(const Eigen::Isometry3d & map_from_base);
  bool IsNearAnyTrack(double x, double y) const;

  const TrashTrackerConfig config_;                  ///< parameters, fixed after construction
  std::shared_ptr<HungarianAlgorithm> hungarian_;    ///< assignment solver, reused every update
  DetectedWastesPublisher detected_wastes_pub_;      ///< "detected_wastes" output
  TrashMarkerPublisher trash_marker_pub_;            ///< "trash_marker" output
  mutable std::mutex tracker_mutex_;                 ///< guards everything below
  std::vector<WasteTrack> tracks_;                   ///< in creation order minus removals
  std::vector<TrackerCameraInfo> cameras_;           ///< registered cameras
  std::vector<CameraViewWindow> view_windows_;       ///< one per entry of cameras_
  int32_t next_track_id_ = 0;                        ///< id of the next new track
  std::vector<std::vector<double>> cost_;            ///< cost matrix storage reused between updates
};

}  // namespace perception
}  // namespace orvix
