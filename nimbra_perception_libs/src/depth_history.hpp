// Ring of recent depth frames, min-pooled, with their camera poses in the odometry frame.
#pragma once

#include <vector>

#include <Eigen/Geometry>
#include <opencv2/core.hpp>

namespace orvix
{
namespace perception
{
namespace detail
{

/// One stored frame: min-pooled depth and the transform from the odometry frame into its camera.
struct DepthFrame
{
  cv::Mat pooled;                   ///< CV_32FC1, 0 where no valid reading, m
  Eigen::Isometry3d cam_from_odom;  ///< maps odometry-frame points into the camera optical frame
};

/// Fixed-capacity history of depth frames; storage is allocated once per image size.
class DepthHistory
{
public:
  /// @param capacity frames kept; @param factor pooling factor; readings outside [min, max] depth are
  ///   dropped (min) or clamped (max)
  void configure(int capacity, int factor, float min_depth, float max_depth);

  /// Forgets every frame.
  void clear();

  /// Stores `depth` (CV_32FC1, metres) with its pose, replacing the oldest frame when full.
  /// A depth image of a new size clears the history first.
  void push(const cv::Mat & depth, const Eigen::Isometry3d & cam_from_odom);

  /// Frames stored, newest first for index 0.
  int size() const {return size_;}
  const DepthFrame & frame(int age) const;

  /// Pooling factor, pixels per pooled cell.
  int factor() const {return factor_;}

  /// Smallest pooled depth around full-resolution pixel (u, v): the 2 x 2 pooled cells nearest to it.
  /// @return 0 when outside the image or no reading
  float nearestDepth(const DepthFrame & frame, float u, float v) const;

private:
  void pool(const cv::Mat & depth, cv::Mat & pooled) const;

  int capacity_ = 1;
  int factor_ = 2;
  float min_depth_ = 0.1F;
  float max_depth_ = 4.0F;
  cv::Size image_size_;
  std::vector<DepthFrame> frames_;
  mutable std::vector<float> row_;  ///< one cleaned input row, reused
  int newest_ = -1;
  int size_ = 0;
};

}  // namespace detail
}  // namespace perception
}  // namespace orvix
