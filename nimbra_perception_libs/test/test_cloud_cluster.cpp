#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <utility>
#include <limits>
#include <random>

#include "nimbra_perception_libs/cloud_cluster.hpp"

namespace orvix
{
namespace perception
{
namespace
{

// Points filling the box [x0, x1] x [y0, y1] x [0.05, h] at 2 cm spacing, jittered by 2 mm.
void addBox(PointCloudXYZ & cloud, float x0, float y0, float x1, float y1, float h, std::mt19937 & rng)
{
  std::uniform_real_distribution<float> jitter(-0.002F, 0.002F);
  const float spacing = 0.02F;
  const int nx = static_cast<int>(std::lround((x1 - x0) / spacing));
  const int ny = static_cast<int>(std::lround((y1 - y0) / spacing));
  const int nz = static_cast<int>(std::lround((h - 0.05F) / spacing));
  for (int ix = 0; ix <= nx; ++ix) {
    for (int iy = 0; iy <= ny; ++iy) {
      for (int iz = 0; iz <= nz; ++iz) {
        cloud.push_back(pcl::PointXYZ(
            x0 + ix * spacing + jitter(rng), y0 + iy * spacing + jitter(rng), 0.05F + iz * spacing));
      }
    }
  }
}

// Clusters `cloud` and checks the result against the per-point ids: cluster k holds exactly the
// points with id k, in input order, as a 1-row cloud. Returns each cluster's size and first x.
std::vector<std::pair<std::size_t, float>> clusterCloud(
  CloudCluster & clusterer, const PointCloudXYZ::Ptr & cloud)
{
  int count = -1;
  std::vector<PointCloudXYZ::Ptr> clusters;
  EXPECT_TRUE(clusterer.obstacleCluster(cloud, count, clusters)) << clusterer.lastError();
  EXPECT_EQ(static_cast<std::size_t>(count), clusters.size());
  const std::vector<int> & ids = clusterer.pointClusterIds();
  EXPECT_EQ(ids.size(), cloud->size());
  std::vector<std::vector<float>> expected(clusters.size()), actual(clusters.size());
  std::vector<std::pair<std::size_t, float>> summary;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (ids[i] >= 0) {
      expected.at(static_cast<std::size_t>(ids[i])).push_back((*cloud)[i].x + 7.0F * (*cloud)[i].y);
    }
  }
  for (std::size_t k = 0; k < clusters.size(); ++k) {
    for (const pcl::PointXYZ & p : *clusters[k]) {
      actual[k].push_back(p.x + 7.0F * p.y);
    }
    EXPECT_EQ(clusters[k]->width * clusters[k]->height, clusters[k]->size());
    summary.emplace_back(clusters[k]->size(), clusters[k]->front().x);
  }
  EXPECT_EQ(actual, expected);
  return summary;
}

TEST(CloudCluster, SeparatedBoxesSplitTouchingBoxesMerge)
{
  // Grid step 5 cm; the first box ends at y = 0.32 (cell 6). Kernel 3 joins cells one apart, kernel 5
  // cells two apart.
  struct Case
  {
    const char * name;
    float gap;     ///< distance between the two boxes, m
    int kernel;    ///< cluster_grid_kernelSize
    std::size_t expected;  ///< clusters
  };
  const Case cases[] = {
    {"far apart, kernel 3", 0.40F, 3, 2},
    {"15 cm apart (cell 9), kernel 3", 0.15F, 3, 2},
    {"12 cm apart (cell 8), kernel 3", 0.12F, 3, 2},
    {"touching, kernel 3", 0.0F, 3, 1},
    {"2 cm apart (cell 6), kernel 3", 0.02F, 3, 1},
    {"12 cm apart (cell 8), kernel 5", 0.12F, 5, 1},
    {"25 cm apart (cell 11), kernel 5", 0.25F, 5, 2},
    {"15 cm apart (cell 9), kernel 5", 0.15F, 5, 2},
    {"12 cm apart (cell 8), kernel 1", 0.12F, 1, 2},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(7);
    auto cloud = std::make_shared<PointCloudXYZ>();
    addBox(*cloud, 1.0F, 0.0F, 1.3F, 0.32F, 0.3F, rng);
    addBox(*cloud, 1.0F, 0.32F + c.gap, 1.3F, 0.62F + c.gap, 0.2F, rng);
    CloudCluster clusterer(CloudClusterPara{0.05F, c.kernel, 10});
    EXPECT_EQ(clusterCloud(clusterer, cloud).size(), c.expected);
    EXPECT_EQ(std::count(clusterer.pointClusterIds().begin(), clusterer.pointClusterIds().end(), -1), 0);
  }
}

// Clusters come in the order of their first input point, the same on every call; speckles below
// the threshold and invalid points belong to no cluster; kilometres at 5 cm cells exceed the dense
// grid.
TEST(CloudCluster, OrderThresholdInvalidPointsAndTheSparseGrid)
{
  std::mt19937 rng(3);
  auto noisy = std::make_shared<PointCloudXYZ>();
  addBox(*noisy, 1.0F, 0.0F, 1.3F, 0.3F, 0.3F, rng);
  const std::pair<std::size_t, float> box(noisy->size(), noisy->front().x);
  for (int i = 0; i < 30; ++i) {  // speckles 30 cm apart, one or two points each
    const float x = -1.0F - 0.3F * static_cast<float>(i % 6), y = -1.0F - 0.3F * static_cast<float>(i / 6);
    noisy->push_back(pcl::PointXYZ(x, y, 0.2F));
    if (i % 2 == 0) {
      noisy->push_back(pcl::PointXYZ(x + 0.005F, y, 0.25F));
    }
  }
  auto interleaved = std::make_shared<PointCloudXYZ>();
  auto far_apart = std::make_shared<PointCloudXYZ>();
  auto invalid = std::make_shared<PointCloudXYZ>();
  invalid->push_back(pcl::PointXYZ(std::numeric_limits<float>::quiet_NaN(), 0.0F, 0.0F));
  invalid->push_back(pcl::PointXYZ(1.0F, std::numeric_limits<float>::infinity(), 0.0F));
  for (int i = 0; i < 20; ++i) {
    interleaved->push_back(pcl::PointXYZ(3.0F + 0.01F * i, 0.0F, 0.1F));
    interleaved->push_back(pcl::PointXYZ(1.0F + 0.01F * i, 0.0F, 0.1F));
    far_apart->push_back(pcl::PointXYZ(0.01F * (i % 10) + 5000.0F * (i / 10), -3000.0F * (i / 10), 0.1F));
    invalid->push_back(pcl::PointXYZ(1.0F, 1.0F + 0.01F * (i % 5), 0.2F * (i / 5)));
  }
  using Summary = std::vector<std::pair<std::size_t, float>>;
  CloudCluster clusterer(CloudClusterPara{0.05F, 3, 5});
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(clusterCloud(clusterer, noisy), Summary{box});
    EXPECT_EQ(clusterCloud(clusterer, interleaved), (Summary{{20, 3.0F}, {20, 1.0F}}));
    EXPECT_EQ(clusterCloud(clusterer, far_apart), (Summary{{10, 0.0F}, {10, 5000.0F}}));
    EXPECT_EQ(clusterCloud(clusterer, invalid), (Summary{{20, 1.0F}}));
  }
}

TEST(CloudCluster, NullAndEmptyInputAndBadParameters)
{
  CloudCluster clusterer(CloudClusterPara{-1.0F, 0, -5});  // clamped to usable values
  EXPECT_GT(clusterer.params().cluster_grid_step, 0.0F);
  EXPECT_GE(clusterer.params().cluster_grid_kernelSize, 1);
  EXPECT_EQ(clusterer.params().cluster_grid_th, 1);
  int count = 7;
  std::vector<PointCloudXYZ::Ptr> clusters(3);
  EXPECT_FALSE(clusterer.obstacleCluster(PointCloudXYZ::ConstPtr(), count, clusters));
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(clusters.empty());
  EXPECT_FALSE(clusterer.lastError().empty());
  auto cloud = std::make_shared<PointCloudXYZ>();
  EXPECT_TRUE(clusterCloud(clusterer, cloud).empty());
  cloud->push_back(pcl::PointXYZ(1.0F, 1.0F, 0.2F));  // threshold 1: a single point is a cluster
  EXPECT_EQ(clusterCloud(clusterer, cloud).size(), 1U);
}

}  // namespace
}  // namespace perception
}  // namespace orvix
