// Square x-y grid that lets one point per cell through per frame.
#pragma once

#include <cstdint>
#include <vector>

namespace orvix
{
namespace perception
{
namespace detail
{

/// Thins a point stream to one point per cell, without clearing memory between frames.
class ThinningGrid
{
public:
  /// Covers [-half_extent, half_extent]^2 with cells of `cell` metres; cell <= 0 disables thinning.
  /// The cell grows when the grid would exceed 4 Mi cells.
  void configure(float half_extent, float cell);

  /// Starts a new frame: every cell becomes free again.
  void nextFrame();

  /// @return true when (x, y) is the first point of its cell in this frame (always when disabled
  ///   or outside the grid)
  bool claim(float x, float y);

private:
  bool enabled_ = false;
  int side_ = 0;
  float origin_ = 0.0F;
  float inv_cell_ = 0.0F;
  std::uint32_t frame_ = 0;
  std::vector<std::uint32_t> stamp_;  ///< frame number that last claimed each cell
};

}  // namespace detail
}  // namespace perception
}  // namespace orvix
