// Ground-truth lookups of the report: class names, roles, which object a point lies on, and the
// frame numbers carried in demo_scene's stamps.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "nimbra_demo_scene/demo_palette.hpp"
#include "nimbra_demo_scene/frame_stamp.hpp"
#include "truth.hpp"

namespace nimbra_demo_report
{
namespace
{

using nimbra_demo_scene::kNoObject;

TEST(SemanticTypes, ClassNamesMapToTheNodesNumbersAndPublishedTypesMatchObjects)
{
  const std::vector<std::pair<std::string, int>> cases{
    {"person", 300}, {"chair", 201}, {"waiting_bench", 202}, {"wheelchair", 203},
    {"hospital_bed", 204}, {"carpet", 105}, {"coffee", 103}, {"bottle", 402}, {"paper", 400},
    {"paper_cup", 403}, {"mask", 401}, {"", -1}, {"table", -1}};
  for (const auto & [name, type] : cases) {
    EXPECT_EQ(semanticTypeOf(name), type) << name;
    if (type > 0) {
      EXPECT_EQ(semanticName(type), name);
    }
  }
  // Every class of the demo model (demo_palette.csv) has a number the node publishes.
  for (const std::string & name : nimbra_demo_scene::demoModelClasses()) {
    EXPECT_GT(semanticTypeOf(name), 0) << name;
  }

  nimbra_demo_scene::WorldObject chair;
  chair.semantic_class = "chair";
  nimbra_demo_scene::WorldObject table;  // no model class: matches the untyped numbers only
  struct Case {const nimbra_demo_scene::WorldObject * object; int published; bool match;};
  const std::vector<Case> matches{{&chair, 201, true}, {&chair, 202, false}, {&chair, 1, false},
    {&table, 0, true}, {&table, 1, true}, {&table, 2, true}, {&table, 3, true},
    {&table, 200, true}, {&table, 201, false}, {&table, 300, false}, {&table, 103, false},
    {&table, 402, false}};
  for (const auto & c : matches) {
    EXPECT_EQ(classMatches(*c.object, c.published), c.match)
      << c.object->semantic_class << " " << c.published;
  }
}

TEST(WorldTruth, RolesSurfacesUnderPointsAndObjectsWhereTheyAreAtTheFrameSinceTheStart)
{
  WorldTruth truth(nimbra_demo_scene::DemoWorld::Params{}, 10.0);
  const std::vector<std::pair<std::string, Role>> roles{
    {"floor", Role::kFloor}, {"carpet", Role::kFloor}, {"spill", Role::kFloor},
    {"wall_north", Role::kObstacle}, {"chair", Role::kObstacle}, {"cart", Role::kObstacle},
    {"bottle_on_bench", Role::kObstacle}, {"person_walking", Role::kObstacle},
    {"litter_1", Role::kLitter}, {"litter_6", Role::kLitter}};
  for (const auto & [name, role] : roles) {
    EXPECT_EQ(roleOf(truth.world().object(name)), role) << name;
  }
  for (uint64_t frame : {0u, 37u, 150u}) {
    truth.setFrame(frame);
    EXPECT_DOUBLE_EQ(truth.sceneTime(), frame / 10.0);
    // Every box of every object: the centre of its top face (map and base_footprint) is on it,
    // also for the thin carpet (8 mm) and spill (4 mm) rather than the floor just below.
    const auto & scene = truth.world().sceneAt(truth.sceneTime());
    for (const auto & object : truth.objects()) {
      for (const size_t b : object.boxes) {
        const auto & box = scene.boxes[b];
        const Eigen::Vector3d top(
          (box.min.x() + box.max.x()) / 2, (box.min.y() + box.max.y()) / 2, box.max.z());
        EXPECT_EQ(truth.objectAtMap(top), object.id) << object.name << " frame " << frame;
        const Eigen::Vector3d base_top = truth.mapToBase().inverse() * top;
        EXPECT_EQ(truth.objectAt(base_top), object.id) << object.name << " frame " << frame;
      }
    }
  }
  // Bare floor in front of the start and noisy depth below it, the walls; nothing in mid-air.
  truth.setFrame(0);
  const std::vector<std::pair<Eigen::Vector3d, std::string>> cases{
    {{0.3, 0.0, 0.01}, "floor"}, {{0.3, 0.0, -0.03}, "floor"}, {{0.5, 1.6, 0.5}, "wall_north"},
    {{0.5, -1.62, 0.3}, "wall_south"}, {{0.3, 0.0, 0.8}, ""}};
  for (const auto & [map, name] : cases) {
    const uint16_t got = truth.objectAtMap(map);
    EXPECT_EQ(got == kNoObject ? std::string() : truth.object(got).name, name);
  }

  // Frame 5 of a run started at scene time 16 s is frame 165 of one started at 0.
  WorldTruth late(nimbra_demo_scene::DemoWorld::Params{}, 10.0, 16.0);
  late.setFrame(5);
  truth.setFrame(165);
  EXPECT_DOUBLE_EQ(late.sceneTime(), 16.5);
  EXPECT_TRUE(late.mapToBase().isApprox(truth.mapToBase()));
  EXPECT_THROW(WorldTruth(nimbra_demo_scene::DemoWorld::Params{}, 0.0), std::invalid_argument);
  EXPECT_THROW(WorldTruth(nimbra_demo_scene::DemoWorld::Params{}, 10.0, -1.0),
    std::invalid_argument);

  // Placements follow the frame: at frame 50 (the cart moved 2 m in 5 s) the cart's centre is on
  // the cart. (That lookups follow the frame, the top faces above pin.)
  const uint16_t cart = truth.world().object("cart").id;
  truth.setFrame(50);
  const auto placement = std::find_if(truth.placements().begin(), truth.placements().end(),
    [&](const nimbra_demo_scene::ObjectPlacement & p) {return p.id == cart;});
  ASSERT_NE(placement, truth.placements().end());
  EXPECT_EQ(truth.objectAtMap(placement->map_centre), cart);
}

TEST(FrameStamp, FrameNumbersSurviveTheStampAndADouble)
{
  struct Case {int64_t sec; uint32_t nanosec; uint64_t frame;};
  const std::vector<Case> cases{
    {1796574697, 123456789, 0}, {1796574697, 999999999, 1}, {1796574697, 0, 999},
    {1796574698, 500000000, 1000}, {1796574699, 7000, 1234}, {1796574800, 999500000, 86399}};
  for (const auto & c : cases) {
    int64_t sec = 0;
    uint32_t nanosec = 0;
    nimbra_demo_scene::frameStamp(c.sec, c.nanosec, c.frame, sec, nanosec);
    const double wall = c.sec + c.nanosec * 1e-9;
    const double stamp = sec + nanosec * 1e-9;
    EXPECT_LE(std::fabs(stamp - wall), 0.001) << c.frame;
    EXPECT_LT(nanosec, 1000000000u);
    // A guess within a few hundred frames finds the frame exactly.
    for (double off : {-300.0, 0.0, 0.4, 250.0}) {
      EXPECT_EQ(nimbra_demo_scene::frameFromStamp(stamp, c.frame + off), c.frame)
        << c.frame << " guess offset " << off;
    }
  }
  // Never negative: a guess before frame 0 gives the residue.
  EXPECT_EQ(nimbra_demo_scene::frameFromStamp(1796574697.000003, -400.0), 3u);
}

}  // namespace
}  // namespace nimbra_demo_report
