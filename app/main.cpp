// Process entry. For now Pelorin reports its name and version from the bundle's Info.plist,
// which the build installs beside the executable.
#include <cstdio>

#include "app/youtube/StreamResolver.h"
#include "app/youtube/YoutubeStreamResolver.h"
#include "platform/foundation/Bundle.h"
#include "platform/runtime/Runtime.h"

int main(int argc, char** argv) {
  ns::runtime::start();
  // Video records resolve their streams through the video service.
  StreamResolver::setSharedResolver(ns::make<YoutubeStreamResolver>());
  auto bundle = ns::Bundle::mainBundle();
  auto name = bundle->objectForInfoDictionaryKey(ns::kCFBundleNameKey);
  auto version = bundle->objectForInfoDictionaryKey("CFBundleShortVersionString");
  if (!name.isString() || !version.isString()) {
    std::fprintf(stderr, "pelorin: the Info.plist beside the executable is missing or incomplete\n");
    return 1;
  }
  std::printf("%s %s\n", name.string().c_str(), version.string().c_str());
  return 0;
}
