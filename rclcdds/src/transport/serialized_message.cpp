#include "rclcdds/serialized_message.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

namespace rclcdds
{

SerializedMessage::SerializedMessage(size_t capacity)
{
  reserve(capacity);
}

SerializedMessage::SerializedMessage(const SerializedMessage & other)
{
  assign(other.data(), other.size());
}

SerializedMessage & SerializedMessage::operator=(const SerializedMessage & other)
{
  if (this != &other) {
    assign(other.data(), other.size());
  }
  return *this;
}

SerializedMessage::SerializedMessage(SerializedMessage && other) noexcept
: data_(std::move(other.data_)), size_(other.size_), capacity_(other.capacity_)
{
  other.size_ = 0;
  other.capacity_ = 0;
}

SerializedMessage & SerializedMessage::operator=(SerializedMessage && other) noexcept
{
  if (this != &other) {
    data_ = std::move(other.data_);
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.size_ = 0;
    other.capacity_ = 0;
  }
  return *this;
}

void SerializedMessage::reserve(size_t capacity)
{
  if (capacity <= capacity_) {
    return;
  }
  // new[] without "()" leaves the bytes uninitialised: the serialiser writes every byte.
  std::unique_ptr<uint8_t[]> grown(new uint8_t[capacity]);
  if (size_ > 0) {
    std::memcpy(grown.get(), data_.get(), size_);
  }
  data_ = std::move(grown);
  capacity_ = capacity;
}

void SerializedMessage::resize(size_t size)
{
  if (size > capacity_) {
    reserve(std::max(size, capacity_ + capacity_ / 2));
  }
  size_ = size;
}

void SerializedMessage::assign(const uint8_t * data, size_t size)
{
  size_ = 0;
  reserve(size);
  if (size > 0) {
    std::memcpy(data_.get(), data, size);
  }
  size_ = size;
}

}  // namespace rclcdds
