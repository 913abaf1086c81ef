#include "lib/google/GoogleAPIConfig.h"

#include <cstdlib>

std::string googleAPIBaseURL() {
  const char* value = std::getenv(kGoogleAPIURLEnvironmentKey);
  std::string base = value && *value ? value : kBuiltInGoogleAPIURL;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}
