#include "lib/sockets/DispatchSocketPreBuffer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

DispatchSocketPreBuffer::DispatchSocketPreBuffer(std::size_t capacity) {
  // malloc(0) may answer null; keep a real block so the pointers are always valid.
  preBuffer_ = static_cast<std::uint8_t*>(std::malloc(capacity > 0 ? capacity : 1));
  if (!preBuffer_) throw std::bad_alloc();
  preBufferSize_ = capacity;
  readPointer_ = writePointer_ = preBuffer_;
}

DispatchSocketPreBuffer::~DispatchSocketPreBuffer() {
  std::free(preBuffer_);
}

bool DispatchSocketPreBuffer::ensureCapacityForWrite(std::size_t n) {
  std::size_t space = availableSpace();
  if (n <= space) return true;
  std::size_t extra = n - space;
  // Sizes past PTRDIFF_MAX cannot be allocated; refusing them here keeps every allocator
  // (including the sanitizers') from aborting.
  if (extra > static_cast<std::size_t>(PTRDIFF_MAX) - preBufferSize_) return false;
  std::size_t newSize = preBufferSize_ + extra;
  std::size_t readOffset = static_cast<std::size_t>(readPointer_ - preBuffer_);
  std::size_t writeOffset = static_cast<std::size_t>(writePointer_ - preBuffer_);
  auto* grown = static_cast<std::uint8_t*>(std::realloc(preBuffer_, newSize));
  if (!grown) return false;
  preBuffer_ = grown;
  preBufferSize_ = newSize;
  readPointer_ = preBuffer_ + readOffset;
  writePointer_ = preBuffer_ + writeOffset;
  return true;
}

void DispatchSocketPreBuffer::getReadBuffer_availableBytes(const std::uint8_t** bufferPtr,
                                                           std::size_t* availableBytesPtr) const {
  if (bufferPtr) *bufferPtr = readPointer_;
  if (availableBytesPtr) *availableBytesPtr = availableBytes();
}

void DispatchSocketPreBuffer::didRead(std::size_t n) {
  if (n > availableBytes()) n = availableBytes();
  readPointer_ += n;
  if (readPointer_ == writePointer_) readPointer_ = writePointer_ = preBuffer_;
}

void DispatchSocketPreBuffer::getWriteBuffer_availableSpace(std::uint8_t** bufferPtr,
                                                            std::size_t* availableSpacePtr) {
  if (bufferPtr) *bufferPtr = writePointer_;
  if (availableSpacePtr) *availableSpacePtr = availableSpace();
}

void DispatchSocketPreBuffer::didWrite(std::size_t n) {
  if (n > availableSpace()) n = availableSpace();
  writePointer_ += n;
}

void DispatchSocketPreBuffer::reset() {
  readPointer_ = writePointer_ = preBuffer_;
}
