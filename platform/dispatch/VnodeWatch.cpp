#include "platform/dispatch/VnodeWatch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/dispatch/Source.h"

namespace dispatch::detail {

int openVnodeWatch(int fd, unsigned long mask) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return -1;
  std::uint32_t events = 0;
  // An unlink of a file that is still open only changes its link count (IN_ATTRIB): the
  // inode, and so IN_DELETE_SELF, goes only when the last descriptor is closed.
  if (mask & (VnodeDelete | VnodeAttrib)) events |= IN_ATTRIB | IN_DELETE_SELF;
  if (mask & VnodeRename) events |= IN_MOVE_SELF;
  if (mask & VnodeWrite) events |= IN_MODIFY;
  if (events == 0) return -1;
  int watchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watchFd < 0) return -1;
  // The descriptor's link in /proc names the open file itself, whatever its name is now.
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  if (::inotify_add_watch(watchFd, path, events) < 0) {
    ::close(watchFd);
    return -1;
  }
  return watchFd;
}

unsigned long readVnodeEvents(int watchFd, int fd, unsigned long mask) {
  unsigned long flags = 0;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    ssize_t n = ::read(watchFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (char* p = buffer; p < buffer + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(p);
      if (event->mask & (IN_DELETE_SELF | IN_IGNORED)) flags |= VnodeDelete;
      if (event->mask & IN_MOVE_SELF) flags |= VnodeRename;
      if (event->mask & IN_MODIFY) flags |= VnodeWrite;
      if (event->mask & IN_ATTRIB) {
        flags |= VnodeAttrib;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_nlink == 0) flags |= VnodeDelete;
      }
      p += sizeof(inotify_event) + event->len;
    }
  }
  return flags & mask;
}

void closeVnodeWatch(int watchFd) {
  if (watchFd >= 0) ::close(watchFd);
}

}  // namespace dispatch::detail
