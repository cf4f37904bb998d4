// Speed of the cloud stages of one demo-world frame: depth to cloud (against a full-resolution
// conversion), voxel downsampling, the move to the base frame, and mask labelling of clusters.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include <nimbra_demo_scene/ground_truth.hpp>

#include "cloud_test_scenes.hpp"
#include "common/cloud.hpp"
#include "common/cloud_preprocess.hpp"
#include "common/depth_to_cloud.hpp"

namespace nimbra::test
{
namespace
{

constexpr float kDepthMax = 2.0F;

/// Fastest repetition: on a shared machine the least disturbed run (use --benchmark_repetitions).
double fastest(const std::vector<double> & runs)
{
  return runs.empty() ? 0.0 : *std::min_element(runs.begin(), runs.end());
}

RegionCloudRequest wholeFrame(const sensor_msgs::msg::Image & depth)
{
  RegionCloudRequest region;
  region.x2 = static_cast<int32_t>(depth.width);
  region.y2 = static_cast<int32_t>(depth.height);
  return region;
}

/// Camera 1 of the demo rig passing the bench, the chair and litter, with the ground truth as
/// clusters (the base-frame points of every boxed object, stride 2) and detections (the label
/// mask of every object the demo model has a class for).
struct DemoFrame
{
  sensor_msgs::msg::Image depth;
  CameraIntrinsics intrinsics;
  Eigen::Matrix4f cam_to_base = Eigen::Matrix4f::Identity();
  std::vector<PointCloud::Ptr> clusters;
  AiResult ai_result;
};

const DemoFrame & demoFrame()
{
  static const DemoFrame frame = [] {
      constexpr uint64_t kIndex = 150;
      DemoFrame f;
      nimbra_demo_scene::DemoRig rig(nimbra_demo_scene::DemoRig::Params{});
      const auto & rendered = rig.render(kIndex, 0);
      const auto & k = rig.intrinsics();
      const int width = static_cast<int>(k.width);
      const int height = static_cast<int>(k.height);
      f.depth.header.frame_id = "camera_depth_optical_frame";
      f.depth.width = k.width;
      f.depth.height = k.height;
      f.depth.encoding = "16UC1";
      f.depth.step = 2 * k.width;
      f.depth.data = rendered.depth_16uc1;
      f.intrinsics = CameraIntrinsics{static_cast<float>(k.fx), static_cast<float>(k.fy),
        static_cast<float>(k.cx), static_cast<float>(k.cy)};
      f.cam_to_base = (rig.world().mapToBase(rig.sceneTime(kIndex)).inverse() *
        rendered.map_to_optical).matrix().cast<float>();
      const auto & objects = rig.world().objects();
      std::map<uint16_t, PointCloud::Ptr> clusters;
      for (int v = 0; v < height; v += 2) {
        for (int u = 0; u < width; u += 2) {
          const std::size_t i = static_cast<std::size_t>(v) * width + u;
          const uint16_t id = rendered.labels[i];
          const uint16_t raw = static_cast<uint16_t>(
            rendered.depth_16uc1[2 * i] | (rendered.depth_16uc1[2 * i + 1] << 8));
          if (id == nimbra_demo_scene::kNoObject || objects[id].plane >= 0 || raw == 0) {
            continue;
          }
          const pcl::PointXYZ p = pointAtPixel(f.intrinsics, u, v, raw * 0.001F);
          const Eigen::Vector4f moved = f.cam_to_base * Eigen::Vector4f(p.x, p.y, p.z, 1.0F);
          auto & cluster = clusters[id];
          if (!cluster) {
            cluster = std::make_shared<PointCloud>();
            cluster->header.frame_id = "base_footprint";
          }
          cluster->points.emplace_back(moved.x(), moved.y(), moved.z());
        }
      }
      for (auto & entry : clusters) {
        entry.second->width = static_cast<uint32_t>(entry.second->points.size());
        entry.second->height = 1;
        f.clusters.push_back(entry.second);
      }
      const cv::Mat labels(height, width, CV_16UC1, const_cast<uint16_t *>(rendered.labels.data()));
      const auto regions = nimbra_demo_scene::labelRegions(rendered.labels, k.width, k.height);
      for (const auto & region : regions) {
        semantic::SemanticType type = semantic::NO_TYPE;
        if (semantic::ParseSemanticType(objects[region.id].semantic_class, type)) {
          f.ai_result.detections.push_back(makeDetection(type, labels == region.id));
        }
      }
      f.ai_result.image = cv::Mat::zeros(height, width, CV_8UC3);
      return f;
    }();
  return frame;
}

/// The strided conversion the pipeline runs on every frame (stride 2), into a reused cloud.
void BM_DepthToCloudStride2(benchmark::State & state)
{
  const sensor_msgs::msg::Image & depth = demoFrame().depth;
  const RegionCloudRequest region = wholeFrame(depth);
  const CameraIntrinsics k = demoFrame().intrinsics;
  PointCloud cloud;
  for (auto _ : state) {
    DepthToCloud(depth, k, region, kDepthMax, 2, cloud);
    benchmark::DoNotOptimize(cloud.points.data());
  }
  state.counters["points"] = static_cast<double>(cloud.points.size());
}
BENCHMARK(BM_DepthToCloudStride2)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);

/// Reference: every pixel becomes a point of an organised cloud, invalid ones NaN, as the usual
/// ROS depth_image_proc conversion does; the output is reused as well.
void BM_FullResolutionReference(benchmark::State & state)
{
  const sensor_msgs::msg::Image & depth = demoFrame().depth;
  const CameraIntrinsics k = demoFrame().intrinsics;
  const int width = static_cast<int>(depth.width);
  const int height = static_cast<int>(depth.height);
  PointCloud cloud;
  cloud.width = depth.width;
  cloud.height = depth.height;
  cloud.points.resize(static_cast<std::size_t>(width) * height);
  const float bad = std::numeric_limits<float>::quiet_NaN();
  const float unit = 0.001F;
  const float constant_x = unit / k.fx;
  const float constant_y = unit / k.fy;
  for (auto _ : state) {
    std::size_t i = 0;
    for (int v = 0; v < height; ++v) {
      const auto * row = reinterpret_cast<const uint16_t *>(depth.data.data() + v * depth.step);
      for (int u = 0; u < width; ++u, ++i) {
        pcl::PointXYZ & p = cloud.points[i];
        const uint16_t raw = row[u];
        if (raw == 0) {
          p.x = p.y = p.z = bad;
          continue;
        }
        p.x = (static_cast<float>(u) - k.cx) * raw * constant_x;
        p.y = (static_cast<float>(v) - k.cy) * raw * constant_y;
        p.z = raw * unit;
      }
    }
    benchmark::DoNotOptimize(cloud.points.data());
  }
  state.counters["points"] = static_cast<double>(cloud.points.size());
}
BENCHMARK(BM_FullResolutionReference)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);

PointCloud rawDemoCloud()
{
  const DemoFrame & frame = demoFrame();
  PointCloud cloud;
  DepthToCloud(frame.depth, frame.intrinsics, wholeFrame(frame.depth), kDepthMax, 2, cloud);
  return cloud;
}

/// PCL's VoxelGrid with the default cloud parameters, fed the raw cloud in place.
void BM_VoxelGrid(benchmark::State & state)
{
  const PointCloud raw = rawDemoCloud();
  const CloudConfig config;
  PointCloud sampled;
  for (auto _ : state) {
    downsampleCloud(raw, config, sampled);
    benchmark::DoNotOptimize(sampled.points.data());
  }
  state.counters["in"] = static_cast<double>(raw.points.size());
  state.counters["out"] = static_cast<double>(sampled.points.size());
}
BENCHMARK(BM_VoxelGrid)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);

/// The downsampled cloud moved into the base frame.
void BM_TransformToBase(benchmark::State & state)
{
  PointCloud sampled;
  downsampleCloud(rawDemoCloud(), CloudConfig(), sampled);
  const Eigen::Matrix4f cam_to_base = demoFrame().cam_to_base;
  PointCloud base;
  for (auto _ : state) {
    transformCloud(sampled, cam_to_base, base);
    benchmark::DoNotOptimize(base.points.data());
  }
  state.counters["points"] = static_cast<double>(base.points.size());
}
BENCHMARK(BM_TransformToBase)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);

/// Labelling of the demo frame's object clusters against its ground-truth masks (640 x 480).
void BM_LabellingDemoFrame(benchmark::State & state)
{
  const DemoFrame & frame = demoFrame();
  const Eigen::Matrix4f base_to_camera = frame.cam_to_base.inverse();
  Cloud cloud(CloudConfig(), nullptr, nullptr);
  std::vector<ClassCloudInfo> pieces;
  for (auto _ : state) {
    cloud.cloudDynamicStaticSplit(
      frame.clusters, frame.ai_result, frame.intrinsics, base_to_camera,
      static_cast<int32_t>(frame.depth.width), static_cast<int32_t>(frame.depth.height), pieces);
    benchmark::DoNotOptimize(pieces.data());
  }
  std::size_t labelled = 0;
  for (const ClassCloudInfo & piece : pieces) {
    labelled += piece.type != semantic::NO_TYPE ? 1 : 0;
  }
  state.counters["clusters"] = static_cast<double>(frame.clusters.size());
  state.counters["detections"] = static_cast<double>(frame.ai_result.detections.size());
  state.counters["pieces"] = static_cast<double>(pieces.size());
  state.counters["labelled"] = static_cast<double>(labelled);
}
BENCHMARK(BM_LabellingDemoFrame)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);

}  // namespace
}  // namespace nimbra::test

BENCHMARK_MAIN();
