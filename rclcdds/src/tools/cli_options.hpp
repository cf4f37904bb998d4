// Option values shared by the rclcdds_cli commands.
#pragma once

#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace rclcdds_cli
{

/// @brief The value of option `name` as a finite, non-negative number.
/// @throws std::invalid_argument naming the option otherwise
inline double non_negative_number(const std::string & name, const std::string & text)
{
  char * end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !std::isfinite(value) || value < 0) {
    throw std::invalid_argument("option " + name + " needs a non-negative number");
  }
  return value;
}

}  // namespace rclcdds_cli
