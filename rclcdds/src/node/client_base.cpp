#include "rclcdds/client.hpp"

#include <set>
#include <thread>

#include "service_endpoints.hpp"

namespace rclcdds
{

ClientBase::ClientBase(
  Context::SharedPtr context, const std::string & service_name, const ServiceMembers & members,
  const QoS & qos, NodeEntities::WeakPtr node_entities)
: service_name_(service_name),
  members_(members),
  logger_(get_logger("rclcdds.client")),
  context_(context ? std::move(context) : get_global_default_context()),
  endpoint_id_(detail::make_service_endpoint_id(*context_)),
  request_writer_(
    context_,
    detail::service_endpoint(
      service_name, true, members, qos,
      detail::service_user_data(detail::ServiceRole::Client, endpoint_id_))),
  response_reader_(
    context_,
    detail::service_endpoint(
      service_name, false, members, qos,
      detail::service_user_data(detail::ServiceRole::Client, endpoint_id_))),
  node_entities_(std::move(node_entities)),
  client_guid_(detail::instance_handle(request_writer_.entity()))
{
  if (auto entities = node_entities_.lock()) {
    entities->add_writer(request_writer_.gid());
    entities->add_reader(response_reader_.gid());
  }
}

ClientBase::~ClientBase()
{
  if (auto entities = node_entities_.lock()) {
    entities->remove_writer(request_writer_.gid());
    entities->remove_reader(response_reader_.gid());
  }
}

bool ClientBase::service_is_ready() const
{
  std::set<std::string> request_readers;
  for (const MatchedEndpoint & reader : request_writer_.matched_subscriptions()) {
    const std::string id = detail::user_data_value(reader.user_data, "serviceid");
    if (!id.empty()) {
      request_readers.insert(id);
    }
  }
  for (const MatchedEndpoint & writer : response_reader_.matched_publications()) {
    if (request_readers.count(detail::user_data_value(writer.user_data, "serviceid")) != 0) {
      return true;
    }
  }
  return false;
}

bool ClientBase::wait_for_service_nanoseconds(std::chrono::nanoseconds timeout)
{
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (service_is_ready()) {
      return true;
    }
    if (!context_->is_valid()) {
      return false;
    }
    if (timeout >= std::chrono::nanoseconds(0) &&
      std::chrono::steady_clock::now() - start >= timeout)
    {
      return false;
    }
    context_->sleep_for(std::chrono::milliseconds(10));
  }
}

size_t ClientBase::get_number_of_pending_requests() const
{
  std::lock_guard<std::mutex> lock(pending_mutex_);
  return pending_.size();
}

bool ClientBase::remove_pending_request(int64_t request_id)
{
  std::lock_guard<std::mutex> lock(pending_mutex_);
  return pending_.erase(request_id) != 0;
}

int64_t ClientBase::send_request_untyped(const void * request, ResponseHandler handler)
{
  ServicePrefix prefix;
  prefix.guid = client_guid_;
  prefix.sequence = next_sequence_.fetch_add(1);
  SerializedMessage payload;
  serialize_message(*members_.request_members_, request, payload, &prefix);
  {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    pending_[prefix.sequence] = std::move(handler);
  }
  try {
    request_writer_.write(std::move(payload));
  } catch (...) {
    remove_pending_request(prefix.sequence);
    throw;
  }
  return prefix.sequence;
}

std::shared_ptr<void> ClientBase::take_data()
{
  for (;;) {
    auto taken = std::make_shared<Taken>();
    taken->response = create_response();
    bool mine = false;
    bool well_formed = false;
    std::string error;
    const bool got = response_reader_.take(
      [&](const uint8_t * data, size_t size, const SampleInfo &) {
        ServicePrefix prefix;
        well_formed = deserialize_message(
          *members_.response_members_, data, size, taken->response.get(), &prefix, &error);
        mine = well_formed && prefix.guid == client_guid_;
        taken->sequence = prefix.sequence;
      });
    if (!got) {
      return nullptr;
    }
    if (!well_formed) {
      RCLCDDS_WARN(
        logger_, "dropped a malformed reply from '%s': %s", service_name_.c_str(), error.c_str());
      continue;
    }
    if (mine) {
      return taken;
    }
    // A reply to another client of the same service: not ours.
  }
}

void ClientBase::execute(const std::shared_ptr<void> & data)
{
  auto taken = std::static_pointer_cast<Taken>(data);
  ResponseHandler handler;
  {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    auto it = pending_.find(taken->sequence);
    if (it == pending_.end()) {
      return;  // removed by the caller or answered twice
    }
    handler = std::move(it->second);
    pending_.erase(it);
  }
  handler(taken->response);
}

}  // namespace rclcdds
