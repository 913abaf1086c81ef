#pragma once
// The read-ahead buffer of a DispatchSocket: one heap block used as a byte queue with a read
// position and a write position. Bytes that arrive beyond what the current read needs wait here
// for the next read. The block grows by exactly the shortfall and is rewound to its start
// whenever it is read empty, so a steady stream of small reads never grows it.
#include <cstddef>
#include <cstdint>

class DispatchSocketPreBuffer {
 public:
  explicit DispatchSocketPreBuffer(std::size_t capacity);
  ~DispatchSocketPreBuffer();
  DispatchSocketPreBuffer(const DispatchSocketPreBuffer&) = delete;
  DispatchSocketPreBuffer& operator=(const DispatchSocketPreBuffer&) = delete;

  // Makes room for n more bytes after the write position. Answers false, leaving the buffer
  // as it was, when the allocator cannot grow the block.
  [[nodiscard]] bool ensureCapacityForWrite(std::size_t n);

  std::size_t availableBytes() const { return static_cast<std::size_t>(writePointer_ - readPointer_); }
  const std::uint8_t* readBuffer() const { return readPointer_; }
  void getReadBuffer_availableBytes(const std::uint8_t** bufferPtr, std::size_t* availableBytesPtr) const;
  // Consumes n bytes; a buffer read empty rewinds to its start.
  void didRead(std::size_t n);

  std::size_t availableSpace() const {
    return preBufferSize_ - static_cast<std::size_t>(writePointer_ - preBuffer_);
  }
  std::uint8_t* writeBuffer() { return writePointer_; }
  void getWriteBuffer_availableSpace(std::uint8_t** bufferPtr, std::size_t* availableSpacePtr);
  void didWrite(std::size_t n);

  // Drops every byte and rewinds.
  void reset();

  std::size_t preBufferSize() const { return preBufferSize_; }

 private:
  std::uint8_t* preBuffer_ = nullptr;
  std::size_t preBufferSize_ = 0;
  std::uint8_t* readPointer_ = nullptr;
  std::uint8_t* writePointer_ = nullptr;
};
