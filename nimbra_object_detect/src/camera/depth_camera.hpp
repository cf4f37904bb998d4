// One depth camera of the node: its configuration, service objects, worker threads, subscriptions
// and publishers. The definition is spread over files by concern:
//   depth_camera.cpp               construction, topic catalogue, transforms, shutdown
//   depth_camera_params.cpp        live ground-parameter updates
//   depth_camera_intake.cpp        colour ring, pairing, staleness (colour/depth/task-state callbacks)
//   ai_worker.cpp                  inference hand-off, worker loop, detection filtering
//   depth_camera_pipeline.cpp      the per-frame stage order
//   depth_camera_labelling.cpp     labelling, region step and obstacle publishing
//   depth_camera_trashcallback.cpp the trash worker
#pragma once

#include <Eigen/Core>
#include <opencv2/core/mat.hpp>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nimbra_protocol/msg/detected_wastes.hpp>
#include <nimbra_protocol/msg/object_list.hpp>
#include <nimbra_protocol/msg/robot_event.hpp>
#include <nimbra_protocol/msg/semantic_point_cloud.hpp>
#include <nimbra_protocol/msg/task_center_fsm_status.hpp>
#include <nimbra_protocol/msg/trashes.hpp>
#include <rcl_interfaces/msg/set_parameters_result.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <std_msgs/msg/bool.hpp>

#include "camera/camera_config.hpp"
#include "camera/hand_off.hpp"
#include "camera/region_map_record.hpp"
#include "camera/trash_frame.hpp"
#include "common/ai_result.hpp"
#include "common/class_cloud_info.hpp"
#include "rclcdds/lifecycle_node.hpp"
#include "rclcdds/subscription.hpp"
#include "tracker/waste_observation.hpp"

namespace orvix
{
namespace model
{
class YOLOv8Seg;
}  // namespace model
namespace perception
{
class DynamicCloudDetector;
class TrashTracker;
}  // namespace perception
}  // namespace orvix

namespace rclcdds
{
namespace tf2_ros
{
class Buffer;
class TransformListener;
}  // namespace tf2_ros
}  // namespace rclcdds

namespace semantic
{
struct AiConfig;
}  // namespace semantic

namespace nimbra
{

class Cloud;

/// Per-camera processing object: pairs depth with colour, segments, builds and labels clouds.
class DepthCamera
{
public:
  using Node = rclcdds_lifecycle::LifecycleNode;
  template<typename MessageT>
  using Publisher = std::shared_ptr<rclcdds_lifecycle::LifecyclePublisher<MessageT>>;
  using PointCloud = pcl::PointCloud<pcl::PointXYZ>;

  /// AI hand-off record: the posted colour image and the worker's answer.
  struct AiThreadInputPara
  {
    cv::Mat image;    ///< colour image to segment (rgb8)
    AiResult result;  ///< filtered detections of `image`
  };

  /// Trash hand-off record: one frame's depth image and detections, and the worker thresholds.
  struct TrashThreadInputPara
  {
    sensor_msgs::msg::Image::ConstSharedPtr msg;  ///< depth image of the frame
    cv::Mat image;                                ///< colour image of the frame (carried only)
    std::vector<Detection> detections;            ///< filtered detections of the frame
    double ai_extra = 0.0;                        ///< time value of the AI result (carried only)
    float trash_distance_threshold = 1.5F;        ///< farthest accepted item ahead, metres
    float robot_angular_threshold = 0.5F;         ///< turn rate that abandons a frame, rad/s
    int32_t bbox_edge_threshold = 5;              ///< border margin of accepted boxes, pixels
  };

  /**
   * @brief Reads the camera's configuration, waits for camera_info and the camera-to-base
   * transform, builds the service objects, starts the workers, and creates every topic.
   * @param tracker the shared trash tracker; empty: this camera detects no trash
   * @throws on configuration errors (wrong parameter type, unreadable file), naming the cause
   */
  DepthCamera(
    const std::shared_ptr<Node> & node, int cam_id, const std::string & depth_topic,
    const std::string & rgb_topic, const std::string & camera_info_topic,
    const std::shared_ptr<orvix::perception::TrashTracker> & tracker);

  /// Stops and joins the workers (each finishes the frame in hand).
  ~DepthCamera();

  DepthCamera(const DepthCamera &) = delete;
  DepthCamera & operator=(const DepthCamera &) = delete;

  /// Written by the node's activate/deactivate; the frame callbacks drop input while false.
  std::atomic<bool> activated_{false};

  /// @brief Looks up `source` -> `target` at `stamp` (0.5 s timeout) into `out`.
  /// @return false, logging the reason and leaving `out` unchanged, when it is unavailable
  bool getTransformMatrix(
    const std::string & target, const std::string & source, double stamp, Eigen::Matrix4f & out);

  // --- frame callbacks (bound to the subscriptions) -------------------------------------------
  void rgbCallback(const sensor_msgs::msg::Image::ConstSharedPtr & msg);
  void depthCallback(const sensor_msgs::msg::Image::ConstSharedPtr & msg);
  void fsmStatusCallback(const nimbra_protocol::msg::TaskCenterFsmStatus::ConstSharedPtr & msg);
  /// @brief Accepts matching "cam<n>_params.<field>" doubles into the ground parameters.
  rcl_interfaces::msg::SetParametersResult dynamicParametersCallback(
    const std::vector<rclcdds::Parameter> & parameters);

  // --- read access for tests and tools --------------------------------------------------------
  int32_t camId() const { return cam_id; }
  const CameraConfig & config() const { return config_; }
  orvix::perception::GroundRemovalParams groundParams() const;
  bool groundParamsChanged() const { return ground_params_changed_.load(); }
  const Eigen::Matrix4f & camToBase() const { return cam_to_base_; }
  bool aiThreadRunning() const { return ai_thread_.joinable(); }
  bool trashThreadRunning() const { return trash_thread_.joinable(); }
  /// Ring scans of the last depth frame's colour search.
  int64_t lastPairingScans() const { return last_pairing_scans_; }
  /// The colour frame paired with the last depth frame (empty when none).
  sensor_msgs::msg::Image::SharedPtr pairedRgb() const { return paired_rgb_; }
  bool tradOnly() const { return trad_only_; }
  bool fsmCloseAi() const { return fsm_close_ai_.load(); }
  uint64_t processedFrames() const { return processed_frame_count_; }
  uint64_t staleFrames() const { return stale_frame_count_; }
  uint64_t malformedFrames() const { return malformed_depth_count_ + malformed_rgb_count_; }
  /// Runs inference on `image` as the pipeline does (inline, or through the worker when it runs).
  AiResult segment(const cv::Mat & image);

private:
  // construction (depth_camera.cpp)
  void getConfigParameters();
  void getRemoveGroundPara();
  void getGroundHeightPara();
  void getPointCloudClusterPara();
  void initializeAi();
  void initializeCameraInfo(const std::string & camera_info_topic);
  void initializeSubscriber(const std::string & depth_topic, const std::string & rgb_topic);
  void initializePublisher();
  void registerWithTracker();
  void stopWorkers();

  // frames (depth_camera_intake.cpp, depth_camera_pipeline.cpp)
  bool pairColourFrame(double depth_stamp, double & rgb_stamp, int64_t & scans);
  void process(const sensor_msgs::msg::Image::ConstSharedPtr & depth, double depth_stamp,
    double rgb_stamp);
  void runSegmentation(const cv::Mat & rgb, AiResult & ai_result);
  void offerTrashFrame(const sensor_msgs::msg::Image::ConstSharedPtr & depth,
    const AiResult & ai_result);
  void publishDetectionImage(const cv::Mat & rgb, const AiResult & ai_result);
  void updateDynamicDetector(
    const sensor_msgs::msg::Image & depth, double depth_stamp, const PointCloud::Ptr & obstacles);
  void publishCloud(const Publisher<sensor_msgs::msg::PointCloud2> & publisher,
    const PointCloud & cloud, double stamp);
  void publishClusterCloud(const std::vector<PointCloud::Ptr> & clusters, double stamp);

  // AI (ai_worker.cpp)
  void aiThreadLoop(HandOff<AiThreadInputPara> * para);
  void aiInference(const cv::Mat & image, AiResult & result);

  // labelling and publishing (depth_camera_labelling.cpp)
  void noRemoveGroundRegions(const sensor_msgs::msg::Image & depth,
    const AiResult & no_remove_bboxs_info, double stamp,
    std::vector<ClassCloudInfo> & floor_regions);
  void dynamicAndStaticPublic(const std::vector<ClassCloudInfo> & dynamic_cloud_info,
    const std::vector<ClassCloudInfo> & static_cloud_info,
    const std::vector<ClassCloudInfo> & coffee_cloud_info, double stamp);
  void publishSemanticPointCloud(const std::vector<ClassCloudInfo> & pieces,
    const Publisher<nimbra_protocol::msg::SemanticPointCloud> & semantic_publisher,
    const Publisher<sensor_msgs::msg::PointCloud2> & cloud_publisher, bool debug, double stamp);
  void pointCloudAssignLable(
    const std::vector<PointCloud::Ptr> & clusters, const AiResult & ai_result,
    const std::vector<ClassCloudInfo> & floor_regions, double stamp);

  // trash (depth_camera_trashcallback.cpp)
  void trashDetectionCallback(HandOff<TrashThreadInputPara> * para);
  void trashFrame(TrashThreadInputPara & para);

  // identity and wiring
  int32_t cam_id = 0;
  Node * node_ = nullptr;  ///< owner of this camera; outlives it
  rclcdds_lifecycle::LifecycleNode::OnSetParametersCallbackHandle::SharedPtr param_cb_handle_;

  // geometry
  float fx_ = 0.0F;
  float fy_ = 0.0F;
  float cx_ = 0.0F;
  float cy_ = 0.0F;
  std::string camera_frame_id_;
  int32_t depth_width_ = 320;
  int32_t depth_height_ = 200;
  Eigen::Matrix4f cam_to_base_ = Eigen::Matrix4f::Identity();  ///< camera -> base_footprint
  Eigen::Matrix4f base_to_cam_ = Eigen::Matrix4f::Identity();  ///< base_footprint -> camera
  std::shared_ptr<rclcdds::tf2_ros::Buffer> tf_buffer_;
  std::shared_ptr<rclcdds::tf2_ros::TransformListener> tf_listener_;

  // configuration
  CameraConfig config_;
  orvix::perception::GroundRemovalParams ground_params_;
  orvix::perception::CloudClusterPara cluster_params_;
  mutable std::mutex ground_mutex_;  ///< guards ground_params_ and the remover replacement
  std::atomic<bool> ground_params_changed_{false};

  // service objects
  std::shared_ptr<Cloud> processing_ctx_;
  std::shared_ptr<orvix::perception::DynamicCloudDetector> dynamic_detector_;
  std::shared_ptr<semantic::AiConfig> ai_config_;
  std::shared_ptr<orvix::model::YOLOv8Seg> model_;
  std::shared_ptr<orvix::perception::TrashTracker> trash_tracker_;

  // colour intake and pairing
  std::vector<sensor_msgs::msg::Image> rgb_ring_;
  uint64_t rgb_write_count_ = 0;
  std::mutex rgb_mutex_;  ///< guards rgb_ring_, rgb_write_count_ and the colour lag statistics
  sensor_msgs::msg::Image::SharedPtr paired_rgb_;
  int32_t no_data_count_ = 0;
  bool trad_only_ = false;
  std::atomic<bool> fsm_close_ai_{false};
  double rgb_lag_sum_ = 0.0;
  uint32_t rgb_lag_count_ = 0;
  double depth_lag_sum_ = 0.0;
  uint32_t depth_lag_count_ = 0;
  uint64_t malformed_rgb_count_ = 0;    ///< colour frames dropped as unreadable
  uint64_t malformed_depth_count_ = 0;  ///< depth frames dropped as unreadable
  int64_t last_pairing_scans_ = 0;      ///< ring scans of the last colour search
  uint64_t processed_frame_count_ = 0;  ///< depth frames that went through the pipeline
  uint64_t stale_frame_count_ = 0;      ///< depth frames dropped by the staleness watchdog

  // hand-offs and workers
  HandOff<AiThreadInputPara> ai_para_;
  std::atomic<int32_t> ai_state_{0};  ///< 0 idle, 1 request posted, 2 result ready
  HandOff<TrashThreadInputPara> trash_para_;
  std::atomic<bool> trash_idle_{true};
  HandOff<RegionMapRecord> grid_para_;       ///< region-map hand-off; no consumer in this node
  std::atomic<bool> grid_idle_{true};
  bool region_mapping_warned_ = false;       ///< a detection mask could not be mapped to depth
  std::thread ai_thread_;
  std::thread trash_thread_;

  // trash worker state: the frame rules (thresholds, announced bottles) and the event message
  std::unique_ptr<TrashFrameEstimator> trash_frame_;
  nimbra_protocol::msg::RobotEvent robot_event_msg_;

  // subscriptions
  rclcdds::CallbackGroup::SharedPtr rgb_group_;
  rclcdds::CallbackGroup::SharedPtr depth_group_;
  rclcdds::Subscription<sensor_msgs::msg::Image>::SharedPtr rgb_sub_;
  rclcdds::Subscription<sensor_msgs::msg::Image>::SharedPtr depth_sub_;
  rclcdds::Subscription<nimbra_protocol::msg::TaskCenterFsmStatus>::SharedPtr fsm_sub_;

  // publishers, in catalogue order
  Publisher<std_msgs::msg::Bool> data_status_pub_;
  Publisher<sensor_msgs::msg::PointCloud2> base_cloud_pub_;
  Publisher<sensor_msgs::msg::PointCloud2> obstacle_cloud_pub_;
  Publisher<sensor_msgs::msg::PointCloud2> ground_cloud_pub_;
  Publisher<sensor_msgs::msg::PointCloud2> cluster_cloud_pub_;
  Publisher<sensor_msgs::msg::Image> detect_bbox_image_pub_;
  Publisher<sensor_msgs::msg::Image> cloud_bbox_image_pub_;
  Publisher<sensor_msgs::msg::PointCloud2> detect_bbox_cloud_pub_;
  Publisher<sensor_msgs::msg::PointCloud2> class_cloud_info_pub_;
  Publisher<sensor_msgs::msg::PointCloud2> no_remove_ground_cloud_info_pub_;
  Publisher<sensor_msgs::msg::PointCloud2> ori_static_obstacle_cloud_pub_;
  Publisher<sensor_msgs::msg::PointCloud2> ori_dynamic_obstacle_cloud_pub_;
  Publisher<sensor_msgs::msg::PointCloud2> ori_coffee_obstacle_cloud_pub_;
  Publisher<nimbra_protocol::msg::SemanticPointCloud> static_obstacle_cloud_pub_;
  Publisher<nimbra_protocol::msg::SemanticPointCloud> dynamic_obstacle_cloud_pub_;
  Publisher<nimbra_protocol::msg::SemanticPointCloud> coffee_obstacle_cloud_pub_;
  Publisher<nimbra_protocol::msg::ObjectList> people_info_pub_;
  Publisher<nimbra_protocol::msg::Trashes> web_trash_pub_;
  Publisher<nimbra_protocol::msg::RobotEvent> robot_event_pub_;
  Publisher<sensor_msgs::msg::PointCloud2> dangerous_ori_region_cloud_pub_;
  Publisher<sensor_msgs::msg::PointCloud2> lethal_region_cloud_pub_;
  Publisher<sensor_msgs::msg::PointCloud2> dangerous_region_cloud_pub_;
  Publisher<nimbra_protocol::msg::SemanticPointCloud> lethal_region_sem_cloud_pub_;
  Publisher<nimbra_protocol::msg::SemanticPointCloud> dangerous_region_sem_cloud_pub_;
  Publisher<sensor_msgs::msg::Image> dangerous_region_map_image_pub_;
  Publisher<sensor_msgs::msg::Image> dangerous_region_map_dilate_image_pub_;
  Publisher<sensor_msgs::msg::Image> lethal_region_map_dilate_image_pub_;
};

}  // namespace nimbra
