// Common part of the raw DDS writer and reader: topic creation, QoS, identity, matching.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rclcdds/context.hpp"
#include "rclcdds/gid.hpp"
#include "rclcdds/qos.hpp"
#include "rclcdds/serialization.hpp"

namespace rclcdds
{

/// A remote (or local) endpoint matched with one of ours.
struct MatchedEndpoint
{
  Guid guid{};            ///< its DDS GUID
  std::string user_data;  ///< its USER_DATA QoS as text (e.g. "clientid=...;")
};

/// Description of a raw endpoint to create.
struct EndpointDescription
{
  std::string topic_name;  ///< DDS topic, e.g. "rt/camera/image" or "rq/node/get_parametersRequest"
  std::string type_name;   ///< DDS type, e.g. "sensor_msgs::msg::dds_::Image_"
  QoS qos{10};             ///< history, reliability, durability
  std::string user_data;   ///< USER_DATA of the endpoint; empty for none
};

/// Description of the endpoint of a ROS topic: DDS topic "rt" + name, the message's DDS type name.
/// @param fully_qualified_topic resolved ROS topic name, e.g. "/camera/image"
EndpointDescription topic_endpoint_description(
  const std::string & fully_qualified_topic, const MessageMembers & members, const QoS & qos);

/// A DDS reader or writer of CDR blobs (base of RawWriter and RawReader).
class DdsEndpoint
{
public:
  DdsEndpoint(const DdsEndpoint &) = delete;
  DdsEndpoint & operator=(const DdsEndpoint &) = delete;
  virtual ~DdsEndpoint();

  /// DDS entity (dds_entity_t).
  int32_t entity() const {return entity_;}
  /// DDS topic name.
  const std::string & topic_name() const {return description_.topic_name;}
  /// DDS type name.
  const std::string & type_name() const {return description_.type_name;}
  /// QoS the endpoint was created with.
  const QoS & qos() const {return description_.qos;}
  /// DDS GUID of the endpoint.
  Guid guid() const {return guid_;}
  /// ROS 2 GID: the GUID followed by 8 zero bytes.
  Gid gid() const;
  Context::SharedPtr context() const {return context_;}

protected:
  DdsEndpoint(Context::SharedPtr context, EndpointDescription description);
  /// Creates the writer (is_writer) or reader; called once by the derived constructor.
  void create(bool is_writer);

  Context::SharedPtr context_;
  EndpointDescription description_;
  int32_t entity_{0};
  Guid guid_{};
  const void * sertype_{nullptr};  ///< counted reference to the Cyclone sertype of the topic
};

/// Builds a MatchedEndpoint list from DDS matched-endpoint handles (used by both kinds).
std::vector<MatchedEndpoint> matched_endpoints(int32_t entity, bool publications);

}  // namespace rclcdds
