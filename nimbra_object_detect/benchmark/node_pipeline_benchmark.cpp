// CPU time of the node's per-frame stages on a 640x480 frame of the demo world (stride 2, default
// parameters), without inference: one row per stage of the traditional path, the whole path, the
// labelling and message construction, and one trash frame with five litter detections.
// Run by hand: build/nimbra_object_detect/node_pipeline_benchmark [--benchmark_repetitions=3]
#include <benchmark/benchmark.h>

#include <Eigen/Geometry>
#include <opencv2/core.hpp>

#include <memory>
#include <string>
#include <vector>

#include "camera/detection_filter.hpp"
#include "camera/obstacle_messages.hpp"
#include "camera/trash_estimator.hpp"
#include "common/cloud.hpp"
#include "common/cloud_preprocess.hpp"
#include "common/depth_image_view.hpp"
#include "common/depth_to_cloud.hpp"
#include "common/obstacle_groups.hpp"
#include "common/semantic_type.hpp"
#include "nimbra_demo_scene/ground_truth.hpp"
#include "nimbra_model_zoo/yolov8_seg.hpp"
#include "nimbra_perception_libs/cloud_cluster.hpp"
#include "nimbra_perception_libs/dynamic_cloud_detector.hpp"
#include "nimbra_perception_libs/remove_ground_line_fit.hpp"
#include "nimbra_perception_libs/perception_utils.hpp"
#include "tracker/trash_tracker.hpp"

namespace
{

using PointCloud = pcl::PointCloud<pcl::PointXYZ>;
constexpr uint64_t kFrame = 150;  // the robot passes the bench, the chair and litter

/// One rendered frame of camera 1 with everything the stages need, built once.
struct Frame
{
  sensor_msgs::msg::Image depth;
  cv::Mat rgb;
  nimbra::CameraIntrinsics intrinsics;
  Eigen::Matrix4f cam_to_base = Eigen::Matrix4f::Identity();
  geometry_msgs::msg::Pose odom_pose;
  nimbra::CloudConfig config;
  std::shared_ptr<nimbra::Cloud> context;
  PointCloud::Ptr raw{new PointCloud};
  PointCloud::Ptr sampled{new PointCloud};
  PointCloud::Ptr base{new PointCloud};
  PointCloud::Ptr obstacles{new PointCloud};
  PointCloud::Ptr ground{new PointCloud};
  std::vector<PointCloud::Ptr> clusters;
  nimbra::AiResult detections;
};

Frame & TheFrame()
{
  static Frame frame = [] {
      Frame f;
      nimbra_demo_scene::DemoRig rig(nimbra_demo_scene::DemoRig::Params{});
      const double t = rig.sceneTime(kFrame);
      const auto & rendered = rig.render(kFrame, 0);
      f.depth.width = 640;
      f.depth.height = 480;
      f.depth.encoding = "16UC1";
      f.depth.step = 1280;
      f.depth.data = rendered.depth_16uc1;
      f.rgb = cv::Mat(480, 640, CV_8UC3, const_cast<uint8_t *>(rendered.rgb8.data())).clone();
      const auto & k = rig.intrinsics();
      f.intrinsics = nimbra::CameraIntrinsics{static_cast<float>(k.fx), static_cast<float>(k.fy),
        static_cast<float>(k.cx), static_cast<float>(k.cy)};
      const Eigen::Isometry3d base_from_optical =
        rig.world().mapToBase(t).inverse() * rendered.map_to_optical;
      f.cam_to_base = base_from_optical.matrix().cast<float>();
      const Eigen::Isometry3d odom_to_base = rig.world().odomToBase(t);
      f.odom_pose.position.x = odom_to_base.translation().x();
      f.odom_pose.position.y = odom_to_base.translation().y();
      const Eigen::Quaterniond q(odom_to_base.rotation());
      f.odom_pose.orientation.z = q.z();
      f.odom_pose.orientation.w = q.w();
      f.context = std::make_shared<nimbra::Cloud>(f.config,
        std::make_shared<orvix::perception::CloudCluster>(orvix::perception::CloudClusterPara{}),
        std::make_shared<orvix::perception::RemoveGroundLineFit>(
          orvix::perception::GroundRemovalParams{}));
      nimbra::RegionCloudRequest whole;
      whole.x2 = 640;
      whole.y2 = 480;
      nimbra::DepthToCloud(f.depth, f.intrinsics, whole, f.config.depth_max, 2, *f.raw);
      nimbra::downsampleCloud(*f.raw, f.config, *f.sampled);
      nimbra::transformCloud(*f.sampled, f.cam_to_base, *f.base);
      f.context->groundRemover()->filter(f.base, f.obstacles, f.ground);
      int count = 0;
      f.context->cluster()->obstacleCluster(f.obstacles, count, f.clusters);
      // Detections of the demo model on this frame (inference is not part of any row).
      const std::string description = DEMO_MODEL_DESCRIPTION;
      YAML::Node meta = YAML::LoadFile(description);
      orvix::model::YOLOv8Seg model(meta, description);
      std::vector<orvix::model::ModelDetection> raw;
      model.Infer(f.rgb, raw);
      std::string error;
      semantic::AiConfig ai_config(meta, YAML::Node(), error);
      f.detections.image = f.rgb;
      f.detections.detections = nimbra::filterModelDetections(1, raw, ai_config);
      return f;
    }();
  return frame;
}

void BM_Stage09_DepthToCloud(benchmark::State & state)
{
  Frame & f = TheFrame();
  nimbra::RegionCloudRequest whole;
  whole.x2 = 640;
  whole.y2 = 480;
  PointCloud cloud;
  for (auto _ : state) {
    nimbra::DepthToCloud(f.depth, f.intrinsics, whole, f.config.depth_max, 2, cloud);
    benchmark::DoNotOptimize(cloud.points.data());
  }
  state.counters["points"] = static_cast<double>(cloud.size());
}

void BM_Stage10_Downsample(benchmark::State & state)
{
  Frame & f = TheFrame();
  PointCloud sampled;
  for (auto _ : state) {
    nimbra::downsampleCloud(*f.raw, f.config, sampled);
  }
  state.counters["points"] = static_cast<double>(sampled.size());
}

void BM_Stage12_CameraToBase(benchmark::State & state)
{
  Frame & f = TheFrame();
  PointCloud base;
  for (auto _ : state) {
    nimbra::transformCloud(*f.sampled, f.cam_to_base, base);
  }
}

void BM_Stage13_RemoveGround(benchmark::State & state)
{
  Frame & f = TheFrame();
  PointCloud::Ptr obstacles(new PointCloud);
  PointCloud::Ptr ground(new PointCloud);
  for (auto _ : state) {
    // The pipeline hands a new base cloud every frame: prepare and filter both run.
    f.context->groundRemover()->prepareFilter(f.base);
    f.context->groundRemover()->filter(f.base, obstacles, ground);
  }
  state.counters["obstacles"] = static_cast<double>(obstacles->size());
}

void BM_Stage14_Cluster(benchmark::State & state)
{
  Frame & f = TheFrame();
  std::vector<PointCloud::Ptr> clusters;
  int count = 0;
  for (auto _ : state) {
    f.context->cluster()->obstacleCluster(f.obstacles, count, clusters);
  }
  state.counters["clusters"] = count;
}

void BM_Stage15_DynamicDetector(benchmark::State & state)
{
  Frame & f = TheFrame();
  orvix::perception::DynamicCloudDetector detector(DYNAMIC_DETECTOR_CONFIG);
  detector.SetCameraInfo(f.intrinsics.fx, f.intrinsics.fy, f.intrinsics.cx, f.intrinsics.cy);
  detector.SetTf(f.cam_to_base.inverse());
  cv::Mat metres;
  for (auto _ : state) {
    cv::Mat(480, 640, CV_16UC1, f.depth.data.data()).convertTo(metres, CV_32F, 0.001);
    detector.Update(f.obstacles, metres, f.odom_pose);
  }
}

/// Stages 9 to 15 as the pipeline runs them, on one core.
void BM_TraditionalPath(benchmark::State & state)
{
  Frame & f = TheFrame();
  orvix::perception::DynamicCloudDetector detector(DYNAMIC_DETECTOR_CONFIG);
  detector.SetCameraInfo(f.intrinsics.fx, f.intrinsics.fy, f.intrinsics.cx, f.intrinsics.cy);
  detector.SetTf(f.cam_to_base.inverse());
  nimbra::RegionCloudRequest whole;
  whole.x2 = 640;
  whole.y2 = 480;
  cv::Mat metres;
  for (auto _ : state) {
    PointCloud::Ptr raw(new PointCloud);
    PointCloud::Ptr sampled(new PointCloud);
    PointCloud::Ptr base(new PointCloud);
    PointCloud::Ptr obstacles(new PointCloud);
    PointCloud::Ptr ground(new PointCloud);
    std::vector<PointCloud::Ptr> clusters;
    int count = 0;
    nimbra::DepthToCloud(f.depth, f.intrinsics, whole, f.config.depth_max, 2, *raw);
    nimbra::downsampleCloud(*raw, f.config, *sampled);
    nimbra::transformCloud(*sampled, f.cam_to_base, *base);
    f.context->groundRemover()->prepareFilter(base);
    f.context->groundRemover()->filter(base, obstacles, ground);
    f.context->cluster()->obstacleCluster(obstacles, count, clusters);
    cv::Mat(480, 640, CV_16UC1, f.depth.data.data()).convertTo(metres, CV_32F, 0.001);
    detector.Update(obstacles, metres, f.odom_pose);
  }
}

/// Labelling of the frame's clusters with the demo model's detections, sorting into groups, and
/// the construction of every message the labelling step sends.
void BM_LabellingAndMessages(benchmark::State & state)
{
  Frame & f = TheFrame();
  orvix::perception::DynamicCloudDetector detector(DYNAMIC_DETECTOR_CONFIG);
  const Eigen::Matrix4f base_to_cam = f.cam_to_base.inverse();
  const nimbra::CameraFrameState extent;
  for (auto _ : state) {
    std::vector<nimbra::ClassCloudInfo> pieces;
    f.context->cloudDynamicStaticSplit(f.clusters, f.detections, f.intrinsics, base_to_cam, 640,
      480, pieces);
    auto class_cloud = nimbra::makeColouredCloud(pieces, 1.0);
    auto floor_cloud = nimbra::makeColouredCloud({}, 1.0);
    nimbra::ObstacleGroups groups = nimbra::sortObstacleGroups(std::move(pieces), {}, &detector);
    auto people = nimbra::makePeopleList(groups.dynamic_cloud_info, 1, 1.0);
    std::size_t points = 0;
    for (const auto * group : {&groups.static_cloud_info, &groups.dynamic_cloud_info,
        &groups.coffee_cloud_info})
    {
      auto semantic = nimbra::makeSemanticPointCloud(*group, 1, &extent, 1.0, points);
      auto coloured = nimbra::makeColouredCloud(*group, 1.0);
      benchmark::DoNotOptimize(semantic.clusters.data());
      benchmark::DoNotOptimize(coloured.data.data());
    }
    benchmark::DoNotOptimize(class_cloud.data.data());
    benchmark::DoNotOptimize(floor_cloud.data.data());
    benchmark::DoNotOptimize(people.objects.data());
  }
  state.counters["clusters"] = static_cast<double>(f.clusters.size());
  state.counters["detections"] = static_cast<double>(f.detections.detections.size());
}

/// One trash frame with five litter boxes: depth to metres, per box the instance cloud, centroid,
/// size and the tracker update (no velocity wait, no transform lookups).
void BM_TrashFrameFiveItems(benchmark::State & state)
{
  Frame & f = TheFrame();
  std::vector<nimbra::Detection> litter;
  for (int i = 0; i < 5; ++i) {
    nimbra::Detection d;
    d.x1 = 100 + i * 90;
    d.y1 = 330;
    d.x2 = d.x1 + 40;
    d.y2 = 370;
    d.type = semantic::PAPER;
    litter.push_back(d);
  }
  nimbra::TrashCamera camera;
  camera.fx = f.intrinsics.fx;
  camera.fy = f.intrinsics.fy;
  camera.cx = f.intrinsics.cx;
  camera.cy = f.intrinsics.cy;
  camera.width = 640;
  camera.height = 480;
  camera.cam_to_base = f.cam_to_base;
  orvix::perception::TrashTracker tracker(std::string(NIMBRA_OD_CONFIG_DIR) + "/tracker.yaml",
    nullptr, nullptr);
  geometry_msgs::msg::Pose pose;
  pose.orientation.w = 1.0;
  cv::Mat metres;
  PointCloud cloud;
  for (auto _ : state) {
    cv::Mat(480, 640, CV_16UC1, f.depth.data.data()).convertTo(metres, CV_32F, 0.001);
    std::vector<orvix::perception::WasteObservation> observations;
    for (const auto & d : litter) {
      nimbra::trashInstanceCloud(metres, d, camera, cloud);
      const Eigen::Vector3f c = nimbra::trashCentroid(cloud);
      orvix::perception::WasteObservation o;
      o.x = c.x();
      o.y = c.y();
      o.size = nimbra::ComputeWasteSize3D(cloud, f.cam_to_base);
      o.type = semantic::PAPER;
      observations.push_back(o);
    }
    tracker.Update(observations, pose);
  }
}

BENCHMARK(BM_Stage09_DepthToCloud)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Stage10_Downsample)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Stage12_CameraToBase)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Stage13_RemoveGround)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Stage14_Cluster)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Stage15_DynamicDetector)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TraditionalPath)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LabellingAndMessages)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TrashFrameFiveItems)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
