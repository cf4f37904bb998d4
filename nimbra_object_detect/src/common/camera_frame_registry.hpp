// Process-wide registry of the cameras' view-extent records.
#pragma once

#include <Eigen/Core>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "common/camera_frame.hpp"

namespace nimbra
{

/// View-extent records indexed by camera number, grown on demand, behind one mutex.
class CameraFrameRegistry
{
public:
  /// @brief The process-wide registry.
  static CameraFrameRegistry & instance();

  CameraFrameRegistry() = default;
  CameraFrameRegistry(const CameraFrameRegistry &) = delete;
  CameraFrameRegistry & operator=(const CameraFrameRegistry &) = delete;

  /// @brief The record of `camera`; null when the number is negative or has no record yet.
  std::shared_ptr<CameraFrame> find(int32_t camera) const;

  /// @brief The record of `camera`, created at the given base-frame origin (metres) when missing.
  /// @return null for a negative camera number
  std::shared_ptr<CameraFrame> obtain(int32_t camera, float origin_x, float origin_y, float origin_z);

  /// @brief Updates the record of `camera` from a base-frame cloud, creating it with the
  /// translation of `cam_to_base` as origin at the camera's first frame.
  /// @return false for a negative camera number or an empty cloud
  bool updateViewExtent(
    int32_t camera, const Eigen::Matrix4f & cam_to_base,
    const pcl::PointCloud<pcl::PointXYZ> & base_cloud);

private:
  mutable std::mutex mutex_;                         ///< guards records_
  std::vector<std::shared_ptr<CameraFrame>> records_;  ///< index = camera number
};

}  // namespace nimbra
