// The read-ahead buffer and the read packet arithmetic the read loop rests on, as tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

#include "lib/sockets/DispatchReadPacket.h"
#include "lib/sockets/DispatchSocketPreBuffer.h"

namespace {

void put(DispatchSocketPreBuffer& pre, const std::string& bytes) {
  ASSERT_TRUE(pre.ensureCapacityForWrite(bytes.size()));
  if (bytes.empty()) return;
  std::memcpy(pre.writeBuffer(), bytes.data(), bytes.size());
  pre.didWrite(bytes.size());
}

std::string readable(const DispatchSocketPreBuffer& pre) {
  return std::string(reinterpret_cast<const char*>(pre.readBuffer()), pre.availableBytes());
}

// A terminator read that already holds `held` bytes in its own buffer.
ns::Ref<DispatchReadPacket> termPacket(const std::string& term, const std::string& held,
                                       std::size_t maxLength) {
  auto packet = ns::make<DispatchReadPacket>(nullptr, 0, maxLength, -1, 0, ns::Data(term), 1);
  EXPECT_TRUE(packet->ensureCapacityForAdditionalDataOfLength(held.size()));
  if (!held.empty()) std::memcpy(packet->writePosition(), held.data(), held.size());
  packet->bytesDone = held.size();
  return packet;
}

TEST(DispatchSocketPreBuffer, QueuesBytesAndRewindsWhenReadEmpty) {
  DispatchSocketPreBuffer pre(8);
  EXPECT_EQ(pre.availableSpace(), 8u);
  put(pre, "abcdef");
  EXPECT_EQ(pre.availableBytes(), 6u);
  EXPECT_EQ(pre.availableSpace(), 2u);
  pre.didRead(4);
  EXPECT_EQ(readable(pre), "ef");
  // Bytes before the read position are not reused while the buffer holds bytes.
  EXPECT_EQ(pre.availableSpace(), 2u);
  pre.didRead(2);
  EXPECT_EQ(pre.availableBytes(), 0u);
  EXPECT_EQ(pre.availableSpace(), 8u) << "a buffer read empty returns to its start";

  // A steady stream of small reads never grows it.
  for (int i = 0; i < 1000; ++i) {
    put(pre, "0123456");
    pre.didRead(3);
    pre.didRead(4);
  }
  EXPECT_EQ(pre.preBufferSize(), 8u);

  put(pre, "xyz");
  pre.reset();
  EXPECT_EQ(pre.availableBytes(), 0u);
  EXPECT_EQ(pre.availableSpace(), 8u);
}

TEST(DispatchSocketPreBuffer, GrowsByExactlyTheShortfallKeepingPositions) {
  DispatchSocketPreBuffer pre(16);
  put(pre, "0123456789");
  pre.didRead(3);
  ASSERT_TRUE(pre.ensureCapacityForWrite(6));
  EXPECT_EQ(pre.preBufferSize(), 16u) << "room already present changes nothing";
  ASSERT_TRUE(pre.ensureCapacityForWrite(16));
  EXPECT_EQ(pre.preBufferSize(), 26u) << "10 bytes missing grows by exactly 10";
  EXPECT_EQ(readable(pre), "3456789");
  EXPECT_EQ(pre.availableSpace(), 16u);

  const std::uint8_t* before = nullptr;
  std::size_t bytes = 0;
  pre.getReadBuffer_availableBytes(&before, &bytes);
  EXPECT_EQ(bytes, 7u);
  pre.getReadBuffer_availableBytes(nullptr, nullptr);
}

TEST(DispatchSocketPreBuffer, RefusesImpossibleGrowthWithoutThrowing) {
  DispatchSocketPreBuffer pre(16);
  put(pre, "keep");
  EXPECT_FALSE(pre.ensureCapacityForWrite(SIZE_MAX));
  EXPECT_FALSE(pre.ensureCapacityForWrite(static_cast<std::size_t>(PTRDIFF_MAX)));
  EXPECT_EQ(pre.preBufferSize(), 16u);
  EXPECT_EQ(readable(pre), "keep");
}

struct TermCase {
  const char* name;
  std::string term;
  std::string held;  // bytes already in the packet
  std::string pre;   // bytes in the read-ahead buffer
  std::size_t maxLength;
  std::size_t expected;
  bool found;
};

void PrintTo(const TermCase& c, std::ostream* os) {
  *os << c.name;
}

class ReadLengthForTermWithPreBuffer : public testing::TestWithParam<TermCase> {};

TEST_P(ReadLengthForTermWithPreBuffer, MovesUpToAndIncludingTheTerminator) {
  const TermCase& c = GetParam();
  auto packet = termPacket(c.term, c.held, c.maxLength);
  DispatchSocketPreBuffer pre(4096);
  put(pre, c.pre);
  bool found = false;
  EXPECT_EQ(packet->readLengthForTermWithPreBuffer_found(pre, &found), c.expected);
  EXPECT_EQ(found, c.found);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadLengthForTermWithPreBuffer,
    testing::Values(TermCase{"terminatorInsideReadAhead", "\r\n", "", "GET / HTTP/1.1\r\nHost: h\r\n", 0, 16,
                             true},
                    TermCase{"crHeldLfAhead", "\r\n", "abc\r", "\nrest", 0, 1, true},
                    TermCase{"straddlesThreeOfFour", "\r\n\r\n", "xx\r\n\r", "\nyy", 0, 1, true},
                    TermCase{"straddlesOneOfFour", "\r\n\r\n", "xx\r", "\n\r\nyy", 0, 3, true},
                    TermCase{"heldBytesAloneDoNotMatchAgain", "ab", "xa", "c", 0, 1, false},
                    TermCase{"absentNoMaximum", "\r\n", "", std::string(100, 'a'), 0, 100, false},
                    TermCase{"absentMaximumLeavesForty", "\r\n", std::string(60, 'a'), std::string(100, 'a'),
                             100, 40, false},
                    TermCase{"maximumHidesLaterTerminator", "\r\n", "", "abcdef\r\n", 4, 4, false},
                    TermCase{"terminatorEndsExactlyAtMaximum", "\r\n", "", "ab\r\nzz", 4, 4, true},
                    TermCase{"shorterThanTerminatorTakesAll", "\r\n\r\n", "a", "\r", 0, 1, false},
                    TermCase{"firstOfSeveral", "\n", "", "a\nb\nc\n", 0, 2, true},
                    TermCase{"maximumAlreadyReached", "\r\n", "abcd", "\r\n", 4, 0, false}),
    [](const testing::TestParamInfo<TermCase>& info) { return std::string(info.param.name); });

TEST(DispatchReadPacket, SearchAfterReadingStraightIntoThePacket) {
  struct Case {
    std::string held, fresh, term;
    ssize_t expected;
  } cases[] = {
      {"", "line\r\n", "\r\n", 0},      // ends exactly at the last byte
      {"", "line\r\nnext", "\r\n", 4},  // four surplus bytes
      {"line\r", "\nnext", "\r\n", 4},  // straddles the earlier bytes
      {"li", "ne", "\r\n", -1},         // not there
      {"a\r\nb", "cd", "\r\n", -1},     // earlier bytes are not searched again
      {"ab\r\n\r", "\n", "\r\n\r\n", 0},
  };
  for (const auto& c : cases) {
    auto packet = termPacket(c.term, c.held, 0);
    ASSERT_TRUE(packet->ensureCapacityForAdditionalDataOfLength(c.fresh.size()));
    std::memcpy(packet->writePosition(), c.fresh.data(), c.fresh.size());
    EXPECT_EQ(packet->searchForTermAfterPreBuffering(static_cast<ssize_t>(c.fresh.size())), c.expected)
        << c.held << "|" << c.fresh;
  }
}

TEST(DispatchReadPacket, ReadLengthsHonourKindAndMaximum) {
  // Fixed length: never past the remainder.
  DispatchReadPacket fixed(nullptr, 0, 0, -1, 10, std::nullopt, 1);
  fixed.bytesDone = 4;
  EXPECT_EQ(fixed.readLengthForNonTermWithHint(100), 6u);
  EXPECT_EQ(fixed.readLengthForNonTermWithHint(3), 3u);
  bool preBuffer = true;
  EXPECT_EQ(fixed.optimalReadLengthWithDefault_shouldPreBuffer(32768, &preBuffer), 6u);
  EXPECT_FALSE(preBuffer);

  // Whatever is available, bounded by the maximum.
  DispatchReadPacket bounded(nullptr, 0, 50, -1, 0, std::nullopt, 1);
  bounded.bytesDone = 20;
  EXPECT_EQ(bounded.readLengthForNonTermWithHint(100), 30u);
  DispatchReadPacket unbounded(nullptr, 0, 0, -1, 0, std::nullopt, 1);
  EXPECT_EQ(unbounded.readLengthForNonTermWithHint(100), 100u);

  // A terminator read goes straight into the packet only when the bytes fit without growing it.
  auto caller = ns::make<ns::MutableData>(64);
  DispatchReadPacket roomy(caller, 0, 0, -1, 0, ns::Data("\n"), 1);
  EXPECT_EQ(roomy.readLengthForTermWithHint_shouldPreBuffer(64, &preBuffer), 64u);
  EXPECT_FALSE(preBuffer);
  EXPECT_EQ(roomy.readLengthForTermWithHint_shouldPreBuffer(65, &preBuffer), 65u);
  EXPECT_TRUE(preBuffer);
  DispatchReadPacket capped(nullptr, 0, 8190, -1, 0, ns::Data("\r\n"), 1);
  capped.bytesDone = 8000;
  EXPECT_EQ(capped.readLengthForTermWithHint_shouldPreBuffer(9000, &preBuffer), 190u);
  EXPECT_TRUE(preBuffer);
}

TEST(DispatchReadPacket, CallersBufferIsGrownAtOffsetAndTrimmedBackNotBelowItsLength) {
  auto caller = ns::make<ns::MutableData>(std::string_view("keep-me-"));
  DispatchReadPacket packet(caller, 5, 0, -1, 6, std::nullopt, 7);
  EXPECT_FALSE(packet.bufferOwner);
  EXPECT_EQ(packet.originalBufferLength, 8u);
  ASSERT_TRUE(packet.ensureCapacityForAdditionalDataOfLength(6));
  EXPECT_EQ(caller->length(), 11u) << "grown by exactly what was missing";
  std::memcpy(packet.writePosition(), "abcdef", 6);
  packet.bytesDone = 6;
  ns::Data result = packet.takeResult();
  EXPECT_EQ(result.toString(), "abcdef");
  EXPECT_EQ(caller->toString(), "keep-abcdef") << "earlier bytes kept, never replaced";

  // A short read into a long buffer leaves the buffer's own length alone.
  auto longBuffer = ns::make<ns::MutableData>(std::string_view("0123456789"));
  DispatchReadPacket shortRead(longBuffer, 2, 0, -1, 0, std::nullopt, 1);
  std::memcpy(shortRead.writePosition(), "xy", 2);
  shortRead.bytesDone = 2;
  EXPECT_EQ(shortRead.takeResult().toString(), "xy");
  EXPECT_EQ(longBuffer->toString(), "01xy456789");

  // Growth that cannot happen is refused, not thrown, and leaves the buffer as it was.
  EXPECT_FALSE(packet.ensureCapacityForAdditionalDataOfLength(SIZE_MAX));
  EXPECT_EQ(caller->length(), 11u);
}

TEST(DispatchReadPacket, OwnBufferIsTrimmedToTheBytesRead) {
  DispatchReadPacket packet(nullptr, 0, 0, -1, 10, std::nullopt, 3);
  EXPECT_TRUE(packet.bufferOwner);
  EXPECT_EQ(packet.buffer->length(), 10u);
  std::memcpy(packet.writePosition(), "hello", 5);
  packet.bytesDone = 5;
  EXPECT_EQ(packet.takeResult().toString(), "hello");

  // An absurd length does not allocate up front.
  DispatchReadPacket huge(nullptr, 0, 0, -1, SIZE_MAX / 2, std::nullopt, 3);
  EXPECT_LE(huge.buffer->length(), 1u << 20);
}

// A read of whatever is available goes straight into storage that becomes its result; every
// other kind of read fills its buffer as before.
TEST(DispatchReadPacket, ReadOfWhateverIsAvailableHandsOnItsOwnStorage) {
  struct Case {
    const char* name;
    std::size_t storage;
    std::string bytes;
  };
  const Case cases[] = {{"filled", 8, "abcdefgh"}, {"mostly filled", 8, "abcde"}, {"far short", 64, "xyz"}};
  for (const Case& c : cases) {
    DispatchReadPacket packet(nullptr, 0, 0, -1, 0, std::nullopt, 1);
    ASSERT_TRUE(packet.canReadDirectly()) << c.name;
    std::uint8_t* target = packet.directStorageOfLength(c.storage);
    ASSERT_NE(target, nullptr);
    std::memcpy(target, c.bytes.data(), c.bytes.size());
    packet.didReadDirectly(c.bytes.size());
    EXPECT_EQ(packet.bytesDone, c.bytes.size()) << c.name;
    EXPECT_EQ(packet.takeResult().toString(), c.bytes) << c.name;
  }

  auto caller = ns::make<ns::MutableData>();
  EXPECT_FALSE(DispatchReadPacket(caller, 0, 0, -1, 0, std::nullopt, 1).canReadDirectly());
  EXPECT_FALSE(DispatchReadPacket(nullptr, 0, 0, -1, 4, std::nullopt, 1).canReadDirectly());
  EXPECT_FALSE(DispatchReadPacket(nullptr, 0, 0, -1, 0, ns::Data("\n"), 1).canReadDirectly());
  DispatchReadPacket started(nullptr, 0, 0, -1, 0, std::nullopt, 1);
  started.bytesDone = 1;
  EXPECT_FALSE(started.canReadDirectly());
}

}  // namespace
