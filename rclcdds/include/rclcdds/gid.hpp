// Global identifier of a DDS reader or writer, as ROS 2 announces it.
#pragma once

#include <array>
#include <cstdint>

namespace rclcdds
{

/// 16-byte DDS GUID followed by 8 zero bytes (rmw_gid_t of rmw_cyclonedds).
using Gid = std::array<uint8_t, 24>;

/// 16-byte DDS GUID (participant prefix + entity id).
using Guid = std::array<uint8_t, 16>;

}  // namespace rclcdds
