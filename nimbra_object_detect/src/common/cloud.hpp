// Per-camera cloud context: parameter copy, clusterer, ground remover, and mask labelling of clusters.
#pragma once

#include <Eigen/Core>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "common/ai_result.hpp"
#include "common/camera_intrinsics.hpp"
#include "common/class_cloud_info.hpp"
#include "common/cloud_config.hpp"

namespace orvix::perception
{
class CloudCluster;
class RemoveGroundLineFit;
}  // namespace orvix::perception

namespace nimbra
{

/// Cloud-processing context of one camera; labels obstacle clusters with detection masks.
/// Holds reusable image buffers, so one instance serves one thread at a time.
class Cloud
{
public:
  using PointCloud = pcl::PointCloud<pcl::PointXYZ>;

  /// @brief Keeps a copy of `config` and shares the clusterer and the ground remover.
  Cloud(
    const CloudConfig & config, std::shared_ptr<orvix::perception::CloudCluster> cluster,
    std::shared_ptr<orvix::perception::RemoveGroundLineFit> ground_remover);
  ~Cloud();

  Cloud(const Cloud &) = delete;
  Cloud & operator=(const Cloud &) = delete;

  /// @brief The parameter copy taken at construction.
  const CloudConfig & config() const { return config_; }

  /// @brief The obstacle clusterer (may be null when none was given).
  const std::shared_ptr<orvix::perception::CloudCluster> & cluster() const { return cluster_; }

  /// @brief The current ground remover (may be null when none was given).
  const std::shared_ptr<orvix::perception::RemoveGroundLineFit> & groundRemover() const
  {
    return ground_remover_;
  }

  /// @brief Replaces the ground remover; the old one lives on while others hold it.
  void setGroundRemover(std::shared_ptr<orvix::perception::RemoveGroundLineFit> ground_remover);

  /// @brief Labels every non-empty base-frame cluster with the frame's detections and merges the
  /// pieces of each detection.
  ///
  /// Pieces of one detection whose centroid x lies within `cloud_x_merge_distance` of the largest
  /// piece join it; that piece represents the detection (`has_detection` true), farther pieces
  /// become unmatched. `class_cloud_info` is replaced by the merged pieces, in detection order,
  /// followed by the unmatched ones. Null or empty clusters are skipped.
  /// @param intrinsics  pinhole intrinsics of the depth image
  /// @param base_to_camera  transform from the base frame to the camera's optical frame
  /// @param width, height  depth image size, pixels; the detection masks may be of another size
  void cloudDynamicStaticSplit(
    const std::vector<PointCloud::Ptr> & clusters, const AiResult & ai_result,
    const CameraIntrinsics & intrinsics, const Eigen::Matrix4f & base_to_camera, int32_t width,
    int32_t height, std::vector<ClassCloudInfo> & class_cloud_info);

  /// @brief Matches one cluster against the detections whose `used` flag is false, splitting it
  /// by the first detection whose dilated mask covers more than `mask_iou_max` of the cluster's
  /// projection; the remainder is matched again against the other detections.
  ///
  /// Matched pieces are appended to `bbox_cloud_info[detection index]`, the unmatched cluster
  /// or remainder to `other_cloud_info`. `camera_cloud` and `base_cloud` hold the same points,
  /// in the same order, in the camera and base frames.
  /// @param used  one flag per detection; set for every detection that matched
  /// @param bbox_cloud_info  one list per detection; grown to the detection count when shorter
  void cloudAssginLabel(
    const AiResult & ai_result, std::vector<bool> & used, const PointCloud & camera_cloud,
    const PointCloud & base_cloud, const CameraIntrinsics & intrinsics, int32_t width,
    int32_t height, std::vector<std::vector<ClassCloudInfo>> & bbox_cloud_info,
    std::vector<ClassCloudInfo> & other_cloud_info);

private:
  struct Workspace;

  /// Dilates the detection masks of the frame once and fixes the frame labelling compares in.
  void prepareDetections(const AiResult & ai_result, int32_t width, int32_t height);

  /// One level of the labelling recursion; `level` selects the remainder buffers.
  void assignLabel(
    std::size_t level, const AiResult & ai_result, std::vector<bool> & used,
    const PointCloud & camera_cloud, const PointCloud & base_cloud,
    const CameraIntrinsics & intrinsics, int32_t width, int32_t height,
    std::vector<std::vector<ClassCloudInfo>> & bbox_cloud_info,
    std::vector<ClassCloudInfo> & other_cloud_info);

  /// Projects the non-zero points of `camera_cloud` into the labelling frame.
  void projectCluster(
    const PointCloud & camera_cloud, const CameraIntrinsics & intrinsics, int32_t width,
    int32_t height);

  /// Share of the projected cluster covered by detection `index`'s dilated mask.
  float clusterCoverage(std::size_t index) const;

  /// Merges the pieces of every detection into `merged` (see cloudDynamicStaticSplit).
  void mergeDetectionPieces(
    std::vector<std::vector<ClassCloudInfo>> & bbox_cloud_info,
    std::vector<ClassCloudInfo> & merged) const;

  CloudConfig config_;                                                     ///< parameter copy
  std::shared_ptr<orvix::perception::CloudCluster> cluster_;               ///< obstacle clusterer
  std::shared_ptr<orvix::perception::RemoveGroundLineFit> ground_remover_; ///< ground remover
  std::unique_ptr<Workspace> workspace_;  ///< masks and point buffers reused from frame to frame
};

}  // namespace nimbra
