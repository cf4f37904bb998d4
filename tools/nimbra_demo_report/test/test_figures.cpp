// Order statistics, the node's log lines and figure verdicts of the report.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

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

TEST(Figures, VerdictsAgainstGoalAndAssertedBound)
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
}

TEST(Figures, RelaxedBoundsAreAppliedByNameAndShownBesideTheGoal)
{
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

}  // namespace
}  // namespace nimbra_demo_report
