#include "rclcdds/service.hpp"

#include <dds/dds.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <set>
#include <thread>

#include "../transport/warning_limiter.hpp"
#include "service_endpoints.hpp"

namespace rclcdds
{

namespace detail
{

/// Replies whose client has no matched reply reader yet. They wait on a helper thread (started
/// when the first one is queued, ended when none is left), so that no request, well-formed or
/// not, holds the executor; each waits at most kWait and the queue holds at most kMaxQueued.
class PendingReplies
{
public:
  static constexpr auto kWait = std::chrono::milliseconds(100);
  static constexpr auto kPoll = std::chrono::milliseconds(5);
  static constexpr size_t kMaxQueued = 256;

  PendingReplies(RawWriter & writer, const std::string & service_name, const Logger & logger)
  : writer_(writer), service_name_(service_name), logger_(logger) {}

  ~PendingReplies()
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
      thread_.join();
    }
  }

  /// Writes `payload` now when the reply reader of `client_id` is matched and no earlier reply
  /// to it is waiting; otherwise queues it.
  void send(const std::string & client_id, SerializedMessage && payload)
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool behind_earlier = std::any_of(
      queue_.begin(), queue_.end(), [&](const Reply & r) {return r.client_id == client_id;});
    if (!behind_earlier && matched_clients().count(client_id) != 0) {
      lock.unlock();
      write(std::move(payload));
      return;
    }
    if (stopping_) {
      return;
    }
    if (queue_.size() >= kMaxQueued) {
      queue_.pop_front();
      ++overflowed_;
    }
    queue_.push_back(Reply{client_id, std::move(payload), std::chrono::steady_clock::now() + kWait});
    if (!running_) {
      if (thread_.joinable()) {
        thread_.join();  // the previous helper has left its loop already
      }
      running_ = true;
      thread_ = std::thread([this] {run();});
    }
  }

private:
  struct Reply
  {
    std::string client_id;
    SerializedMessage payload;
    std::chrono::steady_clock::time_point deadline;
  };

  std::set<std::string> matched_clients() const
  {
    std::set<std::string> clients;
    for (const MatchedEndpoint & reader : writer_.matched_subscriptions()) {
      clients.insert(user_data_value(reader.user_data, "clientid"));
    }
    return clients;
  }

  void write(SerializedMessage && payload)
  {
    try {
      writer_.write(std::move(payload));
    } catch (const std::exception & error) {
      RCLCDDS_WARN(
        logger_, "failed to send a response to '%s': %s", service_name_.c_str(), error.what());
    }
  }

  void run()
  {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_ && !queue_.empty()) {
      const std::set<std::string> matched = matched_clients();
      const auto now = std::chrono::steady_clock::now();
      uint64_t expired = 0;
      for (auto it = queue_.begin(); it != queue_.end(); ) {
        if (matched.count(it->client_id) != 0) {
          write(std::move(it->payload));
          it = queue_.erase(it);
        } else if (now >= it->deadline) {
          ++expired;
          it = queue_.erase(it);
        } else {
          ++it;
        }
      }
      report(expired);
      if (queue_.empty()) {
        break;
      }
      wake_.wait_for(lock, kPoll, [this] {return stopping_;});
    }
    running_ = false;
  }

  void report(uint64_t expired)
  {
    lost_ += expired + overflowed_;
    overflowed_ = 0;
    uint64_t suppressed = 0;
    if (lost_ == 0 || !warnings_.allow(suppressed)) {
      return;
    }
    RCLCDDS_WARN(
      logger_, "failed to send %llu response(s) to '%s' (timeout): the client's reply reader "
      "is not matched", static_cast<unsigned long long>(lost_), service_name_.c_str());
    lost_ = 0;
  }

  RawWriter & writer_;
  const std::string & service_name_;
  const Logger & logger_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Reply> queue_;
  std::thread thread_;
  bool running_{false};
  bool stopping_{false};
  uint64_t overflowed_{0};
  uint64_t lost_{0};  ///< replies lost since the last warning
  WarningLimiter warnings_;
};

}  // namespace detail

ServiceBase::ServiceBase(
  Context::SharedPtr context, const std::string & service_name, const ServiceMembers & members,
  const QoS & qos, NodeEntities::WeakPtr node_entities)
: service_name_(service_name),
  members_(members),
  logger_(get_logger("rclcdds.service")),
  context_(context ? std::move(context) : get_global_default_context()),
  endpoint_id_(detail::make_service_endpoint_id(*context_)),
  request_reader_(
    context_,
    detail::service_endpoint(
      service_name, true, members, qos,
      detail::service_user_data(detail::ServiceRole::Server, endpoint_id_))),
  response_writer_(
    context_,
    detail::service_endpoint(
      service_name, false, members, qos,
      detail::service_user_data(detail::ServiceRole::Server, endpoint_id_))),
  node_entities_(std::move(node_entities)),
  malformed_warnings_(std::make_unique<detail::WarningLimiter>()),
  pending_replies_(std::make_unique<detail::PendingReplies>(response_writer_, service_name_, logger_))
{
  if (auto entities = node_entities_.lock()) {
    entities->add_reader(request_reader_.gid());
    entities->add_writer(response_writer_.gid());
  }
}

ServiceBase::~ServiceBase()
{
  pending_replies_.reset();
  if (auto entities = node_entities_.lock()) {
    entities->remove_reader(request_reader_.gid());
    entities->remove_writer(response_writer_.gid());
  }
}

std::shared_ptr<void> ServiceBase::take_data()
{
  for (;;) {
    auto taken = std::make_shared<Taken>();
    taken->request = create_request();
    taken->id = std::make_shared<RequestId>();
    bool well_formed = false;
    std::string error;
    const bool got = request_reader_.take(
      [&](const uint8_t * data, size_t size, const SampleInfo & info) {
        ServicePrefix prefix;
        well_formed = deserialize_message(
          *members_.request_members_, data, size, taken->request.get(), &prefix, &error);
        taken->id->writer_guid = prefix.guid;
        taken->id->sequence_number = prefix.sequence;
        taken->id->publication_handle = info.publication_handle;
      });
    if (!got) {
      return nullptr;
    }
    if (well_formed) {
      return taken;
    }
    ++dropped_;
    uint64_t suppressed = 0;
    if (malformed_warnings_->allow(suppressed)) {
      RCLCDDS_WARN(
        logger_, "dropped a malformed request to '%s': %s%s", service_name_.c_str(),
        error.c_str(), detail::WarningLimiter::suffix(suppressed).c_str());
    }
  }
}

void ServiceBase::execute(const std::shared_ptr<void> & data)
{
  auto taken = std::static_pointer_cast<Taken>(data);
  auto response = create_response();
  if (handle_request(taken->id, taken->request, response)) {
    send_response_untyped(*taken->id, response.get());
  }
}

std::string ServiceBase::client_id_of(uint64_t publication_handle) const
{
  dds_builtintopic_endpoint_t * endpoint =
    dds_get_matched_publication_data(request_reader_.entity(), publication_handle);
  if (endpoint == nullptr) {
    return "";
  }
  std::string id;
  void * user_data = nullptr;
  size_t size = 0;
  if (endpoint->qos != nullptr && dds_qget_userdata(endpoint->qos, &user_data, &size) &&
    user_data != nullptr)
  {
    id = detail::user_data_value(std::string(static_cast<const char *>(user_data), size), "clientid");
    dds_free(user_data);
  }
  dds_builtintopic_free_endpoint(endpoint);
  return id;
}

bool ServiceBase::send_response_untyped(const RequestId & request_id, const void * response)
{
  ServicePrefix prefix;
  prefix.guid = request_id.writer_guid;
  prefix.sequence = request_id.sequence_number;
  SerializedMessage payload;
  serialize_message(*members_.response_members_, response, payload, &prefix);
  // A client without ids (not rmw_cyclonedds-like) is answered at once; otherwise the reply
  // waits (off the executor) for its reply reader so that it is not lost on a fresh match.
  const std::string client_id = client_id_of(request_id.publication_handle);
  if (client_id.empty()) {
    response_writer_.write(std::move(payload));
  } else {
    pending_replies_->send(client_id, std::move(payload));
  }
  return true;
}

}  // namespace rclcdds
