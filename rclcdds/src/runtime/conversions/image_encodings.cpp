#include "rclcdds/conversions/image_encodings.hpp"

#include <cstdlib>

namespace rclcdds
{
namespace image_encodings
{

namespace
{
bool starts_with(const std::string & text, const char * prefix)
{
  return text.rfind(prefix, 0) == 0;
}

/// Parses "<bits><U|S|F>C<channels>"; false for other names.
bool parse_type(const std::string & encoding, int * bits, int * channels)
{
  const size_t c = encoding.find('C');
  if (c == std::string::npos || c < 2 || c + 2 != encoding.size()) {
    return false;
  }
  const char kind = encoding[c - 1];
  const std::string digits = encoding.substr(0, c - 1);
  if ((kind != 'U' && kind != 'S' && kind != 'F') ||
    (digits != "8" && digits != "16" && digits != "32" && digits != "64"))
  {
    return false;
  }
  const char ch = encoding[c + 1];
  if (ch < '1' || ch > '4') {
    return false;
  }
  *bits = std::atoi(digits.c_str());
  *channels = ch - '0';
  return true;
}
}  // namespace

bool isColor(const std::string & e)
{
  return e == RGB8 || e == BGR8 || e == RGBA8 || e == BGRA8 || e == RGB16 || e == BGR16 ||
         e == RGBA16 || e == BGRA16;
}

bool isMono(const std::string & e) {return e == MONO8 || e == MONO16;}

bool isBayer(const std::string & e) {return starts_with(e, "bayer_");}

bool hasAlpha(const std::string & e)
{
  return e == RGBA8 || e == BGRA8 || e == RGBA16 || e == BGRA16;
}

int numChannels(const std::string & e)
{
  if (e == MONO8 || e == MONO16 || isBayer(e)) {
    return 1;
  }
  if (e == RGB8 || e == BGR8 || e == RGB16 || e == BGR16) {
    return 3;
  }
  if (hasAlpha(e)) {
    return 4;
  }
  if (e == YUV422) {
    return 2;
  }
  int bits = 0;
  int channels = 0;
  return parse_type(e, &bits, &channels) ? channels : -1;
}

int bitDepth(const std::string & e)
{
  if (e == MONO16 || e == RGB16 || e == BGR16 || e == RGBA16 || e == BGRA16 ||
    (isBayer(e) && e.size() > 2 && e.compare(e.size() - 2, 2, "16") == 0))
  {
    return 16;
  }
  if (e == MONO8 || e == RGB8 || e == BGR8 || e == RGBA8 || e == BGRA8 || isBayer(e) || e == YUV422) {
    return 8;
  }
  int bits = 0;
  int channels = 0;
  return parse_type(e, &bits, &channels) ? bits : -1;
}

}  // namespace image_encodings
}  // namespace rclcdds
