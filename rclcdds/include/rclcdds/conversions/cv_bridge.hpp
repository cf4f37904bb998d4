// sensor_msgs/Image <-> cv::Mat conversions (as cv_bridge), validating every message first.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include <opencv2/core/mat.hpp>

#include <sensor_msgs/msg/image.hpp>
#include <std_msgs/msg/header.hpp>

#include "rclcdds/conversions/image_encodings.hpp"

namespace rclcdds
{
namespace cv_bridge
{

/// A message or image that cannot be converted; the text says why.
class Exception : public std::runtime_error
{
public:
  explicit Exception(const std::string & what) : std::runtime_error(what) {}
};

/// An image with its header and encoding.
class CvImage
{
public:
  std_msgs::msg::Header header;  ///< stamp and frame of the image
  std::string encoding;          ///< one of image_encodings
  cv::Mat image;                 ///< pixels

  CvImage() = default;
  CvImage(const std_msgs::msg::Header & header_in, const std::string & encoding_in,
    const cv::Mat & image_in = cv::Mat())
  : header(header_in), encoding(encoding_in), image(image_in) {}

  /// Message holding a copy of the pixels (step = width x pixel size, native byte order).
  /// @throws Exception when `image`'s type does not match `encoding`
  sensor_msgs::msg::Image::SharedPtr toImageMsg() const;
  void toImageMsg(sensor_msgs::msg::Image & ros_image) const;

private:
  friend std::shared_ptr<const CvImage> toCvShare(
    const sensor_msgs::msg::Image &, const std::shared_ptr<const void> &, const std::string &);

  std::shared_ptr<const void> tracked_object_;  ///< keeps a shared message alive
};

using CvImagePtr = std::shared_ptr<CvImage>;
using CvImageConstPtr = std::shared_ptr<const CvImage>;

/// OpenCV type (CV_8UC3, CV_16UC1, ...) of an encoding. @throws Exception for an unknown one
int getCvType(const std::string & encoding);

/// Checks encoding, width, height, step and data size without reading a pixel.
/// @return false with the reason in `error` when the message is inconsistent
bool validateImage(const sensor_msgs::msg::Image & source, std::string * error);

/// Copies the image, converted to `encoding` (empty: the message's own). Supported targets of a
/// colour or mono image: rgb8, bgr8, rgba8, bgra8, mono8, mono16 (and 16-bit colour); between
/// non-colour encodings of equal channel count (16UC1 -> 32FC1, mono16 -> 16UC1, ...) values are
/// converted, with 8 <-> 16 bit scaling as cv_bridge does.
/// @throws Exception for an inconsistent message or an unsupported conversion
CvImagePtr toCvCopy(const sensor_msgs::msg::Image & source, const std::string & encoding = std::string());
CvImagePtr toCvCopy(
  const sensor_msgs::msg::Image::ConstSharedPtr & source, const std::string & encoding = std::string());

/// Shares the message's pixels when no conversion is needed (the result keeps the message
/// alive and must not be written to), otherwise copies as toCvCopy.
/// @throws Exception as toCvCopy
CvImageConstPtr toCvShare(
  const sensor_msgs::msg::Image::ConstSharedPtr & source, const std::string & encoding = std::string());
CvImageConstPtr toCvShare(
  const sensor_msgs::msg::Image & source, const std::shared_ptr<const void> & tracked_object,
  const std::string & encoding = std::string());

/// Converts an image to another encoding. @throws Exception for an unsupported conversion
CvImagePtr cvtColor(const CvImageConstPtr & source, const std::string & encoding);

}  // namespace cv_bridge
}  // namespace rclcdds
