// The maker's host, read from the environment at each call.
#include <cstdlib>

#include "app/library/MakerHost.h"

std::string makerHost() {
  const char* host = std::getenv(kMakerHostEnvironmentKey);
  if (host && *host) return host;
  return kBuiltInMakerHost;
}
