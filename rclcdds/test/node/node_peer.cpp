// Second process of the node tests: a parameterised node or a lifecycle node, spun until SIGINT.
//   node_peer param <name>       node with parameters gain, limit, mode; limit refuses < 0;
//                                publishes "hello <n>" on "chatter" every 100 ms
//   node_peer lifecycle <name>   lifecycle node publishing "tick <n>" on "lc_chatter" every
//                                100 ms through a lifecycle publisher
//   node_peer listen <name> <topic>  node printing "got <data>" for each std_msgs/String on
//                                <topic>
#include <cstdio>
#include <string>

#include <std_msgs/msg/string.hpp>

#include "rclcdds/lifecycle_node.hpp"
#include "rclcdds/rclcdds.hpp"

namespace
{

int run_param_node(const std::string & name)
{
  auto node = std::make_shared<rclcdds::Node>(name);
  node->declare_parameter("gain", 1.5);
  node->declare_parameter("limit", 10);
  node->declare_parameter("mode", std::string("auto"));
  auto handle = node->add_on_set_parameters_callback(
    [](const std::vector<rclcdds::Parameter> & parameters) {
      for (const auto & parameter : parameters) {
        if (parameter.get_name() == "limit" && parameter.get_type() == rclcdds::PARAMETER_INTEGER &&
        parameter.as_int() < 0)
        {
          return rcl_interfaces::msg::SetParametersResult().set__reason("limit must not be negative");
        }
      }
      return rcl_interfaces::msg::SetParametersResult().set__successful(true);
    });
  auto publisher = node->create_publisher<std_msgs::msg::String>("chatter", rclcdds::QoS(10));
  int count = 0;
  auto timer = node->create_wall_timer(
    std::chrono::milliseconds(100), [&publisher, &count] {
      publisher->publish(std_msgs::msg::String().set__data("hello " + std::to_string(count++)));
    });
  std::printf("ready\n");
  std::fflush(stdout);
  rclcdds::executors::MultiThreadedExecutor executor(rclcdds::ExecutorOptions(), 2);
  executor.add_node(node);
  executor.spin();
  return 0;
}

/// Lifecycle node that reports its callbacks on stdout.
class PeerLifecycleNode : public rclcdds_lifecycle::LifecycleNode
{
public:
  explicit PeerLifecycleNode(const std::string & name)
  : LifecycleNode(name)
  {
    publisher_ = create_publisher<std_msgs::msg::String>("lc_chatter", rclcdds::QoS(10));
    timer_ = create_wall_timer(
      std::chrono::milliseconds(100), [this] {
        publisher_->publish(std_msgs::msg::String().set__data("tick " + std::to_string(count_++)));
      });
  }

  CallbackReturn on_configure(const rclcdds_lifecycle::State &) override {return report("configure");}
  CallbackReturn on_activate(const rclcdds_lifecycle::State &) override {return report("activate");}
  CallbackReturn on_deactivate(const rclcdds_lifecycle::State &) override
  {
    return report("deactivate");
  }
  CallbackReturn on_cleanup(const rclcdds_lifecycle::State &) override {return report("cleanup");}

private:
  CallbackReturn report(const char * what)
  {
    std::printf("on_%s\n", what);
    std::fflush(stdout);
    return CallbackReturn::SUCCESS;
  }

  std::shared_ptr<rclcdds_lifecycle::LifecyclePublisher<std_msgs::msg::String>> publisher_;
  rclcdds::TimerBase::SharedPtr timer_;
  int count_{0};
};

int run_lifecycle_node(const std::string & name)
{
  auto node = std::make_shared<PeerLifecycleNode>(name);
  std::printf("ready\n");
  std::fflush(stdout);
  rclcdds::executors::MultiThreadedExecutor executor(rclcdds::ExecutorOptions(), 2);
  executor.add_node(node->get_node_base_interface());
  executor.spin();
  return 0;
}

int run_listen_node(const std::string & name, const std::string & topic)
{
  auto node = std::make_shared<rclcdds::Node>(name);
  auto subscription = node->create_subscription<std_msgs::msg::String>(
    topic, rclcdds::QoS(10), [](const std_msgs::msg::String & msg) {
      std::printf("got %s\n", msg.data.c_str());
      std::fflush(stdout);
    });
  std::printf("ready\n");
  std::fflush(stdout);
  rclcdds::spin(node);
  return 0;
}

}  // namespace

int main(int argc, char ** argv)
{
  rclcdds::init(argc, argv);
  const auto args = rclcdds::remove_ros_arguments(argc, argv);
  if (args.size() < 3) {
    std::fprintf(stderr, "usage: node_peer param|lifecycle|listen NAME [TOPIC] [--ros-args ...]\n");
    return 2;
  }
  const std::string topic = args.size() > 3 ? args[3] : "chatter";
  const int code = args[1] == "listen" ? run_listen_node(args[2], topic) :
    args[1] == "param" ? run_param_node(args[2]) : run_lifecycle_node(args[2]);
  rclcdds::shutdown();
  return code;
}
