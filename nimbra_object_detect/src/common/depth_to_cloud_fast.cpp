// Fast path of the depth-to-cloud conversion for 16-bit images sampled in 2 x 2 blocks, the
// whole-frame call of every depth frame.
#include <cmath>
#include <cstring>
#include <vector>

#include "common/depth_block_grid.hpp"

namespace nimbra::depth_detail
{
namespace
{

/// Blocks whose top-left pixels are checked together.
constexpr int kGroupBlocks = 32;

/// Smallest stored 16-bit value whose depth is not below `depth_max`. The depth grows with the
/// stored value, so 0 < value * scale < depth_max holds exactly for 1 <= value < this limit.
uint32_t rawDepthLimit(float scale, float depth_max)
{
  uint32_t low = 1;
  uint32_t high = 65536;  // one past the largest stored value: every value is below the limit
  while (low < high) {
    const uint32_t middle = (low + high) / 2;
    if (static_cast<float>(middle) * scale < depth_max) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

/// The first (left) of the two 16-bit pixels held by a 32-bit word read from a row.
inline uint32_t leftPixelOfPair(uint32_t pair)
{
#if defined(__BYTE_ORDER__) && (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__)
  return pair >> 16;
#else
  return pair & 0xFFFFU;
#endif
}

#if defined(__clang__) || (defined(__GNUC__) && __GNUC__ >= 12)
#define NIMBRA_DEPTH_VECTOR_EXTENSIONS 1
using Float4 = float __attribute__((vector_size(16)));
using Int4 = int32_t __attribute__((vector_size(16)));
#endif

/// Writes the points of the top-left pixels of blocks [0, n), x = d ((u - cx) / fx),
/// y = d ((v - cy) / fy), z = d, and flags (non-zero) the blocks whose top-left pixel is usable,
/// that is 1 <= stored value < `raw_limit`.
/// @return the number of flagged blocks
int writeTopLeftPoints(
  const uint8_t * top, const float * block_factor, float top_factor, float scale,
  int32_t raw_limit, int n, pcl::PointXYZ * out, int32_t * usable)
{
  int i = 0;
  int count = 0;
#ifdef NIMBRA_DEPTH_VECTOR_EXTENSIONS
  // Four blocks at a time: the coordinates are computed as vectors and transposed into four
  // whole points, so every store is one 16-byte write.
  const Float4 one = {1.0F, 1.0F, 1.0F, 1.0F};
  Int4 counts = {0, 0, 0, 0};
  for (; i + 4 <= n; i += 4) {
    Int4 pairs;
    std::memcpy(&pairs, top + static_cast<std::size_t>(i) * 4, sizeof(pairs));
#if defined(__BYTE_ORDER__) && (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__)
    const Int4 raw = (pairs >> 16) & 0xFFFF;
#else
    const Int4 raw = pairs & 0xFFFF;
#endif
    const Int4 ok = (raw > 0) & (raw < raw_limit);
    std::memcpy(usable + i, &ok, sizeof(ok));
    counts -= ok;
    const Float4 d = __builtin_convertvector(raw, Float4) * scale;
    Float4 factor;
    std::memcpy(&factor, block_factor + i, sizeof(factor));
    const Float4 x = d * factor;
    const Float4 y = d * top_factor;
    const Float4 xy_low = __builtin_shufflevector(x, y, 0, 4, 1, 5);
    const Float4 xy_high = __builtin_shufflevector(x, y, 2, 6, 3, 7);
    const Float4 zw_low = __builtin_shufflevector(d, one, 0, 4, 1, 5);
    const Float4 zw_high = __builtin_shufflevector(d, one, 2, 6, 3, 7);
    const Float4 p0 = __builtin_shufflevector(xy_low, zw_low, 0, 1, 4, 5);
    const Float4 p1 = __builtin_shufflevector(xy_low, zw_low, 2, 3, 6, 7);
    const Float4 p2 = __builtin_shufflevector(xy_high, zw_high, 0, 1, 4, 5);
    const Float4 p3 = __builtin_shufflevector(xy_high, zw_high, 2, 3, 6, 7);
    std::memcpy(static_cast<void *>(out + i), &p0, sizeof(p0));
    std::memcpy(static_cast<void *>(out + i + 1), &p1, sizeof(p1));
    std::memcpy(static_cast<void *>(out + i + 2), &p2, sizeof(p2));
    std::memcpy(static_cast<void *>(out + i + 3), &p3, sizeof(p3));
  }
  count = counts[0] + counts[1] + counts[2] + counts[3];
#endif
  for (; i < n; ++i) {
    uint32_t pair;
    std::memcpy(&pair, top + static_cast<std::size_t>(i) * 4, sizeof(pair));
    const auto raw = static_cast<int32_t>(leftPixelOfPair(pair));
    usable[i] = (raw > 0 && raw < raw_limit) ? -1 : 0;
    count += usable[i] != 0 ? 1 : 0;
    const float d = static_cast<float>(raw) * scale;
    out[i] = pcl::PointXYZ(d * block_factor[i], d * top_factor, d);
  }
  return count;
}

/// (u - cx) / fx per image column and per whole block, kept per thread so frames allocate nothing.
struct ColumnFactors
{
  std::vector<float> column;  ///< for every image column
  std::vector<float> block;   ///< for the first column of every whole block, contiguous
};

/// One block row of whole 2 x 2 blocks.
struct BlockRow
{
  const uint8_t * top = nullptr;     ///< first pixel of the upper image row
  const uint8_t * bottom = nullptr;  ///< first pixel of the lower image row
  const float * column_factor = nullptr;  ///< factor of each column, from the first block on
  const float * block_factor = nullptr;   ///< factor of each block's first column
  float top_factor = 0.0F;      ///< (v - cy) / fy of the upper row
  float bottom_factor = 0.0F;   ///< (v - cy) / fy of the lower row
  int count = 0;                ///< whole blocks in the row
};

/// Emits the points of one block row.
///
/// Blocks are taken in groups. Every block of a group first gets the point of its top-left pixel
/// in a branch-free loop that vectorises; that pixel, when usable, is the block's first usable
/// one. Blocks whose top-left pixel is unusable then scan their other three pixels in row-major
/// order, as the general path does, and the kept points move down in order. A group without any
/// usable pixel gives nothing.
void emitBlockRow(const BlockRow & row, float scale, uint32_t raw_limit, PointSink & sink)
{
  // 1 <= raw < limit as one unsigned comparison: raw - 1 wraps around for raw 0.
  const uint32_t limit_minus_one = raw_limit - 1;
  const auto usable = [limit_minus_one](uint32_t raw) { return raw - 1U < limit_minus_one; };
  int32_t top_left_usable[kGroupBlocks];

  for (int first = 0; first < row.count; first += kGroupBlocks) {
    const int n = std::min(kGroupBlocks, row.count - first);
    const uint8_t * top = row.top + static_cast<std::size_t>(first) * 4;
    const uint8_t * bottom = row.bottom + static_cast<std::size_t>(first) * 4;
    const float * column_factor = row.column_factor + static_cast<std::size_t>(first) * 2;

    pcl::PointXYZ * out = sink.room(static_cast<std::size_t>(n));
    const int usable_count = writeTopLeftPoints(
      top, row.block_factor + first, row.top_factor, scale, static_cast<int32_t>(raw_limit), n,
      out, top_left_usable);
    if (usable_count == n) {
      sink.advance(static_cast<std::size_t>(n));
      continue;
    }
    if (usable_count == 0) {
      uint32_t any_usable = 0;
      for (int i = 0; i < 2 * n; ++i) {
        uint16_t upper;
        uint16_t lower;
        std::memcpy(&upper, top + static_cast<std::size_t>(i) * 2, sizeof(upper));
        std::memcpy(&lower, bottom + static_cast<std::size_t>(i) * 2, sizeof(lower));
        any_usable |= (usable(upper) || usable(lower)) ? 1U : 0U;
      }
      if (any_usable == 0) {
        continue;
      }
    }

    int kept = 0;
    for (int i = 0; i < n; ++i) {
      if (top_left_usable[i] != 0) {
        out[kept++] = out[i];
        continue;
      }
      uint16_t pixels[4];
      std::memcpy(pixels, top + static_cast<std::size_t>(i) * 4, 4);
      std::memcpy(pixels + 2, bottom + static_cast<std::size_t>(i) * 4, 4);
      for (int j = 1; j < 4; ++j) {
        if (usable(pixels[j])) {
          const float d = static_cast<float>(pixels[j]) * scale;
          out[kept] = pcl::PointXYZ(
            d * column_factor[2 * i + (j & 1)], d * (j < 2 ? row.top_factor : row.bottom_factor),
            d);
          ++kept;
          break;
        }
      }
    }
    sink.advance(static_cast<std::size_t>(kept));
  }
}

}  // namespace

bool fastPathApplies(const DepthImageView & depth, const RegionCloudRequest & region, int32_t stride)
{
  return depth.pixel == DepthPixelType::kUint16 && !depth.swap_bytes && region.mask.empty() &&
         stride == 2 && std::isfinite(depth.scale) && depth.scale > 0.0F;
}

void convertFast(
  const DepthImageView & depth, const CameraIntrinsics & k, const BlockGrid & grid,
  float depth_max, PointSink & sink)
{
  using Reader = PixelReader<uint16_t, false>;
  const uint32_t raw_limit = rawDepthLimit(depth.scale, depth_max);
  const auto [whole_first, whole_end] = wholeBlockColumns(grid);

  thread_local ColumnFactors factors;
  factors.column.resize(static_cast<std::size_t>(depth.width));
  for (int32_t u = 0; u < depth.width; ++u) {
    factors.column[static_cast<std::size_t>(u)] = (static_cast<float>(u) - k.cx) / k.fx;
  }
  factors.block.resize(static_cast<std::size_t>(whole_end - whole_first));
  for (int64_t c = whole_first; c < whole_end; ++c) {
    factors.block[static_cast<std::size_t>(c - whole_first)] =
      factors.column[static_cast<std::size_t>(grid.x1 + c * grid.stride)];
  }

  const cv::Mat no_mask;
  for (int64_t r = grid.row_first; r < grid.row_end; ++r) {
    const int64_t block_v = grid.y1 + r * grid.stride;
    const bool whole_rows = block_v >= 0 && block_v + grid.stride <= grid.v_end;
    const int64_t fast_end = whole_rows ? whole_end : whole_first;
    // Blocks cut by the image or region border keep to the scanning path, in block order.
    for (int64_t c = grid.col_first; c < whole_first; ++c) {
      convertBlock<Reader, false>(depth, k, grid, no_mask, depth_max, r, c, sink);
    }
    if (fast_end > whole_first) {
      const int64_t block_u = grid.x1 + whole_first * grid.stride;
      BlockRow row;
      row.top = depth.data + static_cast<std::size_t>(block_v) * depth.step +
                static_cast<std::size_t>(block_u) * sizeof(uint16_t);
      row.bottom = row.top + depth.step;
      row.column_factor = factors.column.data() + block_u;
      row.block_factor = factors.block.data();
      row.top_factor = (static_cast<float>(block_v) - k.cy) / k.fy;
      row.bottom_factor = (static_cast<float>(block_v + 1) - k.cy) / k.fy;
      row.count = static_cast<int>(fast_end - whole_first);
      emitBlockRow(row, depth.scale, raw_limit, sink);
    }
    for (int64_t c = fast_end; c < grid.col_end; ++c) {
      convertBlock<Reader, false>(depth, k, grid, no_mask, depth_max, r, c, sink);
    }
  }
}

}  // namespace nimbra::depth_detail
