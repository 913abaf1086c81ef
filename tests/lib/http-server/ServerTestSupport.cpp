#include "tests/lib/http-server/ServerTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>

#include "lib/http-server/Core/HTTPServerNotifications.h"
#include "lib/logging/LogMessage.h"
#include "platform/foundation/NotificationCenter.h"

namespace httptest {

namespace {
std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

std::optional<std::string> WireResponse::header(const std::string& name) const {
  for (const auto& [n, v] : headers)
    if (lower(n) == lower(name)) return v;
  return std::nullopt;
}

RawClient::~RawClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawClient::connectTo(std::uint16_t port, int receiveBufferSize) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  if (receiveBufferSize > 0)
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBufferSize, sizeof receiveBufferSize);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

void RawClient::sendAll(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

std::optional<std::string> RawClient::readSome(double seconds) {
  if (eof_) return std::string();
  pollfd p{fd_, POLLIN, 0};
  int ready = ::poll(&p, 1, static_cast<int>(seconds * 1000));
  if (ready <= 0) return std::nullopt;
  char buf[65536];
  ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
  if (n < 0) {
    // A reset counts as the end of the stream.
    eof_ = true;
    return std::string();
  }
  if (n == 0) eof_ = true;
  return std::string(buf, static_cast<std::size_t>(n));
}

std::optional<std::string> RawClient::readUntil(const std::string& terminator, double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (true) {
    auto pos = buffered_.find(terminator);
    if (pos != std::string::npos) {
      std::string out = buffered_.substr(0, pos + terminator.size());
      buffered_.erase(0, pos + terminator.size());
      return out;
    }
    double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return std::nullopt;
    auto more = readSome(left);
    if (!more || more->empty()) return std::nullopt;
    buffered_ += *more;
  }
}

std::string RawClient::readExactly(std::size_t n, double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (buffered_.size() < n) {
    double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    auto more = readSome(left);
    if (!more || more->empty()) break;
    buffered_ += *more;
  }
  std::string out = buffered_.substr(0, std::min(n, buffered_.size()));
  buffered_.erase(0, out.size());
  return out;
}

std::optional<std::string> RawClient::readToEnd(double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (true) {
    double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return std::nullopt;
    auto more = readSome(left);
    if (!more) return std::nullopt;
    if (more->empty()) break;
    buffered_ += *more;
  }
  std::string out;
  out.swap(buffered_);
  return out;
}

bool RawClient::seesEndOfStream(double seconds) {
  auto rest = readToEnd(seconds);
  return rest && rest->empty();
}

std::optional<WireResponse> RawClient::readResponse(bool withBody, double seconds) {
  auto head = readUntil("\r\n\r\n", seconds);
  if (!head) return std::nullopt;
  WireResponse response;
  std::size_t lineEnd = head->find("\r\n");
  response.statusLine = head->substr(0, lineEnd);
  auto sp = response.statusLine.find(' ');
  if (sp != std::string::npos) response.status = std::atoi(response.statusLine.c_str() + sp + 1);
  std::size_t pos = lineEnd + 2;
  while (pos < head->size()) {
    std::size_t end = head->find("\r\n", pos);
    if (end == pos) break;
    std::string line = head->substr(pos, end - pos);
    auto colon = line.find(':');
    if (colon != std::string::npos) {
      std::string value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.erase(0, 1);
      response.headers.emplace_back(line.substr(0, colon), value);
    }
    pos = end + 2;
  }
  if (withBody) {
    if (auto length = response.header("Content-Length")) {
      std::size_t n = std::strtoull(length->c_str(), nullptr, 10);
      response.body = readExactly(n, seconds);
      if (response.body.size() != n) return std::nullopt;
    }
  }
  return response;
}

void RecordingLogger::logMessage(const ns::Ref<LogMessage>& logMessage) {
  if (logMessage->context() != 80) return;
  std::lock_guard lock(mutex_);
  lines_.push_back(logMessage->message());
  changed_.notify_all();
}

bool RecordingLogger::waitForLine(const std::function<bool(const std::string&)>& pred, double seconds) {
  std::unique_lock lock(mutex_);
  return waitFor(changed_, lock, [&] {
    for (const auto& line : lines_)
      if (pred(line)) return true;
    return false;
  }, seconds);
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

DeathCounter::~DeathCounter() { ns::NotificationCenter::defaultCenter()->removeObserver(token_.get()); }

bool DeathCounter::waitForCount(std::size_t count, double seconds) {
  std::unique_lock lock(state_->mutex);
  return waitFor(state_->changed, lock, [&] { return state_->count >= count; }, seconds);
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
