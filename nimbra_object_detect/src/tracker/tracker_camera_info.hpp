// Geometry of one trash-detecting camera, as the tracker needs it to tell what the robot can see.
#pragma once

#include <cstdint>

namespace orvix
{
namespace perception
{

/// A camera's pose in "base_footprint", its image size and its pinhole intrinsics.
struct TrackerCameraInfo
{
  double tx = 0.0;     ///< camera origin x in "base_footprint" [m]
  double ty = 0.0;     ///< camera origin y in "base_footprint" [m]
  double tz = 0.0;     ///< camera origin z in "base_footprint" [m]
  double qx = 0.0;     ///< rotation camera -> base, quaternion x [-]
  double qy = 0.0;     ///< rotation camera -> base, quaternion y [-]
  double qz = 0.0;     ///< rotation camera -> base, quaternion z [-]
  double qw = 1.0;     ///< rotation camera -> base, quaternion w [-]
  int32_t width = 0;   ///< depth image width [px]
  int32_t height = 0;  ///< depth image height [px]
  float fx = 0.0F;     ///< focal length along image x [px]
  float cx = 0.0F;     ///< principal point x [px]
  float fy = 0.0F;     ///< focal length along image y [px]
  float cy = 0.0F;     ///< principal point y [px]
};

}  // namespace perception
}  // namespace orvix
