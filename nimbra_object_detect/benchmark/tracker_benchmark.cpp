// Timing of the trash tracker's per-frame work: Update with 50 tracks and 20 observations (goal:
// under 50 us on one core), the assignment solve alone, and Publish.
//
// Run: SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false tracker_benchmark

#include <benchmark/benchmark.h>

#include <Eigen/Geometry>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "tracker/hungarian_algorithm.hpp"
#include "tracker/trash_tracker.hpp"

namespace orvix
{
namespace perception
{
namespace
{

constexpr int kTracks = 50;
constexpr int kObservations = 20;

TrackerCameraInfo Camera(double x, bool forward)
{
  const double ahead = forward ? 1.0 : -1.0;
  Eigen::Matrix3d base_from_optical;
  base_from_optical << 0.0, 0.0, ahead, -ahead, 0.0, 0.0, 0.0, -1.0, 0.0;
  const Eigen::Quaterniond q(base_from_optical);
  TrackerCameraInfo camera;
  camera.tx = x;
  camera.tz = 0.5;
  camera.qx = q.x();
  camera.qy = q.y();
  camera.qz = q.z();
  camera.qw = q.w();
  camera.width = 640;
  camera.height = 480;
  camera.fx = camera.fy = 400.0F;
  camera.cx = 320.0F;
  camera.cy = 240.0F;
  return camera;
}

geometry_msgs::msg::Pose Origin()
{
  geometry_msgs::msg::Pose pose;
  pose.orientation.w = 1.0;
  return pose;
}

// 50 items on a 0.5 m grid around the robot (10 x 5, outside the footprint), two cameras, and
// 30 frames of 20 noisy re-observations of random items. Tracks are never aged out, so every
// timed Update sees 50 tracks and 20 observations.
struct Scene
{
  Scene()
  : tracker(MakeConfig(), nullptr, nullptr)
  {
    tracker.AddCamera(Camera(0.3, true));
    tracker.AddCamera(Camera(-0.3, false));
    std::vector<WasteObservation> items;
    for (int i = 0; i < kTracks; ++i) {
      WasteObservation item;
      item.x = -2.25 + 0.5 * (i % 10);
      item.y = (i / 10 < 3 ? 0.6 : -1.6) + 0.5 * (i / 10 % 3);
      item.type = 400;
      item.size = {0.1F, 0.05F, 0.01F};
      items.push_back(item);
    }
    tracker.Update(items, Origin());
    std::mt19937 rng(17u);
    std::normal_distribution<double> noise(0.0, 0.02);
    std::uniform_int_distribution<int> pick(0, kTracks - 1);
    for (int f = 0; f < 30; ++f) {
      std::vector<WasteObservation> frame;
      for (int k = 0; k < kObservations; ++k) {
        WasteObservation observation = items[static_cast<std::size_t>(pick(rng))];
        observation.x += noise(rng);
        observation.y += noise(rng);
        frame.push_back(observation);
      }
      frames.push_back(frame);
    }
  }

  static TrashTrackerConfig MakeConfig()
  {
    TrashTrackerConfig config;
    config.dist_thres = 0.2F;
    config.max_retain_time = 1 << 30;
    config.cache_radius = 10.0F;
    config.base_handle_class = {400};
    return config;
  }

  TrashTracker tracker;
  std::vector<std::vector<WasteObservation>> frames;
};

void BM_TrackerUpdate_50Tracks_20Observations(benchmark::State & state)
{
  Scene scene;
  const geometry_msgs::msg::Pose pose = Origin();
  std::size_t frame = 0;
  for (auto _ : state) {
    scene.tracker.Update(scene.frames[frame], pose);
    frame = (frame + 1) % scene.frames.size();
  }
  state.counters["tracks"] = static_cast<double>(scene.tracker.tracks().size());
  state.counters["observations"] = kObservations;
}
BENCHMARK(BM_TrackerUpdate_50Tracks_20Observations)->Unit(benchmark::kMicrosecond);

void BM_TrackerPublish_50Tracks(benchmark::State & state)
{
  Scene scene;
  for (int i = 0; i < 3; ++i) {
    scene.tracker.Update(scene.frames[static_cast<std::size_t>(i)], Origin());
  }
  for (auto _ : state) {
    scene.tracker.Publish();
  }
}
BENCHMARK(BM_TrackerPublish_50Tracks)->Unit(benchmark::kMicrosecond);

void BM_HungarianSolve(benchmark::State & state)
{
  const auto rows = static_cast<std::size_t>(state.range(0));
  const auto cols = static_cast<std::size_t>(state.range(1));
  std::mt19937 rng(5u);
  std::uniform_real_distribution<double> coordinate(-5.0, 5.0);
  std::vector<std::vector<std::vector<double>>> problems(16);
  for (auto & cost : problems) {
    std::vector<std::pair<double, double>> tracks(rows);
    std::vector<std::pair<double, double>> observations(cols);
    for (auto & p : tracks) {p = {coordinate(rng), coordinate(rng)};}
    for (auto & p : observations) {p = {coordinate(rng), coordinate(rng)};}
    cost.assign(rows, std::vector<double>(cols));
    for (std::size_t r = 0; r < rows; ++r) {
      for (std::size_t c = 0; c < cols; ++c) {
        cost[r][c] = std::hypot(tracks[r].first - observations[c].first,
            tracks[r].second - observations[c].second);
      }
    }
  }
  HungarianAlgorithm solver;
  std::vector<int32_t> assignment;
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(solver.Solve(problems[i], assignment));
    i = (i + 1) % problems.size();
  }
}
BENCHMARK(BM_HungarianSolve)->Args({50, 20})->Args({60, 30})->Args({30, 30})
->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace perception
}  // namespace orvix

BENCHMARK_MAIN();
