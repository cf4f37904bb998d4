// Speed of the cloud stages of one frame: depth to cloud (against a full-resolution conversion),
// voxel downsampling, the move to the base frame, and mask labelling of clusters.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

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

/// The strided conversion the pipeline runs on every frame (stride 2), into a reused cloud.
void BM_DepthToCloudStride2(benchmark::State & state)
{
  const sensor_msgs::msg::Image depth = makeCorridorDepth();
  const RegionCloudRequest region = wholeFrame(depth);
  const CameraIntrinsics k = corridorIntrinsics();
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
  const sensor_msgs::msg::Image depth = makeCorridorDepth();
  const CameraIntrinsics k = corridorIntrinsics();
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

PointCloud rawCorridorCloud()
{
  const sensor_msgs::msg::Image depth = makeCorridorDepth();
  PointCloud cloud;
  DepthToCloud(depth, corridorIntrinsics(), wholeFrame(depth), kDepthMax, 2, cloud);
  return cloud;
}

/// PCL's VoxelGrid with the default cloud parameters, fed the raw cloud in place.
void BM_VoxelGrid(benchmark::State & state)
{
  const PointCloud raw = rawCorridorCloud();
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
  downsampleCloud(rawCorridorCloud(), CloudConfig(), sampled);
  const Eigen::Matrix4f cam_to_base = forwardCameraToBase(0.2F, 0.0F, 0.5F);
  PointCloud base;
  for (auto _ : state) {
    transformCloud(sampled, cam_to_base, base);
    benchmark::DoNotOptimize(base.points.data());
  }
  state.counters["points"] = static_cast<double>(base.points.size());
}
BENCHMARK(BM_TransformToBase)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);

/// Labelling of 20 clusters (300 points each) against 10 detections with 640 x 480 masks.
void BM_Labelling20Clusters10Detections(benchmark::State & state)
{
  const LabellingScene scene = makeLabellingScene(20, 10, 7U);
  const Eigen::Matrix4f base_to_camera = scene.camera_to_base.inverse();
  Cloud cloud(CloudConfig(), nullptr, nullptr);
  std::vector<ClassCloudInfo> pieces;
  for (auto _ : state) {
    cloud.cloudDynamicStaticSplit(
      scene.clusters, scene.ai_result, scene.intrinsics, base_to_camera, scene.width,
      scene.height, pieces);
    benchmark::DoNotOptimize(pieces.data());
  }
  std::size_t labelled = 0;
  for (const ClassCloudInfo & piece : pieces) {
    labelled += piece.type != semantic::NO_TYPE ? 1 : 0;
  }
  state.counters["pieces"] = static_cast<double>(pieces.size());
  state.counters["labelled"] = static_cast<double>(labelled);
}
BENCHMARK(BM_Labelling20Clusters10Detections)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", fastest);

}  // namespace
}  // namespace nimbra::test

BENCHMARK_MAIN();
