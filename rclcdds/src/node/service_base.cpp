#include "rclcdds/service.hpp"

#include <dds/dds.h>

#include <chrono>
#include <thread>

#include "service_endpoints.hpp"

namespace rclcdds
{

namespace
{
constexpr auto kReplyReaderWait = std::chrono::milliseconds(100);
constexpr auto kReplyReaderPoll = std::chrono::milliseconds(5);
}  // namespace

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
  node_entities_(std::move(node_entities))
{
  if (auto entities = node_entities_.lock()) {
    entities->add_reader(request_reader_.gid());
    entities->add_writer(response_writer_.gid());
  }
}

ServiceBase::~ServiceBase()
{
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
    RCLCDDS_WARN(
      logger_, "dropped a malformed request to '%s': %s", service_name_.c_str(), error.c_str());
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

bool ServiceBase::reply_reader_present(const std::string & client_id) const
{
  for (const MatchedEndpoint & reader : response_writer_.matched_subscriptions()) {
    if (detail::user_data_value(reader.user_data, "clientid") == client_id) {
      return true;
    }
  }
  return false;
}

bool ServiceBase::send_response_untyped(const RequestId & request_id, const void * response)
{
  // A client without ids (not rmw_cyclonedds-like) is answered at once; otherwise wait briefly
  // for its reply reader so that the answer is not lost on a fresh match.
  const std::string client_id = client_id_of(request_id.publication_handle);
  if (!client_id.empty()) {
    const auto deadline = std::chrono::steady_clock::now() + kReplyReaderWait;
    while (!reply_reader_present(client_id)) {
      if (std::chrono::steady_clock::now() >= deadline) {
        RCLCDDS_WARN(
          logger_, "failed to send response to '%s' (timeout): the client's reply reader is "
          "not matched", service_name_.c_str());
        return false;
      }
      std::this_thread::sleep_for(kReplyReaderPoll);
    }
  }
  ServicePrefix prefix;
  prefix.guid = request_id.writer_guid;
  prefix.sequence = request_id.sequence_number;
  SerializedMessage payload;
  serialize_message(*members_.response_members_, response, payload, &prefix);
  response_writer_.write(std::move(payload));
  return true;
}

}  // namespace rclcdds
