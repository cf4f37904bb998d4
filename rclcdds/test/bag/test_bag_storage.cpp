// Bag storage without DDS: round trips through every storage layout, metadata.yaml, and files
// that are cut off, corrupted or made up.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <zstd.h>

#include "../transport/child_process.hpp"
#include "bag_storage.hpp"
#include "mcap_records.hpp"
#include "message_definition.hpp"

namespace
{

using rclcdds_bag::BagMessage;
using rclcdds_bag::TopicInfo;
using rclcdds_test::temp_dir;

struct Written
{
  std::vector<TopicInfo> topics;
  std::vector<BagMessage> messages;
};

/// Three topics, `count` messages of seeded random sizes (up to 40 kB) and content; times rise
/// with some repeated.
Written sample(size_t count)
{
  Written w;
  w.topics = {
    {"/camera/depth", "sensor_msgs/msg/Image", "cdr",
      rclcdds_bag::qos_profiles_to_yaml({{3, 0, 2, 2}}), "uint32 height\n"},
    {"/tf", "tf2_msgs/msg/TFMessage", "cdr",
      rclcdds_bag::qos_profiles_to_yaml({{3, 0, 1, 2}, {3, 0, 1, 2}}), ""},
    {"/tf_static", "tf2_msgs/msg/TFMessage", "cdr",
      rclcdds_bag::qos_profiles_to_yaml({{3, 0, 1, 1}}), ""}};
  std::mt19937 random(7);
  int64_t time = 1700000000000000000;
  for (size_t i = 0; i < count; ++i) {
    BagMessage m;
    m.topic = random() % 3;
    time += (i % 5 == 4) ? 0 : 1000 + random() % 5000000;
    m.time_ns = time;
    m.data.resize(i % 17 == 0 ? 0 : 4 + random() % 40000);
    for (auto & byte : m.data) {
      byte = static_cast<uint8_t>(random());
    }
    w.messages.push_back(std::move(m));
  }
  return w;
}

void write_all(const std::unique_ptr<rclcdds_bag::StorageWriter> & writer, const Written & w)
{
  std::vector<size_t> index;
  for (const auto & topic : w.topics) {
    index.push_back(writer->add_topic(topic));
  }
  for (const auto & m : w.messages) {
    writer->write(index[m.topic], m.time_ns, m.data.data(), m.data.size());
  }
  writer->close();
}

std::vector<BagMessage> read_all(rclcdds_bag::StorageReader & reader)
{
  std::vector<BagMessage> out;
  BagMessage m;
  while (reader.next(m)) {
    out.push_back(m);
  }
  return out;
}

/// `w` written as an MCAP file, as bytes.
std::vector<uint8_t> mcap_bytes(const Written & w, const rclcdds_bag::McapOptions & options)
{
  const std::string path = temp_dir() + "/x.mcap";
  write_all(rclcdds_bag::open_mcap_writer(path, options), w);
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

/// The little-endian number of `n` bytes at `pos`.
uint64_t le(const std::vector<uint8_t> & bytes, size_t pos, int n)
{
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) {
    v = v << 8 | bytes[pos + static_cast<size_t>(i)];
  }
  return v;
}

/// The top-level records of an MCAP file with this opcode, up to the footer: (offset, length).
std::vector<std::pair<size_t, size_t>> records_of(
  const std::vector<uint8_t> & bytes, uint8_t opcode)
{
  std::vector<std::pair<size_t, size_t>> out;
  for (size_t pos = 8; pos + 9 <= bytes.size() && bytes[pos] != 0x02;
    pos += 9 + le(bytes, pos + 1, 8))
  {
    if (bytes[pos] == opcode) {
      out.emplace_back(pos, le(bytes, pos + 1, 8));
    }
  }
  return out;
}

struct Layout
{
  const char * name;
  bool sqlite;
  rclcdds_bag::McapOptions mcap;
};

class StorageRoundTrip : public ::testing::TestWithParam<Layout> {};

TEST_P(StorageRoundTrip, EveryMessageComesBackInOrderWithItsTopic)
{
  const Layout & layout = GetParam();
  const Written w = sample(300);
  const std::string path = temp_dir() + (layout.sqlite ? "/bag_0.db3" : "/bag_0.mcap");
  const auto open_writer = [&] {
      return layout.sqlite ? rclcdds_bag::open_sqlite_writer(path) :
             rclcdds_bag::open_mcap_writer(path, layout.mcap);
    };
  write_all(open_writer(), w);
  auto reader = layout.sqlite ? rclcdds_bag::open_sqlite_reader(path) :
    rclcdds_bag::open_mcap_reader(path);
  const auto read = read_all(*reader);
  EXPECT_TRUE(reader->problems().empty()) << reader->problems().front();
  ASSERT_EQ(read.size(), w.messages.size());
  for (size_t i = 0; i < read.size(); ++i) {
    ASSERT_EQ(reader->topics().at(read[i].topic).name, w.topics[w.messages[i].topic].name) << i;
    ASSERT_EQ(read[i].time_ns, w.messages[i].time_ns) << i;
    ASSERT_EQ(read[i].data, w.messages[i].data) << i;
  }
  // Every topic comes back whole; only MCAP keeps the schema text.
  const auto whole = [&](const std::vector<TopicInfo> & topics) {
      std::vector<std::array<std::string, 5>> out;
      for (const auto & t : topics) {
        out.push_back({t.name, t.type, t.serialization_format, t.offered_qos_profiles,
            layout.sqlite ? "" : t.definition});
      }
      std::sort(out.begin(), out.end());
      return out;
    };
  EXPECT_EQ(whole(reader->topics()), whole(w.topics));
  EXPECT_THROW(open_writer(), std::runtime_error) << "an existing file must never be overwritten";
}

INSTANTIATE_TEST_SUITE_P(
  Layouts, StorageRoundTrip,
  ::testing::Values(
    Layout{"sqlite3", true, {}},
    Layout{"mcap_plain_chunks", false, {"", 256 * 1024}},
    Layout{"mcap_zstd", false, {"zstd", 256 * 1024}},
    Layout{"mcap_lz4", false, {"lz4", 256 * 1024}},
    Layout{"mcap_zstd_no_summary", false, {"zstd", 64 * 1024, false}},
    Layout{"mcap_unchunked", false, {"", 0}},
    Layout{"mcap_one_message_per_chunk", false, {"lz4", 1}}),
  [](const ::testing::TestParamInfo<Layout> & row) {return std::string(row.param.name);});

TEST(McapFile, SummaryOffsetsAndCrcPointAtTheRecordsTheyName)
{
  const auto bytes = mcap_bytes(sample(100), {"zstd", 64 * 1024});
  ASSERT_GT(bytes.size(), 8u + 29u);
  // Footer: 8 magic bytes at the end, before them the footer record (1 + 8 + 20).
  const size_t footer = bytes.size() - 8 - 29;
  ASSERT_EQ(bytes[footer], 0x02);
  const size_t summary_start = le(bytes, footer + 9, 8);
  const size_t offsets_start = le(bytes, footer + 17, 8);
  ASSERT_LT(summary_start, offsets_start);
  ASSERT_LT(offsets_start, footer);
  EXPECT_EQ(le(bytes, footer + 25, 4),
    rclcdds_bag::mcap::crc32(bytes.data() + summary_start, footer + 9 + 16 - summary_start));
  // Each summary offset names a group of records of its opcode.
  size_t groups = 0;
  for (size_t pos = offsets_start; pos < footer; pos += 9 + 17, ++groups) {
    ASSERT_EQ(bytes[pos], 0x0E);
    const size_t start = le(bytes, pos + 10, 8);
    ASSERT_LT(start + le(bytes, pos + 18, 8), bytes.size());
    EXPECT_EQ(bytes[start], bytes[pos + 9]);
  }
  EXPECT_EQ(groups, 4u);  // schemas, channels, statistics, chunk indexes
  EXPECT_GT(records_of(bytes, 0x06).size(), 1u);  // chunks
  // The CRC itself: the IEEE check value, also when computed in pieces.
  const auto * text = reinterpret_cast<const uint8_t *>("123456789");
  EXPECT_EQ(rclcdds_bag::mcap::crc32(text, 9), 0xCBF43926U);
  EXPECT_EQ(rclcdds_bag::mcap::crc32(text + 4, 5, rclcdds_bag::mcap::crc32(text, 4)), 0xCBF43926U);
}

TEST(McapFile, CutAnywhereYieldsAPrefixAndSaysWhereItStopped)
{
  const Written w = sample(60);
  const auto bytes = mcap_bytes(w, {"lz4", 8 * 1024});
  ASSERT_EQ(records_of(bytes, 0x0F).size(), 1u);
  const size_t data_end = records_of(bytes, 0x0F)[0].first;
  size_t previous = 0;
  const size_t step = std::max<size_t>(1, bytes.size() / 400);
  for (size_t cut = 0; cut <= bytes.size(); cut += (cut < 64 ? 1 : step)) {
    std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    if (cut < 8) {
      EXPECT_THROW(rclcdds_bag::open_mcap_reader(part), std::runtime_error);
      continue;
    }
    auto reader = rclcdds_bag::open_mcap_reader(part);
    const auto read = read_all(*reader);
    ASSERT_LE(read.size(), w.messages.size());
    for (size_t i = 0; i < read.size(); ++i) {
      ASSERT_EQ(read[i].data, w.messages[i].data) << "cut " << cut << " message " << i;
    }
    EXPECT_GE(read.size(), previous) << "a longer file never yields fewer messages";
    previous = read.size();
    if (cut <= data_end) {
      ASSERT_FALSE(reader->problems().empty()) << "cut " << cut;
      EXPECT_NE(reader->problems().back().find("cut off"), std::string::npos) <<
        reader->problems().back();
    } else {
      EXPECT_EQ(read.size(), w.messages.size());
    }
  }
}

TEST(McapFile, ChunkWithBadCrcIsSkippedAndTheRestPlays)
{
  const Written w = sample(80);
  auto bytes = mcap_bytes(w, {"", 16 * 1024});
  const auto chunks = records_of(bytes, 0x06);
  ASSERT_GE(chunks.size(), 3u);
  // Flip the last byte of the second chunk's records (its payload, not its framing).
  bytes[chunks[1].first + 9 + chunks[1].second - 1] ^= 0x5A;
  auto reader = rclcdds_bag::open_mcap_reader(bytes);
  const auto read = read_all(*reader);
  ASSERT_EQ(reader->problems().size(), 1u);
  EXPECT_NE(reader->problems()[0].find("CRC mismatch"), std::string::npos) << reader->problems()[0];
  EXPECT_LT(read.size(), w.messages.size());
  EXPECT_GT(read.size(), 0u);
  // Whatever came back is original, in original order.
  size_t j = 0;
  for (const auto & m : read) {
    while (j < w.messages.size() && w.messages[j].data != m.data) {
      ++j;
    }
    ASSERT_LT(j, w.messages.size()) << "a message that was never written";
    ++j;
  }
}

TEST(McapFile, RandomDamageNeverCrashes)
{
  const auto original = mcap_bytes(sample(40), {"zstd", 4 * 1024});
  std::mt19937 random(11);
  for (int round = 0; round < 300; ++round) {
    auto bytes = original;
    for (int flips = 1 + static_cast<int>(random() % 8); flips > 0; --flips) {
      bytes[8 + random() % (bytes.size() - 8)] = static_cast<uint8_t>(random());
    }
    auto reader = rclcdds_bag::open_mcap_reader(bytes);
    EXPECT_LE(read_all(*reader).size(), 40u + 40u);
  }
}

TEST(McapRecords, CursorRefusesEveryReadPastTheEndAndConsumesNothing)
{
  // A string length against the two bytes that follow it: one byte short is the edge.
  for (uint8_t length : {2, 3, 5, 255}) {
    const uint8_t bytes[] = {length, 0, 0, 0, 'a', 'b'};
    rclcdds_bag::mcap::Cursor cursor(bytes, sizeof(bytes));
    std::string text;
    EXPECT_EQ(cursor.string(text), length == 2) << int{length};
    EXPECT_EQ(cursor.left(), length == 2 ? 0u : sizeof(bytes)) << "a failed read consumes nothing";
  }
  const uint8_t six[] = {1, 2, 3, 4, 5, 6};
  rclcdds_bag::mcap::Cursor cursor(six, sizeof(six));
  uint64_t big = 0;
  const uint8_t * taken = nullptr;
  EXPECT_FALSE(cursor.u64(big));
  EXPECT_FALSE(cursor.bytes(7, taken));
  EXPECT_TRUE(cursor.bytes(6, taken));
  const uint8_t map_bytes[] = {9, 0, 0, 0, 1, 0, 0, 0, 'k', 9, 0, 0, 0};  // value overruns the map
  rclcdds_bag::mcap::Cursor map_cursor(map_bytes, sizeof(map_bytes));
  std::map<std::string, std::string> map;
  EXPECT_FALSE(map_cursor.string_map(map));
}

TEST(McapRecords, ChunkHeadersAndFramesThatLieAreRefused)
{
  struct Case
  {
    const char * what;
    uint64_t uncompressed;
    uint64_t records_field;
    std::string compression;
  };
  const Case cases[] = {
    {"records length beyond the record", 4, 100, ""},
    {"uncompressed size of a terabyte", uint64_t{1} << 40, 4, "zstd"},
    {"uncompressed size of 512 MiB", uint64_t{512} << 20, 4, "lz4"},
    {"plain chunk with a size mismatch", 10, 4, ""},
    {"unknown compression", 4, 4, "brotli"},
    {"zstd garbage", 4, 4, "zstd"},
    {"lz4 garbage", 4, 4, "lz4"},
  };
  for (const auto & c : cases) {
    std::vector<uint8_t> content(8 + 8, 0);  // start and end time
    const auto put_le = [&content](uint64_t v, int n) {
        for (int i = 0; i < n; ++i) {
          content.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
      };
    put_le(c.uncompressed, 8);
    put_le(0, 4);  // CRC
    put_le(c.compression.size(), 4);
    content.insert(content.end(), c.compression.begin(), c.compression.end());
    put_le(c.records_field, 8);
    content.insert(content.end(), 4, 0x42);
    rclcdds_bag::mcap::Chunk chunk;
    std::string error;
    std::vector<uint8_t> out;
    EXPECT_FALSE(rclcdds_bag::mcap::parse_chunk(content.data(), content.size(), chunk, error) &&
      rclcdds_bag::mcap::decompress_chunk(chunk, out, error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
  // A real zstd frame whose chunk claims another size: refused before allocating that size.
  const std::vector<uint8_t> data(100, 7);
  std::vector<uint8_t> frame(ZSTD_compressBound(data.size()));
  frame.resize(ZSTD_compress(frame.data(), frame.size(), data.data(), data.size(), 1));
  for (uint64_t claimed : {uint64_t{100}, uint64_t{99}, uint64_t{100} << 20}) {
    rclcdds_bag::mcap::Chunk chunk;
    chunk.uncompressed_size = claimed;
    chunk.compression = "zstd";
    chunk.records = frame.data();
    chunk.records_size = frame.size();
    std::vector<uint8_t> out;
    std::string error;
    const bool ok = rclcdds_bag::mcap::decompress_chunk(chunk, out, error);
    EXPECT_EQ(ok, claimed == 100) << claimed << ": " << error;
    if (!ok) {
      EXPECT_LT(out.capacity(), claimed) << "nothing allocated for the claimed size";
    }
  }
}

TEST(SqliteFile, CutOffDatabaseFailsCleanlyOrYieldsOriginalMessages)
{
  const std::string dir = temp_dir();
  const Written w = sample(200);
  write_all(rclcdds_bag::open_sqlite_writer(dir + "/bag_0.db3"), w);
  std::ifstream in(dir + "/bag_0.db3", std::ios::binary);
  const std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
  std::map<int64_t, std::vector<const BagMessage *>> by_time;
  for (const auto & m : w.messages) {
    by_time[m.time_ns].push_back(&m);
  }
  for (size_t keep : {size_t{0}, size_t{100}, size_t{4096}, bytes.size() / 3, bytes.size() / 2,
      bytes.size() - 4096})
  {
    const std::string cut = dir + "/cut_" + std::to_string(keep) + ".db3";
    std::ofstream(cut, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(keep));
    try {
      auto reader = rclcdds_bag::open_sqlite_reader(cut);
      for (const auto & m : read_all(*reader)) {
        ASSERT_TRUE(std::any_of(by_time[m.time_ns].begin(), by_time[m.time_ns].end(),
          [&](const BagMessage * original) {return original->data == m.data;})) << keep;
      }
    } catch (const std::runtime_error & error) {
      EXPECT_NE(std::string(error.what()), "") << "keep " << keep;
    }
  }
}

TEST(SqliteFile, HumbleDatabaseMadeBySqlReadsBack)
{
  // The SQL follows rosbag2's Humble layout on its own (schema table, metadata table, topics,
  // messages), independent of our writer.
  const std::string db = temp_dir() + "/humble_0.db3";
  const std::string command = "sqlite3 " + db + " < " BAG_TEST_DATA "/humble_bag.sql";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  auto reader = rclcdds_bag::open_sqlite_reader(db);
  const auto read = read_all(*reader);
  ASSERT_EQ(reader->topics().size(), 2u);
  EXPECT_EQ(reader->topics()[0].name, "/chatter");
  EXPECT_EQ(reader->topics()[0].type, "std_msgs/msg/String");
  ASSERT_EQ(read.size(), 4u);
  // "hello" as a CDR std_msgs/String: header, length 6, text, NUL, padding.
  const std::vector<uint8_t> hello = {0, 1, 0, 0, 6, 0, 0, 0, 'h', 'e', 'l', 'l', 'o', 0, 0, 0};
  EXPECT_EQ(read[0].data, hello);
  for (size_t i = 1; i < read.size(); ++i) {
    EXPECT_LE(read[i - 1].time_ns, read[i].time_ns) << "time order";
  }
  EXPECT_TRUE(reader->problems().empty());
}

TEST(BagFiles, WhatIsNoBagIsRefusedAtOpen)
{
  const std::string dir = temp_dir();
  std::ofstream(dir + "/junk.db3") << "this is not a database, just some text that is long enough";
  std::ofstream(dir + "/notes.txt") << "not a bag file";
  const std::string empty = temp_dir();
  const std::vector<std::pair<const char *, std::function<void()>>> cases = {
    {"sqlite header as MCAP", [] {
        rclcdds_bag::open_mcap_reader(std::vector<uint8_t>{'S', 'Q', 'L', 'i', 't', 'e', ' ', '3'});
      }},
    {"missing .mcap", [] {rclcdds_bag::open_mcap_reader(std::string("/nonexistent/x.mcap"));}},
    {"text as .db3", [&] {rclcdds_bag::open_sqlite_reader(dir + "/junk.db3");}},
    {"missing .db3", [&] {rclcdds_bag::open_sqlite_reader(dir + "/missing.db3");}},
    {"directory without storage files", [&] {rclcdds_bag::open_bag_directory(empty);}},
    {"absent directory", [&] {rclcdds_bag::open_bag_directory(empty + "/absent");}},
    {"a file that is no storage file", [&] {rclcdds_bag::open_bag_directory(dir + "/notes.txt");}},
  };
  for (const auto & [what, open] : cases) {
    EXPECT_THROW(open(), std::runtime_error) << what;
  }
}

TEST(BagMetadata, YamlRoundTripKeepsEveryFieldAndTheQosProfiles)
{
  rclcdds_bag::BagMetadata m;
  m.storage_identifier = "mcap";
  m.relative_file_paths = {"a_0.mcap", "a_1.mcap"};
  m.start_ns = 1700000000123456789;
  m.duration_ns = 4500000000;
  m.message_count = 42;
  m.topics.push_back({{"/a", "std_msgs/msg/String", "cdr",
      rclcdds_bag::qos_profiles_to_yaml({{3, 0, 2, 1}}), ""}, 40});
  m.topics.push_back({{"/b", "sensor_msgs/msg/Image", "cdr", "", ""}, 2});
  m.files.push_back({"a_0.mcap", 1700000000123456789, 1000, 30});
  m.files.push_back({"a_1.mcap", 1700000001123456789, 3500000000, 12});
  const std::string text = rclcdds_bag::metadata_to_yaml(m);
  EXPECT_EQ(text.find("rosbag2_bagfile_information:\n  version: 5\n"), 0u) << text;
  rclcdds_bag::BagMetadata back;
  std::string error;
  ASSERT_TRUE(rclcdds_bag::metadata_from_yaml(text, back, error)) << error;
  // Every field read back is written out again the same; the nanoseconds and the duration
  // past 32 bits are kept exactly.
  EXPECT_EQ(rclcdds_bag::metadata_to_yaml(back), text);
  EXPECT_EQ(back.start_ns, m.start_ns);
  ASSERT_EQ(back.files.size(), 2u);
  EXPECT_EQ(back.files[1].duration_ns, 3500000000);
  // A topic's QoS list likewise; text that is none gives the profiles it can read.
  const std::string qos = rclcdds_bag::qos_profiles_to_yaml({{3, 0, 2, 2}, {1, 10, 1, 1}});
  EXPECT_EQ(rclcdds_bag::qos_profiles_to_yaml(rclcdds_bag::qos_profiles_from_yaml(qos)), qos);
  EXPECT_TRUE(rclcdds_bag::qos_profiles_from_yaml("").empty());
  EXPECT_TRUE(rclcdds_bag::qos_profiles_from_yaml("{{{").empty());
  EXPECT_EQ(rclcdds_bag::qos_profiles_from_yaml("- 3\n- reliability: x\n").size(), 1u);
}

TEST(BagMetadata, TextThatIsNotBagMetadataIsRefused)
{
  const char * cases[] = {
    "", "[1, 2", "just text", "rosbag2_bagfile_information: 3",
    "rosbag2_bagfile_information:\n  storage_identifier: sqlite3\n",
    "rosbag2_bagfile_information:\n  version: five\n  storage_identifier: sqlite3\n",
    "rosbag2_bagfile_information:\n  version: 5\n"};
  for (const char * text : cases) {
    rclcdds_bag::BagMetadata m;
    std::string error;
    EXPECT_FALSE(rclcdds_bag::metadata_from_yaml(text, m, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(BagDirectory, WithoutMetadataTheStorageFilesAreFoundAndCounted)
{
  const std::string dir = temp_dir();
  const Written w = sample(50);
  write_all(rclcdds_bag::open_mcap_writer(dir + "/run_10.mcap"), w);
  write_all(rclcdds_bag::open_mcap_writer(dir + "/run_2.mcap"), w);
  std::ofstream(dir + "/notes.txt") << "not a bag file";
  rclcdds_bag::BagDirectory bag = rclcdds_bag::open_bag_directory(dir);
  EXPECT_FALSE(bag.has_metadata_file);
  ASSERT_EQ(bag.notes.size(), 1u);
  EXPECT_NE(bag.notes[0].find("no metadata.yaml"), std::string::npos);
  ASSERT_EQ(bag.files.size(), 2u);
  EXPECT_EQ(bag.files[0], dir + "/run_2.mcap") << "numbered files in number order";
  rclcdds_bag::scan_bag(bag);
  EXPECT_EQ(bag.metadata.message_count, 100u);
  EXPECT_EQ(bag.metadata.topics.size(), 3u);
  EXPECT_EQ(bag.metadata.start_ns, w.messages.front().time_ns);
  EXPECT_EQ(bag.metadata.duration_ns, w.messages.back().time_ns - w.messages.front().time_ns);
  // One storage file is a bag too.
  bag = rclcdds_bag::open_bag_directory(dir + "/run_10.mcap");
  ASSERT_EQ(bag.files.size(), 1u);
  EXPECT_EQ(bag.metadata.storage_identifier, "mcap");
  rclcdds_bag::scan_bag(bag);
  EXPECT_EQ(bag.metadata.message_count, 50u);
}

TEST(BagDirectory, MetadataNamingFilesOutsideTheBagOrMissingOnesIsNotFollowed)
{
  const std::string dir = temp_dir();
  write_all(rclcdds_bag::open_sqlite_writer(dir + "/ok_0.db3"), sample(5));
  rclcdds_bag::BagMetadata m;
  m.storage_identifier = "sqlite3";
  m.relative_file_paths = {"../../etc/passwd.db3", "missing_1.db3", "ok_0.db3"};
  std::ofstream(dir + "/metadata.yaml") << rclcdds_bag::metadata_to_yaml(m);
  const auto bag = rclcdds_bag::open_bag_directory(dir);
  ASSERT_EQ(bag.files.size(), 1u);
  EXPECT_EQ(bag.files[0], dir + "/ok_0.db3");
  EXPECT_EQ(bag.notes.size(), 2u);
}

TEST(MessageDefinition, DependenciesFollowOnceEachWithTheirHeaders)
{
  const std::map<std::string, std::string> files = {
    {"pkg/Outer", "Header header  # stamp\npkg/Inner[] items\nInner one\nint32 A=1\nstring<=8 s\n"},
    {"pkg/Inner", "geometry_msgs/Point p\nfloat64[3] v\n"},
    {"std_msgs/Header", "builtin_interfaces/Time stamp\nstring frame_id\n"},
    {"builtin_interfaces/Time", "int32 sec\nuint32 nanosec\n"},
    {"geometry_msgs/Point", "float64 x\n"}};
  auto lookup = [&](const std::string & package, const std::string & type) {
      auto it = files.find(package + "/" + type);
      return it == files.end() ? std::string() : it->second;
    };
  const std::string text = rclcdds_bag::message_definition("pkg/msg/Outer", lookup);
  EXPECT_EQ(text.find(files.at("pkg/Outer")), 0u);
  for (const char * dep : {"std_msgs/Header", "pkg/Inner", "builtin_interfaces/Time",
      "geometry_msgs/Point"})
  {
    const std::string marker = std::string(80, '=') + "\nMSG: " + dep + "\n";
    const size_t at = text.find(marker);
    ASSERT_NE(at, std::string::npos) << dep;
    EXPECT_EQ(text.find(marker, at + 1), std::string::npos) << dep << " twice";
  }
  EXPECT_EQ(rclcdds_bag::message_definition("pkg/msg/Missing", lookup), "");
  EXPECT_EQ(rclcdds_bag::message_definition("not a type", lookup), "");
}

}  // namespace
