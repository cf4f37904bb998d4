// DDS writer of ready-made CDR payloads (used by publishers, service servers and clients).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "rclcdds/dds_endpoint.hpp"
#include "rclcdds/serialized_message.hpp"

namespace rclcdds
{

/// Writes CDR blobs on one DDS topic; the bytes are handed to DDS without another copy.
class RawWriter : public DdsEndpoint
{
public:
  using SharedPtr = std::shared_ptr<RawWriter>;

  /// @throws std::runtime_error when DDS refuses the topic or the writer
  RawWriter(Context::SharedPtr context, EndpointDescription description);

  /// Writes one payload (encapsulation header included), taking over its buffer.
  /// @throws std::runtime_error on a DDS error
  void write(SerializedMessage && payload);

  /// Number of readers currently matched.
  size_t matched_subscription_count() const;

  /// The matched readers with their GUIDs and USER_DATA.
  std::vector<MatchedEndpoint> matched_subscriptions() const;
};

}  // namespace rclcdds
