#include "common/depth_image_view.hpp"

#include <opencv2/core.hpp>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

namespace nimbra
{
namespace
{

void setError(std::string * error, std::string reason)
{
  if (error != nullptr) {
    *error = std::move(reason);
  }
}

/// Maps a single-channel ROS encoding to its pixel type; false for anything else.
bool pixelTypeForEncoding(const std::string & encoding, DepthPixelType & type)
{
  struct Entry
  {
    const char * encoding;
    DepthPixelType type;
  };
  static const Entry kTable[] = {
    {"16UC1", DepthPixelType::kUint16}, {"mono16", DepthPixelType::kUint16},
    {"32FC1", DepthPixelType::kFloat32}, {"64FC1", DepthPixelType::kFloat64},
    {"16SC1", DepthPixelType::kInt16},  {"32SC1", DepthPixelType::kInt32},
    {"8UC1", DepthPixelType::kUint8},   {"mono8", DepthPixelType::kUint8},
    {"8SC1", DepthPixelType::kInt8},
  };
  for (const Entry & entry : kTable) {
    if (encoding == entry.encoding) {
      type = entry.type;
      return true;
    }
  }
  return false;
}

bool hostIsBigEndian()
{
  const uint16_t probe = 1;
  uint8_t first = 0;
  std::memcpy(&first, &probe, 1);
  return first == 0;
}

}  // namespace

std::size_t depthPixelSize(DepthPixelType type)
{
  switch (type) {
    case DepthPixelType::kUint8:
    case DepthPixelType::kInt8:
      return 1;
    case DepthPixelType::kUint16:
    case DepthPixelType::kInt16:
      return 2;
    case DepthPixelType::kInt32:
    case DepthPixelType::kFloat32:
      return 4;
    case DepthPixelType::kFloat64:
      return 8;
  }
  return 0;
}

float depthScaleForEncoding(const std::string & encoding)
{
  return (encoding == "mono16" || encoding == "16UC1") ? 0.001F : 1.0F;
}

bool makeDepthImageView(
  const sensor_msgs::msg::Image & message, DepthImageView & view, std::string * error)
{
  DepthPixelType type = DepthPixelType::kUint16;
  if (!pixelTypeForEncoding(message.encoding, type)) {
    setError(error, "unsupported depth encoding \"" + message.encoding + "\"");
    return false;
  }
  if (message.width == 0 || message.height == 0) {
    setError(
      error, "empty depth image (" + std::to_string(message.width) + " x " +
               std::to_string(message.height) + ")");
    return false;
  }
  if (message.width > static_cast<uint32_t>(INT32_MAX) ||
      message.height > static_cast<uint32_t>(INT32_MAX)) {
    setError(error, "depth image size out of range");
    return false;
  }
  const uint64_t row_bytes = static_cast<uint64_t>(message.width) * depthPixelSize(type);
  if (message.step < row_bytes) {
    setError(
      error, "depth step " + std::to_string(message.step) + " is smaller than width x pixel size " +
               std::to_string(row_bytes));
    return false;
  }
  const uint64_t needed = static_cast<uint64_t>(message.height) * message.step;
  if (message.data.size() < needed) {
    setError(
      error, "depth data holds " + std::to_string(message.data.size()) +
               " bytes, height x step needs " + std::to_string(needed));
    return false;
  }
  view.data = message.data.data();
  view.width = static_cast<int32_t>(message.width);
  view.height = static_cast<int32_t>(message.height);
  view.step = message.step;
  view.pixel = type;
  view.swap_bytes = depthPixelSize(type) > 1 && ((message.is_bigendian != 0) != hostIsBigEndian());
  view.scale = depthScaleForEncoding(message.encoding);
  return true;
}

bool makeDepthImageView(
  const cv::Mat & image, float scale, DepthImageView & view, std::string * error)
{
  if (image.empty() || image.dims != 2) {
    setError(error, "empty depth image");
    return false;
  }
  if (image.channels() != 1) {
    setError(error, "depth image has " + std::to_string(image.channels()) + " channels, expected 1");
    return false;
  }
  DepthPixelType type = DepthPixelType::kUint16;
  switch (image.depth()) {
    case CV_8U: type = DepthPixelType::kUint8; break;
    case CV_8S: type = DepthPixelType::kInt8; break;
    case CV_16U: type = DepthPixelType::kUint16; break;
    case CV_16S: type = DepthPixelType::kInt16; break;
    case CV_32S: type = DepthPixelType::kInt32; break;
    case CV_32F: type = DepthPixelType::kFloat32; break;
    case CV_64F: type = DepthPixelType::kFloat64; break;
    default:
      setError(error, "unsupported depth image type " + cv::typeToString(image.type()));
      return false;
  }
  view.data = image.data;
  view.width = image.cols;
  view.height = image.rows;
  view.step = image.step[0];
  view.pixel = type;
  view.swap_bytes = false;
  view.scale = scale;
  return true;
}

}  // namespace nimbra
