#include "tracker/tracker_test_support.hpp"

#include <Eigen/Geometry>

#include <cmath>
#include <utility>

#include "common/semantic_type.hpp"

namespace orvix
{
namespace perception
{
namespace test
{

TrashTrackerConfig TestConfig()
{
  TrashTrackerConfig config;
  config.dist_thres = 0.25F;
  config.min_age_threshold = 3;
  config.max_retain_time = 2;
  config.cache_radius = 5.0F;
  config.sensor_range_rate = 0.8F;
  config.footprint_box = {{-0.5F, -0.25F, 0.5F, 0.25F}};
  config.base_handle_waste_height_metric = 0.05F;
  config.base_handle_waste_length_metric = 0.15F;
  config.base_handle_class = {semantic::PAPER};
  config.arm_handle_class = {semantic::BOTTLE};
  config.uncertain_class = {semantic::MASK, semantic::SWAB};
  config.class_num = 10;
  return config;
}

WasteObservation Observation(
  double x, double y, int32_t type, std::vector<float> size, float distance)
{
  WasteObservation observation;
  observation.x = x;
  observation.y = y;
  observation.z = 0.0;
  observation.type = type;
  observation.size = std::move(size);
  observation.distance = distance;
  return observation;
}

geometry_msgs::msg::Pose RobotPose(double x, double y, double yaw)
{
  geometry_msgs::msg::Pose pose;
  pose.position.x = x;
  pose.position.y = y;
  pose.orientation.z = std::sin(yaw / 2.0);
  pose.orientation.w = std::cos(yaw / 2.0);
  return pose;
}

TrackerCameraInfo HorizontalCamera(double x, bool forward)
{
  // Columns: the optical x, y, z axes expressed in the base frame.
  const double ahead = forward ? 1.0 : -1.0;
  Eigen::Matrix3d base_from_optical;
  base_from_optical.col(0) = Eigen::Vector3d(0.0, -ahead, 0.0);
  base_from_optical.col(1) = Eigen::Vector3d(0.0, 0.0, -1.0);
  base_from_optical.col(2) = Eigen::Vector3d(ahead, 0.0, 0.0);
  const Eigen::Quaterniond q(base_from_optical);
  TrackerCameraInfo camera;
  camera.tx = x;
  camera.ty = 0.0;
  camera.tz = kCameraHeight;
  camera.qx = q.x();
  camera.qy = q.y();
  camera.qz = q.z();
  camera.qw = q.w();
  camera.width = kImageWidth;
  camera.height = kImageHeight;
  camera.fx = kFocal;
  camera.fy = kFocal;
  camera.cx = kImageWidth / 2.0F;
  camera.cy = kImageHeight / 2.0F;
  return camera;
}

std::unique_ptr<TrashTracker> MakeTracker(
  const TrashTrackerConfig & config, std::shared_ptr<PublishedLog> log,
  std::shared_ptr<HungarianAlgorithm> solver)
{
  auto on_wastes = [log](const nimbra_protocol::msg::DetectedWastes & message) {
      log->order.push_back("detected_wastes");
      log->wastes.push_back(message);
    };
  auto on_markers = [log](const visualization_msgs::msg::MarkerArray & message) {
      log->order.push_back("trash_marker");
      log->markers.push_back(message);
    };
  return std::make_unique<TrashTracker>(config, on_wastes, on_markers, std::move(solver));
}

}  // namespace test
}  // namespace perception
}  // namespace orvix
