// Opening a bag directory for reading: metadata.yaml, or the storage files found beside it.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "bag_storage.hpp"

namespace rclcdds_bag
{

namespace
{

bool ends_with(const std::string & text, const std::string & suffix)
{
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool is_directory(const std::string & path)
{
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_file(const std::string & path)
{
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string base_name(const std::string & path)
{
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

/// Orders "bag_2.db3" before "bag_10.db3".
bool natural_less(const std::string & a, const std::string & b)
{
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      size_t ei = i;
      size_t ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) {++ei;}
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) {++ej;}
      const std::string na = a.substr(i, ei - i);
      const std::string nb = b.substr(j, ej - j);
      if (na.size() != nb.size()) {
        return na.size() < nb.size();
      }
      if (na != nb) {
        return na < nb;
      }
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) {
        return a[i] < b[j];
      }
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

std::unique_ptr<StorageReader> open_reader(const std::string & path)
{
  return storage_of_file(path) == "mcap" ? open_mcap_reader(path) : open_sqlite_reader(path);
}

}  // namespace

std::string storage_of_file(const std::string & path)
{
  if (ends_with(path, ".db3")) {
    return "sqlite3";
  }
  if (ends_with(path, ".mcap")) {
    return "mcap";
  }
  return "";
}

BagDirectory open_bag_directory(const std::string & path)
{
  BagDirectory bag;
  bag.path = path;
  if (is_file(path)) {
    if (storage_of_file(path).empty()) {
      throw std::runtime_error("'" + path + "' is neither a bag directory nor a .db3/.mcap file");
    }
    bag.files.push_back(path);
    bag.metadata.storage_identifier = storage_of_file(path);
    bag.metadata.relative_file_paths.push_back(base_name(path));
    return bag;
  }
  if (!is_directory(path)) {
    throw std::runtime_error("no bag at '" + path + "'");
  }
  const std::string metadata_path = path + "/metadata.yaml";
  std::ifstream stream(metadata_path);
  if (stream) {
    std::stringstream text;
    text << stream.rdbuf();
    std::string error;
    if (metadata_from_yaml(text.str(), bag.metadata, error)) {
      bag.has_metadata_file = true;
      for (const auto & file : bag.metadata.relative_file_paths) {
        if (file.find("..") != std::string::npos || (!file.empty() && file[0] == '/')) {
          bag.notes.push_back("metadata.yaml names '" + file + "' outside the bag: ignored");
          continue;
        }
        const std::string full = path + "/" + file;
        if (is_file(full)) {
          bag.files.push_back(full);
        } else {
          bag.notes.push_back("metadata.yaml names '" + file + "', which is missing");
        }
      }
      if (!bag.files.empty()) {
        return bag;
      }
    } else {
      bag.notes.push_back(metadata_path + " is unreadable (" + error + ")");
    }
  } else {
    bag.notes.push_back("no metadata.yaml in '" + path + "': reading its storage files directly");
  }
  // Without usable metadata: every storage file of the directory, in name order.
  std::vector<std::string> names;
  if (DIR * dir = ::opendir(path.c_str())) {
    while (const dirent * entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (!storage_of_file(name).empty() && is_file(path + "/" + name)) {
        names.push_back(name);
      }
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end(), natural_less);
  BagMetadata rebuilt;
  for (const auto & name : names) {
    bag.files.push_back(path + "/" + name);
    rebuilt.relative_file_paths.push_back(name);
    if (rebuilt.storage_identifier.empty()) {
      rebuilt.storage_identifier = storage_of_file(name);
    }
  }
  if (bag.files.empty()) {
    throw std::runtime_error("'" + path + "' holds no metadata.yaml and no .db3 or .mcap file");
  }
  bag.metadata = rebuilt;
  bag.has_metadata_file = false;
  return bag;
}

void scan_bag(BagDirectory & bag)
{
  BagMetadata & metadata = bag.metadata;
  metadata.topics.clear();
  metadata.files.clear();
  metadata.message_count = 0;
  std::map<std::pair<std::string, std::string>, size_t> topic_slots;
  int64_t first = 0;
  int64_t last = 0;
  for (const auto & path : bag.files) {
    FileInfo file;
    file.path = base_name(path);
    int64_t file_first = 0;
    int64_t file_last = 0;
    try {
      auto reader = open_reader(path);
      BagMessage message;
      while (reader->next(message)) {
        const TopicInfo & topic = reader->topics()[message.topic];
        auto key = std::make_pair(topic.name, topic.type);
        auto slot = topic_slots.find(key);
        if (slot == topic_slots.end()) {
          slot = topic_slots.emplace(key, metadata.topics.size()).first;
          metadata.topics.push_back({topic, 0});
        }
        ++metadata.topics[slot->second].message_count;
        if (file.message_count == 0 || message.time_ns < file_first) {
          file_first = message.time_ns;
        }
        file_last = std::max(file_last, message.time_ns);
        ++file.message_count;
      }
      // Topics without messages still belong to the bag.
      for (const auto & topic : reader->topics()) {
        auto key = std::make_pair(topic.name, topic.type);
        if (topic_slots.count(key) == 0) {
          topic_slots.emplace(key, metadata.topics.size());
          metadata.topics.push_back({topic, 0});
        }
      }
      for (const auto & problem : reader->problems()) {
        bag.notes.push_back(problem);
      }
    } catch (const std::exception & error) {
      bag.notes.push_back(error.what());
    }
    file.start_ns = file_first;
    file.duration_ns = file_last - file_first;
    if (file.message_count > 0) {
      if (metadata.message_count == 0 || file_first < first) {
        first = file_first;
      }
      last = std::max(last, file_last);
    }
    metadata.message_count += file.message_count;
    metadata.files.push_back(file);
  }
  metadata.start_ns = first;
  metadata.duration_ns = last - first;
}

}  // namespace rclcdds_bag
