#include "mcap_records.hpp"

#include <lz4frame.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <memory>

namespace rclcdds_bag
{
namespace mcap
{

uint32_t crc32(const uint8_t * data, size_t size, uint32_t crc)
{
  // zlib's CRC-32 is the same polynomial, several times faster than a byte-wise table; fed in
  // pieces because its length argument is 32-bit.
  uLong c = crc;
  while (size > 0) {
    const uInt piece = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    c = ::crc32(c, data, piece);
    data += piece;
    size -= piece;
  }
  return static_cast<uint32_t>(c);
}

bool Cursor::little_endian(size_t n, uint64_t & v)
{
  if (left_ < n) {
    return false;
  }
  v = 0;
  for (size_t i = 0; i < n; ++i) {
    v |= static_cast<uint64_t>(data_[i]) << (8 * i);
  }
  data_ += n;
  left_ -= n;
  return true;
}

bool Cursor::u8(uint8_t & v)
{
  uint64_t x;
  if (!little_endian(1, x)) {
    return false;
  }
  v = static_cast<uint8_t>(x);
  return true;
}

bool Cursor::u16(uint16_t & v)
{
  uint64_t x;
  if (!little_endian(2, x)) {
    return false;
  }
  v = static_cast<uint16_t>(x);
  return true;
}

bool Cursor::u32(uint32_t & v)
{
  uint64_t x;
  if (!little_endian(4, x)) {
    return false;
  }
  v = static_cast<uint32_t>(x);
  return true;
}

bool Cursor::u64(uint64_t & v)
{
  return little_endian(8, v);
}

bool Cursor::bytes(uint64_t n, const uint8_t *& out)
{
  if (n > left_) {
    return false;
  }
  out = data_;
  data_ += n;
  left_ -= static_cast<size_t>(n);
  return true;
}

bool Cursor::string(std::string & v)
{
  Cursor saved = *this;
  uint32_t n = 0;
  const uint8_t * p = nullptr;
  if (!u32(n) || !bytes(n, p)) {
    *this = saved;
    return false;
  }
  v.assign(reinterpret_cast<const char *>(p), n);
  return true;
}

bool Cursor::string_map(std::map<std::string, std::string> & v)
{
  Cursor saved = *this;
  uint32_t n = 0;
  const uint8_t * p = nullptr;
  if (!u32(n) || !bytes(n, p)) {
    *this = saved;
    return false;
  }
  Cursor entries(p, n);
  while (!entries.empty()) {
    std::string key;
    std::string value;
    if (!entries.string(key) || !entries.string(value)) {
      *this = saved;
      return false;
    }
    v[key] = value;
  }
  return true;
}

bool parse_chunk(const uint8_t * data, size_t size, Chunk & chunk, std::string & error)
{
  Cursor cursor(data, size);
  if (!cursor.u64(chunk.start_time) || !cursor.u64(chunk.end_time) ||
    !cursor.u64(chunk.uncompressed_size) || !cursor.u32(chunk.uncompressed_crc) ||
    !cursor.string(chunk.compression) || !cursor.u64(chunk.records_size))
  {
    error = "truncated chunk header";
    return false;
  }
  if (chunk.records_size != cursor.left()) {
    error = "chunk records length " + std::to_string(chunk.records_size) + " does not fit the " +
      std::to_string(cursor.left()) + " bytes left";
    return false;
  }
  if (chunk.uncompressed_size > kMaxChunkBytes) {
    error = "chunk claims " + std::to_string(chunk.uncompressed_size) + " uncompressed bytes";
    return false;
  }
  cursor.bytes(chunk.records_size, chunk.records);
  return true;
}

bool decompress_chunk(const Chunk & chunk, std::vector<uint8_t> & out, std::string & error)
{
  const size_t expected = static_cast<size_t>(chunk.uncompressed_size);
  if (chunk.compression.empty()) {
    if (chunk.records_size != chunk.uncompressed_size) {
      error = "uncompressed chunk size mismatch";
      return false;
    }
    out.assign(chunk.records, chunk.records + expected);
  } else if (chunk.compression == "zstd") {
    // A frame that states its size must state the chunk's before anything is allocated.
    const unsigned long long stated = ZSTD_getFrameContentSize(
      chunk.records, static_cast<size_t>(chunk.records_size));
    if (stated == ZSTD_CONTENTSIZE_ERROR ||
      (stated != ZSTD_CONTENTSIZE_UNKNOWN && stated != chunk.uncompressed_size))
    {
      error = "zstd: the frame does not hold " + std::to_string(expected) + " bytes";
      return false;
    }
    out.resize(expected);
    const size_t n = ZSTD_decompress(out.data(), expected, chunk.records,
        static_cast<size_t>(chunk.records_size));
    if (ZSTD_isError(n) || n != expected) {
      error = std::string("zstd: ") + (ZSTD_isError(n) ? ZSTD_getErrorName(n) : "size mismatch");
      return false;
    }
  } else if (chunk.compression == "lz4") {
    out.resize(expected);
    LZ4F_dctx * raw = nullptr;
    if (LZ4F_isError(LZ4F_createDecompressionContext(&raw, LZ4F_VERSION))) {
      error = "lz4: no context";
      return false;
    }
    std::unique_ptr<LZ4F_dctx, decltype(&LZ4F_freeDecompressionContext)> context(
      raw, &LZ4F_freeDecompressionContext);
    size_t consumed = 0;
    size_t produced = 0;
    const size_t input = static_cast<size_t>(chunk.records_size);
    while (true) {
      size_t src_size = input - consumed;
      size_t dst_size = expected - produced;
      const size_t hint = LZ4F_decompress(
        context.get(), out.data() + produced, &dst_size, chunk.records + consumed, &src_size,
        nullptr);
      if (LZ4F_isError(hint)) {
        error = std::string("lz4: ") + LZ4F_getErrorName(hint);
        return false;
      }
      consumed += src_size;
      produced += dst_size;
      if (hint == 0) {
        break;  // frame complete
      }
      if ((src_size == 0 && dst_size == 0) || consumed >= input) {
        error = "lz4: frame ends early";
        return false;
      }
    }
    if (produced != expected) {
      error = "lz4: size mismatch";
      return false;
    }
  } else {
    error = "unknown compression '" + chunk.compression + "'";
    return false;
  }
  if (chunk.uncompressed_crc != 0 && crc32(out.data(), out.size()) != chunk.uncompressed_crc) {
    error = "CRC mismatch";
    return false;
  }
  return true;
}

}  // namespace mcap
}  // namespace rclcdds_bag
