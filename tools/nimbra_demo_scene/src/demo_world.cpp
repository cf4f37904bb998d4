#include "nimbra_demo_scene/demo_world.hpp"

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>

#include "nimbra_demo_scene/demo_palette.hpp"

namespace nimbra_demo_scene
{
namespace
{

constexpr double kPersonDepth = 0.3;    // along the corridor, m
constexpr double kPersonWidth = 0.45;   // across the corridor, m
constexpr double kPersonHeight = 1.7;   // m
constexpr double kLaneMargin = 0.6;     // free space beside a lane for the robot, m
constexpr int kMaxObstacles = 2;        // palette rows obstacle_1 ..
constexpr int kMaxLitter = 6;           // palette rows litter_1 ..
constexpr double kCartLength = 0.8;     // m
constexpr double kCartWidth = 0.5;      // m
constexpr double kCartHeight = 0.95;    // m
constexpr double kCartFromX = 1.0;      // the cart's rear end moves between these, m
constexpr double kCartToX = 6.6;

/// Footprint (length x width) and height of a litter item, m.
struct LitterShape
{
  SurfaceKind kind;
  double length;
  double width;
  double height;
};

LitterShape litterShape(const std::string & semantic_class)
{
  if (semantic_class == "paper") {
    return {SurfaceKind::kPaper, 0.21, 0.15, 0.01};
  }
  if (semantic_class == "bottle") {
    return {SurfaceKind::kBottle, 0.22, 0.07, 0.07};
  }
  if (semantic_class == "paper_cup") {
    return {SurfaceKind::kCup, 0.08, 0.08, 0.10};
  }
  if (semantic_class == "mask") {
    return {SurfaceKind::kMask, 0.17, 0.09, 0.01};
  }
  throw std::invalid_argument("demo world: no litter shape for class '" + semantic_class + "'");
}

/// Triangle wave between 0 and `span` at `speed`.
double backAndForth(double t_s, double speed, double span)
{
  double s = std::fmod(speed * t_s, 2.0 * span);
  if (s < 0.0) {
    s += 2.0 * span;
  }
  return s < span ? s : 2.0 * span - s;
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
  if (params.obstacle_count < 0 || params.obstacle_count > kMaxObstacles ||
    params.litter_count < 0 || params.litter_count > kMaxLitter)
  {
    throw std::invalid_argument(
            "demo world: obstacle_count must be in 0.." + std::to_string(kMaxObstacles) +
            " and litter_count in 0.." + std::to_string(kMaxLitter));
  }
  if (!(std::isfinite(params.person_speed_mps) && std::isfinite(params.cart_speed_mps))) {
    throw std::invalid_argument("demo world: speeds must be finite");
  }
  layOut();
}

uint16_t DemoWorld::addObject(const std::string & name, SurfaceKind kind)
{
  const PaletteEntry & entry = paletteEntry(name);
  WorldObject object;
  object.id = static_cast<uint16_t>(objects_.size());
  object.name = name;
  object.semantic_class = entry.semantic_class;
  object.kind = kind;
  objects_.push_back(object);
  return object.id;
}

void DemoWorld::addBox(uint16_t object, const Eigen::Vector3d & min, const Eigen::Vector3d & max)
{
  WorldObject & owner = objects_.at(object);
  Box box;
  box.min = min;
  box.max = max;
  box.material = {paletteEntry(owner.name).colour, owner.kind};
  box.object = object;
  owner.boxes.push_back(scene_.boxes.size());
  scene_.boxes.push_back(box);
}

void DemoWorld::addPlane(uint16_t object, int axis, double offset, double facing)
{
  WorldObject & owner = objects_.at(object);
  AxisPlane plane;
  plane.axis = axis;
  plane.offset = offset;
  plane.facing = facing;
  plane.material = {paletteEntry(owner.name).colour, owner.kind};
  plane.object = object;
  owner.plane = static_cast<int>(scene_.planes.size());
  scene_.planes.push_back(plane);
}

void DemoWorld::layOut()
{
  std::mt19937 rng(params_.seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  // Shift along the corridor of a piece of furniture: +-0.25 m.
  const auto jitter = [&] {return 0.5 * (unit(rng) - 0.5);};
  const double hw = params_.half_width_m;
  const double lane = RobotTrajectory::Params{}.turn_radius_m;
  using V = Eigen::Vector3d;

  scene_.planes.clear();
  scene_.boxes.clear();
  objects_.clear();
  addPlane(addObject("floor", SurfaceKind::kFloor), 2, 0.0, 1.0);
  addPlane(addObject("wall_north", SurfaceKind::kWall), 1, hw, -1.0);
  addPlane(addObject("wall_south", SurfaceKind::kWall), 1, -hw, 1.0);

  // Floor patches in the lanes: a carpet in the eastbound lane, a coffee spill westbound.
  double x = 1.0 + jitter();
  addBox(addObject("carpet", SurfaceKind::kFloorPatch), V(x, -lane - 0.5, 0.0),
    V(x + 1.2, -lane + 0.3, 0.008));
  x = 1.6 + jitter();
  addBox(addObject("spill", SurfaceKind::kFloorPatch), V(x, lane - 0.25, 0.0),
    V(x + 0.5, lane + 0.25, 0.004));

  // A waiting bench against the south wall with a bottle standing on it.
  x = 2.7 + jitter();
  addBox(addObject("waiting_bench", SurfaceKind::kFurniture), V(x, -hw, 0.0),
    V(x + 1.4, -hw + 0.45, 0.45));
  addBox(addObject("bottle_on_bench", SurfaceKind::kBottle), V(x + 0.45, -hw + 0.2, 0.45),
    V(x + 0.52, -hw + 0.27, 0.69));

  // A chair against the north wall, facing the corridor: seat block and backrest.
  x = 4.6 + jitter();
  const uint16_t chair = addObject("chair", SurfaceKind::kFurniture);
  addBox(chair, V(x, hw - 0.5, 0.0), V(x + 0.46, hw - 0.04, 0.46));
  addBox(chair, V(x, hw - 0.12, 0.46), V(x + 0.46, hw - 0.04, 0.9));

  // A wheelchair by the south wall, its back to the west.
  x = 5.2 + jitter();
  const uint16_t wheelchair = addObject("wheelchair", SurfaceKind::kFurniture);
  addBox(wheelchair, V(x, -hw + 0.05, 0.0), V(x + 0.65, -hw + 0.65, 0.55));
  addBox(wheelchair, V(x, -hw + 0.05, 0.55), V(x + 0.08, -hw + 0.65, 0.95));

  // A hospital bed along the north wall, headboard to the east.
  x = 5.8 + jitter();
  const uint16_t bed = addObject("hospital_bed", SurfaceKind::kFurniture);
  addBox(bed, V(x, hw - 0.76, 0.0), V(x + 2.0, hw - 0.02, 0.6));
  addBox(bed, V(x + 1.92, hw - 0.76, 0.6), V(x + 2.0, hw - 0.02, 1.0));

  // A table by the south wall (no model class) with a bottle on it, above a bottle's height
  // band on the floor.
  x = 6.6 + jitter();
  addBox(addObject("table", SurfaceKind::kFurniture), V(x, -hw, 0.0), V(x + 0.8, -hw + 0.6, 0.75));
  addBox(addObject("bottle_on_table", SurfaceKind::kBottle), V(x + 0.4, -hw + 0.3, 0.75),
    V(x + 0.47, -hw + 0.37, 0.99));

  // Litter in the robot's lanes, alternating lanes, classes from the palette rows litter_n.
  for (int i = 0; i < params_.litter_count; ++i) {
    const std::string name = "litter_" + std::to_string(i + 1);
    const LitterShape shape = litterShape(paletteEntry(name).semantic_class);
    const double slot = 5.0 / kMaxLitter;
    const double lx = 2.4 + slot * (i + 0.15 + 0.7 * unit(rng));
    const double ly = ((i % 2 == 0) ? -lane : lane) + 0.2 * (unit(rng) - 0.5);
    const bool across = unit(rng) < 0.5;
    const double dx = across ? shape.width : shape.length;
    const double dy = across ? shape.length : shape.width;
    addBox(addObject(name, shape.kind), V(lx - dx / 2, ly - dy / 2, 0.0),
      V(lx + dx / 2, ly + dy / 2, shape.height));
  }

  // Beyond the loop: plain obstacles, a person standing by the south wall.
  if (params_.obstacle_count >= 1) {
    x = 9.0 + jitter();
    addBox(addObject("obstacle_1", SurfaceKind::kObstacle), V(x, hw - 0.4, 0.0),
      V(x + 0.5, hw, 0.9));
  }
  if (params_.obstacle_count >= 2) {
    x = 11.2 + jitter();
    addBox(addObject("obstacle_2", SurfaceKind::kObstacle), V(x, -hw, 0.0),
      V(x + 0.6, -hw + 0.5, 1.1));
  }
  x = 9.4 + jitter();
  addBox(addObject("person_standing", SurfaceKind::kPerson), V(x, -hw + 0.3, 0.0),
    V(x + kPersonDepth, -hw + 0.3 + kPersonWidth, kPersonHeight));

  // Moving things, placed by sceneAt(): the cart between the lanes, the walking person.
  addBox(addObject("cart", SurfaceKind::kCart), V::Zero(), V::Ones());
  cart_index_ = scene_.boxes.size() - 1;
  objects_.back().moving = true;
  addBox(addObject("person_walking", SurfaceKind::kPerson), V::Zero(), V::Ones());
  person_index_ = scene_.boxes.size() - 1;
  objects_.back().moving = true;
  sceneAt(0.0);
}

const Scene & DemoWorld::sceneAt(double t_s)
{
  // The person walks across the corridor and back, keeping 0.1 m from the walls.
  const double reach = params_.half_width_m - kPersonWidth / 2 - 0.1;
  const double y = -reach + backAndForth(t_s, params_.person_speed_mps, 2.0 * reach);
  Box & person = scene_.boxes[person_index_];
  person.min = Eigen::Vector3d(params_.person_x_m - kPersonDepth / 2, y - kPersonWidth / 2, 0.0);
  person.max = Eigen::Vector3d(
    params_.person_x_m + kPersonDepth / 2, y + kPersonWidth / 2, kPersonHeight);
  // The cart is pushed along the corridor's centre line and back.
  const double cx = kCartFromX + backAndForth(t_s, params_.cart_speed_mps, kCartToX - kCartFromX);
  Box & cart = scene_.boxes[cart_index_];
  cart.min = Eigen::Vector3d(cx, -kCartWidth / 2, 0.0);
  cart.max = Eigen::Vector3d(cx + kCartLength, kCartWidth / 2, kCartHeight);
  return scene_;
}

const WorldObject & DemoWorld::object(const std::string & name) const
{
  for (const WorldObject & object : objects_) {
    if (object.name == name) {
      return object;
    }
  }
  throw std::out_of_range("demo world: no object named '" + name + "'");
}

std::vector<ObjectPlacement> DemoWorld::placementsAt(double t_s)
{
  const Scene & scene = sceneAt(t_s);
  const Eigen::Isometry3d base_from_map = mapToBase(t_s).inverse();
  std::vector<ObjectPlacement> placements;
  for (const WorldObject & object : objects_) {
    if (object.boxes.empty()) {
      continue;
    }
    ObjectPlacement placement;
    placement.id = object.id;
    for (size_t index : object.boxes) {
      const Box & box = scene.boxes[index];
      placement.map_extent.extend(box.min);
      placement.map_extent.extend(box.max);
      for (int corner = 0; corner < 8; ++corner) {
        const Eigen::Vector3d p(
          (corner & 1) ? box.max.x() : box.min.x(), (corner & 2) ? box.max.y() : box.min.y(),
          (corner & 4) ? box.max.z() : box.min.z());
        placement.base_extent.extend(base_from_map * p);
      }
    }
    placement.map_centre = placement.map_extent.center();
    placement.base_centre = base_from_map * placement.map_centre;
    placements.push_back(placement);
  }
  return placements;
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
