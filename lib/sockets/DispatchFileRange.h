#pragma once
// A byte range of an open file, for a write that sends it from the file itself (sendfile)
// instead of from a copy in memory. The descriptor is shared: whoever holds a range keeps the
// file open, so a response may go away while its last range is still queued on a socket.
#include <unistd.h>

#include <cstdint>
#include <memory>

class DispatchFileDescriptor {
 public:
  // Takes over `fd` and closes it when the last holder lets go.
  explicit DispatchFileDescriptor(int fd) : fd_(fd) {}
  ~DispatchFileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  DispatchFileDescriptor(const DispatchFileDescriptor&) = delete;
  DispatchFileDescriptor& operator=(const DispatchFileDescriptor&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

struct DispatchFileRange {
  std::shared_ptr<const DispatchFileDescriptor> file;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};
