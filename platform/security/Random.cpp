#include "platform/security/Random.h"

#include <sys/random.h>

#include <cerrno>
#include <stdexcept>

namespace sec {

int SecRandomCopyBytes(SecRandomRef, std::size_t count, void* bytes) {
  if (count == 0) return 0;
  if (!bytes) {
    errno = EINVAL;
    return -1;
  }
  auto* p = static_cast<unsigned char*>(bytes);
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = getrandom(p + done, count - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

std::string randomBytes(std::size_t count) {
  std::string out(count, '\0');
  if (SecRandomCopyBytes(kSecRandomDefault, count, out.data()) != 0)
    throw std::runtime_error("the system random generator failed");
  return out;
}

ns::Data randomData(std::size_t count) {
  return ns::Data(randomBytes(count));
}

}  // namespace sec
