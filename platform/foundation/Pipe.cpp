#include "platform/foundation/Pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/core/Exception.h"

namespace ns {

Pipe::Pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    Exception::raise(NSFileHandleOperationException,
                     std::string("*** -[NSPipe init]: ") + std::strerror(errno));
  }
  reading_ = make<FileHandle>(fds[0], true);
  writing_ = make<FileHandle>(fds[1], true);
}

}  // namespace ns
