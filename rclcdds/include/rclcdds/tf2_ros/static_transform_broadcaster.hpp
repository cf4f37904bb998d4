// Publishes static transforms on /tf_static (as tf2_ros::StaticTransformBroadcaster).
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include <geometry_msgs/msg/transform_stamped.hpp>
#include <tf2_msgs/msg/tf_message.hpp>

#include "rclcdds/publisher.hpp"
#include "rclcdds/tf2_ros/qos.hpp"

namespace rclcdds
{
namespace tf2_ros
{

/// Sends static transforms on /tf_static (keep-last 1, reliable, transient local). Every
/// sample carries all transforms sent so far (a newer one replaces the older one of the same
/// child frame), so late joiners get the whole set.
class StaticTransformBroadcaster
{
public:
  template<class NodePtrT>
  explicit StaticTransformBroadcaster(
    const NodePtrT & node, const QoS & qos = StaticBroadcasterQoS())
  : publisher_(node->template create_publisher<tf2_msgs::msg::TFMessage>("/tf_static", qos)) {}

  void sendTransform(const geometry_msgs::msg::TransformStamped & transform)
  {
    sendTransform(std::vector<geometry_msgs::msg::TransformStamped>{transform});
  }

  void sendTransform(const std::vector<geometry_msgs::msg::TransformStamped> & transforms)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto & transform : transforms) {
      bool replaced = false;
      for (auto & known : net_message_.transforms) {
        if (known.child_frame_id == transform.child_frame_id) {
          known = transform;
          replaced = true;
          break;
        }
      }
      if (!replaced) {
        net_message_.transforms.push_back(transform);
      }
    }
    publisher_->publish(net_message_);
  }

private:
  Publisher<tf2_msgs::msg::TFMessage>::SharedPtr publisher_;
  std::mutex mutex_;
  tf2_msgs::msg::TFMessage net_message_;
};

}  // namespace tf2_ros
}  // namespace rclcdds
