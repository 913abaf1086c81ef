// Process entry: checks the arguments and the bundle's Info.plist (which the build installs beside
// the executable), then runs the application, on screen through the GTK presenter (with
// WebKitGTK for the sign-in page) when a display is there and headless otherwise (or with
// --headless), until Quit, the last window's close or SIGINT/SIGTERM ends it. A run that lacks
// what it needs (LaunchRequirements) names it and ends with status 1.
#include <cstdio>

#include "app/shell/window/Launch.h"
#include "app/shell/window/ShellNibs.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/gtk/Presenter.h"
#include "platform/foundation/Bundle.h"
#include "platform/runtime/Runtime.h"
#include "platform/security/LibraryExit.h"
#include "platform/web/gtk/WebKitBackend.h"

int main(int argc, char** argv) {
  if (auto unknown = unknownLaunchArgument(argc, argv)) {
    std::fprintf(stderr, "%s\n", kUsageLine);
    return 2;
  }
  // Before any thread exists: the web engine's environment, and every thread leaving the two
  // signals to the main loop.
  wk::gtk::prepareWebEngineEnvironment();
  TerminationSignals::block();
  mapLargeBlocksOnTheirOwn();
  sec::keepCryptoLibraryThroughExit();
  // The presenter is installed before anything of the application runs.
  ak::gtk::installPresenter();
  wk::gtk::installWebKitBackend();
  ns::runtime::start();
  auto bundle = ns::Bundle::mainBundle();
  auto name = bundle->objectForInfoDictionaryKey(ns::kCFBundleNameKey);
  auto version = bundle->objectForInfoDictionaryKey("CFBundleShortVersionString");
  if (!name.isString() || !version.isString()) {
    std::fprintf(stderr, "pelorin: the Info.plist beside the executable is missing or incomplete\n");
    return 1;
  }
  registerShellNibs();
  TerminationSignals signals;
  signals.start();
  const int status = ak::ApplicationMain(argc, const_cast<const char**>(argv));
  if (status != 0) return status;
  if (auto missing = missingLaunchRequirements(currentLaunchRequirements(argc, argv)); !missing.empty()) {
    for (const auto& line : missing) std::fprintf(stderr, "%s\n", line.c_str());
    signals.stop();
    releaseApplication();
    return 1;
  }
  runApplicationUntilTerminated(ak::Application::sharedApplication());
  signals.stop();
  releaseApplication();
  return 0;
}
