// Starts the demo_scene executable and checks, over DDS, what a perception node would receive:
// registered depth and colour images with camera_info of the same size and stamp, each stamp
// carrying the number of the frame it shows, and the TF tree from the cameras to map.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/image.hpp>

#include "nimbra_demo_scene/frame_stamp.hpp"
#include "nimbra_demo_scene/ground_truth.hpp"
#include "nimbra_demo_scene/ros_conversions.hpp"
#include "rclcdds/rclcdds.hpp"
#include "rclcdds/tf2/buffer.hpp"
#include "rclcdds/tf2_ros/transform_listener.hpp"

extern char ** environ;

using namespace std::chrono_literals;

namespace
{

/// Starts demo_scene with `-p` parameters; 0 when it cannot be started.
pid_t startDemoScene(const std::vector<std::string> & parameters)
{
  std::vector<std::string> args{DEMO_SCENE_EXECUTABLE, "--ros-args"};
  for (const auto & parameter : parameters) {
    args.insert(args.end(), {"-p", parameter});
  }
  std::vector<char *> argv;
  for (auto & arg : args) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : 0;
}

/// Exit status of `pid` (128 + signal when killed) once it ends, or -1 when it still runs after
/// `timeout`: it is then killed.
int exitStatus(pid_t pid, std::chrono::milliseconds timeout)
{
  int status = 0;
  for (auto left = timeout; ::waitpid(pid, &status, WNOHANG) != pid; left -= 20ms) {
    if (left <= 0ms) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      return -1;
    }
    std::this_thread::sleep_for(20ms);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(DemoSceneProcess, PublishesTheRigsFramesNumberedInTheirStampsAndStopsAfterItsDuration)
{
  // A short run that stops by itself: nothing outlives the test even when a check fails.
  const pid_t demo = startDemoScene({"width:=160", "height:=120", "duration_s:=3.0"});
  ASSERT_GT(demo, 0);

  auto context = std::make_shared<rclcdds::Context>();
  context->init(0, nullptr);
  rclcdds::NodeOptions options;
  options.context(context);
  auto node = std::make_shared<rclcdds::Node>("demo_scene_probe", options);
  rclcdds::tf2_ros::Buffer buffer(node->get_clock());
  rclcdds::tf2_ros::TransformListener listener(buffer, node);
  std::mutex mutex;
  // What each camera's topics delivered, by frame number.
  std::map<uint64_t, sensor_msgs::msg::Image> depth_of[2], colour_of[2];
  std::map<uint64_t, sensor_msgs::msg::CameraInfo> info_of[2];
  std::vector<rclcdds::SubscriptionBase::SharedPtr> subscriptions;
  // Files each message under the frame number of its stamp (the guess 0 is good enough: runs
  // here are far shorter than 1000 frames).
  const auto fileByFrame = [&mutex](auto & to) {
      return [&mutex, &to](const typename std::decay_t<decltype(to)>::mapped_type & message) {
               std::lock_guard<std::mutex> lock(mutex);
               const auto & stamp = message.header.stamp;
               to[nimbra_demo_scene::frameFromStamp(stamp.sec + stamp.nanosec * 1e-9, 0.0)] = message;
             };
    };
  for (int c = 0; c < 2; ++c) {
    const std::string topic = "/camera_0" + std::to_string(c + 1) + "/";
    subscriptions.push_back(node->create_subscription<sensor_msgs::msg::Image>(
      topic + "depth/image_raw", rclcdds::SensorDataQoS(), fileByFrame(depth_of[c])));
    subscriptions.push_back(node->create_subscription<sensor_msgs::msg::Image>(
      topic + "color/image_raw", rclcdds::SensorDataQoS(), fileByFrame(colour_of[c])));
    subscriptions.push_back(node->create_subscription<sensor_msgs::msg::CameraInfo>(
      topic + "depth/camera_info", rclcdds::QoS(10), fileByFrame(info_of[c])));
  }
  rclcdds::executors::SingleThreadedExecutor executor(rclcdds::ExecutorOptions{context});
  executor.add_node(node);
  std::atomic<bool> done{false};
  std::thread spinner([&] {
      while (!done) {
        executor.spin_some();
        std::this_thread::sleep_for(5ms);
      }
    });
  // It stops by itself once duration_s has passed, with status 0.
  EXPECT_EQ(exitStatus(demo, 20s), 0);
  done = true;
  spinner.join();

  // The node renders exactly what the in-process rig renders for the same frame number.
  nimbra_demo_scene::DemoRig::Params params;
  params.width = 160;
  params.height = 120;
  nimbra_demo_scene::DemoRig rig(params);
  std::lock_guard<std::mutex> lock(mutex);
  for (int c = 0; c < 2; ++c) {
    SCOPED_TRACE("camera " + std::to_string(c + 1));
    ASSERT_GE(depth_of[c].size(), 5U);
    const std::string frame_id = "camera_0" + std::to_string(c + 1) + "_depth_optical_frame";
    size_t paired = 0;
    for (const auto & [frame, depth] : depth_of[c]) {
      SCOPED_TRACE("frame " + std::to_string(frame));
      EXPECT_EQ(depth.encoding, "16UC1");
      EXPECT_EQ(depth.header.frame_id, frame_id);
      EXPECT_EQ(depth.step, 160U * 2);
      const auto & rendered = rig.render(frame, static_cast<size_t>(c));
      EXPECT_EQ(depth.data, rendered.depth_16uc1);
      const auto colour = colour_of[c].find(frame);
      const auto info = info_of[c].find(frame);
      if (colour == colour_of[c].end() || info == info_of[c].end()) {
        continue;
      }
      ++paired;
      EXPECT_EQ(colour->second.header.stamp, depth.header.stamp);
      EXPECT_EQ(colour->second.encoding, "rgb8");
      EXPECT_EQ(colour->second.data, rendered.rgb8);
      // camera_info: the rig's intrinsics, with the image's stamp.
      auto expected_info = nimbra_demo_scene::toCameraInfoMsg(rig.intrinsics(), frame_id);
      expected_info.header.stamp = depth.header.stamp;
      EXPECT_EQ(info->second, expected_info);
    }
    // Best effort on loopback loses nothing in practice; allow a frame or two at the edges.
    EXPECT_GE(paired + 2, depth_of[c].size());
    // Every frame has its own number: none is skipped between the first and the last seen.
    EXPECT_LE(depth_of[c].rbegin()->first - depth_of[c].begin()->first, depth_of[c].size() + 1);

    // TF (static mount, odom, base) finds the camera in the map at the last image's own stamp.
    EXPECT_NO_THROW(
      buffer.lookupTransform(
        "map", frame_id, rclcdds::Time(depth_of[c].rbegin()->second.header.stamp),
        rclcdds::Duration(std::chrono::seconds(1))));
  }
  context->shutdown("test done");

  // A parameter outside its range stops the start-up with status 1.
  const pid_t bad = startDemoScene({"cameras:=3"});
  ASSERT_GT(bad, 0);
  EXPECT_EQ(exitStatus(bad, 6s), 1);
}

}  // namespace
