#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include <pcl/common/point_tests.h>

#include "nimbra_perception_libs/remove_ground_line_fit.hpp"
#include "scenes.hpp"

namespace orvix
{
namespace perception
{
namespace
{

// Every ground case of the scene builder (flat floors, ramps and tilts at the maximum slope, 3 cm
// steps; boxes on them) with three noise seeds.
TEST(RemoveGroundLineFit, SyntheticScenesMeetTheAccuracyGoals)
{
  for (const testing::GroundCase & c : testing::groundCases()) {
    for (unsigned seed : {11U, 12U, 13U}) {
      SCOPED_TRACE(c.name + " seed " + std::to_string(seed));
      const testing::LabelledCloud scene = testing::renderCase(c, seed);
      RemoveGroundLineFit remover(c.params);
      auto obstacle = std::make_shared<PointCloudXYZ>();
      auto ground = std::make_shared<PointCloudXYZ>();
      ASSERT_TRUE(remover.prepareFilter(scene.cloud));
      ASSERT_TRUE(remover.filter(scene.cloud, obstacle, ground));
      const std::vector<PointLabel> & labels = remover.labels();
      ASSERT_EQ(labels.size(), scene.cloud->size());
      const testing::GroundScore score = testing::scoreLabels(scene, labels, c.params);
      ASSERT_GT(score.ground_total, 1000);
      EXPECT_GE(score.groundRate(), 0.99) << score.ground_correct << "/" << score.ground_total;
      EXPECT_GE(score.obstacleRate(), 0.98) << score.obstacle_correct << "/" << score.obstacle_total;
      // The obstacle cloud holds every obstacle point, the ground cloud fewer (thinned); no NaN or inf.
      const auto labelled = [&labels](PointLabel l) {return std::count(labels.begin(), labels.end(), l);};
      EXPECT_EQ(static_cast<long>(obstacle->size()), labelled(PointLabel::kObstacle));
      EXPECT_LE(static_cast<long>(ground->size()), labelled(PointLabel::kGround));
      for (const auto & cloud : {obstacle, ground}) {
        EXPECT_TRUE(std::all_of(cloud->begin(), cloud->end(), [](const auto & p) {return pcl::isFinite(p);}));
      }
      std::printf("[ scene    ] %-45s seed %u ground %.4f (%d) obstacle %.4f (%d)\n", c.name.c_str(),
        seed, score.groundRate(), score.ground_total, score.obstacleRate(), score.obstacle_total);
    }
  }
}

PointCloudXYZ::Ptr flatFloor(float level, int n)
{
  auto cloud = std::make_shared<PointCloudXYZ>();
  for (int i = 0; i < n; ++i) {
    const float x = 0.5F + 1.4F * static_cast<float>(i % 40) / 40.0F;
    const float y = -0.5F + static_cast<float>(i / 40) / 40.0F;
    cloud->push_back(pcl::PointXYZ(x, y, level));
  }
  return cloud;
}

// Reused output clouds are cleared each frame; filter() prepares itself for a cloud other than the
// prepared one.
TEST(RemoveGroundLineFit, NullEmptyAndUnpreparedInputAndNonsenseParameters)
{
  RemoveGroundLineFit remover{GroundRemovalParams()};
  auto obstacle = std::make_shared<PointCloudXYZ>();
  auto ground = std::make_shared<PointCloudXYZ>();
  obstacle->push_back(pcl::PointXYZ(1, 1, 1));
  EXPECT_FALSE(remover.prepareFilter(PointCloudXYZ::ConstPtr()));
  EXPECT_FALSE(remover.lastError().empty());
  EXPECT_FALSE(remover.filter(PointCloudXYZ::ConstPtr(), obstacle, ground));
  EXPECT_TRUE(obstacle->empty());
  EXPECT_FALSE(remover.filter(flatFloor(0.0F, 10), PointCloudXYZ::Ptr(), ground));
  EXPECT_TRUE(remover.filter(std::make_shared<PointCloudXYZ>(), obstacle, ground));
  EXPECT_TRUE(remover.lastError().empty());
  EXPECT_TRUE(obstacle->empty());
  EXPECT_TRUE(ground->empty());

  auto floor = flatFloor(0.0F, 800);
  floor->push_back(pcl::PointXYZ(1.2F, 0.0F, 0.4F));
  ASSERT_TRUE(remover.prepareFilter(flatFloor(0.3F, 100)));
  for (int frame = 0; frame < 2; ++frame) {
    ASSERT_TRUE(remover.filter(floor, obstacle, ground));
    ASSERT_EQ(obstacle->size(), 1U);
    EXPECT_FLOAT_EQ(obstacle->points[0].z, 0.4F);
    EXPECT_EQ(obstacle->width, 1U);
    EXPECT_EQ(obstacle->height, 1U);
    EXPECT_GT(ground->size(), 0U);
  }

  GroundRemovalParams params;
  params.segmentation_angular_resolution = 0.0F;
  params.segmentation_bin_len = -1.0F;
  params.point_cloud_max_range = std::numeric_limits<float>::quiet_NaN();
  params.point_cloud_min_range = 5.0F;
  RemoveGroundLineFit clamped(params);
  EXPECT_GT(clamped.params().segmentation_angular_resolution, 0.0F);
  EXPECT_GT(clamped.params().segmentation_bin_len, 0.0F);
  EXPECT_GT(clamped.params().point_cloud_max_range, clamped.params().point_cloud_min_range);
  EXPECT_TRUE(clamped.filter(flatFloor(0.0F, 100), obstacle, ground));
}

TEST(RemoveGroundLineFit, RangeLimitsCeilingAndThinning)
{
  GroundRemovalParams params;
  params.cam_height = 0.0F;
  RemoveGroundLineFit remover(params);
  auto cloud = flatFloor(0.0F, 1600);
  const std::size_t floor_points = cloud->size();
  cloud->push_back(pcl::PointXYZ(0.2F, 0.0F, 0.3F));   // inside the robot: dropped
  cloud->push_back(pcl::PointXYZ(2.5F, 0.0F, 0.3F));   // beyond the range: dropped
  cloud->push_back(pcl::PointXYZ(1.5F, 0.0F, 1.2F));   // above the ceiling: dropped
  cloud->push_back(pcl::PointXYZ(1.5F, 0.1F, 0.5F));   // obstacle
  cloud->push_back(pcl::PointXYZ(1.5F, 0.2F, -0.5F));  // far below the floor (reflection): dropped
  auto obstacle = std::make_shared<PointCloudXYZ>();
  auto ground = std::make_shared<PointCloudXYZ>();
  ASSERT_TRUE(remover.filter(cloud, obstacle, ground));
  const std::vector<PointLabel> & labels = remover.labels();
  using L = PointLabel;
  EXPECT_EQ(std::vector<PointLabel>(labels.begin() + floor_points, labels.end()),
    (std::vector<PointLabel>{L::kDropped, L::kDropped, L::kDropped, L::kObstacle, L::kDropped}));
  EXPECT_EQ(obstacle->size(), 1U);
  // The floor grid has 3.5 cm x 2.5 cm spacing; 3 cm thinning cells keep fewer points than labelled.
  const auto ground_labels = static_cast<std::size_t>(std::count(labels.begin(), labels.end(), L::kGround));
  EXPECT_EQ(ground_labels, floor_points);
  EXPECT_LT(ground->size(), ground_labels);
  EXPECT_GT(ground->size(), ground_labels / 3);

  params.diluting_threshold = 0.0F;
  RemoveGroundLineFit unthinned(params);
  ASSERT_TRUE(unthinned.filter(cloud, obstacle, ground));
  EXPECT_EQ(ground->size(), floor_points);
}

}  // namespace
}  // namespace perception
}  // namespace orvix
