// The trash worker of a depth camera: turns the frame's litter detections into map-frame
// observations for the shared tracker, and announces out-of-band bottles (camera 1).
#include <Eigen/Geometry>

#include <chrono>
#include <cmath>

#include <geometry_msgs/msg/pose.hpp>
#include <geometry_msgs/msg/twist.hpp>

#include "camera/depth_camera.hpp"
#include "camera/stage_timing.hpp"
#include "camera/trash_frame.hpp"
#include "common/cloud.hpp"
#include "common/depth_image_view.hpp"
#include "common/logger.hpp"
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
  trash_frame_->split(para.detections, trash_list, base_waiting_list);

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
  const geometry_msgs::msg::Pose robot_pose = poseOfTransform(base_to_map);

  TrashFrameResult result;
  if (!trash_list.empty()) {
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
    result = trash_frame_->estimate(trash_list, base_waiting_list, depth_m, camera, cam_to_map,
        ai_config_->height_ranges);
  }
  if (result.announced) {
    robot_event_msg_.event_type = kBottleEventType;
    robot_event_msg_.event_code = kBottleEventCode;
    robot_event_pub_->publish(robot_event_msg_);
  }
  trash_tracker_->Update(result.observations, robot_pose);
  trash_tracker_->Publish();
}

}  // namespace nimbra
