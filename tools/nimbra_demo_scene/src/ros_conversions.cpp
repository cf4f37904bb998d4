#include "nimbra_demo_scene/ros_conversions.hpp"

#include <stdexcept>

namespace nimbra_demo_scene
{

geometry_msgs::msg::TransformStamped toTransformMsg(
  const Eigen::Isometry3d & pose, const std::string & parent, const std::string & child,
  const builtin_interfaces::msg::Time & stamp)
{
  geometry_msgs::msg::TransformStamped msg;
  msg.header.stamp = stamp;
  msg.header.frame_id = parent;
  msg.child_frame_id = child;
  msg.transform.translation.x = pose.translation().x();
  msg.transform.translation.y = pose.translation().y();
  msg.transform.translation.z = pose.translation().z();
  const Eigen::Quaterniond rotation = Eigen::Quaterniond(pose.linear()).normalized();
  msg.transform.rotation.x = rotation.x();
  msg.transform.rotation.y = rotation.y();
  msg.transform.rotation.z = rotation.z();
  msg.transform.rotation.w = rotation.w();
  return msg;
}

sensor_msgs::msg::CameraInfo toCameraInfoMsg(
  const CameraIntrinsics & intrinsics, const std::string & frame_id)
{
  sensor_msgs::msg::CameraInfo info;
  info.header.frame_id = frame_id;
  info.width = intrinsics.width;
  info.height = intrinsics.height;
  info.distortion_model = "plumb_bob";
  info.d.assign(5, 0.0);
  info.k = {intrinsics.fx, 0.0, intrinsics.cx, 0.0, intrinsics.fy, intrinsics.cy, 0.0, 0.0, 1.0};
  info.r = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
  info.p = {intrinsics.fx, 0.0, intrinsics.cx, 0.0, 0.0, intrinsics.fy, intrinsics.cy, 0.0,
    0.0, 0.0, 1.0, 0.0};
  info.binning_x = 1;
  info.binning_y = 1;
  info.roi.width = 0;   // all zero: full resolution
  info.roi.height = 0;
  return info;
}

void prepareImage(
  sensor_msgs::msg::Image & image, const CameraIntrinsics & intrinsics,
  const std::string & encoding, const std::string & frame_id)
{
  uint32_t bytes_per_pixel = 0;
  if (encoding == "16UC1") {
    bytes_per_pixel = 2;
  } else if (encoding == "rgb8") {
    bytes_per_pixel = 3;
  } else {
    throw std::invalid_argument("prepareImage: unsupported encoding '" + encoding + "'");
  }
  image.header.frame_id = frame_id;
  image.width = intrinsics.width;
  image.height = intrinsics.height;
  image.encoding = encoding;
  image.is_bigendian = 0;
  image.step = intrinsics.width * bytes_per_pixel;
  image.data.resize(static_cast<size_t>(image.step) * image.height);
}

geometry_msgs::msg::Twist toTwistMsg(const BodyTwist & twist)
{
  geometry_msgs::msg::Twist msg;
  msg.linear.x = twist.linear_x;
  msg.angular.z = twist.angular_z;
  return msg;
}

}  // namespace nimbra_demo_scene
