// Owned byte buffer holding one serialised (CDR) message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace rclcdds
{

/// One CDR payload, 4-byte encapsulation header included; grows without zero-filling.
class SerializedMessage
{
public:
  SerializedMessage() = default;
  /// Empty message with room for `capacity` bytes.
  explicit SerializedMessage(size_t capacity);
  SerializedMessage(const SerializedMessage & other);
  SerializedMessage & operator=(const SerializedMessage & other);
  SerializedMessage(SerializedMessage && other) noexcept;
  SerializedMessage & operator=(SerializedMessage && other) noexcept;
  ~SerializedMessage() = default;

  const uint8_t * data() const {return data_.get();}
  uint8_t * data() {return data_.get();}
  /// Bytes in use.
  size_t size() const {return size_;}
  /// Bytes allocated.
  size_t capacity() const {return capacity_;}
  bool empty() const {return size_ == 0;}

  /// Makes room for at least `capacity` bytes, keeping the content.
  void reserve(size_t capacity);
  /// Sets the size; bytes past the old size are left uninitialised.
  void resize(size_t size);
  /// Replaces the content with a copy of `size` bytes.
  void assign(const uint8_t * data, size_t size);
  /// Forgets the content, keeping the allocation.
  void clear() {size_ = 0;}

private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_{0};      ///< bytes in use
  size_t capacity_{0};  ///< bytes allocated
};

}  // namespace rclcdds
