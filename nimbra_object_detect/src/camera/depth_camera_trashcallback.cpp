// The trash worker of a depth camera: turns the frame's litter detections into map-frame
// observations for the shared tracker, and announces out-of-band bottles (camera 1).
#include <Eigen/Geometry>

#include <chrono>
#include <cmath>

#include <geometry_msgs/msg/pose.hpp>
#include <geometry_msgs/msg/twist.hpp>

#include "camera/depth_camera.hpp"
#include "camera/trash_estimator.hpp"
#include "common/cloud.hpp"
#include "common/depth_image_view.hpp"
#include "common/logger.hpp"
#include "common/semantic_type.hpp"
#include "nimbra_perception_libs/perception_utils.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/conversions/cv_bridge.hpp"
#include "rclcdds/wait_for_message.hpp"
#include "tracker/trash_tracker.hpp"

namespace nimbra
{

namespace
{

constexpr auto kVelocityWait = std::chrono::milliseconds(100);
constexpr int32_t kBottleEventType = 4;
constexpr int32_t kBottleEventCode = 50012;

geometry_msgs::msg::Pose PoseOf(const Eigen::Matrix4f & transform)
{
  geometry_msgs::msg::Pose pose;
  pose.position.x = transform(0, 3);
  pose.position.y = transform(1, 3);
  pose.position.z = transform(2, 3);
  const Eigen::Quaternionf rotation(transform.block<3, 3>(0, 0));
  pose.orientation.x = rotation.x();
  pose.orientation.y = rotation.y();
  pose.orientation.z = rotation.z();
  pose.orientation.w = rotation.w();
  return pose;
}

}  // namespace

void DepthCamera::trashDetectionCallback(HandOff<TrashThreadInputPara> * para)
{
  std::unique_lock<std::mutex> lock(para->mutex);
  for (;;) {
    para->cv.wait(lock, [this, para] {
        return !trash_idle_.load(std::memory_order_acquire) || para->stop.load();
      });
    if (para->stop.load()) {
      return;
    }
    // The lock stays held for the whole frame; one exception boundary keeps the worker alive.
    try {
      trashFrame(para->record);
    } catch (const std::exception & e) {
      LOG_ERROR("cam_{0:d} trash frame dropped: {1:s}", cam_id, e.what());
    }
    para->record.msg.reset();
    para->record.detections.clear();
    trash_idle_.store(true, std::memory_order_release);
  }
}

void DepthCamera::trashFrame(TrashThreadInputPara & para)
{
  // Velocity gate: nothing is measured while the robot turns fast.
  geometry_msgs::msg::Twist twist;
  if (rclcdds::wait_for_message(twist, node_, "cmd_vel", kVelocityWait) &&
    std::fabs(twist.angular.z) > para.robot_angular_threshold)
  {
    LOG_DEBUG("cam_{}, cmd_vel: {} too large, thus abandoned!", cam_id, twist.angular.z);
    return;
  }
  if (!rclcdds::ok()) {
    return;
  }
  std::vector<Detection> trash_list;
  std::vector<Detection> base_waiting_list;
  for (const auto & detection : para.detections) {
    const std::string name = semantic::SemanticTypeName(detection.type);
    LOG_DEBUG("cam_{}, class_id={}, class_name={}, score={}", cam_id,
      static_cast<int32_t>(detection.type), name, detection.score);
    if (config_.trash_class_set_.count(static_cast<int32_t>(detection.type)) > 0) {
      trash_list.push_back(detection);
      LOG_DEBUG("cam_{}, trash, class_name={}", cam_id, name);
    } else if (detection.type == semantic::BASE || detection.type == semantic::WAITING_BENCH) {
      base_waiting_list.push_back(detection);
      LOG_DEBUG("cam_{}, base_or_waiting, class_name={}", cam_id, name);
    }
  }
  LOG_DEBUG("cam_{}, trash size={}, base_waiting size={}", cam_id, trash_list.size(),
    base_waiting_list.size());

  const sensor_msgs::msg::Image & depth = *para.msg;
  const double stamp = orvix::perception::TimeToDouble(depth.header);
  Eigen::Matrix4f cam_to_map;
  if (!getTransformMatrix("map", depth.header.frame_id, stamp, cam_to_map)) {
    LOG_DEBUG("cam_{}, cam_to_map_transform_matrix except, thus abandoned!", cam_id);
    return;
  }
  Eigen::Matrix4f base_to_map;
  if (!getTransformMatrix("map", "base_footprint", stamp, base_to_map)) {
    LOG_DEBUG("cam_{}, base_to_map_transform_matrix except, thus abandoned!", cam_id);
    return;
  }
  const geometry_msgs::msg::Pose robot_pose = PoseOf(base_to_map);

  std::vector<orvix::perception::WasteObservation> observations;
  if (!trash_list.empty()) {
    measureTrash(para, depth, trash_list, base_waiting_list, cam_to_map, observations);
  }
  trash_tracker_->Update(observations, robot_pose);
  trash_tracker_->Publish();
}

void DepthCamera::measureTrash(
  const TrashThreadInputPara & para, const sensor_msgs::msg::Image & depth,
  const std::vector<Detection> & trash_list, const std::vector<Detection> & base_waiting_list,
  const Eigen::Matrix4f & cam_to_map, std::vector<orvix::perception::WasteObservation> & observations)
{
  // Depth in metres: millimetre encodings scaled, metre encodings as they are.
  cv::Mat depth_m;
  rclcdds::cv_bridge::toCvCopy(depth)->image.convertTo(
    depth_m, CV_32F, depthScaleForEncoding(depth.encoding));
  TrashCamera camera;
  camera.fx = fx_;
  camera.fy = fy_;
  camera.cx = cx_;
  camera.cy = cy_;
  camera.width = depth_m.cols;
  camera.height = depth_m.rows;
  camera.depth_max = processing_ctx_->config().depth_max;
  camera.cam_to_base = cam_to_base_;
  bool broadcast_done = false;
  pcl::PointCloud<pcl::PointXYZ> cloud;
  for (const auto & original : trash_list) {
    // Detections live in the colour image; boxes and masks are mapped onto the depth image.
    Detection detection;
    if (!mapDetectionToImage(original, camera.width, camera.height, detection)) {
      LOG_WARN("cam_{0:d} trash mask of type {1:d} cannot be mapped to the depth image", cam_id,
        original.mask.type());
      continue;
    }
    const std::string name = semantic::SemanticTypeName(detection.type);
    if (trashTouchesBorder(detection, para.bbox_edge_threshold, camera.width, camera.height)) {
      LOG_DEBUG("cam_{}, trash bbox except, thus abandoned!", cam_id);
      continue;
    }
    trashInstanceCloud(depth_m, detection, camera, cloud);
    if (cloud.size() < kMinTrashPosePoints) {
      LOG_DEBUG("cam_{}, Too few points to estimate trash pose, thus abandoned!", cam_id);
      continue;
    }
    const Eigen::Vector3f centroid = trashCentroid(cloud);
    const Eigen::Vector4f base = cam_to_base_ * centroid.homogeneous();
    if (base.x() > para.trash_distance_threshold + 0.5F) {
      LOG_DEBUG("cam_{}, trash cloud position {} is out of range, thus abandoned!", cam_id,
        base.x());
      continue;
    }
    bool on_obstacle = false;
    for (const auto & b : base_waiting_list) {
      const float iou = orvix::perception::boxIou(
        static_cast<float>(original.x1), static_cast<float>(original.y1),
        static_cast<float>(original.x2), static_cast<float>(original.y2),
        static_cast<float>(b.x1), static_cast<float>(b.y1), static_cast<float>(b.x2),
        static_cast<float>(b.y2), false);
      LOG_DEBUG("cam_{}, iou={}, trash_mask_iou_v1={}", cam_id, iou, trash_mask_iou_v1);
      if (iou > trash_mask_iou_v1) {
        LOG_DEBUG("cam_{} : trash={} is above obstacle={}", cam_id, name,
          semantic::SemanticTypeName(b.type));
        on_obstacle = true;
      }
    }
    bool trash_use_status = on_obstacle;
    if (!on_obstacle) {
      const auto band = ai_config_->height_ranges.find(detection.type);
      if (band == ai_config_->height_ranges.end()) {
        // A class without a height band cannot be judged; say so once per class.
        if (warned_missing_height_.insert(static_cast<int32_t>(detection.type)).second) {
          LOG_WARN("cam_{0:d} trash class {1:s} has no height range in the model height file; "
            "its detections are not used", cam_id, name);
        }
      } else if (base.z() < band->second.second) {
        LOG_DEBUG("cam_{} : trash={} is above ground", cam_id, name);
        trash_use_status = true;
      }
    }
    LOG_DEBUG("cam_{} : trash_use_status={}", cam_id, trash_use_status);
    const Eigen::Vector4f map = cam_to_map * centroid.homogeneous();
    const std::vector<float> size = ComputeWasteSize3D(cloud, cam_to_base_);
    if (size[0] * size[1] < min_trash_area_) {
      LOG_DEBUG("cam_{} : trash area too small, filterd!", cam_id);
      continue;
    }
    orvix::perception::WasteObservation observation;
    observation.x = map.x();
    observation.y = map.y();
    observation.z = map.z();
    observation.distance = centroid.norm();
    observation.type = static_cast<int32_t>(detection.type);
    observation.size = size;
    if (trash_use_status) {
      observations.push_back(observation);
    } else if (cam_id == 1 && !broadcast_done && detection.type == semantic::BOTTLE) {
      broadcast_done = announceBottle(observation, name);
    }
  }
}

bool DepthCamera::announceBottle(
  const orvix::perception::WasteObservation & observation, const std::string & name)
{
  LOG_DEBUG("cam_{} : trash={} not in roi", cam_id, name);
  for (const auto & earlier : broadcast_history_) {
    const double map_dis = std::hypot(observation.x - earlier.x, observation.y - earlier.y);
    if (map_dis < no_clean_trash_map_dis_th_) {
      LOG_DEBUG("cam_{} : map_dis < no_clean_trash_map_dis_th_", cam_id);
      return false;
    }
  }
  LOG_INFO("cam_{} : trash = {} not in roi and trash broadcast", cam_id, name);
  broadcast_history_.push_back(observation);
  robot_event_msg_.event_type = kBottleEventType;
  robot_event_msg_.event_code = kBottleEventCode;
  robot_event_pub_->publish(robot_event_msg_);
  return true;
}

}  // namespace nimbra
