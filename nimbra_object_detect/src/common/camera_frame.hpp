// View extent of one camera in the base frame: its origin and four extreme points of the last cloud.
#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include <array>
#include <mutex>

namespace nimbra
{

/// Copy of a camera's view-extent record taken under its lock.
struct CameraFrameState
{
  float origin_x = 0.0F;  ///< camera position in the base frame, x, metres
  float origin_y = 0.0F;  ///< camera position in the base frame, y, metres
  float origin_z = 0.0F;  ///< camera position in the base frame, z, metres
  bool ready = false;     ///< false until the extremes were computed, and while they are recomputed
  /// Points (x, y, z, metres): smallest-angle, largest-angle, nearest, farthest.
  std::array<std::array<float, 3>, 4> extremes{};
};

/// View-extent record of one camera, shared between threads; every access takes its lock.
class CameraFrame
{
public:
  /// @brief A record for a camera at the given base-frame position (metres), not ready.
  CameraFrame(float origin_x, float origin_y, float origin_z);

  /// @brief Recomputes the extremes from a base-frame cloud: angles around the camera origin,
  /// continuous around the first point's bearing; distances from the base origin.
  ///
  /// An extreme keeps its previous point when no point of the cloud beats it (for the angles,
  /// when no point turns away from the first point's bearing). The record reads as not ready while
  /// the new extremes are computed.
  /// @return false, leaving the record unchanged, for an empty cloud
  bool update(const pcl::PointCloud<pcl::PointXYZ> & base_cloud);

  /// @brief A consistent copy of the record.
  CameraFrameState state() const;

private:
  mutable std::mutex mutex_;  ///< guards state_
  CameraFrameState state_;    ///< origin, ready flag and extremes
};

}  // namespace nimbra
