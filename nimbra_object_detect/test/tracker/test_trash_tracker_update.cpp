#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "common/log_capture.hpp"
#include "common/semantic_type.hpp"
#include "tracker/tracker_test_support.hpp"

namespace orvix
{
namespace perception
{
namespace
{

using test::Observation;
using test::RobotPose;

class TrashTrackerUpdate : public testing::Test
{
protected:
  TrashTrackerUpdate()
  : published_(std::make_shared<test::PublishedLog>()),
    tracker_(test::MakeTracker(test::TestConfig(), published_)) {}

  std::vector<WasteTrack> Tracks() const {return tracker_->tracks();}

  std::shared_ptr<test::PublishedLog> published_;
  std::unique_ptr<TrashTracker> tracker_;
};

TEST(TrashTrackerFrames, AssociationGateAndRemovals)
{
  struct Frame
  {
    std::vector<WasteObservation> observations;
    geometry_msgs::msg::Pose pose;
  };
  struct Track
  {
    int32_t id;
    double x;
    double y;
    int32_t hits;
  };
  struct Case
  {
    const char * name;
    std::vector<Frame> frames;
    std::vector<Track> tracks;  ///< after the last frame
    std::vector<std::string> log;
  };
  const auto origin = RobotPose(0.0, 0.0);
  const std::vector<Case> cases = {
    {"first frame keeps only the first of two close observations",
      {{{Observation(2.0, 1.0, semantic::PAPER), Observation(2.1, 1.0, semantic::BOTTLE)}, origin}},
      {{0, 2.0, 1.0, 1}}, {}},
    {"observation exactly at the gate is merged",
      {{{Observation(2.0, 0.0)}, origin}, {{Observation(2.25, 0.0)}, origin}},
      {{0, 0.8 * 2.0 + 0.2 * 2.25, 0.0, 2}}, {}},
    {"observation just beyond the gate starts a new track",
      {{{Observation(2.0, 0.0)}, origin}, {{Observation(2.2500001, 0.0)}, origin}},
      {{0, 2.0, 0.0, 1}, {1, 2.2500001, 0.0, 1}}, {}},
    // The optimum gives (2.29, 0) to the first track (0.29, beyond the gate) and (2.52, 0) to the
    // second (0.22); the first is then unmatched but within the gate of the second track.
    {"rejected observation near another track starts nothing",
      {{{Observation(2.0, 0.0), Observation(2.3, 0.0)}, origin},
        {{Observation(2.29, 0.0), Observation(2.52, 0.0)}, origin}},
      {{0, 2.0, 0.0, 1}, {1, 0.8 * 2.3 + 0.2 * 2.52, 0.0, 2}}, {}},
    {"first frame removes nothing, not even under the robot", {{{Observation(0.0, 0.0)}, origin}},
      {{0, 0.0, 0.0, 1}}, {}},
    // Footprint x in [-0.5, 0.5], y in [-0.25, 0.25], edges included.
    {"track on the footprint edge is removed",
      {{{Observation(0.5, 0.1), Observation(-0.2, -0.25), Observation(0.50001, -0.2),
        Observation(0.0, 0.6)}, origin}, {{}, origin}},
      {{2, 0.50001, -0.2, 1}, {3, 0.0, 0.6, 1}},
      {"[INFO] Remove object at (0.5, 0.1) in footprint range.",
        "[INFO] Remove object at (-0.2, -0.25) in footprint range."}},
    // Robot at (1, 1) facing +y: (0.6, 1) lies 0.4 m to its left (outside the 0.25 m half
    // width), (1, 1.4) lies 0.4 m ahead (inside the 0.5 m half length).
    {"footprint is tested in the base frame",
      {{{Observation(0.6, 1.0), Observation(1.0, 1.4)}, RobotPose(5.0, 5.0)},
        {{}, RobotPose(1.0, 1.0, M_PI / 2.0)}},
      {{0, 0.6, 1.0, 1}}, {"[INFO] Remove object at (1, 1.4) in footprint range."}},
    {"track at the cache radius is removed",
      {{{Observation(0.0, 1.0), Observation(1.0, 1.0)}, origin}, {{}, RobotPose(4.0, 4.0)}},
      {{1, 1.0, 1.0, 1}}, {"[INFO] Remove object at (0, 1) out of cache range."}},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    nimbra::test::LogCapture capture;
    const auto tracker = test::MakeTracker(test::TestConfig(), nullptr);
    for (const Frame & frame : c.frames) {
      tracker->Update(frame.observations, frame.pose);
    }
    const std::vector<WasteTrack> tracks = tracker->tracks();
    ASSERT_EQ(tracks.size(), c.tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
      EXPECT_EQ(tracks[i].id, c.tracks[i].id) << i;
      EXPECT_DOUBLE_EQ(tracks[i].x, c.tracks[i].x) << i;
      EXPECT_DOUBLE_EQ(tracks[i].y, c.tracks[i].y) << i;
      EXPECT_EQ(tracks[i].hits, c.tracks[i].hits) << i;
    }
    EXPECT_EQ(capture.Lines(), c.log);
  }
}

TEST_F(TrashTrackerUpdate, MatchedTrackSmoothsPositionKeepsHeightAndSmallestDistance)
{
  WasteObservation first = Observation(1.0, 1.0, semantic::PAPER, {-1.F, -1.F, -1.F}, 2.0F);
  first.z = 0.03;
  tracker_->Update({first}, RobotPose(0.0, 0.0));
  WasteObservation second = Observation(1.1, 0.9, semantic::PAPER, {-1.F, -1.F, -1.F}, 3.0F);
  second.z = 0.5;
  tracker_->Update({second}, RobotPose(0.0, 0.0));
  tracker_->Update({Observation(1.0, 1.0, semantic::PAPER, {-1.F, -1.F, -1.F}, 1.0F)},
    RobotPose(0.0, 0.0));
  const WasteTrack track = Tracks().at(0);
  const double x2 = 0.8 * 1.0 + 0.2 * 1.1;
  EXPECT_DOUBLE_EQ(track.x, 0.8 * x2 + 0.2 * 1.0);
  EXPECT_DOUBLE_EQ(track.y, 0.8 * (0.8 * 1.0 + 0.2 * 0.9) + 0.2 * 1.0);
  EXPECT_DOUBLE_EQ(track.z, 0.03);
  EXPECT_FLOAT_EQ(track.distance, 1.0F);
  EXPECT_EQ(track.hits, 3);
}

TEST_F(TrashTrackerUpdate, SizeSmoothingTreatsNegativeEntriesAsUnknown)
{
  const std::vector<float> unknown{-1.F, -1.F, -1.F};
  tracker_->Update({Observation(1.0, 1.0, semantic::MASK, unknown)}, RobotPose(0.0, 0.0));
  // An unknown measurement leaves the size alone.
  tracker_->Update({Observation(1.0, 1.0, semantic::MASK, unknown)}, RobotPose(0.0, 0.0));
  EXPECT_EQ(Tracks().at(0).size, unknown);
  // The first real measurement replaces the unknown size instead of being pulled towards -1.
  tracker_->Update({Observation(1.0, 1.0, semantic::MASK, {0.10F, 0.05F, 0.02F})},
    RobotPose(0.0, 0.0));
  EXPECT_EQ(Tracks().at(0).size, (std::vector<float>{0.10F, 0.05F, 0.02F}));
  // Later ones blend 0.8 / 0.2.
  tracker_->Update({Observation(1.0, 1.0, semantic::MASK, {0.20F, 0.10F, 0.0F})},
    RobotPose(0.0, 0.0));
  const std::vector<float> size = Tracks().at(0).size;
  EXPECT_FLOAT_EQ(size[0], static_cast<float>(0.8 * 0.10F + 0.2 * 0.20F));
  EXPECT_FLOAT_EQ(size[1], static_cast<float>(0.8 * 0.05F + 0.2 * 0.10F));
  EXPECT_FLOAT_EQ(size[2], static_cast<float>(0.8 * 0.02F));
  // And another unknown measurement keeps the estimate.
  tracker_->Update({Observation(1.0, 1.0, semantic::MASK, unknown)}, RobotPose(0.0, 0.0));
  EXPECT_EQ(Tracks().at(0).size, size);
}

TEST_F(TrashTrackerUpdate, TypeHistoryKeepsTheLast30Classes)
{
  tracker_->Update({Observation(1.0, 1.0, semantic::PAPER)}, RobotPose(0.0, 0.0));
  for (int i = 0; i < 35; ++i) {
    const int32_t type = i < 5 ? semantic::BOTTLE : semantic::SWAB;
    tracker_->Update({Observation(1.0, 1.0, type)}, RobotPose(0.0, 0.0));
  }
  const WasteTrack track = Tracks().at(0);
  EXPECT_EQ(track.hits, 36);
  ASSERT_EQ(track.type_history.size(), 30U);
  EXPECT_EQ(std::count(track.type_history.begin(), track.type_history.end(), semantic::SWAB), 30);
}

class TrashTrackerAging : public TrashTrackerUpdate
{
protected:
  TrashTrackerAging()
  {
    EXPECT_TRUE(tracker_->AddCamera(test::HorizontalCamera(0.2, true)));
  }
};

TEST_F(TrashTrackerAging, OneMatchResetsTheMissesAndMaxRetainPlusOneRemoves)
{
  nimbra::test::LogCapture capture;
  tracker_->Update({Observation(2.0, 0.0)}, RobotPose(0.0, 0.0));
  tracker_->Update({}, RobotPose(0.0, 0.0));
  tracker_->Update({}, RobotPose(0.0, 0.0));
  EXPECT_EQ(Tracks().at(0).missed, 2);
  tracker_->Update({Observation(2.0, 0.0)}, RobotPose(0.0, 0.0));
  EXPECT_EQ(Tracks().at(0).missed, 0);
  for (int32_t update = 1; update <= 2; ++update) {  // max_retain_time = 2
    tracker_->Update({}, RobotPose(0.0, 0.0));
    ASSERT_EQ(Tracks().size(), 1U);
    EXPECT_EQ(Tracks()[0].missed, update);
  }
  tracker_->Update({}, RobotPose(0.0, 0.0));
  EXPECT_TRUE(Tracks().empty());
  EXPECT_EQ(capture.Lines(),
    std::vector<std::string>{"[INFO] Remove object at (2, 0) with max retain time."});
}

TEST_F(TrashTrackerAging, OnlyTracksInsideACameraWindowAreAged)
{
  // Tracks from one update at `pose`, then `empty_updates` updates without observations: the
  // misses each track has counted. The test camera looks forward from 0.2 m ahead of the base.
  struct Case
  {
    const char * name;
    bool rear_camera;  ///< also a camera looking backward from 0.2 m behind the base
    geometry_msgs::msg::Pose pose;
    std::vector<WasteObservation> observations;
    int empty_updates;
    std::vector<int32_t> missed;
  };
  // Behind the forward camera the pinhole formula without a sign test would put (-2, 0) in the
  // middle of the window, the mirror image of a floor point ahead.
  const double z_cam = -2.0 - 0.2;
  const double v = test::kFocal * test::kCameraHeight / z_cam + test::kImageHeight / 2.0;
  ASSERT_GE(v, 0.1 * test::kImageHeight);
  ASSERT_LT(v, 0.9 * test::kImageHeight);
  const std::vector<Case> cases = {
    // Ahead but 3 m to the side: far outside the image; 0.9 m ahead: below the window's lower edge.
    {"outside the window", false, RobotPose(0.0, 0.0),
      {Observation(2.0, 3.0), Observation(0.9, 0.0)}, 10, {0, 0}},
    {"behind the robot", false, RobotPose(0.0, 0.0), {Observation(-2.0, 0.0)}, 50, {0}},
    // Robot at (1, 1) facing +y: (1, 3) is 2 m ahead, (3, 1) is to its right.
    {"view follows the heading", false, RobotPose(1.0, 1.0, M_PI / 2.0),
      {Observation(1.0, 3.0), Observation(3.0, 1.0)}, 1, {1, 0}},
    {"second camera ages what the first cannot see", true, RobotPose(0.0, 0.0),
      {Observation(-2.0, 0.0), Observation(2.0, 0.0)}, 1, {1, 1}},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    const auto tracker = test::MakeTracker(test::TestConfig(), published_);
    ASSERT_TRUE(tracker->AddCamera(test::HorizontalCamera(0.2, true)));
    if (c.rear_camera) {
      ASSERT_TRUE(tracker->AddCamera(test::HorizontalCamera(-0.2, false)));
    }
    tracker->Update(c.observations, c.pose);
    for (int i = 0; i < c.empty_updates; ++i) {
      tracker->Update({}, c.pose);
    }
    std::vector<int32_t> missed;
    for (const WasteTrack & track : tracker->tracks()) {
      missed.push_back(track.missed);
    }
    EXPECT_EQ(missed, c.missed);
  }
}

TEST(TrashTrackerSolverFailure, FrameIsTreatedAsUnmatchedAndUpdateCarriesOn)
{
  HungarianOptions options;
  options.max_iterations = 1;
  options.scale_limit_with_size = false;
  const auto solver = std::make_shared<HungarianAlgorithm>(options);
  const auto published = std::make_shared<test::PublishedLog>();
  const auto tracker = test::MakeTracker(test::TestConfig(), published, solver);

  tracker->Update({Observation(1.0, 1.0), Observation(1.2, 1.6), Observation(0.3, 0.0)},
    RobotPose(0.0, 0.0));
  ASSERT_EQ(tracker->tracks().size(), 3U);

  nimbra::test::LogCapture capture;
  // Both observations prefer track 0, which needs an augmenting pass the lowered guard forbids.
  // The far one (3, 3) still starts a track, the track under the robot is still removed.
  EXPECT_NO_THROW(tracker->Update(
      {Observation(1.05, 1.0), Observation(1.1, 1.0), Observation(3.0, 3.0)},
      RobotPose(0.0, 0.0)));
  const std::vector<WasteTrack> tracks = tracker->tracks();
  ASSERT_EQ(tracks.size(), 3U);
  EXPECT_EQ(tracks[0].hits, 1);
  EXPECT_DOUBLE_EQ(tracks[0].x, 1.0);
  EXPECT_EQ(tracks[1].hits, 1);
  EXPECT_EQ(tracks[2].id, 3);
  EXPECT_DOUBLE_EQ(tracks[2].x, 3.0);
  const std::vector<std::string> lines = capture.Lines();
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(lines[0],
    "[ERROR] Assignment of 3 tracks to 3 observations failed: Endless loop in Hungarian "
    "algorithm; all unmatched in this frame.");
  EXPECT_EQ(lines[1], "[INFO] Remove object at (0.3, 0) in footprint range.");
}

TEST_F(TrashTrackerUpdate, UnusableInputIsDroppedAtTheBoundary)
{
  nimbra::test::LogCapture capture;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  WasteObservation short_size = Observation(2.0, 2.0);
  short_size.size = {0.1F};
  tracker_->Update({Observation(nan, 1.0), short_size, Observation(1.0, INFINITY)},
    RobotPose(0.0, 0.0));
  std::vector<WasteTrack> tracks = Tracks();
  ASSERT_EQ(tracks.size(), 1U);
  EXPECT_EQ(tracks[0].size, (std::vector<float>{0.1F, -1.F, -1.F}));
  EXPECT_EQ(capture.Lines().size(), 2U);

  geometry_msgs::msg::Pose bad_pose = RobotPose(0.0, 0.0);
  bad_pose.orientation.w = 0.0;
  tracker_->Update({Observation(4.0, 0.0)}, bad_pose);
  bad_pose = RobotPose(nan, 0.0);
  tracker_->Update({Observation(4.0, 0.0)}, bad_pose);
  EXPECT_EQ(Tracks().size(), 1U);
  const std::vector<std::string> lines = capture.Lines();
  ASSERT_EQ(lines.size(), 4U);
  EXPECT_EQ(lines[3],
    "[WARN] Skip tracker update: robot pose is not finite or its quaternion is zero.");
}

struct BadCameraCase
{
  const char * name;
  void (* spoil)(TrackerCameraInfo &);
  const char * reason;
};

TEST(TrashTrackerCameras, UnusableCamerasAreRejectedWithAReason)
{
  const std::vector<BadCameraCase> cases = {
    {"zero width", [](TrackerCameraInfo & c) {c.width = 0;}, "image size must be positive"},
    {"negative height", [](TrackerCameraInfo & c) {c.height = -480;},
      "image size must be positive"},
    {"zero focal length", [](TrackerCameraInfo & c) {c.fx = 0.0F;},
      "focal lengths must be positive"},
    {"NaN principal point", [](TrackerCameraInfo & c) {c.cy = NAN;},
      "principal point must be finite"},
    {"infinite translation", [](TrackerCameraInfo & c) {c.tz = INFINITY;},
      "translation must be finite"},
    {"zero quaternion", [](TrackerCameraInfo & c) {c.qx = c.qy = c.qz = c.qw = 0.0;},
      "rotation quaternion must be finite and non-zero"},
  };
  TrashTracker tracker(test::TestConfig(), nullptr, nullptr);
  for (const BadCameraCase & c : cases) {
    TrackerCameraInfo camera = test::HorizontalCamera(0.2, true);
    c.spoil(camera);
    std::string error;
    EXPECT_FALSE(tracker.AddCamera(camera, &error)) << c.name;
    EXPECT_EQ(error, c.reason) << c.name;
  }
  EXPECT_TRUE(tracker.cameras().empty());
  EXPECT_TRUE(tracker.AddCamera(test::HorizontalCamera(0.2, true)));
  EXPECT_EQ(tracker.cameras().size(), 1U);
}

}  // namespace
}  // namespace perception
}  // namespace orvix
