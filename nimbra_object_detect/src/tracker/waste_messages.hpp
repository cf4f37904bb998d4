// Output messages of the trash tracker: the confirmed wastes and their markers.
#pragma once

#include <builtin_interfaces/msg/time.hpp>
#include <nimbra_protocol/msg/detected_wastes.hpp>
#include <visualization_msgs/msg/marker_array.hpp>

#include <cstdint>
#include <vector>

namespace orvix
{
namespace perception
{

/// A published waste: a copy of a confirmed track with its handling code.
struct ConfirmedWaste
{
  int32_t id = 0;           ///< track id
  double x = 0.0;           ///< position x in "map" [m]
  double y = 0.0;           ///< position y in "map" [m]
  double z = 0.0;           ///< position z in "map" [m]
  float distance = 0.0F;    ///< smallest camera distance seen [m]
  int32_t type = 0;         ///< voted class, a semantic::SemanticType value
  int32_t handle_code = 0;  ///< WasteHandleCode
};

/// @brief One entry per waste in list order; frame "map" when the list is not empty, else empty.
nimbra_protocol::msg::DetectedWastes BuildDetectedWastes(const std::vector<ConfirmedWaste> & wastes);

/// @brief One closed 2 cm square line strip per waste in namespace "tracker", red when the base
/// takes it, green otherwise, living 0.1 s.
visualization_msgs::msg::MarkerArray BuildWasteMarkers(
  const std::vector<ConfirmedWaste> & wastes, const builtin_interfaces::msg::Time & stamp);

/// @brief Current system-clock time as a message stamp.
builtin_interfaces::msg::Time SystemClockNow();

}  // namespace perception
}  // namespace orvix
