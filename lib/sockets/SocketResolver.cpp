#include "lib/sockets/SocketResolver.h"

#include <memory>
#include <mutex>

#include "platform/core/NoDestructor.h"

namespace {

struct ResolverSlot {
  std::mutex mutex;
  std::shared_ptr<SocketResolverFunction> resolver;
};

ResolverSlot& slot() {
  static ns::NoDestructor<ResolverSlot> instance;
  return *instance;
}

}  // namespace

int socketResolverGetAddrInfo(const char* host, const char* service, const addrinfo* hints, addrinfo** res) {
  std::shared_ptr<SocketResolverFunction> resolver;
  {
    std::lock_guard lock(slot().mutex);
    resolver = slot().resolver;
  }
  // A replacement may block (a held lookup): it runs outside the lock.
  if (resolver) return (*resolver)(host, service, hints, res);
  return ::getaddrinfo(host, service, hints, res);
}

void setSocketResolverForTesting(SocketResolverFunction resolver) {
  std::lock_guard lock(slot().mutex);
  slot().resolver = resolver ? std::make_shared<SocketResolverFunction>(std::move(resolver)) : nullptr;
}
