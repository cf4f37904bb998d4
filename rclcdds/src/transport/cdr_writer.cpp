// Serialisation half of rclcdds/serialization.hpp: one traversal, run once to size the
// payload and once to fill it.
#include <cstring>
#include <string>

#include "cdr_layout.hpp"
#include "rclcdds/serialization.hpp"

namespace rclcdds
{

namespace
{

namespace ts = rosidl_typesupport_introspection_cpp;

/// Counts bytes; offsets are relative to the first byte after the encapsulation header.
class SizeSink
{
public:
  void align(size_t alignment) {pos_ += (alignment - pos_ % alignment) % alignment;}
  void put(const void *, size_t n) {pos_ += n;}
  void put_u32(uint32_t) {align(4); pos_ += 4;}
  void put_byte(uint8_t) {pos_ += 1;}
  size_t pos() const {return pos_;}

private:
  size_t pos_{0};
};

/// Writes bytes into a buffer sized by SizeSink; padding bytes are zeroed.
class BufferSink
{
public:
  explicit BufferSink(uint8_t * body) : body_(body) {}
  void align(size_t alignment)
  {
    const size_t pad = (alignment - pos_ % alignment) % alignment;
    for (size_t i = 0; i < pad; ++i) {
      body_[pos_++] = 0;
    }
  }
  void put(const void * src, size_t n)
  {
    if (n > 0) {
      std::memcpy(body_ + pos_, src, n);
      pos_ += n;
    }
  }
  void put_u32(uint32_t value) {align(4); put(&value, 4);}
  void put_byte(uint8_t value) {body_[pos_++] = value;}
  size_t pos() const {return pos_;}

private:
  uint8_t * body_;
  size_t pos_{0};
};

[[noreturn]] void throw_bound(const ts::MessageMember & member, size_t size, size_t bound)
{
  throw SerializationError(
          std::string("field '") + member.name_ + "' holds " + std::to_string(size) +
          " elements, more than its bound of " + std::to_string(bound));
}

uint32_t checked_count(const ts::MessageMember & member, size_t count)
{
  if (count > 0xffffffffu) {
    throw SerializationError(std::string("field '") + member.name_ + "' is too long for CDR");
  }
  return static_cast<uint32_t>(count);
}

template<class Sink>
void write_message(Sink & sink, const ts::MessageMembers & members, const uint8_t * msg);

template<class Sink>
void write_string(Sink & sink, const ts::MessageMember & member, const std::string & value)
{
  if (member.string_upper_bound_ > 0 && value.size() > member.string_upper_bound_) {
    throw SerializationError(
            std::string("string field '") + member.name_ + "' holds " +
            std::to_string(value.size()) + " characters, more than its bound of " +
            std::to_string(member.string_upper_bound_));
  }
  sink.put_u32(checked_count(member, value.size() + 1));
  sink.put(value.data(), value.size());
  sink.put_byte(0);
}

// Wide strings as rmw_cyclonedds writes them: code-unit count, then 4 bytes per unit.
template<class Sink>
void write_wstring(Sink & sink, const ts::MessageMember & member, const std::u16string & value)
{
  if (member.string_upper_bound_ > 0 && value.size() > member.string_upper_bound_) {
    throw_bound(member, value.size(), member.string_upper_bound_);
  }
  sink.put_u32(checked_count(member, value.size()));
  for (char16_t unit : value) {
    const uint32_t wide = unit;
    sink.put(&wide, 4);
  }
}

template<class Sink>
void write_element(Sink & sink, const ts::MessageMember & member, const void * element)
{
  switch (member.type_id_) {
    case ts::ROS_TYPE_STRING:
      write_string(sink, member, *static_cast<const std::string *>(element));
      return;
    case ts::ROS_TYPE_WSTRING:
      write_wstring(sink, member, *static_cast<const std::u16string *>(element));
      return;
    case ts::ROS_TYPE_MESSAGE:
      write_message(sink, cdr::nested_members(member), static_cast<const uint8_t *>(element));
      return;
    case ts::ROS_TYPE_BOOLEAN:
      sink.put_byte(*static_cast<const bool *>(element) ? 1 : 0);
      return;
    default:
      break;
  }
  const size_t size = cdr::primitive_size(member.type_id_);
  if (size == 0) {
    throw SerializationError(
            std::string("field '") + member.name_ + "' has a type ROS 2 does not serialise");
  }
  sink.align(size);
  sink.put(element, size);
}

template<class Sink>
void write_elements(Sink & sink, const ts::MessageMember & member, const void * field, size_t count)
{
  if (count == 0) {
    return;  // no alignment either, as rmw_cyclonedds
  }
  const size_t size = cdr::primitive_size(member.type_id_);
  const bool contiguous = size > 0 && member.type_id_ != ts::ROS_TYPE_BOOLEAN &&
    member.get_const_function != nullptr;
  if (contiguous) {
    sink.align(size);
    sink.put(member.get_const_function(field, 0), count * size);
    return;
  }
  if (member.type_id_ == ts::ROS_TYPE_BOOLEAN) {
    for (size_t i = 0; i < count; ++i) {
      bool value = false;
      if (member.get_const_function != nullptr) {
        value = *static_cast<const bool *>(member.get_const_function(field, i));
      } else {
        member.fetch_function(field, i, &value);  // std::vector<bool> has no element address
      }
      sink.put_byte(value ? 1 : 0);
    }
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    write_element(sink, member, member.get_const_function(field, i));
  }
}

template<class Sink>
void write_member(Sink & sink, const ts::MessageMember & member, const uint8_t * field)
{
  if (!member.is_array_) {
    write_element(sink, member, field);
    return;
  }
  if (cdr::is_fixed_array(member)) {
    write_elements(sink, member, field, member.array_size_);
    return;
  }
  const size_t count = member.size_function(field);
  if (member.is_upper_bound_ && count > member.array_size_) {
    throw_bound(member, count, member.array_size_);
  }
  sink.put_u32(checked_count(member, count));
  write_elements(sink, member, field, count);
}

template<class Sink>
void write_message(Sink & sink, const ts::MessageMembers & members, const uint8_t * msg)
{
  if (members.member_count_ == 0) {
    sink.put_byte(0);
    return;
  }
  for (uint32_t i = 0; i < members.member_count_; ++i) {
    const ts::MessageMember & member = members.members_[i];
    write_member(sink, member, msg + member.offset_);
  }
}

template<class Sink>
void write_body(
  Sink & sink, const ts::MessageMembers & members, const void * msg, const ServicePrefix * prefix)
{
  if (prefix != nullptr) {
    sink.put(&prefix->guid, 8);
    sink.put(&prefix->sequence, 8);
  }
  write_message(sink, members, static_cast<const uint8_t *>(msg));
}

size_t padded(size_t body_size)
{
  return (body_size + 3) & ~static_cast<size_t>(3);
}

}  // namespace

std::string dds_type_name(const MessageMembers & members)
{
  // "sensor_msgs::msg" + "Image" -> "sensor_msgs::msg::dds_::Image_"
  return std::string(members.message_namespace_) + "::dds_::" + members.message_name_ + "_";
}

size_t serialized_size(
  const MessageMembers & members, const void * msg, const ServicePrefix * prefix)
{
  SizeSink sizer;
  write_body(sizer, members, msg, prefix);
  return kEncapsulationHeaderSize + padded(sizer.pos());
}

void serialize_message(
  const MessageMembers & members, const void * msg, SerializedMessage & out,
  const ServicePrefix * prefix)
{
  SizeSink sizer;
  write_body(sizer, members, msg, prefix);
  const size_t body_size = sizer.pos();
  const size_t total = kEncapsulationHeaderSize + padded(body_size);
  out.clear();
  out.resize(total);
  uint8_t * bytes = out.data();
  bytes[0] = 0x00;  // CDR_LE, no options
  bytes[1] = 0x01;
  bytes[2] = 0x00;
  bytes[3] = 0x00;
  BufferSink writer(bytes + kEncapsulationHeaderSize);
  write_body(writer, members, msg, prefix);
  for (size_t i = kEncapsulationHeaderSize + body_size; i < total; ++i) {
    bytes[i] = 0;
  }
}

}  // namespace rclcdds
