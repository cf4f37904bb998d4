#include "nimbra_perception_libs/perception_utils.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace orvix
{
namespace perception
{
namespace
{

bool finiteBox(float x1, float y1, float x2, float y2)
{
  return std::isfinite(x1) && std::isfinite(y1) && std::isfinite(x2) && std::isfinite(y2);
}

// Nearest source index of destination index `i` when `dst_len` cells cover the same span as `src_len`.
int scaledIndex(int i, int dst_len, int src_len)
{
  const std::int64_t idx = ((2LL * i + 1) * src_len) / (2LL * dst_len);
  return static_cast<int>(std::min<std::int64_t>(idx, src_len - 1));
}

struct MaskCounts
{
  std::int64_t a = 0;
  std::int64_t b = 0;
  std::int64_t both = 0;
};

// Counts set pixels of `a`, of `b` sampled on a's grid, and of both (both masks CV_8UC1).
MaskCounts countMasks(const cv::Mat & a, const cv::Mat & b)
{
  MaskCounts counts;
  const bool same_size = a.size() == b.size();
  std::vector<int> column_map;
  if (!same_size) {
    column_map.resize(static_cast<std::size_t>(a.cols));
    for (int c = 0; c < a.cols; ++c) {
      column_map[static_cast<std::size_t>(c)] = scaledIndex(c, a.cols, b.cols);
    }
  }
  for (int r = 0; r < a.rows; ++r) {
    const std::uint8_t * row_a = a.ptr<std::uint8_t>(r);
    const std::uint8_t * row_b = b.ptr<std::uint8_t>(same_size ? r : scaledIndex(r, a.rows, b.rows));
    for (int c = 0; c < a.cols; ++c) {
      const bool in_a = row_a[c] != 0;
      const bool in_b = row_b[same_size ? c : column_map[static_cast<std::size_t>(c)]] != 0;
      counts.a += in_a ? 1 : 0;
      counts.b += in_b ? 1 : 0;
      counts.both += (in_a && in_b) ? 1 : 0;
    }
  }
  return counts;
}

// Single-channel mask as CV_8UC1 (non-zero kept as non-zero); empty when not convertible.
cv::Mat asByteMask(const cv::Mat & mask)
{
  if (mask.empty() || mask.channels() != 1) {
    return cv::Mat();
  }
  if (mask.type() == CV_8UC1) {
    return mask;
  }
  return mask != 0;
}

}  // namespace

float boxIou(
  float ax1, float ay1, float ax2, float ay2, float bx1, float by1, float bx2, float by2,
  bool over_union)
{
  if (!finiteBox(ax1, ay1, ax2, ay2) || !finiteBox(bx1, by1, bx2, by2)) {
    return 0.0F;
  }
  const double area_a = static_cast<double>(ax2 - ax1) * static_cast<double>(ay2 - ay1);
  const double area_b = static_cast<double>(bx2 - bx1) * static_cast<double>(by2 - by1);
  if (ax2 <= ax1 || ay2 <= ay1 || bx2 <= bx1 || by2 <= by1) {
    return 0.0F;
  }
  const double iw = std::min<double>(ax2, bx2) - std::max<double>(ax1, bx1);
  const double ih = std::min<double>(ay2, by2) - std::max<double>(ay1, by1);
  if (iw <= 0.0 || ih <= 0.0) {
    return 0.0F;
  }
  const double inter = iw * ih;
  const double denominator = over_union ? area_a + area_b - inter : area_a;
  if (!(denominator > 0.0)) {
    return 0.0F;
  }
  return static_cast<float>(std::min(1.0, inter / denominator));
}

float maskIou(const cv::Mat & a, const cv::Mat & b, int mode)
{
  if (mode != kMaskOverFirst && mode != kMaskOverSecond && mode != kMaskOverUnion) {
    return 0.0F;
  }
  const cv::Mat mask_a = asByteMask(a);
  const cv::Mat mask_b = asByteMask(b);
  if (mask_a.empty() || mask_b.empty()) {
    return 0.0F;
  }
  const MaskCounts counts = countMasks(mask_a, mask_b);
  std::int64_t denominator = 0;
  switch (mode) {
    case kMaskOverFirst:
      denominator = counts.a;
      break;
    case kMaskOverSecond:
      denominator = counts.b;
      break;
    default:
      denominator = counts.a + counts.b - counts.both;
      break;
  }
  if (denominator <= 0) {
    return 0.0F;
  }
  return static_cast<float>(static_cast<double>(counts.both) / static_cast<double>(denominator));
}

int pixelToMask(const std::vector<cv::Point> & pixels, cv::Mat & mask)
{
  if (mask.empty() || mask.type() != CV_8UC1) {
    return 0;
  }
  int written = 0;
  for (const cv::Point & p : pixels) {
    if (p.x >= 0 && p.y >= 0 && p.x < mask.cols && p.y < mask.rows) {
      mask.at<std::uint8_t>(p.y, p.x) = 255;
      ++written;
    }
  }
  return written;
}

bool isPointInMask(const cv::Mat & mask, cv::Point point)
{
  if (mask.empty() || mask.type() != CV_8UC1) {
    return false;
  }
  if (point.x < 0 || point.y < 0 || point.x >= mask.cols || point.y >= mask.rows) {
    return false;
  }
  return mask.at<std::uint8_t>(point.y, point.x) != 0;
}

int clamp(float value, int low, int high)
{
  if (std::isnan(value) || low > high) {
    return low;
  }
  if (value <= static_cast<float>(low)) {
    return low;
  }
  if (value >= static_cast<float>(high)) {
    return high;
  }
  // Inside (low, high): the truncated value lies in [low, high] and fits an int.
  return std::max(low, std::min(high, static_cast<int>(value)));
}

double TimeToDouble(const std_msgs::msg::Header & header)
{
  return TimeToDouble(header.stamp);
}

double TimeToDouble(const builtin_interfaces::msg::Time & stamp)
{
  return static_cast<double>(stamp.sec) + static_cast<double>(stamp.nanosec) * 1e-9;
}

double TimeToDouble(const rclcdds::Time & time)
{
  return static_cast<double>(time.nanoseconds()) * 1e-9;
}

builtin_interfaces::msg::Time DoubleToStamp(double seconds)
{
  builtin_interfaces::msg::Time stamp;
  stamp.sec = 0;
  stamp.nanosec = 0;
  if (std::isnan(seconds) || seconds <= 0.0) {
    return stamp;
  }
  constexpr double kMaxSeconds = static_cast<double>(std::numeric_limits<std::int32_t>::max());
  if (seconds >= kMaxSeconds + 1.0) {
    stamp.sec = std::numeric_limits<std::int32_t>::max();
    stamp.nanosec = 999999999U;
    return stamp;
  }
  double whole = std::floor(seconds);
  double nanos = std::round((seconds - whole) * 1e9);
  if (nanos >= 1e9) {
    whole += 1.0;
    nanos = 0.0;
  }
  if (whole > kMaxSeconds) {
    stamp.sec = std::numeric_limits<std::int32_t>::max();
    stamp.nanosec = 999999999U;
    return stamp;
  }
  stamp.sec = static_cast<std::int32_t>(whole);
  stamp.nanosec = static_cast<std::uint32_t>(nanos);
  return stamp;
}

}  // namespace perception
}  // namespace orvix
