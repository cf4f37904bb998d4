// What the tracker publishes: the handling code and class vote of a track, and the two messages.

#include <geometry_msgs/msg/point.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/log_capture.hpp"
#include "tracker/tracker_test_support.hpp"
#include "tracker/waste_handling.hpp"

namespace orvix::perception
{
namespace
{

using test::Observation;
using test::RobotPose;

TEST(VoteType, MostFrequentClassWinsTiesGoToTheSmallerValue)
{
  struct Case
  {
    const char * name;
    std::deque<int32_t> history;
    int32_t current;
    int32_t expected;
  };
  const std::vector<Case> cases = {
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
  for (const Case & c : cases) {
    EXPECT_EQ(VoteType(c.history, c.current), c.expected) << c.name;
  }
}

TEST(ChooseHandleCode, FollowsTheHandlingListsBaseFirstThenArm)
{
  // Height <= 0.05, length and width <= 0.15; PAPER is also on the arm and uncertain lists and
  // BOTTLE also on the uncertain list, so the order of the lists decides.
  TrashTrackerConfig config = test::TestConfig();
  config.arm_handle_class.insert(semantic::PAPER);
  config.uncertain_class.insert({semantic::PAPER, semantic::BOTTLE});
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case
  {
    const char * name;
    int32_t type;
    std::vector<float> size;  // length, width, height [m]
    int32_t expected;
  };
  const std::vector<Case> cases = {
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
  for (const Case & c : cases) {
    EXPECT_EQ(ChooseHandleCode(c.type, c.size, config), c.expected) << c.name;
  }
}

TEST(TrashTrackerPublish, MarkersThenListOfConfirmedTracksEvenWhenEmpty)
{
  struct
  {
    std::vector<std::string> order;  ///< "trash_marker" / "detected_wastes", one per publication
    std::vector<nimbra_protocol::msg::DetectedWastes> wastes;
    std::vector<visualization_msgs::msg::MarkerArray> markers;
  } published;
  const auto tracker = std::make_unique<TrashTracker>(test::TestConfig(),
    [&published](const nimbra_protocol::msg::DetectedWastes & message) {
      published.order.push_back("detected_wastes");
      published.wastes.push_back(message);
    },
    [&published](const visualization_msgs::msg::MarkerArray & message) {
      published.order.push_back("trash_marker");
      published.markers.push_back(message);
    });
  WasteObservation paper = Observation(2.0, 1.0, semantic::PAPER, {-1.F, -1.F, -1.F}, 1.25F);
  paper.z = 0.02;
  const WasteObservation swab = Observation(4.0, -1.0, semantic::SWAB);
  // First seen as a BOTTLE (arm), then matched as a SWAB only: the vote makes it a SWAB.
  tracker->Update({paper, Observation(4.0, -1.0, semantic::BOTTLE)}, RobotPose(0.0, 0.0));
  tracker->Update({paper, swab}, RobotPose(0.0, 0.0));
  tracker->Publish();  // 2 hits, min age 3: nothing confirmed
  // A third, young track stays unpublished.
  tracker->Update({paper, swab, Observation(-2.0, 0.0)}, RobotPose(0.0, 0.0));
  const auto before = std::chrono::system_clock::now();
  tracker->Publish();
  const auto after = std::chrono::system_clock::now();
  EXPECT_EQ(tracker->tracks().at(1).type, semantic::SWAB);  // the vote is kept
  // The swab's size becomes known and small: the base takes it too.
  tracker->Update({paper, Observation(4.0, -1.0, semantic::SWAB, {0.1F, 0.05F, 0.01F})},
    RobotPose(0.0, 0.0));
  tracker->Publish();

  const auto point = [](double x, double y, double z) {
      return geometry_msgs::build<geometry_msgs::msg::Point>().x(x).y(y).z(z);
    };
  ASSERT_EQ(published.order, (std::vector<std::string>{"trash_marker", "detected_wastes",
    "trash_marker", "detected_wastes", "trash_marker", "detected_wastes"}));
  // Not even a frame or a stamp when empty.
  EXPECT_EQ(published.markers[0], visualization_msgs::msg::MarkerArray());
  EXPECT_EQ(published.wastes[0], nimbra_protocol::msg::DetectedWastes());

  nimbra_protocol::msg::DetectedWastes wastes;
  wastes.header.frame_id = "map";
  wastes.ids = {0, 1};
  wastes.handle_types = {kHandleByBase, kHandleUncertain};
  wastes.poses.resize(2);
  wastes.poses[0].position = point(2.0, 1.0, 0.02);
  wastes.poses[1].position = point(4.0, -1.0, 0.0);
  wastes.distances = {1.25, 1.0};
  EXPECT_EQ(published.wastes[1], wastes);
  EXPECT_EQ(published.wastes[2].handle_types,
    (std::vector<int32_t>{kHandleByBase, kHandleByBase}));

  // Closed 2 cm squares, red where the base takes the item, green otherwise, stamped now.
  const auto & markers = published.markers[1].markers;
  ASSERT_EQ(markers.size(), 2U);
  const auto stamp = std::chrono::system_clock::time_point(
    std::chrono::duration_cast<std::chrono::system_clock::duration>(
      std::chrono::seconds(markers[0].header.stamp.sec) +
      std::chrono::nanoseconds(markers[0].header.stamp.nanosec)));
  EXPECT_GE(stamp, std::chrono::time_point_cast<std::chrono::seconds>(before));
  EXPECT_LE(stamp, after);
  for (std::size_t i = 0; i < 2; ++i) {
    const auto & position = wastes.poses[i].position;
    visualization_msgs::msg::Marker square;
    square.header.frame_id = "map";
    square.header.stamp = markers[0].header.stamp;
    square.ns = "tracker";
    square.id = static_cast<int32_t>(i);
    square.type = visualization_msgs::msg::Marker::LINE_STRIP;
    square.action = visualization_msgs::msg::Marker::ADD;
    square.pose.orientation.w = 1.0;
    square.scale.x = 0.1;
    square.color.r = i == 0 ? 1.0F : 0.0F;
    square.color.g = i == 0 ? 0.0F : 1.0F;
    square.color.a = 1.0F;
    square.lifetime.nanosec = 100000000U;
    for (const auto & [dx, dy] : {std::pair{-1, -1}, {-1, 1}, {1, 1}, {1, -1}, {-1, -1}}) {
      square.points.push_back(point(position.x + 0.01 * dx, position.y + 0.01 * dy, position.z));
    }
    EXPECT_EQ(markers[i], square) << i;
  }
}

TEST(TrashTrackerPublish, MissingPublishersAreSkippedAndAFailureIsLoggedNotThrown)
{
  nimbra::test::LogCapture capture;
  TrashTracker(test::TestConfig(), nullptr, nullptr).Publish();
  const auto throwing = [](const visualization_msgs::msg::MarkerArray &) {
      throw std::runtime_error("publisher is gone");
    };
  EXPECT_NO_THROW(TrashTracker(test::TestConfig(), nullptr, throwing).Publish());
  EXPECT_EQ(capture.Lines(),
    std::vector<std::string>{"[ERROR] Publishing 0 detected wastes failed: publisher is gone"});
}

}  // namespace
}  // namespace orvix::perception
