#include "dds_qos.hpp"

#include <limits>

namespace rclcdds
{
namespace detail
{

DdsQosPtr make_endpoint_qos(const QoS & qos, const std::string & user_data)
{
  DdsQosPtr dds_qos(dds_create_qos());
  dds_qos_t * q = dds_qos.get();

  const auto depth = static_cast<int32_t>(
    std::min<size_t>(qos.depth(), static_cast<size_t>(std::numeric_limits<int32_t>::max())));
  dds_history_kind_t history = DDS_HISTORY_KEEP_LAST;
  int32_t history_depth = 1;
  switch (qos.history()) {
    case HistoryPolicy::KeepLast:
      history = DDS_HISTORY_KEEP_LAST;
      history_depth = depth;
      dds_qset_history(q, history, history_depth);
      break;
    case HistoryPolicy::KeepAll:
      history = DDS_HISTORY_KEEP_ALL;
      history_depth = DDS_LENGTH_UNLIMITED;
      dds_qset_history(q, history, history_depth);
      break;
    case HistoryPolicy::SystemDefault:
      break;
  }

  switch (qos.reliability()) {
    case ReliabilityPolicy::Reliable:
      dds_qset_reliability(q, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
      break;
    case ReliabilityPolicy::BestEffort:
      dds_qset_reliability(q, DDS_RELIABILITY_BEST_EFFORT, 0);
      break;
    case ReliabilityPolicy::SystemDefault:
      break;
  }

  switch (qos.durability()) {
    case DurabilityPolicy::Volatile:
      dds_qset_durability(q, DDS_DURABILITY_VOLATILE);
      break;
    case DurabilityPolicy::TransientLocal:
      dds_qset_durability(q, DDS_DURABILITY_TRANSIENT_LOCAL);
      // Late joiners get as many samples as the history keeps (Cyclone's default is one).
      dds_qset_durability_service(
        q, 0, history, history_depth, DDS_LENGTH_UNLIMITED, DDS_LENGTH_UNLIMITED,
        DDS_LENGTH_UNLIMITED);
      break;
    case DurabilityPolicy::SystemDefault:
      break;
  }

  if (!user_data.empty()) {
    dds_qset_userdata(q, user_data.data(), user_data.size());
  }
  return dds_qos;
}

}  // namespace detail
}  // namespace rclcdds
