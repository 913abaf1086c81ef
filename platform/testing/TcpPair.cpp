#include "platform/testing/TcpPair.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace pltest {

namespace {

int boundListener(sockaddr_in* address) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  *address = {};
  address->sin_family = AF_INET;
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof *address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(address), len) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(address), &len) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool connectedTcpPair(int* first, int* second) {
  sockaddr_in address;
  int listener = boundListener(&address);
  if (listener < 0) return false;
  bool ok = false;
  if (::listen(listener, 1) == 0) {
    int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (client >= 0 && ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      int server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (server >= 0) {
        *first = client;
        *second = server;
        ok = true;
      }
    }
    if (!ok && client >= 0) ::close(client);
  }
  ::close(listener);
  return ok;
}

std::uint16_t closedLoopbackPort() {
  sockaddr_in address;
  int fd = boundListener(&address);
  if (fd < 0) return 0;
  ::close(fd);
  return ntohs(address.sin_port);
}

int openDescriptorCount() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return -1;
  int count = 0;
  while (dirent* entry = ::readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  ::closedir(dir);
  return count - 1;  // the directory stream's own descriptor
}

sockaddr_in loopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int boundLoopbackUdpSocket(sockaddr_in* address, bool nonBlocking) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
  if (fd < 0) return -1;
  *address = loopbackAddress();
  socklen_t len = sizeof *address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(address), len) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(address), &len) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

RefusingLoopbackPort::RefusingLoopbackPort() {
  sockaddr_in address;
  fd_ = boundListener(&address);
  if (fd_ >= 0) port_ = ntohs(address.sin_port);
}

RefusingLoopbackPort::~RefusingLoopbackPort() {
  if (fd_ >= 0) ::close(fd_);
}

std::string RefusingLoopbackPort::url() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

OneReplyServer::OneReplyServer(std::string reply) {
  sockaddr_in address;
  fd_ = boundListener(&address);
  if (fd_ < 0 || ::listen(fd_, 1) != 0) return;
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([fd = fd_, reply = std::move(reply)] {
    int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) return;
    // Read the whole request first: closing with unread bytes would reset the connection.
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      long got = ::recv(c, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    (void)::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
    ::shutdown(c, SHUT_RDWR);
    ::close(c);
  });
}

OneReplyServer::~OneReplyServer() {
  // Wakes an accept that never got its connection.
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) ::close(fd_);
}

std::string OneReplyServer::url() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

}  // namespace pltest
