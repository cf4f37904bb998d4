#include "bag_metadata.hpp"

#include <yaml-cpp/yaml.h>

#include <sstream>

namespace rclcdds_bag
{

namespace
{

// How rosbag2 writes an infinite duration (rmw's "unspecified" in seconds and nanoseconds).
constexpr const char kInfinite[] = "    sec: 9223372036\n    nsec: 854775807\n";

template<class T>
bool read_scalar(const YAML::Node & node, T & out)
{
  if (!node || !node.IsScalar()) {
    return false;
  }
  try {
    out = node.as<T>();
    return true;
  } catch (const YAML::Exception &) {
    return false;
  }
}

}  // namespace

std::string qos_profiles_to_yaml(const std::vector<OfferedQos> & profiles)
{
  std::ostringstream out;
  for (const auto & qos : profiles) {
    out << "- history: " << qos.history << "\n  depth: " << qos.depth <<
      "\n  reliability: " << qos.reliability << "\n  durability: " << qos.durability <<
      "\n  deadline:\n" << kInfinite << "  lifespan:\n" << kInfinite <<
      "  liveliness: 1\n  liveliness_lease_duration:\n" << kInfinite <<
      "  avoid_ros_namespace_conventions: false\n";
  }
  std::string text = out.str();
  if (!text.empty()) {
    text.pop_back();  // rosbag2 ends the list without a newline
  }
  return text;
}

std::vector<OfferedQos> qos_profiles_from_yaml(const std::string & text)
{
  std::vector<OfferedQos> profiles;
  try {
    const YAML::Node root = YAML::Load(text);
    if (!root.IsSequence()) {
      return profiles;
    }
    for (const auto & entry : root) {
      if (!entry.IsMap()) {
        continue;
      }
      OfferedQos qos;
      read_scalar(entry["history"], qos.history);
      read_scalar(entry["depth"], qos.depth);
      read_scalar(entry["reliability"], qos.reliability);
      read_scalar(entry["durability"], qos.durability);
      profiles.push_back(qos);
    }
  } catch (const YAML::Exception &) {
  }
  return profiles;
}

std::string metadata_to_yaml(const BagMetadata & metadata)
{
  YAML::Emitter out;
  out << YAML::BeginMap << YAML::Key << "rosbag2_bagfile_information" << YAML::Value;
  out << YAML::BeginMap;
  out << YAML::Key << "version" << YAML::Value << metadata.version;
  out << YAML::Key << "storage_identifier" << YAML::Value << metadata.storage_identifier;
  out << YAML::Key << "duration" << YAML::Value << YAML::BeginMap << YAML::Key << "nanoseconds" <<
    YAML::Value << metadata.duration_ns << YAML::EndMap;
  out << YAML::Key << "starting_time" << YAML::Value << YAML::BeginMap <<
    YAML::Key << "nanoseconds_since_epoch" << YAML::Value << metadata.start_ns << YAML::EndMap;
  out << YAML::Key << "message_count" << YAML::Value << metadata.message_count;
  out << YAML::Key << "topics_with_message_count" << YAML::Value << YAML::BeginSeq;
  for (const auto & topic : metadata.topics) {
    out << YAML::BeginMap << YAML::Key << "topic_metadata" << YAML::Value << YAML::BeginMap;
    out << YAML::Key << "name" << YAML::Value << topic.topic.name;
    out << YAML::Key << "type" << YAML::Value << topic.topic.type;
    out << YAML::Key << "serialization_format" << YAML::Value << topic.topic.serialization_format;
    out << YAML::Key << "offered_qos_profiles" << YAML::Value << YAML::DoubleQuoted <<
      topic.topic.offered_qos_profiles;
    out << YAML::EndMap;
    out << YAML::Key << "message_count" << YAML::Value << topic.message_count << YAML::EndMap;
  }
  out << YAML::EndSeq;
  out << YAML::Key << "compression_format" << YAML::Value << YAML::DoubleQuoted <<
    metadata.compression_format;
  out << YAML::Key << "compression_mode" << YAML::Value << YAML::DoubleQuoted <<
    metadata.compression_mode;
  out << YAML::Key << "relative_file_paths" << YAML::Value << YAML::BeginSeq;
  for (const auto & path : metadata.relative_file_paths) {
    out << path;
  }
  out << YAML::EndSeq;
  out << YAML::Key << "files" << YAML::Value << YAML::BeginSeq;
  for (const auto & file : metadata.files) {
    out << YAML::BeginMap << YAML::Key << "path" << YAML::Value << file.path;
    out << YAML::Key << "starting_time" << YAML::Value << YAML::BeginMap <<
      YAML::Key << "nanoseconds_since_epoch" << YAML::Value << file.start_ns << YAML::EndMap;
    out << YAML::Key << "duration" << YAML::Value << YAML::BeginMap << YAML::Key <<
      "nanoseconds" << YAML::Value << file.duration_ns << YAML::EndMap;
    out << YAML::Key << "message_count" << YAML::Value << file.message_count << YAML::EndMap;
  }
  out << YAML::EndSeq;
  out << YAML::EndMap << YAML::EndMap;
  return std::string(out.c_str()) + "\n";
}

bool metadata_from_yaml(const std::string & text, BagMetadata & metadata, std::string & error)
{
  metadata = BagMetadata();
  try {
    const YAML::Node root = YAML::Load(text);
    const YAML::Node info = root.IsMap() ? root["rosbag2_bagfile_information"] : YAML::Node();
    if (!info || !info.IsMap()) {
      error = "no 'rosbag2_bagfile_information' map";
      return false;
    }
    if (!read_scalar(info["version"], metadata.version)) {
      error = "no version";
      return false;
    }
    if (!read_scalar(info["storage_identifier"], metadata.storage_identifier)) {
      error = "no storage_identifier";
      return false;
    }
    if (info["duration"].IsMap()) {
      read_scalar(info["duration"]["nanoseconds"], metadata.duration_ns);
    }
    if (info["starting_time"].IsMap()) {
      read_scalar(info["starting_time"]["nanoseconds_since_epoch"], metadata.start_ns);
    }
    read_scalar(info["message_count"], metadata.message_count);
    read_scalar(info["compression_format"], metadata.compression_format);
    read_scalar(info["compression_mode"], metadata.compression_mode);
    if (info["topics_with_message_count"].IsSequence()) {
      for (const auto & entry : info["topics_with_message_count"]) {
        const YAML::Node topic = entry.IsMap() ? entry["topic_metadata"] : YAML::Node();
        if (!topic || !topic.IsMap()) {
          continue;
        }
        TopicCount count;
        read_scalar(topic["name"], count.topic.name);
        read_scalar(topic["type"], count.topic.type);
        read_scalar(topic["serialization_format"], count.topic.serialization_format);
        read_scalar(topic["offered_qos_profiles"], count.topic.offered_qos_profiles);
        read_scalar(entry["message_count"], count.message_count);
        metadata.topics.push_back(count);
      }
    }
    if (info["relative_file_paths"].IsSequence()) {
      for (const auto & path : info["relative_file_paths"]) {
        std::string value;
        if (read_scalar(path, value)) {
          metadata.relative_file_paths.push_back(value);
        }
      }
    }
    if (info["files"].IsSequence()) {
      for (const auto & entry : info["files"]) {
        if (!entry.IsMap()) {
          continue;
        }
        FileInfo file;
        read_scalar(entry["path"], file.path);
        if (entry["starting_time"].IsMap()) {
          read_scalar(entry["starting_time"]["nanoseconds_since_epoch"], file.start_ns);
        }
        if (entry["duration"].IsMap()) {
          read_scalar(entry["duration"]["nanoseconds"], file.duration_ns);
        }
        read_scalar(entry["message_count"], file.message_count);
        metadata.files.push_back(file);
      }
    }
  } catch (const YAML::Exception & e) {
    error = e.what();
    return false;
  }
  return true;
}

}  // namespace rclcdds_bag
