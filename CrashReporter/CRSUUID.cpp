#include "CrashReporter/CRSUUID.h"

#include <unistd.h>

#include <cmath>
#include <mutex>

#include "platform/core/Format.h"
#include "platform/runloop/Clock.h"

namespace {

std::mutex& sequenceLock() {
  static std::mutex lock;
  return lock;
}
std::uint16_t gSequence = 0;

void putBigEndian(std::uint8_t* out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    out[i] = static_cast<std::uint8_t>(value & 0xff);
    value >>= 8;
  }
}

std::uint64_t bigEndian(const std::uint8_t* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | in[i];
  return value;
}

}  // namespace

ns::Ref<CRSUUID> CRSUUID::generateWithSegmentData(const ns::Data& segment) {
  if (segment.length() < 6) return nullptr;
  double now = 0;
  std::uint16_t sequence = 0;
  {
    std::lock_guard lock(sequenceLock());
    now = ns::Clock::wallNow();
    sequence = ++gSequence;
  }
  if (!(now > 0)) return nullptr;
  double seconds = std::floor(now);
  auto milliseconds = static_cast<std::uint64_t>((now - seconds) * 1000.0);
  std::array<std::uint8_t, 16> bytes{};
  putBigEndian(&bytes[0], static_cast<std::uint64_t>(seconds), 4);
  putBigEndian(&bytes[4], milliseconds, 2);
  putBigEndian(&bytes[6], sequence, 2);
  putBigEndian(&bytes[8], static_cast<std::uint64_t>(::getpid()) & 0xffff, 2);
  for (int i = 0; i < 6; ++i) bytes[10 + i] = segment.bytes()[i];
  return ns::make<CRSUUID>(bytes);
}

std::string CRSUUID::stringValue() const {
  const std::uint8_t* b = data_.data();
  return ns::format("%08X%04X-%04X-%04X-%08X%04X", static_cast<unsigned>(bigEndian(b, 4)),
                    static_cast<unsigned>(bigEndian(b + 4, 2)), static_cast<unsigned>(bigEndian(b + 6, 2)),
                    static_cast<unsigned>(bigEndian(b + 8, 2)), static_cast<unsigned>(bigEndian(b + 10, 4)),
                    static_cast<unsigned>(bigEndian(b + 14, 2)));
}
