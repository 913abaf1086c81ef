#include "tests/lib/http-server/ServerTestSupport.h"

#include <fstream>

#include "lib/http-server/Core/HTTPServerNotifications.h"
#include "lib/logging/LogMessage.h"
#include "platform/foundation/NotificationCenter.h"

namespace httptest {

void RecordingLogger::logMessage(const ns::Ref<LogMessage>& logMessage) {
  if (logMessage->context() != 80) return;
  std::lock_guard lock(mutex_);
  lines_.push_back(logMessage->message());
  changed_.notify_all();
}

bool RecordingLogger::waitForLine(const std::function<bool(const std::string&)>& pred, double seconds) {
  std::unique_lock lock(mutex_);
  return waitFor(
      changed_, lock,
      [&] {
        for (const auto& line : lines_)
          if (pred(line)) return true;
        return false;
      },
      seconds);
}

std::vector<std::string> RecordingLogger::lines() {
  std::lock_guard lock(mutex_);
  return lines_;
}

DeathCounter::DeathCounter() {
  auto state = state_;
  token_ = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
      HTTPConnectionDidDieNotification, nullptr, nullptr, [state](const ns::Ref<ns::Notification>&) {
        std::lock_guard lock(state->mutex);
        ++state->count;
        state->changed.notify_all();
      });
}

DeathCounter::~DeathCounter() {
  ns::NotificationCenter::defaultCenter()->removeObserver(token_.get());
}

bool DeathCounter::waitForCount(std::size_t count, double seconds) {
  std::unique_lock lock(state_->mutex);
  return waitFor(
      state_->changed, lock, [&] { return state_->count >= count; }, seconds);
}

std::size_t DeathCounter::count() {
  std::lock_guard lock(state_->mutex);
  return state_->count;
}

std::string patternBytes(std::size_t size) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 7 + 3) % 251);
  return out;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace httptest
