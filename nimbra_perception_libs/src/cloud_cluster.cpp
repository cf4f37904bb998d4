#include "nimbra_perception_libs/cloud_cluster.hpp"

#include <algorithm>
#include <cmath>

#include "grid_components.hpp"

namespace orvix
{
namespace perception
{
namespace
{

constexpr int kMaxRadius = 32;

CloudClusterPara sanitize(CloudClusterPara p)
{
  if (!std::isfinite(p.cluster_grid_step) || p.cluster_grid_step <= 0.0F) {
    p.cluster_grid_step = CloudClusterPara().cluster_grid_step;
  }
  p.cluster_grid_kernelSize = std::clamp(p.cluster_grid_kernelSize, 1, 2 * kMaxRadius + 1);
  p.cluster_grid_th = std::max(1, p.cluster_grid_th);
  return p;
}

}  // namespace

struct CloudCluster::Impl
{
  CloudClusterPara params;
  detail::GridComponents grid;
  std::vector<float> xs;
  std::vector<float> ys;
  std::vector<std::size_t> source_index;  ///< input index of each valid point
  std::vector<int> component;             ///< per valid point
  std::vector<int> component_size;
  std::vector<int> output_index;          ///< per component: cluster index or -1
  std::vector<int> point_cluster;         ///< per input point
  std::string error;
};

CloudCluster::CloudCluster(const CloudClusterPara & params)
: impl_(std::make_unique<Impl>())
{
  impl_->params = sanitize(params);
  impl_->grid.configure(
    impl_->params.cluster_grid_step, std::max(1, impl_->params.cluster_grid_kernelSize / 2));
}

CloudCluster::~CloudCluster() = default;

bool CloudCluster::obstacleCluster(
  const PointCloudXYZ::ConstPtr & cloud, int & count, std::vector<PointCloudXYZ::Ptr> & clusters)
{
  Impl & m = *impl_;
  clusters.clear();
  count = 0;
  if (!cloud) {
    m.error = "obstacleCluster: null input cloud";
    m.point_cluster.clear();
    return false;
  }
  m.error.clear();
  const std::size_t n = cloud->size();
  m.xs.clear();
  m.ys.clear();
  m.source_index.clear();
  for (std::size_t i = 0; i < n; ++i) {
    const pcl::PointXYZ & p = cloud->points[i];
    if (std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z)) {
      m.xs.push_back(p.x);
      m.ys.push_back(p.y);
      m.source_index.push_back(i);
    }
  }
  const int components = m.grid.label(m.xs.data(), m.ys.data(), m.xs.size(), m.component);
  m.component_size.assign(static_cast<std::size_t>(components), 0);
  for (int c : m.component) {
    ++m.component_size[static_cast<std::size_t>(c)];
  }
  // Components arrive ordered by their first point; keep that order for the survivors.
  m.output_index.assign(static_cast<std::size_t>(components), -1);
  for (int c = 0; c < components; ++c) {
    if (m.component_size[static_cast<std::size_t>(c)] >= m.params.cluster_grid_th) {
      m.output_index[static_cast<std::size_t>(c)] = count++;
      auto out = std::make_shared<PointCloudXYZ>();
      out->header = cloud->header;
      out->reserve(static_cast<std::size_t>(m.component_size[static_cast<std::size_t>(c)]));
      clusters.push_back(out);
    }
  }
  m.point_cluster.assign(n, -1);
  for (std::size_t k = 0; k < m.component.size(); ++k) {
    const int cluster = m.output_index[static_cast<std::size_t>(m.component[k])];
    if (cluster < 0) {
      continue;
    }
    const std::size_t i = m.source_index[k];
    m.point_cluster[i] = cluster;
    clusters[static_cast<std::size_t>(cluster)]->push_back(cloud->points[i]);
  }
  for (const PointCloudXYZ::Ptr & out : clusters) {
    out->width = static_cast<std::uint32_t>(out->size());
    out->height = 1;
    out->is_dense = true;
  }
  return true;
}

const std::vector<int> & CloudCluster::pointClusterIds() const {return impl_->point_cluster;}

const CloudClusterPara & CloudCluster::params() const {return impl_->params;}

const std::string & CloudCluster::lastError() const {return impl_->error;}

}  // namespace perception
}  // namespace orvix
