// Publishes transforms on /tf (as tf2_ros::TransformBroadcaster).
#pragma once

#include <memory>
#include <vector>

#include <geometry_msgs/msg/transform_stamped.hpp>
#include <tf2_msgs/msg/tf_message.hpp>

#include "rclcdds/publisher.hpp"
#include "rclcdds/tf2_ros/qos.hpp"

namespace rclcdds
{
namespace tf2_ros
{

/// Sends dynamic transforms on /tf (keep-last 100, reliable, volatile).
class TransformBroadcaster
{
public:
  template<class NodePtrT>
  explicit TransformBroadcaster(const NodePtrT & node, const QoS & qos = DynamicBroadcasterQoS())
  : publisher_(node->template create_publisher<tf2_msgs::msg::TFMessage>("/tf", qos)) {}

  void sendTransform(const geometry_msgs::msg::TransformStamped & transform)
  {
    sendTransform(std::vector<geometry_msgs::msg::TransformStamped>{transform});
  }

  void sendTransform(const std::vector<geometry_msgs::msg::TransformStamped> & transforms)
  {
    tf2_msgs::msg::TFMessage message;
    message.transforms = transforms;
    publisher_->publish(message);
  }

private:
  Publisher<tf2_msgs::msg::TFMessage>::SharedPtr publisher_;
};

}  // namespace tf2_ros
}  // namespace rclcdds
