#include "common/camera_frame.hpp"

#include <cmath>
#include <limits>

namespace nimbra
{

CameraFrame::CameraFrame(float origin_x, float origin_y, float origin_z)
{
  state_.origin_x = origin_x;
  state_.origin_y = origin_y;
  state_.origin_z = origin_z;
}

bool CameraFrame::update(const pcl::PointCloud<pcl::PointXYZ> & base_cloud)
{
  if (base_cloud.points.empty()) {
    return false;
  }
  std::array<std::array<float, 3>, 4> extremes;
  float origin_x = 0.0F;
  float origin_y = 0.0F;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.ready = false;
    extremes = state_.extremes;
    origin_x = state_.origin_x;
    origin_y = state_.origin_y;
  }

  const pcl::PointXYZ & first = base_cloud.points.front();
  const float rx = first.x - origin_x;
  const float ry = first.y - origin_y;
  const float first_angle = std::atan2(ry, rx);
  float min_angle = first_angle;
  float max_angle = first_angle;
  float min_distance = std::numeric_limits<float>::infinity();
  float max_distance = 0.0F;
  bool first_point = true;
  for (const pcl::PointXYZ & p : base_cloud.points) {
    const float dx = p.x - origin_x;
    const float dy = p.y - origin_y;
    // Signed turn from the first point's bearing: angles stay continuous across +-pi.
    const float angle = first_angle + std::atan2(rx * dy - ry * dx, rx * dx + ry * dy);
    if (angle < min_angle) {
      extremes[0] = {p.x, p.y, p.z};
      min_angle = angle;
    } else if (angle > max_angle) {
      extremes[1] = {p.x, p.y, p.z};
      max_angle = angle;
    }
    const float distance = std::sqrt(p.x * p.x + p.y * p.y);
    if (distance < min_distance) {
      extremes[2] = {p.x, p.y, p.z};
      min_distance = distance;
    }
    // The first point is both the nearest and the farthest seen so far.
    if (first_point || distance > max_distance) {
      extremes[3] = {p.x, p.y, p.z};
      max_distance = distance;
    }
    first_point = false;
  }

  std::lock_guard<std::mutex> lock(mutex_);
  state_.extremes = extremes;
  state_.ready = true;
  return true;
}

CameraFrameState CameraFrame::state() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

}  // namespace nimbra
