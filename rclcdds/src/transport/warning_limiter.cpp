#include "warning_limiter.hpp"

#include <cstdio>

namespace rclcdds
{
namespace detail
{

std::string printable(const std::string & text, size_t max_length)
{
  std::string out;
  const size_t shown = text.size() < max_length ? text.size() : max_length;
  out.reserve(shown + 8);
  for (size_t i = 0; i < shown; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c >= 0x7f || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (shown < text.size()) {
    out += "...";
  }
  return out;
}

}  // namespace detail
}  // namespace rclcdds
