// Starts the demo_scene executable and checks, over DDS, what a perception node would receive:
// registered depth and colour images with camera_info of the same size and stamp, and the TF
// tree from the camera to base_footprint and map.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/image.hpp>

#include "rclcdds/rclcdds.hpp"
#include "rclcdds/tf2/buffer.hpp"
#include "rclcdds/tf2/exceptions.hpp"
#include "rclcdds/tf2_ros/transform_listener.hpp"

extern char ** environ;

using namespace std::chrono_literals;

namespace
{

/// The demo_scene process, stopped with SIGINT when the test is done with it.
class DemoSceneProcess
{
public:
  explicit DemoSceneProcess(const std::vector<std::string> & parameters)
  {
    std::vector<std::string> args{DEMO_SCENE_EXECUTABLE, "--ros-args"};
    for (const auto & parameter : parameters) {
      args.push_back("-p");
      args.push_back(parameter);
    }
    std::vector<char *> argv;
    for (auto & arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    spawned_ = posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
  }

  ~DemoSceneProcess()
  {
    if (spawned_ && !reaped_) {
      stop(5s);
    }
  }

  bool spawned() const {return spawned_;}

  /// Sends SIGINT and waits up to `timeout` for the exit (see wait()).
  int stop(std::chrono::milliseconds timeout)
  {
    ::kill(pid_, SIGINT);
    const int status = wait(timeout);
    if (status == kStillRunning) {
      ::kill(pid_, SIGKILL);
      int ignored = 0;
      ::waitpid(pid_, &ignored, 0);
      reaped_ = true;
    }
    return status;
  }

  /// Waits up to `timeout` for the process to end by itself: its exit status, 128 + signal,
  /// or kStillRunning.
  int wait(std::chrono::milliseconds timeout)
  {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    do {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return kStillRunning;
  }

  static constexpr int kStillRunning = -1;

private:
  pid_t pid_{0};
  bool spawned_{false};
  bool reaped_{false};
};

/// Header stamp in nanoseconds.
int64_t stampNs(const builtin_interfaces::msg::Time & stamp)
{
  return static_cast<int64_t>(stamp.sec) * 1000000000LL + stamp.nanosec;
}

class DemoSceneProcessTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    context_ = std::make_shared<rclcdds::Context>();
    context_->init(0, nullptr);
  }
  void TearDown() override {context_->shutdown("test done");}

  rclcdds::NodeOptions options() const
  {
    rclcdds::NodeOptions options;
    options.context(context_);
    return options;
  }

  rclcdds::Context::SharedPtr context_;
};

TEST_F(DemoSceneProcessTest, PublishesMatchingImagesCameraInfoAndTransforms)
{
  DemoSceneProcess demo({"width:=320", "height:=240", "rate:=10.0", "duration_s:=20.0"});
  ASSERT_TRUE(demo.spawned());

  auto node = std::make_shared<rclcdds::Node>("demo_scene_probe", options());
  rclcdds::tf2_ros::Buffer buffer(node->get_clock());
  rclcdds::tf2_ros::TransformListener listener(buffer, node);

  sensor_msgs::msg::CameraInfo info;
  ASSERT_TRUE(rclcdds::wait_for_message(info, node, "/camera_01/depth/camera_info", 10s));
  EXPECT_EQ(info.width, 320U);
  EXPECT_EQ(info.height, 240U);
  EXPECT_EQ(info.header.frame_id, "camera_01_depth_optical_frame");
  EXPECT_GT(info.k[0], 0.0);

  std::mutex mutex;
  std::vector<sensor_msgs::msg::Image> depths;
  std::vector<sensor_msgs::msg::Image> colours;
  std::set<int64_t> info_stamps;
  auto depth_sub = node->create_subscription<sensor_msgs::msg::Image>(
    "/camera_01/depth/image_raw", rclcdds::SensorDataQoS(),
    [&](const sensor_msgs::msg::Image & image) {
      std::lock_guard<std::mutex> lock(mutex);
      depths.push_back(image);
    });
  auto colour_sub = node->create_subscription<sensor_msgs::msg::Image>(
    "/camera_01/color/image_raw", rclcdds::SensorDataQoS(),
    [&](const sensor_msgs::msg::Image & image) {
      std::lock_guard<std::mutex> lock(mutex);
      colours.push_back(image);
    });
  auto info_sub = node->create_subscription<sensor_msgs::msg::CameraInfo>(
    "/camera_01/depth/camera_info", rclcdds::QoS(10),
    [&](const sensor_msgs::msg::CameraInfo & message) {
      std::lock_guard<std::mutex> lock(mutex);
      info_stamps.insert(stampNs(message.header.stamp));
    });
  rclcdds::executors::SingleThreadedExecutor executor(rclcdds::ExecutorOptions{context_});
  executor.add_node(node);
  const auto until = std::chrono::steady_clock::now() + 2s;
  while (std::chrono::steady_clock::now() < until) {
    executor.spin_some();
    std::this_thread::sleep_for(5ms);
  }

  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_GE(depths.size(), 5U);
  ASSERT_GE(colours.size(), 5U);
  std::set<int64_t> colour_stamps;
  for (const auto & colour : colours) {
    EXPECT_EQ(colour.encoding, "rgb8");
    EXPECT_EQ(colour.width, info.width);
    EXPECT_EQ(colour.height, info.height);
    EXPECT_EQ(colour.data.size(), static_cast<size_t>(colour.step) * colour.height);
    colour_stamps.insert(stampNs(colour.header.stamp));
  }
  size_t paired = 0;
  size_t with_info = 0;
  for (const auto & depth : depths) {
    EXPECT_EQ(depth.encoding, "16UC1");
    EXPECT_EQ(depth.width, info.width);
    EXPECT_EQ(depth.height, info.height);
    EXPECT_EQ(depth.step, depth.width * 2);
    EXPECT_EQ(depth.data.size(), static_cast<size_t>(depth.step) * depth.height);
    EXPECT_EQ(depth.header.frame_id, info.header.frame_id);
    paired += colour_stamps.count(stampNs(depth.header.stamp));
    with_info += info_stamps.count(stampNs(depth.header.stamp));
  }
  // Best effort on loopback loses nothing in practice; allow a frame or two at the edges.
  EXPECT_GE(paired + 2, depths.size());
  EXPECT_GE(with_info + 2, depths.size());

  // The floor ahead of camera 1 reads about 1.2 m at the image centre (0.6 m high, 30 degrees).
  const auto & last = depths.back();
  const size_t centre = (static_cast<size_t>(last.height / 2) * last.width + last.width / 2) * 2;
  const int centre_mm = last.data[centre] | (last.data[centre + 1] << 8);
  EXPECT_GT(centre_mm, 0);
  EXPECT_LT(centre_mm, 1500);

  // TF: the static camera mount, and the camera in the map at an image's own stamp.
  geometry_msgs::msg::TransformStamped mount;
  ASSERT_NO_THROW(
    mount = buffer.lookupTransform(
      "base_footprint", "camera_01_depth_optical_frame", rclcdds::Time(0, 0, rclcdds::RCL_ROS_TIME),
      rclcdds::Duration(std::chrono::seconds(3))));
  EXPECT_NEAR(mount.transform.translation.z, 0.6, 1e-9);
  EXPECT_NO_THROW(
    buffer.lookupTransform(
      "map", "camera_01_depth_optical_frame", rclcdds::Time(last.header.stamp),
      rclcdds::Duration(std::chrono::seconds(1))));

  EXPECT_EQ(demo.stop(5s), 0);
}

TEST_F(DemoSceneProcessTest, StopsByItselfAfterDurationAndRejectsBadParameters)
{
  {
    DemoSceneProcess demo({"width:=64", "height:=48", "cameras:=1", "duration_s:=1.0"});
    ASSERT_TRUE(demo.spawned());
    EXPECT_EQ(demo.wait(6s), 0);
  }
  {
    DemoSceneProcess demo({"cameras:=3"});
    ASSERT_TRUE(demo.spawned());
    EXPECT_EQ(demo.wait(6s), 1);  // "cameras" is limited to 1..2
  }
}

}  // namespace
