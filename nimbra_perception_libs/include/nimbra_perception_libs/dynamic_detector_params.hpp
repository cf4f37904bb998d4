// Configuration of the dynamic-point detector and its YAML loader.
#pragma once

#include <stdexcept>
#include <string>

namespace orvix
{
namespace perception
{

/// Start-up configuration error; the message names the file, the key and the expected type.
class ConfigError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// Parameters of DynamicCloudDetector (file keys carry the same names).
struct DynamicDetectorParams
{
  int history_frames = 10;         ///< past depth frames kept for comparison (short memory), frames
  int min_votes = 2;               ///< past frames that must have seen through a point to call it moving
  float min_depth_gap = 0.08F;     ///< see-through margin at any range, m
  float depth_gap_ratio = 0.02F;   ///< see-through margin added per metre of range, m/m
  float min_depth = 0.1F;          ///< depth readings below this are invalid, m
  float max_depth = 4.0F;          ///< depth readings and points beyond this are ignored, m
  int depth_downsample = 2;        ///< min-pooling factor of stored depth images, pixels
  float match_tolerance = 0.05F;   ///< DivideCloud: depth tolerance against the point seen at the same pixel, m
  float reset_distance = 1.0F;     ///< a base pose jump larger than this between frames clears the history, m
};

/// Reads a YAML file holding the map "dynamic_cloud_detector" with the keys of DynamicDetectorParams.
/// Absent keys keep their defaults.
/// @throws ConfigError when the file is missing or malformed, a key is unknown, has the wrong type or is
///   out of range
DynamicDetectorParams loadDynamicDetectorParams(const std::string & path);

/// Checks the ranges of every field.
/// @return an empty string when valid, else the name of the first bad field and its allowed range
std::string validateDynamicDetectorParams(const DynamicDetectorParams & params);

}  // namespace perception
}  // namespace orvix
