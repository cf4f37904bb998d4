#include "thinning_grid.hpp"

#include <algorithm>
#include <cmath>

namespace orvix
{
namespace perception
{
namespace detail
{

void ThinningGrid::configure(float half_extent, float cell)
{
  constexpr int kMaxSide = 2048;
  enabled_ = std::isfinite(cell) && cell > 0.0F && std::isfinite(half_extent) && half_extent > 0.0F;
  stamp_.clear();
  if (!enabled_) {
    return;
  }
  const float span = 2.0F * half_extent;
  float size = cell;
  if (span / size > static_cast<float>(kMaxSide)) {
    size = span / static_cast<float>(kMaxSide);
  }
  side_ = std::max(1, static_cast<int>(std::ceil(span / size)));
  origin_ = -half_extent;
  inv_cell_ = 1.0F / size;
  frame_ = 0;
  stamp_.assign(static_cast<std::size_t>(side_) * static_cast<std::size_t>(side_), 0U);
}

void ThinningGrid::nextFrame()
{
  if (!enabled_) {
    return;
  }
  ++frame_;
  if (frame_ == 0U) {
    // The counter wrapped: old stamps could collide with new frames.
    std::fill(stamp_.begin(), stamp_.end(), 0U);
    frame_ = 1U;
  }
}

bool ThinningGrid::claim(float x, float y)
{
  if (!enabled_) {
    return true;
  }
  const float fx = (x - origin_) * inv_cell_;
  const float fy = (y - origin_) * inv_cell_;
  if (!(fx >= 0.0F && fy >= 0.0F && fx < static_cast<float>(side_) && fy < static_cast<float>(side_))) {
    return true;
  }
  const std::size_t index = static_cast<std::size_t>(fy) * static_cast<std::size_t>(side_) +
    static_cast<std::size_t>(fx);
  if (stamp_[index] == frame_) {
    return false;
  }
  stamp_[index] = frame_;
  return true;
}

}  // namespace detail
}  // namespace perception
}  // namespace orvix
