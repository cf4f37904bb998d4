// libFuzzer target for the bag readers: the first byte picks what reads the rest as a file:
// 0 the MCAP reader (chunks, compression, CRCs), 1 metadata.yaml and the offered-QoS text,
// 2 the sqlite3 reader. Seeds (valid files of each kind) are written into the corpus directory
// at start-up. Built and run by fuzz/run_fuzz.sh --target bag.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/bag/bag_storage.hpp"

namespace
{

std::string scratch_path(const char * suffix)
{
  return "/tmp/rclcdds_bag_fuzz_" + std::to_string(::getpid()) + suffix;
}

std::vector<uint8_t> file_bytes(const std::string & path)
{
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_seed(const std::string & dir, const std::string & name, uint8_t kind,
  const std::vector<uint8_t> & bytes)
{
  std::ofstream out(dir + "/" + name, std::ios::binary);
  out.put(static_cast<char>(kind));
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

/// Small valid bags of every layout, as seeds.
void make_seeds(const std::string & dir)
{
  const rclcdds_bag::TopicInfo topics[] = {
    {"/a", "std_msgs/msg/String", "cdr", rclcdds_bag::qos_profiles_to_yaml({{3, 0, 2, 2}}),
      "string data\n"},
    {"/b", "geometry_msgs/msg/Vector3", "cdr", "", "float64 x\nfloat64 y\nfloat64 z\n"}};
  const std::vector<uint8_t> payload = {0, 1, 0, 0, 3, 0, 0, 0, 'h', 'i', 0, 0};
  struct Layout
  {
    const char * name;
    const char * compression;
    size_t chunk;
    bool summary;
  };
  for (const Layout & layout : {Layout{"plain", "", 64, true}, Layout{"zstd", "zstd", 64, true},
      Layout{"lz4", "lz4", 64, false}, Layout{"unchunked", "", 0, true}})
  {
    const std::string path = scratch_path(".mcap");
    std::remove(path.c_str());
    rclcdds_bag::McapOptions options;
    options.compression = layout.compression;
    options.chunk_size = layout.chunk;
    options.summary = layout.summary;
    auto writer = rclcdds_bag::open_mcap_writer(path, options);
    const size_t a = writer->add_topic(topics[0]);
    const size_t b = writer->add_topic(topics[1]);
    for (int i = 0; i < 4; ++i) {
      writer->write(i % 2 ? a : b, 1000 + i, payload.data(), payload.size());
    }
    writer->close();
    write_seed(dir, std::string("seed_mcap_") + layout.name, 0, file_bytes(path));
    std::remove(path.c_str());
  }
  rclcdds_bag::BagMetadata metadata;
  metadata.storage_identifier = "mcap";
  metadata.relative_file_paths = {"x_0.mcap"};
  metadata.topics.push_back({topics[0], 4});
  metadata.files.push_back({"x_0.mcap", 1000, 3, 4});
  const std::string yaml = rclcdds_bag::metadata_to_yaml(metadata);
  write_seed(dir, "seed_metadata", 1, std::vector<uint8_t>(yaml.begin(), yaml.end()));
  const std::string db = scratch_path(".db3");
  std::remove(db.c_str());
  {
    auto writer = rclcdds_bag::open_sqlite_writer(db);
    const size_t a = writer->add_topic(topics[0]);
    writer->write(a, 1000, payload.data(), payload.size());
    writer->close();
  }
  write_seed(dir, "seed_sqlite", 2, file_bytes(db));
  std::remove(db.c_str());
}

void drain(rclcdds_bag::StorageReader & reader)
{
  rclcdds_bag::BagMessage message;
  while (reader.next(message)) {
    if (message.topic >= reader.topics().size()) {
      __builtin_trap();  // a message must name a known topic
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int * argc, char *** argv)
{
  // The corpus directory is the last argument that is not an option.
  for (int i = *argc - 1; i > 0; --i) {
    const std::string arg = (*argv)[i];
    struct stat info;
    if (!arg.empty() && arg[0] != '-' && ::stat(arg.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      make_seeds(arg);
      break;
    }
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size)
{
  if (size < 1) {
    return 0;
  }
  const uint8_t kind = data[0] % 3;
  std::vector<uint8_t> bytes(data + 1, data + size);
  try {
    if (kind == 0) {
      auto reader = rclcdds_bag::open_mcap_reader(std::move(bytes));
      drain(*reader);
    } else if (kind == 1) {
      const std::string text(bytes.begin(), bytes.end());
      rclcdds_bag::BagMetadata metadata;
      std::string error;
      rclcdds_bag::metadata_from_yaml(text, metadata, error);
      for (const auto & topic : metadata.topics) {
        rclcdds_bag::qos_profiles_from_yaml(topic.topic.offered_qos_profiles);
      }
      rclcdds_bag::qos_profiles_from_yaml(text);
    } else {
      const std::string path = scratch_path(".db3");
      {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      }
      try {
        auto reader = rclcdds_bag::open_sqlite_reader(path);
        drain(*reader);
      } catch (const std::runtime_error &) {
      }
      std::remove(path.c_str());
    }
  } catch (const std::runtime_error &) {
    // Refusing a file at open is the expected answer to most inputs.
  }
  return 0;
}
