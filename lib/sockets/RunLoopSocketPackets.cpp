#include "lib/sockets/RunLoopSocketPackets.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::uint64_t kReadChunk = 256;
}

RunLoopReadPacket::RunLoopReadPacket(ns::Ref<ns::MutableData> data, std::uint64_t startOffset,
                                     std::uint64_t maxLength, double timeout, std::uint64_t readLength,
                                     std::optional<ns::Data> term, long tag)
    : startOffset(data ? startOffset : 0),
      maxLength(maxLength),
      timeout(timeout),
      readLength(readLength),
      term(std::move(term)),
      bufferOwner(!data),
      originalBufferLength(data ? data->length() : 0),
      tag(tag) {
  buffer = data ? std::move(data) : std::make_shared<ns::MutableData>();
}

// For a caller's buffer that has not grown since queueing, a read is cut to the space left.
std::uint64_t RunLoopReadPacket::applySpaceBound(std::uint64_t length) const {
  if (bufferOwner || buffer->length() != originalBufferLength) return length;
  std::uint64_t used = startOffset + bytesDone;
  std::uint64_t space = buffer->length() > used ? buffer->length() - used : 0;
  return space > 0 ? std::min(length, space) : length;
}

std::uint64_t RunLoopReadPacket::readLengthForNonTerm() const {
  std::uint64_t length;
  if (readLength > 0) {
    length = readLength - bytesDone;
  } else {
    length = kReadChunk;
    if (maxLength > 0) length = std::min(length, maxLength - bytesDone);
  }
  return applySpaceBound(length);
}

std::uint64_t RunLoopReadPacket::readLengthForTerm() const {
  const std::uint64_t L = term->length();
  if (bytesDone == 0 || L == 1) return L;
  // The longest tail of what is read that is a head of the terminator: read only the rest, so
  // that the read can never run past the terminator's end.
  std::uint64_t i, j;
  if (bytesDone >= L) {
    i = bytesDone - L + 1;
    j = L - 1;
  } else {
    i = 0;
    j = bytesDone;
  }
  std::uint64_t result = L;
  const std::uint8_t* bytes = buffer->bytes() + startOffset;
  while (i < bytesDone) {
    if (std::memcmp(bytes + i, term->bytes(), j) == 0) {
      result = L - j;
      break;
    }
    ++i;
    --j;
  }
  if (maxLength > 0) result = std::min(result, maxLength - bytesDone);
  return applySpaceBound(result);
}

std::uint64_t RunLoopReadPacket::prebufferReadLengthForTerm() const {
  std::uint64_t length = kReadChunk;
  if (maxLength > 0) length = std::min(length, maxLength - bytesDone);
  return applySpaceBound(length);
}

std::uint64_t RunLoopReadPacket::readLengthForTermWithPreBuffer(const ns::MutableData& preBuffer,
                                                                bool* found) const {
  const std::uint64_t L = term->length();
  const std::uint64_t held = preBuffer.length();
  if (bytesDone + held < L) return held;
  std::uint64_t limit = held;
  if (maxLength > 0) limit = std::min(held, maxLength - bytesDone);
  std::uint64_t bufLen = std::min<std::uint64_t>(bytesDone, L - 1);
  std::uint64_t preLen = L - bufLen;
  if (bufLen + limit < L) {
    *found = false;
    return held;
  }
  std::uint64_t loops = bufLen + limit - L + 1;
  const std::uint8_t* pre = preBuffer.bytes();
  const std::uint8_t* done = buffer->bytes() + startOffset + bytesDone;
  std::uint64_t position = 0;
  std::vector<std::uint8_t> window(L);
  for (std::uint64_t step = 0; step < loops; ++step) {
    if (bufLen > 0) {
      std::memcpy(window.data(), done - bufLen, bufLen);
      std::memcpy(window.data() + bufLen, pre, preLen);
      if (std::memcmp(window.data(), term->bytes(), L) == 0) {
        *found = true;
        return preLen;
      }
      --bufLen;
      ++preLen;
    } else {
      if (std::memcmp(pre + position, term->bytes(), L) == 0) {
        *found = true;
        return position + L;
      }
      ++position;
    }
  }
  *found = false;
  return held;
}

long RunLoopReadPacket::searchForTermAfterPreBuffering(long n) const {
  const long L = static_cast<long>(term->length());
  long i = static_cast<long>(bytesDone) - n - L + 1;
  if (i < 0) i = 0;
  const std::uint8_t* bytes = buffer->bytes() + startOffset;
  const long done = static_cast<long>(bytesDone);
  for (; i + L <= done; ++i)
    if (std::memcmp(bytes + i, term->bytes(), L) == 0) return done - (i + L);
  return -1;
}
