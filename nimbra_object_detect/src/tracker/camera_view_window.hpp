// The part of a camera image in which the tracker expects a waste to be seen.
#pragma once

#include <Eigen/Geometry>

#include <string>

#include "tracker/tracker_camera_info.hpp"

namespace orvix
{
namespace perception
{

/// Centred window of one camera's image; tells whether a "map" point in front of the camera falls in it.
class CameraViewWindow
{
public:
  /**
   * @param camera a camera whose CheckCameraInfo() is empty.
   * @param sensor_range_rate centred fraction of each image side that forms the window, in [0, 1].
   */
  CameraViewWindow(const TrackerCameraInfo & camera, float sensor_range_rate);

  /// @brief Places the camera for a robot at `map_from_base` (pose of "base_footprint" in "map").
  void SetRobotPose(const Eigen::Isometry3d & map_from_base);

  /// @brief True when `p_map` lies in front of the camera (Z > 0) and projects into the window.
  bool Contains(const Eigen::Vector3d & p_map) const;

  /// @brief Empty when `camera` can be used, otherwise the reason it cannot.
  static std::string CheckCameraInfo(const TrackerCameraInfo & camera);

private:
  TrackerCameraInfo camera_;            ///< geometry and intrinsics
  Eigen::Isometry3d base_from_camera_;  ///< camera pose in "base_footprint"
  Eigen::Isometry3d camera_from_map_;   ///< "map" to camera frame for the current robot pose
  float u_min_;                         ///< window's first column [px]
  float u_end_;                         ///< one past the window's last column [px]
  float v_min_;                         ///< window's first row [px]
  float v_end_;                         ///< one past the window's last row [px]
};

}  // namespace perception
}  // namespace orvix
