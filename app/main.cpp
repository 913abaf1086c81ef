// Process entry: checks the arguments and the bundle's Info.plist (which the build installs beside
// the executable), then runs the application, on screen through the GTK presenter (with
// WebKitGTK for the sign-in page) when a display is there and headless otherwise (or with
// --headless), until Quit, the last window's close or SIGINT/SIGTERM ends it. A run that lacks
// what it needs (LaunchRequirements) names it and ends with status 1 (on screen, a missing media
// engine once the first window has shown).
#include <cstdio>
#include <memory>

#include "app/shell/Launch.h"
#include "app/shell/ShellNibs.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Presenter.h"
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
  // Before any thread exists: the toolkit's and the web engine's environment, and every thread
  // leaving the two signals to the main loop.
  ak::gtk::prepareDisplayEnvironment();
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
  // The display opens first, so that what the run lacks is named before anything is built
  // (ApplicationMain's own start then finds it open).
  if (auto error = ak::startPresenter(argc, const_cast<const char**>(argv))) {
    std::fprintf(stderr, "pelorin: %s\n", error->c_str());
    return 1;
  }
  const bool onScreen = ak::activePresenter() != nullptr;
  // Without a display the run goes on without windows; only a run that asked for that says
  // nothing about it.
  if (!onScreen)
    if (auto notice = noDisplayNotice(argc, argv)) std::fprintf(stderr, "%s\n", notice->c_str());
  if (auto missing = missingLaunchRequirements(currentLaunchRequirements(argc, argv, !onScreen));
      !missing.empty()) {
    for (const auto& line : missing) std::fprintf(stderr, "%s\n", line.c_str());
    signals.stop();
    return 1;
  }
  // On screen the media engine is probed after the first frame; a missing one ends the run as
  // above, once the window has shown.
  auto engineMissing = std::make_shared<bool>(false);
  if (onScreen)
    probeMediaEngineAfterFirstFrame([engineMissing](const std::string& line) {
      std::fprintf(stderr, "%s\n", line.c_str());
      *engineMissing = true;
      if (auto app = ak::Application::sharedApplication()) app->terminate(nullptr);
    });
  const int status = ak::ApplicationMain(argc, const_cast<const char**>(argv));
  if (status != 0) return status;
  runApplicationUntilTerminated(ak::Application::sharedApplication());
  signals.stop();
  releaseApplication();
  return *engineMissing ? 1 : 0;
}
