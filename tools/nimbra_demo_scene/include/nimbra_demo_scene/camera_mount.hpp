// Where a camera sits on the robot: pose of its optical frame in base_footprint.
#pragma once

#include <string>

#include <Eigen/Geometry>

namespace nimbra_demo_scene
{

/// Camera mount on the robot base (x forward, y left, z up) and the names of its frames.
struct CameraMount
{
  int number{1};              ///< camera number n (1-based), as in the topic names
  Eigen::Vector3d position{Eigen::Vector3d::Zero()};  ///< optical centre in base_footprint, m
  double yaw_rad{0.0};        ///< heading, positive to the left, rad
  double pitch_down_rad{0.0}; ///< tilt of the viewing direction below horizontal, rad

  /// Pose of the optical frame (z forward, x right, y down) in base_footprint.
  Eigen::Isometry3d baseToOptical() const;

  /// "camera_0" + n + "_depth_optical_frame".
  std::string depthFrame() const;
  /// "camera_0" + n + "_color_optical_frame" (registered to the depth frame: identity).
  std::string colorFrame() const;
  /// "/camera_0" + n + "/" + `suffix`, e.g. topic("depth/image_raw").
  std::string topic(const std::string & suffix) const;

  /// The demo robot's mounts: 1 looks forward, 0.6 m high, 30 degrees down; 2 looks forward-left
  /// from a lower corner mount.
  /// @throws std::invalid_argument for a number other than 1 or 2
  static CameraMount demoMount(int number);
};

}  // namespace nimbra_demo_scene
