#include "app/shell/Launch.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "app/shell/ShellNibs.h"
#include "common/IAppDelegate.h"
#include "common/IMainWindowController.h"
#include "common/IPlayerViewController.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Presenter.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/Player.h"
#include "platform/runloop/RunLoop.h"
#include "platform/web/WebView.h"

std::optional<std::string> unknownLaunchArgument(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i] ? argv[i] : "";
    if (std::strcmp(argument, "--headless") != 0) return std::string(argument);
  }
  return std::nullopt;
}

std::optional<std::string> noDisplayNotice(int argc, const char* const* argv) {
  auto args = const_cast<const char**>(argv);
  if (ak::asksForHeadless(argc, args) || ak::wantsDisplay(argc, args)) return std::nullopt;
  return std::string(kNoDisplayLine);
}

bool mapLargeBlocksOnTheirOwn() {
  // A fixed threshold also turns glibc's raising of it off.
  return mallopt(M_MMAP_THRESHOLD, 128 * 1024) == 1;
}

namespace {

sigset_t terminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

// The write end of the pipe that hands signals on to the main loop (-1 while nobody reads it).
std::atomic<int> forwardFd{-1};

// A thread that a library started while it was loaded, before main could block the signals (as
// WebKit's JavaScript engine does), takes them with the default action, which would end the
// process at once; the other threads block them and cannot see what is pending for that one. It
// writes the signal's number down the pipe instead.
void forwardToMainLoop(int signal) {
  const int saved = errno;
  const char number = static_cast<char>(signal);
  if (const int fd = forwardFd.load(); fd >= 0) (void)!::write(fd, &number, 1);
  errno = saved;
}

void setTerminationHandler(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
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
    ns::LogError("pelorin: cannot read the termination signals: %s", std::string(std::strerror(errno)));
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
  int pipe[2];
  if (::pipe2(pipe, O_NONBLOCK | O_CLOEXEC) == 0) {
    const int readEnd = pipe[0];
    forwarded_ = dispatch::sourceCreate(dispatch::SourceType::Read, static_cast<std::uintptr_t>(readEnd), 0,
                                        dispatch::mainQueue());
    forwarded_->setEventHandler([this, readEnd] {
      char numbers[16];
      bool any = false;
      for (ssize_t n; (n = ::read(readEnd, numbers, sizeof numbers)) > 0;) {
        received_ += static_cast<int>(n);
        any = true;
      }
      if (any) ak::Application::sharedApplication()->terminate(nullptr);
    });
    forwarded_->setCancelHandler([readEnd] { ::close(readEnd); });
    forwarded_->resume();
    forwardFd = pipe[1];
    setTerminationHandler(&forwardToMainLoop);
  }
  return true;
}

void TerminationSignals::stop() {
  if (!source_) return;
  if (forwarded_) {
    setTerminationHandler(SIG_DFL);
    ::close(forwardFd.exchange(-1));
    forwarded_->cancel();
    forwarded_ = nullptr;
  }
  source_->cancel();
  source_ = nullptr;
  fd_ = -1;
}

TerminationSignals::~TerminationSignals() {
  stop();
}

LaunchRequirements currentLaunchRequirements(int argc, const char* const* argv, bool probeEngine) {
  LaunchRequirements requirements;
  requirements.onScreen = ak::wantsDisplay(argc, const_cast<const char**>(argv));
  requirements.presenter = ak::activePresenter() != nullptr;
  requirements.webViewFactory = wk::WebView::hasBackendFactory();
  if (probeEngine) requirements.playerEngineProblem = av::Player::engineUnavailableReason();
  return requirements;
}

namespace {

std::string missingEngineLine(const std::string& problem) {
  return "pelorin: the player's media engine cannot be created (" + problem + "): no video can play";
}

}  // namespace

std::vector<std::string> missingLaunchRequirements(const LaunchRequirements& requirements) {
  std::vector<std::string> missing;
  if (requirements.onScreen && !requirements.presenter)
    missing.push_back(
        "pelorin: a display is set but no on-screen presenter is installed: no window can be shown");
  if (requirements.onScreen && !requirements.webViewFactory)
    missing.push_back(
        "pelorin: no on-screen web engine is installed for web views: the sign-in page cannot be shown");
  if (requirements.playerEngineProblem)
    missing.push_back(missingEngineLine(*requirements.playerEngineProblem));
  return missing;
}

void probeMediaEngineAfterFirstFrame(std::function<void(const std::string& line)> missing) {
  ak::performAfterFirstFrame([missing = std::move(missing)] {
    dispatch::async(dispatch::globalQueue(dispatch::Priority::Default), [missing] {
      auto problem = av::Player::engineUnavailableReason();
      if (!problem) return;
      dispatch::async(dispatch::mainQueue(),
                      [missing, line = missingEngineLine(*problem)] { missing(line); });
    });
  });
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
      if (!app->hasTerminated()) ns::LogWarning("pelorin: nothing is left that could end the run; ending it");
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
