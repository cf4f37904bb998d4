#include "graph_query.hpp"

#include <dds/dds.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include <rmw_dds_common/msg/participant_entities_info.hpp>

#include "dynamic_message.hpp"
#include "peer_input.hpp"
#include "rclcdds/raw_reader.hpp"
#include "rclcdds/serialization.hpp"

namespace rclcdds_cli
{

namespace
{

bool same_participant(const dds_guid_t & a, const dds_guid_t & b)
{
  return std::memcmp(a.v, b.v, 12) == 0;
}

void collect_endpoints(
  dds_entity_t reader, bool is_writer, const dds_guid_t & own, std::vector<TopicEndpoint> & out)
{
  // A graph may hold more endpoints than one batch: take batches until the reader is empty
  // (the reader is private to this query, so taking loses nothing).
  constexpr size_t kBatch = 64;
  void * samples[kBatch] = {};
  dds_sample_info_t infos[kBatch];
  dds_return_t n = 0;
  do {
    n = dds_take(reader, samples, infos, kBatch, kBatch);
    for (dds_return_t i = 0; i < n; ++i) {
      const auto * endpoint = static_cast<const dds_builtintopic_endpoint_t *>(samples[i]);
      if (!infos[i].valid_data || infos[i].instance_state != DDS_IST_ALIVE ||
        same_participant(endpoint->participant_key, own) || endpoint->topic_name == nullptr ||
        std::strncmp(endpoint->topic_name, "rt/", 3) != 0)
      {
        continue;
      }
      TopicEndpoint item;
      item.topic = std::string(endpoint->topic_name + 2);
      item.type = ros_type_from_dds(endpoint->type_name != nullptr ? endpoint->type_name : "");
      item.is_writer = is_writer;
      dds_reliability_kind_t reliability;
      dds_duration_t blocking;
      if (endpoint->qos != nullptr && dds_qget_reliability(endpoint->qos, &reliability, &blocking)) {
        item.reliable = reliability == DDS_RELIABILITY_RELIABLE;
      }
      dds_durability_kind_t durability;
      if (endpoint->qos != nullptr && dds_qget_durability(endpoint->qos, &durability)) {
        item.transient_local = durability == DDS_DURABILITY_TRANSIENT_LOCAL;
      }
      out.push_back(std::move(item));
    }
    if (n > 0) {
      dds_return_loan(reader, samples, n);
    }
  } while (n == static_cast<dds_return_t>(kBatch));
}

}  // namespace

std::vector<TopicEndpoint> discover_topics(
  const rclcdds::Context & context, std::chrono::milliseconds settle)
{
  const dds_entity_t participant = context.participant();
  dds_guid_t own;
  dds_get_guid(participant, &own);
  const dds_entity_t publications =
    dds_create_reader(participant, DDS_BUILTIN_TOPIC_DCPSPUBLICATION, nullptr, nullptr);
  const dds_entity_t subscriptions =
    dds_create_reader(participant, DDS_BUILTIN_TOPIC_DCPSSUBSCRIPTION, nullptr, nullptr);
  std::this_thread::sleep_for(settle);
  std::vector<TopicEndpoint> endpoints;
  if (publications > 0) {
    collect_endpoints(publications, true, own, endpoints);
    dds_delete(publications);
  }
  if (subscriptions > 0) {
    collect_endpoints(subscriptions, false, own, endpoints);
    dds_delete(subscriptions);
  }
  return endpoints;
}

std::vector<std::string> discover_nodes(
  const rclcdds::Context::SharedPtr & context, std::chrono::milliseconds settle,
  bool include_hidden, std::vector<std::string> * warnings)
{
  using rmw_dds_common::msg::ParticipantEntitiesInfo;
  const auto & members = rclcdds::get_message_members<ParticipantEntitiesInfo>();
  rclcdds::EndpointDescription description;
  description.topic_name = "ros_discovery_info";
  description.type_name = rclcdds::dds_type_name(members);
  description.qos = rclcdds::QoS(100).reliable().transient_local();
  rclcdds::RawReader reader(context, description);

  dds_guid_t own;
  dds_get_guid(context->participant(), &own);
  std::map<std::vector<uint8_t>, ParticipantEntitiesInfo> latest;  // by participant GID
  std::vector<std::string> notes;
  size_t oversized = 0;
  const auto deadline = std::chrono::steady_clock::now() + settle;
  do {
    while (reader.take(
        [&](const uint8_t * data, size_t size, const rclcdds::SampleInfo &) {
          if (size > kMaxAnnouncementBytes) {
            ++oversized;  // not even decoded: no participant needs that much to announce
            return;
          }
          ParticipantEntitiesInfo info;
          if (rclcdds::deserialize_message(members, data, size, &info)) {
            latest[std::vector<uint8_t>(info.gid.data.begin(), info.gid.data.end())] = info;
          }
        }))
    {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);

  std::set<std::string> names;
  for (const auto & [gid, info] : latest) {
    if (std::memcmp(gid.data(), own.v, 12) == 0) {
      continue;
    }
    for (auto & name : announced_node_names(info, include_hidden, notes)) {
      names.insert(std::move(name));
    }
  }
  if (oversized > 0) {
    notes.push_back(
      "ignored " + std::to_string(oversized) + " announcement(s) over " +
      std::to_string(kMaxAnnouncementBytes) + " bytes");
  }
  if (warnings != nullptr) {
    warnings->insert(warnings->end(), notes.begin(), notes.end());
  }
  return std::vector<std::string>(names.begin(), names.end());
}

}  // namespace rclcdds_cli
