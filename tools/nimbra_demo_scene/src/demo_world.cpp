#include "nimbra_demo_scene/demo_world.hpp"

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>

namespace nimbra_demo_scene
{
namespace
{

constexpr double kPersonDepth = 0.3;    // along the corridor, m
constexpr double kPersonWidth = 0.45;   // across the corridor, m
constexpr double kPersonHeight = 1.7;   // m
constexpr double kLaneMargin = 0.6;     // free space beside a lane for the robot, m

/// Litter item footprint and height, m.
struct LitterShape
{
  SurfaceKind kind;
  double length;
  double width;
  double height;
  Rgb colour;
};

constexpr LitterShape kLitterShapes[] = {
  {SurfaceKind::kPaper, 0.21, 0.15, 0.01, {245, 245, 238}},
  {SurfaceKind::kBottle, 0.22, 0.07, 0.07, {60, 130, 220}},
  {SurfaceKind::kCup, 0.08, 0.08, 0.10, {235, 200, 40}},
};

constexpr Rgb kObstacleColours[] = {
  {150, 105, 65},   // cardboard
  {90, 110, 160},   // cabinet
  {120, 120, 120},  // trolley
  {170, 80, 60},    // bin
};

Rgb jitter(const Rgb & colour, std::mt19937 & rng)
{
  std::uniform_int_distribution<int> offset(-12, 12);
  const auto clampChannel = [&](uint8_t v) {
      return static_cast<uint8_t>(std::clamp(static_cast<int>(v) + offset(rng), 0, 255));
    };
  return Rgb{clampChannel(colour.r), clampChannel(colour.g), clampChannel(colour.b)};
}

}  // namespace

DemoWorld::DemoWorld(const Params & params)
: params_(params), trajectory_(RobotTrajectory::Params{})
{
  const double lane = RobotTrajectory::Params{}.turn_radius_m;
  if (!(params.half_width_m >= lane + kLaneMargin)) {
    throw std::invalid_argument(
            "demo world: half_width_m must be at least " + std::to_string(lane + kLaneMargin) +
            " m so the robot's lanes fit");
  }
  if (params.obstacle_count < 0 || params.litter_count < 0) {
    throw std::invalid_argument("demo world: obstacle and litter counts must not be negative");
  }
  layOut();
}

void DemoWorld::layOut()
{
  std::mt19937 rng(params_.seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double hw = params_.half_width_m;
  const double length = RobotTrajectory::Params{}.length_m;
  const double lane = RobotTrajectory::Params{}.turn_radius_m;

  scene_.planes.clear();
  scene_.planes.push_back({2, 0.0, 1.0, {{205, 200, 185}, SurfaceKind::kFloor}});
  scene_.planes.push_back({1, hw, -1.0, {{175, 195, 185}, SurfaceKind::kWall}});
  scene_.planes.push_back({1, -hw, 1.0, {{185, 190, 200}, SurfaceKind::kWall}});

  scene_.boxes.clear();
  // Obstacles against the walls, spread along the straight part.
  for (int i = 0; i < params_.obstacle_count; ++i) {
    const double slot = (length - 1.0) / std::max(1, params_.obstacle_count);
    const double x = 1.0 + slot * (i + 0.15 + 0.7 * unit(rng));
    const double along = 0.4 + 0.5 * unit(rng);
    const double into = 0.25 + 0.2 * unit(rng);
    const double height = 0.5 + 0.7 * unit(rng);
    const double side = (i % 2 == 0) ? 1.0 : -1.0;
    Box box;
    box.min = Eigen::Vector3d(x - along / 2, side > 0 ? hw - into : -hw, 0.0);
    box.max = Eigen::Vector3d(x + along / 2, side > 0 ? hw : -hw + into, height);
    box.material = {jitter(kObstacleColours[i % 4], rng), SurfaceKind::kObstacle};
    scene_.boxes.push_back(box);
  }
  // Litter in the robot's lanes, alternating lanes, cycling paper, bottle, cup.
  for (int i = 0; i < params_.litter_count; ++i) {
    const LitterShape & shape = kLitterShapes[i % 3];
    const double slot = (length - 2.0) / std::max(1, params_.litter_count);
    const double x = 1.5 + slot * (i + 0.1 + 0.8 * unit(rng));
    const double y = ((i % 2 == 0) ? -lane : lane) + 0.5 * (unit(rng) - 0.5);
    const bool across = unit(rng) < 0.5;
    const double dx = across ? shape.width : shape.length;
    const double dy = across ? shape.length : shape.width;
    Box box;
    box.min = Eigen::Vector3d(x - dx / 2, y - dy / 2, 0.0);
    box.max = Eigen::Vector3d(x + dx / 2, y + dy / 2, shape.height);
    box.material = {jitter(shape.colour, rng), shape.kind};
    scene_.boxes.push_back(box);
  }
  // The person, placed by sceneAt().
  person_index_ = scene_.boxes.size();
  Box person;
  person.material = {{50, 90, 170}, SurfaceKind::kPerson};
  scene_.boxes.push_back(person);
  sceneAt(0.0);
}

const Scene & DemoWorld::sceneAt(double t_s)
{
  // Walks across the corridor and back (triangle wave), keeping 0.1 m from the walls.
  const double reach = params_.half_width_m - kPersonWidth / 2 - 0.1;
  const double span = 2.0 * reach;
  double s = std::fmod(params_.person_speed_mps * t_s, 2.0 * span);
  if (s < 0.0) {
    s += 2.0 * span;
  }
  const double y = s < span ? -reach + s : reach - (s - span);
  Box & person = scene_.boxes[person_index_];
  person.min = Eigen::Vector3d(params_.person_x_m - kPersonDepth / 2, y - kPersonWidth / 2, 0.0);
  person.max = Eigen::Vector3d(
    params_.person_x_m + kPersonDepth / 2, y + kPersonWidth / 2, kPersonHeight);
  return scene_;
}

Eigen::Isometry3d DemoWorld::mapToBase(double t_s) const
{
  return RobotTrajectory::toIsometry(trajectory_.poseAt(t_s));
}

Eigen::Isometry3d DemoWorld::mapToOdom() const
{
  return RobotTrajectory::toIsometry(Pose2D{0.15, -0.05, 0.02});
}

Eigen::Isometry3d DemoWorld::odomToBase(double t_s) const
{
  return mapToOdom().inverse() * mapToBase(t_s);
}

}  // namespace nimbra_demo_scene
