// Ground-removal scenes shared by the tests and the benchmark.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "nimbra_perception_libs/ground_removal_params.hpp"
#include "nimbra_perception_libs/remove_ground_line_fit.hpp"
#include "synthetic_scene.hpp"

namespace orvix
{
namespace perception
{
namespace testing
{

/// Parameters that also see 3 cm steps: narrower ground band and step tolerances than the defaults.
GroundRemovalParams stepSensitiveParams();

/// One named scene with the parameters it is run with.
struct GroundCase
{
  std::string name;
  Scene scene;
  GroundRemovalParams params;
  float camera_height = 0.6F;  ///< m
  float camera_pitch = 0.5F;   ///< rad, downward
};

/// Test-output name of a case.
inline void PrintTo(const GroundCase & c, std::ostream * os) {*os << c.name;}

/// Flat floor with boxes, ramps and tilts at the maximum slope, a 3 cm step; for both parameter sets.
std::vector<GroundCase> groundCases();

/// Flat floor at `level` with three boxes of different heights.
Scene boxesScene(float level);

/// Share of correctly labelled points among the scored ones.
struct GroundScore
{
  int ground_total = 0;
  int ground_correct = 0;
  int obstacle_total = 0;
  int obstacle_correct = 0;
  int invalid_in_output = 0;  ///< NaN or infinite points found in either output

  double groundRate() const {return ground_total ? static_cast<double>(ground_correct) / ground_total : 1.0;}
  double obstacleRate() const
  {
    return obstacle_total ? static_cast<double>(obstacle_correct) / obstacle_total : 1.0;
  }
};

/// Renders the case (seeded), voxelizes at 1 cm, adds invalid points.
LabelledCloud renderCase(const GroundCase & c, unsigned seed, int invalid_points = 200);

/// Scores per-point labels against the truth; points outside the remover's range limits are not scored.
GroundScore scoreLabels(
  const LabelledCloud & cloud, const std::vector<bool> & ground_label, const std::vector<bool> & obstacle_label,
  const GroundRemovalParams & params);

/// Truth height from which box points count as obstacles for `params`.
float obstacleTruthHeight(const GroundRemovalParams & params);

}  // namespace testing
}  // namespace perception
}  // namespace orvix
