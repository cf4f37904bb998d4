#include "moving_object_tracker.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvix
{
namespace perception
{
namespace detail
{

void MovingObjectTracker::configure(const DynamicDetectorParams & params)
{
  params_ = params;
  grid_.configure(params.object_grid_step, 1);
  clear();
}

void MovingObjectTracker::clear()
{
  tracks_.clear();
  frame_ = 0;
}

bool MovingObjectTracker::followsPath(Track & t) const
{
  // Path of the object's centre over consecutive frames, fully inside the image.
  const Eigen::Vector2d centre = t.sum / static_cast<double>(t.points);
  if (t.last_seen != frame_ - 1 || t.at_edge) {
    t.path_len = 0;
  }
  t.path_head = (t.path_head + 1) % kPath;
  t.path_x[t.path_head] = centre.x();
  t.path_y[t.path_head] = centre.y();
  t.path_points[t.path_head] = t.points;
  t.path_len = std::min(t.path_len + 1, kPath);
  const int frames = params_.motion_frames;
  if (frames <= 0 || t.path_len <= frames) {
    return false;
  }
  double length = 0.0;
  int fewest = t.points;
  int most = t.points;
  for (int k = 0; k < frames; ++k) {
    const int a = (t.path_head - k + kPath) % kPath;
    const int b = (a - 1 + kPath) % kPath;
    length += std::hypot(t.path_x[a] - t.path_x[b], t.path_y[a] - t.path_y[b]);
    fewest = std::min(fewest, t.path_points[b]);
    most = std::max(most, t.path_points[b]);
  }
  const int first = (t.path_head - frames + kPath) % kPath;
  const double travel = std::hypot(centre.x() - t.path_x[first], centre.y() - t.path_y[first]);
  // A steady, straight displacement of an object whose size did not change (no merge, split or reveal).
  return travel >= params_.motion_min_distance && travel >= kMinStraightness * length &&
         static_cast<double>(fewest) >= kMinSizeRatio * static_cast<double>(most);
}

bool MovingObjectTracker::isMoving(const Track & t, int frame) const
{
  return t.evidence_frames >= params_.confirm_frames && frame - t.last_evidence <= params_.track_memory;
}

void MovingObjectTracker::label(
  const float * xs, const float * ys, const std::uint8_t * seen_through, const std::uint8_t * held,
  const std::uint8_t * at_edge, std::size_t count, const float * vacated, std::size_t vacated_count, const Eigen::Isometry3d & odom_from_base,
  std::vector<std::uint8_t> & moving)
{
  ++frame_;
  moving.assign(count, 0U);
  const int objects = grid_.label(xs, ys, count, component_);
  objects_.assign(static_cast<std::size_t>(objects), Object());
  for (std::size_t i = 0; i < count; ++i) {
    Object & o = objects_[static_cast<std::size_t>(component_[i])];
    if (o.points == 0) {
      o.min_x = o.max_x = xs[i];
      o.min_y = o.max_y = ys[i];
    }
    ++o.points;
    o.seen_through += seen_through[i];
    o.held += held[i];
    o.at_edge = o.at_edge || at_edge[i] != 0U;
    o.min_x = std::min(o.min_x, xs[i]);
    o.max_x = std::max(o.max_x, xs[i]);
    o.min_y = std::min(o.min_y, ys[i]);
    o.max_y = std::max(o.max_y, ys[i]);
    o.sum_x += xs[i];
    o.sum_y += ys[i];
  }

  const Eigen::Matrix2d rotation = odom_from_base.linear().topLeftCorner<2, 2>();
  const Eigen::Vector2d offset = odom_from_base.translation().head<2>();
  const double gate = params_.track_gate;
  for (Track & t : tracks_) {
    t.sum.setZero();
    t.points = 0;
    t.evidence_now = false;
    t.at_edge = false;
  }
  // Small objects: see-through evidence and the moving object each one continues (nearest predicted place).
  for (Object & o : objects_) {
    o.large = std::max(o.max_x - o.min_x, o.max_y - o.min_y) > params_.object_max_extent;
    if (o.large) {
      continue;
    }
    o.centre = rotation * Eigen::Vector2d(o.sum_x / o.points, o.sum_y / o.points) + offset;
    o.seen_evidence = o.seen_through >= params_.object_min_seeds &&
      static_cast<float>(o.seen_through) >= params_.object_min_seed_share * static_cast<float>(o.points);
    // A moving object within the gate takes precedence: when it touches a still one, the merged group
    // continues the moving object (its footprint then keeps the still part still).
    double best = gate;
    bool best_moving = false;
    for (std::size_t k = 0; k < tracks_.size(); ++k) {
      const Track & t = tracks_[k];
      const Eigen::Vector2d predicted = t.centre + static_cast<double>(frame_ - t.last_seen) * t.velocity;
      const double d = (predicted - o.centre).norm();
      const bool t_moving = isMoving(t, frame_ - 1);
      if (d < gate && ((t_moving && !best_moving) || (t_moving == best_moving && d < best))) {
        best = d;
        best_moving = t_moving;
        o.track = static_cast<int>(k);
      }
    }
  }
  // A place an object left counts for the nearest small object, unless an object known to move is near
  // enough to have left it (a mover uncovering the wall behind it).
  for (std::size_t k = 0; k < vacated_count; ++k) {
    const float vx = vacated[2 * k];
    const float vy = vacated[2 * k + 1];
    float best = params_.track_gate;
    float best_mover = 2.0F * params_.track_gate;
    Object * nearest = nullptr;
    bool explained = false;
    for (Object & o : objects_) {
      if (o.large) {
        continue;
      }
      const float dx = std::max({0.0F, o.min_x - vx, vx - o.max_x});
      const float dy = std::max({0.0F, o.min_y - vy, vy - o.max_y});
      const float d = std::sqrt(dx * dx + dy * dy);
      if (d < best_mover && (o.seen_evidence || (o.track >= 0 && isMoving(tracks_[static_cast<std::size_t>(o.track)], frame_ - 1)))) {
        explained = true;
        break;
      }
      if (d < best) {
        best = d;
        nearest = &o;
      }
    }
    if (nearest != nullptr && !explained) {
      ++nearest->vacated;
    }
  }
  for (Object & o : objects_) {
    if (o.large) {
      continue;
    }
    const bool evidence = o.seen_evidence || (o.vacated >= params_.object_min_seeds &&
      static_cast<float>(o.held) <= params_.object_max_held_share * static_cast<float>(o.points));
    if (o.track < 0 && tracks_.size() < kMaxTracks) {
      // Every small object is followed, so that one moving without see-through evidence shows by its path.
      Track t;
      t.centre = o.centre;
      t.last_seen = frame_;
      tracks_.push_back(t);
      o.track = static_cast<int>(tracks_.size()) - 1;
    }
    if (o.track >= 0) {
      Track & t = tracks_[static_cast<std::size_t>(o.track)];
      t.sum += static_cast<double>(o.points) * o.centre;
      t.points += o.points;
      t.evidence_now = t.evidence_now || evidence;
      t.at_edge = t.at_edge || o.at_edge;
    }
  }
  for (Track & t : tracks_) {
    if (t.points > 0 && !t.evidence_now && followsPath(t)) {
      t.evidence_now = true;
    }
  }

  for (Track & t : tracks_) {
    if (t.evidence_now) {
      ++t.evidence_frames;
      t.last_evidence = frame_;
    } else if (t.points > 0 && t.evidence_frames >= params_.confirm_frames &&
      t.velocity.norm() >= params_.track_min_step)
    {
      t.last_evidence = frame_;  // a confirmed object followed while it keeps moving (e.g. hidden in part)
    }
    t.flagged = 0;
    t.flagged_sum.setZero();
    t.next_min = Eigen::Vector2d::Constant(std::numeric_limits<double>::infinity());
    t.next_max = -t.next_min;
  }
  for (Object & o : objects_) {
    o.moving = o.track >= 0 && isMoving(tracks_[static_cast<std::size_t>(o.track)], frame_);
  }
  // A moving object's points move inside its footprint carried by its velocity, where they were seen
  // through, or close to the footprint where the oldest frame did not see them in place: a still object
  // it touches stays still.
  const double growth = params_.track_growth;
  for (std::size_t i = 0; i < count; ++i) {
    const Object & o = objects_[static_cast<std::size_t>(component_[i])];
    if (o.large) {
      moving[i] = seen_through[i] != 0U ? 1U : 0U;
      continue;
    }
    if (!o.moving) {
      continue;
    }
    Track & t = tracks_[static_cast<std::size_t>(o.track)];
    const Eigen::Vector2d p = rotation * Eigen::Vector2d(xs[i], ys[i]) + offset;
    if (t.has_footprint && seen_through[i] == 0U) {
      const Eigen::Vector2d back = p - static_cast<double>(frame_ - t.last_seen) * t.velocity;
      const double margin = held[i] != 0U ? 0.0 : growth;
      if (back.x() < t.box_min.x() - margin || back.y() < t.box_min.y() - margin ||
        back.x() > t.box_max.x() + margin || back.y() > t.box_max.y() + margin)
      {
        continue;
      }
    }
    moving[i] = 1U;
    ++t.flagged;
    t.flagged_sum += p;
    t.next_min = t.next_min.cwiseMin(p);
    t.next_max = t.next_max.cwiseMax(p);
  }
  // Motion of each track from the points it labelled (from its whole objects before it moves).
  for (Track & t : tracks_) {
    if (t.points == 0) {
      continue;
    }
    const Eigen::Vector2d centre = t.flagged > 0 ? Eigen::Vector2d(t.flagged_sum / static_cast<double>(t.flagged)) :
      Eigen::Vector2d(t.sum / static_cast<double>(t.points));
    if (t.last_seen != frame_) {  // a track born this frame has no motion yet
      const Eigen::Vector2d step = (centre - t.centre) / static_cast<double>(std::max(1, frame_ - t.last_seen));
      t.velocity = 0.5 * t.velocity + 0.5 * step;
    }
    t.centre = centre;
    t.last_seen = frame_;
    if (t.flagged > 0) {
      t.box_min = t.next_min;
      t.box_max = t.next_max;
      t.has_footprint = true;
    }
  }
  // Followed objects end when lost; moving ones when lost or without evidence for the memory.
  tracks_.erase(std::remove_if(tracks_.begin(), tracks_.end(), [this](const Track & t) {
      if (t.evidence_frames == 0 || frame_ - t.last_evidence > params_.track_memory) {
        return t.last_seen != frame_;
      }
      return frame_ - t.last_seen > params_.track_memory;
    }), tracks_.end());
}

}  // namespace detail
}  // namespace perception
}  // namespace orvix
