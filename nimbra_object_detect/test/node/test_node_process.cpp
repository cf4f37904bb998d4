// The object_detect executable beside the demo scene, one scene for the whole program: start-up
// errors, what the cameras publish, the topic catalogue, live ground parameters, lifecycle, camera
// switches, missing camera_info or mounting, SIGINT, and a recorded bag replayed on bag time.
// Runs inside a private network namespace (DDS on loopback only).
#include <gtest/gtest.h>

#include <ament_index_cpp/get_package_prefix.hpp>
#include <ament_index_cpp/get_package_share_directory.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"

namespace
{

using rclcdds_test::ChildProcess;
using namespace std::chrono_literals;

std::string DemoScene()
{
  return ament_index_cpp::get_package_prefix("nimbra_demo_scene") +
         "/lib/nimbra_demo_scene/demo_scene";
}

std::string Cli()
{
  return ament_index_cpp::get_package_prefix("rclcdds") + "/lib/rclcdds/rclcdds_cli";
}

std::string DemoModel()
{
  return ament_index_cpp::get_package_share_directory("nimbra_object_detect") +
         "/config/demo_model.yaml";
}

/// Runs rclcdds_cli with `arguments` and returns what it printed (stdout and stderr).
std::string CliRun(const std::string & arguments)
{
  std::string text;
  std::unique_ptr<FILE, int (*)(FILE *)> pipe(
    popen((Cli() + " " + arguments + " 2>&1").c_str(), "r"), pclose);
  char buffer[4096];
  while (pipe && fgets(buffer, sizeof(buffer), pipe.get()) != nullptr) {
    text += buffer;
  }
  return text;
}

int CountOccurrences(const std::string & text, const std::string & needle)
{
  int count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

/// Polls until `text` appears in the child's output or `timeout` passes.
bool WaitForText(const ChildProcess & child, const std::string & text, std::chrono::milliseconds timeout)
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (child.output().find(text) != std::string::npos) {
      return true;
    }
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

/// Every topic of the catalogue with its type: the shared ones, then those of cameras 1 and 2.
std::vector<std::pair<std::string, std::string>> Catalogue()
{
  const std::string cloud = "sensor_msgs/msg/PointCloud2";
  const std::string image = "sensor_msgs/msg/Image";
  const std::string semantic = "nimbra_protocol/msg/SemanticPointCloud";
  std::vector<std::pair<std::string, std::string>> topics{
    {"/robot_event", "nimbra_protocol/msg/RobotEvent"},
    {"/detected_wastes", "nimbra_protocol/msg/DetectedWastes"},
    {"/trash_marker", "visualization_msgs/msg/MarkerArray"},
    {"/fsm_status", "nimbra_protocol/msg/TaskCenterFsmStatus"}};
  for (const std::string p : {"/cam1_", "/cam2_"}) {
    topics.insert(topics.end(), {
      {p + "data_status", "std_msgs/msg/Bool"}, {p + "base_cloud", cloud},
      {p + "obstacle_cloud", cloud}, {p + "ground_cloud", cloud}, {p + "cluster_cloud", cloud},
      {p + "detect_bbox_image", image}, {p + "cloud_bbox_image", image},
      {p + "detect_bbox_cloud", cloud}, {p + "class_cloud_info", cloud},
      {p + "no_remove_ground_cloud_info", cloud}, {p + "ori_static_obstacle_cloud", cloud},
      {p + "ori_dynamic_obstacle_cloud", cloud}, {p + "ori_coffee_obstacle_cloud", cloud},
      {p + "static_obstacle_cloud", semantic}, {p + "dynamic_obstacle_cloud", semantic},
      {p + "coffee_obstacle_cloud", semantic}, {p + "web_trash", "nimbra_protocol/msg/Trashes"},
      {p + "people_info", "nimbra_protocol/msg/ObjectList"},
      {p + "dangerous_ori_region_cloud", cloud}, {p + "lethal_region_cloud", cloud},
      {p + "dangerous_region_cloud", cloud}, {p + "lethal_region_sem_cloud", semantic},
      {p + "dangerous_region_sem_cloud", semantic}, {p + "dangerous_region_map_image_topic", image},
      {p + "dangerous_region_map_dilate_image_topic", image},
      {p + "lethal_region_map_dilate_image_topic", image}});
  }
  return topics;
}

/// object_detect with the demo model and the given extra arguments after --ros-args.
std::unique_ptr<ChildProcess> StartNode(const std::vector<std::string> & extra)
{
  std::vector<std::string> argv{OBJECT_DETECT_PATH, "--ros-args", "-p",
    "model_meta_file:=" + DemoModel()};
  argv.insert(argv.end(), extra.begin(), extra.end());
  return std::make_unique<ChildProcess>(argv);
}

/// Sends SIGINT and expects exit status 0 within 2 s; prints the time it took.
void ExpectCleanStop(ChildProcess & node, const char * when)
{
  const auto start = std::chrono::steady_clock::now();
  node.signal(SIGINT);
  const int status = node.wait(2s);
  const double seconds =
    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("[ figure ] SIGINT %s: exit status %d after %.3f s\n", when, status, seconds);
  EXPECT_EQ(status, 0) << node.output();
}

class NodeProcessTest : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    scene_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{DemoScene(), "--ros-args", "-p", "duration_s:=600.0"});
    ASSERT_TRUE(scene_->started());
  }

  static void TearDownTestSuite()
  {
    scene_->signal(SIGINT);
    scene_->wait(5s);
    scene_.reset();
  }

  static inline std::unique_ptr<ChildProcess> scene_;
};

TEST_F(NodeProcessTest, DemoModelNodeServesItsOutputsCatalogueParametersAndLifecycle)
{
  const auto start = std::chrono::steady_clock::now();
  auto node = StartNode({"-p", "model_height_file:=demo_model_height.yaml", "-p",
      "use_ai_thread:=true", "-p", "executors:=4", "-p",
      "trash_detection.trash_class_type:=[paper,bottle,paper_cup,mask]", "-p",
      "cam1_params.max_slope:=0.2", "-p", "cam1.max_slope:=0.2", "-p", "cam2_params.max_slope:=0.2"});
  ASSERT_TRUE(WaitForText(*node, "object_detect active", 30s)) << node->output();
  std::printf("[ figure ] start-up to active beside the running demo scene: %.3f s (goal 1.5 s)\n",
    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());

  // The whole catalogue is recorded for 8 s: every topic with its type, the main streams of each
  // camera at the frame rate, and no data_status alarm. The content of the clouds (floor,
  // obstacles, classes) is checked against the demo world's ground truth by nimbra_demo_report's
  // test_demo_accuracy, which runs this executable with these parameters.
  const std::map<std::string, int> least{{"base_cloud", 10}, {"ground_cloud", 10},
    {"obstacle_cloud", 10}, {"static_obstacle_cloud", 10}, {"coffee_obstacle_cloud", 10},
    {"detect_bbox_image", 5}, {"data_status", 0}};  // messages at least (0: none at all)
  const std::string bag = "/tmp/od_test_outputs_" + std::to_string(getpid());
  std::string recorded;
  for (const auto & [topic, type] : Catalogue()) {
    recorded += " " + topic;
  }
  CliRun("bag record -o " + bag + recorded + " --duration 8");
  const std::string info = CliRun("bag info " + bag);
  std::filesystem::remove_all(bag);
  std::printf("[ figure ] outputs recorded for 8 s:\n%s", info.c_str());
  for (const auto & [topic, type] : Catalogue()) {
    std::smatch count;
    const bool listed = std::regex_search(info, count,
        std::regex("Topic: " + topic + " \\| Type: " + type + R"( \| Count: (\d+))"));
    EXPECT_TRUE(listed) << topic << " [" << type << "]";
    const auto rule = least.find(topic.substr(topic.find('_') + 1));  // the name after /camN_
    if (listed && rule != least.end()) {
      const int messages = std::stoi(count[1]);
      EXPECT_TRUE(rule->second == 0 ? messages == 0 : messages >= rule->second)
        << topic << ": " << messages;
    }
  }

  // Live ground parameters: camera 1's run-time name is applied once, on its next frame.
  EXPECT_NE(CliRun("param set /object_detect cam1_params.max_slope 0.3").find("successful"),
    std::string::npos);
  ASSERT_TRUE(WaitForText(*node, "update a new RemoveGroundLineFit", 5s));
  // A start-up name and camera 2's untouched name change nothing; an integer is refused.
  EXPECT_NE(CliRun("param set /object_detect cam1.max_slope 0.4").find("successful"),
    std::string::npos);
  const std::string refused = CliRun("param set /object_detect cam1_params.max_slope 3");
  EXPECT_NE(refused.find("must be a double"), std::string::npos) << refused;
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(CountOccurrences(node->output(), "update a new RemoveGroundLineFit"), 1);
  EXPECT_EQ(CountOccurrences(node->output(),
    "dynamicParametersCallback get new param named cam1.max_slope"), 2);  // both cameras saw it

  // Outside lifecycle: inactive means silent; active again means frames flow again.
  EXPECT_NE(CliRun("lifecycle set /object_detect deactivate").find("successful"),
    std::string::npos);
  EXPECT_NE(CliRun("topic hz /cam1_base_cloud --duration 2").find("no new messages"),
    std::string::npos);
  EXPECT_NE(CliRun("lifecycle set /object_detect activate").find("successful"), std::string::npos);
  EXPECT_NE(CliRun("topic echo /cam1_base_cloud --once --timeout 10").find("frame_id: base_footprint"),
    std::string::npos);

  ExpectCleanStop(*node, "while running");
}

TEST_F(NodeProcessTest, StartupErrorsEndTheProcessWithOneLineNamingTheCause)
{
  // Type errors and a calibration without camera 2 read by the camera itself: CameraConfigTest.
  // Each row: the arguments (none at all, then executors as a string) and the cause named.
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
    {{OBJECT_DETECT_PATH}, "parameter 'model_meta_file'"},
    {{OBJECT_DETECT_PATH, "--ros-args", "-p", "model_meta_file:=" + DemoModel(), "-p",
      "executors:=four"}, "parameter 'executors' has invalid type"},
  };
  for (const auto & [argv, cause] : cases) {
    ChildProcess node(argv);
    EXPECT_EQ(node.wait(60s), 1) << cause << "\n" << node.output();  // an exit, not a crash
    const std::string out = node.output();
    EXPECT_TRUE(std::regex_search(out,
      std::regex(R"(\[ERROR\] object_detect start-up failed: .*)" + cause))) << out;
    EXPECT_EQ(CountOccurrences(out, "start-up failed"), 1) << cause;
  }
}

TEST_F(NodeProcessTest, CameraSwitchesMissingCameraInfoAndMissingMounting)
{
  // Camera 2 closed, camera 1 without trash detection and without camera_info within 10 s: one
  // 100700001 line, camera 1 still starts (zero intrinsics), camera 2 has no topic and no log.
  {
    const auto start = std::chrono::steady_clock::now();
    auto node = StartNode({"-p", "close_cam2:=true", "-p", "trash_detection.close_cam1:=true",
        "-p", "camera_1_camera_info:=/nobody/camera_info"});
    ASSERT_TRUE(WaitForText(*node, "object_detect active", 30s)) << node->output();
    const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[ figure ] start-up without camera_info: %.2f s\n", seconds);
    EXPECT_GE(seconds, 9.5);
    EXPECT_EQ(CountOccurrences(node->output(),
      "[ERROR] ErrorCode:100700001, camera param info initialize failed."), 1);
    const std::string topics = CliRun("topic list --settle 1.0");
    EXPECT_NE(topics.find("/cam1_base_cloud"), std::string::npos);
    EXPECT_EQ(topics.find("/cam2_"), std::string::npos);
    EXPECT_EQ(node->output().find("cam_2_debug"), std::string::npos);
    ExpectCleanStop(*node, "with camera 2 closed, after start-up without camera_info");
  }
  {
    auto node = StartNode({"-p", "cameras:=0"});
    ASSERT_TRUE(WaitForText(*node, "object_detect active with 0 camera(s)", 30s)) << node->output();
    EXPECT_NE(CliRun("lifecycle get /object_detect --settle 0.5").find("active [3]"),
      std::string::npos);
    EXPECT_EQ(CliRun("topic list --settle 1.0").find("/cam1_"), std::string::npos);
    ExpectCleanStop(*node, "without cameras");
  }
  // camera_info of a frame with no transform to base_footprint: the camera waits, retrying,
  // until the process is asked to stop.
  ChildProcess info({Cli(), "topic", "pub", "/od_test/camera_info", "sensor_msgs/msg/CameraInfo",
      "{header: {frame_id: nowhere}, width: 640, height: 480, k: [400.0, 0.0, 320.0, 0.0, 400.0, "
      "240.0, 0.0, 0.0, 1.0]}", "--rate", "10"});
  auto node = StartNode({"-p", "cameras:=1", "-p", "camera_1_camera_info:=/od_test/camera_info"});
  ASSERT_TRUE(WaitForText(*node, "Transform nowhere to base_footprint error", 30s))
    << node->output();
  ExpectCleanStop(*node, "while waiting for the camera mounting");
}

// A recording of the demo scene, replayed with /clock to a node on simulated time: the node works
// on bag time (nothing is dropped as stale) and its outputs carry stamps from inside the bag.
TEST(NodeBagReplayTest, ReplayedBagDrivesTheNodeOnBagTime)
{
  const std::string bag = "/tmp/od_test_bag_" + std::to_string(getpid());
  std::filesystem::remove_all(bag);
  {
    ChildProcess scene({DemoScene(), "--ros-args", "-p", "duration_s:=5.0", "-p", "cameras:=1"});
    std::this_thread::sleep_for(500ms);
    const std::string recorded = CliRun("bag record -o " + bag + " /camera_01/color/image_raw "
        "/camera_01/depth/image_raw /camera_01/depth/camera_info /tf /tf_static /fsm_status "
        "--duration 4");
    ASSERT_EQ(scene.wait(10s), 0) << recorded;
  }
  const std::string info = CliRun("bag info " + bag);
  std::smatch span;
  ASSERT_TRUE(std::regex_search(info, span,
    std::regex(R"(Start:.*\((\d+\.\d+)\)[\s\S]*End:.*\((\d+\.\d+)\))"))) << info;
  const double bag_start = std::stod(span[1]);
  const double bag_end = std::stod(span[2]);

  auto node = StartNode({"-p", "use_sim_time:=true", "-p", "cameras:=1"});
  std::this_thread::sleep_for(1s);
  ChildProcess player({Cli(), "bag", "play", bag, "--clock"});
  const std::string echoed = CliRun("topic echo /cam1_static_obstacle_cloud --once --timeout 10");
  std::smatch time;
  ASSERT_TRUE(std::regex_search(echoed, time, std::regex(R"(sec: (\d+)\s+nanosec: (\d+))")))
    << echoed;
  const double stamp = std::stod(time[1]) + std::stod(time[2]) * 1e-9;
  const double wall = std::chrono::duration<double>(
    std::chrono::system_clock::now().time_since_epoch()).count();
  std::printf("[ figure ] replay: output stamp %.3f s into a bag of %.3f s, %.1f s before now\n",
    stamp - bag_start, bag_end - bag_start, wall - stamp);
  EXPECT_GE(stamp, bag_start - 0.5);
  EXPECT_LE(stamp, bag_end + 0.5);
  EXPECT_GT(wall - stamp, 1.5);  // live frames this old would have been dropped as stale
  EXPECT_EQ(node->output().find("long time without update"), std::string::npos);
  player.wait(15s);
  ExpectCleanStop(*node, "on simulated time");
  std::filesystem::remove_all(bag);
}

}  // namespace
