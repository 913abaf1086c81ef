// The library's small process-wide pieces: the installed browsing interface and the maker's host.
#include <cstdlib>

#include "app/library/BrowsingInterface.h"
#include "app/library/MakerHost.h"
#include "common/SharedReference.h"
#include "platform/core/NoDestructor.h"

namespace {

SharedReference<IBrowsingInterface>& browsingReference() {
  static ns::NoDestructor<SharedReference<IBrowsingInterface>> reference;
  return *reference;
}

}  // namespace

ns::Ref<IBrowsingInterface> browsingInterface() {
  return browsingReference().get();
}

void setBrowsingInterface(ns::Ref<IBrowsingInterface> interface) {
  browsingReference().set(std::move(interface));
}

std::string makerHost() {
  const char* host = std::getenv(kMakerHostEnvironmentKey);
  if (host && *host) return host;
  return kBuiltInMakerHost;
}
