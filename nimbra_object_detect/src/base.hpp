// The lifecycle node "object_detect": node-level parameters, the trash outputs and tracker, and
// one DepthCamera per enabled camera, switched on and off with the lifecycle.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nimbra_protocol/msg/detected_wastes.hpp>
#include <visualization_msgs/msg/marker_array.hpp>

#include "rclcdds/lifecycle_node.hpp"

namespace orvix
{
namespace perception
{
class TrashTracker;
}  // namespace perception
}  // namespace orvix

namespace nimbra
{

class DepthCamera;

/// Input topic names of one camera.
struct CameraTopics
{
  std::string camera_info_topic;  ///< one-shot camera_info at start-up
  std::string rgb_topic;          ///< colour images
  std::string depth_topic;        ///< depth images
};

/// The node: owns the cameras and the trash tracker, forwards activation to the cameras.
class Base : public rclcdds_lifecycle::LifecycleNode
{
public:
  /// @brief Creates the node "object_detect" and runs its configure transition.
  /// @throws std::runtime_error naming the parameter when configuration failed
  explicit Base(const rclcdds::NodeOptions & options = DefaultOptions());
  ~Base() override;

  /// Options of the node: parameters exist exactly when given (file or command line).
  static rclcdds::NodeOptions DefaultOptions();

  /// @brief Creates "detected_wastes", "trash_marker" and the tracker from config/tracker.yaml.
  /// @throws on an unreadable tracker file, naming it
  void createTrashOutputs();

  /// @brief Creates one camera per enabled camera number (each waits for its camera_info and
  /// mounting transform); stops early when the process is asked to stop.
  /// @throws on a camera's configuration error, naming the parameter or file
  void createCameras(const std::shared_ptr<Base> & self);

  int32_t executors() const { return executors_; }
  int32_t cameraCount() const { return camera_count_; }
  const std::vector<std::shared_ptr<DepthCamera>> & cameras() const { return cameras_; }
  const std::vector<CameraTopics> & cameraTopics() const { return camera_topics_; }

  CallbackReturn on_configure(const rclcdds_lifecycle::State & state) override;
  CallbackReturn on_cleanup(const rclcdds_lifecycle::State & state) override;
  CallbackReturn on_activate(const rclcdds_lifecycle::State & state) override;
  CallbackReturn on_deactivate(const rclcdds_lifecycle::State & state) override;

private:
  void setCamerasActive(bool active);

  std::vector<std::shared_ptr<DepthCamera>> cameras_;  ///< slot per camera number; empty when closed
  std::vector<CameraTopics> camera_topics_;            ///< per camera number, from on_configure
  int32_t executors_ = 1;                              ///< executor thread count
  int32_t camera_count_ = 2;                           ///< cameras numbered 1..camera_count_
  std::shared_ptr<rclcdds_lifecycle::LifecyclePublisher<nimbra_protocol::msg::DetectedWastes>>
  detected_wastes_pub_;
  std::shared_ptr<rclcdds_lifecycle::LifecyclePublisher<visualization_msgs::msg::MarkerArray>>
  trash_marker_pub_;
  std::shared_ptr<orvix::perception::TrashTracker> trash_tracker_;
  std::vector<bool> close_cam_;        ///< "close_cam<n>": camera n is not created
  std::vector<bool> trash_close_cam_;  ///< "trash_detection.close_cam<n>": no trash detection
  std::string configure_error_;        ///< why the last configure failed; empty when it did not
};

}  // namespace nimbra
