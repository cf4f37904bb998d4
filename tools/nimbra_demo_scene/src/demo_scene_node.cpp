#include "demo_scene_node.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "nimbra_demo_scene/frame_stamp.hpp"
#include "nimbra_demo_scene/ground_truth.hpp"
#include "nimbra_demo_scene/ros_conversions.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/logger.hpp"
#include "rclcdds/qos.hpp"

namespace nimbra_demo_scene
{
namespace
{

constexpr int32_t kFsmStateCleaning = 8;
constexpr int32_t kFsmSubStateCleaning = 400;

rcl_interfaces::msg::ParameterDescriptor describeDouble(
  const std::string & text, double from, double to)
{
  rcl_interfaces::msg::ParameterDescriptor descriptor;
  descriptor.description = text;
  descriptor.read_only = true;
  rcl_interfaces::msg::FloatingPointRange range;
  range.from_value = from;
  range.to_value = to;
  range.step = 0.0;
  descriptor.floating_point_range.push_back(range);
  return descriptor;
}

rcl_interfaces::msg::ParameterDescriptor describeInteger(
  const std::string & text, int64_t from, int64_t to)
{
  rcl_interfaces::msg::ParameterDescriptor descriptor;
  descriptor.description = text;
  descriptor.read_only = true;
  rcl_interfaces::msg::IntegerRange range;
  range.from_value = from;
  range.to_value = to;
  range.step = 1;
  descriptor.integer_range.push_back(range);
  return descriptor;
}

}  // namespace

DemoSceneNode::DemoSceneNode(const rclcdds::NodeOptions & options)
: rclcdds::Node("demo_scene", options)
{
  settings_ = declareParameters();
  DemoWorld::Params world_params;
  world_params.seed = static_cast<uint32_t>(settings_.seed);
  world_ = std::make_unique<DemoWorld>(world_params);
  createCameras();

  static_broadcaster_ = std::make_unique<rclcdds::tf2_ros::StaticTransformBroadcaster>(this);
  broadcaster_ = std::make_unique<rclcdds::tf2_ros::TransformBroadcaster>(this);
  cmd_vel_pub_ = create_publisher<geometry_msgs::msg::Twist>("/cmd_vel", rclcdds::QoS(10));
  fsm_pub_ = create_publisher<nimbra_protocol::msg::TaskCenterFsmStatus>(
    "fsm_status", rclcdds::QoS(10));
  sendStaticTransforms();

  const auto period = std::chrono::duration<double>(1.0 / settings_.rate_hz);
  frame_timer_ = create_wall_timer(period, [this] {publishFrame();});
  report_timer_ = create_wall_timer(std::chrono::seconds(1), [this] {reportStatistics();});
  char until[64] = "until stopped";
  if (settings_.duration_s > 0.0) {
    std::snprintf(until, sizeof(until), "for %.1f s", settings_.duration_s);
  }
  RCLCDDS_INFO(
    get_logger(), "publishing %lld camera(s), %lldx%lld at %.1f Hz, seed %lld, noise %.4f m, %s",
    static_cast<long long>(settings_.cameras), static_cast<long long>(settings_.width),
    static_cast<long long>(settings_.height), settings_.rate_hz,
    static_cast<long long>(settings_.seed), settings_.noise_m, until);
}

DemoSceneNode::Settings DemoSceneNode::declareParameters()
{
  Settings s;
  s.rate_hz = declare_parameter<double>(
    "rate", s.rate_hz, describeDouble("frames per second of every camera, Hz", 0.1, 100.0));
  s.width = declare_parameter<int64_t>(
    "width", s.width, describeInteger("image width of every camera, pixels", 16, 4096));
  s.height = declare_parameter<int64_t>(
    "height", s.height, describeInteger("image height of every camera, pixels", 16, 4096));
  s.cameras = declare_parameter<int64_t>(
    "cameras", s.cameras, describeInteger("number of cameras, numbered 1 .. cameras", 1, 2));
  s.duration_s = declare_parameter<double>(
    "duration_s", s.duration_s,
    describeDouble("stop after this many seconds (0: run until interrupted), s", 0.0, 1.0e7));
  s.seed = declare_parameter<int64_t>(
    "seed", s.seed,
    describeInteger("seed of the obstacle and litter layout and of the depth noise", 0,
    4294967295LL));
  s.noise_m = declare_parameter<double>(
    "noise_m", s.noise_m,
    describeDouble("standard deviation of the depth noise (0: exact depth), m", 0.0, 0.5));
  s.max_range_m = declare_parameter<double>(
    "max_range_m", s.max_range_m,
    describeDouble("depth range; farther surfaces read 0, m", 0.5, 65.0));
  s.start_s = declare_parameter<double>(
    "start_s", s.start_s,
    describeDouble("scene time of the first frame (where the robot starts on its loop), s", 0.0,
    1.0e6));
  return s;
}

void DemoSceneNode::createCameras()
{
  const CameraIntrinsics intrinsics = CameraIntrinsics::fromHorizontalFov(
    static_cast<uint32_t>(settings_.width), static_cast<uint32_t>(settings_.height),
    DemoRig::kHorizontalFovRad);
  DepthRenderer::Params render_params;
  render_params.max_range_m = settings_.max_range_m;
  render_params.noise_m = settings_.noise_m;
  cameras_.resize(static_cast<size_t>(settings_.cameras));
  for (size_t i = 0; i < cameras_.size(); ++i) {
    CameraChannel & camera = cameras_[i];
    camera.mount = CameraMount::demoMount(static_cast<int>(i) + 1);
    render_params.seed = DemoRig::cameraSeed(static_cast<uint32_t>(settings_.seed), i);
    camera.renderer = std::make_unique<DepthRenderer>(intrinsics, render_params);
    prepareImage(camera.depth, intrinsics, "16UC1", camera.mount.depthFrame());
    prepareImage(camera.colour, intrinsics, "rgb8", camera.mount.colorFrame());
    camera.info = toCameraInfoMsg(intrinsics, camera.mount.depthFrame());
    // Camera drivers publish images best effort (sensor data) and camera_info reliably.
    camera.colour_pub = create_publisher<sensor_msgs::msg::Image>(
      camera.mount.topic("color/image_raw"), rclcdds::SensorDataQoS());
    camera.depth_pub = create_publisher<sensor_msgs::msg::Image>(
      camera.mount.topic("depth/image_raw"), rclcdds::SensorDataQoS());
    camera.info_pub = create_publisher<sensor_msgs::msg::CameraInfo>(
      camera.mount.topic("depth/camera_info"), rclcdds::QoS(10));
  }
}

void DemoSceneNode::sendStaticTransforms()
{
  const builtin_interfaces::msg::Time stamp = now();
  std::vector<geometry_msgs::msg::TransformStamped> transforms;
  for (const CameraChannel & camera : cameras_) {
    transforms.push_back(
      toTransformMsg(
        camera.mount.baseToOptical(), "base_footprint", camera.mount.depthFrame(), stamp));
    // The colour image is registered to the depth image: same optical frame.
    transforms.push_back(
      toTransformMsg(
        Eigen::Isometry3d::Identity(), camera.mount.depthFrame(), camera.mount.colorFrame(),
        stamp));
  }
  static_broadcaster_->sendTransform(transforms);
}

void DemoSceneNode::publishFrame()
{
  const auto wall_now = std::chrono::steady_clock::now();
  if (frame_index_ == 0) {
    started_ = wall_now;
  }
  const double elapsed_s = std::chrono::duration<double>(wall_now - started_).count();
  if (settings_.duration_s > 0.0 && elapsed_s >= settings_.duration_s) {
    RCLCDDS_INFO(
      get_logger(), "duration_s %.1f s reached after %llu frames per camera, stopping",
      settings_.duration_s, static_cast<unsigned long long>(frame_index_));
    frame_timer_->cancel();
    rclcdds::shutdown(get_context(), "demo_scene: duration_s reached");
    return;
  }
  // Scene time advances one period per frame, so every run shows the same frames.
  const double scene_t = settings_.start_s + static_cast<double>(frame_index_) / settings_.rate_hz;
  // The stamp carries the frame number (frame_stamp.hpp): tools find the ground truth by it.
  builtin_interfaces::msg::Time stamp = now();
  int64_t stamp_sec = 0;
  frameStamp(stamp.sec, stamp.nanosec, frame_index_, stamp_sec, stamp.nanosec);
  stamp.sec = static_cast<int32_t>(stamp_sec);

  // Transforms first: a lookup at an image's stamp must find them.
  broadcaster_->sendTransform(
    std::vector<geometry_msgs::msg::TransformStamped>{
      toTransformMsg(world_->mapToOdom(), "map", "odom", stamp),
      toTransformMsg(world_->odomToBase(scene_t), "odom", "base_footprint", stamp)});
  cmd_vel_pub_->publish(toTwistMsg(world_->trajectory().twistAt(scene_t)));

  const Scene & scene = world_->sceneAt(scene_t);
  const Eigen::Isometry3d map_to_base = world_->mapToBase(scene_t);
  for (CameraChannel & camera : cameras_) {
    const DepthRenderer::Stats stats = camera.renderer->render(
      scene, map_to_base * camera.mount.baseToOptical(), frame_index_, camera.depth.data,
      camera.colour.data);
    render_ms_sum_ += stats.render_ms;
    render_ms_max_ = std::max(render_ms_max_, stats.render_ms);
    ++renders_since_report_;
    camera.colour.header.stamp = stamp;
    camera.depth.header.stamp = stamp;
    camera.info.header.stamp = stamp;
    camera.colour_pub->publish(camera.colour);
    camera.depth_pub->publish(camera.depth);
    camera.info_pub->publish(camera.info);
    ++camera.frames;
  }
  ++frame_index_;
}

void DemoSceneNode::reportStatistics()
{
  nimbra_protocol::msg::TaskCenterFsmStatus status;
  status.header.stamp = now();
  status.fsm_state = kFsmStateCleaning;
  status.fsm_sub_state = kFsmSubStateCleaning;
  fsm_pub_->publish(status);

  std::string counts;
  for (const CameraChannel & camera : cameras_) {
    counts += " camera_0" + std::to_string(camera.mount.number) + "=" +
      std::to_string(camera.frames);
  }
  const double mean_ms = renders_since_report_ > 0 ?
    render_ms_sum_ / static_cast<double>(renders_since_report_) : 0.0;
  RCLCDDS_INFO(
    get_logger(), "frames published:%s; render %.2f ms/frame (max %.2f ms, %llu renders)",
    counts.c_str(), mean_ms, render_ms_max_,
    static_cast<unsigned long long>(renders_since_report_));
  render_ms_sum_ = 0.0;
  render_ms_max_ = 0.0;
  renders_since_report_ = 0;
}

}  // namespace nimbra_demo_scene
