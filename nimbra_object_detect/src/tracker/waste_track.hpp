// One waste item followed by the trash tracker across frames and cameras.
#pragma once

#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace orvix
{
namespace perception
{

/// A tracked waste item in "map" with its hit and miss counts and its recent classes.
struct WasteTrack
{
  int32_t id = 0;                            ///< unique for the life of the tracker
  int32_t hits = 1;                          ///< observations merged into the track [count]
  int32_t missed = 0;                        ///< updates in view since the last match [count]
  double x = 0.0;                            ///< position x in "map" [m]
  double y = 0.0;                            ///< position y in "map" [m]
  double z = 0.0;                            ///< position z in "map" [m]
  float distance = FLT_MAX;                  ///< smallest camera distance of any merged observation [m]
  int32_t type = 0;                          ///< class, a semantic::SemanticType value (vote result once published)
  std::vector<float> size{-1.F, -1.F, -1.F}; ///< smoothed length, width, height [m]; negative = not estimated
  std::deque<int32_t> type_history;          ///< classes of the last matched observations, oldest first
};

/// Most classes kept in `WasteTrack::type_history`.
inline constexpr std::size_t kTypeHistoryLength = 30;

}  // namespace perception
}  // namespace orvix
