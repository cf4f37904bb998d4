// The report's library: ground-truth lookups (class names, roles, which object a point lies on,
// the frame numbers carried in demo_scene's stamps) and what the report reads and writes (clouds
// from the network, the node's log lines, order statistics and figure verdicts).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cloud_points.hpp"
#include "figures.hpp"
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

TEST(Quantile, InterpolatesBetweenSortedValues)
{
  struct Case {std::vector<double> v; double q; double expected;};
  const std::vector<Case> cases{
    {{5.0}, 0.5, 5.0}, {{3.0, 1.0, 2.0}, 0.5, 2.0}, {{1.0, 2.0, 3.0, 4.0}, 0.5, 2.5},
    {{0.0, 10.0}, 0.95, 9.5}, {{4.0, 1.0}, 0.0, 1.0}, {{4.0, 1.0}, 1.0, 4.0},
    {{4.0, 1.0}, 7.0, 4.0}};
  for (const auto & c : cases) {
    EXPECT_DOUBLE_EQ(quantile(c.v, c.q), c.expected);
  }
  EXPECT_TRUE(std::isnan(quantile({}, 0.5)));
}

TEST(NodeLog, StageRuntimesAndDropsPerCamera)
{
  std::istringstream log(
    "108 [DEBUG] cam_1 :<trad_method> runtime = 9121(us)\n"
    "109 [DEBUG] cam_2 :<ai_method> runtime = 30(us)\n"
    "110 [DEBUG] cam_1 :<trad_method> runtime = 100(us)\n"
    "111 [DEBUG] cam_2 :<callback> runtime = 5000(us) time fly = 1.44 (s)\n"
    "112 [WARN] ErrorCo:3, depth or rgb long time without update data of cam_2\n"
    "113 [WARN] cam_1 drops a depth image: wrong size (1 dropped so far)\n"
    "114 [DEBUG] cam_1 :<trad_method> runtime = 99999999999999999999999(us)\n"
    "garbage cam_x :<a> runtime = (us)\n");
  const auto cams = parseNodeLog(log);
  ASSERT_EQ(cams.size(), 2u);
  EXPECT_EQ(cams.at(1).stage_us.at("<trad_method>"), (std::vector<double>{9121.0, 100.0, 1e23}));
  EXPECT_EQ(cams.at(2).stage_us.at("<ai_method>"), std::vector<double>{30.0});
  EXPECT_EQ(cams.at(2).stage_us.at("<callback>"), std::vector<double>{5000.0});
  EXPECT_EQ(cams.at(2).stale_frames, 1u);
  EXPECT_EQ(cams.at(1).malformed_frames, 1u);
  EXPECT_EQ(cams.at(1).stale_frames, 0u);
}

TEST(Figures, VerdictsAgainstGoalAndRelaxedBound)
{
  struct Case {bool at_least; double goal; double value; bool measured; bool meets;};
  const std::vector<Case> cases{
    {true, 95.0, 96.0, true, true}, {true, 95.0, 95.0, true, true},
    {true, 95.0, 94.9, true, false}, {false, 1.0, 0.5, true, true},
    {false, 1.0, 1.5, true, false}, {true, 95.0, 99.0, false, false}};
  for (const auto & c : cases) {
    Figure f = makeFigure("f", "t", c.goal, c.at_least, "%");
    f.value = c.value;
    f.measured = c.measured;
    EXPECT_EQ(f.meetsGoal(), c.meets) << c.value;
    EXPECT_EQ(f.meetsBound(), c.meets) << c.value;
  }

  // Relaxed bounds are applied by name and shown beside the goal.
  std::vector<Figure> figs{makeFigure("a", "first", 95.0, true, "%"),
    makeFigure("b", "second", 1.0, false, "%")};
  const auto rejected = relaxBounds(figs, {"a=80", "c=3", "b=x", "b", ""});
  EXPECT_EQ(rejected, (std::vector<std::string>{"c=3", "b=x", "b"}));
  EXPECT_DOUBLE_EQ(figs[0].bound, 80.0);
  EXPECT_DOUBLE_EQ(figs[1].bound, 1.0);
  figs[0].measured = true;
  figs[0].value = 85.0;
  EXPECT_FALSE(figs[0].meetsGoal());
  EXPECT_TRUE(figs[0].meetsBound());
  const std::string line = figureLine(figs[0]);
  EXPECT_NE(line.find("MISSES GOAL"), std::string::npos) << line;
  EXPECT_NE(line.find("goal >= 95%"), std::string::npos) << line;
  EXPECT_NE(line.find("asserted >= 80% (measured bound)"), std::string::npos) << line;
  EXPECT_NE(figureLine(figs[1]).find("NOT MEASURED"), std::string::npos);
}

sensor_msgs::msg::PointCloud2 Cloud(const std::vector<std::array<float, 3>> & points)
{
  sensor_msgs::msg::PointCloud2 c;
  for (const char * name : {"x", "y", "z"}) {
    sensor_msgs::msg::PointField f;
    f.name = name;
    f.offset = 4 * static_cast<uint32_t>(c.fields.size());
    f.datatype = sensor_msgs::msg::PointField::FLOAT32;
    f.count = 1;
    c.fields.push_back(f);
  }
  c.point_step = 16;
  c.width = static_cast<uint32_t>(points.size());
  c.height = 1;
  c.row_step = c.point_step * c.width;
  c.data.resize(c.row_step);
  for (size_t k = 0; k < points.size(); ++k) {
    std::memcpy(c.data.data() + 16 * k, points[k].data(), 12);
  }
  return c;
}

TEST(CloudPoints, ReadsFiniteXyzAndNothingFromMalformedClouds)
{
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const auto points = cloudPoints(Cloud({{1.f, 2.f, 3.f}, {nan, 0.f, 0.f}, {-1.f, 0.5f, 0.f}}));
  ASSERT_EQ(points.size(), 2u);
  EXPECT_EQ(points[0], Eigen::Vector3d(1, 2, 3));
  EXPECT_EQ(points[1], Eigen::Vector3d(-1, 0.5, 0));

  // Malformed clouds give no points at all.
  struct Case {std::string name; void (*spoil)(sensor_msgs::msg::PointCloud2 &);};
  const std::vector<Case> cases{
    {"short data", [](sensor_msgs::msg::PointCloud2 & c) {c.data.resize(c.data.size() - 1);}},
    {"huge width", [](sensor_msgs::msg::PointCloud2 & c) {
        c.width = 0xFFFFFFFFu;
        c.height = 0xFFFFFFFFu;}},
    {"no z", [](sensor_msgs::msg::PointCloud2 & c) {c.fields.pop_back();}},
    {"float64 x", [](sensor_msgs::msg::PointCloud2 & c) {
        c.fields[0].datatype = sensor_msgs::msg::PointField::FLOAT64;}},
    {"offset past the point", [](sensor_msgs::msg::PointCloud2 & c) {c.fields[2].offset = 14;}},
    {"zero step", [](sensor_msgs::msg::PointCloud2 & c) {c.point_step = 0;}},
    {"big endian", [](sensor_msgs::msg::PointCloud2 & c) {c.is_bigendian = true;}},
  };
  for (const auto & c : cases) {
    auto cloud = Cloud({{1.f, 2.f, 3.f}, {4.f, 5.f, 6.f}});
    c.spoil(cloud);
    EXPECT_TRUE(cloudPoints(cloud).empty()) << c.name;
  }
}

}  // namespace
}  // namespace nimbra_demo_report
