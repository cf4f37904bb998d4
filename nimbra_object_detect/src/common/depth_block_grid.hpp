// Internal pieces of the depth-to-cloud conversion: the block grid of a region, pixel reading,
// the first usable pixel of a block, and the output sink.
#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "common/camera_intrinsics.hpp"
#include "common/depth_image_view.hpp"
#include "common/region_cloud_request.hpp"

namespace nimbra::depth_detail
{

/// The blocks of a region that overlap the image, and the pixel bounds they are clipped to.
struct BlockGrid
{
  int64_t x1 = 0;         ///< column where block column 0 starts
  int64_t y1 = 0;         ///< row where block row 0 starts
  int64_t u_end = 0;      ///< exclusive column bound: min(x2, image width)
  int64_t v_end = 0;      ///< exclusive row bound: min(y2, image height)
  int64_t col_first = 0;  ///< first block column overlapping the image
  int64_t col_end = 0;    ///< one past the last such block column
  int64_t row_first = 0;  ///< first block row overlapping the image
  int64_t row_end = 0;    ///< one past the last such block row
  int64_t stride = 1;     ///< block edge, pixels

  bool empty() const { return col_end <= col_first || row_end <= row_first; }
};

/// @brief The grid of a region whose corners are in order, clipped to a width x height image.
BlockGrid makeBlockGrid(
  const RegionCloudRequest & region, int32_t stride, int32_t width, int32_t height);

/// @brief Block columns [first, end) lying wholly inside the image and the region (rows aside).
std::pair<int64_t, int64_t> wholeBlockColumns(const BlockGrid & grid);

/// Reads one stored pixel as float, optionally from the other byte order.
template <typename T, bool kSwap>
struct PixelReader
{
  static float read(const uint8_t * row, int32_t u)
  {
    const uint8_t * source = row + static_cast<std::size_t>(u) * sizeof(T);
    T value;
    if constexpr (kSwap) {
      uint8_t bytes[sizeof(T)];
      for (std::size_t i = 0; i < sizeof(T); ++i) {
        bytes[i] = source[sizeof(T) - 1 - i];
      }
      std::memcpy(&value, bytes, sizeof(T));
    } else {
      std::memcpy(&value, source, sizeof(T));
    }
    return static_cast<float>(value);
  }
};

/// Appends points to a cloud from its first element on, overwriting the elements it already
/// holds before growing it, so that a cloud reused from frame to frame is not rebuilt.
class PointSink
{
public:
  explicit PointSink(pcl::PointCloud<pcl::PointXYZ> & cloud) : points_(cloud.points) {}

  /// @brief Writable room for `count` points after those written so far.
  pcl::PointXYZ * room(std::size_t count)
  {
    if (written_ + count > points_.size()) {
      points_.resize(written_ + count);
    }
    return points_.data() + written_;
  }

  /// @brief Marks `count` points of the room as written.
  void advance(std::size_t count) { written_ += count; }

  /// @brief Writes one point.
  void push(float x, float y, float z)
  {
    *room(1) = pcl::PointXYZ(x, y, z);
    ++written_;
  }

  /// @brief Drops whatever lies beyond the written points.
  void finish() { points_.resize(written_); }

private:
  decltype(pcl::PointCloud<pcl::PointXYZ>::points) & points_;  ///< the cloud's points
  std::size_t written_ = 0;                                     ///< points written so far
};

/// @brief Finds the first pixel of the block [u0, u1) x [v0, v1), in row-major order, whose depth
/// d satisfies 0 < d < depth_max (and whose mask byte is non-zero when `kMasked`).
template <typename Reader, bool kMasked>
inline bool firstUsablePixel(
  const DepthImageView & depth, const cv::Mat & mask, float depth_max, int32_t u0, int32_t u1,
  int32_t v0, int32_t v1, int32_t & u_found, int32_t & v_found, float & d_found)
{
  for (int32_t v = v0; v < v1; ++v) {
    const uint8_t * row = depth.data + static_cast<std::size_t>(v) * depth.step;
    const uint8_t * mask_row = kMasked ? mask.ptr<uint8_t>(v) : nullptr;
    for (int32_t u = u0; u < u1; ++u) {
      if constexpr (kMasked) {
        if (mask_row[u] == 0) {
          continue;
        }
      }
      const float d = Reader::read(row, u) * depth.scale;
      if (d > 0.0F && d < depth_max) {
        u_found = u;
        v_found = v;
        d_found = d;
        return true;
      }
    }
  }
  return false;
}

/// @brief Converts block (r, c) by scanning it; false when it has no usable pixel.
/// The point is x = d ((u - cx) / fx), y = d ((v - cy) / fy), z = d.
template <typename Reader, bool kMasked>
inline bool convertBlock(
  const DepthImageView & depth, const CameraIntrinsics & k, const BlockGrid & grid,
  const cv::Mat & mask, float depth_max, int64_t r, int64_t c, PointSink & sink)
{
  const int64_t block_v = grid.y1 + r * grid.stride;
  const int64_t block_u = grid.x1 + c * grid.stride;
  const auto v0 = static_cast<int32_t>(std::max<int64_t>(block_v, 0));
  const auto v1 = static_cast<int32_t>(std::min(block_v + grid.stride, grid.v_end));
  const auto u0 = static_cast<int32_t>(std::max<int64_t>(block_u, 0));
  const auto u1 = static_cast<int32_t>(std::min(block_u + grid.stride, grid.u_end));
  int32_t u = 0;
  int32_t v = 0;
  float d = 0.0F;
  if (!firstUsablePixel<Reader, kMasked>(depth, mask, depth_max, u0, u1, v0, v1, u, v, d)) {
    return false;
  }
  sink.push(
    d * ((static_cast<float>(u) - k.cx) / k.fx), d * ((static_cast<float>(v) - k.cy) / k.fy), d);
  return true;
}

/// @brief Whether the 16-bit fast path serves this request: native byte order, no mask, 2 x 2
/// blocks and a positive finite scale (so that the depth grows with the stored value).
bool fastPathApplies(const DepthImageView & depth, const RegionCloudRequest & region, int32_t stride);

/// @brief Converts the whole grid of a request that fastPathApplies() accepts.
void convertFast(
  const DepthImageView & depth, const CameraIntrinsics & k, const BlockGrid & grid,
  float depth_max, PointSink & sink);

}  // namespace nimbra::depth_detail
