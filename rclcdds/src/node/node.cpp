#include "rclcdds/node.hpp"

#include "rclcdds/arguments.hpp"
#include "rclcdds/graph/node_announcer.hpp"
#include "rclcdds/names.hpp"
#include "rclcdds/parameter_service.hpp"

namespace rclcdds
{

namespace
{

/// Logger name of a node: "ns.sub.name" for "/ns/sub/name", as rclcpp names it.
std::string node_logger_name(const std::string & node_namespace, const std::string & node_name)
{
  std::string name;
  for (char c : node_namespace) {
    if (c == '/') {
      if (!name.empty()) {
        name += '.';
      }
    } else {
      name += c;
    }
  }
  if (!name.empty() && name.back() != '.') {
    name += '.';
  }
  return name + node_name;
}

}  // namespace

Node::Identity Node::resolve_identity(
  const std::string & node_name, const std::string & node_namespace, const NodeOptions & options)
{
  Identity identity;
  identity.original_name = node_name;
  identity.context = options.context() ? options.context() : get_global_default_context();
  if (options.use_global_arguments()) {
    identity.global_arguments = std::make_shared<const Arguments>(
      Arguments::parse(identity.context->get_init_arguments()));
  }
  const Arguments & local = options.parsed_arguments();
  const Arguments * global = identity.global_arguments.get();
  identity.name = remap_node_name(node_name, &local, global);
  identity.namespace_ = remap_node_namespace(node_name, node_namespace, &local, global);
  return identity;
}

Node::Node(const std::string & node_name, const NodeOptions & options)
: Node(node_name, "", options)
{
}

Node::Node(
  const std::string & node_name, const std::string & node_namespace, const NodeOptions & options)
: Node(resolve_identity(node_name, node_namespace, options), options)
{
}

Node::Node(Identity identity, const NodeOptions & options)
: NodeTopics(identity.name, identity.namespace_, identity.context),
  options_(options),
  original_name_(identity.original_name),
  global_arguments_(std::move(identity.global_arguments)),
  logger_(node_logger_name(get_namespace(), get_name())),
  clock_(std::make_shared<Clock>(RCL_ROS_TIME))
{
  if (options_.start_parameter_event_publisher()) {
    parameter_events_publisher_ = create_publisher<rcl_interfaces::msg::ParameterEvent>(
      "/parameter_events", ParameterEventsQoS());
  }
  node_interfaces::NodeParameters::ParameterEventCallback on_event;
  if (parameter_events_publisher_) {
    auto publisher = parameter_events_publisher_;
    on_event = [publisher](const rcl_interfaces::msg::ParameterEvent & event) {
        publisher->publish(event);
      };
  }
  parameters_ = std::make_shared<node_interfaces::NodeParameters>(
    get_fully_qualified_name(), options_, global_arguments_.get(), on_event, clock_);

  time_source_ = std::make_unique<TimeSource>();
  time_source_->attachClock(clock_);
  time_source_->attachParameters(*parameters_);
  time_source_->set_clock_subscription_handler(
    [this](bool needed) {update_clock_subscription(needed);});

  if (options_.start_parameter_services()) {
    parameter_service_ = std::make_shared<ParameterService>(*this, parameters_);
  }
  announcement_ = graph::NodeAnnouncer::for_context(get_context())->add_node(
    get_namespace(), get_name(), get_node_entities());
}

Node::~Node()
{
  announcement_.reset();
  if (time_source_) {
    time_source_->set_clock_subscription_handler(nullptr);
    time_source_->detachParameters();
    time_source_->detachClock(clock_);
  }
  std::lock_guard<std::mutex> lock(clock_subscription_mutex_);
  clock_subscription_.reset();
}

void Node::update_clock_subscription(bool needed)
{
  std::lock_guard<std::mutex> lock(clock_subscription_mutex_);
  if (!needed) {
    clock_subscription_.reset();
    return;
  }
  if (clock_subscription_) {
    return;
  }
  TimeSource * time_source = time_source_.get();
  clock_subscription_ = create_subscription<rosgraph_msgs::msg::Clock>(
    "/clock", ClockQoS(),
    [time_source](const rosgraph_msgs::msg::Clock & msg) {time_source->clock_callback(msg);});
}

std::string Node::resolve_remapped(const std::string & name, bool is_service) const
{
  return remap_name(expand_topic_name(name, get_name(), get_namespace()), is_service);
}

std::string Node::remap_name(const std::string & expanded_name, bool is_service) const
{
  return remap_topic_name(
    expanded_name, is_service, original_name_, get_namespace(), &options_.parsed_arguments(),
    global_arguments_.get());
}

}  // namespace rclcdds
