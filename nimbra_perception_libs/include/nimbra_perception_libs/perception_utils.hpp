// Box and mask overlap, mask painting, integer clamping and time conversion helpers.
#pragma once

#include <vector>

#include <builtin_interfaces/msg/time.hpp>
#include <opencv2/core.hpp>
#include <rclcdds/time.hpp>
#include <std_msgs/msg/header.hpp>

namespace orvix
{
namespace perception
{

/// Denominators of maskIou (the int argument).
enum MaskIouMode : int
{
  kMaskOverFirst = 0,   ///< |a ∩ b| / |a|: share of the first mask covered by the second
  kMaskOverSecond = 1,  ///< |a ∩ b| / |b|: share of the second mask covered by the first
  kMaskOverUnion = 2,   ///< |a ∩ b| / |a ∪ b|: intersection over union
};

/// Overlap of two axis-aligned boxes given by corners (x1, y1) top-left and (x2, y2) bottom-right.
/// @param over_union true: intersection / union; false: intersection / area of box a (share of a
///   inside b, e.g. how much of a small item lies on a larger surface)
/// @return ratio in [0, 1]; 0 for empty, inverted or non-finite boxes
float boxIou(
  float ax1, float ay1, float ax2, float ay2, float bx1, float by1, float bx2, float by2,
  bool over_union);

/// Overlap of two single-channel masks (non-zero = set), chosen by `mode` (MaskIouMode).
/// Masks of different sizes are compared on the grid of `a`: `b` is sampled at the nearest scaled
/// pixel (images of the same view at different resolutions). Multi-channel masks are not compared.
/// @return ratio in [0, 1]; 0 when a mask is empty or multi-channel, the denominator is 0 or the mode
///   is unknown
float maskIou(const cv::Mat & a, const cv::Mat & b, int mode);

/// Sets (255) every listed pixel that lies inside `mask` (CV_8UC1); other pixels are skipped.
/// @return number of pixels written; 0 when the mask is empty or not CV_8UC1
int pixelToMask(const std::vector<cv::Point> & pixels, cv::Mat & mask);

/// @return true when `point` lies inside `mask` (CV_8UC1) and its byte there is non-zero
bool isPointInMask(const cv::Mat & mask, cv::Point point);

/// `value` limited to [low, high] and truncated toward zero; NaN gives `low`; low > high gives `low`.
int clamp(float value, int low, int high);

/// Header stamp in seconds.
double TimeToDouble(const std_msgs::msg::Header & header);
/// Message stamp in seconds.
double TimeToDouble(const builtin_interfaces::msg::Time & stamp);
/// Clock reading in seconds.
double TimeToDouble(const rclcdds::Time & time);

/// Message stamp of `seconds`, rounded to the nanosecond. Negative values and NaN give 0; values beyond
/// the int32 seconds range give the largest stamp (2147483647 s, 999999999 ns).
builtin_interfaces::msg::Time DoubleToStamp(double seconds);

}  // namespace perception
}  // namespace orvix
