// Middleware-free rules of the frame intake: nearest-stamp pairing, the task-state switch, and the
// checks that make an image message safe to read.
#pragma once

#include <string>
#include <vector>

#include <sensor_msgs/msg/image.hpp>

namespace nimbra
{

/// @brief Slot of `ring` whose stamp is nearest to `depth_stamp` (seconds), strictly nearer than
/// `depth_stamp` itself, so a never-written slot (stamp 0) is never chosen; ties keep the lower slot.
/// @return the slot index, or -1 when no slot qualifies
int nearestStampSlot(const std::vector<sensor_msgs::msg::Image> & ring, double depth_stamp);

/// @brief True when the task state switches the segmentation result off (state 8, sub-state not 400).
bool taskStateClosesAi(int32_t fsm_state, int32_t fsm_sub_state);

/// @brief Checks a colour message: sizes, step and data length, and an encoding the node decodes
/// to rgb8 (rgb8, bgr8, rgba8, bgra8, mono8).
/// @param reason  set when false is returned
bool colourImageUsable(const sensor_msgs::msg::Image & msg, std::string & reason);

/// @brief Checks a depth message: sizes, step, data length and a single-channel depth encoding.
/// @param reason  set when false is returned
bool depthImageUsable(const sensor_msgs::msg::Image & msg, std::string & reason);

}  // namespace nimbra
