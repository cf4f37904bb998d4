// Ground truth of the demo world: pixel object ids against the rendered depth and the geometry,
// object placements in map and base_footprint, the label regions, the truth JSON and the palette.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "nimbra_demo_scene/demo_palette.hpp"
#include "nimbra_demo_scene/ground_truth.hpp"

namespace nimbra_demo_scene
{
namespace
{

TEST(LabelRegions, BoundsAndCountsEveryObjectAndSkipsEmptyPixels)
{
  constexpr uint16_t N = kNoObject;
  // 5 x 4 image.
  const std::vector<uint16_t> labels = {
    N, 3, 3, N, N,
    N, 3, N, 0, N,
    7, N, N, 0, 0,
    N, N, N, N, 0,
  };
  const std::vector<PixelRegion> regions = labelRegions(labels, 5, 4);
  // By ascending id: {id, u_min, v_min, u_max, v_max, pixels}.
  const std::vector<std::vector<size_t>> expected = {
    {0, 3, 1, 4, 3, 4}, {3, 1, 0, 2, 1, 3}, {7, 0, 2, 0, 2, 1}};
  ASSERT_EQ(regions.size(), expected.size());
  for (size_t i = 0; i < regions.size(); ++i) {
    const PixelRegion & r = regions[i];
    EXPECT_EQ((std::vector<size_t>{r.id, r.u_min, r.v_min, r.u_max, r.v_max, r.pixels}),
      expected[i]);
  }
  EXPECT_EQ(regions[0].width(), 2U);
  EXPECT_EQ(regions[0].height(), 3U);
  EXPECT_TRUE(labelRegions(std::vector<uint16_t>(6, N), 3, 2).empty());
  EXPECT_THROW(labelRegions(labels, 4, 4), std::invalid_argument);
}

/// Distance of `p` from the surface of `object` (its plane, or the nearest of its boxes).
double distanceToObject(const Scene & scene, const WorldObject & object, const Eigen::Vector3d & p)
{
  if (object.plane >= 0) {
    const AxisPlane & plane = scene.planes[object.plane];
    return std::abs(p[plane.axis] - plane.offset);
  }
  double best = 1e9;
  for (size_t index : object.boxes) {
    const Box & box = scene.boxes[index];
    // Outside distance, or depth below the nearest face when inside.
    const Eigen::Vector3d below = (box.min - p).cwiseMax(0.0);
    const Eigen::Vector3d above = (p - box.max).cwiseMax(0.0);
    double d = (below + above).norm();
    if (d == 0.0) {
      d = std::min((p - box.min).minCoeff(), (box.max - p).minCoeff());
    }
    best = std::min(best, d);
  }
  return best;
}

TEST(DemoRigLabels, EveryPixelWithDepthLiesOnTheObjectItIsLabelledWith)
{
  DemoRig::Params params;
  params.width = 160;
  params.height = 120;
  params.noise_m = 0.0;
  DemoRig rig(params);
  const CameraIntrinsics & k = rig.intrinsics();
  for (uint64_t frame : {0ULL, 90ULL, 270ULL, 333ULL, 500ULL}) {
    for (size_t camera = 0; camera < rig.cameraCount(); ++camera) {
      SCOPED_TRACE("frame " + std::to_string(frame) + " camera " + std::to_string(camera));
      const DemoRig::CameraFrame & f = rig.render(frame, camera);
      const Scene & scene = rig.world().sceneAt(f.scene_t);
      ASSERT_EQ(f.labels.size(), size_t{160} * 120);
      size_t with_depth = 0, off_surface = 0;
      for (uint32_t v = 0; v < k.height; ++v) {
        for (uint32_t u = 0; u < k.width; ++u) {
          const size_t i = static_cast<size_t>(v) * k.width + u;
          const uint16_t mm = static_cast<uint16_t>(
            f.depth_16uc1[2 * i] | (f.depth_16uc1[2 * i + 1] << 8));
          if (mm == 0) {
            continue;
          }
          ++with_depth;
          const uint16_t id = f.labels[i];
          ASSERT_LT(id, rig.world().objects().size()) << "pixel " << u << "," << v;
          const double z = mm / 1000.0;
          const Eigen::Vector3d optical((u - k.cx) / k.fx * z, (v - k.cy) / k.fy * z, z);
          const Eigen::Vector3d p = f.map_to_optical * optical;
          // Half a millimetre of depth rounding, stretched along grazing rays.
          if (distanceToObject(scene, rig.world().objects()[id], p) > 0.01) {
            ++off_surface;
          }
        }
      }
      EXPECT_GT(with_depth, 0U);
      EXPECT_EQ(off_surface, 0U);
    }
  }
}

TEST(DemoWorldPlacements, MapExtentsAreTheDefinitionsAndBaseExtentsFollowTheRobot)
{
  DemoWorld world(DemoWorld::Params{});
  for (double t : {0.0, 12.5, 30.0, 47.0}) {
    SCOPED_TRACE("t " + std::to_string(t));
    const std::vector<ObjectPlacement> placements = world.placementsAt(t);
    const Scene & scene = world.sceneAt(t);
    const Eigen::Isometry3d base_from_map = world.mapToBase(t).inverse();
    ASSERT_EQ(placements.size(), static_cast<size_t>(std::count_if(world.objects().begin(),
      world.objects().end(), [](const WorldObject & o) {return !o.boxes.empty();})));
    for (const ObjectPlacement & placement : placements) {
      const WorldObject & object = world.objects().at(placement.id);
      SCOPED_TRACE(object.name);
      Eigen::AlignedBox3d defined;
      for (size_t index : object.boxes) {
        const Box & box = scene.boxes[index];
        defined.extend(box.min);
        defined.extend(box.max);
        // Every corner of every box lies inside the base_footprint extent.
        for (int c = 0; c < 8; ++c) {
          const Eigen::Vector3d corner((c & 1) ? box.max.x() : box.min.x(),
            (c & 2) ? box.max.y() : box.min.y(), (c & 4) ? box.max.z() : box.min.z());
          EXPECT_LT(placement.base_extent.exteriorDistance(base_from_map * corner), 1e-9);
        }
      }
      EXPECT_TRUE(placement.map_extent.isApprox(defined, 1e-12));
      EXPECT_TRUE(placement.map_centre.isApprox(defined.center(), 1e-12));
      EXPECT_TRUE(placement.base_centre.isApprox(base_from_map * defined.center(), 1e-9));
      // Heights do not change between the frames.
      EXPECT_NEAR(placement.base_extent.min().z(), defined.min().z(), 1e-9);
      EXPECT_NEAR(placement.base_extent.max().z(), defined.max().z(), 1e-9);
    }
  }
}

TEST(FrameTruthJson, ListsEveryObjectWithItsExtentsAndItsPixelsWhenInView)
{
  DemoRig::Params params;
  params.width = 160;
  params.height = 120;
  DemoRig rig(params);
  const DemoRig::CameraFrame & frame = rig.render(30, 0);
  const std::vector<PixelRegion> regions = labelRegions(frame.labels, 160, 120);
  const YAML::Node doc = YAML::Load(frameTruthJson(rig, frame));  // JSON is YAML
  EXPECT_NEAR(doc["scene_t"].as<double>(), 3.0, 1e-9);
  EXPECT_EQ(doc["camera"].as<int>(), 1);
  EXPECT_EQ(doc["frame_id"].as<std::string>(), "camera_01_depth_optical_frame");
  ASSERT_EQ(doc["objects"].size(), rig.world().objects().size());
  size_t with_pixels = 0;
  for (const YAML::Node & object : doc["objects"]) {
    const WorldObject & truth = rig.world().objects().at(object["id"].as<size_t>());
    SCOPED_TRACE(truth.name);
    EXPECT_EQ(object["name"].as<std::string>(), truth.name);
    EXPECT_EQ(object["class"].as<std::string>(), truth.semantic_class);
    EXPECT_EQ(static_cast<bool>(object["map_min"]), !truth.boxes.empty());
    if (!truth.boxes.empty()) {
      // A box of the object at scene time 3 s lies inside the written extent.
      const Box & box = rig.world().sceneAt(3.0).boxes[truth.boxes.front()];
      for (int axis = 0; axis < 3; ++axis) {
        EXPECT_LE(object["map_min"][axis].as<double>(), box.min[axis] + 1e-4);
        EXPECT_GE(object["map_max"][axis].as<double>(), box.max[axis] - 1e-4);
      }
    }
    if (object["pixels"]) {
      ++with_pixels;
      const auto region = std::find_if(
        regions.begin(), regions.end(), [&](const PixelRegion & r) {return r.id == truth.id;});
      ASSERT_NE(region, regions.end());
      EXPECT_EQ(object["pixels"].as<size_t>(), region->pixels);
      EXPECT_EQ(object["pixel_box"].as<std::vector<uint32_t>>(),
        (std::vector<uint32_t>{region->u_min, region->v_min, region->u_max, region->v_max}));
    }
  }
  EXPECT_EQ(with_pixels, regions.size());
}

TEST(DemoPalette, RowsAreFoundByTheirUniqueNamesAndEachModelClassComesOnce)
{
  const std::vector<PaletteEntry> & palette = demoPalette();
  for (const PaletteEntry & entry : palette) {
    EXPECT_EQ(&paletteEntry(entry.name), &entry) << entry.name << " is not unique";
  }
  const std::vector<std::string> classes = demoModelClasses();
  for (const std::string & name : classes) {
    EXPECT_EQ(std::count(classes.begin(), classes.end(), name), 1) << name;
  }
  EXPECT_THROW(paletteEntry("no such row"), std::out_of_range);
  EXPECT_EQ(paletteEntry("spill").semantic_class, "coffee");
  EXPECT_TRUE(paletteEntry("floor").semantic_class.empty());
}

}  // namespace
}  // namespace nimbra_demo_scene
