// Parameter records of the ground remover and the obstacle clusterer.
#pragma once

#include <cstdint>

namespace orvix
{
namespace perception
{

/// Ground-removal parameters: seventeen 32-bit floats in this exact order (read by layout).
struct GroundRemovalParams
{
  float segmentation_angular_resolution = 0.2F;  ///< width of one angular segment around the base origin, rad
  float point_cloud_max_range = 2.0F;             ///< horizontal range beyond which points are discarded, m
  float point_cloud_min_range = 0.45F;            ///< horizontal range below which points are discarded (robot body), m
  float segmentation_bin_len = 0.05F;             ///< length of one range bin inside a segment, m
  float cam_height = 0.05F;                       ///< floor level this camera sees in the base frame (calibrated), m
  float max_lsq_residual = 0.15F;                 ///< largest RMS residual of a growing ground line, m
  float min_slope = 0.0F;                         ///< lines flatter than this must start at the floor level (plateau guard), m/m
  float max_slope = 0.2F;                         ///< steepest ground line (ramp), m/m
  float max_height_diff_for_start_up = 0.05F;     ///< a ground line may start at most this far above the expected floor, m
  float max_height_diff_for_start_down = 0.13F;   ///< a ground line may start at most this far below the expected floor, m
  float max_dist_point_groundline = 0.045F;       ///< points at most this far above their ground line are ground, m
  float long_threshold = 0.2F;                    ///< gap between occupied bins that ends a line (occlusion), m
  float max_height_diff_for_front = 0.04F;        ///< largest jump from a line to the next bin in front (step), m
  float x_distance_need_preprocess = 1.0F;        ///< near range ahead (x) where the fixed floor level also decides, m
  float z_distance_need_remove = 0.05F;           ///< near-range points this close to the floor level are ground, m
  float max_obstacle_height = 0.666F;             ///< points higher than this above the ground are discarded (ceiling), m
  float diluting_threshold = 0.03F;               ///< cell size of the ground-output thinning grid; <= 0 disables it, m
};

static_assert(sizeof(GroundRemovalParams) == 17 * sizeof(float), "GroundRemovalParams is read by layout");

/// Grid-clustering parameters: three fields in this exact order.
struct CloudClusterPara
{
  float cluster_grid_step = 0.05F;       ///< edge length of one square grid cell in the x-y plane, m
  std::int32_t cluster_grid_kernelSize = 3;  ///< neighbourhood width in cells: cells up to max(1, kernelSize / 2) apart connect
  std::int32_t cluster_grid_th = 10;     ///< clusters with fewer points are dropped as noise, points
};

}  // namespace perception
}  // namespace orvix
