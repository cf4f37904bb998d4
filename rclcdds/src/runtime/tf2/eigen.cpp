#include "rclcdds/tf2/eigen.hpp"

namespace rclcdds
{
namespace tf2
{

Eigen::Isometry3d transformToEigen(const geometry_msgs::msg::Transform & transform)
{
  const auto & t = transform.translation;
  const auto & r = transform.rotation;
  Eigen::Isometry3d out = Eigen::Isometry3d::Identity();
  out.translate(Eigen::Vector3d(t.x, t.y, t.z));
  out.rotate(Eigen::Quaterniond(r.w, r.x, r.y, r.z).normalized());
  return out;
}

Eigen::Isometry3d transformToEigen(const geometry_msgs::msg::TransformStamped & transform)
{
  return transformToEigen(transform.transform);
}

geometry_msgs::msg::TransformStamped eigenToTransform(const Eigen::Isometry3d & transform)
{
  geometry_msgs::msg::TransformStamped out;
  const Eigen::Vector3d t = transform.translation();
  const Eigen::Quaterniond q(transform.rotation());
  out.transform.translation.x = t.x();
  out.transform.translation.y = t.y();
  out.transform.translation.z = t.z();
  out.transform.rotation.x = q.x();
  out.transform.rotation.y = q.y();
  out.transform.rotation.z = q.z();
  out.transform.rotation.w = q.w();
  return out;
}

Eigen::Matrix4f transformToMatrix4f(const geometry_msgs::msg::Transform & transform)
{
  return transformToEigen(transform).matrix().cast<float>();
}

Eigen::Matrix4f transformToMatrix4f(const geometry_msgs::msg::TransformStamped & transform)
{
  return transformToMatrix4f(transform.transform);
}

geometry_msgs::msg::Transform matrix4fToTransform(const Eigen::Matrix4f & matrix)
{
  const Eigen::Matrix4d m = matrix.cast<double>();
  const Eigen::Quaterniond q = Eigen::Quaterniond(Eigen::Matrix3d(m.block<3, 3>(0, 0))).normalized();
  geometry_msgs::msg::Transform out;
  out.translation.x = m(0, 3);
  out.translation.y = m(1, 3);
  out.translation.z = m(2, 3);
  out.rotation.x = q.x();
  out.rotation.y = q.y();
  out.rotation.z = q.z();
  out.rotation.w = q.w();
  return out;
}

}  // namespace tf2
}  // namespace rclcdds
