// One accepted trash measurement handed by a trash worker to the tracker.
#pragma once

#include <cfloat>
#include <cstdint>
#include <vector>

namespace orvix
{
namespace perception
{

/// A trash instance measured in one frame: position in "map", camera distance, class and size.
struct WasteObservation
{
  double x = 0.0;                            ///< centroid x in "map" [m]
  double y = 0.0;                            ///< centroid y in "map" [m]
  double z = 0.0;                            ///< centroid z in "map" [m]
  float distance = FLT_MAX;                  ///< centroid distance from the camera [m]
  int32_t type = 0;                          ///< class, a semantic::SemanticType value
  std::vector<float> size{-1.F, -1.F, -1.F}; ///< length, width, height in "base_footprint" [m]; -1 = not estimated
};

}  // namespace perception
}  // namespace orvix
