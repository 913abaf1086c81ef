#include "lib/sockets/DispatchReadPacket.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

#include "lib/sockets/DispatchReadStorage.h"
#include "lib/sockets/DispatchSocketPreBuffer.h"

namespace {
constexpr std::size_t kMaxInitialBufferLength = 1 << 20;
}  // namespace

DispatchReadPacket::DispatchReadPacket(ns::Ref<ns::MutableData> d, std::size_t s, std::size_t m, double t,
                                       std::size_t l, std::optional<ns::Data> e, long i)
    : startOffset(s), maxLength(m), timeout(t), readLength(l), term(std::move(e)), tag(i) {
  if (d) {
    buffer = std::move(d);
    bufferOwner = false;
    originalBufferLength = buffer->length();
  } else {
    buffer = ns::make<ns::MutableData>();
    startOffset = 0;
    bufferOwner = true;
    originalBufferLength = 0;
    // Sizing the buffer up front saves regrowth on the common path. Lengths beyond a sane
    // size grow as bytes arrive instead, so an absurd length cannot exhaust memory at once.
    try {
      buffer->setLength(std::min(readLength, kMaxInitialBufferLength));
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
  }
}

std::size_t DispatchReadPacket::space() const {
  std::size_t used = startOffset + bytesDone;
  std::size_t length = buffer->length();
  return length > used ? length - used : 0;
}

std::uint8_t* DispatchReadPacket::writePosition() {
  return static_cast<std::uint8_t*>(buffer->mutableBytes()) + startOffset + bytesDone;
}

bool DispatchReadPacket::ensureCapacityForAdditionalDataOfLength(std::size_t n) {
  std::size_t room = space();
  if (n <= room) return true;
  std::size_t extra = n - room;
  if (extra > static_cast<std::size_t>(PTRDIFF_MAX) - buffer->length()) return false;
  try {
    buffer->setLength(buffer->length() + extra);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

namespace {
// The part of maxLength still open; reads never go past it.
std::size_t remainingTo(std::size_t limit, std::size_t done) {
  return limit > done ? limit - done : 0;
}
}  // namespace

std::size_t DispatchReadPacket::optimalReadLengthWithDefault_shouldPreBuffer(std::size_t defaultValue,
                                                                             bool* shouldPreBufferPtr) const {
  if (readLength > 0) {
    // The buffer would have to grow to that size anyway.
    if (shouldPreBufferPtr) *shouldPreBufferPtr = false;
    return std::min(defaultValue, remainingTo(readLength, bytesDone));
  }
  std::size_t result = defaultValue;
  if (maxLength > 0) result = std::min(result, remainingTo(maxLength, bytesDone));
  if (shouldPreBufferPtr) *shouldPreBufferPtr = space() < result;
  return result;
}

std::size_t DispatchReadPacket::readLengthForNonTermWithHint(std::size_t bytesAvailable) const {
  if (readLength > 0) return std::min(bytesAvailable, remainingTo(readLength, bytesDone));
  if (maxLength > 0) return std::min(bytesAvailable, remainingTo(maxLength, bytesDone));
  return bytesAvailable;
}

std::size_t DispatchReadPacket::readLengthForTermWithHint_shouldPreBuffer(std::size_t bytesAvailable,
                                                                          bool* shouldPreBufferPtr) const {
  std::size_t result = bytesAvailable;
  if (maxLength > 0) result = std::min(result, remainingTo(maxLength, bytesDone));
  // Bytes go straight into the packet only when they fit without growing it.
  if (shouldPreBufferPtr) *shouldPreBufferPtr = space() < result;
  return result;
}

std::size_t DispatchReadPacket::readLengthForTermWithPreBuffer_found(const DispatchSocketPreBuffer& preBuffer,
                                                                     bool* foundPtr) const {
  const std::size_t t = term ? term->length() : 0;
  const std::size_t p = preBuffer.availableBytes();
  const std::size_t b = bytesDone;
  if (t == 0) return p;
  if (b + p < t) return p;

  std::size_t m = p;
  if (maxLength > 0) m = std::min(p, remainingTo(maxLength, b));

  const auto* termBytes = static_cast<const std::uint8_t*>(term->bytes());
  const std::uint8_t* pre = preBuffer.readBuffer();
  const auto* packetBytes = static_cast<const std::uint8_t*>(buffer->bytes()) + startOffset;

  // The terminator may straddle the end of the bytes already in the packet and the start of
  // the read-ahead bytes: first slide a window over that seam, then over the read-ahead bytes
  // alone. The window never looks past m read-ahead bytes, so maxLength caps the search.
  std::size_t k = std::min(b, t - 1);
  long long steps = static_cast<long long>(k) + static_cast<long long>(m) - static_cast<long long>(t) + 1;
  std::size_t offset = 0;
  for (long long i = 0; i < steps; ++i) {
    if (k > 0) {
      if (std::memcmp(packetBytes + b - k, termBytes, k) == 0 &&
          std::memcmp(pre, termBytes + k, t - k) == 0) {
        if (foundPtr) *foundPtr = true;
        return t - k;
      }
      --k;
    } else {
      if (std::memcmp(pre + offset, termBytes, t) == 0) {
        if (foundPtr) *foundPtr = true;
        return offset + t;
      }
      ++offset;
    }
  }
  return m;
}

ssize_t DispatchReadPacket::searchForTermAfterPreBuffering(ssize_t numBytes) const {
  const std::size_t t = term ? term->length() : 0;
  if (t == 0 || numBytes < 0) return -1;
  const auto* termBytes = static_cast<const std::uint8_t*>(term->bytes());
  const auto* bytes = static_cast<const std::uint8_t*>(buffer->bytes()) + startOffset;
  const std::size_t total = bytesDone + static_cast<std::size_t>(numBytes);
  // Bytes searched before are not searched again, except the last t - 1 that may begin a
  // terminator.
  std::size_t i = bytesDone >= t ? bytesDone - t + 1 : 0;
  for (; i + t <= total; ++i) {
    if (std::memcmp(bytes + i, termBytes, t) == 0) return static_cast<ssize_t>(total - (i + t));
  }
  return -1;
}

std::uint8_t* DispatchReadPacket::directStorageOfLength(std::size_t n) {
  directStorage_ = dispatch_read_storage::take(n, &directLength_);
  return directStorage_.get();
}

void DispatchReadPacket::didReadDirectly(std::size_t n) {
  // A read that came up far short of the storage keeps a copy of its size instead of holding
  // on to the rest.
  if (n < directLength_ / 2) {
    directResult_ = ns::Data(directStorage_.get(), n);
  } else {
    directResult_ =
        ns::Data(std::shared_ptr<const void>(directStorage_, directStorage_.get()), directStorage_.get(), n);
  }
  directStorage_.reset();
  directLength_ = 0;
  bytesDone += n;
}

ns::Data DispatchReadPacket::takeResult() {
  if (directResult_) {
    ns::Data result = std::move(*directResult_);
    directResult_.reset();
    return result;
  }
  if (bufferOwner) {
    buffer->setLength(bytesDone);
    return buffer->take();
  }
  // A caller's buffer is trimmed back to the end of the read, never below the length it had
  // when the read was queued. The result is a copy: a view would dangle as soon as the caller
  // touched its buffer again.
  if (buffer->length() > originalBufferLength) {
    buffer->setLength(std::max(startOffset + bytesDone, originalBufferLength));
  }
  return ns::Data(static_cast<const std::uint8_t*>(buffer->bytes()) + startOffset, bytesDone);
}
