#include "rclcdds/raw_writer.hpp"

#include <dds/dds.h>

#include <stdexcept>

#include "cdr_sertype.hpp"

namespace rclcdds
{

RawWriter::RawWriter(Context::SharedPtr context, EndpointDescription description)
: DdsEndpoint(std::move(context), std::move(description))
{
  create(true);
}

void RawWriter::write(SerializedMessage && payload)
{
  const auto * type = static_cast<const ddsi_sertype *>(sertype_);
  // dds_writecdr consumes the reference made here.
  const dds_return_t ret =
    dds_writecdr(entity_, detail::make_cdr_serdata(type, std::move(payload)));
  if (ret < 0) {
    throw std::runtime_error(
            "cannot publish on '" + topic_name() + "': " + dds_strretcode(ret));
  }
}

size_t RawWriter::matched_subscription_count() const
{
  dds_publication_matched_status_t status;
  if (dds_get_publication_matched_status(entity_, &status) < 0) {
    return 0;
  }
  return status.current_count;
}

std::vector<MatchedEndpoint> RawWriter::matched_subscriptions() const
{
  return matched_endpoints(entity_, false);
}

}  // namespace rclcdds
