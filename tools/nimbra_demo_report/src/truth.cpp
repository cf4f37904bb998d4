#include "truth.hpp"

#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>

namespace nimbra_demo_report
{

namespace
{

const std::map<std::string, int> & ClassTypes()
{
  static const std::map<std::string, int> types{
    {"person", 300}, {"chair", 201}, {"waiting_bench", 202}, {"wheelchair", 203},
    {"hospital_bed", 204}, {"carpet", 105}, {"coffee", 103}, {"escalator_entrance", 106},
    {"paper", 400}, {"mask", 401}, {"bottle", 402}, {"paper_cup", 403}};
  return types;
}

/// Distance from a point to a solid box (0 inside).
double BoxDistance(const Eigen::Vector3d & p, const Eigen::Vector3d & min, const Eigen::Vector3d & max)
{
  const Eigen::Vector3d below = (min - p).cwiseMax(0.0);
  const Eigen::Vector3d above = (p - max).cwiseMax(0.0);
  return (below + above).norm();
}

}  // namespace

int semanticTypeOf(const std::string & class_name)
{
  const auto it = ClassTypes().find(class_name);
  return it == ClassTypes().end() ? -1 : it->second;
}

std::string semanticName(int type)
{
  for (const auto & [name, value] : ClassTypes()) {
    if (value == type) {
      return name;
    }
  }
  switch (type) {
    case semantic::kInvalid: return "invalid";
    case semantic::kNoType: return "no_type";
    case semantic::kCommonStatic: return "common_static";
    case semantic::kCommonDynamic: return "common_dynamic";
    case semantic::kObstacle: return "obstacle";
    default: return "type " + std::to_string(type);
  }
}

bool isUntyped(int type)
{
  return type == semantic::kInvalid || type == semantic::kNoType ||
         type == semantic::kCommonStatic || type == semantic::kCommonDynamic ||
         type == semantic::kObstacle;
}

Role roleOf(const nimbra_demo_scene::WorldObject & object)
{
  using nimbra_demo_scene::SurfaceKind;
  if (object.kind == SurfaceKind::kFloor || object.kind == SurfaceKind::kFloorPatch) {
    return Role::kFloor;
  }
  if (object.name.rfind("litter_", 0) == 0) {
    return Role::kLitter;
  }
  return Role::kObstacle;
}

bool classMatches(const nimbra_demo_scene::WorldObject & object, int published_type)
{
  const int expected = semanticTypeOf(object.semantic_class);
  if (expected < 0) {
    return isUntyped(published_type);
  }
  return published_type == expected;
}

WorldTruth::WorldTruth(
  const nimbra_demo_scene::DemoWorld::Params & params, double rate_hz, double start_s)
: world_(params), rate_hz_(rate_hz), start_s_(start_s)
{
  if (!(rate_hz > 0.0) || !std::isfinite(rate_hz) || !(start_s >= 0.0) || !std::isfinite(start_s)) {
    throw std::invalid_argument("WorldTruth: rate must be positive and start time not negative");
  }
  setFrame(0);
}

void WorldTruth::setFrame(uint64_t frame)
{
  scene_t_ = start_s_ + static_cast<double>(frame) / rate_hz_;
  scene_ = world_.sceneAt(scene_t_);
  map_to_base_ = world_.mapToBase(scene_t_);
  placements_ = world_.placementsAt(scene_t_);
}

uint16_t WorldTruth::objectAt(const Eigen::Vector3d & base_point, double max_distance_m) const
{
  return objectAtMap(map_to_base_ * base_point, max_distance_m);
}

uint16_t WorldTruth::objectAtMap(const Eigen::Vector3d & p, double max_distance_m) const
{
  const nimbra_demo_scene::Scene & scene = scene_;
  double best_box = std::numeric_limits<double>::infinity();
  uint16_t box_object = nimbra_demo_scene::kNoObject;
  for (const auto & box : scene.boxes) {
    const double d = BoxDistance(p, box.min, box.max);
    if (d < best_box) {
      best_box = d;
      box_object = box.object;
    }
  }
  double best_plane = std::numeric_limits<double>::infinity();
  uint16_t plane_object = nimbra_demo_scene::kNoObject;
  for (const auto & plane : scene.planes) {
    const double d = std::fabs(p[plane.axis] - plane.offset);
    if (d < best_plane) {
      best_plane = d;
      plane_object = plane.object;
    }
  }
  if (best_box <= best_plane + 0.005 && best_box <= max_distance_m) {
    return box_object;
  }
  if (best_plane <= max_distance_m) {
    return plane_object;
  }
  return nimbra_demo_scene::kNoObject;
}

const nimbra_demo_scene::WorldObject & WorldTruth::object(uint16_t id) const
{
  return world_.objects().at(id);
}

const std::vector<nimbra_demo_scene::WorldObject> & WorldTruth::objects() const
{
  return world_.objects();
}

}  // namespace nimbra_demo_report
