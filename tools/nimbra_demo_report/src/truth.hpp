// Ground truth of the demo world for points the perception node publishes: which world object
// a point lies on, at the scene time of the frame it came from, and what class it should carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Geometry>

#include "nimbra_demo_scene/demo_world.hpp"

namespace nimbra_demo_report
{

/// Semantic type numbers of the node's messages (semantic_type.proto).
namespace semantic
{
constexpr int kInvalid = 0;
constexpr int kNoType = 1;
constexpr int kCommonStatic = 2;
constexpr int kCommonDynamic = 3;
constexpr int kObstacle = 200;
}  // namespace semantic

/// Semantic type of a demo model class name ("person" -> 300); -1 for "" (no class) or an
/// unknown name.
int semanticTypeOf(const std::string & class_name);
/// Lower-case name of a semantic type for tables ("person", "obstacle", "type 77").
std::string semanticName(int type);
/// True for the types a cluster without a recognised class carries.
bool isUntyped(int type);

/// What role an object plays in the figures.
enum class Role : uint8_t
{
  kFloor,      ///< floor plane and flat floor patches (carpet, spill)
  kObstacle,   ///< walls, furniture, people, cart, plain obstacles, bottles on furniture
  kLitter,     ///< litter lying on the floor
};

/// Role of a world object.
Role roleOf(const nimbra_demo_scene::WorldObject & object);
/// True when a point on `object` published with `published_type` carries the right class.
bool classMatches(const nimbra_demo_scene::WorldObject & object, int published_type);

/// The demo world at one frame, for looking points up.
class WorldTruth
{
public:
  /// Same layout parameters, rate and start time as the demo_scene run.
  WorldTruth(const nimbra_demo_scene::DemoWorld::Params & params, double rate_hz,
    double start_s = 0.0);

  /// Moves the world to frame `frame` (scene time start_s + frame / rate).
  void setFrame(uint64_t frame);
  double sceneTime() const {return scene_t_;}
  const Eigen::Isometry3d & mapToBase() const {return map_to_base_;}

  /// The object whose surface is nearest to `base_point` (base_footprint, m), when within
  /// `max_distance_m`; kNoObject otherwise. Boxes win over planes within 5 mm, so a point on
  /// a thin patch or litter belongs to it rather than to the floor beneath.
  uint16_t objectAt(const Eigen::Vector3d & base_point, double max_distance_m = 0.08) const;
  /// The same for a point in the map frame.
  uint16_t objectAtMap(const Eigen::Vector3d & map_point, double max_distance_m = 0.08) const;

  const nimbra_demo_scene::WorldObject & object(uint16_t id) const;
  const std::vector<nimbra_demo_scene::WorldObject> & objects() const;
  /// Placements of the boxed objects at the current frame.
  const std::vector<nimbra_demo_scene::ObjectPlacement> & placements() const {return placements_;}
  nimbra_demo_scene::DemoWorld & world() {return world_;}

private:
  nimbra_demo_scene::DemoWorld world_;
  double rate_hz_;
  double start_s_;
  nimbra_demo_scene::Scene scene_;  ///< copy of the scene at scene_t_
  double scene_t_{0.0};
  Eigen::Isometry3d map_to_base_{Eigen::Isometry3d::Identity()};
  std::vector<nimbra_demo_scene::ObjectPlacement> placements_;
};

}  // namespace nimbra_demo_report
