// Obstacle clustering on a 2D occupancy grid.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "nimbra_perception_libs/cloud_types.hpp"
#include "nimbra_perception_libs/ground_removal_params.hpp"

namespace orvix
{
namespace perception
{

/// Groups points whose x-y grid cells are connected within a square neighbourhood.
class CloudCluster
{
public:
  /// Keeps a copy of the parameters; a step <= 0 or non-finite becomes 0.05 m, the kernel is limited to
  /// [1, 65] and the threshold to at least 1.
  explicit CloudCluster(const CloudClusterPara & params);
  ~CloudCluster();

  CloudCluster(const CloudCluster &) = delete;
  CloudCluster & operator=(const CloudCluster &) = delete;

  /// Clusters `cloud` (NaN/inf points ignored). `clusters` is replaced by one cloud per cluster of at
  /// least cluster_grid_th points, ordered by the input index of each cluster's first point; points keep
  /// their input order. `count` is set to clusters.size(). A null cloud gives no cluster.
  /// @return false for a null cloud (reason in lastError()), true otherwise
  bool obstacleCluster(
    const PointCloudXYZ::ConstPtr & cloud, int & count, std::vector<PointCloudXYZ::Ptr> & clusters);

  /// Cluster index of every input point of the last call (-1: noise or invalid), in input order.
  const std::vector<int> & pointClusterIds() const;

  /// Parameters in use, after clamping.
  const CloudClusterPara & params() const;

  /// Reason of the last false result; empty after a success.
  const std::string & lastError() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;  ///< grid and component buffers, reused from call to call
};

}  // namespace perception
}  // namespace orvix
