// Starts the demo_scene executable and checks, over DDS, what a perception node would receive:
// registered depth and colour images with camera_info of the same size and stamp, each stamp
// carrying the number of the frame it shows, and the TF tree from the cameras to map.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/image.hpp>

#include "nimbra_demo_scene/frame_stamp.hpp"
#include "nimbra_demo_scene/ground_truth.hpp"
#include "rclcdds/rclcdds.hpp"
#include "rclcdds/tf2/buffer.hpp"
#include "rclcdds/tf2/exceptions.hpp"
#include "rclcdds/tf2_ros/transform_listener.hpp"

extern char ** environ;

using namespace std::chrono_literals;

namespace
{

/// A demo_scene process with `-p` parameters; killed if the test ends before it exits.
class DemoSceneProcess
{
public:
  explicit DemoSceneProcess(const std::vector<std::string> & parameters)
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
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
      pid_ = 0;
    }
  }

  ~DemoSceneProcess()
  {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  bool running() const {return pid_ > 0;}

  /// Waits up to `timeout` for the process to end: its exit status, 128 + signal, or -1 while
  /// it still runs.
  int wait(std::chrono::milliseconds timeout)
  {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) != pid_) {
      if (std::chrono::steady_clock::now() >= deadline) {
        return -1;
      }
      std::this_thread::sleep_for(20ms);
    }
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

private:
  pid_t pid_{0};
};

/// Frame number carried by a stamp (runs here are far shorter than 1000 frames).
uint64_t frameOf(const builtin_interfaces::msg::Time & stamp)
{
  return nimbra_demo_scene::frameFromStamp(stamp.sec + stamp.nanosec * 1e-9, 0.0);
}

/// What one camera's topics delivered, by frame number.
struct Received
{
  std::map<uint64_t, sensor_msgs::msg::Image> depth, colour;
  std::map<uint64_t, sensor_msgs::msg::CameraInfo> info;
};

TEST(DemoSceneProcess, PublishesTheRigsFramesNumberedInTheirStampsAndStopsAfterItsDuration)
{
  const std::vector<std::string> size{"width:=160", "height:=120"};
  DemoSceneProcess demo({size[0], size[1], "rate:=10.0", "duration_s:=3.0"});
  ASSERT_TRUE(demo.running());

  auto context = std::make_shared<rclcdds::Context>();
  context->init(0, nullptr);
  rclcdds::NodeOptions options;
  options.context(context);
  auto node = std::make_shared<rclcdds::Node>("demo_scene_probe", options);
  rclcdds::tf2_ros::Buffer buffer(node->get_clock());
  rclcdds::tf2_ros::TransformListener listener(buffer, node);
  std::mutex mutex;
  Received received[2];
  std::vector<rclcdds::SubscriptionBase::SharedPtr> subscriptions;
  for (int c = 0; c < 2; ++c) {
    const std::string topic = "/camera_0" + std::to_string(c + 1) + "/";
    Received & to = received[c];
    for (auto * images : {&to.depth, &to.colour}) {
      subscriptions.push_back(
        node->create_subscription<sensor_msgs::msg::Image>(
          topic + (images == &to.depth ? "depth" : "color") + "/image_raw",
          rclcdds::SensorDataQoS(), [&mutex, images](const sensor_msgs::msg::Image & image) {
            std::lock_guard<std::mutex> lock(mutex);
            (*images)[frameOf(image.header.stamp)] = image;
          }));
    }
    subscriptions.push_back(
      node->create_subscription<sensor_msgs::msg::CameraInfo>(
        topic + "depth/camera_info", rclcdds::QoS(10),
        [&mutex, &to](const sensor_msgs::msg::CameraInfo & info) {
          std::lock_guard<std::mutex> lock(mutex);
          to.info[frameOf(info.header.stamp)] = info;
        }));
  }
  rclcdds::executors::SingleThreadedExecutor executor(rclcdds::ExecutorOptions{context});
  executor.add_node(node);
  int status = -1;
  const auto give_up = std::chrono::steady_clock::now() + 20s;
  while (status == -1 && std::chrono::steady_clock::now() < give_up) {
    executor.spin_some();
    status = demo.wait(5ms);
  }
  // It stops by itself once duration_s has passed, with status 0.
  EXPECT_EQ(status, 0);

  // The node renders exactly what the in-process rig renders for the same frame number.
  nimbra_demo_scene::DemoRig::Params params;
  params.width = 160;
  params.height = 120;
  nimbra_demo_scene::DemoRig rig(params);
  std::lock_guard<std::mutex> lock(mutex);
  for (int c = 0; c < 2; ++c) {
    SCOPED_TRACE("camera " + std::to_string(c + 1));
    const Received & got = received[c];
    ASSERT_GE(got.depth.size(), 5U);
    const std::string frame_id = "camera_0" + std::to_string(c + 1) + "_depth_optical_frame";
    size_t paired = 0;
    for (const auto & [frame, depth] : got.depth) {
      SCOPED_TRACE("frame " + std::to_string(frame));
      EXPECT_EQ(depth.encoding, "16UC1");
      EXPECT_EQ(depth.header.frame_id, frame_id);
      EXPECT_EQ(depth.step, 160U * 2);
      const auto & rendered = rig.render(frame, static_cast<size_t>(c));
      EXPECT_EQ(depth.data, rendered.depth_16uc1);
      const auto colour = got.colour.find(frame);
      const auto info = got.info.find(frame);
      if (colour == got.colour.end() || info == got.info.end()) {
        continue;
      }
      ++paired;
      EXPECT_EQ(colour->second.header.stamp, depth.header.stamp);
      EXPECT_EQ(colour->second.encoding, "rgb8");
      EXPECT_EQ(colour->second.data, rendered.rgb8);
      EXPECT_EQ(info->second.header.stamp, depth.header.stamp);
      EXPECT_EQ(info->second.header.frame_id, frame_id);
      EXPECT_EQ(info->second.width, 160U);
      EXPECT_EQ(info->second.height, 120U);
    }
    // Best effort on loopback loses nothing in practice; allow a frame or two at the edges.
    EXPECT_GE(paired + 2, got.depth.size());
    // Consecutive frames: no frame number is skipped or repeated between the first and last.
    EXPECT_LE(got.depth.rbegin()->first - got.depth.begin()->first, got.depth.size() + 1);

    // TF: the static mount, and the camera in the map at the last image's own stamp.
    const auto & last = got.depth.rbegin()->second;
    geometry_msgs::msg::TransformStamped mount;
    ASSERT_NO_THROW(
      mount = buffer.lookupTransform(
        "base_footprint", frame_id, rclcdds::Time(0, 0, rclcdds::RCL_ROS_TIME),
        rclcdds::Duration(std::chrono::seconds(1))));
    EXPECT_NEAR(mount.transform.translation.z, c == 0 ? 0.6 : 0.35, 1e-9);
    EXPECT_NO_THROW(
      buffer.lookupTransform(
        "map", frame_id, rclcdds::Time(last.header.stamp),
        rclcdds::Duration(std::chrono::seconds(1))));
  }
  context->shutdown("test done");

  // A parameter outside its range stops the start-up with status 1.
  DemoSceneProcess bad({"cameras:=3"});
  ASSERT_TRUE(bad.running());
  EXPECT_EQ(bad.wait(6s), 1);
}

}  // namespace
