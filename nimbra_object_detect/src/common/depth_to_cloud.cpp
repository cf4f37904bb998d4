#include "common/depth_to_cloud.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "common/cloud.hpp"
#include "common/depth_block_grid.hpp"

namespace nimbra
{
namespace depth_detail
{
namespace
{

/// First block index whose block reaches pixel 0 when blocks start at `origin`.
int64_t firstBlockInside(int64_t origin, int64_t stride)
{
  return origin >= 0 ? 0 : (-origin) / stride;
}

}  // namespace

BlockGrid makeBlockGrid(
  const RegionCloudRequest & region, int32_t stride, int32_t width, int32_t height)
{
  BlockGrid grid;
  grid.stride = stride;
  grid.x1 = region.x1;
  grid.y1 = region.y1;
  grid.u_end = std::min<int64_t>(region.x2, width);
  grid.v_end = std::min<int64_t>(region.y2, height);
  grid.col_first = firstBlockInside(grid.x1, stride);
  grid.row_first = firstBlockInside(grid.y1, stride);
  grid.col_end = depthBlockCount(grid.u_end - grid.x1, stride);
  grid.row_end = depthBlockCount(grid.v_end - grid.y1, stride);
  return grid;
}

std::pair<int64_t, int64_t> wholeBlockColumns(const BlockGrid & grid)
{
  int64_t first = grid.col_first;
  while (first < grid.col_end && grid.x1 + first * grid.stride < 0) {
    ++first;
  }
  if (first >= grid.col_end) {
    return {first, first};
  }
  const int64_t fitting = (grid.u_end - (grid.x1 + first * grid.stride)) / grid.stride;
  return {first, first + std::min(fitting, grid.col_end - first)};
}

}  // namespace depth_detail

namespace
{

using depth_detail::BlockGrid;
using depth_detail::PointSink;

void setError(std::string * error, std::string reason)
{
  if (error != nullptr) {
    *error = std::move(reason);
  }
}

void resetCloud(pcl::PointCloud<pcl::PointXYZ> & cloud)
{
  cloud.points.clear();
  cloud.width = 0;
  cloud.height = 1;
  cloud.is_dense = true;
}

/// General path: scans every block, for any pixel type, byte order, stride and mask.
template <typename Reader, bool kMasked>
void convertBlocks(
  const DepthImageView & depth, const CameraIntrinsics & k, const BlockGrid & grid,
  const cv::Mat & mask, float depth_max, PointSink & sink)
{
  for (int64_t r = grid.row_first; r < grid.row_end; ++r) {
    for (int64_t c = grid.col_first; c < grid.col_end; ++c) {
      depth_detail::convertBlock<Reader, kMasked>(depth, k, grid, mask, depth_max, r, c, sink);
    }
  }
}

template <typename T>
void convertGeneral(
  const DepthImageView & depth, const CameraIntrinsics & k, const BlockGrid & grid,
  const cv::Mat & mask, float depth_max, PointSink & sink)
{
  using Native = depth_detail::PixelReader<T, false>;
  using Swapped = depth_detail::PixelReader<T, true>;
  const bool swap = depth.swap_bytes && sizeof(T) > 1;
  if (mask.empty()) {
    swap ? convertBlocks<Swapped, false>(depth, k, grid, mask, depth_max, sink)
         : convertBlocks<Native, false>(depth, k, grid, mask, depth_max, sink);
  } else {
    swap ? convertBlocks<Swapped, true>(depth, k, grid, mask, depth_max, sink)
         : convertBlocks<Native, true>(depth, k, grid, mask, depth_max, sink);
  }
}

void convertGeneral(
  const DepthImageView & depth, const CameraIntrinsics & k, const BlockGrid & grid,
  const cv::Mat & mask, float depth_max, PointSink & sink)
{
  switch (depth.pixel) {
    case DepthPixelType::kUint8:
      convertGeneral<uint8_t>(depth, k, grid, mask, depth_max, sink);
      break;
    case DepthPixelType::kInt8:
      convertGeneral<int8_t>(depth, k, grid, mask, depth_max, sink);
      break;
    case DepthPixelType::kUint16:
      convertGeneral<uint16_t>(depth, k, grid, mask, depth_max, sink);
      break;
    case DepthPixelType::kInt16:
      convertGeneral<int16_t>(depth, k, grid, mask, depth_max, sink);
      break;
    case DepthPixelType::kInt32:
      convertGeneral<int32_t>(depth, k, grid, mask, depth_max, sink);
      break;
    case DepthPixelType::kFloat32:
      convertGeneral<float>(depth, k, grid, mask, depth_max, sink);
      break;
    case DepthPixelType::kFloat64:
      convertGeneral<double>(depth, k, grid, mask, depth_max, sink);
      break;
  }
}

/// Checks the request against the image; an empty string means it can be converted.
std::string checkRequest(
  const DepthImageView & depth, const CameraIntrinsics & intrinsics,
  const RegionCloudRequest & region, float depth_max, int32_t stride)
{
  if (depth.data == nullptr || depth.width <= 0 || depth.height <= 0) {
    return "empty depth image";
  }
  if (stride < 1) {
    return "stride " + std::to_string(stride) + " is below 1";
  }
  if (!intrinsicsValid(intrinsics)) {
    return "camera intrinsics are not usable (zero or non-finite)";
  }
  if (std::isnan(depth_max)) {
    return "depth_max is not a number";
  }
  const std::string box = "(" + std::to_string(region.x1) + ", " + std::to_string(region.y1) +
                          ")-(" + std::to_string(region.x2) + ", " + std::to_string(region.y2) + ")";
  if (region.x1 > region.x2 || region.y1 > region.y2) {
    return "region " + box + " has its corners in reverse order";
  }
  const bool empty_region = region.x1 == region.x2 || region.y1 == region.y2;
  if (!empty_region && (region.x2 <= 0 || region.y2 <= 0 || region.x1 >= depth.width ||
                        region.y1 >= depth.height)) {
    return "region " + box + " lies outside the " + std::to_string(depth.width) + " x " +
           std::to_string(depth.height) + " image";
  }
  if (!region.mask.empty()) {
    if (region.mask.type() != CV_8UC1) {
      return "region mask is " + cv::typeToString(region.mask.type()) + ", expected CV_8UC1";
    }
    if (region.mask.cols != depth.width || region.mask.rows != depth.height) {
      return "region mask is " + std::to_string(region.mask.cols) + " x " +
             std::to_string(region.mask.rows) + ", the depth image " +
             std::to_string(depth.width) + " x " + std::to_string(depth.height);
    }
  }
  return {};
}

/// Points are finite for finite depths; only an unbounded far limit can let products overflow.
bool allFinite(const pcl::PointCloud<pcl::PointXYZ> & cloud, float depth_max)
{
  if (depth_max <= 1.0e18F) {
    return true;
  }
  return std::all_of(cloud.points.begin(), cloud.points.end(), [](const pcl::PointXYZ & p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
  });
}

}  // namespace

int64_t depthBlockCount(int64_t extent, int32_t stride)
{
  if (extent <= 0 || stride < 1) {
    return 0;
  }
  return (extent + stride - 1) / stride;
}

bool DepthToCloud(
  const DepthImageView & depth, const CameraIntrinsics & intrinsics,
  const RegionCloudRequest & region, float depth_max, int32_t stride,
  pcl::PointCloud<pcl::PointXYZ> & cloud, std::string * error)
{
  std::string reason = checkRequest(depth, intrinsics, region, depth_max, stride);
  if (!reason.empty()) {
    resetCloud(cloud);
    setError(error, std::move(reason));
    return false;
  }
  const BlockGrid grid = depth_detail::makeBlockGrid(region, stride, depth.width, depth.height);
  if (!grid.empty()) {
    // At most one point per block: one reservation serves the whole call.
    cloud.points.reserve(static_cast<std::size_t>(
      (grid.col_end - grid.col_first) * (grid.row_end - grid.row_first)));
  }
  PointSink sink(cloud);
  if (!grid.empty()) {
    if (depth_detail::fastPathApplies(depth, region, stride)) {
      depth_detail::convertFast(depth, intrinsics, grid, depth_max, sink);
    } else {
      convertGeneral(depth, intrinsics, grid, region.mask, depth_max, sink);
    }
  }
  sink.finish();
  cloud.width = static_cast<uint32_t>(cloud.points.size());
  cloud.height = 1;
  cloud.is_dense = allFinite(cloud, depth_max);
  return true;
}

bool DepthToCloud(
  const sensor_msgs::msg::Image & depth, const CameraIntrinsics & intrinsics,
  const RegionCloudRequest & region, float depth_max, int32_t stride,
  pcl::PointCloud<pcl::PointXYZ> & cloud, std::string * error)
{
  cloud.header.frame_id = depth.header.frame_id;
  cloud.header.stamp = static_cast<uint64_t>(depth.header.stamp.sec) * 1000000ULL +
                       depth.header.stamp.nanosec / 1000ULL;
  DepthImageView view;
  if (!makeDepthImageView(depth, view, error)) {
    resetCloud(cloud);
    return false;
  }
  return DepthToCloud(view, intrinsics, region, depth_max, stride, cloud, error);
}

bool DepthToCloud(
  const Cloud & context, const sensor_msgs::msg::Image & depth, float fx, float fy, float cx,
  float cy, const RegionCloudRequest & region, pcl::PointCloud<pcl::PointXYZ> & cloud,
  int32_t stride, std::string * error)
{
  return DepthToCloud(
    depth, CameraIntrinsics{fx, fy, cx, cy}, region, context.config().depth_max, stride, cloud,
    error);
}

}  // namespace nimbra
