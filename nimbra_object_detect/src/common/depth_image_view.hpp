// Non-owning, validated view of a single-channel depth image.
#pragma once

#include <opencv2/core/mat.hpp>
#include <sensor_msgs/msg/image.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

namespace nimbra
{

/// Pixel storage types a depth image may use.
enum class DepthPixelType
{
  kUint8,
  kInt8,
  kUint16,
  kInt16,
  kInt32,
  kFloat32,
  kFloat64,
};

/// @brief Bytes per pixel of `type`.
std::size_t depthPixelSize(DepthPixelType type);

/// Borrowed depth pixels; valid only while the image it was made from lives and stays unchanged.
struct DepthImageView
{
  const uint8_t * data = nullptr;                ///< first byte of row 0
  int32_t width = 0;                             ///< columns, pixels
  int32_t height = 0;                            ///< rows, pixels
  std::size_t step = 0;                          ///< bytes from one row to the next
  DepthPixelType pixel = DepthPixelType::kUint16; ///< storage type of one pixel
  bool swap_bytes = false;                       ///< pixels are stored in the other byte order
  float scale = 1.0F;                            ///< factor from stored value to metres
};

/// @brief Scale to metres implied by a ROS image encoding: 0.001 for "16UC1" and "mono16", else 1.
float depthScaleForEncoding(const std::string & encoding);

/// @brief Views a depth message after checking encoding, sizes, step and data length.
/// @param error  set to the reason when false is returned (may be null)
/// @return false when the message cannot be read safely; `view` is then left unchanged
bool makeDepthImageView(
  const sensor_msgs::msg::Image & message, DepthImageView & view, std::string * error = nullptr);

/// @brief Views a single-channel OpenCV image (8U, 8S, 16U, 16S, 32S, 32F or 64F) with `scale` to metres.
/// @return false for an empty or multi-channel image; `view` is then left unchanged
bool makeDepthImageView(
  const cv::Mat & image, float scale, DepthImageView & view, std::string * error = nullptr);

}  // namespace nimbra
