// Connected components of occupied cells of a 2D grid (no point-cloud types).
#pragma once

#include <cstdint>
#include <vector>

namespace orvix
{
namespace perception
{
namespace detail
{

/// Labels points by the connected component of their grid cell, in time linear in the point count.
class GridComponents
{
public:
  /// @param step cell edge length, m (> 0)
  /// @param radius cells whose indices differ by at most this in x and y are connected
  void configure(float step, int radius);

  /// Labels `count` points given by their x and y (finite). Components are numbered in the order of
  /// their first point. @return number of components
  int label(const float * xs, const float * ys, std::size_t count, std::vector<int> & component);

private:
  int labelDense(std::size_t count, std::vector<int> & component);
  int labelSparse(std::size_t count, std::vector<int> & component);

  /// Breadth-first labelling of the occupied cells in `cell_key_`, then of the points through
  /// `point_slot_`. `for_each_neighbour(key, visit)` calls `visit(slot)` for every occupied cell
  /// within `radius_` of the cell with that key.
  template<typename ForEachNeighbour>
  int floodFill(std::size_t count, std::vector<int> & component, ForEachNeighbour for_each_neighbour);

  float step_ = 0.05F;
  int radius_ = 1;
  int width_ = 0;
  int height_ = 0;
  std::vector<std::int32_t> cell_x_;      ///< per point
  std::vector<std::int32_t> cell_y_;      ///< per point
  std::vector<std::int32_t> grid_;        ///< dense grid: occupied cell slot or -1
  std::vector<std::int64_t> cell_key_;    ///< per occupied cell (dense: grid index; sparse: packed x, y)
  std::vector<std::int32_t> cell_label_;  ///< per occupied cell
  std::vector<std::int32_t> queue_;
  std::vector<std::int32_t> point_slot_;  ///< per point: its occupied-cell slot
  std::vector<std::int64_t> sorted_keys_; ///< sparse path: occupied keys, sorted
  std::vector<std::int32_t> sorted_slot_; ///< sparse path: slot of each sorted key
};

}  // namespace detail
}  // namespace perception
}  // namespace orvix
