// Deserialisation half of rclcdds/serialization.hpp. The payload is untrusted: every read is
// bounds-checked and every container is sized only after checking that the remaining bytes can
// hold that many elements.
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cdr_layout.hpp"
#include "rclcdds/serialization.hpp"

namespace rclcdds
{

namespace
{

namespace ts = rosidl_typesupport_introspection_cpp;

/// A malformed payload; carries the reason shown to the user.
class MalformedPayload : public std::exception
{
public:
  explicit MalformedPayload(std::string reason) : reason_(std::move(reason)) {}
  const char * what() const noexcept override {return reason_.c_str();}

private:
  std::string reason_;
};

void swap_bytes(uint8_t * p, size_t size)
{
  for (size_t i = 0; i < size / 2; ++i) {
    const uint8_t t = p[i];
    p[i] = p[size - 1 - i];
    p[size - 1 - i] = t;
  }
}

/// Bounds-checked cursor over the CDR body (alignment counts from the body's first byte).
class CdrReader
{
public:
  CdrReader(const uint8_t * body, size_t size, bool swap) : body_(body), size_(size), swap_(swap) {}

  size_t remaining() const {return size_ - pos_;}

  void fail(const std::string & what) const
  {
    std::string reason = what;
    if (field_ != nullptr) {
      reason += std::string(" in field '") + field_ + "'";
    }
    reason += " at byte " + std::to_string(pos_ + kEncapsulationHeaderSize);
    throw MalformedPayload(reason);
  }

  void need(size_t n) const
  {
    if (n > remaining()) {
      fail(
        "truncated payload: " + std::to_string(n) + " bytes needed, " +
        std::to_string(remaining()) + " left");
    }
  }

  void align(size_t alignment)
  {
    const size_t pad = (alignment - pos_ % alignment) % alignment;
    need(pad);
    pos_ += pad;
  }

  /// Pointer to the next `n` bytes, consumed.
  const uint8_t * take(size_t n)
  {
    need(n);
    const uint8_t * p = body_ + pos_;
    pos_ += n;
    return p;
  }

  /// Copies one aligned primitive of `size` bytes into `dst`, fixing the byte order.
  void read_primitive(void * dst, size_t size)
  {
    align(size);
    std::memcpy(dst, take(size), size);
    if (swap_ && size > 1) {
      swap_bytes(static_cast<uint8_t *>(dst), size);
    }
  }

  /// Copies `count` aligned primitives of `size` bytes into contiguous memory at `dst`.
  void read_primitives(void * dst, size_t size, size_t count)
  {
    align(size);
    std::memcpy(dst, take(size * count), size * count);
    if (swap_ && size > 1) {
      auto * bytes = static_cast<uint8_t *>(dst);
      for (size_t i = 0; i < count; ++i) {
        swap_bytes(bytes + i * size, size);
      }
    }
  }

  uint32_t read_u32()
  {
    uint32_t value = 0;
    read_primitive(&value, 4);
    return value;
  }

  bool read_bool() {return *take(1) != 0;}

  /// Element count of a sequence whose elements need at least `min_element_size` bytes each.
  size_t read_count(const ts::MessageMember & member, size_t min_element_size)
  {
    const size_t count = read_u32();
    if (member.is_upper_bound_ && count > member.array_size_) {
      fail(
        "sequence of " + std::to_string(count) + " elements exceeds its bound of " +
        std::to_string(member.array_size_));
    }
    if (count > remaining() / min_element_size) {
      fail(
        "sequence count " + std::to_string(count) + " exceeds what the remaining " +
        std::to_string(remaining()) + " bytes can hold");
    }
    return count;
  }

  void read_string(const ts::MessageMember & member, std::string & out)
  {
    const size_t length = read_u32();
    if (length == 0) {  // tolerated: some writers send a bare zero length for ""
      out.clear();
      return;
    }
    if (length > remaining()) {
      fail("string length " + std::to_string(length) + " exceeds the remaining bytes");
    }
    if (member.string_upper_bound_ > 0 && length - 1 > member.string_upper_bound_) {
      fail("string longer than its bound of " + std::to_string(member.string_upper_bound_));
    }
    const uint8_t * chars = take(length);
    if (chars[length - 1] != 0) {
      fail("string lacks its terminating NUL");
    }
    out.assign(reinterpret_cast<const char *>(chars), length - 1);
  }

  void read_wstring(const ts::MessageMember & member, std::u16string & out)
  {
    const size_t units = read_u32();
    if (units > remaining() / 4) {
      fail("wide string length " + std::to_string(units) + " exceeds the remaining bytes");
    }
    if (member.string_upper_bound_ > 0 && units > member.string_upper_bound_) {
      fail("wide string longer than its bound of " + std::to_string(member.string_upper_bound_));
    }
    out.resize(units);
    for (size_t i = 0; i < units; ++i) {
      uint32_t wide = 0;
      read_primitive(&wide, 4);
      out[i] = static_cast<char16_t>(wide);
    }
  }

  void set_field(const char * name) {field_ = name;}

private:
  const uint8_t * body_;
  size_t size_;
  size_t pos_{0};
  bool swap_;
  const char * field_{nullptr};  ///< member being read, for error messages
};

void read_message(CdrReader & reader, const ts::MessageMembers & members, uint8_t * msg);

void read_element(CdrReader & reader, const ts::MessageMember & member, void * element)
{
  switch (member.type_id_) {
    case ts::ROS_TYPE_STRING:
      reader.read_string(member, *static_cast<std::string *>(element));
      return;
    case ts::ROS_TYPE_WSTRING:
      reader.read_wstring(member, *static_cast<std::u16string *>(element));
      return;
    case ts::ROS_TYPE_MESSAGE:
      read_message(reader, cdr::nested_members(member), static_cast<uint8_t *>(element));
      reader.set_field(member.name_);
      return;
    case ts::ROS_TYPE_BOOLEAN:
      *static_cast<bool *>(element) = reader.read_bool();
      return;
    default:
      break;
  }
  const size_t size = cdr::primitive_size(member.type_id_);
  if (size == 0) {
    reader.fail("field type not supported");
  }
  reader.read_primitive(element, size);
}

/// Single-copy path for unbounded byte sequences (images, point clouds): std::vector::assign
/// copies without zero-filling first.
template<class Byte>
void assign_bytes(CdrReader & reader, void * field, size_t count)
{
  const auto * src = reinterpret_cast<const Byte *>(reader.take(count));
  static_cast<std::vector<Byte> *>(field)->assign(src, src + count);
}

void read_elements(CdrReader & reader, const ts::MessageMember & member, void * field, size_t count)
{
  if (count == 0) {
    return;
  }
  const size_t size = cdr::primitive_size(member.type_id_);
  if (member.type_id_ == ts::ROS_TYPE_BOOLEAN) {
    reader.need(count);
    for (size_t i = 0; i < count; ++i) {
      bool value = reader.read_bool();  // normalised: any non-zero byte is true
      if (member.get_function != nullptr) {
        *static_cast<bool *>(member.get_function(field, i)) = value;
      } else {
        member.assign_function(field, i, &value);  // std::vector<bool>
      }
    }
    return;
  }
  if (size > 0) {
    reader.read_primitives(member.get_function(field, 0), size, count);
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    read_element(reader, member, member.get_function(field, i));
  }
}

void read_member(CdrReader & reader, const ts::MessageMember & member, uint8_t * field)
{
  reader.set_field(member.name_);
  if (!member.is_array_) {
    read_element(reader, member, field);
    return;
  }
  if (cdr::is_fixed_array(member)) {
    read_elements(reader, member, field, member.array_size_);
    return;
  }
  const size_t count = reader.read_count(member, cdr::min_element_wire_size(member));
  const bool unbounded = !member.is_upper_bound_;
  if (unbounded && count > 0 && member.type_id_ == ts::ROS_TYPE_UINT8) {
    assign_bytes<uint8_t>(reader, field, count);
    return;
  }
  if (unbounded && count > 0 && member.type_id_ == ts::ROS_TYPE_INT8) {
    assign_bytes<int8_t>(reader, field, count);
    return;
  }
  member.resize_function(field, count);
  read_elements(reader, member, field, count);
}

void read_message(CdrReader & reader, const ts::MessageMembers & members, uint8_t * msg)
{
  if (members.member_count_ == 0) {
    reader.take(1);
    return;
  }
  for (uint32_t i = 0; i < members.member_count_; ++i) {
    const ts::MessageMember & member = members.members_[i];
    read_member(reader, member, msg + member.offset_);
  }
}

}  // namespace

bool deserialize_message(
  const MessageMembers & members, const uint8_t * data, size_t size, void * msg,
  ServicePrefix * prefix, std::string * error)
{
  auto reject = [error](const std::string & reason) {
      if (error != nullptr) {
        *error = reason;
      }
      return false;
    };
  if (data == nullptr || size < kEncapsulationHeaderSize) {
    return reject("payload shorter than its 4-byte encapsulation header");
  }
  // XCDR1 plain CDR: 00 00 big endian, 00 01 little endian.
  if (data[0] != 0x00 || data[1] > 0x01) {
    char id[8];
    std::snprintf(id, sizeof(id), "%02x %02x", data[0], data[1]);
    return reject(std::string("unsupported encapsulation ") + id + " (expected plain CDR)");
  }
  const bool big_endian = data[1] == 0x00;
  CdrReader reader(data + kEncapsulationHeaderSize, size - kEncapsulationHeaderSize, big_endian);
  try {
    if (prefix != nullptr) {
      reader.set_field("service prefix");
      reader.read_primitive(&prefix->guid, 8);
      reader.read_primitive(&prefix->sequence, 8);
    }
    read_message(reader, members, static_cast<uint8_t *>(msg));
  } catch (const MalformedPayload & e) {
    return reject(e.what());
  } catch (const std::exception & e) {
    return reject(std::string("cannot decode payload: ") + e.what());
  }
  return true;
}

}  // namespace rclcdds
