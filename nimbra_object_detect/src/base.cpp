#include "base.hpp"

#include <stdexcept>

#include "camera/camera_config.hpp"
#include "camera/depth_camera.hpp"
#include "common/logger.hpp"
#include "rclcdds/context.hpp"
#include "tracker/trash_tracker.hpp"

namespace nimbra
{

namespace
{

template<typename T>
T ReadOr(const rclcdds::Node & node, const std::string & name, const T & fallback)
{
  T value = fallback;
  if (!node.get_parameter(name, value)) {
    value = fallback;
  }
  return value;
}

/// "/camera_0" + n + "/" + suffix: the default input topics (n written without leading zeros).
std::string DefaultCameraTopic(int32_t n, const char * suffix)
{
  return "/camera_0" + std::to_string(n) + "/" + suffix;
}

}  // namespace

rclcdds::NodeOptions Base::DefaultOptions()
{
  rclcdds::NodeOptions options;
  options.automatically_declare_parameters_from_overrides(true);
  return options;
}

Base::Base(const rclcdds::NodeOptions & options)
: LifecycleNode("object_detect", options, true)
{
  configure();
  if (!configure_error_.empty()) {
    throw std::runtime_error(configure_error_);
  }
}

Base::~Base()
{
  // Cameras stop and join their workers here, before the node's entities go away.
  cameras_.clear();
}

Base::CallbackReturn Base::on_configure(const rclcdds_lifecycle::State &)
{
  configure_error_.clear();
  try {
    executors_ = static_cast<int32_t>(ReadOr<int64_t>(*this, "executors", 1));
    camera_count_ = static_cast<int32_t>(ReadOr<int64_t>(*this, "cameras", 2));
    if (camera_count_ < 1) {
      return CallbackReturn::SUCCESS;
    }
    // A second configure rebuilds the lists instead of appending a second set behind the first.
    close_cam_.clear();
    trash_close_cam_.clear();
    camera_topics_.clear();
    for (int32_t n = 1; n <= camera_count_; ++n) {
      const std::string number = std::to_string(n);
      close_cam_.push_back(ReadOr<bool>(*this, "close_cam" + number, false));
      trash_close_cam_.push_back(ReadOr<bool>(*this, "trash_detection.close_cam" + number, false));
    }
    for (int32_t n = 1; n <= camera_count_; ++n) {
      const std::string prefix = "camera_" + std::to_string(n);
      CameraTopics topics;
      topics.camera_info_topic = ReadOr<std::string>(
        *this, prefix + "_camera_info", DefaultCameraTopic(n, "depth/camera_info"));
      topics.rgb_topic = ReadOr<std::string>(
        *this, prefix + "_camera_rgb", DefaultCameraTopic(n, "color/image_raw"));
      topics.depth_topic = ReadOr<std::string>(
        *this, prefix + "_camera_depth", DefaultCameraTopic(n, "depth/image_raw"));
      camera_topics_.push_back(topics);
    }
  } catch (const std::exception & e) {
    configure_error_ = e.what();
    throw;
  }
  return CallbackReturn::SUCCESS;
}

Base::CallbackReturn Base::on_cleanup(const rclcdds_lifecycle::State &)
{
  return CallbackReturn::SUCCESS;
}

Base::CallbackReturn Base::on_activate(const rclcdds_lifecycle::State &)
{
  setCamerasActive(true);
  return CallbackReturn::SUCCESS;
}

Base::CallbackReturn Base::on_deactivate(const rclcdds_lifecycle::State &)
{
  setCamerasActive(false);
  return CallbackReturn::SUCCESS;
}

void Base::setCamerasActive(bool active)
{
  // Cameras not created (closed, or start-up stopped early) simply have no slot to switch.
  for (const auto & camera : cameras_) {
    if (camera) {
      camera->activated_.store(active, std::memory_order_release);
    }
  }
}

void Base::createTrashOutputs()
{
  detected_wastes_pub_ =
    create_publisher<nimbra_protocol::msg::DetectedWastes>("detected_wastes", rclcdds::QoS(1));
  trash_marker_pub_ =
    create_publisher<visualization_msgs::msg::MarkerArray>("trash_marker", rclcdds::QoS(1));
  auto wastes = detected_wastes_pub_;
  auto markers = trash_marker_pub_;
  trash_tracker_ = std::make_shared<orvix::perception::TrashTracker>(
    PackageConfigPath("tracker.yaml"),
    [wastes](const nimbra_protocol::msg::DetectedWastes & msg) {wastes->publish(msg);},
    [markers](const visualization_msgs::msg::MarkerArray & msg) {markers->publish(msg);});
}

void Base::createCameras(const std::shared_ptr<Base> & self)
{
  for (int32_t i = 0; i < camera_count_ && rclcdds::ok(); ++i) {
    const int32_t n = i + 1;
    if (static_cast<std::size_t>(i) < close_cam_.size() && close_cam_[i]) {
      cameras_.push_back(nullptr);
      continue;
    }
    const CameraTopics & topics = camera_topics_.at(i);
    const auto tracker = trash_close_cam_.at(i) ? nullptr : trash_tracker_;
    cameras_.push_back(std::make_shared<DepthCamera>(
        self, n, topics.depth_topic, topics.rgb_topic, topics.camera_info_topic, tracker));
  }
}

}  // namespace nimbra
