// MCAP record layer: opcodes, a bounds-checked little-endian cursor, CRC-32 and chunk decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rclcdds_bag
{
namespace mcap
{

enum class Opcode : uint8_t
{
  Header = 0x01,
  Footer = 0x02,
  Schema = 0x03,
  Channel = 0x04,
  Message = 0x05,
  Chunk = 0x06,
  MessageIndex = 0x07,
  ChunkIndex = 0x08,
  Attachment = 0x09,
  AttachmentIndex = 0x0A,
  Statistics = 0x0B,
  Metadata = 0x0C,
  MetadataIndex = 0x0D,
  SummaryOffset = 0x0E,
  DataEnd = 0x0F,
};

/// Largest record a reader accepts (a record is read only when the file holds it all).
constexpr uint64_t kMaxRecordBytes = uint64_t{1} << 30;
/// Largest uncompressed chunk a reader accepts: a few bytes of a hostile file must not make it
/// allocate more (writers use chunks of about a megabyte).
constexpr uint64_t kMaxChunkBytes = uint64_t{128} << 20;

/// CRC-32 (IEEE 802.3, as zlib), continuing from `crc` (0 to start).
uint32_t crc32(const uint8_t * data, size_t size, uint32_t crc = 0);

/// Reads little-endian fields from a byte range; every read checks the bytes left and fails
/// (returning false, consuming nothing) past the end.
class Cursor
{
public:
  Cursor(const uint8_t * data, size_t size)
  : data_(data), left_(size) {}

  bool u8(uint8_t & v);
  bool u16(uint16_t & v);
  bool u32(uint32_t & v);
  bool u64(uint64_t & v);
  /// uint32 length, then that many bytes.
  bool string(std::string & v);
  /// uint32 byte length, then key/value string pairs filling exactly that length.
  bool string_map(std::map<std::string, std::string> & v);
  /// `n` raw bytes (pointer into the range).
  bool bytes(uint64_t n, const uint8_t *& out);

  bool empty() const {return left_ == 0;}
  size_t left() const {return left_;}
  const uint8_t * position() const {return data_;}

private:
  bool little_endian(size_t n, uint64_t & v);

  const uint8_t * data_;
  size_t left_;
};

/// Fields of a chunk record; `records` points into the parsed content.
struct Chunk
{
  uint64_t start_time{0};
  uint64_t end_time{0};
  uint64_t uncompressed_size{0};
  uint32_t uncompressed_crc{0};
  std::string compression;
  const uint8_t * records{nullptr};
  uint64_t records_size{0};
};

/// Parses the content of a chunk record; false with `error` when it does not hold together.
bool parse_chunk(const uint8_t * data, size_t size, Chunk & chunk, std::string & error);

/// Decompresses the chunk's records ("", "zstd", "lz4") and checks size and CRC (when not 0).
bool decompress_chunk(const Chunk & chunk, std::vector<uint8_t> & out, std::string & error);

}  // namespace mcap
}  // namespace rclcdds_bag
