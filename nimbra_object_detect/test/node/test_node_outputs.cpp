// What object_detect publishes while the demo scene runs: debug clouds in base_footprint with the
// floor at z = 0 and obstacles above it, detection images, the semantic streams (an empty coffee
// group every frame), and no data_status alarm. Runs in the private network namespace.
#include <gtest/gtest.h>

#include <ament_index_cpp/get_package_prefix.hpp>
#include <ament_index_cpp/get_package_share_directory.hpp>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nimbra_protocol/msg/semantic_point_cloud.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <std_msgs/msg/bool.hpp>

#include "child_process.hpp"
#include "common/semantic_type.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/conversions/pcl_conversions.hpp"
#include "rclcdds/executors.hpp"
#include "rclcdds/node_topics.hpp"

namespace
{

using namespace std::chrono_literals;
using rclcdds_test::ChildProcess;

double Median(std::vector<float> values)
{
  if (values.empty()) {
    return 0.0;
  }
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

/// Everything one camera's outputs showed during the run.
struct CameraOutputs
{
  int base_clouds = 0;
  int ground_clouds = 0;
  int obstacle_clouds = 0;
  int detection_images = 0;
  int static_clouds = 0;
  int coffee_clouds = 0;
  int coffee_clusters = 0;
  int data_status = 0;
  std::vector<std::string> frame_ids;
  std::vector<float> ground_z;
  std::vector<float> obstacle_z;
  std::map<int32_t, int> static_classes;  ///< semantic type -> clusters seen
};

TEST(NodeOutputsTest, OutputsFollowTheScene)
{
  const std::string share = ament_index_cpp::get_package_share_directory("nimbra_object_detect");
  ChildProcess scene({ament_index_cpp::get_package_prefix("nimbra_demo_scene") +
      "/lib/nimbra_demo_scene/demo_scene", "--ros-args", "-p", "duration_s:=60.0"});
  ChildProcess node({OBJECT_DETECT_PATH, "--ros-args", "-p",
      "model_meta_file:=" + share + "/config/demo_model.yaml", "-p",
      "model_height_file:=demo_model_height.yaml", "-p", "use_ai_thread:=true", "-p",
      "executors:=4", "-p", "trash_detection.trash_class_type:=[paper,bottle,paper_cup,mask]"});

  rclcdds::init(0, nullptr);
  auto listener = std::make_shared<rclcdds::NodeTopics>("node_outputs_listener");
  std::mutex mutex;
  std::map<int, CameraOutputs> seen;
  std::vector<std::shared_ptr<void>> subscriptions;
  for (int n = 1; n <= 2; ++n) {
    const std::string p = "/cam" + std::to_string(n) + "_";
    auto cloud_cb = [&, n](const char * kind) {
        return [&, n, kind](const sensor_msgs::msg::PointCloud2 & msg) {
                 pcl::PointCloud<pcl::PointXYZ> cloud;
                 rclcdds::pcl_conversions::fromROSMsg(msg, cloud);
                 std::lock_guard<std::mutex> lock(mutex);
                 CameraOutputs & out = seen[n];
                 out.frame_ids.push_back(msg.header.frame_id);
                 const std::string which(kind);
                 (which == "base" ? out.base_clouds :
                 which == "ground" ? out.ground_clouds : out.obstacle_clouds)++;
                 auto & sink = which == "ground" ? out.ground_z : out.obstacle_z;
                 if (which != "base") {
                   for (const auto & point : cloud.points) {
                     sink.push_back(point.z);
                   }
                 }
               };
      };
    subscriptions.push_back(listener->create_subscription<sensor_msgs::msg::PointCloud2>(
        p + "base_cloud", rclcdds::QoS(5), cloud_cb("base")));
    subscriptions.push_back(listener->create_subscription<sensor_msgs::msg::PointCloud2>(
        p + "ground_cloud", rclcdds::QoS(5), cloud_cb("ground")));
    subscriptions.push_back(listener->create_subscription<sensor_msgs::msg::PointCloud2>(
        p + "obstacle_cloud", rclcdds::QoS(5), cloud_cb("obstacle")));
    subscriptions.push_back(listener->create_subscription<sensor_msgs::msg::Image>(
        p + "detect_bbox_image", rclcdds::QoS(5),
        [&, n](const sensor_msgs::msg::Image & msg) {
          std::lock_guard<std::mutex> lock(mutex);
          seen[n].detection_images += msg.encoding == "rgb8" && !msg.data.empty() ? 1 : 0;
        }));
    subscriptions.push_back(listener->create_subscription<nimbra_protocol::msg::SemanticPointCloud>(
        p + "static_obstacle_cloud", rclcdds::QoS(5),
        [&, n](const nimbra_protocol::msg::SemanticPointCloud & msg) {
          std::lock_guard<std::mutex> lock(mutex);
          CameraOutputs & out = seen[n];
          ++out.static_clouds;
          out.frame_ids.push_back(msg.header.frame_id);
          for (const auto & cluster : msg.clusters) {
            ++out.static_classes[cluster.semantic_type];
          }
        }));
    subscriptions.push_back(listener->create_subscription<nimbra_protocol::msg::SemanticPointCloud>(
        p + "coffee_obstacle_cloud", rclcdds::QoS(5),
        [&, n](const nimbra_protocol::msg::SemanticPointCloud & msg) {
          std::lock_guard<std::mutex> lock(mutex);
          ++seen[n].coffee_clouds;
          seen[n].coffee_clusters += static_cast<int>(msg.clusters.size());
        }));
    subscriptions.push_back(listener->create_subscription<std_msgs::msg::Bool>(
        p + "data_status", rclcdds::QoS(5),
        [&, n](const std_msgs::msg::Bool &) {
          std::lock_guard<std::mutex> lock(mutex);
          ++seen[n].data_status;
        }));
  }
  rclcdds::executors::SingleThreadedExecutor executor;
  executor.add_node(listener);
  const auto deadline = std::chrono::steady_clock::now() + 16s;
  while (std::chrono::steady_clock::now() < deadline) {
    executor.spin_some(100ms);
  }
  node.signal(SIGINT);
  EXPECT_EQ(node.wait(3s), 0) << node.output();
  scene.signal(SIGINT);
  scene.wait(3s);

  std::lock_guard<std::mutex> lock(mutex);
  for (int n = 1; n <= 2; ++n) {
    const CameraOutputs & out = seen[n];
    std::printf("[ figure ] cam%d: %d base, %d ground, %d obstacle clouds, %d detection images, "
      "%d static clouds; ground median z %.3f m, obstacle median z %.3f m\n", n, out.base_clouds,
      out.ground_clouds, out.obstacle_clouds, out.detection_images, out.static_clouds,
      Median(out.ground_z), Median(out.obstacle_z));
    for (const auto & [type, count] : out.static_classes) {
      std::printf("[ figure ] cam%d static %s: %d clusters\n", n,
        semantic::SemanticTypeName(type).c_str(), count);
    }
    EXPECT_GE(out.base_clouds, 10) << "cam" << n;
    EXPECT_GE(out.ground_clouds, 10) << "cam" << n;
    EXPECT_GE(out.obstacle_clouds, 10) << "cam" << n;
    EXPECT_GE(out.detection_images, 5) << "cam" << n;
    EXPECT_GE(out.static_clouds, 10) << "cam" << n;
    EXPECT_TRUE(std::all_of(out.frame_ids.begin(), out.frame_ids.end(),
      [](const std::string & id) {return id == "base_footprint";}));
    EXPECT_LT(std::abs(Median(out.ground_z)), 0.03) << "cam" << n;
    EXPECT_GT(Median(out.obstacle_z), 0.05) << "cam" << n;
    EXPECT_GE(out.coffee_clouds, 10) << "cam" << n;
    EXPECT_EQ(out.coffee_clusters, 0) << "cam" << n;
    EXPECT_EQ(out.data_status, 0) << "cam" << n;
  }
  // The demo model names the furniture that camera 1 passes.
  const auto & classes = seen[1].static_classes;
  const int furniture = (classes.count(semantic::CHAIR) ? classes.at(semantic::CHAIR) : 0) +
    (classes.count(semantic::WHEELCHAIR) ? classes.at(semantic::WHEELCHAIR) : 0) +
    (classes.count(semantic::HOSPITAL_BED) ? classes.at(semantic::HOSPITAL_BED) : 0) +
    (classes.count(semantic::WAITING_BENCH) ? classes.at(semantic::WAITING_BENCH) : 0);
  EXPECT_GT(furniture, 0);
  executor.remove_node(listener);
  subscriptions.clear();
  listener.reset();
  rclcdds::shutdown();
}

}  // namespace
