#include "platform/appkit/Screen.h"

#include <mutex>

#include "platform/appkit/WindowMetrics.h"
#include "platform/core/NoDestructor.h"

namespace ak {

namespace {

struct Screens {
  std::mutex mutex;
  std::vector<ns::Ref<Screen>> list;
};

Screens& screenState() {
  static ns::NoDestructor<Screens> state;
  return *state;
}

std::vector<ns::Ref<Screen>> makeScreens(const std::vector<Rect>& frames) {
  std::vector<ns::Ref<Screen>> list;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    Rect visible = frames[i];
    if (i == 0) visible.size.height = std::max(0.0, visible.size.height - metrics::kMenuBarHeight);
    list.push_back(ns::make<Screen>(frames[i], visible));
  }
  return list;
}

}  // namespace

std::vector<ns::Ref<Screen>> Screen::screens() {
  auto& s = screenState();
  std::lock_guard lock(s.mutex);
  if (s.list.empty()) s.list = makeScreens({MakeRect(0, 0, metrics::kScreenWidth, metrics::kScreenHeight)});
  return s.list;
}

ns::Ref<Screen> Screen::mainScreen() {
  return screens().front();
}

void Screen::setScreenFrames(const std::vector<Rect>& frames) {
  std::vector<Rect> sane;
  for (const auto& f : frames) {
    if (IsSaneRect(f) && f.size.width > 0 && f.size.height > 0) sane.push_back(f);
  }
  auto& s = screenState();
  std::lock_guard lock(s.mutex);
  s.list = makeScreens(sane);
}

}  // namespace ak
