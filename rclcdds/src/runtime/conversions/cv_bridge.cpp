#include "rclcdds/conversions/cv_bridge.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace rclcdds
{
namespace cv_bridge
{

namespace enc = image_encodings;

namespace
{

enum class Layout {kGray, kRgb, kBgr, kRgba, kBgra, kNone};

Layout layout_of(const std::string & e)
{
  if (enc::isMono(e)) {
    return Layout::kGray;
  }
  if (e == enc::RGB8 || e == enc::RGB16) {
    return Layout::kRgb;
  }
  if (e == enc::BGR8 || e == enc::BGR16) {
    return Layout::kBgr;
  }
  if (e == enc::RGBA8 || e == enc::RGBA16) {
    return Layout::kRgba;
  }
  if (e == enc::BGRA8 || e == enc::BGRA16) {
    return Layout::kBgra;
  }
  return Layout::kNone;
}

/// OpenCV colour conversion code between two layouts; -1 when they are equal.
int color_code(Layout from, Layout to)
{
  if (from == to) {
    return -1;
  }
  static const std::map<std::pair<Layout, Layout>, int> codes = {
    {{Layout::kGray, Layout::kRgb}, cv::COLOR_GRAY2RGB},
    {{Layout::kGray, Layout::kBgr}, cv::COLOR_GRAY2BGR},
    {{Layout::kGray, Layout::kRgba}, cv::COLOR_GRAY2RGBA},
    {{Layout::kGray, Layout::kBgra}, cv::COLOR_GRAY2BGRA},
    {{Layout::kRgb, Layout::kGray}, cv::COLOR_RGB2GRAY},
    {{Layout::kRgb, Layout::kBgr}, cv::COLOR_RGB2BGR},
    {{Layout::kRgb, Layout::kRgba}, cv::COLOR_RGB2RGBA},
    {{Layout::kRgb, Layout::kBgra}, cv::COLOR_RGB2BGRA},
    {{Layout::kBgr, Layout::kGray}, cv::COLOR_BGR2GRAY},
    {{Layout::kBgr, Layout::kRgb}, cv::COLOR_BGR2RGB},
    {{Layout::kBgr, Layout::kRgba}, cv::COLOR_BGR2RGBA},
    {{Layout::kBgr, Layout::kBgra}, cv::COLOR_BGR2BGRA},
    {{Layout::kRgba, Layout::kGray}, cv::COLOR_RGBA2GRAY},
    {{Layout::kRgba, Layout::kRgb}, cv::COLOR_RGBA2RGB},
    {{Layout::kRgba, Layout::kBgr}, cv::COLOR_RGBA2BGR},
    {{Layout::kRgba, Layout::kBgra}, cv::COLOR_RGBA2BGRA},
    {{Layout::kBgra, Layout::kGray}, cv::COLOR_BGRA2GRAY},
    {{Layout::kBgra, Layout::kRgb}, cv::COLOR_BGRA2RGB},
    {{Layout::kBgra, Layout::kBgr}, cv::COLOR_BGRA2BGR},
    {{Layout::kBgra, Layout::kRgba}, cv::COLOR_BGRA2RGBA},
  };
  return codes.at({from, to});
}

/// Changes the depth to that of `dst_type`, scaling between 8 and 16 bits as cv_bridge does.
cv::Mat convert_depth(const cv::Mat & src, int src_bits, int dst_bits, int dst_type)
{
  const int type = CV_MAKETYPE(CV_MAT_DEPTH(dst_type), src.channels());
  if (src.type() == type) {
    return src;
  }
  double scale = 1.0;
  if (src_bits == 8 && dst_bits == 16) {
    scale = 65535.0 / 255.0;
  } else if (src_bits == 16 && dst_bits == 8) {
    scale = 255.0 / 65535.0;
  }
  cv::Mat out;
  src.convertTo(out, type, scale);
  return out;
}

cv::Mat convert(const cv::Mat & src, const std::string & from, const std::string & to)
{
  const int dst_type = getCvType(to);
  const bool from_color = enc::isColor(from) || enc::isMono(from);
  const bool to_color = enc::isColor(to) || enc::isMono(to);
  if (!from_color) {
    if (to_color) {
      throw Exception(
              "cannot convert [" + from + "] to [" + to + "]: the source is not a colour format");
    }
    if (enc::numChannels(from) != enc::numChannels(to)) {
      throw Exception(
              "cannot convert [" + from + "] to [" + to + "]: they have different channel counts");
    }
    return convert_depth(src, enc::bitDepth(from), enc::bitDepth(to), dst_type);
  }
  if (!to_color) {
    if (enc::numChannels(from) != enc::numChannels(to)) {
      throw Exception(
              "cannot convert [" + from + "] to [" + to + "]: a colour source converts only to a "
              "non-colour type with the same channel count");
    }
    return convert_depth(src, enc::bitDepth(from), enc::bitDepth(to), dst_type);
  }
  // A fresh destination: the source may be a view of the caller's message.
  cv::Mat colored;
  const int code = color_code(layout_of(from), layout_of(to));
  if (code >= 0) {
    cv::cvtColor(src, colored, code);
  } else {
    colored = src;
  }
  return convert_depth(colored, enc::bitDepth(from), enc::bitDepth(to), dst_type);
}

bool host_is_big_endian()
{
  const uint16_t probe = 1;
  uint8_t first = 0;
  std::memcpy(&first, &probe, 1);
  return first == 0;
}

/// Pixels of a validated message as a matrix; `view` shares the message's bytes when the step
/// allows, otherwise it is a packed copy. Byte order is fixed to the host's.
cv::Mat message_pixels(const sensor_msgs::msg::Image & source, int type, bool * shares)
{
  const size_t row_bytes = static_cast<size_t>(source.width) * CV_ELEM_SIZE(type);
  const size_t elem1 = CV_ELEM_SIZE1(type);
  const bool swap = elem1 > 1 && (source.is_bigendian != 0) != host_is_big_endian();
  const bool shareable = !swap && source.step % elem1 == 0;
  *shares = shareable;
  if (source.height == 0 || source.width == 0) {
    *shares = false;
    return cv::Mat(static_cast<int>(source.height), static_cast<int>(source.width), type);
  }
  if (shareable) {
    return cv::Mat(
      static_cast<int>(source.height), static_cast<int>(source.width), type,
      const_cast<uint8_t *>(source.data.data()), source.step);
  }
  cv::Mat packed(static_cast<int>(source.height), static_cast<int>(source.width), type);
  for (uint32_t r = 0; r < source.height; ++r) {
    std::memcpy(packed.ptr(static_cast<int>(r)), source.data.data() + r * source.step, row_bytes);
  }
  if (swap) {
    uint8_t * bytes = packed.data;
    const size_t total = packed.total() * packed.elemSize();
    for (size_t i = 0; i < total; i += elem1) {
      std::reverse(bytes + i, bytes + i + elem1);
    }
  }
  return packed;
}

}  // namespace

int getCvType(const std::string & encoding)
{
  if (encoding == enc::BGR8 || encoding == enc::RGB8) {return CV_8UC3;}
  if (encoding == enc::MONO8) {return CV_8UC1;}
  if (encoding == enc::RGBA8 || encoding == enc::BGRA8) {return CV_8UC4;}
  if (encoding == enc::BGR16 || encoding == enc::RGB16) {return CV_16UC3;}
  if (encoding == enc::MONO16) {return CV_16UC1;}
  if (encoding == enc::RGBA16 || encoding == enc::BGRA16) {return CV_16UC4;}
  if (encoding == enc::YUV422) {return CV_8UC2;}
  if (enc::isBayer(encoding)) {return enc::bitDepth(encoding) == 16 ? CV_16UC1 : CV_8UC1;}
  const int channels = enc::numChannels(encoding);
  const int bits = enc::bitDepth(encoding);
  if (channels > 0 && bits > 0) {
    const char kind = encoding[encoding.find('C') - 1];
    int depth = -1;
    if (kind == 'U' && bits == 8) {depth = CV_8U;}
    if (kind == 'S' && bits == 8) {depth = CV_8S;}
    if (kind == 'U' && bits == 16) {depth = CV_16U;}
    if (kind == 'S' && bits == 16) {depth = CV_16S;}
    if (kind == 'S' && bits == 32) {depth = CV_32S;}
    if (kind == 'F' && bits == 32) {depth = CV_32F;}
    if (kind == 'F' && bits == 64) {depth = CV_64F;}
    if (depth >= 0) {
      return CV_MAKETYPE(depth, channels);
    }
  }
  throw Exception("Unrecognized image encoding [" + encoding + "]");
}

bool validateImage(const sensor_msgs::msg::Image & source, std::string * error)
{
  const auto fail = [&](const std::string & why) {
      if (error) {
        *error = "invalid image (" + std::to_string(source.width) + "x" +
          std::to_string(source.height) + ", encoding [" + source.encoding + "]): " + why;
      }
      return false;
    };
  int type = 0;
  try {
    type = getCvType(source.encoding);
  } catch (const Exception & e) {
    return fail(e.what());
  }
  const uint64_t pixel_bytes = CV_ELEM_SIZE(type);
  const uint64_t min_step = static_cast<uint64_t>(source.width) * pixel_bytes;
  if (source.step < min_step) {
    return fail(
      "step " + std::to_string(source.step) + " is smaller than width x " +
      std::to_string(pixel_bytes) + " bytes = " + std::to_string(min_step));
  }
  const uint64_t expected = static_cast<uint64_t>(source.height) * source.step;
  if (source.data.size() != expected) {
    return fail(
      "data holds " + std::to_string(source.data.size()) + " bytes, height x step = " +
      std::to_string(expected));
  }
  if (source.width > static_cast<uint32_t>(std::numeric_limits<int>::max()) ||
    source.height > static_cast<uint32_t>(std::numeric_limits<int>::max()))
  {
    return fail("width or height exceeds what an image can hold");
  }
  return true;
}

CvImagePtr toCvCopy(const sensor_msgs::msg::Image & source, const std::string & encoding)
{
  std::string error;
  if (!validateImage(source, &error)) {
    throw Exception(error);
  }
  const int type = getCvType(source.encoding);
  bool shares = false;
  const cv::Mat pixels = message_pixels(source, type, &shares);
  auto out = std::make_shared<CvImage>();
  out->header = source.header;
  out->encoding = encoding.empty() ? source.encoding : encoding;
  if (out->encoding == source.encoding) {
    out->image = shares ? pixels.clone() : pixels;
  } else {
    const cv::Mat converted = convert(pixels, source.encoding, out->encoding);
    // A conversion that changed nothing may still point into the message.
    out->image = converted.data == pixels.data && shares ? converted.clone() : converted;
  }
  return out;
}

CvImagePtr toCvCopy(
  const sensor_msgs::msg::Image::ConstSharedPtr & source, const std::string & encoding)
{
  if (!source) {
    throw Exception("null image message");
  }
  return toCvCopy(*source, encoding);
}

CvImageConstPtr toCvShare(
  const sensor_msgs::msg::Image & source, const std::shared_ptr<const void> & tracked_object,
  const std::string & encoding)
{
  if (!encoding.empty() && encoding != source.encoding) {
    return toCvCopy(source, encoding);
  }
  std::string error;
  if (!validateImage(source, &error)) {
    throw Exception(error);
  }
  bool shares = false;
  const cv::Mat pixels = message_pixels(source, getCvType(source.encoding), &shares);
  auto out = std::make_shared<CvImage>(source.header, source.encoding, pixels);
  if (shares) {
    out->tracked_object_ = tracked_object;
  }
  return out;
}

CvImageConstPtr toCvShare(
  const sensor_msgs::msg::Image::ConstSharedPtr & source, const std::string & encoding)
{
  if (!source) {
    throw Exception("null image message");
  }
  return toCvShare(*source, source, encoding);
}

CvImagePtr cvtColor(const CvImageConstPtr & source, const std::string & encoding)
{
  if (!source) {
    throw Exception("null image");
  }
  if (source->image.type() != getCvType(source->encoding)) {
    throw Exception("image type does not match its encoding [" + source->encoding + "]");
  }
  auto out = std::make_shared<CvImage>(source->header, encoding);
  out->image = encoding == source->encoding ? source->image.clone() :
    convert(source->image, source->encoding, encoding);
  if (out->image.data == source->image.data) {
    out->image = out->image.clone();
  }
  return out;
}

void CvImage::toImageMsg(sensor_msgs::msg::Image & ros_image) const
{
  const int expected = getCvType(encoding);
  if (!image.empty() && image.type() != expected) {
    throw Exception(
            "image type " + std::to_string(image.type()) + " does not match encoding [" + encoding +
            "] (type " + std::to_string(expected) + ")");
  }
  ros_image.header = header;
  ros_image.height = static_cast<uint32_t>(image.rows);
  ros_image.width = static_cast<uint32_t>(image.cols);
  ros_image.encoding = encoding;
  ros_image.is_bigendian = host_is_big_endian();
  ros_image.step = static_cast<uint32_t>(image.cols * image.elemSize());
  const size_t size = static_cast<size_t>(ros_image.step) * image.rows;
  ros_image.data.resize(size);
  if (size == 0) {
    return;
  }
  if (image.isContinuous()) {
    std::memcpy(ros_image.data.data(), image.data, size);
  } else {
    for (int r = 0; r < image.rows; ++r) {
      std::memcpy(ros_image.data.data() + static_cast<size_t>(r) * ros_image.step, image.ptr(r), ros_image.step);
    }
  }
}

sensor_msgs::msg::Image::SharedPtr CvImage::toImageMsg() const
{
  auto msg = std::make_shared<sensor_msgs::msg::Image>();
  toImageMsg(*msg);
  return msg;
}

}  // namespace cv_bridge
}  // namespace rclcdds
