#pragma once
// Helpers of the request-operation tests: requests for the fake server, files, and ways to let the
// main queue and the network thread catch up without sleeping.
#include <gtest/gtest.h>

#include <string>

#include "lib/net/URLConnectionOperation.h"
#include "platform/dispatch/Queue.h"
#include "platform/testing/Files.h"
#include "platform/testing/Pump.h"

namespace nettest {

inline ns::Ref<ns::URLRequest> requestFor(const std::string& url) {
  return ns::URLRequest::requestWithURL(ns::URL::URLWithString(url));
}

// Runs the main run loop until a block queued on the main queue now has run: whatever was queued
// there before it has run too.
inline void drainMainQueue() {
  bool ran = false;
  dispatch::async(dispatch::mainQueue(), [&] { ran = true; });
  ASSERT_TRUE(pltest::pumpUntil([&] { return ran; }));
}

// Returns once the network thread has done everything queued on it before.
inline void networkBarrier() {
  ns::Thread::performOnThread(URLConnectionOperation::networkRequestThread(),
                              ns::PerformRequest{nullptr, "", nullptr, [] {}}, true);
}

// Pumps the main run loop until the operation has finished and every block that holds it (its
// completion block, the success or failure block it queued) has run and let go of it.
template <class Op>
bool pumpUntilSettled(const ns::Ref<Op>& op, double timeoutSeconds = 20) {
  return pltest::pumpUntil([&] { return op->isFinished() && op.use_count() == 1; }, timeoutSeconds);
}

using pltest::readFile;
using pltest::writeFile;

// Bytes that differ from position to position, so that a duplicated or skipped run shows.
inline std::string patterned(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
  return bytes;
}

}  // namespace nettest
