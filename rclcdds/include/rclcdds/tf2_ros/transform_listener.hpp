// Fills a transform buffer from /tf and /tf_static on a thread of its own (as
// tf2_ros::TransformListener).
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include <tf2_msgs/msg/tf_message.hpp>

#include "rclcdds/callback_group.hpp"
#include "rclcdds/executors/single_threaded_executor.hpp"
#include "rclcdds/node.hpp"
#include "rclcdds/subscription.hpp"
#include "rclcdds/tf2/buffer_core.hpp"
#include "rclcdds/tf2_ros/qos.hpp"

namespace rclcdds
{
namespace tf2_ros
{

/// Subscribes to /tf (keep-last 100, reliable, volatile) and /tf_static (keep-last 100,
/// reliable, transient local) and puts every transform into the buffer. The subscriptions live
/// in a callback group that only the listener's own executor serves, on its own thread, so
/// lookups that wait on the buffer never wait on the node's executor.
class TransformListener
{
public:
  using SharedPtr = std::shared_ptr<TransformListener>;

  /// Listens through a private node ("transform_listener_impl_<id>", no parameter services).
  /// @param spin_thread false: the caller spins get_node() itself
  explicit TransformListener(tf2::BufferCore & buffer, bool spin_thread = true);

  /// Listens through `node` (its context, namespace remapping of "/tf" does not apply).
  TransformListener(
    tf2::BufferCore & buffer, const Node::SharedPtr & node, bool spin_thread = true,
    const QoS & qos = DynamicListenerQoS(), const QoS & static_qos = StaticListenerQoS());

  /// Stops the thread and unsubscribes.
  ~TransformListener();
  TransformListener(const TransformListener &) = delete;
  TransformListener & operator=(const TransformListener &) = delete;

  /// The node the subscriptions belong to.
  Node::SharedPtr get_node() const {return node_;}

private:
  void subscribe(bool spin_thread, const QoS & qos, const QoS & static_qos);
  void on_message(const tf2_msgs::msg::TFMessage & msg, bool is_static);

  tf2::BufferCore & buffer_;
  Node::SharedPtr node_;
  CallbackGroup::SharedPtr group_;
  Subscription<tf2_msgs::msg::TFMessage>::SharedPtr tf_subscription_;
  Subscription<tf2_msgs::msg::TFMessage>::SharedPtr tf_static_subscription_;
  std::unique_ptr<executors::SingleThreadedExecutor> executor_;
  std::atomic_bool stop_{false};
  std::thread thread_;
};

}  // namespace tf2_ros
}  // namespace rclcdds
