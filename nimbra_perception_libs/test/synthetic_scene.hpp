// Seeded synthetic depth-camera scenes with ground truth, for tests and benchmarks.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include <Eigen/Geometry>
#include <opencv2/core.hpp>

#include "nimbra_perception_libs/cloud_types.hpp"

namespace orvix
{
namespace perception
{
namespace testing
{

/// Shape of the floor in the world frame.
enum class FloorKind
{
  kFlat,   ///< z = level
  kRamp,   ///< flat, then rising with `slope` from x = start_x
  kTilt,   ///< plane through (0, 0, level) rising with `slope` along `direction`
  kStep,   ///< flat, then `step_height` higher from x = start_x
};

/// Floor description.
struct Floor
{
  FloorKind kind = FloorKind::kFlat;
  float level = 0.0F;                     ///< m
  float slope = 0.0F;                     ///< m/m
  float start_x = 1.0F;                   ///< m
  float step_height = 0.03F;              ///< m
  Eigen::Vector2f direction{1.0F, 0.0F};  ///< unit x-y direction of the tilt

  float heightAt(float x, float y) const;
};

/// Axis-aligned box in the world frame.
struct Box
{
  Eigen::Vector3f min;  ///< m
  Eigen::Vector3f max;  ///< m
};

/// Upright cylinder in the world frame (a person, a pillar).
struct Cylinder
{
  Eigen::Vector2f centre;  ///< x-y of the axis, m
  float radius = 0.25F;    ///< m
  float z_min = 0.0F;      ///< m
  float z_max = 1.7F;      ///< m
};

/// Pinhole depth camera mounted on the robot.
struct Camera
{
  int width = 640;
  int height = 480;
  float fx = 385.0F;
  float fy = 385.0F;
  float cx = 319.5F;
  float cy = 239.5F;
  float max_depth = 4.0F;        ///< readings beyond are reported as 0, m
  Eigen::Isometry3f base_from_cam = Eigen::Isometry3f::Identity();  ///< optical frame into base frame
};

/// Camera looking forward from (x, 0, height) and pitched down by `pitch` radians.
Camera makeCamera(float x, float height, float pitch);

/// What a rendered pixel hit.
enum class Hit : std::int8_t
{
  kNone = -1,
  kFloor = 0,   ///< floor at the robot's level or a ramp / tilt
  kRaised = 1,  ///< top of a step
  kRiser = 2,   ///< vertical face of a step
  kBox = 3,     ///< a box (index in `box_index`)
  kCylinder = 4,  ///< a cylinder (`box_index` = number of boxes + cylinder index)
};

/// Rendered depth frame.
struct DepthFrame
{
  cv::Mat depth;                 ///< CV_32FC1, m; 0 where nothing was hit within range
  std::vector<Hit> hit;          ///< per pixel
  std::vector<int> box_index;    ///< per pixel, -1 unless a solid: boxes first, then cylinders
  std::vector<float> true_height;  ///< per pixel: noise-free height above the robot-level floor, m
};

/// Scene made of a floor, boxes and cylinders.
struct Scene
{
  Floor floor;
  std::vector<Box> boxes;
  std::vector<Cylinder> cylinders;  ///< solid index boxes.size() + k

  /// Renders the view of `camera` with the robot base at `world_from_base`; Gaussian depth noise of
  /// `noise_sigma` metres.
  DepthFrame render(
    const Camera & camera, const Eigen::Isometry3f & world_from_base, float noise_sigma,
    std::mt19937 & rng) const;
};

/// Ground truth of a cloud point.
enum class Truth : std::uint8_t
{
  kGround,
  kObstacle,
  kUnscored,  ///< too low on an obstacle to be told from the floor, or a mixed voxel
};

/// Base-frame cloud with per-point truth and source pixel.
struct LabelledCloud
{
  PointCloudXYZ::Ptr cloud = PointCloudXYZ::Ptr(new PointCloudXYZ);
  std::vector<Truth> truth;
  std::vector<int> box_index;  ///< -1 unless the point lies on a solid (see DepthFrame::box_index)
};

/// Points of every `stride`-th pixel in the base frame. Box points at least `obstacle_height` above the
/// floor and step-top points are obstacles, floor points ground.
LabelledCloud cloudFromFrame(const DepthFrame & frame, const Camera & camera, int stride, float obstacle_height);

/// Averages points per cubic voxel of `leaf` metres (like a voxel-grid filter); a voxel mixing truths
/// becomes unscored.
LabelledCloud voxelize(const LabelledCloud & in, float leaf);

/// Replaces `count` random points by NaN / infinite values (truth unscored).
void injectInvalidPoints(LabelledCloud & cloud, int count, std::mt19937 & rng);

}  // namespace testing
}  // namespace perception
}  // namespace orvix
