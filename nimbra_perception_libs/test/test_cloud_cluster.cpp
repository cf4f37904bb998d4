#include <gtest/gtest.h>

#include <limits>
#include <cmath>
#include <random>

#include "nimbra_perception_libs/cloud_cluster.hpp"

namespace orvix
{
namespace perception
{
namespace
{

// Points filling the box [x0, x1] x [y0, y1] x [0.05, h] at `spacing`, jittered by 2 mm.
void addBox(PointCloudXYZ & cloud, float x0, float y0, float x1, float y1, float h, float spacing, std::mt19937 & rng)
{
  std::uniform_real_distribution<float> jitter(-0.002F, 0.002F);
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

struct ClusterCase
{
  const char * name;
  float gap;            ///< distance between the two boxes, m
  int kernel;           ///< cluster_grid_kernelSize
  int expected;         ///< clusters
};

TEST(CloudCluster, SeparatedBoxesSplitTouchingBoxesMerge)
{
  // Grid step 5 cm; the first box ends at y = 0.32 (cell 6). Kernel 3 joins cells one apart, kernel 5
  // cells two apart.
  const ClusterCase cases[] = {
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
  for (const ClusterCase & c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 rng(7);
    auto cloud = std::make_shared<PointCloudXYZ>();
    addBox(*cloud, 1.0F, 0.0F, 1.3F, 0.32F, 0.3F, 0.02F, rng);
    addBox(*cloud, 1.0F, 0.32F + c.gap, 1.3F, 0.62F + c.gap, 0.2F, 0.02F, rng);
    CloudCluster clusterer(CloudClusterPara{0.05F, c.kernel, 10});
    int count = 0;
    std::vector<PointCloudXYZ::Ptr> clusters;
    ASSERT_TRUE(clusterer.obstacleCluster(cloud, count, clusters));
    EXPECT_EQ(count, c.expected);
    ASSERT_EQ(clusters.size(), static_cast<std::size_t>(count));
    std::size_t total = 0;
    for (const auto & cluster : clusters) {
      total += cluster->size();
      EXPECT_EQ(cluster->width, cluster->size());
      EXPECT_EQ(cluster->height, 1U);
    }
    EXPECT_EQ(total, cloud->size());
  }
}

TEST(CloudCluster, ThresholdDropsSmallNoise)
{
  std::mt19937 rng(3);
  auto cloud = std::make_shared<PointCloudXYZ>();
  addBox(*cloud, 1.0F, 0.0F, 1.3F, 0.3F, 0.3F, 0.02F, rng);
  const std::size_t box_points = cloud->size();
  for (int i = 0; i < 30; ++i) {  // isolated speckles 30 cm apart, one or two points each
    const float x = -1.0F - 0.3F * static_cast<float>(i % 6);
    const float y = -1.0F - 0.3F * static_cast<float>(i / 6);
    cloud->push_back(pcl::PointXYZ(x, y, 0.2F));
    if (i % 2 == 0) {
      cloud->push_back(pcl::PointXYZ(x + 0.005F, y, 0.25F));
    }
  }
  CloudCluster clusterer(CloudClusterPara{0.05F, 3, 5});
  int count = 0;
  std::vector<PointCloudXYZ::Ptr> clusters;
  ASSERT_TRUE(clusterer.obstacleCluster(cloud, count, clusters));
  ASSERT_EQ(count, 1);
  EXPECT_EQ(clusters[0]->size(), box_points);
  const std::vector<int> & ids = clusterer.pointClusterIds();
  ASSERT_EQ(ids.size(), cloud->size());
  EXPECT_EQ(ids.front(), 0);
  EXPECT_EQ(ids.back(), -1);
}

TEST(CloudCluster, DeterministicOrderByFirstPointAndInputOrderInside)
{
  auto cloud = std::make_shared<PointCloudXYZ>();
  // Interleaved points of two groups; group B's first point comes first.
  for (int i = 0; i < 20; ++i) {
    cloud->push_back(pcl::PointXYZ(3.0F + 0.01F * i, 0.0F, 0.1F));   // B
    cloud->push_back(pcl::PointXYZ(1.0F + 0.01F * i, 0.0F, 0.1F));   // A
  }
  CloudCluster clusterer(CloudClusterPara{0.05F, 3, 5});
  int count = 0;
  std::vector<PointCloudXYZ::Ptr> clusters;
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(clusterer.obstacleCluster(cloud, count, clusters));
    ASSERT_EQ(count, 2);
    EXPECT_FLOAT_EQ(clusters[0]->points[0].x, 3.0F);
    EXPECT_FLOAT_EQ(clusters[1]->points[0].x, 1.0F);
    for (std::size_t k = 1; k < clusters[0]->size(); ++k) {
      EXPECT_LT(clusters[0]->points[k - 1].x, clusters[0]->points[k].x);
    }
  }
}

TEST(CloudCluster, InvalidAndEmptyInputAndBadParameters)
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
  EXPECT_TRUE(clusterer.obstacleCluster(cloud, count, clusters));
  EXPECT_EQ(count, 0);

  const float nan = std::numeric_limits<float>::quiet_NaN();
  cloud->push_back(pcl::PointXYZ(nan, 0.0F, 0.0F));
  cloud->push_back(pcl::PointXYZ(1.0F, std::numeric_limits<float>::infinity(), 0.0F));
  cloud->push_back(pcl::PointXYZ(1.0F, 1.0F, 0.2F));
  EXPECT_TRUE(clusterer.obstacleCluster(cloud, count, clusters));
  ASSERT_EQ(count, 1);
  EXPECT_EQ(clusters[0]->size(), 1U);
  EXPECT_EQ(clusterer.pointClusterIds()[0], -1);
}

TEST(CloudCluster, FarApartPointsUseTheSparseGridAndStayCorrect)
{
  // Extents of kilometres at 5 cm cells exceed the dense grid.
  auto cloud = std::make_shared<PointCloudXYZ>();
  for (int i = 0; i < 10; ++i) {
    cloud->push_back(pcl::PointXYZ(0.01F * i, 0.0F, 0.1F));
    cloud->push_back(pcl::PointXYZ(5000.0F + 0.01F * i, -3000.0F, 0.1F));
  }
  CloudCluster clusterer(CloudClusterPara{0.05F, 3, 5});
  int count = 0;
  std::vector<PointCloudXYZ::Ptr> clusters;
  ASSERT_TRUE(clusterer.obstacleCluster(cloud, count, clusters));
  ASSERT_EQ(count, 2);
  EXPECT_EQ(clusters[0]->size(), 10U);
  EXPECT_EQ(clusters[1]->size(), 10U);
}

}  // namespace
}  // namespace perception
}  // namespace orvix
