#include "rclcdds/raw_reader.hpp"

#include <dds/dds.h>

#include <stdexcept>

#include "cdr_sertype.hpp"

namespace rclcdds
{

RawReader::RawReader(Context::SharedPtr context, EndpointDescription description)
: DdsEndpoint(std::move(context), std::move(description))
{
  create(false);
  const dds_entity_t condition = dds_create_readcondition(entity_, DDS_ANY_STATE);
  if (condition < 0) {
    throw std::runtime_error(
            "cannot create a read condition on '" + topic_name() + "': " +
            dds_strretcode(condition));
  }
  read_condition_ = condition;
}

RawReader::~RawReader()
{
  if (read_condition_ > 0) {
    dds_delete(read_condition_);
  }
}

bool RawReader::take(const Visitor & visitor)
{
  for (;;) {
    ddsi_serdata * sample = nullptr;
    dds_sample_info_t info;
    const dds_return_t n = dds_takecdr(entity_, &sample, 1, &info, DDS_ANY_STATE);
    if (n <= 0) {
      return false;
    }
    if (info.valid_data) {
      const auto * cdr = static_cast<const detail::CdrSerdata *>(sample);
      SampleInfo sample_info;
      sample_info.source_timestamp_ns = info.source_timestamp;
      sample_info.publication_handle = info.publication_handle;
      try {
        visitor(cdr->payload.data(), cdr->payload.size(), sample_info);
      } catch (...) {
        ddsi_serdata_unref(sample);
        throw;
      }
      ddsi_serdata_unref(sample);
      return true;
    }
    // Writer gone or disposed: no data, nothing to deliver.
    ddsi_serdata_unref(sample);
  }
}

size_t RawReader::matched_publication_count() const
{
  dds_subscription_matched_status_t status;
  if (dds_get_subscription_matched_status(entity_, &status) < 0) {
    return 0;
  }
  return status.current_count;
}

std::vector<MatchedEndpoint> RawReader::matched_publications() const
{
  return matched_endpoints(entity_, true);
}

}  // namespace rclcdds
