#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <utility>

#include "nimbra_perception_libs/dynamic_cloud_detector.hpp"
#include "scenes.hpp"

namespace orvix
{
namespace perception
{
namespace
{

// A box crosses a room in front of the standing robot and stops at frame 12. The ready flag
// and DivideCloud follow each update; from frame 12 + history_frames + 1 on no frame has seen through
// the box, and track_memory frames later it is no longer kept moving.
TEST(DynamicCloudDetector, StoppedBoxBecomesStillAfterTheHistoryAndTheMemory)
{
  testing::MovingCase c;  // a room with walls and furniture
  c.scene.boxes = {{{3.2F, -4.0F, 0.0F}, {3.4F, 4.0F, 2.0F}}, {{-1.0F, 2.2F, 0.0F}, {3.4F, 2.4F, 2.0F}},
    {{-1.0F, -2.4F, 0.0F}, {3.4F, -2.2F, 2.0F}}, {{1.2F, 0.6F, 0.0F}, {1.6F, 1.0F, 0.75F}},
    {{2.3F, -1.6F, 0.0F}, {2.8F, -1.1F, 0.45F}}, {{0.9F, -0.4F, 0.0F}, {1.05F, -0.25F, 1.1F}}};
  c.rate = 10.0F;
  c.movers = {testing::Mover{false, {1.85F, -0.85F}, {0.0F, 0.8F}, 12.0F / c.rate, {0.3F, 0.3F, 0.5F}}};
  testing::MovingRun run(c, DynamicDetectorParams(), 41U, 2);
  DynamicCloudDetector & detector = run.detector;
  EXPECT_FALSE(detector.ready_);
  const int still_from = 12 + detector.params().history_frames + detector.params().track_memory + 1;
  long mover_points = 0, mover_flagged = 0, still_points = 0, still_flagged = 0;
  for (int f = 0; f < still_from + 4; ++f) {
    const testing::MovingFrame & frame = run.next();
    ASSERT_TRUE(run.updated) << detector.lastError();
    EXPECT_EQ(detector.ready_, f > 0) << "frame " << f;
    detector.ready_ = false;  // the caller clears it every frame
    const std::vector<std::uint8_t> & flags = detector.movingFlags();
    ASSERT_EQ(flags.size(), frame.obstacles->size());
    for (std::size_t i = 0; i < flags.size(); ++i) {
      if (f >= 6 && f <= 12 && frame.mover_of_point[i] == 0) {
        ++mover_points;
        mover_flagged += flags[i];
      } else if (f >= still_from) {
        ++still_points;
        still_flagged += flags[i];
      }
    }
    if (f != 12) {
      continue;
    }
    PointCloudXYZ moving, still;
    ASSERT_TRUE(detector.DivideCloud(*frame.obstacles, moving, still));
    const auto flagged = static_cast<std::size_t>(std::count(flags.begin(), flags.end(), 1U));
    EXPECT_EQ(moving.size() + still.size(), frame.obstacles->size());
    EXPECT_GT(moving.size(), 0U);
    // Pixel collisions may leave a few flagged points still, never the reverse.
    EXPECT_LE(moving.size(), flagged);
    EXPECT_GE(moving.size(), flagged * 95 / 100);
    auto moving_ptr = std::make_shared<PointCloudXYZ>();
    auto still_ptr = std::make_shared<PointCloudXYZ>();
    EXPECT_TRUE(detector.DivideCloud(frame.obstacles, moving_ptr, still_ptr));
    EXPECT_EQ(moving_ptr->size(), moving.size());
    EXPECT_FALSE(detector.DivideCloud(PointCloudXYZ::ConstPtr(), moving_ptr, still_ptr));
  }
  std::printf("[ dynamic  ] moving box flagged %ld of %ld, after the stop %ld of %ld\n", mover_flagged,
    mover_points, still_flagged, still_points);
  ASSERT_GT(mover_points, 1000);
  EXPECT_GE(static_cast<double>(mover_flagged) / mover_points, 0.9);
  ASSERT_GT(still_points, 10000);
  EXPECT_LE(static_cast<double>(still_flagged) / still_points, 0.01);

  detector.Reset();
  EXPECT_FALSE(detector.ready_);
  PointCloudXYZ moving, still;
  EXPECT_FALSE(detector.DivideCloud(*run.frame.obstacles, moving, still));
  EXPECT_EQ(still.size(), run.frame.obstacles->size());
  EXPECT_TRUE(moving.empty());
}

TEST(DynamicCloudDetector, RejectsBadInputWithReason)
{
  DynamicCloudDetector detector{DynamicDetectorParams()};
  auto cloud = std::make_shared<PointCloudXYZ>();
  cloud->push_back(pcl::PointXYZ(1.0F, 0.0F, 0.3F));
  const cv::Mat depth(48, 64, CV_32FC1, cv::Scalar(2.0F));
  geometry_msgs::msg::Pose pose;
  pose.orientation.w = 1.0;

  EXPECT_FALSE(detector.Update(cloud, depth, pose));
  EXPECT_NE(detector.lastError().find("camera info"), std::string::npos);
  detector.SetCameraInfo(50.0F, 50.0F, 32.0F, 24.0F);

  EXPECT_FALSE(detector.Update(PointCloudXYZ::ConstPtr(), depth, pose));
  EXPECT_FALSE(detector.Update(cloud, cv::Mat(), pose));
  EXPECT_FALSE(detector.Update(cloud, cv::Mat(48, 64, CV_16UC1, cv::Scalar(2000)), pose));
  geometry_msgs::msg::Pose bad = pose;
  bad.position.x = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(detector.Update(cloud, depth, bad));
  bad = pose;
  bad.orientation.w = 0.0;
  EXPECT_FALSE(detector.Update(cloud, depth, bad));
  EXPECT_FALSE(detector.ready_);

  // NaN points and NaN depth readings are tolerated.
  cloud->push_back(pcl::PointXYZ(std::numeric_limits<float>::quiet_NaN(), 0.0F, 0.0F));
  cv::Mat holes = depth.clone();
  holes.at<float>(10, 10) = std::numeric_limits<float>::quiet_NaN();
  EXPECT_TRUE(detector.Update(cloud, holes, pose));
  EXPECT_TRUE(detector.Update(cloud, holes, pose));
  EXPECT_TRUE(detector.lastError().empty());
  EXPECT_EQ(detector.movingFlags().size(), 2U);

  detector.SetCameraInfo(0.0F, 50.0F, 32.0F, 24.0F);
  EXPECT_FALSE(detector.Update(cloud, depth, pose));
}

// The shipped file is loaded by the held-out figures of test_moving_scene_family.
TEST(DetectorConfigFile, AbsentKeysKeepDefaultsAndErrorsNameFileAndKey)
{
  const std::string path = ::testing::TempDir() + "dynamic_cloud_detector_test.yaml";
  std::ofstream(path) << "dynamic_cloud_detector:\n  min_votes: 3\n";
  const DynamicDetectorParams p = loadDynamicDetectorParams(path);
  EXPECT_EQ(p.min_votes, 3);
  EXPECT_EQ(p.history_frames, DynamicDetectorParams().history_frames);

  // Document, and the part of the message besides the path.
  const std::pair<std::string, std::string> cases[] = {
    {"dynamic_cloud_detector: [1, 2\n", "invalid YAML"},
    {"other: 1\n", "'dynamic_cloud_detector'"},
    {"dynamic_cloud_detector: 3\n", "'dynamic_cloud_detector'"},
    {"dynamic_cloud_detector:\n  history_frame: 3\n", "unknown key 'dynamic_cloud_detector.history_frame'"},
    {"dynamic_cloud_detector:\n  history_frames: 2.5\n",
      "'dynamic_cloud_detector.history_frames' has invalid type: expected integer"},
    {"dynamic_cloud_detector:\n  min_depth_gap: abc\n",
      "'dynamic_cloud_detector.min_depth_gap' has invalid type: expected number"},
    {"dynamic_cloud_detector:\n  max_depth: [1]\n", "'dynamic_cloud_detector.max_depth' has invalid type"},
    {"dynamic_cloud_detector:\n  min_votes: 20\n", "'dynamic_cloud_detector.min_votes' out of range"},
    {"dynamic_cloud_detector:\n  depth_downsample: 0\n", "'dynamic_cloud_detector.depth_downsample' out of range"},
    {"dynamic_cloud_detector:\n  confirm_frames: 0\n", "'dynamic_cloud_detector.confirm_frames' out of range"},
    {"dynamic_cloud_detector:\n  object_min_seed_share: 1.5\n",
      "'dynamic_cloud_detector.object_min_seed_share' out of range"},
    {"dynamic_cloud_detector:\n  object_grid_step: 0\n", "'dynamic_cloud_detector.object_grid_step' out of range"},
    {"dynamic_cloud_detector:\n  motion_frames: 16\n", "'dynamic_cloud_detector.motion_frames' out of range"},
  };
  for (const auto & [text, expected] : cases) {
    std::ofstream(path) << text;
    try {
      loadDynamicDetectorParams(path);
      ADD_FAILURE() << "no error for: " << text;
    } catch (const ConfigError & e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(path), std::string::npos) << message;
      EXPECT_NE(message.find(expected), std::string::npos) << message;
    }
  }
  std::remove(path.c_str());
  EXPECT_THROW(DynamicCloudDetector detector("/nonexistent/dynamic_cloud_detector.yaml"), ConfigError);
  DynamicDetectorParams bad;
  bad.min_votes = 0;
  EXPECT_THROW(DynamicCloudDetector detector(bad), ConfigError);
}

}  // namespace
}  // namespace perception
}  // namespace orvix
