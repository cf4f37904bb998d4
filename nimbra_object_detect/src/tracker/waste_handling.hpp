// Class vote over a track's recent observations and the handling code a confirmed waste gets.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "tracker/trash_tracker_config.hpp"

namespace orvix
{
namespace perception
{

/// Who deals with a confirmed waste, as published in `DetectedWastes::handle_types`.
enum WasteHandleCode : int32_t
{
  kHandleByBase = 1,         ///< the cleaning base takes it
  kHandleByArm = 101,        ///< the arm picks it up
  kHandleUnlisted = 102,     ///< class in no handling list
  kHandleUncertain = 151,    ///< uncertain class, size unknown or too large for the base
};

/// Handling codes up to this value mean the base takes the item (drawn red).
inline constexpr int32_t kLastBaseHandleCode = 100;

/**
 * @brief Most frequent class in `history`; ties go to the smaller class value.
 * @return the winner, or `current` when the history is empty.
 */
int32_t VoteType(const std::deque<int32_t> & history, int32_t current);

/**
 * @brief Handling code of a waste of class `type` and size (length, width, height) [m]:
 * base list 1, arm list 101, uncertain list 1 when the whole size is known, positive and within the
 * base limits and 151 otherwise, any other class 102.
 */
int32_t ChooseHandleCode(
  int32_t type, const std::vector<float> & size, const TrashTrackerConfig & config);

}  // namespace perception
}  // namespace orvix
