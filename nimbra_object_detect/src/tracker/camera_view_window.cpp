#include "tracker/camera_view_window.hpp"

#include <cmath>

namespace orvix
{
namespace perception
{

CameraViewWindow::CameraViewWindow(const TrackerCameraInfo & camera, float sensor_range_rate)
: camera_(camera)
{
  const Eigen::Quaterniond rotation(camera.qw, camera.qx, camera.qy, camera.qz);
  base_from_camera_ = Eigen::Translation3d(camera.tx, camera.ty, camera.tz) *
    rotation.normalized();
  camera_from_map_ = base_from_camera_.inverse();

  const float margin = (1.0F - sensor_range_rate) / 2.0F;
  const auto width = static_cast<float>(camera.width);
  const auto height = static_cast<float>(camera.height);
  u_min_ = margin * width;
  u_end_ = width - margin * width;
  v_min_ = margin * height;
  v_end_ = height - margin * height;
}

void CameraViewWindow::SetRobotPose(const Eigen::Isometry3d & map_from_base)
{
  camera_from_map_ = (map_from_base * base_from_camera_).inverse();
}

bool CameraViewWindow::Contains(const Eigen::Vector3d & p_map) const
{
  const Eigen::Vector3d p = camera_from_map_ * p_map;
  // A point behind the camera projects to a mirrored pixel; it is never in view.
  if (!(p.z() > 0.0)) {
    return false;
  }
  const double u = camera_.fx * p.x() / p.z() + camera_.cx;
  const double v = camera_.fy * p.y() / p.z() + camera_.cy;
  return u_min_ <= u && u < u_end_ && v_min_ <= v && v < v_end_;
}

std::string CameraViewWindow::CheckCameraInfo(const TrackerCameraInfo & camera)
{
  if (camera.width <= 0 || camera.height <= 0) {
    return "image size must be positive";
  }
  if (!std::isfinite(camera.fx) || !std::isfinite(camera.fy) || camera.fx <= 0.0F ||
    camera.fy <= 0.0F)
  {
    return "focal lengths must be positive";
  }
  if (!std::isfinite(camera.cx) || !std::isfinite(camera.cy)) {
    return "principal point must be finite";
  }
  if (!std::isfinite(camera.tx) || !std::isfinite(camera.ty) || !std::isfinite(camera.tz)) {
    return "translation must be finite";
  }
  const double norm = std::sqrt(
    camera.qx * camera.qx + camera.qy * camera.qy + camera.qz * camera.qz + camera.qw * camera.qw);
  if (!std::isfinite(norm) || norm < 1e-6) {
    return "rotation quaternion must be finite and non-zero";
  }
  return {};
}

}  // namespace perception
}  // namespace orvix
