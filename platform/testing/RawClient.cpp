#include "platform/testing/RawClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace pltest {

namespace {

using Steady = std::chrono::steady_clock;

Steady::time_point deadlineAfter(double seconds) {
  return Steady::now() + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(seconds));
}

double secondsLeft(Steady::time_point deadline) {
  return std::max(0.0, std::chrono::duration<double>(deadline - Steady::now()).count());
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::optional<std::string> WireResponse::header(const std::string& name) const {
  for (const auto& [n, v] : headers)
    if (equalsIgnoringCase(n, name)) return v;
  return std::nullopt;
}

RawClient::~RawClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawClient::connectTo(std::uint16_t port, bool ipv6, int receiveBufferSize) {
  if (fd_ >= 0) ::close(fd_);
  buffered_.clear();
  ended_ = false;
  fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  if (receiveBufferSize > 0)
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBufferSize, sizeof receiveBufferSize);
  if (ipv6) {
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_port = htons(port);
    addr.sin6_addr = in6addr_loopback;
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

std::uint16_t RawClient::localPort() const {
  sockaddr_storage addr{};
  socklen_t length = sizeof addr;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) return 0;
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

bool RawClient::sendAll(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

bool RawClient::sendStream(std::size_t total, std::size_t pieceSize) {
  const std::string piece(std::max<std::size_t>(pieceSize, 1), 'x');
  for (std::size_t sent = 0; sent < total; sent += piece.size())
    if (!sendAll(total - sent < piece.size() ? piece.substr(0, total - sent) : piece)) return false;
  return true;
}

void RawClient::shutdownWrite() {
  ::shutdown(fd_, SHUT_WR);
}

void RawClient::shutdownBoth() {
  ::shutdown(fd_, SHUT_RDWR);
}

RawClient::Got RawClient::readSome(double seconds) {
  if (ended_) return Got::End;
  pollfd p{fd_, POLLIN, 0};
  int ready = ::poll(&p, 1, static_cast<int>(seconds * 1000));
  if (ready <= 0) return Got::TimedOut;
  char buffer[65536];
  ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
  if (n < 0) return errno == EINTR || errno == EAGAIN ? Got::Data : Got::Failed;
  if (n == 0) {
    ended_ = true;
    return Got::End;
  }
  buffered_.append(buffer, static_cast<std::size_t>(n));
  return Got::Data;
}

std::string RawClient::readExactly(std::size_t n, double seconds) {
  auto deadline = deadlineAfter(seconds);
  while (buffered_.size() < n && readSome(secondsLeft(deadline)) == Got::Data) {
  }
  std::string out = buffered_.substr(0, std::min(n, buffered_.size()));
  buffered_.erase(0, out.size());
  return out;
}

std::optional<std::string> RawClient::readUntil(const std::string& terminator, double seconds) {
  auto deadline = deadlineAfter(seconds);
  for (;;) {
    auto pos = buffered_.find(terminator);
    if (pos != std::string::npos) {
      std::string out = buffered_.substr(0, pos + terminator.size());
      buffered_.erase(0, out.size());
      return out;
    }
    if (readSome(secondsLeft(deadline)) != Got::Data) return std::nullopt;
  }
}

std::optional<std::string> RawClient::readToEnd(double seconds) {
  auto deadline = deadlineAfter(seconds);
  for (;;) {
    Got got = readSome(secondsLeft(deadline));
    if (got == Got::End) break;
    if (got != Got::Data) return std::nullopt;
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
  auto space = response.statusLine.find(' ');
  if (space != std::string::npos) response.status = std::atoi(response.statusLine.c_str() + space + 1);
  for (std::size_t pos = lineEnd + 2; pos < head->size();) {
    std::size_t end = head->find("\r\n", pos);
    if (end == pos) break;
    std::string line = head->substr(pos, end - pos);
    auto colon = line.find(':');
    if (colon != std::string::npos) {
      std::size_t valueStart = line.find_first_not_of(' ', colon + 1);
      response.headers.emplace_back(line.substr(0, colon),
                                    valueStart == std::string::npos ? "" : line.substr(valueStart));
    }
    pos = end + 2;
  }
  if (auto length = response.header("Content-Length"); withBody && length) {
    std::size_t n = std::strtoull(length->c_str(), nullptr, 10);
    response.body = readExactly(n, seconds);
    if (response.body.size() != n) return std::nullopt;
  }
  return response;
}

}  // namespace pltest
