#pragma once
// Byte buffers. Data is immutable and shares its storage: copies and sub-range views are cheap
// and keep the storage alive. MutableData owns a growable buffer whose pointer stays valid until
// the next mutation.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Types.h"

namespace ns {

class Data {
 public:
  Data() = default;
  Data(const void* bytes, std::size_t length);
  explicit Data(std::string_view bytes);
  explicit Data(const std::string& bytes) : Data(std::string_view(bytes)) {}
  explicit Data(const char* text) : Data(std::string_view(text ? text : "")) {}
  // Takes the vector's storage without copying.
  explicit Data(std::vector<std::uint8_t> bytes);
  // Wraps storage someone else keeps alive through `owner`; no copy is made.
  Data(std::shared_ptr<const void> owner, const std::uint8_t* bytes, std::size_t length);

  static Data dataWithBytes_length(const void* bytes, std::size_t length) { return Data(bytes, length); }

  // Never null, also when empty, so that callers may pass it to memcmp and friends.
  const std::uint8_t* bytes() const;
  std::size_t length() const { return length_; }
  std::size_t size() const { return length_; }
  bool empty() const { return length_ == 0; }
  std::uint8_t operator[](std::size_t i) const { return bytes()[i]; }
  const std::uint8_t* begin() const { return bytes(); }
  const std::uint8_t* end() const { return bytes() + length_; }

  // A view of [offset, offset + length) sharing this storage; it keeps the storage alive.
  // Raises NSRangeException when the range is out of bounds.
  Data subdata(std::size_t offset, std::size_t length) const;
  Data subdataWithRange(Range range) const { return subdata(range.location, range.length); }
  Data subdataFromOffset(std::size_t offset) const;

  // First occurrence of `needle` at or after `from`, NotFound when absent or empty.
  std::size_t find(const Data& needle, std::size_t from = 0) const;
  std::size_t find(std::string_view needle, std::size_t from = 0) const;
  Range rangeOfData(const Data& needle) const;

  std::string toString() const { return std::string(view()); }
  std::string_view view() const { return std::string_view(reinterpret_cast<const char*>(bytes()), length_); }
  std::vector<std::uint8_t> toVector() const { return std::vector<std::uint8_t>(begin(), end()); }

  bool isEqualToData(const Data& other) const { return *this == other; }
  friend bool operator==(const Data& a, const Data& b);
  std::size_t hash() const;

  // "<0001feff 00ab>": lowercase hex grouped in 4-byte words.
  std::string description() const;

 private:
  std::shared_ptr<const std::uint8_t> ptr_;  // aliases into the owning storage
  std::size_t length_ = 0;
};

class MutableData {
 public:
  MutableData() = default;
  explicit MutableData(std::size_t length) : bytes_(length, 0) {}
  MutableData(const void* bytes, std::size_t length);
  explicit MutableData(const Data& data) : MutableData(data.bytes(), data.length()) {}
  explicit MutableData(std::string_view bytes) : MutableData(bytes.data(), bytes.size()) {}

  static MutableData dataWithCapacity(std::size_t capacity);

  const std::uint8_t* bytes() const { return bytes_.data(); }
  // Valid until the next call that changes the length or contents layout.
  std::uint8_t* mutableBytes() { return bytes_.data(); }
  std::size_t length() const { return bytes_.size(); }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }

  void appendBytes_length(const void* bytes, std::size_t length);
  void appendData(const Data& data) { appendBytes_length(data.bytes(), data.length()); }
  void appendData(const MutableData& data) { appendBytes_length(data.bytes(), data.length()); }
  void append(std::string_view bytes) { appendBytes_length(bytes.data(), bytes.size()); }
  void insertAtFront(const void* bytes, std::size_t length);
  void insertAtFront(const Data& data) { insertAtFront(data.bytes(), data.length()); }

  // Replaces the bytes of `range` with `length` bytes (growing or shrinking the buffer).
  // Raises NSRangeException when the range lies beyond the end.
  void replaceBytesInRange_withBytes_length(Range range, const void* bytes, std::size_t length);
  // Overwrites range.length bytes at range.location, growing the buffer if needed.
  void replaceBytesInRange_withBytes(Range range, const void* bytes);
  void resetBytesInRange(Range range);
  void setLength(std::size_t length) { bytes_.resize(length, 0); }
  void increaseLengthBy(std::size_t extra) { bytes_.resize(bytes_.size() + extra, 0); }
  void setData(const Data& data) { bytes_.assign(data.begin(), data.end()); }

  // Removes the first `count` bytes (count larger than the length empties the buffer).
  void removeFront(std::size_t count);

  // A Data with a copy of the current bytes.
  Data copy() const { return Data(bytes_.data(), bytes_.size()); }
  operator Data() const { return copy(); }
  // Moves the bytes into a Data without copying and leaves this buffer empty.
  Data take();

  std::string toString() const {
    return std::string(reinterpret_cast<const char*>(bytes_.data()), bytes_.size());
  }
  friend bool operator==(const MutableData& a, const MutableData& b) { return a.bytes_ == b.bytes_; }
  std::string description() const { return copy().description(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace ns
