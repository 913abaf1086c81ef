#include "platform/testing/Pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace pltest {

Pipe::Pipe() {
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
    throw std::system_error(errno, std::generic_category(), "pipe2");
  r = fds[0];
  w = fds[1];
}

Pipe::~Pipe() {
  if (r >= 0) ::close(r);
  closeWriteEnd();
}

void Pipe::closeWriteEnd() {
  if (w >= 0) ::close(w);
  w = -1;
}

}  // namespace pltest
