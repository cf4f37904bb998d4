// Construction, topic catalogue, transform lookup and shutdown of a depth camera.
#include "camera/depth_camera.hpp"

#include <Eigen/Geometry>
#include <yaml-cpp/yaml.h>

#include <chrono>
#include <utility>

#include <sensor_msgs/msg/camera_info.hpp>

#include "common/cloud.hpp"
#include "common/logger.hpp"
#include "common/semantic_type.hpp"
#include "nimbra_model_zoo/yolov8_seg.hpp"
#include "nimbra_perception_libs/cloud_cluster.hpp"
#include "nimbra_perception_libs/dynamic_cloud_detector.hpp"
#include "nimbra_perception_libs/remove_ground_line_fit.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/tf2/buffer.hpp"
#include "rclcdds/tf2/eigen.hpp"
#include "rclcdds/tf2/exceptions.hpp"
#include "rclcdds/tf2_ros/transform_listener.hpp"
#include "rclcdds/wait_for_message.hpp"
#include "tracker/trash_tracker.hpp"

namespace nimbra
{

namespace
{

constexpr int32_t kCameraInfoMissingCode = 100700001;
constexpr auto kCameraInfoWait = std::chrono::seconds(10);
constexpr double kTransformTimeoutSeconds = 0.5;

std::string Prefixed(int32_t cam_id, const char * base)
{
  return "cam" + std::to_string(cam_id) + "_" + base;
}

}  // namespace

DepthCamera::DepthCamera(
  const std::shared_ptr<Node> & node, int cam_id_in, const std::string & depth_topic,
  const std::string & rgb_topic, const std::string & camera_info_topic,
  const std::shared_ptr<orvix::perception::TrashTracker> & tracker)
: cam_id(cam_id_in), node_(node.get()), trash_tracker_(tracker)
{
  getConfigParameters();
  getRemoveGroundPara();
  getGroundHeightPara();
  getPointCloudClusterPara();
  processing_ctx_ = std::make_shared<Cloud>(
    config_.cloud, std::make_shared<orvix::perception::CloudCluster>(cluster_params_),
    std::make_shared<orvix::perception::RemoveGroundLineFit>(ground_params_));
  // A ring needs at least one slot; smaller sizes would make every frame colourless.
  rgb_ring_.resize(static_cast<std::size_t>(std::max(config_.rgb_buffer_size, 1)));
  tf_buffer_ = std::make_shared<rclcdds::tf2_ros::Buffer>(node_->get_clock());
  tf_listener_ = std::make_shared<rclcdds::tf2_ros::TransformListener>(*tf_buffer_);
  initializeCameraInfo(camera_info_topic);
  initializeAi();
  dynamic_detector_ = std::make_shared<orvix::perception::DynamicCloudDetector>(
    PackageConfigPath("dynamic_cloud_detector.yaml"));
  dynamic_detector_->SetCameraInfo(fx_, fy_, cx_, cy_);
  dynamic_detector_->SetTf(base_to_cam_);
  trash_para_.record.trash_distance_threshold = config_.trash.trash_distance_threshold;
  trash_para_.record.robot_angular_threshold = config_.trash.robot_angular_threshold;
  trash_para_.record.bbox_edge_threshold = config_.trash.bbox_edge_threshold;
  TrashRules trash_rules;
  trash_rules.cam_id = cam_id;
  trash_rules.trash_classes = config_.trash_class_set_;
  trash_rules.trash_distance_threshold = config_.trash.trash_distance_threshold;
  trash_rules.bbox_edge_threshold = config_.trash.bbox_edge_threshold;
  trash_frame_ = std::make_unique<TrashFrameEstimator>(trash_rules);
  if (trash_tracker_) {
    trash_thread_ = std::thread(&DepthCamera::trashDetectionCallback, this, &trash_para_);
    registerWithTracker();
  }
  if (config_.use_ai_thread) {
    ai_thread_ = std::thread(&DepthCamera::aiThreadLoop, this, &ai_para_);
  }
  try {
    initializeSubscriber(depth_topic, rgb_topic);
    initializePublisher();
    param_cb_handle_ = node_->add_on_set_parameters_callback(
      [this](const std::vector<rclcdds::Parameter> & parameters) {
        return dynamicParametersCallback(parameters);
      });
  } catch (...) {
    // The workers already run: stop them before the half-built camera goes away.
    stopWorkers();
    throw;
  }
}

DepthCamera::~DepthCamera()
{
  // Callbacks first: no new parameter update or frame may reach a camera being torn down.
  param_cb_handle_.reset();
  rgb_sub_.reset();
  depth_sub_.reset();
  fsm_sub_.reset();
  stopWorkers();
}

void DepthCamera::stopWorkers()
{
  ai_para_.requestStop();
  trash_para_.requestStop();
  if (ai_thread_.joinable()) {
    ai_thread_.join();
  }
  if (trash_thread_.joinable()) {
    trash_thread_.join();
  }
}

void DepthCamera::getConfigParameters()
{
  config_ = nimbra::getConfigParameters(*node_->get_node_parameters_interface(), cam_id);
}

void DepthCamera::getRemoveGroundPara()
{
  ground_params_ = nimbra::getRemoveGroundPara(*node_->get_node_parameters_interface(), cam_id);
}

void DepthCamera::getGroundHeightPara()
{
  nimbra::getGroundHeightPara(*node_->get_node_parameters_interface(), cam_id, ground_params_);
}

void DepthCamera::getPointCloudClusterPara()
{
  cluster_params_ = nimbra::getPointCloudClusterPara(*node_->get_node_parameters_interface(), cam_id);
}

orvix::perception::GroundRemovalParams DepthCamera::groundParams() const
{
  std::lock_guard<std::mutex> lock(ground_mutex_);
  return ground_params_;
}

void DepthCamera::initializeCameraInfo(const std::string & camera_info_topic)
{
  sensor_msgs::msg::CameraInfo info;
  if (camera_info_topic.empty() ||
    !rclcdds::wait_for_message(info, node_, camera_info_topic, kCameraInfoWait))
  {
    LOG_ERROR("ErrorCode:{}, camera param info initialize failed.", kCameraInfoMissingCode);
    return;
  }
  fx_ = static_cast<float>(info.k[0]);
  fy_ = static_cast<float>(info.k[4]);
  cx_ = static_cast<float>(info.k[2]);
  cy_ = static_cast<float>(info.k[5]);
  camera_frame_id_ = info.header.frame_id;
  depth_width_ = static_cast<int32_t>(info.width);
  depth_height_ = static_cast<int32_t>(info.height);
  LOG_INFO_IN("get_cam_para", "cam_{} : fxParam={}, cxParam={}, fyParam={}, cyParam={}", cam_id,
    fx_, cx_, fy_, cy_);
  // The camera is useless without its mounting, so wait for it; a stop request ends the wait.
  while (rclcdds::ok()) {
    const double now = node_->now().seconds();
    if (getTransformMatrix("base_footprint", camera_frame_id_, now, cam_to_base_)) {
      base_to_cam_ = cam_to_base_.inverse();
      return;
    }
    LOG_DEBUG("Failed to lookup transform from {} to {}", camera_frame_id_, "base_footprint");
    rclcdds::sleep_for(std::chrono::seconds(1));
  }
}

bool DepthCamera::getTransformMatrix(
  const std::string & target, const std::string & source, double stamp, Eigen::Matrix4f & out)
{
  try {
    const auto transform = tf_buffer_->lookupTransform(
      target, source, rclcdds::tf2::timeFromSec(stamp),
      rclcdds::tf2::durationFromSec(kTransformTimeoutSeconds));
    out = rclcdds::tf2::transformToMatrix4f(transform);
    return true;
  } catch (const rclcdds::tf2::TransformException & e) {
    LOG_ERROR("Transform {} to {} error of sensor data:{}, quitting callback", source, target,
      e.what());
    return false;
  }
}

void DepthCamera::initializeAi()
{
  const auto & parameters = *node_->get_node_parameters_interface();
  std::string meta_file;
  parameters.get_parameter("model_meta_file", meta_file);
  std::string height_file;
  parameters.get_parameter("model_height_file", height_file);
  YAML::Node meta;
  try {
    meta = semantic::LoadModelMetaFile(meta_file);
  } catch (const YAML::Exception & e) {
    throw std::runtime_error(
            "parameter 'model_meta_file': model description '" + meta_file +
            "' cannot be loaded: " + e.what());
  }
  YAML::Node heights;
  if (height_file.empty()) {
    LOG_WARN("cam_{0:d} parameter model_height_file is not set: no class has a height range",
      cam_id);
  } else {
    try {
      heights = semantic::LoadModelHeightFile(height_file);
    } catch (const YAML::Exception & e) {
      throw std::runtime_error(
              "parameter 'model_height_file': height file '" +
              semantic::ModelHeightFilePath(height_file) + "' cannot be loaded: " + e.what());
    }
  }
  ai_config_ = semantic::CreateAiConfig(cam_id, meta, heights);
  if (semantic::IsYolov8SegModel(meta)) {
    model_ = std::make_shared<orvix::model::YOLOv8Seg>(meta, meta_file);
  }
}

void DepthCamera::registerWithTracker()
{
  orvix::perception::TrackerCameraInfo info;
  info.tx = cam_to_base_(0, 3);
  info.ty = cam_to_base_(1, 3);
  info.tz = cam_to_base_(2, 3);
  const Eigen::Quaterniond rotation(cam_to_base_.block<3, 3>(0, 0).cast<double>());
  info.qx = rotation.x();
  info.qy = rotation.y();
  info.qz = rotation.z();
  info.qw = rotation.w();
  info.width = depth_width_;
  info.height = depth_height_;
  info.fx = fx_;
  info.cx = cx_;
  info.fy = fy_;
  info.cy = cy_;
  std::string error;
  if (!trash_tracker_->AddCamera(info, &error)) {
    LOG_WARN("cam_{0:d} not registered with the trash tracker: {1:s}", cam_id, error);
  }
}

void DepthCamera::initializeSubscriber(const std::string & depth_topic, const std::string & rgb_topic)
{
  LOG_DEBUG("initialize subscriber start");
  rgb_group_ = node_->create_callback_group(rclcdds::CallbackGroupType::MutuallyExclusive, true);
  depth_group_ = node_->create_callback_group(rclcdds::CallbackGroupType::MutuallyExclusive, true);
  // Best effort matches both reliable and best-effort camera drivers; keep only the newest frame.
  const rclcdds::QoS image_qos = rclcdds::QoS(1).best_effort();
  rclcdds::SubscriptionOptions rgb_options;
  rgb_options.callback_group = rgb_group_;
  rgb_sub_ = node_->create_subscription<sensor_msgs::msg::Image>(
    rgb_topic, image_qos,
    [this](sensor_msgs::msg::Image::ConstSharedPtr msg) {rgbCallback(msg);}, rgb_options);
  rclcdds::SubscriptionOptions depth_options;
  depth_options.callback_group = depth_group_;
  depth_sub_ = node_->create_subscription<sensor_msgs::msg::Image>(
    depth_topic, image_qos,
    [this](sensor_msgs::msg::Image::ConstSharedPtr msg) {depthCallback(msg);}, depth_options);
  fsm_sub_ = node_->create_subscription<nimbra_protocol::msg::TaskCenterFsmStatus>(
    "fsm_status", rclcdds::QoS(1),
    [this](nimbra_protocol::msg::TaskCenterFsmStatus::ConstSharedPtr msg) {
      fsmStatusCallback(msg);
    });
  LOG_DEBUG("initialize Subscriber end");
}

void DepthCamera::initializePublisher()
{
  LOG_DEBUG("initialize Publisher start");
  const rclcdds::QoS qos(1);
  auto name = [this](const char * base) {return Prefixed(cam_id, base);};
  data_status_pub_ = node_->create_publisher<std_msgs::msg::Bool>(name("data_status"), qos);
  using Cloud2 = sensor_msgs::msg::PointCloud2;
  using Image = sensor_msgs::msg::Image;
  using Semantic = nimbra_protocol::msg::SemanticPointCloud;
  base_cloud_pub_ = node_->create_publisher<Cloud2>(name("base_cloud"), qos);
  obstacle_cloud_pub_ = node_->create_publisher<Cloud2>(name("obstacle_cloud"), qos);
  ground_cloud_pub_ = node_->create_publisher<Cloud2>(name("ground_cloud"), qos);
  cluster_cloud_pub_ = node_->create_publisher<Cloud2>(name("cluster_cloud"), qos);
  detect_bbox_image_pub_ = node_->create_publisher<Image>(name("detect_bbox_image"), qos);
  cloud_bbox_image_pub_ = node_->create_publisher<Image>(name("cloud_bbox_image"), qos);
  detect_bbox_cloud_pub_ = node_->create_publisher<Cloud2>(name("detect_bbox_cloud"), qos);
  class_cloud_info_pub_ = node_->create_publisher<Cloud2>(name("class_cloud_info"), qos);
  no_remove_ground_cloud_info_pub_ =
    node_->create_publisher<Cloud2>(name("no_remove_ground_cloud_info"), qos);
  ori_static_obstacle_cloud_pub_ =
    node_->create_publisher<Cloud2>(name("ori_static_obstacle_cloud"), qos);
  ori_dynamic_obstacle_cloud_pub_ =
    node_->create_publisher<Cloud2>(name("ori_dynamic_obstacle_cloud"), qos);
  ori_coffee_obstacle_cloud_pub_ =
    node_->create_publisher<Cloud2>(name("ori_coffee_obstacle_cloud"), qos);
  static_obstacle_cloud_pub_ = node_->create_publisher<Semantic>(name("static_obstacle_cloud"), qos);
  dynamic_obstacle_cloud_pub_ =
    node_->create_publisher<Semantic>(name("dynamic_obstacle_cloud"), qos);
  coffee_obstacle_cloud_pub_ = node_->create_publisher<Semantic>(name("coffee_obstacle_cloud"), qos);
  people_info_pub_ =
    node_->create_publisher<nimbra_protocol::msg::ObjectList>(name("people_info"), qos);
  web_trash_pub_ = node_->create_publisher<nimbra_protocol::msg::Trashes>(name("web_trash"), qos);
  robot_event_pub_ = node_->create_publisher<nimbra_protocol::msg::RobotEvent>("robot_event", qos);
  dangerous_ori_region_cloud_pub_ =
    node_->create_publisher<Cloud2>(name("dangerous_ori_region_cloud"), qos);
  lethal_region_cloud_pub_ = node_->create_publisher<Cloud2>(name("lethal_region_cloud"), qos);
  dangerous_region_cloud_pub_ = node_->create_publisher<Cloud2>(name("dangerous_region_cloud"), qos);
  lethal_region_sem_cloud_pub_ =
    node_->create_publisher<Semantic>(name("lethal_region_sem_cloud"), qos);
  dangerous_region_sem_cloud_pub_ =
    node_->create_publisher<Semantic>(name("dangerous_region_sem_cloud"), qos);
  dangerous_region_map_image_pub_ =
    node_->create_publisher<Image>(name("dangerous_region_map_image_topic"), qos);
  dangerous_region_map_dilate_image_pub_ =
    node_->create_publisher<Image>(name("dangerous_region_map_dilate_image_topic"), qos);
  lethal_region_map_dilate_image_pub_ =
    node_->create_publisher<Image>(name("lethal_region_map_dilate_image_topic"), qos);
  LOG_DEBUG("initialize Publisher end");
}

}  // namespace nimbra
