#include "platform/appkit/Presenter.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/core/NoDestructor.h"
#include "platform/runloop/RunLoop.h"

namespace ak {

namespace {

struct Registry {
  std::mutex mutex;
  std::shared_ptr<Presenter> active;
  PresenterStarter starter;
  // Since the active presenter came: whether a frame reached the screen, and what waits for one.
  bool frameShown = false;
  std::vector<std::function<void()>> afterFirstFrame;
};

Registry& registry() {
  static ns::NoDestructor<Registry> r;
  return *r;
}

bool isSet(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

}  // namespace

Presenter* activePresenter() {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  return r.active.get();
}

void setActivePresenter(std::shared_ptr<Presenter> presenter) {
  auto& r = registry();
  std::shared_ptr<Presenter> old;
  std::vector<std::function<void()>> waiting;
  {
    std::lock_guard lock(r.mutex);
    old = std::move(r.active);
    r.active = std::move(presenter);
    r.frameShown = false;
    // Headless nothing is shown: what waited for a frame waits no longer.
    if (!r.active) waiting.swap(r.afterFirstFrame);
  }
  for (auto& block : waiting) ns::RunLoop::mainRunLoop()->performBlock(std::move(block));
}

void registerPresenterStarter(PresenterStarter starter) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.starter = std::move(starter);
}

bool asksForHeadless(int argc, const char** argv) {
  for (int i = 1; i < argc; ++i)
    if (argv[i] && std::strcmp(argv[i], "--headless") == 0) return true;
  return false;
}

bool wantsDisplay(int argc, const char** argv) {
  return !asksForHeadless(argc, argv) && (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"));
}

std::optional<std::string> startPresenter(int argc, const char** argv) {
  PresenterStarter starter;
  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    starter = r.starter;
  }
  if (!starter || !wantsDisplay(argc, argv)) return std::nullopt;
  return starter(argc, argv);
}

void performAfterFirstFrame(std::function<void()> block) {
  auto& r = registry();
  {
    std::lock_guard lock(r.mutex);
    if (r.active && !r.frameShown) {
      r.afterFirstFrame.push_back(std::move(block));
      return;
    }
  }
  ns::RunLoop::mainRunLoop()->performBlock(std::move(block));
}

void noteFrameShown() {
  auto& r = registry();
  std::vector<std::function<void()>> waiting;
  {
    std::lock_guard lock(r.mutex);
    if (r.frameShown) return;
    r.frameShown = true;
    waiting.swap(r.afterFirstFrame);
  }
  // Performed, not run here: the frame is still being handed to the system.
  for (auto& block : waiting) ns::RunLoop::mainRunLoop()->performBlock(std::move(block));
}

void forgetFrameShown() {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.frameShown = false;
}

}  // namespace ak
