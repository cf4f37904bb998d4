// What the report reads and writes: clouds from the network, the node's log lines, order
// statistics and figure verdicts.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "cloud_points.hpp"
#include "figures.hpp"

namespace nimbra_demo_report
{
namespace
{

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
