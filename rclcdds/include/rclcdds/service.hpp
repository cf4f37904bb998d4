// Service servers shaped like rclcpp::Service, wire-compatible with rmw_cyclonedds (Humble).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "rclcdds/context.hpp"
#include "rclcdds/logger.hpp"
#include "rclcdds/node_entities.hpp"
#include "rclcdds/qos.hpp"
#include "rclcdds/raw_reader.hpp"
#include "rclcdds/raw_writer.hpp"
#include "rclcdds/serialization.hpp"
#include "rclcdds/waitable.hpp"

namespace rclcdds
{

namespace detail
{
class PendingReplies;
class WarningLimiter;
}  // namespace detail

/// Identity of one request (as rmw_request_id_t): the client's 8-byte id and its sequence number.
struct RequestId
{
  uint64_t writer_guid{0};          ///< client identifier carried in the request prefix
  int64_t sequence_number{0};       ///< client's sequence number, echoed by the reply
  uint64_t publication_handle{0};   ///< DDS handle of the client's request writer (local view)
};

/// Type-erased service: a request reader on "rq/<name>Request" and a reply writer on
/// "rr/<name>Reply", both with USER_DATA "serviceid=<id>;". Replies go out only once the
/// requesting client's reply reader is matched (up to 100 ms, as rmw_cyclonedds); that wait
/// happens on a helper thread of the service, never in the executor.
class ServiceBase : public Waitable
{
public:
  using SharedPtr = std::shared_ptr<ServiceBase>;

  /// @param service_name fully qualified service name, e.g. "/node/get_parameters"
  /// @throws std::runtime_error when DDS refuses an endpoint
  ServiceBase(
    Context::SharedPtr context, const std::string & service_name, const ServiceMembers & members,
    const QoS & qos, NodeEntities::WeakPtr node_entities);
  ~ServiceBase() override;

  /// Fully qualified service name.
  const char * get_service_name() const {return service_name_.c_str();}
  /// Requests dropped because their CDR was malformed (their warnings are rate-limited).
  uint64_t dropped_count() const {return dropped_.load();}

  int32_t get_wait_entity() const override {return request_reader_.read_condition();}
  std::shared_ptr<void> take_data() override;
  void execute(const std::shared_ptr<void> & data) override;

protected:
  /// A default-constructed request / response of the service type.
  virtual std::shared_ptr<void> create_request() const = 0;
  virtual std::shared_ptr<void> create_response() const = 0;
  /// Runs the user callback; returns false when the callback defers its reply.
  virtual bool handle_request(
    const std::shared_ptr<RequestId> & request_id, const std::shared_ptr<void> & request,
    const std::shared_ptr<void> & response) = 0;

  /// Serialises `response` with the request's prefix and sends it to the requesting client
  /// without blocking: when the client's reply reader is not matched yet, the reply waits for
  /// it on the service's helper thread and is dropped with a warning after 100 ms.
  /// @return true (the reply is written or queued)
  bool send_response_untyped(const RequestId & request_id, const void * response);

  std::string service_name_;
  const ServiceMembers & members_;
  Logger logger_;

private:
  /// Taken request with its identity.
  struct Taken
  {
    std::shared_ptr<RequestId> id;
    std::shared_ptr<void> request;
  };

  std::string client_id_of(uint64_t publication_handle) const;

  Context::SharedPtr context_;
  std::string endpoint_id_;   ///< "serviceid" of both endpoints
  RawReader request_reader_;
  RawWriter response_writer_;
  NodeEntities::WeakPtr node_entities_;
  std::atomic<uint64_t> dropped_{0};
  std::unique_ptr<detail::WarningLimiter> malformed_warnings_;
  std::unique_ptr<detail::PendingReplies> pending_replies_;  ///< last: stopped before the writer goes
};

/// Service of type ServiceT (e.g. rcl_interfaces::srv::GetParameters).
template<class ServiceT>
class Service : public ServiceBase
{
public:
  using SharedPtr = std::shared_ptr<Service<ServiceT>>;
  using Request = typename ServiceT::Request;
  using Response = typename ServiceT::Response;
  /// Plain callback: fill the response.
  using CallbackType =
    std::function<void (const std::shared_ptr<Request>, std::shared_ptr<Response>)>;
  /// Callback that also sees the request identity.
  using CallbackWithHeaderType = std::function<void (
        const std::shared_ptr<RequestId>, const std::shared_ptr<Request>,
        std::shared_ptr<Response>)>;
  /// Deferred callback: reply later with send_response().
  using DeferredCallbackType =
    std::function<void (const std::shared_ptr<RequestId>, const std::shared_ptr<Request>)>;

  template<class CallbackT>
  Service(
    Context::SharedPtr context, const std::string & service_name, CallbackT && callback,
    const QoS & qos, NodeEntities::WeakPtr node_entities)
  : ServiceBase(
      std::move(context), service_name, get_service_members<ServiceT>(), qos,
      std::move(node_entities))
  {
    using F = std::decay_t<CallbackT>;
    if constexpr (std::is_invocable_v<F &, std::shared_ptr<RequestId>, std::shared_ptr<Request>,
      std::shared_ptr<Response>>)
    {
      with_header_ = CallbackWithHeaderType(std::forward<CallbackT>(callback));
    } else if constexpr (std::is_invocable_v<F &, std::shared_ptr<Request>,
      std::shared_ptr<Response>>)
    {
      plain_ = CallbackType(std::forward<CallbackT>(callback));
    } else {
      static_assert(
        std::is_invocable_v<F &, std::shared_ptr<RequestId>, std::shared_ptr<Request>>,
        "service callback must take (request, response), (id, request, response) or (id, request)");
      deferred_ = DeferredCallbackType(std::forward<CallbackT>(callback));
    }
  }

  /// Sends a reply to a request whose callback deferred it.
  bool send_response(const RequestId & request_id, const Response & response)
  {
    return send_response_untyped(request_id, &response);
  }

protected:
  std::shared_ptr<void> create_request() const override {return std::make_shared<Request>();}
  std::shared_ptr<void> create_response() const override {return std::make_shared<Response>();}

  bool handle_request(
    const std::shared_ptr<RequestId> & request_id, const std::shared_ptr<void> & request,
    const std::shared_ptr<void> & response) override
  {
    auto typed_request = std::static_pointer_cast<Request>(request);
    auto typed_response = std::static_pointer_cast<Response>(response);
    if (plain_) {
      plain_(typed_request, typed_response);
    } else if (with_header_) {
      with_header_(request_id, typed_request, typed_response);
    } else {
      deferred_(request_id, typed_request);
      return false;
    }
    return true;
  }

private:
  CallbackType plain_;
  CallbackWithHeaderType with_header_;
  DeferredCallbackType deferred_;
};

}  // namespace rclcdds
