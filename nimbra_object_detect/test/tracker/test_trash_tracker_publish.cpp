#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/log_capture.hpp"
#include "common/semantic_type.hpp"
#include "tracker/tracker_test_support.hpp"
#include "tracker/waste_handling.hpp"

namespace orvix
{
namespace perception
{
namespace
{

using test::Observation;
using test::RobotPose;

class TrashTrackerPublish : public testing::Test
{
protected:
  TrashTrackerPublish()
  : published_(std::make_shared<test::PublishedLog>()),
    tracker_(test::MakeTracker(test::TestConfig(), published_)) {}

  // Feeds the same observations `frames` times (min_age_threshold is 3).
  void Feed(const std::vector<WasteObservation> & observations, int frames)
  {
    for (int i = 0; i < frames; ++i) {
      tracker_->Update(observations, RobotPose(0.0, 0.0));
    }
  }

  std::shared_ptr<test::PublishedLog> published_;
  std::unique_ptr<TrashTracker> tracker_;
};

TEST_F(TrashTrackerPublish, NothingConfirmedPublishesTwoEmptyMessages)
{
  Feed({Observation(2.0, 0.0)}, 2);  // hits 2 < 3
  tracker_->Publish();
  ASSERT_EQ(published_->order, (std::vector<std::string>{"trash_marker", "detected_wastes"}));
  EXPECT_TRUE(published_->markers[0].markers.empty());
  // Not even a frame or a stamp.
  EXPECT_EQ(published_->wastes[0], nimbra_protocol::msg::DetectedWastes());
}

TEST_F(TrashTrackerPublish, ConfirmedTracksAreListedWithPoseDistanceAndCode)
{
  WasteObservation paper = Observation(2.0, 1.0, semantic::PAPER, {-1.F, -1.F, -1.F}, 1.25F);
  paper.z = 0.02;
  const WasteObservation bottle = Observation(3.0, -1.0, semantic::BOTTLE);
  Feed({paper, bottle}, 3);
  Feed({Observation(-2.0, 0.0)}, 1);  // a third, young track stays unpublished
  tracker_->Publish();

  ASSERT_EQ(published_->wastes.size(), 1U);
  const auto & wastes = published_->wastes[0];
  EXPECT_EQ(wastes.header.frame_id, "map");
  EXPECT_EQ(wastes.header.stamp.sec, 0);
  EXPECT_EQ(wastes.ids, (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(wastes.handle_types, (std::vector<int32_t>{kHandleByBase, kHandleByArm}));
  ASSERT_EQ(wastes.poses.size(), 2U);
  geometry_msgs::msg::Pose paper_pose;
  paper_pose.position.x = 2.0;
  paper_pose.position.y = 1.0;
  paper_pose.position.z = 0.02;
  paper_pose.orientation.w = 1.0;
  EXPECT_EQ(wastes.poses[0], paper_pose);
  EXPECT_DOUBLE_EQ(wastes.poses[1].position.x, 3.0);
  EXPECT_EQ(wastes.distances, (std::vector<double>{1.25, 1.0}));
}

TEST_F(TrashTrackerPublish, MarkersAreClosedSquaresColouredByCode)
{
  Feed({Observation(2.0, 1.0, semantic::PAPER), Observation(3.0, -1.0, semantic::SWAB)}, 3);
  const auto before = std::chrono::system_clock::now();
  tracker_->Publish();
  const auto after = std::chrono::system_clock::now();

  ASSERT_EQ(published_->markers.size(), 1U);
  const auto & markers = published_->markers[0].markers;
  ASSERT_EQ(markers.size(), 2U);
  const auto & m = markers[0];
  EXPECT_EQ(m.header.frame_id, "map");
  const auto stamp = std::chrono::system_clock::time_point(
    std::chrono::duration_cast<std::chrono::system_clock::duration>(
      std::chrono::seconds(m.header.stamp.sec) + std::chrono::nanoseconds(m.header.stamp.nanosec)));
  EXPECT_GE(stamp, std::chrono::time_point_cast<std::chrono::seconds>(before));
  EXPECT_LE(stamp, after);
  EXPECT_EQ(m.ns, "tracker");
  EXPECT_EQ(m.id, 0);
  EXPECT_EQ(m.type, 4);
  EXPECT_EQ(m.action, 0);
  EXPECT_DOUBLE_EQ(m.pose.orientation.w, 1.0);
  EXPECT_DOUBLE_EQ(m.pose.position.x, 0.0);
  EXPECT_DOUBLE_EQ(m.scale.x, 0.1);
  EXPECT_EQ(m.lifetime.sec, 0);
  EXPECT_EQ(m.lifetime.nanosec, 100000000U);
  // PAPER: base takes it (code 1), red.
  EXPECT_FLOAT_EQ(m.color.r, 1.0F);
  EXPECT_FLOAT_EQ(m.color.g, 0.0F);
  EXPECT_FLOAT_EQ(m.color.b, 0.0F);
  EXPECT_FLOAT_EQ(m.color.a, 1.0F);
  const std::vector<std::pair<double, double>> corners = {
    {1.99, 0.99}, {1.99, 1.01}, {2.01, 1.01}, {2.01, 0.99}, {1.99, 0.99}};
  ASSERT_EQ(m.points.size(), corners.size());
  for (std::size_t i = 0; i < corners.size(); ++i) {
    EXPECT_NEAR(m.points[i].x, corners[i].first, 1e-12) << i;
    EXPECT_NEAR(m.points[i].y, corners[i].second, 1e-12) << i;
    EXPECT_DOUBLE_EQ(m.points[i].z, 0.0) << i;
  }
  // SWAB with unknown size: uncertain (151), green.
  EXPECT_EQ(markers[1].id, 1);
  EXPECT_EQ(published_->wastes[0].handle_types[1], kHandleUncertain);
  EXPECT_FLOAT_EQ(markers[1].color.r, 0.0F);
  EXPECT_FLOAT_EQ(markers[1].color.g, 1.0F);
}

TEST_F(TrashTrackerPublish, VotedClassIsStoredAndDecidesTheCode)
{
  // Created as BOTTLE (arm); three PAPER and three BOTTLE matches tie, PAPER (400) wins.
  tracker_->Update({Observation(2.0, 1.0, semantic::BOTTLE)}, RobotPose(0.0, 0.0));
  for (const int32_t type : {semantic::BOTTLE, semantic::PAPER, semantic::PAPER,
      semantic::BOTTLE, semantic::PAPER, semantic::BOTTLE})
  {
    tracker_->Update({Observation(2.0, 1.0, type)}, RobotPose(0.0, 0.0));
  }
  EXPECT_EQ(tracker_->tracks().at(0).type, semantic::BOTTLE);
  tracker_->Publish();
  EXPECT_EQ(tracker_->tracks().at(0).type, semantic::PAPER);
  EXPECT_EQ(published_->wastes[0].handle_types, (std::vector<int32_t>{kHandleByBase}));
}

TEST_F(TrashTrackerPublish, UncertainClassUsesTheSmoothedSize)
{
  Feed({Observation(2.0, 1.0, semantic::MASK, {-1.F, -1.F, -1.F})}, 3);
  tracker_->Publish();
  Feed({Observation(2.0, 1.0, semantic::MASK, {0.1F, 0.05F, 0.01F})}, 1);
  tracker_->Publish();
  ASSERT_EQ(published_->wastes.size(), 2U);
  EXPECT_EQ(published_->wastes[0].handle_types, (std::vector<int32_t>{kHandleUncertain}));
  EXPECT_EQ(published_->wastes[1].handle_types, (std::vector<int32_t>{kHandleByBase}));
}

TEST_F(TrashTrackerPublish, PublisherFailureIsLoggedNotThrown)
{
  const auto throwing = [](const visualization_msgs::msg::MarkerArray &) {
      throw std::runtime_error("publisher is gone");
    };
  TrashTracker tracker(test::TestConfig(), nullptr, throwing);
  nimbra::test::LogCapture capture;
  EXPECT_NO_THROW(tracker.Publish());
  EXPECT_EQ(capture.Lines(),
    std::vector<std::string>{"[ERROR] Publishing 0 detected wastes failed: publisher is gone"});
}

}  // namespace
}  // namespace perception
}  // namespace orvix
