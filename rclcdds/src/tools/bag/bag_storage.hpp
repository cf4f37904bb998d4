// Storage files of a rosbag2 directory: writers and readers of sqlite3 (.db3) and MCAP (.mcap)
// files, and opening a bag directory for reading. Readers treat the file as hostile: they stop
// where it stops making sense and say where.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bag_metadata.hpp"

namespace rclcdds_bag
{

/// One stored message.
struct BagMessage
{
  size_t topic{0};          ///< index into the reader's topics()
  int64_t time_ns{0};       ///< receive time, ns since the epoch
  std::vector<uint8_t> data;  ///< serialised payload (CDR with its encapsulation header)
};

/// Writes one storage file.
class StorageWriter
{
public:
  virtual ~StorageWriter() = default;
  /// Registers a topic; returns its index for write().
  virtual size_t add_topic(const TopicInfo & topic) = 0;
  /// Appends one message. @throws std::runtime_error on an I/O error
  virtual void write(size_t topic, int64_t time_ns, const uint8_t * data, size_t size) = 0;
  /// Makes what was written so far durable enough to survive a crash of this process.
  virtual void flush() = 0;
  /// Finishes the file (indexes, summary). @throws std::runtime_error on an I/O error
  virtual void close() = 0;
};

/// Reads one storage file in stored order.
class StorageReader
{
public:
  virtual ~StorageReader() = default;
  /// Topics known so far (an MCAP file announces them as it goes).
  virtual const std::vector<TopicInfo> & topics() const = 0;
  /// Next message; false at the end of what is readable.
  virtual bool next(BagMessage & message) = 0;
  /// Problems met (bad chunk, cut-off file, ...), one line each; empty for a clean file.
  virtual const std::vector<std::string> & problems() const = 0;
};

/// MCAP writing options.
struct McapOptions
{
  std::string compression;          ///< "", "zstd" or "lz4"
  size_t chunk_size{1024 * 1024};   ///< uncompressed bytes per chunk; 0 writes no chunks
  bool summary{true};               ///< write the summary section and its offsets
};

/// Creates `path` (it must not exist). @throws std::runtime_error when it cannot
std::unique_ptr<StorageWriter> open_sqlite_writer(const std::string & path);
std::unique_ptr<StorageWriter> open_mcap_writer(
  const std::string & path, const McapOptions & options = McapOptions());

/// Opens `path`. @throws std::runtime_error when the file cannot be opened or is not of the kind
std::unique_ptr<StorageReader> open_sqlite_reader(const std::string & path);
std::unique_ptr<StorageReader> open_mcap_reader(const std::string & path);
/// MCAP from memory (the fuzz target and tests).
std::unique_ptr<StorageReader> open_mcap_reader(std::vector<uint8_t> bytes);

/// "sqlite3" for .db3, "mcap" for .mcap, empty otherwise.
std::string storage_of_file(const std::string & path);

/// A bag directory opened for reading.
struct BagDirectory
{
  std::string path;
  BagMetadata metadata;            ///< from metadata.yaml, or rebuilt from the files
  bool has_metadata_file{false};
  std::vector<std::string> files;  ///< storage files, full paths, in play order
  std::vector<std::string> notes;  ///< problems found while opening (one line each)
};

/// Opens DIR (or a single storage file). Without metadata.yaml the storage files in the
/// directory are used and a note says so. @throws std::runtime_error when there is nothing to read
BagDirectory open_bag_directory(const std::string & path);

/// Reads every file of the bag once and fills message counts, times and topics of `metadata`
/// (used when metadata.yaml is missing).
void scan_bag(BagDirectory & bag);

}  // namespace rclcdds_bag
