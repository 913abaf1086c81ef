#include "tests/lib/http-server/ServerTestSupport.h"

#include "lib/http-server/Core/HTTPServerNotifications.h"
#include "lib/logging/LogMessage.h"
#include "platform/foundation/NotificationCenter.h"

namespace httptest {

void RecordingLogger::logMessage(const ns::Ref<LogMessage>& logMessage) {
  if (logMessage->context() != 80) return;
  monitor_.change([&] { lines_.push_back(logMessage->message()); });
}

bool RecordingLogger::waitForLine(const std::function<bool(const std::string&)>& pred, double seconds) {
  return monitor_.waitFor(
      [&] {
        for (const auto& line : lines_)
          if (pred(line)) return true;
        return false;
      },
      std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
}

std::vector<std::string> RecordingLogger::lines() {
  return monitor_.with([&] { return lines_; });
}

DeathCounter::DeathCounter() {
  auto state = state_;
  token_ = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      HTTPConnectionDidDieNotification, nullptr, nullptr,
      [state](const ns::Ref<ns::Notification>&) { state->monitor.change([&] { ++state->count; }); });
}

DeathCounter::~DeathCounter() {
  ns::NotificationCenter::defaultCenter()->removeObserver(token_.get());
}

bool DeathCounter::waitForCount(std::size_t count, double seconds) {
  return state_->monitor.waitFor([&] { return state_->count >= count; },
                                 std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
}

std::size_t DeathCounter::count() {
  return state_->monitor.with([&] { return state_->count; });
}

std::string patternBytes(std::size_t size) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 7 + 3) % 251);
  return out;
}

}  // namespace httptest
