// Detection of moving obstacle points from a short history of depth images and odometry poses.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <Eigen/Core>
#include <geometry_msgs/msg/pose.hpp>
#include <opencv2/core.hpp>

#include "nimbra_perception_libs/cloud_types.hpp"
#include "nimbra_perception_libs/dynamic_detector_params.hpp"

namespace orvix
{
namespace perception
{

/// Flags the points of moving obstacles: places an earlier depth frame looked through (free then, occupied
/// now), places the current frame sees through that were occupied, and steady object paths are evidence;
/// objects with evidence move as a whole and are followed. Works while the robot moves: earlier frames
/// are compared in the odometry frame.
class DynamicCloudDetector
{
public:
  /// Loads the configuration file ("dynamic_cloud_detector.yaml" format, see README).
  /// @throws ConfigError naming the file and key when the file is missing or malformed
  explicit DynamicCloudDetector(const std::string & config_path);
  /// @throws ConfigError when a field is out of range
  explicit DynamicCloudDetector(const DynamicDetectorParams & params);
  ~DynamicCloudDetector();

  DynamicCloudDetector(const DynamicCloudDetector &) = delete;
  DynamicCloudDetector & operator=(const DynamicCloudDetector &) = delete;

  /// Pinhole intrinsics of the depth image, pixels. Non-positive or non-finite focal lengths disable Update.
  void SetCameraInfo(float fx, float fy, float cx, float cy);

  /// Base-to-camera transform (maps base-frame points into the camera optical frame: z forward).
  void SetTf(const Eigen::Matrix4f & base_to_cam);

  /// Labels the points of `cloud` (base frame) against the stored frames, then stores `depth`
  /// (CV_32FC1, metres; 0, NaN or inf mean no reading) with `pose` (base in the odometry frame).
  /// Sets ready_ when at least one earlier frame was compared.
  /// @return false, with the reason in lastError() and the state unchanged, for a null cloud, a missing
  ///   camera info, an empty or non-CV_32FC1 depth image, or a non-finite or non-normalisable pose
  bool Update(
    const PointCloudXYZ::ConstPtr & cloud, const cv::Mat & depth, const geometry_msgs::msg::Pose & pose);

  /// Splits `in` (base frame) by the last Update: moving points go to `moving`, still points to `still`
  /// (both cleared first). A point not seen by the last Update (other pixel or depth) counts as still.
  /// @return false when no result is available (all points then go to `still`)
  bool DivideCloud(const PointCloudXYZ & in, PointCloudXYZ & moving, PointCloudXYZ & still) const;
  /// Same for shared clouds; false also for a null argument (outputs untouched then).
  bool DivideCloud(
    const PointCloudXYZ::ConstPtr & in, const PointCloudXYZ::Ptr & moving,
    const PointCloudXYZ::Ptr & still) const;

  /// Forgets every stored frame and the last result; clears ready_.
  void Reset();

  /// Moving flag (1) of every point of the last Update's cloud, in input order.
  const std::vector<std::uint8_t> & movingFlags() const;

  /// Configuration in use.
  const DynamicDetectorParams & params() const;

  /// Reason of the last false result of Update; empty after a success.
  const std::string & lastError() const;

  /// Ready flag: set by Update when a result exists; the caller reads and clears it every frame.
  bool ready_ = false;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;  ///< depth history and label buffers, allocated once per image size
};

}  // namespace perception
}  // namespace orvix
