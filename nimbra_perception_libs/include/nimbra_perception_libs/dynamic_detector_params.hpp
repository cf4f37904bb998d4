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
  float object_grid_step = 0.05F;  ///< x-y cell size grouping obstacle points into objects (neighbour cells join), m
  float object_max_extent = 1.6F;  ///< wider groups (walls) keep per-point labels instead of moving whole, m
  int object_min_seeds = 4;        ///< seen-through points an object needs in a frame to count as evidence
  float object_min_seed_share = 0.03F;  ///< and their least share of the object's points
  float object_max_held_share = 0.3F;   ///< an object next to a vacated place moves if at most this share was seen in place
  int confirm_frames = 2;          ///< frames with evidence before an object turns moving
  int track_memory = 8;            ///< frames an object stays moving after its last evidence, frames
  float track_gate = 0.5F;         ///< largest distance of an object from a moving object's predicted place, m
  float track_growth = 0.1F;       ///< a moving object's footprint may grow this much a frame beyond its predicted place, m
  int motion_frames = 8;           ///< frames of a followed object's path judged for motion (0: off), frames
  float motion_min_distance = 0.25F;  ///< straight displacement over that path that makes an object moving, m
  float track_min_step = 0.01F;    ///< a moving object followed at this speed or more needs no new evidence, m/frame
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
