// The trash tracker: its configuration file, the update (association, smoothing, aging and
// removal of tracks, and its lock against concurrent workers and readers) and what it publishes.

#include <geometry_msgs/msg/point.hpp>
#include <geometry_msgs/msg/pose.hpp>
#include <gtest/gtest.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "common/log_capture.hpp"
#include "common/logger.hpp"
#include "common/semantic_type.hpp"
#include "tracker/trash_tracker.hpp"
#include "tracker/trash_tracker_config.hpp"
#include "tracker/waste_handling.hpp"

namespace orvix::perception
{
namespace
{

/// dist_thres 0.25, min age 3, max retain 2, cache 5 m, window 0.8, footprint 1 x 0.5 m,
/// base PAPER, arm BOTTLE, uncertain MASK and SWAB, base limits 0.05 m high and 0.15 m long.
TrashTrackerConfig TestConfig()
{
  TrashTrackerConfig config;
  config.dist_thres = 0.25F;
  config.min_age_threshold = 3;
  config.max_retain_time = 2;
  config.cache_radius = 5.0F;
  config.sensor_range_rate = 0.8F;
  config.footprint_box = {{-0.5F, -0.25F, 0.5F, 0.25F}};
  config.base_handle_waste_height_metric = 0.05F;
  config.base_handle_waste_length_metric = 0.15F;
  config.base_handle_class = {semantic::PAPER};
  config.arm_handle_class = {semantic::BOTTLE};
  config.uncertain_class = {semantic::MASK, semantic::SWAB};
  return config;
}

WasteObservation Observation(
  double x, double y, int32_t type = semantic::PAPER, std::vector<float> size = {-1.F, -1.F, -1.F},
  float distance = 1.0F)
{
  return {x, y, 0.0, distance, type, std::move(size)};
}

/// Pose of "base_footprint" in "map" at (x, y) with heading `yaw` [rad].
geometry_msgs::msg::Pose RobotPose(double x, double y, double yaw = 0.0)
{
  geometry_msgs::msg::Pose pose;
  pose.position.x = x;
  pose.position.y = y;
  pose.orientation.z = std::sin(yaw / 2.0);
  pose.orientation.w = std::cos(yaw / 2.0);
  return pose;
}

/// Camera 0.5 m above (`x`, 0) in the base frame looking horizontally along +x (forward) or -x
/// (backward), optical axes (x right, y down, z ahead); 640 x 480 px, f = 400 px, centred.
TrackerCameraInfo HorizontalCamera(double x, bool forward)
{
  // Optical z to base +x (or -x), optical x to base -y (or +y), optical y to base -z.
  const double qy = forward ? 0.5 : -0.5;
  return {x, 0.0, 0.5,  // tx, ty, tz
    -0.5, qy, -qy, 0.5,  // qx, qy, qz, qw
    640, 480, 400.0F, 320.0F, 400.0F, 240.0F};  // width, height, fx, cx, fy, cy
}

// Every key of a valid tracker file, each on its own line so that a case can drop or replace it.
const std::map<std::string, std::string> kValidKeys = {
  {"dist_thres", "0.3"},
  {"min_age_threshold", "4"},
  {"max_retain_time", "12"},
  {"cache_radius", "6.5"},
  {"sensor_range_rate", "0.75"},
  {"base_handle_waste_height_metric", "0.04"},
  {"base_handle_waste_length_metric", "0.12"},
  {"base_handle_class", "[paper, Cotton_Ball, ~, not_a_class]"},
  {"arm_handle_class", "[BOTTLE, paper_cup]"},
  {"uncertain_class", "[mask]"},
  {"base_footprint", "[-0.45, -0.3, 0.5, 0.3, 99.0]"},
  {"class_num", "10"},
};

TEST(TrackerConfigFile, ReadsEveryKeyChecksEachForPresenceAndFormAndRefusesBadFiles)
{
  const std::string path =
    testing::TempDir() + "tracker_config_test_" + std::to_string(::getpid()) + ".yaml";
  // Writes `text` followed by one "key: value" line per entry of `keys`; returns the path.
  const auto write = [&path](const std::map<std::string, std::string> & keys,
      std::string text = "") {
      for (const auto & [key, value] : keys) {
        text += key + ": " + value + "\n";
      }
      std::ofstream(path) << text;
      return path;
    };
  // Loads `file` and returns the error text, or "" when it loaded.
  const auto load_error = [](const std::string & file) {
      try {
        LoadTrashTrackerConfig(file);
      } catch (const TrackerConfigError & e) {
        return std::string(e.what());
      }
      return std::string();
    };

  nimbra::test::LogCapture capture;
  TrashTrackerConfig config = LoadTrashTrackerConfig(write(kValidKeys));
  EXPECT_EQ(std::make_tuple(config.dist_thres, config.min_age_threshold, config.max_retain_time,
    config.cache_radius, config.sensor_range_rate, config.base_handle_waste_height_metric,
    config.base_handle_waste_length_metric, config.class_num, config.footprint_box,
    config.base_handle_class, config.arm_handle_class, config.uncertain_class),
    std::make_tuple(0.3F, 4, 12, 6.5F, 0.75F, 0.04F, 0.12F, 10,
    std::array<float, 4>{{-0.45F, -0.3F, 0.5F, 0.3F}},
    std::set<int32_t>{semantic::PAPER, semantic::COTTON_BALL},
    std::set<int32_t>{semantic::BOTTLE, semantic::PAPER_CUP}, std::set<int32_t>{semantic::MASK}));
  // The null entry is skipped silently, the unknown name with a warning.
  EXPECT_EQ(capture.Lines(), std::vector<std::string>{"[WARN] Tracker configuration " + path +
    ": entry 3 of 'base_handle_class' is not a class name, skipped."});
  // (The shipped tracker.yaml is loaded by every start of the node: test_node_process.)

  for (const auto & entry : kValidKeys) {
    auto keys = kValidKeys;
    keys.erase(entry.first);
    const std::string error = load_error(write(keys));
    EXPECT_EQ(error.rfind("tracker configuration '" + path + "': key '" + entry.first + "'", 0),
      0U) << error;
    EXPECT_NE(error.find(", got nothing (key missing)"), std::string::npos) << error;
  }

  struct Case
  {
    std::string key;
    std::string value;
    std::string error;  ///< part of the error text; "" for a value that loads
  };
  const std::vector<Case> cases = {
    {"dist_thres", "far", "key 'dist_thres' must be a number, got 'far'"},
    {"dist_thres", "[0.2]", "key 'dist_thres' must be a number, got a sequence or map"},
    {"dist_thres", "~", "key 'dist_thres' must be a number, got null"},
    {"min_age_threshold", "2.5", "key 'min_age_threshold' must be an integer, got '2.5'"},
    {"class_num", "ten", "key 'class_num' must be an integer"},
    {"base_handle_class", "paper", "key 'base_handle_class' must be a sequence of class names"},
    {"uncertain_class", "~", "key 'uncertain_class' must be a sequence of class names"},
    {"base_footprint", "[-0.4, -0.3, 0.4]",
      "key 'base_footprint' must be a sequence of at least four numbers (min x, min y, max x, "
      "max y), got 3 element(s)"},
    {"base_footprint", "[-0.4, -0.3, wide, 0.3]", "got element 2 not a number"},
    {"base_footprint", "0.4", "got a value that is not a sequence"},
    {"base_footprint", "[-0.4, .nan, 0.4, 0.3]", "'base_footprint' must hold finite numbers"},
    {"dist_thres", "-0.2", "'dist_thres' must be a positive number of metres"},
    {"dist_thres", ".nan", "'dist_thres' must be a positive number of metres"},
    {"dist_thres", ".inf", "'dist_thres' must be a positive number of metres"},
    {"cache_radius", "0", "'cache_radius' must be a positive number of metres"},
    {"sensor_range_rate", ".nan", "'sensor_range_rate' must be a finite number"},
    {"base_handle_waste_height_metric", "-.inf", "'base_handle_waste_height_metric' must be"},
    {"base_handle_waste_length_metric", ".nan", "'base_handle_waste_length_metric' must be"},
    // Values that change behaviour but break nothing.
    {"sensor_range_rate", "1.5", ""},
    {"sensor_range_rate", "-0.5", ""},
    {"min_age_threshold", "-2", ""},
    {"max_retain_time", "-1", ""},
    {"base_footprint", "[0.4, 0.3, -0.4, -0.3]", ""},
    {"base_handle_waste_height_metric", "-0.01", ""},
    {"base_handle_waste_length_metric", "0", ""},
  };
  for (const Case & c : cases) {
    auto keys = kValidKeys;
    keys[c.key] = c.value;
    const std::string error = load_error(write(keys));
    EXPECT_TRUE(c.error.empty() ? error.empty() : error.find(c.error) != std::string::npos)
      << c.key << ": " << c.value << " gave \"" << error << "\"";
  }

  EXPECT_NE(load_error(path + ".absent").find("cannot be opened"), std::string::npos);
  EXPECT_NE(load_error(write({}, "dist_thres: [0.2\n")).find("is not valid YAML"),
    std::string::npos);
  EXPECT_NE(load_error(write({}, "- 1\n- 2\n")).find("must be a map of keys"), std::string::npos);
  EXPECT_NE(load_error(write({})).find("must be a map of keys"), std::string::npos);

  // A tracker refuses a bad file, and a bad configuration built in code.
  EXPECT_THROW(TrashTracker(write({}, "- 1\n"), nullptr, nullptr), TrackerConfigError);
  config.dist_thres = 0.0F;
  EXPECT_THROW(TrashTracker(config, nullptr, nullptr), TrackerConfigError);
  std::remove(path.c_str());
}

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
  geometry_msgs::msg::Pose zero_quaternion = origin;
  zero_quaternion.orientation.w = 0.0;
  const auto guarded = std::make_shared<HungarianAlgorithm>(HungarianOptions{1, false});
  const std::string skip =
    "[WARN] Skip tracker update: robot pose is not finite or its quaternion is zero.";
  const std::vector<Case> cases = {
    {"first frame keeps the first of two close observations, removes nothing under the robot",
      {{{Observation(2.0, 1.0, semantic::PAPER), Observation(2.1, 1.0, semantic::BOTTLE),
        Observation(0.0, 0.0)}, origin}},
      {{0, 2.0, 1.0, 1}, {1, 0.0, 0.0, 1}}, {}},
    {"observation exactly at the gate is merged, one just beyond it starts a new track",
      {{{Observation(2.0, 0.0), Observation(2.0, 2.0)}, origin},
        {{Observation(2.25, 0.0), Observation(2.2500001, 2.0)}, origin}},
      {{0, 0.8 * 2.0 + 0.2 * 2.25, 0.0, 2}, {1, 2.0, 2.0, 1}, {2, 2.2500001, 2.0, 1}}, {}},
    // The optimum gives (2.29, 0) to the first track (0.29, beyond the gate) and (2.52, 0) to the
    // second (0.22); the first is then unmatched but within the gate of the second track.
    {"rejected observation near another track starts nothing",
      {{{Observation(2.0, 0.0), Observation(2.3, 0.0)}, origin},
        {{Observation(2.29, 0.0), Observation(2.52, 0.0)}, origin}},
      {{0, 2.0, 0.0, 1}, {1, 0.8 * 2.3 + 0.2 * 2.52, 0.0, 2}}, {}},
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
    {"unusable observations are dropped (bad size entries become unknown), bad poses are skipped",
      {{{Observation(NAN, 1.0), Observation(2.0, 2.0, semantic::PAPER, {0.1F, NAN}),
        Observation(1.0, INFINITY)}, origin}, {{Observation(4.0, 0.0)}, zero_quaternion},
        {{Observation(4.0, 0.0)}, RobotPose(NAN, 0.0)}},
      {{0, 2.0, 2.0, 1, 0, {0.1F, -1.F, -1.F}}},
      {"[WARN] Drop waste observation of type 400 with non-finite position (nan, 1, 0) or "
        "distance 1.", "[WARN] Drop waste observation of type 400 with non-finite position "
        "(1, inf, 0) or distance 1.", skip, skip}},
    // Ahead but 3 m to the side: far outside the image; 0.9 m ahead: below the window's lower
    // edge. Without a sign test (-2, 0) would project to row 400 * 0.5 / -2.2 + 240 = 149, inside
    // the window: the mirror image of a floor point ahead.
    {"outside the view window or behind the camera nothing ages",
      {{{Observation(2.0, 3.0), Observation(0.9, 0.0), Observation(-2.0, 0.0)}, origin},
        {{}, origin, 10}},
      {{0, 2.0, 3.0, 1}, {1, 0.9, 0.0, 1}, {2, -2.0, 0.0, 1}}, {}, 1},
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
    TrashTracker tracker(TestConfig(), nullptr, nullptr, c.solver);
    for (int camera = 0; camera < c.cameras; ++camera) {
      ASSERT_TRUE(tracker.AddCamera(HorizontalCamera(camera == 0 ? 0.2 : -0.2, camera == 0)));
    }
    for (const Frame & frame : c.frames) {
      for (int i = 0; i < frame.times; ++i) {
        tracker.Update(frame.observations, frame.pose);
      }
    }
    const std::vector<WasteTrack> tracks = tracker.tracks();
    ASSERT_EQ(tracks.size(), c.tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
      EXPECT_EQ(std::tie(tracks[i].id, tracks[i].hits, tracks[i].missed, tracks[i].size),
        std::tie(c.tracks[i].id, c.tracks[i].hits, c.tracks[i].missed, c.tracks[i].size)) << i;
      EXPECT_DOUBLE_EQ(tracks[i].x, c.tracks[i].x) << i;
      EXPECT_DOUBLE_EQ(tracks[i].y, c.tracks[i].y) << i;
    }
    EXPECT_EQ(capture.Lines(), c.log);
  }
}

TEST(TrashTrackerMerge, PositionAndSizeSmoothedHeightAndSmallestDistanceKeptLast30Classes)
{
  TrashTracker tracker(TestConfig(), nullptr, nullptr);
  const auto update = [&tracker](const WasteObservation & observation) {
      tracker.Update({observation}, RobotPose(0.0, 0.0));
      return tracker.tracks().at(0);
    };
  const std::vector<float> unknown{-1.F, -1.F, -1.F};
  update({1.0, 1.0, 0.03, 2.0F, semantic::PAPER, unknown});  // x, y, z, distance, type, size
  WasteTrack track = update({1.1, 0.9, 0.5, 1.0F, semantic::MASK, unknown});
  EXPECT_DOUBLE_EQ(track.x, 0.8 * 1.0 + 0.2 * 1.1);
  EXPECT_DOUBLE_EQ(track.y, 0.8 * 1.0 + 0.2 * 0.9);
  EXPECT_DOUBLE_EQ(track.z, 0.03);
  // An unknown size neither pulls the estimate towards -1 nor is blended: the first known one
  // replaces it, later ones blend 0.8 / 0.2. Farther observations keep the smallest distance.
  update(Observation(1.0, 1.0, semantic::MASK, {0.10F, 0.05F, 0.02F}, 3.0F));
  update(Observation(1.0, 1.0, semantic::MASK, {0.20F, 0.10F, 0.0F}, 3.0F));
  track = update(Observation(1.0, 1.0, semantic::MASK, unknown, 3.0F));
  EXPECT_FLOAT_EQ(track.distance, 1.0F);
  EXPECT_EQ(track.size, (std::vector<float>{static_cast<float>(0.8 * 0.10F + 0.2 * 0.20F),
    static_cast<float>(0.8 * 0.05F + 0.2 * 0.10F), static_cast<float>(0.8 * 0.02F)}));
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
  TrashTracker tracker(TestConfig(), nullptr, nullptr);
  for (const Case & c : cases) {
    TrackerCameraInfo camera = HorizontalCamera(0.2, true);
    c.spoil(camera);
    std::string error;
    EXPECT_FALSE(tracker.AddCamera(camera, &error)) << c.name;
    EXPECT_EQ(error, c.reason) << c.name;
  }
  // A usable camera is accepted by the update table's rows (ASSERT_TRUE there).
  EXPECT_TRUE(tracker.cameras().empty());
}

TEST(TrashTrackerScenario, WorkersOfTwoCamerasShareTheTracker)
{
  // Each worker feeds the same 20 items with its own noise; the tracker serialises them, so the
  // items end up with 20 distinct tracks whatever the interleaving.
  auto tracker = std::make_shared<TrashTracker>(TestConfig(), nullptr, nullptr);
  ASSERT_TRUE(tracker->AddCamera(HorizontalCamera(0.2, true)));
  auto worker = [tracker](unsigned seed) {
      std::mt19937 rng(seed);
      std::normal_distribution<double> noise(0.0, 0.02);
      for (int frame = 0; frame < 300; ++frame) {
        std::vector<WasteObservation> observations;
        for (int i = 0; i < 20; ++i) {
          observations.push_back(Observation(
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
  int32_t hits = 0;
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    EXPECT_EQ(tracks[i].id, static_cast<int32_t>(i));  // the first frame's 20 tracks, no other
    hits += tracks[i].hits;
  }
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
  TrashTracker tracker(TestConfig(), nullptr, nullptr);
  tracker.Update({Observation(0.0, 1.0)}, RobotPose(0.0, 0.0));
  auto sink = std::make_shared<HoldingSink>();
  std::promise<void> release;
  sink->release = release.get_future().share();
  std::future<void> entered = sink->entered.get_future();
  auto & sinks = nimbra::Logger::Instance().logger()->sinks();
  sinks.push_back(sink);

  // 6.4 m away with a 5 m cache: the update removes the track and logs it while holding the
  // tracker.
  auto updater = std::async(std::launch::async, [&tracker] {
      tracker.Update({}, RobotPose(5.0, 5.0));
    });
  const bool held = entered.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  auto reader = std::async(std::launch::async, [&tracker] {return tracker.tracks();});
  const bool read_during_update =
    held && reader.wait_for(std::chrono::milliseconds(200)) == std::future_status::ready;
  release.set_value();
  updater.wait();
  const std::vector<WasteTrack> read = reader.get();
  sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());

  ASSERT_TRUE(held) << "the update never logged the removal";
  EXPECT_FALSE(read_during_update) << "tracks() did not wait for the update holding the tracker";
  EXPECT_TRUE(read.empty()) << "the reader did not get the list the update left";
}

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
    {"clear majority", {semantic::SWAB, semantic::PAPER, semantic::SWAB}, semantic::PAPER,
      semantic::SWAB},
    // Neither the current, the first nor the last class: MASK (401) < BOTTLE (402) < SWAB (408).
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
  TrashTrackerConfig config = TestConfig();
  config.arm_handle_class.insert(semantic::PAPER);
  config.uncertain_class.insert({semantic::PAPER, semantic::BOTTLE});
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
    {"uncertain, exactly at the limits", semantic::SWAB, {0.15F, 0.15F, 0.05F}, kHandleByBase},
    {"uncertain, too tall", semantic::MASK, {0.1F, 0.05F, 0.06F}, kHandleUncertain},
    {"uncertain, too long", semantic::MASK, {0.16F, 0.05F, 0.01F}, kHandleUncertain},
    {"uncertain, too wide", semantic::MASK, {0.1F, 0.151F, 0.01F}, kHandleUncertain},
    {"uncertain, flat (height 0)", semantic::MASK, {0.1F, 0.05F, 0.0F}, kHandleUncertain},
    {"uncertain, NaN size", semantic::MASK, {NAN, 0.05F, 0.01F}, kHandleUncertain},
    {"uncertain, short size vector", semantic::MASK, {0.1F}, kHandleUncertain},
  };
  for (const Case & c : cases) {
    EXPECT_EQ(ChooseHandleCode(c.type, c.size, config), c.expected) << c.name;
  }
}

TEST(TrashTrackerPublish, MarkersThenListOfConfirmedTracksEvenWhenEmpty)
{
  std::vector<std::string> order;  ///< "trash_marker" / "detected_wastes", one per publication
  std::vector<nimbra_protocol::msg::DetectedWastes> lists;
  std::vector<visualization_msgs::msg::MarkerArray> marker_arrays;
  TrashTracker tracker(TestConfig(),
    [&order, &lists](const nimbra_protocol::msg::DetectedWastes & message) {
      order.push_back("detected_wastes");
      lists.push_back(message);
    },
    [&order, &marker_arrays](const visualization_msgs::msg::MarkerArray & message) {
      order.push_back("trash_marker");
      marker_arrays.push_back(message);
    });
  const WasteObservation paper{2.0, 1.0, 0.02, 1.25F, semantic::PAPER, {-1.F, -1.F, -1.F}};
  const WasteObservation swab = Observation(4.0, -1.0, semantic::SWAB);
  // First seen as a BOTTLE (arm), then matched as a SWAB only: the vote makes it a SWAB.
  tracker.Update({paper, Observation(4.0, -1.0, semantic::BOTTLE)}, RobotPose(0.0, 0.0));
  tracker.Update({paper, swab}, RobotPose(0.0, 0.0));
  tracker.Publish();  // 2 hits, min age 3: nothing confirmed
  // A third, young track stays unpublished.
  tracker.Update({paper, swab, Observation(-2.0, 0.0)}, RobotPose(0.0, 0.0));
  const auto before = std::chrono::system_clock::now();
  tracker.Publish();
  const auto after = std::chrono::system_clock::now();
  EXPECT_EQ(tracker.tracks().at(1).type, semantic::SWAB);  // the vote is kept
  // The swab's size becomes known and small: the base takes it too.
  tracker.Update({paper, Observation(4.0, -1.0, semantic::SWAB, {0.1F, 0.05F, 0.01F})},
    RobotPose(0.0, 0.0));
  tracker.Publish();

  const auto point = [](double x, double y, double z) {
      return geometry_msgs::build<geometry_msgs::msg::Point>().x(x).y(y).z(z);
    };
  ASSERT_EQ(order, (std::vector<std::string>{"trash_marker", "detected_wastes", "trash_marker",
    "detected_wastes", "trash_marker", "detected_wastes"}));
  // Not even a frame or a stamp when empty.
  EXPECT_EQ(marker_arrays[0], visualization_msgs::msg::MarkerArray());
  EXPECT_EQ(lists[0], nimbra_protocol::msg::DetectedWastes());

  nimbra_protocol::msg::DetectedWastes wastes;
  wastes.header.frame_id = "map";
  wastes.ids = {0, 1};
  wastes.handle_types = {kHandleByBase, kHandleUncertain};
  wastes.poses.resize(2);
  wastes.poses[0].position = point(2.0, 1.0, 0.02);
  wastes.poses[1].position = point(4.0, -1.0, 0.0);
  wastes.distances = {1.25, 1.0};
  EXPECT_EQ(lists[1], wastes);
  EXPECT_EQ(lists[2].handle_types, (std::vector<int32_t>{kHandleByBase, kHandleByBase}));

  // Closed 2 cm squares, red where the base takes the item, green otherwise, stamped now.
  const auto & markers = marker_arrays[1].markers;
  ASSERT_EQ(markers.size(), 2U);
  const auto & stamp = markers[0].header.stamp;
  const auto stamped = std::chrono::seconds(stamp.sec) + std::chrono::nanoseconds(stamp.nanosec);
  EXPECT_GE(stamped, std::chrono::floor<std::chrono::seconds>(before.time_since_epoch()));
  EXPECT_LE(stamped, after.time_since_epoch());
  for (std::size_t i = 0; i < 2; ++i) {
    const auto & position = wastes.poses[i].position;
    visualization_msgs::msg::Marker square;
    square.header.frame_id = "map";
    square.header.stamp = stamp;
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
  TrashTracker(TestConfig(), nullptr, nullptr).Publish();
  const auto throwing = [](const visualization_msgs::msg::MarkerArray &) {
      throw std::runtime_error("publisher is gone");
    };
  EXPECT_NO_THROW(TrashTracker(TestConfig(), nullptr, throwing).Publish());
  EXPECT_EQ(capture.Lines(),
    std::vector<std::string>{"[ERROR] Publishing 0 detected wastes failed: publisher is gone"});
}

}  // namespace
}  // namespace orvix::perception
