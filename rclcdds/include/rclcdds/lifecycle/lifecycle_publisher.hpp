// Publisher that sends only while its lifecycle node is active (as rclcpp_lifecycle::LifecyclePublisher).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "rclcdds/lifecycle/managed_entity.hpp"
#include "rclcdds/publisher.hpp"

namespace rclcdds_lifecycle
{

namespace detail
{
/// Default sink of the "not activated" warning (the runtime logger).
void warn_publisher_not_activated(const std::string & message);
}  // namespace detail

/// A PublisherT (by default rclcdds::Publisher<MessageT>) whose publish() drops messages while
/// the entity is inactive, warning once per inactive period. Built with PublisherT's own
/// constructor arguments; the node registers it as a managed entity.
template<typename MessageT, typename PublisherT = rclcdds::Publisher<MessageT>>
class LifecyclePublisher : public PublisherT, public SimpleManagedEntity
{
public:
  using SharedPtr = std::shared_ptr<LifecyclePublisher<MessageT, PublisherT>>;
  using WarningSink = std::function<void (const std::string &)>;

  template<typename ... Args>
  explicit LifecyclePublisher(Args && ... args)
  : PublisherT(std::forward<Args>(args)...) {}

  /// Sends `msg` while active; drops it otherwise (overrides a virtual publish of PublisherT).
  void publish(const MessageT & msg)
  {
    if (!is_activated()) {
      warn_not_activated();
      return;
    }
    PublisherT::publish(msg);
  }

  /// Sends and releases `msg` while active; drops it otherwise.
  void publish(std::unique_ptr<MessageT> msg)
  {
    if (!is_activated()) {
      warn_not_activated();
      return;
    }
    PublisherT::publish(std::move(msg));
  }

  void on_activate() override
  {
    SimpleManagedEntity::on_activate();
    should_warn_.store(true, std::memory_order_release);
  }

  /// Replaces where the "not activated" warning goes (default: the runtime logger).
  void set_warning_sink(WarningSink sink) {warning_sink_ = std::move(sink);}

  /// Messages dropped while inactive, since construction.
  uint64_t dropped_count() const {return dropped_.load(std::memory_order_relaxed);}

private:
  void warn_not_activated()
  {
    dropped_.fetch_add(1, std::memory_order_relaxed);
    if (!should_warn_.exchange(false, std::memory_order_acq_rel)) {
      return;
    }
    const std::string message = std::string("Trying to publish message on the topic '") +
      this->get_topic_name() + "', but the publisher is not activated";
    if (warning_sink_) {
      warning_sink_(message);
    } else {
      detail::warn_publisher_not_activated(message);
    }
  }

  std::atomic<bool> should_warn_{true};
  std::atomic<uint64_t> dropped_{0};
  WarningSink warning_sink_;
};

}  // namespace rclcdds_lifecycle
