// A robot drives 8 m along the x axis of "map" past four items with a forward and a rearward
// camera; each camera's trash worker updates the tracker and publishes once per frame.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>

#include "common/log_capture.hpp"
#include "common/logger.hpp"
#include "common/semantic_type.hpp"
#include "tracker/tracker_test_support.hpp"

namespace orvix
{
namespace perception
{
namespace
{

using test::RobotPose;

struct Item
{
  const char * name;
  double x;  // [m] in "map"
  double y;  // [m] in "map"
  int32_t type;
};

// A: passed on the left, seen ahead, unseen alongside, seen again behind, leaves the cache.
// B: hidden from both cameras for two frames while in the front view window.
// C: appears ahead late in the drive.
// D: in the robot's path; driven over (track removed) and then seen again behind the robot.
const std::vector<Item> kItems = {
  {"A", 2.0, 0.6, semantic::PAPER},
  {"B", 3.0, -0.5, semantic::BOTTLE},
  {"C", 6.5, 0.8, semantic::SWAB},
  {"D", 1.5, 0.0, semantic::PAPER},
};

constexpr double kCameraOffset = 0.3;  // cameras at x = +-0.3 m in the base frame
constexpr double kMaxSeenDepth = 3.5;  // the simulated detector finds nothing farther [m]
constexpr double kStep = 0.1;          // robot advance per frame [m]

// Simulated detector: the item is seen when its projection lies anywhere in the image (a superset
// of the tracker's view window) and it is no farther than kMaxSeenDepth along the optical axis.
bool Sees(bool forward, double robot_x, const Item & item)
{
  const double ahead = forward ? item.x - robot_x - kCameraOffset : robot_x - item.x - kCameraOffset;
  const double right = forward ? -item.y : item.y;
  if (ahead <= 0.0 || ahead > kMaxSeenDepth) {
    return false;
  }
  const double u = test::kFocal * right / ahead + test::kImageWidth / 2.0;
  const double v = test::kFocal * test::kCameraHeight / ahead + test::kImageHeight / 2.0;
  return u >= 0.0 && u < test::kImageWidth && v >= 0.0 && v < test::kImageHeight;
}

TrashTrackerConfig ScenarioConfig()
{
  TrashTrackerConfig config = test::TestConfig();
  config.dist_thres = 0.3F;
  config.max_retain_time = 5;
  config.cache_radius = 4.0F;
  config.footprint_box = {{-0.4F, -0.3F, 0.4F, 0.3F}};
  return config;
}

TEST(TrashTrackerScenario, IdsStayWithTheirItemsAndAreNeverReused)
{
  const auto published = std::make_shared<test::PublishedLog>();
  const auto tracker = test::MakeTracker(ScenarioConfig(), published);
  ASSERT_TRUE(tracker->AddCamera(test::HorizontalCamera(kCameraOffset, true)));
  ASSERT_TRUE(tracker->AddCamera(test::HorizontalCamera(-kCameraOffset, false)));

  std::mt19937 rng(42u);
  std::normal_distribution<double> noise(0.0, 0.01);
  std::map<std::string, std::vector<int32_t>> ids_per_item;  // distinct ids, in order of use
  std::map<std::string, int> frames_seen;
  std::set<int32_t> retired;  // ids that have disappeared
  std::set<int32_t> alive;
  nimbra::test::LogCapture capture;

  for (int frame = 0; frame <= 80; ++frame) {
    const double robot_x = kStep * frame;
    const auto pose = RobotPose(robot_x, 0.0);
    for (const bool forward : {true, false}) {
      std::vector<WasteObservation> observations;
      for (const Item & item : kItems) {
        const bool hidden = std::string(item.name) == "B" && frame >= 8 && frame <= 9;
        if (!hidden && Sees(forward, robot_x, item)) {
          observations.push_back(test::Observation(
              item.x + noise(rng), item.y + noise(rng), item.type, {0.1F, 0.05F, 0.01F}));
          ++frames_seen[item.name];
        }
      }
      tracker->Update(observations, pose);
      tracker->Publish();
    }

    std::set<int32_t> now;
    for (const WasteTrack & track : tracker->tracks()) {
      now.insert(track.id);
      EXPECT_EQ(retired.count(track.id), 0U) << "id " << track.id << " came back";
      for (const Item & item : kItems) {
        if (std::hypot(track.x - item.x, track.y - item.y) < 0.1) {
          auto & ids = ids_per_item[item.name];
          if (ids.empty() || ids.back() != track.id) {
            ids.push_back(track.id);
          }
        }
      }
    }
    for (const int32_t id : alive) {
      if (now.count(id) == 0) {
        retired.insert(id);
      }
    }
    alive = now;
  }

  // Every item was seen, and each kept one id except D, which was driven over.
  for (const Item & item : kItems) {
    EXPECT_GT(frames_seen[item.name], 3) << item.name;
  }
  EXPECT_EQ(ids_per_item["A"].size(), 1U);
  EXPECT_EQ(ids_per_item["B"].size(), 1U);
  EXPECT_EQ(ids_per_item["C"].size(), 1U);
  ASSERT_EQ(ids_per_item["D"].size(), 2U);
  EXPECT_GT(ids_per_item["D"][1], ids_per_item["D"][0]);

  // The five ids are distinct.
  std::set<int32_t> all_ids;
  for (const auto & entry : ids_per_item) {
    all_ids.insert(entry.second.begin(), entry.second.end());
  }
  EXPECT_EQ(all_ids.size(), 5U);

  // D's first track went under the robot and A left the cache behind it.
  int footprint_removals = 0;
  int cache_removals = 0;
  for (const std::string & line : capture.Lines()) {
    footprint_removals += line.find("in footprint range.") != std::string::npos;
    cache_removals += line.find("out of cache range.") != std::string::npos;
  }
  EXPECT_EQ(footprint_removals, 1);
  EXPECT_GE(cache_removals, 1);

  // A confirmed item appears in the published list under its one id.
  bool a_published = false;
  for (const auto & wastes : published->wastes) {
    for (const int32_t id : wastes.ids) {
      a_published = a_published || id == ids_per_item["A"][0];
    }
  }
  EXPECT_TRUE(a_published);
}

TEST(TrashTrackerScenario, WorkersOfTwoCamerasShareTheTracker)
{
  // Each worker feeds the same 20 items with its own noise; the tracker serialises them, so the
  // items end up with 20 distinct tracks whatever the interleaving.
  TrashTrackerConfig config = ScenarioConfig();
  config.cache_radius = 50.0F;
  auto tracker = std::make_shared<TrashTracker>(config, nullptr, nullptr);
  ASSERT_TRUE(tracker->AddCamera(test::HorizontalCamera(kCameraOffset, true)));
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
  const auto tracker = std::make_shared<TrashTracker>(ScenarioConfig(), nullptr, nullptr);
  tracker->Update({test::Observation(0.0, 1.0)}, RobotPose(0.0, 0.0));
  auto sink = std::make_shared<HoldingSink>();
  std::promise<void> release;
  sink->release = release.get_future().share();
  std::future<void> entered = sink->entered.get_future();
  auto & sinks = nimbra::Logger::Instance().logger()->sinks();
  sinks.push_back(sink);

  // 5 m away with a 4 m cache: the update removes the track and logs it while holding the tracker.
  std::thread updater([&tracker] {tracker->Update({}, RobotPose(4.0, 4.0));});
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
}  // namespace perception
}  // namespace orvix
