// Parameters of the trash tracker and their loader from the tracker YAML file.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>

namespace orvix
{
namespace perception
{

/// Raised when the tracker configuration cannot be read or holds a bad value; names file and key.
class TrackerConfigError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// Association, retention and handling parameters of `TrashTracker`.
struct TrashTrackerConfig
{
  float dist_thres = 0.3F;                      ///< association and new-track distance [m]
  int32_t min_age_threshold = 3;                ///< hits before a track is published [count]
  int32_t max_retain_time = 10;                 ///< in-view misses above which a track is removed [count]
  float cache_radius = 5.0F;                    ///< tracks farther from the robot are dropped [m]
  float sensor_range_rate = 0.8F;               ///< centred fraction of each image side that counts as in view [-]
  std::array<float, 4> footprint_box{{-0.35F, -0.3F, 0.45F, 0.3F}};  ///< min x, min y, max x, max y in "base_footprint" [m]
  float base_handle_waste_height_metric = 0.03F;  ///< tallest uncertain item the base may take [m]
  float base_handle_waste_length_metric = 0.15F;  ///< longest/widest uncertain item the base may take [m]
  std::set<int32_t> base_handle_class;          ///< classes the base always takes (code 1)
  std::set<int32_t> arm_handle_class;           ///< classes the arm takes (code 101)
  std::set<int32_t> uncertain_class;            ///< classes decided by size (code 1 or 151)
  int32_t class_num = 10;                       ///< number of trash classes; informational only

  /// @brief Empty when every value is usable, otherwise the first problem, naming the key.
  std::string Check() const;
};

/**
 * @brief Reads every key of the tracker file; class names are matched in any letter case and
 * unknown or null entries are skipped with a warning.
 * @throws TrackerConfigError naming the file, the key and the expected form when the file cannot be
 * read or parsed, a key is missing, has the wrong form or an unusable value.
 */
TrashTrackerConfig LoadTrashTrackerConfig(const std::string & path);

}  // namespace perception
}  // namespace orvix
