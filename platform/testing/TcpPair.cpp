#include "platform/testing/TcpPair.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

}  // namespace pltest
