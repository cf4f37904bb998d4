// Message forms of the demo's geometry: transforms, camera_info and image headers.
#pragma once

#include <string>

#include <Eigen/Geometry>
#include <builtin_interfaces/msg/time.hpp>
#include <geometry_msgs/msg/transform_stamped.hpp>
#include <geometry_msgs/msg/twist.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/image.hpp>

#include "nimbra_demo_scene/camera_intrinsics.hpp"
#include "nimbra_demo_scene/robot_trajectory.hpp"

namespace nimbra_demo_scene
{

/// `pose` of `child` in `parent` as a stamped transform (unit quaternion).
geometry_msgs::msg::TransformStamped toTransformMsg(
  const Eigen::Isometry3d & pose, const std::string & parent, const std::string & child,
  const builtin_interfaces::msg::Time & stamp);

/// Plumb-bob camera_info without distortion: K, R = identity, P = [K | 0], binning 1, full ROI.
sensor_msgs::msg::CameraInfo toCameraInfoMsg(
  const CameraIntrinsics & intrinsics, const std::string & frame_id);

/// Sets size, encoding ("16UC1" or "rgb8"), step and frame of `image` and sizes its data.
/// @throws std::invalid_argument for another encoding
void prepareImage(
  sensor_msgs::msg::Image & image, const CameraIntrinsics & intrinsics,
  const std::string & encoding, const std::string & frame_id);

/// The body velocity as a cmd_vel message.
geometry_msgs::msg::Twist toTwistMsg(const BodyTwist & twist);

}  // namespace nimbra_demo_scene
