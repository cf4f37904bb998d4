// The node's traditional path against a reference chain built from PCL alone, on the same
// demo-world frames: CPU time per frame and ground/obstacle accuracy against the demo world's
// ground truth. Printed on demand, never a test:
//   build/nimbra_object_detect/pcl_reference_benchmark [frames_per_camera]
//
// Ours (as the pipeline runs it, default parameters): depth to cloud at stride 2 within 2 m,
// voxel downsampling, camera to base, line-fit ground removal, clustering.
// Reference: every pixel within 2 m to a cloud, camera to base, VoxelGrid (the node's leaf size
// and minimum of points per voxel),
// SACSegmentation (RANSAC plane, 2 cm) and removal of the plane's inliers, Euclidean clustering
// (5 cm, at least 10 points). All PCL algorithm headers of the workspace's benchmarks are here.
#include <pcl/ModelCoefficients.h>
#include <pcl/common/transforms.h>
#include <pcl/filters/extract_indices.h>
#include <pcl/filters/voxel_grid.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/search/kdtree.h>
#include <pcl/segmentation/extract_clusters.h>
#include <pcl/segmentation/sac_segmentation.h>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "common/cloud.hpp"
#include "common/cloud_preprocess.hpp"
#include "common/depth_to_cloud.hpp"
#include "nimbra_demo_scene/ground_truth.hpp"
#include "nimbra_perception_libs/cloud_cluster.hpp"
#include "nimbra_perception_libs/remove_ground_line_fit.hpp"

namespace
{

using PointCloud = pcl::PointCloud<pcl::PointXYZ>;

double ThreadCpuMs()
{
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec * 1e-6;
}

double Median(std::vector<double> v)
{
  if (v.empty()) {
    return std::nan("");
  }
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

/// Floor (floor plane and flat patches), obstacle (anything else but litter) or neither.
enum class Truth {kFloor, kObstacle, kOther};

/// The surface nearest to a map point (boxes win over planes within 5 mm), as in demo_report.
Truth Classify(const nimbra_demo_scene::DemoWorld & world, const nimbra_demo_scene::Scene & scene,
  const Eigen::Vector3d & p)
{
  double best_box = std::numeric_limits<double>::infinity();
  uint16_t box_object = 0;
  for (const auto & box : scene.boxes) {
    const double d = ((box.min - p).cwiseMax(0.0) + (p - box.max).cwiseMax(0.0)).norm();
    if (d < best_box) {
      best_box = d;
      box_object = box.object;
    }
  }
  double best_plane = std::numeric_limits<double>::infinity();
  uint16_t plane_object = 0;
  for (const auto & plane : scene.planes) {
    const double d = std::fabs(p[plane.axis] - plane.offset);
    if (d < best_plane) {
      best_plane = d;
      plane_object = plane.object;
    }
  }
  uint16_t id = 0;
  if (best_box <= best_plane + 0.005 && best_box <= 0.08) {
    id = box_object;
  } else if (best_plane <= 0.08) {
    id = plane_object;
  } else {
    return Truth::kOther;
  }
  const auto & object = world.objects().at(id);
  using nimbra_demo_scene::SurfaceKind;
  if (object.kind == SurfaceKind::kFloor || object.kind == SurfaceKind::kFloorPatch) {
    return Truth::kFloor;
  }
  return object.name.rfind("litter_", 0) == 0 ? Truth::kOther : Truth::kObstacle;
}

/// Ground/obstacle tallies of one chain.
struct Tally
{
  double floor_kept{0}, floor_removed{0}, obstacle_kept{0}, obstacle_removed{0};
  std::vector<double> cpu_ms;
  double clusters{0};
  double points_in{0};

  void add(const nimbra_demo_scene::DemoWorld & world, const nimbra_demo_scene::Scene & scene,
    const Eigen::Isometry3d & map_from_base, const PointCloud & kept, const PointCloud & removed)
  {
    for (const auto * cloud : {&kept, &removed}) {
      for (const auto & q : cloud->points) {
        const Truth t = Classify(world, scene, map_from_base * Eigen::Vector3d(q.x, q.y, q.z));
        const bool is_kept = cloud == &kept;
        if (t == Truth::kFloor) {
          (is_kept ? floor_kept : floor_removed) += 1;
        } else if (t == Truth::kObstacle) {
          (is_kept ? obstacle_kept : obstacle_removed) += 1;
        }
      }
    }
  }
};

}  // namespace

int main(int argc, char ** argv)
{
  const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 12;
  nimbra_demo_scene::DemoRig rig(nimbra_demo_scene::DemoRig::Params{});
  const auto & k = rig.intrinsics();
  const nimbra::CameraIntrinsics intrinsics{static_cast<float>(k.fx), static_cast<float>(k.fy),
    static_cast<float>(k.cx), static_cast<float>(k.cy)};
  nimbra::CloudConfig config;
  auto context = std::make_shared<nimbra::Cloud>(config,
    std::make_shared<orvix::perception::CloudCluster>(orvix::perception::CloudClusterPara{}),
    std::make_shared<orvix::perception::RemoveGroundLineFit>(
      orvix::perception::GroundRemovalParams{}));
  nimbra::RegionCloudRequest whole;
  whole.x2 = static_cast<int32_t>(k.width);
  whole.y2 = static_cast<int32_t>(k.height);

  Tally ours, reference;
  constexpr int kRepeats = 3;
  for (int i = 0; i < frames; ++i) {
    const uint64_t frame = 40 + static_cast<uint64_t>(i) * 20;  // along the eastbound lane
    for (size_t camera = 0; camera < rig.cameraCount(); ++camera) {
      const auto & rendered = rig.render(frame, camera);
      const double t = rig.sceneTime(frame);
      const Eigen::Isometry3d map_from_base = rig.world().mapToBase(t);
      const Eigen::Matrix4f cam_to_base =
        (map_from_base.inverse() * rendered.map_to_optical).matrix().cast<float>();
      const nimbra_demo_scene::Scene scene = rig.world().sceneAt(t);
      sensor_msgs::msg::Image depth;
      depth.width = k.width;
      depth.height = k.height;
      depth.encoding = "16UC1";
      depth.step = k.width * 2;
      depth.data = rendered.depth_16uc1;

      // Ours.
      std::vector<double> ours_ms;
      PointCloud::Ptr obstacles(new PointCloud), ground(new PointCloud);
      for (int r = 0; r < kRepeats; ++r) {
        const double start = ThreadCpuMs();
        PointCloud raw, sampled;
        PointCloud::Ptr base(new PointCloud);
        obstacles.reset(new PointCloud);
        ground.reset(new PointCloud);
        std::vector<PointCloud::Ptr> clusters;
        int count = 0;
        nimbra::DepthToCloud(depth, intrinsics, whole, config.depth_max, 2, raw);
        nimbra::downsampleCloud(raw, config, sampled);
        nimbra::transformCloud(sampled, cam_to_base, *base);
        context->groundRemover()->prepareFilter(base);
        context->groundRemover()->filter(base, obstacles, ground);
        context->cluster()->obstacleCluster(obstacles, count, clusters);
        ours_ms.push_back(ThreadCpuMs() - start);
        ours.clusters += r == 0 ? count : 0;
        ours.points_in += r == 0 ? raw.size() : 0;
      }
      ours.cpu_ms.push_back(Median(ours_ms));
      ours.add(rig.world(), scene, map_from_base, *obstacles, *ground);

      // Reference chain.
      std::vector<double> ref_ms;
      PointCloud::Ptr kept(new PointCloud), plane(new PointCloud);
      for (int r = 0; r < kRepeats; ++r) {
        const double start = ThreadCpuMs();
        PointCloud::Ptr camera_cloud(new PointCloud), base(new PointCloud),
        voxels(new PointCloud);
        kept.reset(new PointCloud);
        plane.reset(new PointCloud);
        const uint16_t * mm = reinterpret_cast<const uint16_t *>(depth.data.data());
        camera_cloud->points.reserve(static_cast<size_t>(k.width) * k.height);
        for (uint32_t v = 0; v < k.height; ++v) {
          for (uint32_t u = 0; u < k.width; ++u) {
            const float d = mm[v * k.width + u] * 0.001F;
            if (d > 0.0F && d < config.depth_max) {
              camera_cloud->points.emplace_back(static_cast<float>((u - k.cx) / k.fx * d),
                static_cast<float>((v - k.cy) / k.fy * d), d);
            }
          }
        }
        camera_cloud->width = static_cast<uint32_t>(camera_cloud->points.size());
        camera_cloud->height = 1;
        pcl::transformPointCloud(*camera_cloud, *base, cam_to_base);
        pcl::VoxelGrid<pcl::PointXYZ> grid;
        grid.setInputCloud(base);
        grid.setLeafSize(config.cloud_x_leafSize, config.cloud_y_leafSize, config.cloud_z_leafSize);
        grid.setMinimumPointsNumberPerVoxel(static_cast<unsigned int>(config.cloud_min_point));
        grid.filter(*voxels);
        pcl::SACSegmentation<pcl::PointXYZ> sac;
        sac.setOptimizeCoefficients(true);
        sac.setModelType(pcl::SACMODEL_PLANE);
        sac.setMethodType(pcl::SAC_RANSAC);
        sac.setDistanceThreshold(0.02);
        sac.setMaxIterations(200);
        sac.setInputCloud(voxels);
        pcl::PointIndices::Ptr inliers(new pcl::PointIndices);
        pcl::ModelCoefficients coefficients;
        sac.segment(*inliers, coefficients);
        pcl::ExtractIndices<pcl::PointXYZ> extract;
        extract.setInputCloud(voxels);
        extract.setIndices(inliers);
        extract.setNegative(true);
        extract.filter(*kept);
        extract.setNegative(false);
        extract.filter(*plane);
        pcl::search::KdTree<pcl::PointXYZ>::Ptr tree(new pcl::search::KdTree<pcl::PointXYZ>);
        tree->setInputCloud(kept);
        std::vector<pcl::PointIndices> clusters;
        pcl::EuclideanClusterExtraction<pcl::PointXYZ> ec;
        ec.setClusterTolerance(0.05);
        ec.setMinClusterSize(10);
        ec.setSearchMethod(tree);
        ec.setInputCloud(kept);
        ec.extract(clusters);
        ref_ms.push_back(ThreadCpuMs() - start);
        reference.clusters += r == 0 ? clusters.size() : 0;
        reference.points_in += r == 0 ? camera_cloud->size() : 0;
      }
      reference.cpu_ms.push_back(Median(ref_ms));
      reference.add(rig.world(), scene, map_from_base, *kept, *plane);
    }
  }

  const double n = static_cast<double>(ours.cpu_ms.size());
  std::printf("%d frames x %zu cameras of the demo world (seed 42, 640x480), CPU time per frame "
    "(median of %d runs each), one thread\n\n", frames, rig.cameraCount(), kRepeats);
  std::printf("%-34s %10s %10s %12s %9s %16s %16s\n", "chain", "median ms", "mean ms",
    "points in", "clusters", "floor kept %", "obstacle lost %");
  for (const auto & [name, tally] : {std::pair<const char *, const Tally *>{"ours (stride 2, line fit)", &ours},
      {"PCL (full res, VoxelGrid, RANSAC)", &reference}})
  {
    double sum = 0.0;
    for (double v : tally->cpu_ms) {
      sum += v;
    }
    std::printf("%-34s %10.2f %10.2f %12.0f %9.1f %16.3f %16.3f\n", name, Median(tally->cpu_ms),
      sum / n, tally->points_in / n, tally->clusters / n,
      100.0 * tally->floor_kept / std::max(1.0, tally->floor_kept + tally->floor_removed),
      100.0 * tally->obstacle_removed / std::max(1.0, tally->obstacle_kept + tally->obstacle_removed));
  }
  std::printf("\nreference / ours, median CPU time: %.1fx\n",
    Median(reference.cpu_ms) / Median(ours.cpu_ms));
  std::printf("floor kept %%: floor points left among the obstacles; obstacle lost %%: obstacle "
    "points removed with the ground (demo-world ground truth, after downsampling)\n");
  return 0;
}
