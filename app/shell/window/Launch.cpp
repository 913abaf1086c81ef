#include "app/shell/window/Launch.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/shell/window/ShellNibs.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Presenter.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/Player.h"
#include "platform/runloop/RunLoop.h"
#include "platform/web/WebView.h"
#include "shell/IAppDelegate.h"
#include "shell/IMainWindowController.h"
#include "shell/IPlayerViewController.h"

std::optional<std::string> unknownLaunchArgument(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i] ? argv[i] : "";
    if (std::strcmp(argument, "--headless") != 0) return std::string(argument);
  }
  return std::nullopt;
}

namespace {

sigset_t terminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void TerminationSignals::block() {
  sigset_t set = terminationSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool TerminationSignals::start() {
  if (source_) return true;
  sigset_t set = terminationSet();
  fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0) {
    ns::Log("pelorin: cannot read the termination signals: %s", std::string(std::strerror(errno)));
    return false;
  }
  source_ = dispatch::sourceCreate(dispatch::SourceType::Read, static_cast<std::uintptr_t>(fd_), 0,
                                   dispatch::mainQueue());
  const int fd = fd_;
  source_->setEventHandler([this, fd] {
    signalfd_siginfo info;
    bool any = false;
    while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      ++received_;
      any = true;
    }
    // Quit's own road: will-terminate runs, then the run ends.
    if (any) ak::Application::sharedApplication()->terminate(nullptr);
  });
  source_->setCancelHandler([fd] { ::close(fd); });
  source_->resume();
  return true;
}

void TerminationSignals::stop() {
  if (!source_) return;
  source_->cancel();
  source_ = nullptr;
  fd_ = -1;
}

TerminationSignals::~TerminationSignals() {
  stop();
}

LaunchRequirements currentLaunchRequirements(int argc, const char* const* argv) {
  LaunchRequirements requirements;
  requirements.onScreen = ak::wantsDisplay(argc, const_cast<const char**>(argv));
  requirements.presenter = ak::activePresenter() != nullptr;
  requirements.webViewFactory = wk::WebView::hasBackendFactory();
  requirements.playerEngineProblem = av::Player::engineUnavailableReason();
  return requirements;
}

std::vector<std::string> missingLaunchRequirements(const LaunchRequirements& requirements) {
  std::vector<std::string> missing;
  if (requirements.onScreen && !requirements.presenter)
    missing.push_back(
        "pelorin: a display is set but no on-screen presenter is installed: no window can be shown");
  if (requirements.onScreen && !requirements.webViewFactory)
    missing.push_back(
        "pelorin: no on-screen web engine is installed for web views: the sign-in page cannot be shown");
  if (requirements.playerEngineProblem)
    missing.push_back("pelorin: the player's media engine cannot be created (" +
                      *requirements.playerEngineProblem + "): no video can play");
  return missing;
}

void runApplicationUntilTerminated(const ns::Ref<ak::Application>& app) {
  auto loop = ns::RunLoop::mainRunLoop();
  // A termination decided by a timer or a source while the loop sleeps ends that pass at once.
  auto center = ns::NotificationCenter::defaultCenter();
  auto token = center->addObserverForName_object_queue_usingBlock(
      std::string(ak::ApplicationWillTerminateNotification), nullptr, nullptr,
      [loop](const ns::Ref<ns::Notification>&) { loop->stop(); });
  struct Remove {
    ns::Ref<ns::NotificationCenter> center;
    ns::Ref<ns::Object> token;
    ~Remove() { center->removeObserver(token.get()); }
  } remove{center, token};
  while (!app->hasTerminated()) {
    app->run();
    if (app->hasTerminated()) return;
    // Nothing queued: sleep until the loop has work (at worst its next timer), then go on.
    // A loop with nothing registered could never be woken again.
    if (!loop->runMode_beforeDate(ns::DefaultRunLoopMode, ns::Date::distantFuture()) &&
        !loop->runPendingInMode(ns::DefaultRunLoopMode)) {
      if (!app->hasTerminated()) ns::Log("pelorin: nothing is left that could end the run; ending it");
      return;
    }
  }
}

void releaseApplication() {
  if (auto app = ak::Application::sharedApplication()) {
    for (const auto& window : app->windows()) window->close();
  }
  setMainWindowController(nullptr);
  setPlayerViewController(nullptr);
  setAppDelegate(nullptr);
  releaseShellNibObjects();
  ak::Application::setSharedApplication(nullptr);
  // What the windows and controllers queued on their way out.
  ns::RunLoop::mainRunLoop()->runPendingInMode(ns::DefaultRunLoopMode);
}
