// The metadata.yaml of a rosbag2 directory (version 5, as ROS 2 Humble writes and reads it) and
// the offered-QoS text stored with each topic.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rclcdds_bag
{

/// One topic of a bag.
struct TopicInfo
{
  std::string name;                        ///< ROS name, e.g. "/camera/image"
  std::string type;                        ///< e.g. "sensor_msgs/msg/Image"
  std::string serialization_format{"cdr"};  ///< payload encoding
  std::string offered_qos_profiles;        ///< YAML list of the publishers' QoS
  std::string definition;  ///< message definition text (MCAP schema, "ros2msg"); may be empty
};

/// QoS of one recorded publisher (rmw enum values: history 1 keep-last, 2 keep-all, 3 unknown;
/// reliability 1 reliable, 2 best effort; durability 1 transient local, 2 volatile).
struct OfferedQos
{
  int history{3};
  int depth{0};
  int reliability{1};
  int durability{2};
};

/// The YAML list rosbag2 stores in `offered_qos_profiles` (infinite deadline, lifespan and lease).
std::string qos_profiles_to_yaml(const std::vector<OfferedQos> & profiles);

/// Parses `offered_qos_profiles`; entries or fields that do not parse are skipped.
std::vector<OfferedQos> qos_profiles_from_yaml(const std::string & text);

/// One storage file of the bag.
struct FileInfo
{
  std::string path;          ///< relative to the bag directory
  int64_t start_ns{0};       ///< first message, ns since the epoch
  int64_t duration_ns{0};    ///< last minus first message
  uint64_t message_count{0};
};

struct TopicCount
{
  TopicInfo topic;
  uint64_t message_count{0};
};

/// Content of metadata.yaml.
struct BagMetadata
{
  int version{5};
  std::string storage_identifier;  ///< "sqlite3" or "mcap"
  std::vector<std::string> relative_file_paths;
  int64_t start_ns{0};     ///< first message of the bag, ns since the epoch
  int64_t duration_ns{0};  ///< last minus first message
  uint64_t message_count{0};
  std::vector<TopicCount> topics;
  std::vector<FileInfo> files;
  std::string compression_format;
  std::string compression_mode;
};

/// metadata.yaml text (`rosbag2_bagfile_information` root).
std::string metadata_to_yaml(const BagMetadata & metadata);

/// Parses metadata.yaml text; false with `error` set when it is not a bag's metadata.
bool metadata_from_yaml(const std::string & text, BagMetadata & metadata, std::string & error);

}  // namespace rclcdds_bag
