#include "depth_history.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvix
{
namespace perception
{
namespace detail
{

void DepthHistory::configure(int capacity, int factor, float min_depth, float max_depth)
{
  capacity_ = std::max(1, capacity);
  factor_ = std::max(1, factor);
  min_depth_ = min_depth;
  max_depth_ = max_depth;
  frames_.clear();
  frames_.resize(static_cast<std::size_t>(capacity_));
  image_size_ = cv::Size();
  clear();
}

void DepthHistory::clear()
{
  newest_ = -1;
  size_ = 0;
}

void DepthHistory::push(const cv::Mat & depth, const Eigen::Isometry3d & cam_from_odom)
{
  if (depth.size() != image_size_) {
    image_size_ = depth.size();
    clear();
    const cv::Size pooled((depth.cols + factor_ - 1) / factor_, (depth.rows + factor_ - 1) / factor_);
    for (DepthFrame & f : frames_) {
      f.pooled.create(pooled, CV_32FC1);
    }
  }
  newest_ = (newest_ + 1) % capacity_;
  DepthFrame & slot = frames_[static_cast<std::size_t>(newest_)];
  pool(depth, slot.pooled);
  slot.cam_from_odom = cam_from_odom;
  size_ = std::min(size_ + 1, capacity_);
}

const DepthFrame & DepthHistory::frame(int age) const
{
  const int index = ((newest_ - age) % capacity_ + capacity_) % capacity_;
  return frames_[static_cast<std::size_t>(index)];
}

void DepthHistory::pool(const cv::Mat & depth, cv::Mat & pooled) const
{
  constexpr float kNone = std::numeric_limits<float>::infinity();
  const float low = min_depth_;
  const float high = max_depth_;
  const int cols = depth.cols;
  row_.resize(static_cast<std::size_t>(cols) + static_cast<std::size_t>(factor_));
  float * clean = row_.data();
  for (int pr = 0; pr < pooled.rows; ++pr) {
    float * out = pooled.ptr<float>(pr);
    std::fill(out, out + pooled.cols, kNone);
    const int r_end = std::min(depth.rows, (pr + 1) * factor_);
    for (int r = pr * factor_; r < r_end; ++r) {
      const float * in = depth.ptr<float>(r);
      // NaN fails this test and is dropped like 0 and values below the minimum; branch-free so it vectorises.
      for (int c = 0; c < cols; ++c) {
        const float d = in[c];
        clean[c] = d >= low ? std::min(d, high) : kNone;
      }
      std::fill(clean + cols, clean + cols + factor_, kNone);  // a partial last cell
      if (factor_ == 2) {
        for (int pc = 0; pc < pooled.cols; ++pc) {
          out[pc] = std::min(out[pc], std::min(clean[2 * pc], clean[2 * pc + 1]));
        }
      } else {
        for (int pc = 0; pc < pooled.cols; ++pc) {
          const float * cell = clean + static_cast<std::ptrdiff_t>(pc) * factor_;
          float m = out[pc];
          for (int k = 0; k < factor_; ++k) {
            m = std::min(m, cell[k]);
          }
          out[pc] = m;
        }
      }
    }
    for (int pc = 0; pc < pooled.cols; ++pc) {
      out[pc] = out[pc] == kNone ? 0.0F : out[pc];
    }
  }
}

float DepthHistory::nearestDepth(const DepthFrame & frame, float u, float v) const
{
  const float pu = u / static_cast<float>(factor_) - 0.5F;
  const float pv = v / static_cast<float>(factor_) - 0.5F;
  if (!(pu >= -0.5F && pv >= -0.5F && pu < static_cast<float>(frame.pooled.cols) - 0.5F &&
    pv < static_cast<float>(frame.pooled.rows) - 0.5F))
  {
    return 0.0F;
  }
  const int c0 = std::max(0, static_cast<int>(std::floor(pu)));
  const int r0 = std::max(0, static_cast<int>(std::floor(pv)));
  const int c1 = std::min(frame.pooled.cols - 1, c0 + 1);
  const int r1 = std::min(frame.pooled.rows - 1, r0 + 1);
  float best = std::numeric_limits<float>::infinity();
  for (int r : {r0, r1}) {
    const float * row = frame.pooled.ptr<float>(r);
    for (int c : {c0, c1}) {
      const float d = row[c];
      if (d <= 0.0F) {
        // A cell without reading may hide a near object: no evidence either way.
        return 0.0F;
      }
      best = std::min(best, d);
    }
  }
  return best;
}

}  // namespace detail
}  // namespace perception
}  // namespace orvix
