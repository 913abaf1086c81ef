#include "app/youtube/VideoServiceConfig.h"

#include <cstdlib>

std::string videoServiceBaseURL() {
  const char* value = std::getenv(kVideoServiceURLEnvironmentKey);
  std::string base = value && *value ? value : kBuiltInVideoServiceURL;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}
