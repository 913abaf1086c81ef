#pragma once
// The queued requests of RunLoopSocket. The length arithmetic here is the run-loop socket's own:
// it differs from the dispatch socket's on purpose.
#include <cstdint>
#include <optional>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

class RunLoopReadPacket : public ns::Object {
 public:
  // With a caller's buffer the bytes go into it from `startOffset` on; without, the packet makes
  // its own.
  RunLoopReadPacket(ns::Ref<ns::MutableData> data, std::uint64_t startOffset, std::uint64_t maxLength,
                    double timeout, std::uint64_t readLength, std::optional<ns::Data> term, long tag);

  // How much to read next for each read kind.
  std::uint64_t readLengthForNonTerm() const;
  std::uint64_t readLengthForTerm() const;
  std::uint64_t prebufferReadLengthForTerm() const;
  std::uint64_t readLengthForTermWithPreBuffer(const ns::MutableData& preBuffer, bool* found) const;
  // After n bytes were read in one chunk: the bytes after the terminator, or -1 when not found.
  long searchForTermAfterPreBuffering(long n) const;

  ns::Ref<ns::MutableData> buffer;
  std::uint64_t startOffset;
  std::uint64_t bytesDone = 0;
  std::uint64_t maxLength;
  double timeout;
  std::uint64_t readLength;
  std::optional<ns::Data> term;
  bool bufferOwner;
  std::uint64_t originalBufferLength;
  long tag;

 private:
  std::uint64_t applySpaceBound(std::uint64_t length) const;
};

class RunLoopWritePacket : public ns::Object {
 public:
  RunLoopWritePacket(ns::Data data, double timeout, long tag)
      : buffer(std::move(data)), tag(tag), timeout(timeout) {}
  ns::Data buffer;
  std::uint64_t bytesDone = 0;
  long tag;
  double timeout;
};

class RunLoopSpecialPacket : public ns::Object {
 public:
  explicit RunLoopSpecialPacket(ns::Value settings) : tlsSettings(std::move(settings)) {}
  ns::Value tlsSettings;
};
