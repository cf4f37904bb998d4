#include "ground_scenes.hpp"

#include <cmath>

namespace orvix
{
namespace perception
{
namespace testing
{

GroundRemovalParams stepSensitiveParams()
{
  GroundRemovalParams p;
  p.cam_height = 0.0F;
  p.max_slope = 0.1F;
  p.max_dist_point_groundline = 0.015F;
  p.max_height_diff_for_front = 0.01F;
  p.max_height_diff_for_start_up = 0.015F;
  p.z_distance_need_remove = 0.015F;
  return p;
}

float obstacleTruthHeight(const GroundRemovalParams & params)
{
  return params.max_dist_point_groundline + 0.01F;
}

Scene boxesScene(float level)
{
  Scene scene;
  scene.floor.level = level;
  scene.boxes.push_back({{1.0F, 0.25F, level - 0.02F}, {1.3F, 0.55F, level + 0.30F}});
  scene.boxes.push_back({{1.2F, -0.60F, level - 0.02F}, {1.5F, -0.30F, level + 0.50F}});
  scene.boxes.push_back({{0.75F, -0.10F, level - 0.02F}, {0.90F, 0.05F, level + 0.15F}});
  return scene;
}

std::vector<GroundCase> groundCases()
{
  const GroundRemovalParams defaults;
  const GroundRemovalParams step = stepSensitiveParams();
  std::vector<GroundCase> cases;
  auto add = [&cases](const std::string & name, const Scene & scene, const GroundRemovalParams & params,
      float height, float pitch) {
      GroundCase c;
      c.name = name;
      c.scene = scene;
      c.params = params;
      c.camera_height = height;
      c.camera_pitch = pitch;
      cases.push_back(c);
    };
  for (const auto & [label, params] : {std::make_pair(std::string("default"), defaults),
      std::make_pair(std::string("step_sensitive"), step)})
  {
    add(label + "/flat_boxes_low_camera", boxesScene(0.0F), params, 0.35F, 0.35F);
    add(label + "/flat_boxes_high_camera", boxesScene(0.0F), params, 0.9F, 0.7F);
    add(label + "/floor_at_cam_height", boxesScene(params.cam_height), params, 0.6F, 0.5F);

    Scene ramp = boxesScene(0.0F);
    ramp.floor.kind = FloorKind::kRamp;
    ramp.floor.slope = params.max_slope;
    ramp.floor.start_x = 0.9F;
    ramp.boxes.resize(1);
    ramp.boxes[0].min.z() = -0.05F;
    ramp.boxes[0].max.z() += params.max_slope * 0.3F;  // stands on the ramp
    add(label + "/ramp_max_slope", ramp, params, 0.6F, 0.5F);

    for (const auto & [tilt_name, direction] : {
        std::make_pair(std::string("pitch"), Eigen::Vector2f(1.0F, 0.0F)),
        std::make_pair(std::string("roll"), Eigen::Vector2f(0.0F, 1.0F)),
        std::make_pair(std::string("diagonal"), Eigen::Vector2f(0.70710678F, -0.70710678F))})
    {
      Scene tilt;
      tilt.floor.kind = FloorKind::kTilt;
      tilt.floor.slope = params.max_slope;
      tilt.floor.direction = direction;
      add(label + "/tilt_max_slope_" + tilt_name, tilt, params, 0.6F, 0.5F);
    }
  }
  Scene step_scene;
  step_scene.floor.kind = FloorKind::kStep;
  step_scene.floor.step_height = 0.03F;
  step_scene.floor.start_x = 1.1F;
  add("step_sensitive/step_3cm", step_scene, step, 0.6F, 0.5F);
  add("step_sensitive/step_3cm_low_camera", step_scene, step, 0.35F, 0.35F);
  return cases;
}

LabelledCloud renderCase(const GroundCase & c, unsigned seed, int invalid_points)
{
  std::mt19937 rng(seed);
  Camera camera = makeCamera(0.2F, c.camera_height, c.camera_pitch);
  camera.max_depth = c.params.point_cloud_max_range + 0.5F;
  const DepthFrame frame = c.scene.render(camera, Eigen::Isometry3f::Identity(), 0.005F, rng);
  LabelledCloud cloud = voxelize(cloudFromFrame(frame, camera, 2, obstacleTruthHeight(c.params)), 0.01F);
  injectInvalidPoints(cloud, invalid_points, rng);
  return cloud;
}

GroundScore scoreLabels(
  const LabelledCloud & cloud, const std::vector<bool> & ground_label, const std::vector<bool> & obstacle_label,
  const GroundRemovalParams & params)
{
  GroundScore score;
  for (std::size_t i = 0; i < cloud.cloud->size(); ++i) {
    const pcl::PointXYZ & p = (*cloud.cloud)[i];
    if (cloud.truth[i] == Truth::kUnscored || !std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      continue;
    }
    const float r = std::hypot(p.x, p.y);
    if (r < params.point_cloud_min_range || r >= params.point_cloud_max_range) {
      continue;
    }
    if (cloud.truth[i] == Truth::kGround) {
      ++score.ground_total;
      score.ground_correct += ground_label[i] ? 1 : 0;
    } else {
      ++score.obstacle_total;
      score.obstacle_correct += obstacle_label[i] ? 1 : 0;
    }
  }
  return score;
}

}  // namespace testing
}  // namespace perception
}  // namespace orvix
