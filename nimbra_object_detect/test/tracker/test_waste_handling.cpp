#include <gtest/gtest.h>

#include <deque>
#include <limits>
#include <string>
#include <vector>

#include "common/semantic_type.hpp"
#include "tracker/tracker_test_support.hpp"
#include "tracker/waste_handling.hpp"

namespace orvix
{
namespace perception
{
namespace
{

struct VoteCase
{
  const char * name;
  std::deque<int32_t> history;
  int32_t current;
  int32_t expected;
};

TEST(VoteType, MostFrequentClassWinsTiesGoToTheSmallerValue)
{
  const std::vector<VoteCase> cases = {
    {"empty history keeps the current class", {}, semantic::MASK, semantic::MASK},
    {"single entry", {semantic::BOTTLE}, semantic::PAPER, semantic::BOTTLE},
    {"tie 3:3 goes to PAPER (400)",
      {semantic::BOTTLE, semantic::PAPER, semantic::BOTTLE, semantic::PAPER, semantic::BOTTLE,
        semantic::PAPER}, semantic::BOTTLE, semantic::PAPER},
    {"clear majority", {semantic::SWAB, semantic::PAPER, semantic::SWAB}, semantic::PAPER,
      semantic::SWAB},
    {"three-way tie goes to the smallest",
      {semantic::SWAB, semantic::MASK, semantic::BOTTLE}, semantic::SWAB, semantic::MASK},
  };
  for (const VoteCase & c : cases) {
    EXPECT_EQ(VoteType(c.history, c.current), c.expected) << c.name;
  }
}

struct CodeCase
{
  const char * name;
  int32_t type;
  std::vector<float> size;  // length, width, height [m]
  int32_t expected;
};

TEST(ChooseHandleCode, FollowsTheHandlingLists)
{
  const TrashTrackerConfig config = test::TestConfig();  // height <= 0.05, length/width <= 0.15
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<CodeCase> cases = {
    {"base class", semantic::PAPER, {1.0F, 1.0F, 1.0F}, kHandleByBase},
    {"arm class", semantic::BOTTLE, {0.1F, 0.1F, 0.1F}, kHandleByArm},
    {"unlisted class", semantic::PAPER_CUP, {0.1F, 0.1F, 0.01F}, kHandleUnlisted},
    {"uncertain, size unknown", semantic::MASK, {-1.0F, -1.0F, -1.0F}, kHandleUncertain},
    {"uncertain, small", semantic::MASK, {0.1F, 0.05F, 0.01F}, kHandleByBase},
    {"uncertain, exactly at the limits", semantic::SWAB, {0.15F, 0.15F, 0.05F}, kHandleByBase},
    {"uncertain, too tall", semantic::MASK, {0.1F, 0.05F, 0.06F}, kHandleUncertain},
    {"uncertain, too long", semantic::MASK, {0.16F, 0.05F, 0.01F}, kHandleUncertain},
    {"uncertain, too wide", semantic::MASK, {0.1F, 0.151F, 0.01F}, kHandleUncertain},
    {"uncertain, flat (height 0)", semantic::MASK, {0.1F, 0.05F, 0.0F}, kHandleUncertain},
    {"uncertain, NaN size", semantic::MASK, {nan, 0.05F, 0.01F}, kHandleUncertain},
    {"uncertain, short size vector", semantic::MASK, {0.1F}, kHandleUncertain},
  };
  for (const CodeCase & c : cases) {
    EXPECT_EQ(ChooseHandleCode(c.type, c.size, config), c.expected) << c.name;
  }
}

TEST(ChooseHandleCode, BaseListWinsOverTheOthers)
{
  TrashTrackerConfig config = test::TestConfig();
  config.arm_handle_class.insert(semantic::PAPER);
  config.uncertain_class.insert(semantic::PAPER);
  EXPECT_EQ(ChooseHandleCode(semantic::PAPER, {-1.F, -1.F, -1.F}, config), kHandleByBase);
  config.uncertain_class.insert(semantic::BOTTLE);
  EXPECT_EQ(ChooseHandleCode(semantic::BOTTLE, {-1.F, -1.F, -1.F}, config), kHandleByArm);
}

}  // namespace
}  // namespace perception
}  // namespace orvix
