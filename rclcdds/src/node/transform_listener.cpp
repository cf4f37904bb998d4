#include "rclcdds/tf2_ros/transform_listener.hpp"

#include <atomic>
#include <unistd.h>

#include <cstdio>

namespace rclcdds
{
namespace tf2_ros
{

namespace
{

Node::SharedPtr make_listener_node()
{
  static std::atomic<unsigned> counter{0};
  char name[64];
  std::snprintf(name, sizeof(name), "transform_listener_impl_%x_%u",
    static_cast<unsigned>(::getpid()), counter++);
  NodeOptions options;
  options.start_parameter_services(false).start_parameter_event_publisher(false)
  .use_global_arguments(false);
  return std::make_shared<Node>(name, options);
}

}  // namespace

TransformListener::TransformListener(tf2::BufferCore & buffer, bool spin_thread)
: buffer_(buffer), node_(make_listener_node())
{
  subscribe(spin_thread, DynamicListenerQoS(), StaticListenerQoS());
}

TransformListener::TransformListener(
  tf2::BufferCore & buffer, const Node::SharedPtr & node, bool spin_thread, const QoS & qos,
  const QoS & static_qos)
: buffer_(buffer), node_(node)
{
  subscribe(spin_thread, qos, static_qos);
}

TransformListener::~TransformListener()
{
  if (executor_) {
    stop_ = true;
    executor_->cancel();
    if (thread_.joinable()) {
      thread_.join();
    }
    executor_->remove_callback_group(group_);
  }
}

void TransformListener::subscribe(bool spin_thread, const QoS & qos, const QoS & static_qos)
{
  group_ = node_->create_callback_group(CallbackGroupType::MutuallyExclusive, !spin_thread);
  SubscriptionOptions options;
  options.callback_group = group_;
  tf_subscription_ = node_->create_subscription<tf2_msgs::msg::TFMessage>(
    "/tf", qos, [this](const tf2_msgs::msg::TFMessage & msg) {on_message(msg, false);}, options);
  tf_static_subscription_ = node_->create_subscription<tf2_msgs::msg::TFMessage>(
    "/tf_static", static_qos,
    [this](const tf2_msgs::msg::TFMessage & msg) {on_message(msg, true);}, options);
  if (!spin_thread) {
    return;
  }
  executor_ = std::make_unique<executors::SingleThreadedExecutor>(
    ExecutorOptions{node_->get_context()});
  executor_->add_callback_group(group_, node_);
  thread_ = std::thread(
    [this] {
      while (!stop_ && node_->get_context()->is_valid()) {
        executor_->spin_once(std::chrono::milliseconds(100));
      }
    });
}

void TransformListener::on_message(const tf2_msgs::msg::TFMessage & msg, bool is_static)
{
  for (const auto & transform : msg.transforms) {
    // setTransform validates and logs rejected transforms itself.
    buffer_.setTransform(transform, "default_authority", is_static);
  }
}

}  // namespace tf2_ros
}  // namespace rclcdds
