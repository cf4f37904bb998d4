// Labelling and publishing of a depth camera: the region step for detections that bypass ground
// removal, the labelling of clusters with the instance masks, the obstacle groups and people.
#include <chrono>

#include "camera/depth_camera.hpp"
#include "camera/obstacle_messages.hpp"
#include "camera/stage_timing.hpp"
#include "common/camera_frame_registry.hpp"
#include "common/cloud.hpp"
#include "common/logger.hpp"
#include "common/obstacle_groups.hpp"
#include "common/region_extraction.hpp"
#include "common/semantic_type.hpp"
#include "nimbra_perception_libs/dynamic_cloud_detector.hpp"

namespace nimbra
{

void DepthCamera::noRemoveGroundRegions(
  const sensor_msgs::msg::Image & depth, const AiResult & no_remove_bboxs_info, double stamp,
  std::vector<ClassCloudInfo> & floor_regions)
{
  floor_regions.clear();
  if (no_remove_bboxs_info.detections.empty()) {
    return;
  }
  RegionExtractionParams params;
  params.intrinsics = CameraIntrinsics{fx_, fy_, cx_, cy_};
  params.stride = config_.sample_kernel_size;
  params.cam_to_base = cam_to_base_;
  RegionExtractionResult regions;
  extractDetectionRegions(no_remove_bboxs_info.detections, depth, *processing_ctx_, params,
    ai_config_->height_ranges, regions);
  if (!regions.errors.empty() && !region_mapping_warned_) {
    region_mapping_warned_ = true;
    LOG_WARN("cam_{0:d} region step refused a detection (reported once): {1:s}", cam_id,
      regions.errors.front());
  }
  for (std::size_t i = 0; i < regions.dangerous_stats.size(); ++i) {
    LOG_DEBUG("cam_{0:d} :dangerous_numCluster = {1:d}, dangerous_point_num = {2:d}", cam_id,
      regions.dangerous_stats[i].cluster_count, regions.dangerous_stats[i].kept_points);
  }
  floor_regions = std::move(regions.floor_regions);
  if (config_.debug) {
    dangerous_ori_region_cloud_pub_->publish(makeColouredCloud(regions.dangerous_regions, stamp));
  }
  if (!cameraFillsRegionMap(cam_id, config_.dangerous_use_two_camera)) {
    return;
  }
  std::lock_guard<std::mutex> lock(grid_para_.mutex);
  if (!grid_idle_.load()) {
    return;
  }
  auto fill = [&](RegionMapPart & part, int32_t iterations) {
      part.regions = regions.dangerous_regions;
      part.extra.assign(1, ClassCloudInfo());
      part.map_image = cv::Mat();
      part.dilated_map_image = cv::Mat();
      part.grid_width = config_.gridWidth;
      part.grid_height = config_.gridHeight;
      part.grid_resolution = config_.gridResolution;
      part.kernel_size = config_.kernel_size;
      part.iterations = iterations;
      part.stamp = stamp;
    };
  fill(grid_para_.record.lethal, config_.lethal_iter);
  fill(grid_para_.record.dangerous, config_.dangerous_iter);
  grid_idle_.store(false);
  grid_para_.cv.notify_all();
}

void DepthCamera::pointCloudAssignLable(
  const std::vector<PointCloud::Ptr> & clusters, const AiResult & ai_result,
  const std::vector<ClassCloudInfo> & floor_regions, double stamp)
{
  const auto start = StageClock::now();
  std::vector<ClassCloudInfo> class_cloud_info;
  processing_ctx_->cloudDynamicStaticSplit(clusters, ai_result, CameraIntrinsics{fx_, fy_, cx_, cy_},
    base_to_cam_, depth_width_, depth_height_, class_cloud_info);
  LOG_DEBUG("class_cloud_info size = {0:d} of the cam_{1:d}", class_cloud_info.size(), cam_id);
  const auto split_end = StageClock::now();
  class_cloud_info_pub_->publish(makeColouredCloud(class_cloud_info, stamp));
  no_remove_ground_cloud_info_pub_->publish(makeColouredCloud(floor_regions, stamp));
  // Sorting reads the detector's ready flag once and clears it, used or not.
  ObstacleGroups groups =
    sortObstacleGroups(std::move(class_cloud_info), floor_regions, dynamic_detector_.get());
  LOG_DEBUG(
    "static_cloud_info size = {0:d}, dynamic_cloud_info size = {1:d}, coffee_cloud_info size = "
    "{2:d} of the cam_{3:d}", groups.static_cloud_info.size(), groups.dynamic_cloud_info.size(),
    groups.coffee_cloud_info.size(), cam_id);
  const auto sort_end = StageClock::now();
  people_info_pub_->publish(makePeopleList(groups.dynamic_cloud_info, cam_id, stamp));
  dynamicAndStaticPublic(groups.dynamic_cloud_info, groups.static_cloud_info,
    groups.coffee_cloud_info, stamp);
  const auto publish_end = StageClock::now();
  if (config_.debug) {
    LOG_DEBUG("cam_{0:d} :Func<cloudDynamicStaticSplit> runtime = {1:d}(us)", cam_id,
      microsecondsBetween(start, split_end));
    LOG_DEBUG("cam_{0:d} :Func<pointCloudPostcress> runtime = {1:d}(us)", cam_id,
      microsecondsBetween(split_end, sort_end));
    LOG_DEBUG("cam_{0:d} :Func<dynamicAndStaticPublic> runtime = {1:d}(us)", cam_id,
      microsecondsBetween(sort_end, publish_end));
  }
}

void DepthCamera::dynamicAndStaticPublic(
  const std::vector<ClassCloudInfo> & dynamic_cloud_info,
  const std::vector<ClassCloudInfo> & static_cloud_info,
  const std::vector<ClassCloudInfo> & coffee_cloud_info, double stamp)
{
  publishSemanticPointCloud(static_cloud_info, static_obstacle_cloud_pub_,
    ori_static_obstacle_cloud_pub_, config_.debug, stamp);
  LOG_DEBUG("public static obstacle of the cam_{0:d}", cam_id);
  publishSemanticPointCloud(dynamic_cloud_info, dynamic_obstacle_cloud_pub_,
    ori_dynamic_obstacle_cloud_pub_, config_.debug, stamp);
  LOG_DEBUG("public dynamic obstacle of the cam_{0:d}", cam_id);
  publishSemanticPointCloud(coffee_cloud_info, coffee_obstacle_cloud_pub_,
    ori_coffee_obstacle_cloud_pub_, config_.debug, stamp);
  LOG_DEBUG("public coffee obstacle of the cam_{0:d}", cam_id);
}

void DepthCamera::publishSemanticPointCloud(
  const std::vector<ClassCloudInfo> & pieces,
  const Publisher<nimbra_protocol::msg::SemanticPointCloud> & semantic_publisher,
  const Publisher<sensor_msgs::msg::PointCloud2> & cloud_publisher, bool debug, double stamp)
{
  if (!semantic_publisher) {
    return;
  }
  const auto record = CameraFrameRegistry::instance().find(cam_id);
  const CameraFrameState extent = record ? record->state() : CameraFrameState();
  std::size_t points = 0;
  const auto msg = makeSemanticPointCloud(pieces, cam_id, record ? &extent : nullptr, stamp,
      points);
  semantic_publisher->publish(msg);
  if (debug && cloud_publisher) {
    cloud_publisher->publish(makeColouredCloud(pieces, stamp));
  }
  if (config_.debug) {
    const auto now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch()).count();
    LOG_INFO("trace perception send data timestamp: {} (ms), camera_id: {}, cluster_size: {}, "
      "points: {}", now_ms, cam_id, msg.clusters.size(), points);
  }
}

}  // namespace nimbra
