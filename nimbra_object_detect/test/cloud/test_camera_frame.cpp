// View-extent records: extreme points, angle continuity, persistence, registry and consistency.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "cloud_test_scenes.hpp"
#include "common/camera_frame.hpp"
#include "common/camera_frame_registry.hpp"

namespace nimbra::test
{
namespace
{

using Point3 = std::array<float, 3>;

PointCloud planar(std::initializer_list<std::pair<float, float>> xy)
{
  PointCloud cloud;
  for (const auto & p : xy) {
    cloud.points.emplace_back(p.first, p.second, 0.3F);
  }
  cloud.width = static_cast<uint32_t>(cloud.points.size());
  cloud.height = 1;
  return cloud;
}

Point3 at(float x, float y) { return {x, y, 0.3F}; }

TEST(CameraFrameExtremes, EachCase)
{
  // Extremes: [0] clockwise-most and [1] counter-clockwise-most bearing around the camera,
  // [2] nearest and [3] farthest point from the base origin.
  struct Case
  {
    const char * name;
    Point3 origin;
    std::vector<PointCloud> frames;
    std::array<Point3, 4> extremes;
  };
  const std::vector<Case> cases = {
    {"angles around the camera and distances from the base", {0, 0, 0.5F},
      {planar({{1, 0}, {1, 1}, {1, -1}, {3, 0}, {0.5F, 0}})},
      {at(1, -1), at(1, 1), at(0.5F, 0), at(3, 0)}},
    // Camera at x = 1: (1.5, 0) is nearest to the camera, (1, 0.9) to the base origin. The
    // first point's bearing sets no angle extreme.
    {"distances are measured from the base origin", {1, 0, 0.5F},
      {planar({{3, 0}, {1.0F, 0.9F}, {1.5F, 0}})},
      {Point3{0, 0, 0}, at(1.0F, 0.9F), at(1.0F, 0.9F), at(3, 0)}},
    // Both points lie almost straight behind: the second turns further counter-clockwise.
    {"angles stay continuous across the back direction", {0, 0, 0},
      {planar({{-1, 0.01F}, {-1, -0.01F}})}, {Point3{0, 0, 0}, at(-1, -0.01F), at(-1, 0.01F),
        at(-1, 0.01F)}},
    // The first point of the second frame is its farthest; the empty third one changes nothing.
    {"points on the first bearing keep the previous angle extremes", {0, 0, 0},
      {planar({{1, 0}, {1, 1}, {1, -1}}), planar({{3, 0}, {2, 0}, {1, 0}}), PointCloud()},
      {at(1, -1), at(1, 1), at(1, 0), at(3, 0)}},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    CameraFrame frame(c.origin[0], c.origin[1], c.origin[2]);
    EXPECT_FALSE(frame.state().ready);
    for (const PointCloud & cloud : c.frames) {
      EXPECT_EQ(frame.update(cloud), !cloud.points.empty());
    }
    const CameraFrameState state = frame.state();
    EXPECT_TRUE(state.ready);
    EXPECT_EQ(state.extremes, c.extremes);
    EXPECT_FLOAT_EQ(state.origin_z, c.origin[2]);
  }
}

TEST(CameraFrameExtremes, ReadersNeverSeeExtremesOfTwoFrames)
{
  // Frame B is frame A scaled by 2, so a consistent record has [3].x = 3 [2].x either way.
  const PointCloud a = planar({{2, 0}, {2, 1}, {2, -1}, {1, 0}, {3, 0}});
  const PointCloud b = planar({{4, 0}, {4, 2}, {4, -2}, {2, 0}, {6, 0}});
  CameraFrame frame(0.0F, 0.0F, 0.0F);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) {
      frame.update(i % 2 == 0 ? a : b);
    }
    done = true;
  });
  int inconsistent = 0;
  while (!done) {
    const CameraFrameState state = frame.state();
    if (state.ready &&
        (state.extremes[3][0] != 3.0F * state.extremes[2][0] ||
         state.extremes[0][0] != 2.0F * state.extremes[2][0])) {
      ++inconsistent;
    }
  }
  writer.join();
  EXPECT_EQ(inconsistent, 0);
}

TEST(CameraFrameRegistryAccess, RecordsAreCreatedOnDemandAndShared)
{
  CameraFrameRegistry registry;
  EXPECT_EQ(registry.find(-1), nullptr);
  EXPECT_EQ(registry.find(2), nullptr);
  Eigen::Matrix4f cam_to_base = Eigen::Matrix4f::Identity();
  cam_to_base.topRightCorner<3, 1>() << 0.3F, -0.1F, 0.8F;
  ASSERT_TRUE(registry.updateViewExtent(2, cam_to_base, planar({{1, 0}, {2, 1}})));
  const auto record = registry.find(2);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(registry.find(1), nullptr);
  EXPECT_EQ(registry.obtain(2, 9.0F, 9.0F, 9.0F), record);
  const CameraFrameState state = record->state();
  EXPECT_TRUE(state.ready);
  EXPECT_EQ(Point3({state.origin_x, state.origin_y, state.origin_z}), Point3({0.3F, -0.1F, 0.8F}));
  EXPECT_FALSE(registry.updateViewExtent(-1, cam_to_base, planar({{1, 0}})));
  EXPECT_EQ(registry.obtain(-3, 0.0F, 0.0F, 0.0F), nullptr);
}

}  // namespace
}  // namespace nimbra::test
