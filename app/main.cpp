// Process entry: checks the bundle's Info.plist (which the build installs beside the executable),
// then runs the application, on screen through the GTK presenter when a display is there and
// headless otherwise (or with --headless).
#include <cstdio>

#include "app/youtube/StreamResolver.h"
#include "app/youtube/YoutubeStreamResolver.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/gtk/Presenter.h"
#include "platform/foundation/Bundle.h"
#include "platform/runtime/Runtime.h"

int main(int argc, char** argv) {
  // The presenter is installed before anything of the application runs.
  ak::gtk::installPresenter();
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
  return ak::ApplicationMain(argc, const_cast<const char**>(argv));
}
