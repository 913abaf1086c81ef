#include "platform/appkit/Presenter.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/core/NoDestructor.h"

namespace ak {

namespace {

struct Registry {
  std::mutex mutex;
  std::shared_ptr<Presenter> active;
  PresenterStarter starter;
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
  std::lock_guard lock(r.mutex);
  old = std::move(r.active);
  r.active = std::move(presenter);
}

void registerPresenterStarter(PresenterStarter starter) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.starter = std::move(starter);
}

bool wantsDisplay(int argc, const char** argv) {
  for (int i = 1; i < argc; ++i)
    if (argv[i] && std::strcmp(argv[i], "--headless") == 0) return false;
  return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
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

}  // namespace ak
