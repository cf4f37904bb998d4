// Object-level decision of the dynamic detector: groups obstacle points into objects on an x-y grid
// and keeps short tracks of objects with see-through evidence (no point-cloud types).
#pragma once

#include <cstdint>
#include <vector>

#include <Eigen/Geometry>

#include "grid_components.hpp"
#include "nimbra_perception_libs/dynamic_detector_params.hpp"

namespace orvix
{
namespace perception
{
namespace detail
{

/// Turns per-point evidence into moving objects: an object (connected x-y cells) with evidence in
/// `confirm_frames` frames (points seen through, a vacated place next to it, or a steady straight path)
/// moves as a whole within its footprint, and stays moving for `track_memory` frames after its last
/// evidence while it can be followed.
class MovingObjectTracker
{
public:
  void configure(const DynamicDetectorParams & params);

  /// Forgets every track.
  void clear();

  /// Labels `count` points given by their base-frame x and y (finite), their see-through flag and their
  /// held flag (the oldest frame saw a surface there). `vacated` holds `vacated_count` x-y pairs (base
  /// frame) of earlier points the current frame sees through; each counts for the nearest object within
  /// track_gate that was not held in place. Objects wider than object_max_extent keep the per-point
  /// flags. Objects with a point `at_edge` (left or right image edge) are not judged by their path. `moving` receives 0
  /// or 1 per point.
  void label(
    const float * xs, const float * ys, const std::uint8_t * seen_through, const std::uint8_t * held,
    const std::uint8_t * at_edge, std::size_t count, const float * vacated, std::size_t vacated_count, const Eigen::Isometry3d & odom_from_base,
    std::vector<std::uint8_t> & moving);

  /// Tracks alive after the last label().
  std::size_t trackCount() const {return tracks_.size();}

private:
  static constexpr int kPath = 16;              ///< longest followed path, frames
  static constexpr std::size_t kMaxTracks = 256;
  static constexpr double kMinStraightness = 0.7;  ///< path evidence: displacement / path length
  static constexpr double kMinSizeRatio = 0.6;     ///< path evidence: fewest / most points along the path

  struct Track
  {
    Eigen::Vector2d centre = Eigen::Vector2d::Zero();    ///< odometry frame, m
    Eigen::Vector2d velocity = Eigen::Vector2d::Zero();  ///< m per frame
    int evidence_frames = 0;  ///< frames in which the object was seen through
    int last_evidence = 0;    ///< frame number of the last evidence
    int last_seen = 0;        ///< frame number of the last match
    Eigen::Vector2d box_min = Eigen::Vector2d::Zero();  ///< footprint of its moving points, odometry frame, m
    Eigen::Vector2d box_max = Eigen::Vector2d::Zero();
    bool has_footprint = false;
    double path_x[kPath] = {};    ///< centres of the last frames (ring), odometry frame, m
    double path_y[kPath] = {};
    int path_points[kPath] = {};  ///< point counts of the same frames
    int path_head = 0;
    int path_len = 0;             ///< consecutive frames in the ring
    bool at_edge = false;         ///< a matched object touches the image edge this frame
    // Accumulators of the current frame: matched objects, then labelled points.
    Eigen::Vector2d sum = Eigen::Vector2d::Zero();
    int points = 0;
    bool evidence_now = false;
    int flagged = 0;
    Eigen::Vector2d flagged_sum = Eigen::Vector2d::Zero();
    Eigen::Vector2d next_min = Eigen::Vector2d::Zero();
    Eigen::Vector2d next_max = Eigen::Vector2d::Zero();
  };

  struct Object
  {
    int points = 0;
    int seen_through = 0;
    int held = 0;
    int vacated = 0;  ///< earlier points near it that are empty now
    float min_x = 0.0F, max_x = 0.0F, min_y = 0.0F, max_y = 0.0F;
    double sum_x = 0.0, sum_y = 0.0;
    Eigen::Vector2d centre = Eigen::Vector2d::Zero();  ///< odometry frame, m
    int track = -1;
    bool seen_evidence = false;
    bool at_edge = false;
    bool large = false;
    bool moving = false;
  };

  /// Appends the track's current centre to its path; true when the path shows the object moving.
  bool followsPath(Track & t) const;

  /// Confirmed and supported within the memory at `frame`.
  bool isMoving(const Track & t, int frame) const;

  DynamicDetectorParams params_;
  GridComponents grid_;
  std::vector<int> component_;
  std::vector<Object> objects_;
  std::vector<Track> tracks_;
  int frame_ = 0;
};

}  // namespace detail
}  // namespace perception
}  // namespace orvix
