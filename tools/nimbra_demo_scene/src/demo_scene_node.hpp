// The "demo_scene" node: publishes what the robot's depth cameras, TF tree, velocity command and
// task centre would give the perception node, rendered from the demo corridor.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include <geometry_msgs/msg/twist.hpp>
#include <nimbra_protocol/msg/task_center_fsm_status.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/image.hpp>

#include "nimbra_demo_scene/camera_mount.hpp"
#include "nimbra_demo_scene/demo_world.hpp"
#include "nimbra_demo_scene/depth_renderer.hpp"
#include "rclcdds/node.hpp"
#include "rclcdds/tf2_ros/static_transform_broadcaster.hpp"
#include "rclcdds/tf2_ros/transform_broadcaster.hpp"
#include "rclcdds/timer.hpp"

namespace nimbra_demo_scene
{

/// Renders the demo corridor for cameras 1 and 2 at a fixed rate and publishes their images,
/// camera_info, the TF tree map -> odom -> base_footprint -> cameras, cmd_vel and fsm_status.
class DemoSceneNode : public rclcdds::Node
{
public:
  /// Declares and validates the parameters, sends the static transforms and starts the timers.
  /// @throws rclcdds::exceptions::InvalidParameterValueException for an out-of-range parameter,
  ///   InvalidParameterTypeException for a wrongly typed one
  explicit DemoSceneNode(const rclcdds::NodeOptions & options = rclcdds::NodeOptions());

  /// Frames published so far by camera `index` (0-based).
  uint64_t framesPublished(size_t index) const {return cameras_.at(index).frames;}

private:
  /// One camera: mount, renderer, reused messages and publishers.
  struct CameraChannel
  {
    CameraMount mount;
    std::unique_ptr<DepthRenderer> renderer;
    sensor_msgs::msg::Image depth;
    sensor_msgs::msg::Image colour;
    sensor_msgs::msg::CameraInfo info;
    rclcdds::Publisher<sensor_msgs::msg::Image>::SharedPtr depth_pub;
    rclcdds::Publisher<sensor_msgs::msg::Image>::SharedPtr colour_pub;
    rclcdds::Publisher<sensor_msgs::msg::CameraInfo>::SharedPtr info_pub;
    uint64_t frames{0};
  };

  /// Parameter values read once at start-up.
  struct Settings
  {
    double rate_hz{10.0};
    int64_t width{640};
    int64_t height{480};
    int64_t cameras{2};
    double duration_s{0.0};
    int64_t seed{42};
    double noise_m{0.005};
    double max_range_m{10.0};
    double start_s{0.0};
  };

  Settings declareParameters();
  void createCameras();
  void sendStaticTransforms();
  void publishFrame();
  void reportStatistics();

  Settings settings_;
  std::unique_ptr<DemoWorld> world_;
  std::vector<CameraChannel> cameras_;
  std::unique_ptr<rclcdds::tf2_ros::StaticTransformBroadcaster> static_broadcaster_;
  std::unique_ptr<rclcdds::tf2_ros::TransformBroadcaster> broadcaster_;
  rclcdds::Publisher<geometry_msgs::msg::Twist>::SharedPtr cmd_vel_pub_;
  rclcdds::Publisher<nimbra_protocol::msg::TaskCenterFsmStatus>::SharedPtr fsm_pub_;
  rclcdds::TimerBase::SharedPtr frame_timer_;
  rclcdds::TimerBase::SharedPtr report_timer_;

  uint64_t frame_index_{0};                            ///< frames rendered (all cameras)
  std::chrono::steady_clock::time_point started_;      ///< first frame
  double render_ms_sum_{0.0};                          ///< render time since the last report, ms
  double render_ms_max_{0.0};                          ///< slowest render since the report, ms
  uint64_t renders_since_report_{0};                   ///< camera frames since the report
};

}  // namespace nimbra_demo_scene
