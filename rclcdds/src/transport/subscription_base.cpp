#include "rclcdds/subscription_base.hpp"

#include "transport_log.hpp"
#include "warning_limiter.hpp"

namespace rclcdds
{

SubscriptionBase::SubscriptionBase(
  Context::SharedPtr context, const std::string & topic_name, const MessageMembers & members,
  const QoS & qos, NodeEntities::WeakPtr node_entities)
: topic_name_(topic_name),
  members_(members),
  reader_(std::move(context), topic_endpoint_description(topic_name, members, qos)),
  node_entities_(std::move(node_entities)),
  malformed_warnings_(std::make_unique<detail::WarningLimiter>())
{
  if (auto entities = node_entities_.lock()) {
    entities->add_reader(reader_.gid());
  }
}

SubscriptionBase::~SubscriptionBase()
{
  if (auto entities = node_entities_.lock()) {
    entities->remove_reader(reader_.gid());
  }
}

bool SubscriptionBase::take_untyped(void * msg, MessageInfo & info)
{
  for (;;) {
    bool ok = false;
    const bool taken = reader_.take(
      [&](const uint8_t * data, size_t size, const SampleInfo & sample) {
        std::string error;
        ok = deserialize_message(members_, data, size, msg, nullptr, &error);
        if (!ok) {
          ++dropped_;
          uint64_t suppressed = 0;
          if (malformed_warnings_->allow(suppressed)) {
            detail::transport_logger()->warn(
              "dropped a malformed {} message on '{}' ({} bytes): {}{}",
              dds_type_name(members_), topic_name_, size, error,
              detail::WarningLimiter::suffix(suppressed));
          }
          return;
        }
        info.source_timestamp_ns = sample.source_timestamp_ns;
        info.publication_handle = sample.publication_handle;
      });
    if (!taken) {
      return false;
    }
    if (ok) {
      return true;
    }
  }
}

}  // namespace rclcdds
