// Metadata delivered with a message (as rclcpp::MessageInfo).
#pragma once

#include <cstdint>

namespace rclcdds
{

/// Where and when a received message came from.
struct MessageInfo
{
  int64_t source_timestamp_ns{0};  ///< publisher's time stamp, ns since the epoch
  uint64_t publication_handle{0};  ///< DDS instance handle of the publishing writer
};

}  // namespace rclcdds
