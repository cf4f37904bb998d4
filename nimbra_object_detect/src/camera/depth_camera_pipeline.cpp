// The per-frame stage order of a depth camera: from the decoded colour frame and segmentation to
// the cloud, ground removal, clustering, the dynamic detector and the labelling step.
#include <Eigen/Geometry>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>

#include "camera/depth_camera.hpp"
#include "camera/detection_filter.hpp"
#include "camera/stage_timing.hpp"
#include "common/camera_frame_registry.hpp"
#include "common/cloud.hpp"
#include "common/cloud_preprocess.hpp"
#include "common/color_palette.hpp"
#include "common/depth_image_view.hpp"
#include "common/depth_to_cloud.hpp"
#include "common/logger.hpp"
#include "common/semantic_type.hpp"
#include "nimbra_perception_libs/cloud_cluster.hpp"
#include "nimbra_perception_libs/dynamic_cloud_detector.hpp"
#include "nimbra_perception_libs/perception_utils.hpp"
#include "nimbra_perception_libs/remove_ground_line_fit.hpp"
#include "rclcdds/conversions/cv_bridge.hpp"
#include "rclcdds/conversions/pcl_conversions.hpp"

namespace nimbra
{

namespace
{

cv::Scalar PaletteColour(int64_t row)
{
  const auto & rgb = ColorPaletteRow(row);
  return cv::Scalar(rgb[0], rgb[1], rgb[2]);
}

/// Paints `mask` (any size) onto `canvas`, scaling it to the canvas when the sizes differ.
void PaintMask(cv::Mat & canvas, const cv::Mat & mask, const cv::Scalar & colour)
{
  if (mask.empty() || mask.type() != CV_8UC1) {
    return;
  }
  if (mask.size() == canvas.size()) {
    canvas.setTo(colour, mask);
    return;
  }
  cv::Mat scaled;
  cv::resize(mask, scaled, canvas.size(), 0.0, 0.0, cv::INTER_NEAREST);
  canvas.setTo(colour, scaled);
}

}  // namespace

void DepthCamera::process(
  const sensor_msgs::msg::Image::ConstSharedPtr & depth, double depth_stamp, double rgb_stamp)
{
  // 1. Ground remover refresh after a live parameter change.
  if (ground_params_changed_.load()) {
    LOG_INFO("DepthCamera::process update a new RemoveGroundLineFit");
    std::lock_guard<std::mutex> lock(ground_mutex_);
    processing_ctx_->setGroundRemover(
      std::make_shared<orvix::perception::RemoveGroundLineFit>(ground_params_));
    ground_params_changed_.store(false);
  }
  // 2. Image size.
  depth_width_ = static_cast<int32_t>(depth->width);
  depth_height_ = static_cast<int32_t>(depth->height);
  // 3. Colour decoding (the message was checked on arrival).
  cv::Mat rgb;
  if (paired_rgb_) {
    rgb = rclcdds::cv_bridge::toCvCopy(*paired_rgb_, "rgb8")->image;
  }
  const double frame_stamp = (depth_stamp + rgb_stamp) / 2.0;
  // 4. Segmentation.
  AiResult ai_result;
  const auto ai_start = StageClock::now();
  runSegmentation(rgb, ai_result);
  const auto ai_end = StageClock::now();
  // 5. Trash hand-off.
  offerTrashFrame(depth, ai_result);
  // 6. Detection image.
  if (paired_rgb_ && !rgb.empty()) {
    publishDetectionImage(rgb, ai_result);
  }
  // 7. Detection split: dangerous classes bypass ground removal; a frame without a close colour
  // pair keeps only those.
  AiResult bboxs_info;
  AiResult no_remove_bboxs_info;
  splitDetections(ai_result, config_.dangerous_class_set_, trad_only_, bboxs_info,
    no_remove_bboxs_info);
  LOG_DEBUG("no_remove_bboxs_info size = {0:d}, bboxs_info size = {1:d} of cam_id={2:d}",
    no_remove_bboxs_info.detections.size(), bboxs_info.detections.size(), cam_id);
  // 8. Regions of the detections that bypass ground removal.
  std::vector<ClassCloudInfo> floor_regions;
  noRemoveGroundRegions(*depth, no_remove_bboxs_info, frame_stamp, floor_regions);
  // 9. Depth to cloud.
  const auto cloud_start = StageClock::now();
  auto raw = std::make_shared<PointCloud>();
  RegionCloudRequest whole_image;
  whole_image.x2 = depth_width_;
  whole_image.y2 = depth_height_;
  std::string error;
  if (!DepthToCloud(*processing_ctx_, *depth, fx_, fy_, cx_, cy_, whole_image, *raw,
    config_.sample_kernel_size, &error))
  {
    LOG_DEBUG("cam_{0:d} depth to cloud failed: {1:s}", cam_id, error);
  }
  if (config_.debug) {
    LOG_DEBUG("depth to cloud get points = {}", raw->size());
  }
  const auto cloud_end = StageClock::now();
  // 10. Downsampling.
  auto sampled = std::make_shared<PointCloud>();
  downsampleCloud(*raw, processing_ctx_->config(), *sampled);
  const auto sample_end = StageClock::now();
  // 11. Nothing left to work on.
  if (sampled->empty() || sampled->width == 0) {
    LOG_DEBUG("cam_{0:d} encounter an empty depth cloud", cam_id);
    return;
  }
  // 12. Camera to base.
  auto base_cloud = std::make_shared<PointCloud>();
  transformCloud(*sampled, cam_to_base_, *base_cloud);
  const auto base_end = StageClock::now();
  CameraFrameRegistry::instance().updateViewExtent(cam_id, cam_to_base_, *base_cloud);
  if (config_.debug) {
    publishCloud(base_cloud_pub_, *base_cloud, frame_stamp);
  }
  // 13. Ground removal.
  auto obstacles = std::make_shared<PointCloud>();
  auto ground = std::make_shared<PointCloud>();
  const auto remover = processing_ctx_->groundRemover();
  remover->prepareFilter(base_cloud);
  remover->filter(base_cloud, obstacles, ground);
  LOG_DEBUG(
    "base_cloud size={0:d}, obstacleCloud size={1:d}, groundCloud size={2:d} of the cam_{3:d}",
    base_cloud->size(), obstacles->size(), ground->size(), cam_id);
  if (config_.debug) {
    publishCloud(obstacle_cloud_pub_, *obstacles, frame_stamp);
    publishCloud(ground_cloud_pub_, *ground, frame_stamp);
  }
  const auto ground_end = StageClock::now();
  // 14. Clustering.
  int cluster_count = 0;
  std::vector<PointCloud::Ptr> clusters;
  processing_ctx_->cluster()->obstacleCluster(obstacles, cluster_count, clusters);
  const auto cluster_end = StageClock::now();
  LOG_DEBUG("numCluster = {0:d} of the cam_{1:d}", cluster_count, cam_id);
  if (config_.debug) {
    publishClusterCloud(clusters, frame_stamp);
  }
  // 15. Dynamic detector, with the base pose in odom at the depth stamp.
  updateDynamicDetector(*depth, depth_stamp, obstacles);
  const auto dynamic_end = StageClock::now();
  // 16. Labelling and publishing.
  pointCloudAssignLable(clusters, bboxs_info, floor_regions, frame_stamp);
  const auto label_end = StageClock::now();
  // 17. Stage runtimes.
  if (config_.debug) {
    LOG_DEBUG("cam_{0:d} :<depth_to_cloud> runtime = {1:d}(us)", cam_id,
      microsecondsBetween(cloud_start, cloud_end));
    LOG_DEBUG("cam_{0:d} :<sample_cloud> runtime = {1:d}(us)", cam_id,
      microsecondsBetween(cloud_end, sample_end));
    LOG_DEBUG("cam_{0:d} :<cam_to_base> runtime = {1:d}(us)", cam_id,
      microsecondsBetween(sample_end, base_end));
    LOG_DEBUG("cam_{0:d} :<remove_ground> runtime = {1:d}(us)", cam_id,
      microsecondsBetween(base_end, ground_end));
    LOG_DEBUG("cam_{0:d} :<cloud_cluster> runtime = {1:d}(us)", cam_id,
      microsecondsBetween(ground_end, cluster_end));
    LOG_DEBUG("cam_{0:d} :<dynamic_detector> runtime = {1:d}(us)", cam_id,
      microsecondsBetween(cluster_end, dynamic_end));
    LOG_DEBUG("cam_{0:d} :<trad_method> runtime = {1:d}(us)", cam_id,
      microsecondsBetween(cloud_start, dynamic_end));
    LOG_DEBUG("cam_{0:d} :<pointCloud_assign_lable> runtime = {1:d}(us)", cam_id,
      microsecondsBetween(dynamic_end, label_end));
    LOG_DEBUG("cam_{0:d} :<ai_method> runtime = {1:d}(us)", cam_id,
      microsecondsBetween(ai_start, ai_end));
  }
}

void DepthCamera::offerTrashFrame(
  const sensor_msgs::msg::Image::ConstSharedPtr & depth, const AiResult & ai_result)
{
  if (!trash_thread_.joinable()) {
    return;
  }
  std::lock_guard<std::mutex> lock(trash_para_.mutex);
  if (ai_result.detections.empty() || !trash_idle_.load(std::memory_order_acquire)) {
    return;
  }
  trash_para_.record.msg = depth;
  trash_para_.record.image = ai_result.image;
  trash_para_.record.detections = ai_result.detections;
  trash_para_.record.ai_extra = ai_result.time;
  trash_idle_.store(false, std::memory_order_release);
  trash_para_.cv.notify_all();
}

void DepthCamera::publishDetectionImage(const cv::Mat & rgb, const AiResult & ai_result)
{
  cv::Mat boxes = rgb.clone();
  cv::Mat masks = rgb.clone();
  for (const auto & detection : ai_result.detections) {
    cv::rectangle(boxes, cv::Point(detection.x1, detection.y1),
      cv::Point(detection.x2, detection.y2), cv::Scalar(0, 0, 255), 4, 8);
    const std::string label = semantic::SemanticTypeName(detection.type) + "_" +
      std::to_string(static_cast<int>(detection.score * 100.0F));
    int baseline = 0;
    const cv::Size text = cv::getTextSize(label, 0, 0.8, 2, &baseline);
    const int row = std::min(detection.y1 + text.height, boxes.rows);
    cv::putText(boxes, label, cv::Point((detection.x1 + detection.x2) / 2, row), 0, 0.8,
      cv::Scalar(255, 0, 0), 2, 8);
    PaintMask(masks, detection.mask, PaletteColour(static_cast<int64_t>(detection.type)));
  }
  cv::Mat blended;
  cv::addWeighted(boxes, 0.5, masks, 0.8, 1.0, blended);
  rclcdds::cv_bridge::CvImage image;
  image.encoding = "rgb8";
  image.image = blended;
  detect_bbox_image_pub_->publish(*image.toImageMsg());
}

void DepthCamera::updateDynamicDetector(
  const sensor_msgs::msg::Image & depth, double depth_stamp, const PointCloud::Ptr & obstacles)
{
  Eigen::Matrix4f odom_from_base;
  if (!getTransformMatrix("odom", "base_footprint", depth_stamp, odom_from_base)) {
    return;
  }
  // Millimetre encodings are scaled to metres; metre encodings are used as they are.
  cv::Mat metres;
  rclcdds::cv_bridge::toCvCopy(depth)->image.convertTo(
    metres, CV_32F, depthScaleForEncoding(depth.encoding));
  const geometry_msgs::msg::Pose pose = poseOfTransform(odom_from_base);
  if (!dynamic_detector_->Update(obstacles, metres, pose)) {
    LOG_DEBUG("cam_{0:d} dynamic detector skipped the frame: {1:s}", cam_id,
      dynamic_detector_->lastError());
  }
}

void DepthCamera::publishCloud(
  const Publisher<sensor_msgs::msg::PointCloud2> & publisher, const PointCloud & cloud,
  double stamp)
{
  sensor_msgs::msg::PointCloud2 msg;
  rclcdds::pcl_conversions::toROSMsg(cloud, msg);
  msg.header.frame_id = "base_footprint";
  msg.header.stamp = orvix::perception::DoubleToStamp(stamp);
  publisher->publish(msg);
}

void DepthCamera::publishClusterCloud(const std::vector<PointCloud::Ptr> & clusters, double stamp)
{
  pcl::PointCloud<pcl::PointXYZRGB> coloured;
  for (std::size_t i = 0; i < clusters.size(); ++i) {
    if (!clusters[i]) {
      continue;
    }
    const auto & rgb = ColorPaletteRow(static_cast<int64_t>(i));
    for (const auto & point : clusters[i]->points) {
      pcl::PointXYZRGB p;
      p.x = point.x;
      p.y = point.y;
      p.z = point.z;
      p.r = static_cast<uint8_t>(rgb[0]);
      p.g = static_cast<uint8_t>(rgb[1]);
      p.b = static_cast<uint8_t>(rgb[2]);
      coloured.push_back(p);
    }
  }
  sensor_msgs::msg::PointCloud2 msg;
  rclcdds::pcl_conversions::toROSMsg(coloured, msg);
  msg.header.frame_id = "base_footprint";
  msg.header.stamp = orvix::perception::DoubleToStamp(stamp);
  cluster_cloud_pub_->publish(msg);
}

}  // namespace nimbra
