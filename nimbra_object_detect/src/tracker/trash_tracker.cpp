#include "tracker/trash_tracker.hpp"

#include <cmath>
#include <exception>
#include <limits>
#include <utility>

#include "common/logger.hpp"
#include "tracker/waste_handling.hpp"
#include "tracker/waste_messages.hpp"

namespace orvix
{
namespace perception
{

namespace
{

constexpr double kPreviousWeight = 0.8;  // smoothing weight of the track's own value
constexpr double kNewWeight = 0.2;       // smoothing weight of the matched observation

bool PoseToIsometry(const geometry_msgs::msg::Pose & pose, Eigen::Isometry3d & map_from_base)
{
  const Eigen::Vector3d position(pose.position.x, pose.position.y, pose.position.z);
  const Eigen::Quaterniond rotation(
    pose.orientation.w, pose.orientation.x, pose.orientation.y, pose.orientation.z);
  const double norm = rotation.norm();
  if (!position.allFinite() || !std::isfinite(norm) || norm < 1e-6) {
    return false;
  }
  map_from_base = Eigen::Translation3d(position) * rotation.normalized();
  return true;
}

// Keeps observations with a usable position; unusable size entries become "not estimated".
std::vector<WasteObservation> UsableObservations(const std::vector<WasteObservation> & input)
{
  std::vector<WasteObservation> usable;
  usable.reserve(input.size());
  for (const WasteObservation & observation : input) {
    if (!std::isfinite(observation.x) || !std::isfinite(observation.y) ||
      !std::isfinite(observation.z) || std::isnan(observation.distance))
    {
      LOG_WARN(
        "Drop waste observation of type {} with non-finite position ({}, {}, {}) or distance {}.",
        observation.type, observation.x, observation.y, observation.z, observation.distance);
      continue;
    }
    usable.push_back(observation);
    std::vector<float> & size = usable.back().size;
    size.resize(3, -1.0F);
    for (float & entry : size) {
      if (!std::isfinite(entry)) {
        entry = -1.0F;
      }
    }
  }
  return usable;
}

double PlanarDistance(double x0, double y0, double x1, double y1)
{
  return std::sqrt((x0 - x1) * (x0 - x1) + (y0 - y1) * (y0 - y1));
}

}  // namespace

TrashTracker::TrashTracker(
  const std::string & config_path, DetectedWastesPublisher detected_wastes_pub,
  TrashMarkerPublisher trash_marker_pub, std::shared_ptr<HungarianAlgorithm> solver)
: TrashTracker(
    LoadTrashTrackerConfig(config_path), std::move(detected_wastes_pub),
    std::move(trash_marker_pub), std::move(solver))
{
}

TrashTracker::TrashTracker(
  const TrashTrackerConfig & config, DetectedWastesPublisher detected_wastes_pub,
  TrashMarkerPublisher trash_marker_pub, std::shared_ptr<HungarianAlgorithm> solver)
: config_(config),
  hungarian_(solver ? std::move(solver) : std::make_shared<HungarianAlgorithm>()),
  detected_wastes_pub_(std::move(detected_wastes_pub)),
  trash_marker_pub_(std::move(trash_marker_pub))
{
  const std::string problem = config_.Check();
  if (!problem.empty()) {
    throw TrackerConfigError("tracker configuration: " + problem);
  }
}

bool TrashTracker::AddCamera(const TrackerCameraInfo & camera, std::string * error)
{
  const std::string problem = CameraViewWindow::CheckCameraInfo(camera);
  if (!problem.empty()) {
    if (error != nullptr) {
      *error = problem;
    }
    return false;
  }
  std::lock_guard<std::mutex> lock(tracker_mutex_);
  cameras_.push_back(camera);
  view_windows_.emplace_back(camera, config_.sensor_range_rate);
  return true;
}

void TrashTracker::Update(
  const std::vector<WasteObservation> & observations, const geometry_msgs::msg::Pose & robot_pose)
{
  Eigen::Isometry3d map_from_base;
  if (!PoseToIsometry(robot_pose, map_from_base)) {
    LOG_WARN("Skip tracker update: robot pose is not finite or its quaternion is zero.");
    return;
  }
  const std::vector<WasteObservation> usable = UsableObservations(observations);

  std::lock_guard<std::mutex> lock(tracker_mutex_);
  if (tracks_.empty()) {
    for (const WasteObservation & observation : usable) {
      AddTrackIfNew(observation);
    }
    return;
  }

  CountMissed(map_from_base);
  const std::vector<int32_t> assignment = Associate(usable);
  std::vector<char> matched(usable.size(), 0);
  for (std::size_t row = 0; row < assignment.size(); ++row) {
    if (assignment[row] >= 0) {
      const auto col = static_cast<std::size_t>(assignment[row]);
      MergeObservation(tracks_[row], usable[col]);
      matched[col] = 1;
    }
  }
  for (std::size_t col = 0; col < usable.size(); ++col) {
    if (!matched[col]) {
      AddTrackIfNew(usable[col]);
    }
  }
  RemoveTracks(map_from_base);
}

void TrashTracker::CountMissed(const Eigen::Isometry3d & map_from_base)
{
  for (CameraViewWindow & window : view_windows_) {
    window.SetRobotPose(map_from_base);
  }
  for (WasteTrack & track : tracks_) {
    const Eigen::Vector3d position(track.x, track.y, track.z);
    for (const CameraViewWindow & window : view_windows_) {
      if (window.Contains(position)) {
        if (track.missed < std::numeric_limits<int32_t>::max()) {
          ++track.missed;
        }
        break;
      }
    }
  }
}

std::vector<int32_t> TrashTracker::Associate(const std::vector<WasteObservation> & observations)
{
  const std::size_t rows = tracks_.size();
  const std::size_t cols = observations.size();
  std::vector<int32_t> assignment(rows, -1);
  if (rows == 0 || cols == 0) {
    return assignment;
  }
  cost_.resize(rows);
  for (std::size_t row = 0; row < rows; ++row) {
    cost_[row].resize(cols);
    for (std::size_t col = 0; col < cols; ++col) {
      cost_[row][col] = PlanarDistance(
        tracks_[row].x, tracks_[row].y, observations[col].x, observations[col].y);
    }
  }
  try {
    hungarian_->Solve(cost_, assignment);
  } catch (const std::exception & e) {
    LOG_ERROR(
      "Assignment of {} tracks to {} observations failed: {}; all unmatched in this frame.",
      rows, cols, e.what());
    return std::vector<int32_t>(rows, -1);
  }
  const auto gate = static_cast<double>(config_.dist_thres);
  for (std::size_t row = 0; row < rows; ++row) {
    if (assignment[row] >= 0 && cost_[row][static_cast<std::size_t>(assignment[row])] > gate) {
      assignment[row] = -1;
    }
  }
  return assignment;
}

void TrashTracker::MergeObservation(WasteTrack & track, const WasteObservation & observation) const
{
  if (track.distance > observation.distance) {
    track.distance = observation.distance;
  }
  track.x = kPreviousWeight * track.x + kNewWeight * observation.x;
  track.y = kPreviousWeight * track.y + kNewWeight * observation.y;
  if (track.type_history.size() >= kTypeHistoryLength) {
    track.type_history.pop_front();
  }
  track.type_history.push_back(observation.type);
  if (track.hits < std::numeric_limits<int32_t>::max()) {
    ++track.hits;
  }
  track.missed = 0;
  // A negative entry means "not estimated": it neither pulls a known size towards -1 nor is
  // blended itself; the first estimate replaces it.
  track.size.resize(3, -1.0F);
  for (std::size_t k = 0; k < 3; ++k) {
    const float measured = observation.size[k];
    if (measured < 0.0F) {
      continue;
    }
    const float current = track.size[k];
    track.size[k] = current < 0.0F ? measured :
      static_cast<float>(kPreviousWeight * current + kNewWeight * measured);
  }
}

bool TrashTracker::IsNearAnyTrack(double x, double y) const
{
  const auto radius = static_cast<double>(config_.dist_thres);
  for (const WasteTrack & track : tracks_) {
    if (PlanarDistance(track.x, track.y, x, y) < radius) {
      return true;
    }
  }
  return false;
}

void TrashTracker::AddTrackIfNew(const WasteObservation & observation)
{
  if (IsNearAnyTrack(observation.x, observation.y)) {
    return;
  }
  WasteTrack track;
  track.id = next_track_id_;
  // Ids run to INT32_MAX before they would repeat; at 100 new items per second that is 8 months.
  next_track_id_ = next_track_id_ < std::numeric_limits<int32_t>::max() ? next_track_id_ + 1 : 0;
  track.hits = 1;
  track.missed = 0;
  track.x = observation.x;
  track.y = observation.y;
  track.z = observation.z;
  track.distance = observation.distance;
  track.type = observation.type;
  track.size = observation.size;
  tracks_.push_back(std::move(track));
}

void TrashTracker::RemoveTracks(const Eigen::Isometry3d & map_from_base)
{
  const Eigen::Isometry3d base_from_map = map_from_base.inverse();
  const Eigen::Vector3d robot = map_from_base.translation();
  const auto & box = config_.footprint_box;
  const auto radius = static_cast<double>(config_.cache_radius);

  auto kept = tracks_.begin();
  for (auto it = tracks_.begin(); it != tracks_.end(); ++it) {
    bool remove = true;
    if (it->missed > config_.max_retain_time) {
      LOG_INFO("Remove object at ({}, {}) with max retain time.", it->x, it->y);
    } else if (PlanarDistance(it->x, it->y, robot.x(), robot.y()) >= radius) {
      LOG_INFO("Remove object at ({}, {}) out of cache range.", it->x, it->y);
    } else {
      const Eigen::Vector3d p = base_from_map * Eigen::Vector3d(it->x, it->y, it->z);
      remove = box[0] <= p.x() && p.x() <= box[2] && box[1] <= p.y() && p.y() <= box[3];
      if (remove) {
        LOG_INFO("Remove object at ({}, {}) in footprint range.", it->x, it->y);
      }
    }
    if (!remove) {
      if (kept != it) {
        *kept = std::move(*it);
      }
      ++kept;
    }
  }
  tracks_.erase(kept, tracks_.end());
}

void TrashTracker::Publish()
{
  std::vector<ConfirmedWaste> wastes;
  std::vector<std::vector<float>> sizes;
  {
    std::lock_guard<std::mutex> lock(tracker_mutex_);
    for (WasteTrack & track : tracks_) {
      if (track.hits < config_.min_age_threshold) {
        continue;
      }
      track.type = VoteType(track.type_history, track.type);
      ConfirmedWaste waste;
      waste.id = track.id;
      waste.x = track.x;
      waste.y = track.y;
      waste.z = track.z;
      waste.distance = track.distance;
      waste.type = track.type;
      wastes.push_back(waste);
      sizes.push_back(track.size);
    }
  }
  for (std::size_t i = 0; i < wastes.size(); ++i) {
    wastes[i].handle_code = ChooseHandleCode(wastes[i].type, sizes[i], config_);
  }

  const visualization_msgs::msg::MarkerArray markers = BuildWasteMarkers(wastes, SystemClockNow());
  const nimbra_protocol::msg::DetectedWastes detected = BuildDetectedWastes(wastes);
  try {
    if (trash_marker_pub_) {
      trash_marker_pub_(markers);
    }
    if (detected_wastes_pub_) {
      detected_wastes_pub_(detected);
    }
  } catch (const std::exception & e) {
    LOG_ERROR("Publishing {} detected wastes failed: {}", wastes.size(), e.what());
  }
}

std::vector<WasteTrack> TrashTracker::tracks() const
{
  std::lock_guard<std::mutex> lock(tracker_mutex_);
  return tracks_;
}

std::vector<TrackerCameraInfo> TrashTracker::cameras() const
{
  std::lock_guard<std::mutex> lock(tracker_mutex_);
  return cameras_;
}

}  // namespace perception
}  // namespace orvix
