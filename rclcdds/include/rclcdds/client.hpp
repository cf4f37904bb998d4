// Service clients shaped like rclcpp::Client, wire-compatible with rmw_cyclonedds (Humble).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
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

/// Type-erased client: a request writer on "rq<name>Request" and a reply reader on
/// "rr<name>Reply", both with USER_DATA "clientid=<id>;". Replies are matched to requests by
/// the 16-byte prefix (client id, sequence number); replies for other clients are skipped.
class ClientBase : public Waitable
{
public:
  using SharedPtr = std::shared_ptr<ClientBase>;

  /// @param service_name fully qualified service name
  /// @throws std::runtime_error when DDS refuses an endpoint
  ClientBase(
    Context::SharedPtr context, const std::string & service_name, const ServiceMembers & members,
    const QoS & qos, NodeEntities::WeakPtr node_entities);
  ~ClientBase() override;

  const char * get_service_name() const {return service_name_.c_str();}

  /// True when a server with matching request reader and reply writer is discovered.
  bool service_is_ready() const;

  /// Waits until service_is_ready() or `timeout` passes (negative: forever) or shutdown.
  template<class RepT = int64_t, class RatioT = std::milli>
  bool wait_for_service(
    std::chrono::duration<RepT, RatioT> timeout = std::chrono::duration<RepT, RatioT>(-1))
  {
    return wait_for_service_nanoseconds(
      std::chrono::duration_cast<std::chrono::nanoseconds>(timeout));
  }

  /// Number of requests sent whose reply has not arrived yet.
  size_t get_number_of_pending_requests() const;

  /// Forgets a pending request (its future never becomes ready); false when unknown.
  bool remove_pending_request(int64_t request_id);

  int32_t get_wait_entity() const override {return response_reader_.read_condition();}
  std::shared_ptr<void> take_data() override;
  void execute(const std::shared_ptr<void> & data) override;

protected:
  /// How a reply is delivered: completes the typed promise and runs the user callback.
  using ResponseHandler = std::function<void (const std::shared_ptr<void> & response)>;

  /// Serialises and sends one request; `handler` runs when its reply is executed.
  /// @return the request's sequence number
  int64_t send_request_untyped(const void * request, ResponseHandler handler);

  virtual std::shared_ptr<void> create_response() const = 0;

  std::string service_name_;
  const ServiceMembers & members_;
  Logger logger_;

private:
  /// A reply taken from DDS, waiting to be handed to its request's handler.
  struct Taken
  {
    int64_t sequence{0};
    std::shared_ptr<void> response;
  };

  bool wait_for_service_nanoseconds(std::chrono::nanoseconds timeout);

  Context::SharedPtr context_;
  std::string endpoint_id_;   ///< "clientid" of both endpoints
  RawWriter request_writer_;
  RawReader response_reader_;
  NodeEntities::WeakPtr node_entities_;
  uint64_t client_guid_{0};   ///< first 8 prefix bytes of our requests
  std::atomic<int64_t> next_sequence_{1};
  mutable std::mutex pending_mutex_;
  std::map<int64_t, ResponseHandler> pending_;
};

/// Client of service type ServiceT.
template<class ServiceT>
class Client : public ClientBase
{
public:
  using SharedPtr = std::shared_ptr<Client<ServiceT>>;
  using Request = typename ServiceT::Request;
  using Response = typename ServiceT::Response;
  using SharedRequest = std::shared_ptr<Request>;
  using SharedResponse = std::shared_ptr<Response>;
  using Promise = std::promise<SharedResponse>;
  using SharedFuture = std::shared_future<SharedResponse>;
  using CallbackType = std::function<void (SharedFuture)>;

  Client(
    Context::SharedPtr context, const std::string & service_name, const QoS & qos,
    NodeEntities::WeakPtr node_entities)
  : ClientBase(
      std::move(context), service_name, get_service_members<ServiceT>(), qos,
      std::move(node_entities))
  {
  }

  /// Sends `request`; the future becomes ready when an executor serving this client has taken
  /// the reply (spin the client's node, e.g. with spin_until_future_complete).
  SharedFuture async_send_request(SharedRequest request)
  {
    return async_send_request(std::move(request), CallbackType());
  }

  /// As above, and runs `callback` with the ready future in the executor.
  SharedFuture async_send_request(SharedRequest request, CallbackType callback)
  {
    auto promise = std::make_shared<Promise>();
    SharedFuture future(promise->get_future());
    send_request_untyped(
      request.get(),
      [promise, future, callback](const std::shared_ptr<void> & response) {
        promise->set_value(std::static_pointer_cast<Response>(response));
        if (callback) {
          callback(future);
        }
      });
    return future;
  }

protected:
  std::shared_ptr<void> create_response() const override {return std::make_shared<Response>();}
};

}  // namespace rclcdds
