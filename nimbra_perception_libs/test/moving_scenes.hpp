// Family of seeded moving-object sequences (built on the synthetic scenes) and the figures the dynamic
// detector reaches on them, shared by the tests and the benchmark.
#pragma once

#include <array>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <geometry_msgs/msg/pose.hpp>

#include "nimbra_perception_libs/dynamic_detector_params.hpp"
#include "synthetic_scene.hpp"

namespace orvix
{
namespace perception
{
namespace testing
{

/// Seeds the detector's defaults were tuned on. Never used by the held-out figures.
constexpr std::array<unsigned, 3> kTuningSeeds = {1101U, 1102U, 1103U};
/// Seeds never looked at while tuning; the CI test and the benchmark report these.
constexpr std::array<unsigned, 2> kHeldOutSeeds = {7301U, 7302U};

/// Object that moves through a sequence at constant velocity.
struct Mover
{
  bool person = true;            ///< person-sized cylinder, else cart-sized box
  Eigen::Vector2f start;         ///< centre in the world frame at the first frame, m
  Eigen::Vector2f velocity;      ///< world frame, m/s
};

/// One sequence: static scene, movers and robot motion; the robot starts at the world origin facing +x.
struct MovingCase
{
  std::string name;
  Scene scene;                   ///< static part: corridor walls, a static cylinder and a static box
  std::vector<Mover> movers;
  float robot_speed = 0.0F;      ///< m/s
  float robot_turn = 0.0F;       ///< rad/s
  int frames = 36;
  float rate = 15.0F;            ///< Hz
};

/// Test-output name of a case.
inline void PrintTo(const MovingCase & c, std::ostream * os) {*os << c.name;}

/// The family's case kinds (person / cart; across, along, diagonal; robot straight or turning; a mover
/// partly hidden by a static box; two movers), randomised by `seed` within the family's ranges: mover
/// 0.2-1.5 m/s, 0.8-4 m away, robot 0-0.5 m/s.
std::vector<MovingCase> movingCases(unsigned seed);

/// Camera of the sequences: 640 x 480, 0.6 m high, pitched 0.3 rad down, readings up to 6 m.
Camera movingCamera();

/// One rendered frame of a case.
struct MovingFrame
{
  cv::Mat depth;                       ///< CV_32FC1 640 x 480, m
  PointCloudXYZ::Ptr obstacles;        ///< obstacle points (5 cm or more above the floor), base frame
  std::vector<int> mover_of_point;     ///< per obstacle point: mover index, -1 for static points
  Eigen::Isometry3f world_from_base;   ///< robot pose
};

/// Renders frame `f` of the case: obstacle points of every `stride`-th pixel, 5 mm depth noise.
MovingFrame renderMovingFrame(const MovingCase & c, int f, int stride, std::mt19937 & rng);

/// Pose message of a world-from-base transform.
geometry_msgs::msg::Pose poseMessage(const Eigen::Isometry3f & world_from_base);

/// Figures of one or more sequences.
struct MovingFigures
{
  long mover_points = 0;      ///< mover points in frames after its first 0.5 s in view
  long mover_flagged = 0;     ///< of those, flagged moving
  long static_points = 0;     ///< static object and wall points, every frame
  long static_flagged = 0;    ///< of those, flagged moving
  int piece_frames = 0;       ///< scored (mover, frame) pairs
  int piece_dynamic = 0;      ///< of those, the mover's cluster has more than 0.7 of its points moving
  int piece_static = 0;       ///< of those, the mover's cluster has less than 0.3 of its points moving

  double recall() const {return mover_points ? static_cast<double>(mover_flagged) / mover_points : 0.0;}
  double staticRate() const
  {
    return static_points ? static_cast<double>(static_flagged) / static_points : 0.0;
  }
  double dynamicShare() const {return piece_frames ? static_cast<double>(piece_dynamic) / piece_frames : 0.0;}
  void add(const MovingFigures & o);
};

/// Runs the detector with `params` over the case (obstacle points of every fourth pixel, 5 mm depth
/// noise seeded by `noise_seed`) and scores it; pieces are the grid clusters the node would form.
MovingFigures runMovingCase(const MovingCase & c, const DynamicDetectorParams & params, unsigned noise_seed);

/// Figures of one case kind over the seeds.
struct NamedFigures
{
  std::string name;
  MovingFigures figures;
};

/// Runs every case of every seed; prints one line per case kind and the total when `print` is set;
/// fills `per_case` (one entry per case kind) when given.
MovingFigures runMovingFamily(
  const std::vector<unsigned> & seeds, const DynamicDetectorParams & params, const char * label, bool print,
  std::vector<NamedFigures> * per_case = nullptr);

}  // namespace testing
}  // namespace perception
}  // namespace orvix
