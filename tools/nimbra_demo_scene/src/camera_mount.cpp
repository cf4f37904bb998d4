#include "nimbra_demo_scene/camera_mount.hpp"

#include <cmath>
#include <stdexcept>

namespace nimbra_demo_scene
{

Eigen::Isometry3d CameraMount::baseToOptical() const
{
  // Body frame of the camera: x along the viewing direction, y left, z up; positive pitch
  // about y lowers the viewing direction.
  const Eigen::Matrix3d base_to_body =
    (Eigen::AngleAxisd(yaw_rad, Eigen::Vector3d::UnitZ()) *
    Eigen::AngleAxisd(pitch_down_rad, Eigen::Vector3d::UnitY())).toRotationMatrix();
  // Optical axes in the body frame: x right (-y), y down (-z), z forward (+x).
  Eigen::Matrix3d body_to_optical;
  body_to_optical << 0.0, 0.0, 1.0,
    -1.0, 0.0, 0.0,
    0.0, -1.0, 0.0;
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  pose.linear() = base_to_body * body_to_optical;
  pose.translation() = position;
  return pose;
}

std::string CameraMount::depthFrame() const
{
  return "camera_0" + std::to_string(number) + "_depth_optical_frame";
}

std::string CameraMount::colorFrame() const
{
  return "camera_0" + std::to_string(number) + "_color_optical_frame";
}

std::string CameraMount::topic(const std::string & suffix) const
{
  return "/camera_0" + std::to_string(number) + "/" + suffix;
}

CameraMount CameraMount::demoMount(int number)
{
  constexpr double kDegree = M_PI / 180.0;
  CameraMount mount;
  mount.number = number;
  if (number == 1) {
    mount.position = Eigen::Vector3d(0.25, 0.0, 0.6);
    mount.yaw_rad = 0.0;
    mount.pitch_down_rad = 30.0 * kDegree;
  } else if (number == 2) {
    mount.position = Eigen::Vector3d(0.22, 0.18, 0.35);
    mount.yaw_rad = 40.0 * kDegree;
    mount.pitch_down_rad = 15.0 * kDegree;
  } else {
    throw std::invalid_argument(
            "camera mount: the demo robot has cameras 1 and 2, not " + std::to_string(number));
  }
  return mount;
}

}  // namespace nimbra_demo_scene
