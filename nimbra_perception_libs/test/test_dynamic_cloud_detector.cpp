#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>

#include "nimbra_perception_libs/dynamic_cloud_detector.hpp"
#include "synthetic_scene.hpp"

namespace orvix
{
namespace perception
{
namespace
{

using testing::Box;
using testing::Camera;
using testing::LabelledCloud;
using testing::Scene;

geometry_msgs::msg::Pose toPose(const Eigen::Isometry3f & t)
{
  geometry_msgs::msg::Pose pose;
  pose.position.x = t.translation().x();
  pose.position.y = t.translation().y();
  pose.position.z = t.translation().z();
  const Eigen::Quaternionf q(t.linear());
  pose.orientation.x = q.x();
  pose.orientation.y = q.y();
  pose.orientation.z = q.z();
  pose.orientation.w = q.w();
  return pose;
}

Eigen::Isometry3f robotPose(float x, float y, float yaw)
{
  Eigen::Isometry3f t = Eigen::Isometry3f::Identity();
  t.linear() = Eigen::AngleAxisf(yaw, Eigen::Vector3f::UnitZ()).toRotationMatrix();
  t.translation() = Eigen::Vector3f(x, y, 0.0F);
  return t;
}

// Room with a back wall, side walls and furniture; box 0 is the one that may move.
Scene roomScene()
{
  Scene scene;
  scene.boxes.push_back({{1.7F, -1.0F, 0.0F}, {2.0F, -0.7F, 0.5F}});      // moving box (placeholder)
  scene.boxes.push_back({{3.2F, -4.0F, 0.0F}, {3.4F, 4.0F, 2.0F}});       // back wall
  scene.boxes.push_back({{-1.0F, 2.2F, 0.0F}, {3.4F, 2.4F, 2.0F}});       // left wall
  scene.boxes.push_back({{-1.0F, -2.4F, 0.0F}, {3.4F, -2.2F, 2.0F}});     // right wall
  scene.boxes.push_back({{1.2F, 0.6F, 0.0F}, {1.6F, 1.0F, 0.75F}});       // cabinet
  scene.boxes.push_back({{2.3F, -1.6F, 0.0F}, {2.8F, -1.1F, 0.45F}});     // bench
  scene.boxes.push_back({{0.9F, -0.4F, 0.0F}, {1.05F, -0.25F, 1.1F}});    // pole
  return scene;
}

struct Counts
{
  long moving_total = 0;
  long moving_flagged = 0;
  long static_total = 0;
  long static_flagged = 0;

  double movingRate() const {return moving_total ? static_cast<double>(moving_flagged) / moving_total : 0.0;}
  double staticRate() const {return static_total ? static_cast<double>(static_flagged) / static_total : 0.0;}
};

// Obstacle points (5 cm and more above the floor) of every second pixel, like the pipeline's input.
PointCloudXYZ::Ptr obstaclePoints(const LabelledCloud & all, std::vector<int> & box_of_point)
{
  auto cloud = std::make_shared<PointCloudXYZ>();
  box_of_point.clear();
  for (std::size_t i = 0; i < all.cloud->size(); ++i) {
    if (all.truth[i] == testing::Truth::kObstacle) {
      cloud->push_back((*all.cloud)[i]);
      box_of_point.push_back(all.box_index[i]);
    }
  }
  return cloud;
}

class DynamicSequence
{
public:
  DynamicSequence()
  : camera_(testing::makeCamera(0.2F, 0.6F, 0.45F)), detector_(DynamicDetectorParams())
  {
    camera_.max_depth = 4.0F;
    detector_.SetCameraInfo(camera_.fx, camera_.fy, camera_.cx, camera_.cy);
    detector_.SetTf(camera_.base_from_cam.inverse().matrix());
  }

  /// Runs `frames` frames at 10 Hz; the robot drives at `speed` and turns at `turn`; box 0 moves with
  /// `box_velocity` until `box_stop_frame`. Frames from `score_from` on are scored.
  Counts run(
    int frames, float speed, float turn, const Eigen::Vector2f & box_velocity, int box_stop_frame,
    int score_from, unsigned seed)
  {
    std::mt19937 rng(seed);
    Scene scene = roomScene();
    const Box start = scene.boxes[0];
    Counts counts;
    float x = 0.0F, y = 0.0F, yaw = -0.2F;
    const float dt = 0.1F;
    for (int f = 0; f < frames; ++f) {
      const float t = static_cast<float>(std::min(f, box_stop_frame)) * dt;
      scene.boxes[0].min = start.min + Eigen::Vector3f(box_velocity.x() * t, box_velocity.y() * t, 0.0F);
      scene.boxes[0].max = start.max + Eigen::Vector3f(box_velocity.x() * t, box_velocity.y() * t, 0.0F);
      const Eigen::Isometry3f pose = robotPose(x, y, yaw);
      const testing::DepthFrame frame = scene.render(camera_, pose, 0.005F, rng);
      std::vector<int> box_of_point;
      const PointCloudXYZ::Ptr cloud =
        obstaclePoints(testing::cloudFromFrame(frame, camera_, 2, 0.05F), box_of_point);
      EXPECT_TRUE(detector_.Update(cloud, frame.depth, toPose(pose))) << detector_.lastError();
      const std::vector<std::uint8_t> & moving = detector_.movingFlags();
      if (f >= score_from) {
        for (std::size_t i = 0; i < moving.size(); ++i) {
          const bool is_moving_box = box_of_point[i] == 0 && f <= box_stop_frame;
          if (is_moving_box) {
            ++counts.moving_total;
            counts.moving_flagged += moving[i];
          } else {
            ++counts.static_total;
            counts.static_flagged += moving[i];
          }
        }
      }
      x += speed * dt * std::cos(yaw);
      y += speed * dt * std::sin(yaw);
      yaw += turn * dt;
    }
    return counts;
  }

  DynamicCloudDetector & detector() {return detector_;}
  const Camera & camera() const {return camera_;}

private:
  Camera camera_;
  DynamicCloudDetector detector_;
};

TEST(DynamicCloudDetectorScene, MovingBoxWhileRobotDrivesAndTurns)
{
  for (unsigned seed : {21U, 22U}) {
    DynamicSequence sequence;
    const Counts c = sequence.run(25, 0.3F, 0.25F, Eigen::Vector2f(0.0F, 0.8F), 1000, 10, seed);
    std::printf("[ dynamic  ] moving box flagged %.4f (%ld), static flagged %.4f (%ld)\n", c.movingRate(),
      c.moving_total, c.staticRate(), c.static_total);
    ASSERT_GT(c.moving_total, 1000);
    EXPECT_GE(c.movingRate(), 0.90);
    EXPECT_LE(c.staticRate(), 0.01);
  }
}

TEST(DynamicCloudDetectorScene, StationarySceneWithMovingRobotStaysStill)
{
  for (unsigned seed : {31U, 32U}) {
    DynamicSequence sequence;
    const Counts c = sequence.run(25, 0.4F, -0.3F, Eigen::Vector2f::Zero(), 0, 1, seed);
    std::printf("[ dynamic  ] stationary scene: flagged %.4f (%ld)\n", c.staticRate(), c.static_total);
    ASSERT_GT(c.static_total, 10000);
    EXPECT_LE(c.staticRate(), 0.01);
  }
}

TEST(DynamicCloudDetectorScene, StoppedObjectBecomesStillAfterTheHistoryAndTheMemory)
{
  DynamicSequence sequence;
  // The box stops at frame 12; from frame 12 + history_frames + 1 on no frame has seen through it, and
  // track_memory frames later the object is no longer kept moving.
  const DynamicDetectorParams & p = sequence.detector().params();
  const int still_from = 12 + p.history_frames + p.track_memory + 1;
  const Counts c = sequence.run(still_from + 4, 0.0F, 0.0F, Eigen::Vector2f(0.0F, 0.8F), 12, still_from, 41U);
  ASSERT_GT(c.static_total, 10000);
  EXPECT_LE(c.staticRate(), 0.01);
}

TEST(DynamicCloudDetector, ReadyFlagAndDivideCloudFollowTheLastUpdate)
{
  DynamicSequence sequence;
  DynamicCloudDetector & detector = sequence.detector();
  EXPECT_FALSE(detector.ready_);
  std::mt19937 rng(5);
  Scene scene = roomScene();
  std::vector<int> box_of_point;
  PointCloudXYZ::Ptr cloud;
  for (int f = 0; f < 12; ++f) {
    scene.boxes[0].min.y() += 0.08F;
    scene.boxes[0].max.y() += 0.08F;
    const testing::DepthFrame frame = scene.render(sequence.camera(), robotPose(0, 0, 0), 0.005F, rng);
    cloud = obstaclePoints(testing::cloudFromFrame(frame, sequence.camera(), 2, 0.05F), box_of_point);
    ASSERT_TRUE(detector.Update(cloud, frame.depth, toPose(robotPose(0, 0, 0))));
    EXPECT_EQ(detector.ready_, f > 0) << "frame " << f;
    detector.ready_ = false;  // the caller clears it every frame
  }
  PointCloudXYZ moving;
  PointCloudXYZ still;
  ASSERT_TRUE(detector.DivideCloud(*cloud, moving, still));
  std::size_t flagged = 0;
  for (std::uint8_t m : detector.movingFlags()) {
    flagged += m;
  }
  EXPECT_EQ(moving.size() + still.size(), cloud->size());
  EXPECT_GT(moving.size(), 0U);
  // Pixel collisions may leave a few flagged points still, never the reverse.
  EXPECT_LE(moving.size(), flagged);
  EXPECT_GE(moving.size(), flagged * 95 / 100);

  auto moving_ptr = std::make_shared<PointCloudXYZ>();
  auto still_ptr = std::make_shared<PointCloudXYZ>();
  EXPECT_TRUE(detector.DivideCloud(cloud, moving_ptr, still_ptr));
  EXPECT_EQ(moving_ptr->size(), moving.size());
  EXPECT_FALSE(detector.DivideCloud(PointCloudXYZ::ConstPtr(), moving_ptr, still_ptr));

  detector.Reset();
  EXPECT_FALSE(detector.ready_);
  EXPECT_FALSE(detector.DivideCloud(*cloud, moving, still));
  EXPECT_EQ(still.size(), cloud->size());
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

// ---- configuration file ----

class DetectorConfigFile : public ::testing::Test
{
protected:
  std::string write(const std::string & text)
  {
    path_ = ::testing::TempDir() + "dynamic_cloud_detector_test.yaml";
    std::ofstream(path_) << text;
    return path_;
  }
  void TearDown() override {std::remove(path_.c_str());}

  std::string path_;
};

TEST_F(DetectorConfigFile, ShippedFileLoads)
{
  const DynamicDetectorParams p = loadDynamicDetectorParams(NIMBRA_DETECTOR_CONFIG);
  const DynamicDetectorParams defaults;
  EXPECT_EQ(p.history_frames, 10);
  EXPECT_EQ(p.min_votes, 2);
  // The shipped file states the defaults the scene family was tuned with.
  EXPECT_EQ(p.confirm_frames, defaults.confirm_frames);
  EXPECT_EQ(p.track_memory, defaults.track_memory);
  EXPECT_FLOAT_EQ(p.object_grid_step, defaults.object_grid_step);
  EXPECT_FLOAT_EQ(p.object_max_held_share, defaults.object_max_held_share);
  EXPECT_FLOAT_EQ(p.track_growth, defaults.track_growth);
  EXPECT_EQ(p.motion_frames, defaults.motion_frames);
  EXPECT_FLOAT_EQ(p.motion_min_distance, defaults.motion_min_distance);
  EXPECT_NO_THROW(DynamicCloudDetector detector(NIMBRA_DETECTOR_CONFIG));
}

TEST_F(DetectorConfigFile, AbsentKeysKeepDefaults)
{
  const DynamicDetectorParams p = loadDynamicDetectorParams(write("dynamic_cloud_detector:\n  min_votes: 3\n"));
  EXPECT_EQ(p.min_votes, 3);
  EXPECT_EQ(p.history_frames, DynamicDetectorParams().history_frames);
}

TEST_F(DetectorConfigFile, ErrorsNameFileAndKey)
{
  struct Case
  {
    std::string text;
    std::string expected;  ///< part of the message besides the path
  };
  const std::vector<Case> cases = {
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
    {"dynamic_cloud_detector:\n  track_memory: 1.5\n",
      "'dynamic_cloud_detector.track_memory' has invalid type: expected integer"},
  };
  for (const Case & c : cases) {
    const std::string path = write(c.text);
    try {
      loadDynamicDetectorParams(path);
      ADD_FAILURE() << "no error for: " << c.text;
    } catch (const ConfigError & e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(path), std::string::npos) << message;
      EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    }
  }
  EXPECT_THROW(DynamicCloudDetector detector("/nonexistent/dynamic_cloud_detector.yaml"), ConfigError);
  DynamicDetectorParams bad;
  bad.min_votes = 0;
  EXPECT_THROW(DynamicCloudDetector detector(bad), ConfigError);
}

}  // namespace
}  // namespace perception
}  // namespace orvix
