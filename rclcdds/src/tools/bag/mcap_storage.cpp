// MCAP storage with the ROS 2 profile: schemas "ros2msg", channels "cdr" with the offered QoS in
// their metadata, messages in chunks (uncompressed, zstd or lz4) with message indexes, and an
// optional summary (schemas, channels, statistics, chunk indexes) with its offsets.
#include <lz4frame.h>
#include <sys/stat.h>
#include <zstd.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bag_storage.hpp"
#include "mcap_records.hpp"

namespace rclcdds_bag
{

namespace
{

constexpr uint8_t kMagic[8] = {0x89, 'M', 'C', 'A', 'P', '0', '\r', '\n'};

void put_u8(std::vector<uint8_t> & out, uint8_t v) {out.push_back(v);}

template<class T>
void put_le(std::vector<uint8_t> & out, T v)
{
  for (size_t i = 0; i < sizeof(T); ++i) {
    out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
  }
}

void put_string(std::vector<uint8_t> & out, const std::string & s)
{
  put_le<uint32_t>(out, static_cast<uint32_t>(s.size()));
  out.insert(out.end(), s.begin(), s.end());
}

/// Opcode, length and content of one record appended to `out`.
void put_record(std::vector<uint8_t> & out, mcap::Opcode opcode, const std::vector<uint8_t> & content)
{
  put_u8(out, static_cast<uint8_t>(opcode));
  put_le<uint64_t>(out, content.size());
  out.insert(out.end(), content.begin(), content.end());
}

struct ChannelRecord
{
  uint16_t id;
  std::vector<uint8_t> record;  ///< the whole channel record, for the summary
};

class McapWriter : public StorageWriter
{
public:
  McapWriter(const std::string & path, const McapOptions & options)
  : path_(path), options_(options)
  {
    if (options.compression != "" && options.compression != "zstd" && options.compression != "lz4") {
      throw std::invalid_argument("unknown MCAP compression '" + options.compression + "'");
    }
    struct stat existing;
    if (::stat(path.c_str(), &existing) == 0) {
      throw std::runtime_error("'" + path + "' exists already");
    }
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
      throw std::runtime_error("cannot create '" + path + "'");
    }
    std::vector<uint8_t> out(kMagic, kMagic + 8);
    std::vector<uint8_t> header;
    put_string(header, "ros2");
    put_string(header, "rclcdds");
    put_record(out, mcap::Opcode::Header, header);
    emit(out);
  }

  ~McapWriter() override
  {
    try {
      close();
    } catch (const std::exception &) {
    }
  }

  size_t add_topic(const TopicInfo & topic) override
  {
    uint16_t schema_id = 0;
    auto it = schema_ids_.find(topic.type);
    if (it != schema_ids_.end()) {
      schema_id = it->second;
    } else {
      schema_id = static_cast<uint16_t>(schema_ids_.size() + 1);
      schema_ids_[topic.type] = schema_id;
      std::vector<uint8_t> content;
      put_le<uint16_t>(content, schema_id);
      put_string(content, topic.type);
      put_string(content, "ros2msg");
      put_string(content, topic.definition);
      std::vector<uint8_t> record;
      put_record(record, mcap::Opcode::Schema, content);
      schema_records_.insert(schema_records_.end(), record.begin(), record.end());
      ++schema_count_;
      emit(record);
    }
    const uint16_t channel_id = static_cast<uint16_t>(channels_.size() + 1);
    std::vector<uint8_t> content;
    put_le<uint16_t>(content, channel_id);
    put_le<uint16_t>(content, schema_id);
    put_string(content, topic.name);
    put_string(content, topic.serialization_format);
    std::vector<uint8_t> map;
    put_string(map, "offered_qos_profiles");
    put_string(map, topic.offered_qos_profiles);
    put_le<uint32_t>(content, static_cast<uint32_t>(map.size()));
    content.insert(content.end(), map.begin(), map.end());
    ChannelRecord channel{channel_id, {}};
    put_record(channel.record, mcap::Opcode::Channel, content);
    emit(channel.record);
    channels_.push_back(std::move(channel));
    channel_counts_.push_back(0);
    chunk_index_.emplace_back();
    return channels_.size() - 1;
  }

  void write(size_t topic, int64_t time_ns, const uint8_t * data, size_t size) override
  {
    if (topic >= channels_.size()) {
      throw std::invalid_argument("unknown topic index");
    }
    const uint64_t time = static_cast<uint64_t>(time_ns);
    std::vector<uint8_t> & out = options_.chunk_size == 0 ? scratch_ : chunk_;
    const uint64_t offset = out.size();
    put_u8(out, static_cast<uint8_t>(mcap::Opcode::Message));
    put_le<uint64_t>(out, 2 + 4 + 8 + 8 + size);
    put_le<uint16_t>(out, channels_[topic].id);
    put_le<uint32_t>(out, static_cast<uint32_t>(channel_counts_[topic]));
    put_le<uint64_t>(out, time);
    put_le<uint64_t>(out, time);
    out.insert(out.end(), data, data + size);
    ++channel_counts_[topic];
    ++message_count_;
    if (message_count_ == 1 || time < start_time_) {
      start_time_ = time;
    }
    end_time_ = std::max(end_time_, time);
    if (options_.chunk_size == 0) {
      emit(scratch_);
      scratch_.clear();
      return;
    }
    if (chunk_index_[topic].empty()) {
      chunk_channels_.push_back(topic);
    }
    chunk_index_[topic].emplace_back(time, offset);
    if (chunk_messages_ == 0 || time < chunk_start_) {
      chunk_start_ = time;
    }
    chunk_end_ = std::max(chunk_end_, time);
    ++chunk_messages_;
    if (chunk_.size() >= options_.chunk_size) {
      flush_chunk();
    }
  }

  void flush() override
  {
    flush_chunk();
    if (file_ != nullptr) {
      std::fflush(file_);
    }
  }

  void close() override
  {
    if (file_ == nullptr) {
      return;
    }
    flush_chunk();
    std::vector<uint8_t> out;
    std::vector<uint8_t> data_end;
    put_le<uint32_t>(data_end, 0);  // no data section CRC
    put_record(out, mcap::Opcode::DataEnd, data_end);
    emit(out);
    out.clear();
    uint64_t summary_start = 0;
    uint64_t summary_offset_start = 0;
    std::vector<uint8_t> summary;
    if (options_.summary) {
      summary_start = written_;
      std::vector<uint8_t> offsets;
      auto group = [&](mcap::Opcode opcode, const std::vector<uint8_t> & records) {
          if (records.empty()) {
            return;
          }
          std::vector<uint8_t> content;
          put_u8(content, static_cast<uint8_t>(opcode));
          put_le<uint64_t>(content, summary_start + summary.size());
          put_le<uint64_t>(content, records.size());
          put_record(offsets, mcap::Opcode::SummaryOffset, content);
          summary.insert(summary.end(), records.begin(), records.end());
        };
      group(mcap::Opcode::Schema, schema_records_);
      std::vector<uint8_t> channel_records;
      for (const auto & channel : channels_) {
        channel_records.insert(channel_records.end(), channel.record.begin(), channel.record.end());
      }
      group(mcap::Opcode::Channel, channel_records);
      std::vector<uint8_t> statistics;
      put_le<uint64_t>(statistics, message_count_);
      put_le<uint16_t>(statistics, static_cast<uint16_t>(schema_count_));
      put_le<uint32_t>(statistics, static_cast<uint32_t>(channels_.size()));
      put_le<uint32_t>(statistics, 0);  // attachments
      put_le<uint32_t>(statistics, 0);  // metadata
      put_le<uint32_t>(statistics, chunk_count_);
      put_le<uint64_t>(statistics, message_count_ > 0 ? start_time_ : 0);
      put_le<uint64_t>(statistics, end_time_);
      std::vector<uint8_t> counts;
      for (size_t i = 0; i < channels_.size(); ++i) {
        put_le<uint16_t>(counts, channels_[i].id);
        put_le<uint64_t>(counts, channel_counts_[i]);
      }
      put_le<uint32_t>(statistics, static_cast<uint32_t>(counts.size()));
      statistics.insert(statistics.end(), counts.begin(), counts.end());
      std::vector<uint8_t> statistics_record;
      put_record(statistics_record, mcap::Opcode::Statistics, statistics);
      group(mcap::Opcode::Statistics, statistics_record);
      group(mcap::Opcode::ChunkIndex, chunk_indexes_);
      summary_offset_start = summary_start + summary.size();
      summary.insert(summary.end(), offsets.begin(), offsets.end());
    }
    std::vector<uint8_t> footer_start;
    put_u8(footer_start, static_cast<uint8_t>(mcap::Opcode::Footer));
    put_le<uint64_t>(footer_start, 8 + 8 + 4);
    put_le<uint64_t>(footer_start, summary_start);
    put_le<uint64_t>(footer_start, summary_offset_start);
    summary.insert(summary.end(), footer_start.begin(), footer_start.end());
    const uint32_t crc = options_.summary ? mcap::crc32(summary.data(), summary.size()) : 0;
    put_le<uint32_t>(summary, crc);
    summary.insert(summary.end(), kMagic, kMagic + 8);
    emit(summary);
    const bool ok = std::fclose(file_) == 0 && !failed_;
    file_ = nullptr;
    if (!ok) {
      throw std::runtime_error("cannot write '" + path_ + "'");
    }
  }

private:
  void emit(const std::vector<uint8_t> & bytes)
  {
    if (file_ == nullptr || bytes.empty()) {
      return;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
      failed_ = true;
      throw std::runtime_error("cannot write '" + path_ + "'");
    }
    written_ += bytes.size();
  }

  void flush_chunk()
  {
    if (chunk_messages_ == 0 || file_ == nullptr) {
      return;
    }
    const uint32_t crc = mcap::crc32(chunk_.data(), chunk_.size());
    std::vector<uint8_t> compressed;
    const std::vector<uint8_t> * records = &chunk_;
    if (options_.compression == "zstd") {
      compressed.resize(ZSTD_compressBound(chunk_.size()));
      const size_t n = ZSTD_compress(compressed.data(), compressed.size(), chunk_.data(),
          chunk_.size(), 1);
      if (ZSTD_isError(n)) {
        throw std::runtime_error(std::string("zstd: ") + ZSTD_getErrorName(n));
      }
      compressed.resize(n);
      records = &compressed;
    } else if (options_.compression == "lz4") {
      LZ4F_preferences_t preferences;
      std::memset(&preferences, 0, sizeof(preferences));
      compressed.resize(LZ4F_compressFrameBound(chunk_.size(), &preferences));
      const size_t n = LZ4F_compressFrame(compressed.data(), compressed.size(), chunk_.data(),
          chunk_.size(), &preferences);
      if (LZ4F_isError(n)) {
        throw std::runtime_error(std::string("lz4: ") + LZ4F_getErrorName(n));
      }
      compressed.resize(n);
      records = &compressed;
    }
    // The chunk record's fields, then its records written straight from their buffer.
    std::vector<uint8_t> fields;
    put_le<uint64_t>(fields, chunk_start_);
    put_le<uint64_t>(fields, chunk_end_);
    put_le<uint64_t>(fields, chunk_.size());
    put_le<uint32_t>(fields, crc);
    put_string(fields, options_.compression);
    put_le<uint64_t>(fields, records->size());
    const uint64_t chunk_offset = written_;
    std::vector<uint8_t> head;
    put_u8(head, static_cast<uint8_t>(mcap::Opcode::Chunk));
    put_le<uint64_t>(head, fields.size() + records->size());
    head.insert(head.end(), fields.begin(), fields.end());
    emit(head);
    emit(*records);
    const uint64_t chunk_length = head.size() + records->size();
    std::vector<uint8_t> out;
    // Message indexes, one per channel present in the chunk.
    std::vector<std::pair<uint16_t, uint64_t>> index_offsets;
    for (size_t topic : chunk_channels_) {
      std::vector<uint8_t> index;
      put_le<uint16_t>(index, channels_[topic].id);
      put_le<uint32_t>(index, static_cast<uint32_t>(chunk_index_[topic].size() * 16));
      for (const auto & [time, offset] : chunk_index_[topic]) {
        put_le<uint64_t>(index, time);
        put_le<uint64_t>(index, offset);
      }
      index_offsets.emplace_back(channels_[topic].id, chunk_offset + chunk_length + out.size());
      put_record(out, mcap::Opcode::MessageIndex, index);
      chunk_index_[topic].clear();
    }
    const uint64_t index_length = out.size();
    emit(out);
    std::vector<uint8_t> chunk_index;
    put_le<uint64_t>(chunk_index, chunk_start_);
    put_le<uint64_t>(chunk_index, chunk_end_);
    put_le<uint64_t>(chunk_index, chunk_offset);
    put_le<uint64_t>(chunk_index, chunk_length);
    put_le<uint32_t>(chunk_index, static_cast<uint32_t>(index_offsets.size() * 10));
    for (const auto & [id, offset] : index_offsets) {
      put_le<uint16_t>(chunk_index, id);
      put_le<uint64_t>(chunk_index, offset);
    }
    put_le<uint64_t>(chunk_index, index_length);
    put_string(chunk_index, options_.compression);
    put_le<uint64_t>(chunk_index, records->size());
    put_le<uint64_t>(chunk_index, chunk_.size());
    put_record(chunk_indexes_, mcap::Opcode::ChunkIndex, chunk_index);
    ++chunk_count_;
    chunk_.clear();
    chunk_channels_.clear();
    chunk_messages_ = 0;
    chunk_start_ = chunk_end_ = 0;
  }

  std::string path_;
  McapOptions options_;
  std::FILE * file_{nullptr};
  bool failed_{false};
  uint64_t written_{0};  ///< bytes in the file
  std::map<std::string, uint16_t> schema_ids_;
  std::vector<uint8_t> schema_records_;
  size_t schema_count_{0};
  std::vector<ChannelRecord> channels_;
  std::vector<uint64_t> channel_counts_;
  uint64_t message_count_{0};
  uint64_t start_time_{0};
  uint64_t end_time_{0};
  // The open chunk: its records, the per-topic (time, offset) index and its time range.
  std::vector<uint8_t> chunk_;
  std::vector<std::vector<std::pair<uint64_t, uint64_t>>> chunk_index_;
  std::vector<size_t> chunk_channels_;
  size_t chunk_messages_{0};
  uint64_t chunk_start_{0};
  uint64_t chunk_end_{0};
  std::vector<uint8_t> chunk_indexes_;  ///< ChunkIndex records for the summary
  uint32_t chunk_count_{0};
  std::vector<uint8_t> scratch_;
};

// ---------------------------------------------------------------------------------------------
// Reading

/// Where the reader gets bytes from: a file (read as it goes) or memory.
class ByteSource
{
public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() const = 0;
  /// Copies `n` bytes at `offset` into `out`; false on an I/O error.
  virtual bool read(uint64_t offset, size_t n, std::vector<uint8_t> & out) = 0;
};

class FileSource : public ByteSource
{
public:
  explicit FileSource(const std::string & path)
  {
    file_ = std::fopen(path.c_str(), "rb");
    struct stat info;
    if (file_ == nullptr || ::fstat(fileno(file_), &info) != 0 || !S_ISREG(info.st_mode)) {
      if (file_ != nullptr) {
        std::fclose(file_);
      }
      throw std::runtime_error("cannot open '" + path + "'");
    }
    size_ = static_cast<uint64_t>(info.st_size);
  }
  ~FileSource() override {std::fclose(file_);}
  uint64_t size() const override {return size_;}
  bool read(uint64_t offset, size_t n, std::vector<uint8_t> & out) override
  {
    out.resize(n);
    if (n == 0) {
      return true;
    }
    return ::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0 &&
           std::fread(out.data(), 1, n, file_) == n;
  }

private:
  std::FILE * file_{nullptr};
  uint64_t size_{0};
};

class MemorySource : public ByteSource
{
public:
  explicit MemorySource(std::vector<uint8_t> bytes)
  : bytes_(std::move(bytes)) {}
  uint64_t size() const override {return bytes_.size();}
  bool read(uint64_t offset, size_t n, std::vector<uint8_t> & out) override
  {
    if (offset > bytes_.size() || n > bytes_.size() - offset) {
      return false;
    }
    out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(offset),
      bytes_.begin() + static_cast<std::ptrdiff_t>(offset + n));
    return true;
  }

private:
  std::vector<uint8_t> bytes_;
};

class McapReader : public StorageReader
{
public:
  McapReader(std::unique_ptr<ByteSource> source, std::string name)
  : source_(std::move(source)), name_(std::move(name))
  {
    std::vector<uint8_t> magic;
    if (source_->size() < 8 || !source_->read(0, 8, magic) ||
      std::memcmp(magic.data(), kMagic, 8) != 0)
    {
      throw std::runtime_error("'" + name_ + "' is not an MCAP file");
    }
    position_ = 8;
  }

  const std::vector<TopicInfo> & topics() const override {return topics_;}
  const std::vector<std::string> & problems() const override {return problems_;}

  bool next(BagMessage & message) override
  {
    while (pending_.empty()) {
      if (done_ || !read_record()) {
        done_ = true;
        return false;
      }
    }
    message = std::move(pending_.front());
    pending_.pop_front();
    ++delivered_;
    return true;
  }

private:
  void stop(const std::string & why)
  {
    problems_.push_back(
      name_ + ": " + why + " at byte " + std::to_string(position_) + " (after " +
      std::to_string(delivered_ + pending_.size()) + " messages)");
    done_ = true;
  }

  /// Reads and handles the record at position_; false at the end of the data.
  bool read_record()
  {
    const uint64_t size = source_->size();
    if (position_ == size) {
      stop("file ends without a footer (cut off?)");
      return false;
    }
    if (size - position_ < 9) {
      stop("file cut off inside a record header");
      return false;
    }
    std::vector<uint8_t> head;
    if (!source_->read(position_, 9, head)) {
      stop("read error");
      return false;
    }
    mcap::Cursor cursor(head.data(), head.size());
    uint8_t opcode = 0;
    uint64_t length = 0;
    cursor.u8(opcode);
    cursor.u64(length);
    if (length > size - position_ - 9) {
      stop("file cut off inside a record of " + std::to_string(length) + " bytes");
      return false;
    }
    if (length > mcap::kMaxRecordBytes) {
      stop("record of " + std::to_string(length) + " bytes is too large");
      return false;
    }
    const auto op = static_cast<mcap::Opcode>(opcode);
    if (op == mcap::Opcode::DataEnd || op == mcap::Opcode::Footer) {
      done_ = true;
      return false;
    }
    std::vector<uint8_t> content;
    if (!source_->read(position_ + 9, static_cast<size_t>(length), content)) {
      stop("read error");
      return false;
    }
    if (op == mcap::Opcode::Chunk) {
      handle_chunk(content);
    } else if (op == mcap::Opcode::Header && !seen_header_) {
      seen_header_ = true;
    } else {
      std::string error;
      if (!handle_plain(op, content.data(), content.size(), error)) {
        problems_.push_back(
          name_ + ": skipped a bad record at byte " + std::to_string(position_) + ": " + error);
      }
    }
    position_ += 9 + length;
    return true;
  }

  void handle_chunk(const std::vector<uint8_t> & content)
  {
    mcap::Chunk chunk;
    std::string error;
    std::vector<uint8_t> records;
    if (!mcap::parse_chunk(content.data(), content.size(), chunk, error) ||
      !mcap::decompress_chunk(chunk, records, error))
    {
      problems_.push_back(
        name_ + ": skipped the chunk at byte " + std::to_string(position_) + ": " + error);
      return;
    }
    mcap::Cursor cursor(records.data(), records.size());
    while (!cursor.empty()) {
      uint8_t opcode = 0;
      uint64_t length = 0;
      const uint8_t * body = nullptr;
      if (!cursor.u8(opcode) || !cursor.u64(length) || !cursor.bytes(length, body)) {
        problems_.push_back(
          name_ + ": the chunk at byte " + std::to_string(position_) +
          " ends inside a record; the rest of it is skipped");
        return;
      }
      if (!handle_plain(static_cast<mcap::Opcode>(opcode), body, static_cast<size_t>(length), error)) {
        problems_.push_back(
          name_ + ": skipped a bad record in the chunk at byte " + std::to_string(position_) +
          ": " + error);
      }
    }
  }

  /// Schema, channel and message records; others are ignored.
  bool handle_plain(mcap::Opcode op, const uint8_t * data, size_t size, std::string & error)
  {
    mcap::Cursor cursor(data, size);
    if (op == mcap::Opcode::Schema) {
      uint16_t id = 0;
      Schema schema;
      if (!cursor.u16(id) || !cursor.string(schema.name) || !cursor.string(schema.encoding) ||
        !cursor.string(schema.data))
      {
        error = "truncated schema";
        return false;
      }
      if (id == 0) {
        error = "schema id 0";
        return false;
      }
      schemas_[id] = std::move(schema);
      return true;
    }
    if (op == mcap::Opcode::Channel) {
      uint16_t id = 0;
      uint16_t schema_id = 0;
      TopicInfo topic;
      std::map<std::string, std::string> metadata;
      if (!cursor.u16(id) || !cursor.u16(schema_id) || !cursor.string(topic.name) ||
        !cursor.string(topic.serialization_format) || !cursor.string_map(metadata))
      {
        error = "truncated channel";
        return false;
      }
      if (channels_.count(id) != 0) {
        return true;  // the same channel again (e.g. inside a later chunk)
      }
      auto schema = schemas_.find(schema_id);
      if (schema_id != 0 && schema == schemas_.end()) {
        error = "channel " + topic.name + " names unknown schema " + std::to_string(schema_id);
        return false;
      }
      if (schema != schemas_.end()) {
        topic.type = schema->second.name;
        topic.definition = schema->second.data;
      }
      topic.offered_qos_profiles = metadata["offered_qos_profiles"];
      size_t index = topics_.size();
      for (size_t i = 0; i < topics_.size(); ++i) {
        if (topics_[i].name == topic.name && topics_[i].type == topic.type) {
          index = i;
        }
      }
      if (index == topics_.size()) {
        topics_.push_back(topic);
      }
      channels_[id] = index;
      return true;
    }
    if (op == mcap::Opcode::Message) {
      uint16_t channel = 0;
      uint32_t sequence = 0;
      uint64_t log_time = 0;
      uint64_t publish_time = 0;
      if (!cursor.u16(channel) || !cursor.u32(sequence) || !cursor.u64(log_time) ||
        !cursor.u64(publish_time))
      {
        error = "truncated message";
        return false;
      }
      auto it = channels_.find(channel);
      if (it == channels_.end()) {
        error = "message on unknown channel " + std::to_string(channel);
        return false;
      }
      BagMessage message;
      message.topic = it->second;
      message.time_ns = static_cast<int64_t>(log_time);
      message.data.assign(cursor.position(), cursor.position() + cursor.left());
      pending_.push_back(std::move(message));
      return true;
    }
    return true;
  }

  struct Schema
  {
    std::string name;
    std::string encoding;
    std::string data;
  };

  std::unique_ptr<ByteSource> source_;
  std::string name_;
  uint64_t position_{0};
  bool done_{false};
  bool seen_header_{false};
  uint64_t delivered_{0};
  std::map<uint16_t, Schema> schemas_;
  std::map<uint16_t, size_t> channels_;  ///< channel id -> topic index
  std::vector<TopicInfo> topics_;
  std::deque<BagMessage> pending_;
  std::vector<std::string> problems_;
};

}  // namespace

std::unique_ptr<StorageWriter> open_mcap_writer(const std::string & path, const McapOptions & options)
{
  return std::make_unique<McapWriter>(path, options);
}

std::unique_ptr<StorageReader> open_mcap_reader(const std::string & path)
{
  return std::make_unique<McapReader>(std::make_unique<FileSource>(path), path);
}

std::unique_ptr<StorageReader> open_mcap_reader(std::vector<uint8_t> bytes)
{
  return std::make_unique<McapReader>(std::make_unique<MemorySource>(std::move(bytes)), "(memory)");
}

}  // namespace rclcdds_bag
