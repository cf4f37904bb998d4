#include "grid_components.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace orvix
{
namespace perception
{
namespace detail
{
namespace
{

constexpr std::int64_t kMaxDenseCells = 1 << 22;

// Cell indices are non-negative and below 2^31.
std::int64_t packKey(std::int64_t x, std::int64_t y)
{
  return (x << 32) | y;
}

}  // namespace

void GridComponents::configure(float step, int radius)
{
  step_ = step;
  radius_ = std::max(0, radius);
}

int GridComponents::label(const float * xs, const float * ys, std::size_t count, std::vector<int> & component)
{
  component.assign(count, -1);
  if (count == 0) {
    return 0;
  }
  float min_x = xs[0];
  float min_y = ys[0];
  for (std::size_t i = 1; i < count; ++i) {
    min_x = std::min(min_x, xs[i]);
    min_y = std::min(min_y, ys[i]);
  }
  cell_x_.resize(count);
  cell_y_.resize(count);
  const double inv = 1.0 / static_cast<double>(step_);
  double max_cx = 0.0;
  double max_cy = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double cx = std::floor((static_cast<double>(xs[i]) - min_x) * inv);
    const double cy = std::floor((static_cast<double>(ys[i]) - min_y) * inv);
    max_cx = std::max(max_cx, cx);
    max_cy = std::max(max_cy, cy);
    // Extents beyond int32 are clipped; such clouds have no meaning at this cell size anyway.
    cell_x_[i] = static_cast<std::int32_t>(std::min(cx, 2.0e9));
    cell_y_[i] = static_cast<std::int32_t>(std::min(cy, 2.0e9));
  }
  width_ = static_cast<int>(std::min(max_cx, 2.0e9)) + 1;
  height_ = static_cast<int>(std::min(max_cy, 2.0e9)) + 1;
  if (static_cast<std::int64_t>(width_) * height_ <= kMaxDenseCells) {
    return labelDense(count, component);
  }
  return labelSparse(count, component);
}

template<typename ForEachNeighbour>
int GridComponents::floodFill(
  std::size_t count, std::vector<int> & component, ForEachNeighbour for_each_neighbour)
{
  cell_label_.assign(cell_key_.size(), -1);
  int components = 0;
  for (std::size_t seed = 0; seed < cell_key_.size(); ++seed) {
    if (cell_label_[seed] >= 0) {
      continue;
    }
    cell_label_[seed] = components;
    queue_.clear();
    queue_.push_back(static_cast<std::int32_t>(seed));
    for (std::size_t head = 0; head < queue_.size(); ++head) {
      for_each_neighbour(
        cell_key_[static_cast<std::size_t>(queue_[head])], [this, components](std::int32_t slot) {
          if (cell_label_[static_cast<std::size_t>(slot)] < 0) {
            cell_label_[static_cast<std::size_t>(slot)] = components;
            queue_.push_back(slot);
          }
        });
    }
    ++components;
  }
  for (std::size_t i = 0; i < count; ++i) {
    component[i] = cell_label_[static_cast<std::size_t>(point_slot_[i])];
  }
  return components;
}

int GridComponents::labelDense(std::size_t count, std::vector<int> & component)
{
  grid_.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), -1);
  cell_key_.clear();
  point_slot_.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t g = static_cast<std::size_t>(cell_y_[i]) * static_cast<std::size_t>(width_) +
      static_cast<std::size_t>(cell_x_[i]);
    if (grid_[g] < 0) {
      grid_[g] = static_cast<std::int32_t>(cell_key_.size());
      cell_key_.push_back(static_cast<std::int64_t>(g));
    }
    point_slot_[i] = grid_[g];
  }
  return floodFill(
    count, component, [this](std::int64_t g, auto && visit) {
      const int cx = static_cast<int>(g % width_);
      const int cy = static_cast<int>(g / width_);
      const int x0 = std::max(0, cx - radius_);
      const int x1 = std::min(width_ - 1, cx + radius_);
      const int y0 = std::max(0, cy - radius_);
      const int y1 = std::min(height_ - 1, cy + radius_);
      for (int y = y0; y <= y1; ++y) {
        const std::int32_t * row = &grid_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_)];
        for (int x = x0; x <= x1; ++x) {
          if (row[x] >= 0) {
            visit(row[x]);
          }
        }
      }
    });
}

int GridComponents::labelSparse(std::size_t count, std::vector<int> & component)
{
  // Occupied cells in first-touch order, found through a sorted key table.
  sorted_keys_.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    sorted_keys_[i] = packKey(cell_x_[i], cell_y_[i]);
  }
  std::sort(sorted_keys_.begin(), sorted_keys_.end());
  sorted_keys_.erase(std::unique(sorted_keys_.begin(), sorted_keys_.end()), sorted_keys_.end());
  sorted_slot_.assign(sorted_keys_.size(), -1);
  cell_key_.clear();
  point_slot_.resize(count);
  auto find_index = [this](std::int64_t key) -> std::ptrdiff_t {
      const auto it = std::lower_bound(sorted_keys_.begin(), sorted_keys_.end(), key);
      return (it != sorted_keys_.end() && *it == key) ? it - sorted_keys_.begin() : -1;
    };
  for (std::size_t i = 0; i < count; ++i) {
    const std::int64_t key = packKey(cell_x_[i], cell_y_[i]);
    const auto idx = static_cast<std::size_t>(find_index(key));
    if (sorted_slot_[idx] < 0) {
      sorted_slot_[idx] = static_cast<std::int32_t>(cell_key_.size());
      cell_key_.push_back(key);
    }
    point_slot_[i] = sorted_slot_[idx];
  }
  return floodFill(
    count, component, [this, &find_index](std::int64_t key, auto && visit) {
      const std::int64_t cx = key >> 32;
      const std::int64_t cy = key & 0xffffffffLL;
      for (std::int64_t y = std::max<std::int64_t>(0, cy - radius_); y <= cy + radius_; ++y) {
        for (std::int64_t x = std::max<std::int64_t>(0, cx - radius_); x <= cx + radius_; ++x) {
          const std::ptrdiff_t idx = find_index(packKey(x, y));
          if (idx >= 0) {
            visit(sorted_slot_[static_cast<std::size_t>(idx)]);
          }
        }
      }
    });
}

}  // namespace detail
}  // namespace perception
}  // namespace orvix
