// A DepthCamera inside this process, driven through its callbacks with constructed messages:
// pairing, alarms, staleness, malformed input, the segmentation worker and the trash worker.
// Opens DDS participants: runs in the private network namespace.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <geometry_msgs/msg/transform_stamped.hpp>
#include <opencv2/core.hpp>
#include <sensor_msgs/msg/camera_info.hpp>

#include "base.hpp"
#include "camera/depth_camera.hpp"
#include "cloud_test_scenes.hpp"
#include "log_capture.hpp"
#include "nimbra_demo_scene/ground_truth.hpp"
#include "nimbra_perception_libs/perception_utils.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/node.hpp"
#include "rclcdds/tf2/eigen.hpp"
#include "rclcdds/tf2_ros/static_transform_broadcaster.hpp"
#include "rclcdds/wait_for_message.hpp"
#include "tracker/trash_tracker.hpp"

namespace
{

using namespace std::chrono_literals;
using nimbra::DepthCamera;
using Image = sensor_msgs::msg::Image;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr float kF = 200.0F;
constexpr float kCameraHeight = 0.5F;

std::size_t CountLines(const std::vector<std::string> & lines, const std::string & needle)
{
  return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(),
    [&](const std::string & line) {return line.find(needle) != std::string::npos;}));
}

double Now() {return std::chrono::duration<double>(
    std::chrono::system_clock::now().time_since_epoch()).count();}

/// An rgb8 image of uniform grey, or of `pixels` (packed rows) when given.
Image::SharedPtr Colour(
  double stamp, int width = kWidth, int height = kHeight, const std::vector<uint8_t> & pixels = {})
{
  auto msg = std::make_shared<Image>();
  msg->header.stamp = orvix::perception::DoubleToStamp(stamp);
  msg->width = static_cast<uint32_t>(width);
  msg->height = static_cast<uint32_t>(height);
  msg->encoding = "rgb8";
  msg->step = msg->width * 3;
  msg->data = pixels;
  msg->data.resize(static_cast<std::size_t>(msg->step) * msg->height, 90);
  return msg;
}

/// Depth in millimetres of a floor 0.5 m below a forward-looking camera, with a 30 cm box face
/// 1.2 m ahead.
Image::SharedPtr SceneDepth(double stamp)
{
  auto msg = std::make_shared<Image>(nimbra::test::makeDepthMessage(kWidth, kHeight, "16UC1",
      [](int u, int v) {
        // Optical ray (x right, y down, z forward) in the base frame: x = z, y = -x, z = -y.
        const double rx = (u - kWidth / 2.0) / kF;
        const double ry = (v - kHeight / 2.0) / kF;
        double depth = ry > 0.0 ? kCameraHeight / ry : 0.0;  // floor
        const double box_x = 1.2;
        const double z_at_box = kCameraHeight - ry * box_x;
        if (std::fabs(rx * box_x) < 0.15 && z_at_box > 0.0 && z_at_box < 0.3 &&
          (depth == 0.0 || depth > box_x))
        {
          depth = box_x;
        }
        return depth > 1.9 ? 0.0 : std::round(depth * 1000.0);
      }));
  msg->header.stamp = orvix::perception::DoubleToStamp(stamp);
  msg->header.frame_id = "t_cam";
  return msg;
}

class CameraFramesTest : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    rclcdds::init(0, nullptr);
    helper_ = std::make_shared<rclcdds::Node>("camera_frames_test_helper");
    info_pub_ = helper_->create_publisher<sensor_msgs::msg::CameraInfo>("/t/camera_info",
        rclcdds::QoS(10));
    tf_static_ = std::make_shared<rclcdds::tf2_ros::StaticTransformBroadcaster>(helper_);
    // The camera mounting, and the robot standing at the map origin (for the trash worker).
    geometry_msgs::msg::TransformStamped mount;
    mount.header.frame_id = "base_footprint";
    mount.child_frame_id = "t_cam";
    mount.transform = rclcdds::tf2::matrix4fToTransform(
      nimbra::test::forwardCameraToBase(0.0F, 0.0F, kCameraHeight));
    geometry_msgs::msg::TransformStamped pose;
    pose.header.frame_id = "map";
    pose.child_frame_id = "base_footprint";
    pose.transform.rotation.w = 1.0;
    tf_static_->sendTransform({mount, pose});
  }

  static void TearDownTestSuite()
  {
    tf_static_.reset();
    info_pub_.reset();
    helper_.reset();
    rclcdds::shutdown();
  }

  /// A node with `overrides` (plus the demo model) and its camera 1 on /t/..., activated.
  void MakeCamera(std::vector<rclcdds::Parameter> overrides,
    const std::shared_ptr<orvix::perception::TrashTracker> & tracker = nullptr)
  {
    camera_.reset();  // a camera made before goes first, then its node
    node_.reset();
    overrides.emplace_back("model_meta_file", std::string(DEMO_MODEL_DESCRIPTION));
    node_ = std::make_shared<nimbra::Base>(
      nimbra::Base::DefaultOptions().parameter_overrides(overrides));
    std::atomic<bool> publishing{true};  // camera_info until the camera has read it
    std::thread info_thread([&publishing] {
        sensor_msgs::msg::CameraInfo info;
        info.header.frame_id = "t_cam";
        info.width = kWidth;
        info.height = kHeight;
        info.k = {kF, 0.0, kWidth / 2.0, 0.0, kF, kHeight / 2.0, 0.0, 0.0, 1.0};
        while (publishing.load()) {
          info_pub_->publish(info);
          std::this_thread::sleep_for(20ms);
        }
      });
    camera_ = std::make_shared<DepthCamera>(node_, 1, "/t/depth", "/t/rgb", "/t/camera_info",
        tracker);
    publishing.store(false);
    info_thread.join();
    node_->activate();
    camera_->activated_.store(true);
  }

  // The helper node also holds the tests' subscriptions.
  static inline std::shared_ptr<rclcdds::Node> helper_;
  static inline rclcdds::Publisher<sensor_msgs::msg::CameraInfo>::SharedPtr info_pub_;
  static inline std::shared_ptr<rclcdds::tf2_ros::StaticTransformBroadcaster> tf_static_;
  std::shared_ptr<nimbra::Base> node_;
  std::shared_ptr<DepthCamera> camera_;
};

TEST_F(CameraFramesTest, PairingPicksTheNearestColourFrameWithinTheBudget)
{
  MakeCamera({rclcdds::Parameter("depth_rgb_time_diff", 0.25)});
  nimbra::test::LogCapture log;
  // Empty ring: five scans, the frame is kept but flagged, with the depth stamp standing in.
  camera_->depthCallback(SceneDepth(100.0));
  EXPECT_EQ(camera_->lastPairingScans(), 5);
  EXPECT_TRUE(camera_->tradOnly());
  EXPECT_EQ(camera_->pairedRgb(), nullptr);
  EXPECT_EQ(CountLines(log.Lines(), "[WARN] ErrorCo:100700003, The difference between depth=100 "
    "and rgb=100 timestamp is too large of cam_1"), 1u);
  // A difference equal to the limit is accepted (the slot chosen: FramePairing.NearestStampSlot).
  camera_->rgbCallback(Colour(99.75));
  camera_->depthCallback(SceneDepth(100.0));
  ASSERT_NE(camera_->pairedRgb(), nullptr);
  EXPECT_EQ(camera_->pairedRgb()->header.stamp.nanosec, 750000000u);
  EXPECT_FALSE(camera_->tradOnly());
  EXPECT_EQ(camera_->lastPairingScans(), 1);
  // Just beyond the limit: flagged after the full budget, the best frame still paired.
  camera_->depthCallback(SceneDepth(100.5000001));
  EXPECT_TRUE(camera_->tradOnly());
  EXPECT_EQ(camera_->lastPairingScans(), 5);
  ASSERT_NE(camera_->pairedRgb(), nullptr);
  // All three frames are 100 s old: dropped by the watchdog, never processed.
  EXPECT_EQ(camera_->staleFrames(), 3u);

  // No wait budget: no scan and no colour, even with a frame of the same stamp in the ring.
  MakeCamera({rclcdds::Parameter("depth_rgb_wait_time_ms", 0)});
  camera_->rgbCallback(Colour(100.0));
  camera_->depthCallback(SceneDepth(100.0));
  EXPECT_EQ(camera_->lastPairingScans(), 0);
  EXPECT_TRUE(camera_->tradOnly());
  EXPECT_EQ(camera_->pairedRgb(), nullptr);
}

TEST_F(CameraFramesTest, AlarmsInactivityTaskStateAndStatistics)
{
  MakeCamera({rclcdds::Parameter("data_flow_trace", true)});
  auto alarms = helper_->create_subscription<std_msgs::msg::Bool>("/cam1_data_status",
      rclcdds::QoS(10), [](const std_msgs::msg::Bool &) {});
  std::this_thread::sleep_for(300ms);  // discovery
  std_msgs::msg::Bool alarm;
  nimbra::test::LogCapture log;

  // 50 callbacks without data: warnings only; the 51st raises the alarm once.
  for (int i = 0; i < 50; ++i) {
    camera_->depthCallback(nullptr);
  }
  EXPECT_FALSE(rclcdds::wait_for_message(alarm, alarms, node_->get_context(), 300ms));
  camera_->depthCallback(nullptr);
  EXPECT_TRUE(rclcdds::wait_for_message(alarm, alarms, node_->get_context(), 2s));
  EXPECT_TRUE(alarm.data);
  EXPECT_EQ(CountLines(log.Lines(), "[WARN] ErrorCode:100700002, No data at begining of the cam_1"),
    51u);

  // A frame 1.5 s old is dropped with the alarm, even with a matching colour frame.
  const double old = Now() - 1.5;
  camera_->rgbCallback(Colour(old));
  camera_->depthCallback(SceneDepth(old));
  EXPECT_TRUE(rclcdds::wait_for_message(alarm, alarms, node_->get_context(), 2s));
  EXPECT_EQ(CountLines(log.Lines(),
    "[WARN] ErrorCo:100700003, depth or rgb long time without update data of cam_1"), 1u);
  EXPECT_EQ(camera_->processedFrames(), 0u);

  // 75 colour frames give one latency line.
  for (int i = 0; i < 74; ++i) {
    camera_->rgbCallback(Colour(Now()));
  }
  EXPECT_EQ(CountLines(log.Lines(), "rgbCallback time fly even"), 1u);  // 1 old + 74 new

  // The task state reaches the switch (its rule: FramePairing.TaskStateClosesAiInState8...).
  nimbra_protocol::msg::TaskCenterFsmStatus fsm;
  fsm.fsm_state = 8;
  camera_->fsmStatusCallback(std::make_shared<nimbra_protocol::msg::TaskCenterFsmStatus>(fsm));
  EXPECT_TRUE(camera_->fsmCloseAi());

  // While inactive the colour frame never reaches the ring (a silent depth stream while
  // inactive: the lifecycle part of test_node_process).
  camera_->activated_.store(false);
  camera_->rgbCallback(Colour(200.0));
  camera_->activated_.store(true);
  camera_->depthCallback(SceneDepth(200.0));
  EXPECT_EQ(camera_->pairedRgb(), nullptr);
  EXPECT_TRUE(camera_->tradOnly());
}

TEST_F(CameraFramesTest, MalformedInputIsDroppedWithOneLineAndTheNextFrameWorks)
{
  MakeCamera({});
  nimbra::test::LogCapture log;
  // One refusal per stream, each one line (every refusal and its reason: FramePairing tests).
  auto colour = Colour(Now());
  colour->encoding = "yuv422";
  camera_->rgbCallback(colour);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"[WARN] cam_1 drops a colour image: encoding "
      "[yuv422] is not a colour encoding the node decodes (1 dropped so far)"});
  auto short_depth = SceneDepth(Now());
  short_depth->data.pop_back();
  camera_->depthCallback(short_depth);
  EXPECT_EQ(log.Lines().back(), "[WARN] cam_1 drops a depth image: depth data holds 153599 "
    "bytes, height x step needs 153600 (1 dropped so far)");
  EXPECT_EQ(camera_->malformedFrames(), 2u);
  EXPECT_EQ(camera_->processedFrames(), 0u);
  // A flood stays visible without flooding the log: the first 16 drops, then the 32nd, 64th ...
  for (int i = 1; i < 36; ++i) {
    camera_->depthCallback(short_depth);
  }
  const auto lines = log.Lines();
  EXPECT_EQ(CountLines(lines, "drops a depth image"), 17u);
  EXPECT_NE(lines.back().find("(32 dropped so far)"), std::string::npos) << lines.back();

  // The ring holds no malformed colour frame, and a good frame goes through the pipeline.
  const double now = Now();
  camera_->rgbCallback(Colour(now));
  camera_->depthCallback(SceneDepth(now));
  EXPECT_EQ(camera_->processedFrames(), 1u);
  ASSERT_NE(camera_->pairedRgb(), nullptr);
  EXPECT_EQ(camera_->pairedRgb()->encoding, "rgb8");
  // A frame without one depth reading ends before the base transform (the 500-point floor
  // behind it: CloudPreprocessDownsample).
  auto no_depth = SceneDepth(Now());
  std::fill(no_depth->data.begin(), no_depth->data.end(), 0);
  camera_->depthCallback(no_depth);
  EXPECT_EQ(CountLines(log.Lines(), "cam_1 encounter an empty depth cloud"), 1u);
  EXPECT_EQ(CountLines(log.Lines(), "base_cloud size="), 1u);  // the good frame
}

TEST_F(CameraFramesTest, SegmentationAndTrashWorkersAndDebugOff)
{
  // The demo model on a rendered frame of the demo world: the worker's answer equals the
  // inline one.
  nimbra_demo_scene::DemoRig rig(nimbra_demo_scene::DemoRig::Params{});
  const auto & frame = rig.render(20, 0);
  const cv::Mat image = cv::Mat(480, 640, CV_8UC3, const_cast<uint8_t *>(frame.rgb8.data())).clone();
  MakeCamera({rclcdds::Parameter("use_ai_thread", false)});
  const nimbra::AiResult inline_result = camera_->segment(image);
  std::atomic<int> publications{0};
  auto tracker = std::make_shared<orvix::perception::TrashTracker>(
    orvix::perception::TrashTrackerConfig{},
    [&publications](const nimbra_protocol::msg::DetectedWastes &) {++publications;}, nullptr);
  MakeCamera({rclcdds::Parameter("use_ai_thread", true), rclcdds::Parameter("debug", false)},
    tracker);
  ASSERT_TRUE(camera_->aiThreadRunning());  // else segment() runs inline too
  const nimbra::AiResult worker_result = camera_->segment(image);
  ASSERT_FALSE(inline_result.detections.empty());
  ASSERT_EQ(inline_result.detections.size(), worker_result.detections.size());
  for (std::size_t i = 0; i < inline_result.detections.size(); ++i) {
    const auto & a = inline_result.detections[i];
    const auto & b = worker_result.detections[i];
    EXPECT_EQ(std::make_tuple(a.x1, a.y1, a.x2, a.y2, a.type, a.score),
      std::make_tuple(b.x1, b.y1, b.x2, b.y2, b.type, b.score));
    EXPECT_EQ(cv::countNonZero(a.mask != b.mask), 0);
  }

  // The trash worker takes a frame with detections whenever it is idle, measures it and
  // publishes the tracker once per frame; the next frame finds it idle again. With debug off
  // the semantic streams are published, the debug clouds are not.
  auto base = helper_->create_subscription<sensor_msgs::msg::PointCloud2>("/cam1_base_cloud",
      rclcdds::QoS(10), [](const sensor_msgs::msg::PointCloud2 &) {});
  auto semantic = helper_->create_subscription<nimbra_protocol::msg::SemanticPointCloud>(
    "/cam1_static_obstacle_cloud", rclcdds::QoS(10),
    [](const nimbra_protocol::msg::SemanticPointCloud &) {});
  std::this_thread::sleep_for(300ms);  // discovery
  for (int n = 1; n <= 2; ++n) {
    const double now = Now();  // the colour image is twice the depth image's size
    camera_->rgbCallback(Colour(now, 640, 480, frame.rgb8));
    camera_->depthCallback(SceneDepth(now));
    ASSERT_EQ(camera_->processedFrames(), static_cast<uint64_t>(n));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (publications.load() < n && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(publications.load(), n) << "frame " << n;
  }
  nimbra_protocol::msg::SemanticPointCloud obstacles;
  ASSERT_TRUE(rclcdds::wait_for_message(obstacles, semantic, node_->get_context(), 2s));
  EXPECT_FALSE(obstacles.clusters.empty());  // its header: ObstacleMessages
  sensor_msgs::msg::PointCloud2 cloud;
  EXPECT_FALSE(rclcdds::wait_for_message(cloud, base, node_->get_context(), 300ms));
  camera_.reset();  // its workers end
  EXPECT_EQ(publications.load(), 2);
}

}  // namespace
