#include "rclcdds/dds_endpoint.hpp"

#include <dds/dds.h>

#include <cstring>
#include <stdexcept>

#include "rclcdds/names.hpp"

#include "cdr_sertype.hpp"
#include "dds_qos.hpp"

namespace rclcdds
{

EndpointDescription topic_endpoint_description(
  const std::string & fully_qualified_topic, const MessageMembers & members, const QoS & qos)
{
  EndpointDescription description;
  description.topic_name = dds_topic_name(fully_qualified_topic);
  description.type_name = dds_type_name(members);
  description.qos = qos;
  return description;
}

DdsEndpoint::DdsEndpoint(Context::SharedPtr context, EndpointDescription description)
: context_(context ? std::move(context) : get_global_default_context()),
  description_(std::move(description))
{
}

DdsEndpoint::~DdsEndpoint()
{
  if (entity_ > 0) {
    dds_delete(entity_);
  }
  if (sertype_ != nullptr) {
    ddsi_sertype_unref(const_cast<ddsi_sertype *>(static_cast<const ddsi_sertype *>(sertype_)));
  }
}

void DdsEndpoint::create(bool is_writer)
{
  const dds_entity_t participant = context_->participant();
  if (participant <= 0) {
    throw std::runtime_error(
            "cannot create an endpoint on '" + description_.topic_name +
            "': the context is not initialized (call rclcdds::init first)");
  }
  const ddsi_sertype * sertype = nullptr;
  const dds_entity_t topic = detail::create_cdr_topic(
    participant, description_.topic_name, description_.type_name, &sertype);
  if (topic < 0) {
    throw std::runtime_error(
            "cannot create DDS topic '" + description_.topic_name + "' of type '" +
            description_.type_name + "': " + dds_strretcode(topic));
  }
  const detail::DdsQosPtr qos = detail::make_endpoint_qos(description_.qos, description_.user_data);
  const dds_entity_t entity = is_writer ?
    dds_create_writer(participant, topic, qos.get(), nullptr) :
    dds_create_reader(participant, topic, qos.get(), nullptr);
  dds_delete(topic);  // the endpoint keeps what it needs of the topic
  sertype_ = sertype;
  if (entity < 0) {
    throw std::runtime_error(
            std::string("cannot create DDS ") + (is_writer ? "writer" : "reader") + " on '" +
            description_.topic_name + "': " + dds_strretcode(entity));
  }
  entity_ = entity;
  dds_guid_t guid;
  if (dds_get_guid(entity_, &guid) == DDS_RETCODE_OK) {
    std::memcpy(guid_.data(), guid.v, guid_.size());
  }
}

Gid DdsEndpoint::gid() const
{
  Gid gid{};
  std::memcpy(gid.data(), guid_.data(), guid_.size());
  return gid;
}

std::vector<MatchedEndpoint> matched_endpoints(int32_t entity, bool publications)
{
  std::vector<MatchedEndpoint> result;
  std::vector<dds_instance_handle_t> handles(16);
  for (;;) {
    const dds_return_t n = publications ?
      dds_get_matched_publications(entity, handles.data(), handles.size()) :
      dds_get_matched_subscriptions(entity, handles.data(), handles.size());
    if (n < 0) {
      return result;
    }
    if (static_cast<size_t>(n) <= handles.size()) {
      handles.resize(static_cast<size_t>(n));
      break;
    }
    handles.resize(static_cast<size_t>(n));
  }
  for (dds_instance_handle_t handle : handles) {
    dds_builtintopic_endpoint_t * data = publications ?
      dds_get_matched_publication_data(entity, handle) :
      dds_get_matched_subscription_data(entity, handle);
    if (data == nullptr) {
      continue;  // unmatched meanwhile
    }
    MatchedEndpoint endpoint;
    std::memcpy(endpoint.guid.data(), data->key.v, endpoint.guid.size());
    void * user_data = nullptr;
    size_t size = 0;
    if (data->qos != nullptr && dds_qget_userdata(data->qos, &user_data, &size) && user_data) {
      endpoint.user_data.assign(static_cast<const char *>(user_data), size);
      dds_free(user_data);
    }
    dds_builtintopic_free_endpoint(data);
    result.push_back(std::move(endpoint));
  }
  return result;
}

}  // namespace rclcdds
