// Eigen conversions of transforms (as tf2_eigen), plus 4x4 float matrices.
#pragma once

#include <Eigen/Geometry>

#include <geometry_msgs/msg/transform.hpp>
#include <geometry_msgs/msg/transform_stamped.hpp>

namespace rclcdds
{
namespace tf2
{

/// Rigid transform of a message as an Eigen isometry (quaternion normalised).
Eigen::Isometry3d transformToEigen(const geometry_msgs::msg::Transform & transform);
Eigen::Isometry3d transformToEigen(const geometry_msgs::msg::TransformStamped & transform);

/// Isometry as a stamped transform message (header and child frame left empty).
geometry_msgs::msg::TransformStamped eigenToTransform(const Eigen::Isometry3d & transform);

/// Rigid transform as a homogeneous 4x4 float matrix.
Eigen::Matrix4f transformToMatrix4f(const geometry_msgs::msg::Transform & transform);
Eigen::Matrix4f transformToMatrix4f(const geometry_msgs::msg::TransformStamped & transform);

/// Homogeneous 4x4 matrix as a transform message; the rotation block is re-orthonormalised
/// through its quaternion.
geometry_msgs::msg::Transform matrix4fToTransform(const Eigen::Matrix4f & matrix);

}  // namespace tf2
}  // namespace rclcdds
