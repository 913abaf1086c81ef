#pragma once
// One queued read of a DispatchSocket, with the length and terminator arithmetic the read loop
// rests on. The kind of read follows from the fields: readLength > 0 is a fixed-length read;
// otherwise a terminator read when term is set; otherwise a read of whatever is available
// (bounded by maxLength when that is > 0).
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/core/Data.h"
#include "platform/core/Object.h"

class DispatchSocketPreBuffer;

class DispatchReadPacket : public ns::Object {
 public:
  // With a caller's buffer, the read's bytes go to it from startOffset on and the buffer is
  // grown as needed, never replaced. Without one the packet makes its own of readLength bytes.
  DispatchReadPacket(ns::Ref<ns::MutableData> buffer, std::size_t startOffset, std::size_t maxLength,
                     double timeout, std::size_t readLength, std::optional<ns::Data> term, long tag);

  bool isFixedLength() const { return readLength > 0; }
  bool isTerminated() const { return readLength == 0 && term.has_value(); }

  // Room already present in the buffer after the bytes read so far.
  std::size_t space() const;
  std::uint8_t* writePosition();

  // Grows the buffer so that n more bytes fit after the bytes read so far; false when the
  // allocator cannot (the buffer is then unchanged).
  [[nodiscard]] bool ensureCapacityForAdditionalDataOfLength(std::size_t n);

  std::size_t optimalReadLengthWithDefault_shouldPreBuffer(std::size_t defaultValue,
                                                           bool* shouldPreBufferPtr) const;
  std::size_t readLengthForNonTermWithHint(std::size_t bytesAvailable) const;
  std::size_t readLengthForTermWithHint_shouldPreBuffer(std::size_t bytesAvailable,
                                                        bool* shouldPreBufferPtr) const;
  // How many bytes to move from the read-ahead buffer into this terminator read; sets *foundPtr
  // when they end with the terminator (callers start it at false).
  std::size_t readLengthForTermWithPreBuffer_found(const DispatchSocketPreBuffer& preBuffer,
                                                   bool* foundPtr) const;
  // After n bytes were read straight into the buffer: the count of surplus bytes after the
  // terminator (0 when it ends exactly at the last byte), or -1 when it is not there.
  ssize_t searchForTermAfterPreBuffering(ssize_t numBytes) const;

  // The completed read's bytes; trims the buffer back as the read ends.
  ns::Data takeResult();

  // A read of whatever is available into a buffer of the packet's own, done in one step: the
  // bytes can go into fresh storage that is handed on as it is, with no zero-filling first.
  bool canReadDirectly() const { return bufferOwner && bytesDone == 0 && readLength == 0 && !term; }
  // Storage for up to n bytes, not filled; nothing when the allocator cannot.
  [[nodiscard]] std::uint8_t* directStorageOfLength(std::size_t n);
  // After n bytes were read into the direct storage: they are the read's result.
  void didReadDirectly(std::size_t n);

  ns::Ref<ns::MutableData> buffer;
  std::size_t startOffset = 0;
  std::size_t bytesDone = 0;
  std::size_t maxLength = 0;
  double timeout = -1;
  std::size_t readLength = 0;
  std::optional<ns::Data> term;
  bool bufferOwner = false;
  std::size_t originalBufferLength = 0;
  long tag = 0;

 private:
  std::shared_ptr<std::uint8_t[]> directStorage_;
  std::size_t directLength_ = 0;
  std::optional<ns::Data> directResult_;
};
