// Type-erased part of a subscription: DDS reader, read condition, deserialisation of samples.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "rclcdds/message_info.hpp"
#include "rclcdds/node_entities.hpp"
#include "rclcdds/qos.hpp"
#include "rclcdds/raw_reader.hpp"
#include "rclcdds/serialization.hpp"
#include "rclcdds/waitable.hpp"

namespace rclcdds
{

namespace detail
{
class WarningLimiter;
}  // namespace detail

/// Subscription of one topic; an executor waits on its read condition.
class SubscriptionBase : public Waitable
{
public:
  using SharedPtr = std::shared_ptr<SubscriptionBase>;
  using WeakPtr = std::weak_ptr<SubscriptionBase>;

  /// @param topic_name fully qualified ROS topic name
  /// @throws std::runtime_error when DDS refuses the reader
  SubscriptionBase(
    Context::SharedPtr context, const std::string & topic_name, const MessageMembers & members,
    const QoS & qos, NodeEntities::WeakPtr node_entities = {});
  ~SubscriptionBase() override;

  /// Fully qualified ROS topic name.
  const char * get_topic_name() const {return topic_name_.c_str();}
  /// Number of matched publishers (any process).
  size_t get_publisher_count() const {return reader_.matched_publication_count();}
  /// QoS the subscription was created with.
  const QoS & get_actual_qos() const {return reader_.qos();}
  /// ROS 2 GID of the DDS reader.
  Gid get_gid() const {return reader_.gid();}
  /// Messages dropped because their CDR was malformed.
  uint64_t dropped_count() const {return dropped_.load();}

  int32_t get_wait_entity() const override {return reader_.read_condition();}

protected:
  /// Takes the next well-formed sample into `msg` (a constructed message of the subscription's
  /// type). Malformed samples are dropped and counted; their warnings are rate-limited per
  /// subscription. False when none is waiting.
  bool take_untyped(void * msg, MessageInfo & info);

  std::string topic_name_;
  const MessageMembers & members_;
  RawReader reader_;
  NodeEntities::WeakPtr node_entities_;
  std::atomic<uint64_t> dropped_{0};
  std::unique_ptr<detail::WarningLimiter> malformed_warnings_;  ///< one line per period
};

}  // namespace rclcdds
