#pragma once
// Internal: the inotify side of file-watch sources.
namespace dispatch::detail {

// An inotify descriptor watching the open file `fd` for the VnodeFlags in `mask`; -1 when the
// file cannot be watched.
int openVnodeWatch(int fd, unsigned long mask);
// Takes every event waiting on `watchFd` and answers the VnodeFlags they amount to, within `mask`.
unsigned long readVnodeEvents(int watchFd, int fd, unsigned long mask);
void closeVnodeWatch(int watchFd);

}  // namespace dispatch::detail
