// DDS reader of CDR payloads (used by subscriptions, service servers and clients).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "rclcdds/dds_endpoint.hpp"

namespace rclcdds
{

/// Metadata of one received sample.
struct SampleInfo
{
  int64_t source_timestamp_ns{0};   ///< writer's time stamp, ns since the epoch
  uint64_t publication_handle{0};   ///< DDS instance handle of the writer
};

/// Takes CDR blobs from one DDS topic; each is lent to a visitor, no copy made.
class RawReader : public DdsEndpoint
{
public:
  using SharedPtr = std::shared_ptr<RawReader>;
  /// Sees one payload (encapsulation header included); valid only during the call.
  using Visitor = std::function<void (const uint8_t * data, size_t size, const SampleInfo & info)>;

  /// @throws std::runtime_error when DDS refuses the topic, the reader or its read condition
  RawReader(Context::SharedPtr context, EndpointDescription description);
  ~RawReader() override;

  /// Takes the next sample carrying data, passing it to `visitor`; false when none is waiting.
  bool take(const Visitor & visitor);

  /// Read condition (dds_entity_t) that triggers while samples are waiting.
  int32_t read_condition() const {return read_condition_;}

  /// Number of writers currently matched.
  size_t matched_publication_count() const;

  /// The matched writers with their GUIDs and USER_DATA.
  std::vector<MatchedEndpoint> matched_publications() const;

private:
  int32_t read_condition_{0};
};

}  // namespace rclcdds
