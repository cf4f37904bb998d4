// Measures how many entries per step the Hungarian solver needs on tracker-like problems: random
// planar distance matrices between tracks and observations, for every size up to 60 x 30. Prints,
// per size, the largest entry count of any step, the 99.9th percentile, and how many solves would
// exceed a flat limit of 200 entries.
//
// Usage: tracker_hungarian_step_survey [trials_per_size=2000] [seed=2024]

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

#include "tracker/hungarian_algorithm.hpp"

namespace
{

using Matrix = std::vector<std::vector<double>>;
using Point = std::pair<double, double>;

enum class Scene
{
  kUniform,    // tracks and observations scattered independently over a 10 m square
  kReobserved,  // each observation re-sees a random track with 5 cm noise (70 %), or is new
  kCorridor     // tracks along a 6 m wall line, observations along a parallel line 0.5 m away
};

const char * SceneName(Scene scene)
{
  switch (scene) {
    case Scene::kUniform: return "uniform";
    case Scene::kReobserved: return "reobserved";
    case Scene::kCorridor: return "corridor";
  }
  return "";
}

Matrix Distances(const std::vector<Point> & tracks, const std::vector<Point> & observations)
{
  Matrix cost(tracks.size(), std::vector<double>(observations.size()));
  for (std::size_t r = 0; r < tracks.size(); ++r) {
    for (std::size_t c = 0; c < observations.size(); ++c) {
      cost[r][c] = std::hypot(
        tracks[r].first - observations[c].first, tracks[r].second - observations[c].second);
    }
  }
  return cost;
}

Matrix MakeScene(std::mt19937 & rng, Scene scene, std::size_t rows, std::size_t cols)
{
  std::uniform_real_distribution<double> coordinate(-5.0, 5.0);
  std::uniform_real_distribution<double> along_wall(0.0, 6.0);
  std::normal_distribution<double> noise(0.0, 0.05);
  std::bernoulli_distribution reobserve(0.7);
  std::vector<Point> tracks(rows);
  std::vector<Point> observations(cols);
  if (scene == Scene::kCorridor) {
    for (auto & p : tracks) {p = {along_wall(rng), 0.0};}
    for (auto & p : observations) {p = {along_wall(rng), 0.5};}
    return Distances(tracks, observations);
  }
  for (auto & p : tracks) {p = {coordinate(rng), coordinate(rng)};}
  std::uniform_int_distribution<std::size_t> pick(0, rows - 1);
  for (auto & p : observations) {
    if (scene == Scene::kReobserved && reobserve(rng)) {
      const Point & t = tracks[pick(rng)];
      p = {t.first + noise(rng), t.second + noise(rng)};
    } else {
      p = {coordinate(rng), coordinate(rng)};
    }
  }
  return Distances(tracks, observations);
}

struct SizeResult
{
  int32_t max_entries = 0;    // most entries of any step in any solve
  int32_t p999_entries = 0;   // 99.9th percentile of the per-solve maximum
  int over_flat_limit = 0;    // solves whose busiest step exceeded 200
};

SizeResult Survey(std::mt19937 & rng, Scene scene, std::size_t rows, std::size_t cols, int trials)
{
  orvix::perception::HungarianOptions unlimited;
  unlimited.max_iterations = 1 << 30;
  unlimited.scale_limit_with_size = false;
  orvix::perception::HungarianAlgorithm solver(unlimited);
  std::vector<int32_t> assignment;
  std::vector<int32_t> busiest(static_cast<std::size_t>(trials));
  SizeResult result;
  for (int t = 0; t < trials; ++t) {
    solver.Solve(MakeScene(rng, scene, rows, cols), assignment);
    const auto & counters = solver.step_counters();
    busiest[static_cast<std::size_t>(t)] = *std::max_element(counters.begin(), counters.end());
    if (busiest[static_cast<std::size_t>(t)] > 200) {
      ++result.over_flat_limit;
    }
  }
  std::sort(busiest.begin(), busiest.end());
  result.max_entries = busiest.back();
  result.p999_entries = busiest[static_cast<std::size_t>(0.999 * (trials - 1))];
  return result;
}

}  // namespace

int main(int argc, char ** argv)
{
  const int trials = argc > 1 ? std::atoi(argv[1]) : 2000;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 2024u;
  if (trials <= 0) {
    std::fprintf(stderr, "trials must be positive\n");
    return 1;
  }
  std::mt19937 rng(seed);
  const std::vector<std::size_t> track_counts = {5, 10, 20, 30, 40, 50, 60};
  const std::vector<std::size_t> observation_counts = {5, 10, 20, 30};
  std::printf("trials per size %d, seed %u; entries = most entries of any one step per solve\n",
    trials, seed);
  std::printf("%-10s %6s %5s | %8s %8s %8s | %8s %8s %8s | %7s\n", "scene", "tracks", "obs",
    "max", "p99.9", ">200", "max(T)", "p99.9(T)", ">200(T)", "bound");
  for (const Scene scene : {Scene::kUniform, Scene::kReobserved, Scene::kCorridor}) {
    for (const std::size_t rows : track_counts) {
      for (const std::size_t cols : observation_counts) {
        const SizeResult direct = Survey(rng, scene, rows, cols, trials);
        const SizeResult transposed = Survey(rng, scene, cols, rows, trials);
        std::printf("%-10s %6zu %5zu | %8d %8d %8d | %8d %8d %8d | %7lld\n",
          SceneName(scene), rows, cols,
          direct.max_entries, direct.p999_entries, direct.over_flat_limit,
          transposed.max_entries, transposed.p999_entries, transposed.over_flat_limit,
          static_cast<long long>(
            orvix::perception::HungarianAlgorithm::WorstCaseStepEntries(rows, cols)));
      }
    }
  }
  std::printf("(T) = the transposed problem: %s\n", "observations as rows, tracks as columns");
  return 0;
}
