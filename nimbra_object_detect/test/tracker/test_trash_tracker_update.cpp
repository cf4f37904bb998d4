// Update: association, smoothing, aging and removal of tracks, and its lock against concurrent
// workers and readers.

#include <gtest/gtest.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <deque>
#include <future>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/log_capture.hpp"
#include "common/logger.hpp"
#include "tracker/tracker_test_support.hpp"

namespace orvix::perception
{
namespace
{

using test::Observation;
using test::RobotPose;

TEST(TrashTrackerFrames, TracksAndLogAfterEachSequence)
{
  struct Frame
  {
    std::vector<WasteObservation> observations;
    geometry_msgs::msg::Pose pose;
    int times = 1;
  };
  struct Track
  {
    int32_t id;
    double x;
    double y;
    int32_t hits;
    int32_t missed = 0;
    std::vector<float> size = {-1.F, -1.F, -1.F};
  };
  struct Case
  {
    const char * name;
    std::vector<Frame> frames;
    std::vector<Track> tracks;  ///< after the last frame
    std::vector<std::string> log;
    int cameras = 0;  ///< 1: looking forward from 0.2 m ahead of the base; 2: also one backward
    std::shared_ptr<HungarianAlgorithm> solver = nullptr;
  };
  const auto origin = RobotPose(0.0, 0.0);
  const auto heading = RobotPose(1.0, 1.0, M_PI / 2.0);  // at (1, 1) facing +y
  const double nan = std::numeric_limits<double>::quiet_NaN();
  geometry_msgs::msg::Pose zero_quaternion = origin;
  zero_quaternion.orientation.w = 0.0;
  const auto guarded = std::make_shared<HungarianAlgorithm>(HungarianOptions{1, false});
  const std::string skip =
    "[WARN] Skip tracker update: robot pose is not finite or its quaternion is zero.";
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
    {"track on the footprint edge is removed, its id is not given again",
      {{{Observation(0.5, 0.1), Observation(-0.2, -0.25), Observation(0.50001, -0.2),
        Observation(0.0, 0.6)}, origin}, {{}, origin}, {{Observation(1.0, 2.0)}, origin}},
      {{2, 0.50001, -0.2, 1}, {3, 0.0, 0.6, 1}, {4, 1.0, 2.0, 1}},
      {"[INFO] Remove object at (0.5, 0.1) in footprint range.",
        "[INFO] Remove object at (-0.2, -0.25) in footprint range."}},
    // Facing +y from (1, 1), (0.6, 1) lies 0.4 m to the left (outside the 0.25 m half width) and
    // (1, 1.4) 0.4 m ahead (inside the 0.5 m half length).
    {"footprint is tested in the base frame",
      {{{Observation(0.6, 1.0), Observation(1.0, 1.4)}, RobotPose(5.0, 5.0)}, {{}, heading}},
      {{0, 0.6, 1.0, 1}}, {"[INFO] Remove object at (1, 1.4) in footprint range."}},
    {"track at the cache radius is removed",
      {{{Observation(0.0, 1.0), Observation(1.0, 1.0)}, origin}, {{}, RobotPose(4.0, 4.0)}},
      {{1, 1.0, 1.0, 1}}, {"[INFO] Remove object at (0, 1) out of cache range."}},
    {"unusable observations are dropped, unusable or missing size entries become unknown",
      {{{Observation(nan, 1.0), Observation(2.0, 2.0, semantic::PAPER, {0.1F, NAN}),
        Observation(1.0, INFINITY)}, origin}},
      {{0, 2.0, 2.0, 1, 0, {0.1F, -1.F, -1.F}}},
      {"[WARN] Drop waste observation of type 400 with non-finite position (nan, 1, 0) or "
        "distance 1.", "[WARN] Drop waste observation of type 400 with non-finite position "
        "(1, inf, 0) or distance 1."}},
    {"a pose that is not finite or has a zero quaternion skips the update",
      {{{Observation(1.0, 0.0)}, origin}, {{Observation(4.0, 0.0)}, zero_quaternion},
        {{Observation(4.0, 0.0)}, RobotPose(nan, 0.0)}},
      {{0, 1.0, 0.0, 1}}, {skip, skip}},
    // Ahead but 3 m to the side: far outside the image; 0.9 m ahead: below the window's lower edge.
    {"outside the view window nothing ages",
      {{{Observation(2.0, 3.0), Observation(0.9, 0.0)}, origin}, {{}, origin, 10}},
      {{0, 2.0, 3.0, 1}, {1, 0.9, 0.0, 1}}, {}, 1},
    // Without a sign test (-2, 0) would project to row 400 * 0.5 / -2.2 + 240 = 149, inside the
    // window: the mirror image of a floor point ahead.
    {"behind the camera nothing ages", {{{Observation(-2.0, 0.0)}, origin}, {{}, origin, 50}},
      {{0, -2.0, 0.0, 1}}, {}, 1},
    // Facing +y from (1, 1), (1, 3) is 2 m ahead and (3, 1) to the right.
    {"the view window follows the heading",
      {{{Observation(1.0, 3.0), Observation(3.0, 1.0)}, heading}, {{}, heading}},
      {{0, 1.0, 3.0, 1, 1}, {1, 3.0, 1.0, 1}}, {}, 1},
    {"a second camera ages what the first cannot see",
      {{{Observation(-2.0, 0.0), Observation(2.0, 0.0)}, origin}, {{}, origin}},
      {{0, -2.0, 0.0, 1, 1}, {1, 2.0, 0.0, 1, 1}}, {}, 2},
    // max_retain_time is 2: a match resets the misses, the third miss in a row removes the track.
    {"a match resets the misses, two misses in view keep the track",
      {{{Observation(2.0, 0.0)}, origin}, {{}, origin, 2}, {{Observation(2.0, 0.0)}, origin},
        {{}, origin, 2}},
      {{0, 2.0, 0.0, 2, 2}}, {}, 1},
    {"three misses in view remove the track", {{{Observation(2.0, 0.0)}, origin}, {{}, origin, 3}},
      {}, {"[INFO] Remove object at (2, 0) with max retain time."}, 1},
    // Both observations prefer track 0, which needs an augmenting pass the lowered guard forbids:
    // the frame is unmatched, yet the far one starts a track and the one under the robot goes.
    // The next frame needs no augmenting pass and is matched.
    {"a failed assignment leaves the frame unmatched",
      {{{Observation(1.0, 1.0), Observation(1.2, 1.6), Observation(0.3, 0.0)}, origin},
        {{Observation(1.05, 1.0), Observation(1.1, 1.0), Observation(3.0, 3.0)}, origin},
        {{Observation(1.0, 1.0), Observation(3.0, 3.0)}, origin}},
      {{0, 1.0, 1.0, 2}, {1, 1.2, 1.6, 1}, {3, 3.0, 3.0, 2}},
      {"[ERROR] Assignment of 3 tracks to 3 observations failed: Endless loop in Hungarian "
        "algorithm; all unmatched in this frame.",
        "[INFO] Remove object at (0.3, 0) in footprint range."}, 0, guarded},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    nimbra::test::LogCapture capture;
    TrashTracker tracker(test::TestConfig(), nullptr, nullptr, c.solver);
    for (int camera = 0; camera < c.cameras; ++camera) {
      ASSERT_TRUE(tracker.AddCamera(test::HorizontalCamera(camera == 0 ? 0.2 : -0.2, camera == 0)));
    }
    for (const Frame & frame : c.frames) {
      for (int i = 0; i < frame.times; ++i) {
        tracker.Update(frame.observations, frame.pose);
      }
    }
    const std::vector<WasteTrack> tracks = tracker.tracks();
    ASSERT_EQ(tracks.size(), c.tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
      EXPECT_EQ(tracks[i].id, c.tracks[i].id) << i;
      EXPECT_DOUBLE_EQ(tracks[i].x, c.tracks[i].x) << i;
      EXPECT_DOUBLE_EQ(tracks[i].y, c.tracks[i].y) << i;
      EXPECT_EQ(tracks[i].hits, c.tracks[i].hits) << i;
      EXPECT_EQ(tracks[i].missed, c.tracks[i].missed) << i;
      EXPECT_EQ(tracks[i].size, c.tracks[i].size) << i;
    }
    EXPECT_EQ(capture.Lines(), c.log);
  }
}

TEST(TrashTrackerMerge, PositionAndSizeSmoothedHeightAndSmallestDistanceKeptLast30Classes)
{
  TrashTracker tracker(test::TestConfig(), nullptr, nullptr);
  const auto update = [&tracker](const WasteObservation & observation) {
      tracker.Update({observation}, RobotPose(0.0, 0.0));
      return tracker.tracks().at(0);
    };
  const std::vector<float> unknown{-1.F, -1.F, -1.F};
  WasteObservation first = Observation(1.0, 1.0, semantic::PAPER, unknown, 2.0F);
  first.z = 0.03;
  update(first);
  WasteObservation second = Observation(1.1, 0.9, semantic::MASK, unknown, 3.0F);
  second.z = 0.5;
  // An unknown measurement leaves the size alone.
  EXPECT_EQ(update(second).size, unknown);
  // The first real measurement replaces the unknown size instead of being pulled towards -1.
  WasteTrack track = update(Observation(1.0, 1.0, semantic::MASK, {0.10F, 0.05F, 0.02F}, 1.0F));
  EXPECT_DOUBLE_EQ(track.x, 0.8 * (0.8 * 1.0 + 0.2 * 1.1) + 0.2 * 1.0);
  EXPECT_DOUBLE_EQ(track.y, 0.8 * (0.8 * 1.0 + 0.2 * 0.9) + 0.2 * 1.0);
  EXPECT_DOUBLE_EQ(track.z, 0.03);
  EXPECT_FLOAT_EQ(track.distance, 1.0F);
  EXPECT_EQ(track.hits, 3);
  EXPECT_EQ(track.size, (std::vector<float>{0.10F, 0.05F, 0.02F}));
  // Later ones blend 0.8 / 0.2, and another unknown one keeps the estimate.
  const std::vector<float> size =
    update(Observation(1.0, 1.0, semantic::MASK, {0.20F, 0.10F, 0.0F})).size;
  EXPECT_EQ(size, (std::vector<float>{static_cast<float>(0.8 * 0.10F + 0.2 * 0.20F),
    static_cast<float>(0.8 * 0.05F + 0.2 * 0.10F), static_cast<float>(0.8 * 0.02F)}));
  EXPECT_EQ(update(Observation(1.0, 1.0, semantic::MASK, unknown)).size, size);
  // Four MASK matches so far; after 30 SWAB matches only those are left.
  for (int i = 0; i < 30; ++i) {
    track = update(Observation(1.0, 1.0, semantic::SWAB));
  }
  EXPECT_EQ(track.hits, 35);
  EXPECT_EQ(track.type_history, std::deque<int32_t>(30, semantic::SWAB));
}

TEST(TrashTrackerCameras, UnusableCamerasAreRejectedWithAReason)
{
  struct Case
  {
    const char * name;
    void (* spoil)(TrackerCameraInfo &);
    const char * reason;
  };
  const std::vector<Case> cases = {
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
  for (const Case & c : cases) {
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

TEST(TrashTrackerScenario, WorkersOfTwoCamerasShareTheTracker)
{
  // Each worker feeds the same 20 items with its own noise; the tracker serialises them, so the
  // items end up with 20 distinct tracks whatever the interleaving.
  auto tracker = std::make_shared<TrashTracker>(test::TestConfig(), nullptr, nullptr);
  ASSERT_TRUE(tracker->AddCamera(test::HorizontalCamera(0.2, true)));
  auto worker = [tracker](unsigned seed) {
      std::mt19937 rng(seed);
      std::normal_distribution<double> noise(0.0, 0.02);
      for (int frame = 0; frame < 300; ++frame) {
        std::vector<WasteObservation> observations;
        for (int i = 0; i < 20; ++i) {
          observations.push_back(test::Observation(
              1.0 + 0.6 * (i % 5) + noise(rng), 1.0 + 0.6 * (i / 5) + noise(rng)));
        }
        tracker->Update(observations, RobotPose(0.0, 0.0));
        tracker->Publish();
      }
    };
  std::thread front(worker, 1u);
  std::thread rear(worker, 2u);
  front.join();
  rear.join();

  const std::vector<WasteTrack> tracks = tracker->tracks();
  ASSERT_EQ(tracks.size(), 20U);
  std::set<int32_t> ids;
  int32_t hits = 0;
  for (const WasteTrack & track : tracks) {
    ids.insert(track.id);
    hits += track.hits;
  }
  EXPECT_EQ(ids.size(), 20U);
  EXPECT_EQ(*ids.rbegin(), 19);
  EXPECT_EQ(hits, 2 * 300 * 20);  // every observation merged into its item's track
}

/// A logger sink that holds the first "Remove object" line until released: the tracker writes
/// that line from inside Update, so the update stays in the middle of changing the track list.
class HoldingSink : public spdlog::sinks::base_sink<std::mutex>
{
public:
  std::promise<void> entered;
  std::shared_future<void> release;

protected:
  void sink_it_(const spdlog::details::log_msg & msg) override
  {
    const std::string_view text(msg.payload.data(), msg.payload.size());
    if (!held_ && text.find("Remove object") != std::string_view::npos) {
      held_ = true;
      entered.set_value();
      release.wait_for(std::chrono::seconds(10));
    }
  }
  void flush_() override {}

private:
  bool held_ = false;
};

TEST(TrashTrackerScenario, ReadersWaitForAnUpdateInProgress)
{
  const auto tracker = std::make_shared<TrashTracker>(test::TestConfig(), nullptr, nullptr);
  tracker->Update({test::Observation(0.0, 1.0)}, RobotPose(0.0, 0.0));
  auto sink = std::make_shared<HoldingSink>();
  std::promise<void> release;
  sink->release = release.get_future().share();
  std::future<void> entered = sink->entered.get_future();
  auto & sinks = nimbra::Logger::Instance().logger()->sinks();
  sinks.push_back(sink);

  // 6.4 m away with a 5 m cache: the update removes the track and logs it while holding the
  // tracker.
  std::thread updater([&tracker] {tracker->Update({}, RobotPose(5.0, 5.0));});
  const bool held = entered.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  std::atomic<bool> read{false};
  std::thread reader([&tracker, &read] {
      static_cast<void>(tracker->tracks());
      read = true;
    });
  if (held) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  const bool read_during_update = read;
  release.set_value();
  updater.join();
  reader.join();
  sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());

  ASSERT_TRUE(held) << "the update never logged the removal";
  EXPECT_FALSE(read_during_update) << "tracks() did not wait for the update holding the tracker";
  EXPECT_TRUE(tracker->tracks().empty());
}

}  // namespace
}  // namespace orvix::perception
