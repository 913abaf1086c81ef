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

bool usable(const Rect& r) {
  return IsSaneRect(r) && r.size.width > 0 && r.size.height > 0;
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
    if (usable(f)) sane.push_back(f);
  }
  auto& s = screenState();
  std::lock_guard lock(s.mutex);
  s.list = makeScreens(sane);
}

void Screen::setScreenFrames_visibleFrames(const std::vector<Rect>& frames,
                                           const std::vector<Rect>& visibleFrames) {
  std::vector<ns::Ref<Screen>> list;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (!usable(frames[i])) continue;
    Rect visible = i < visibleFrames.size() && usable(visibleFrames[i])
                       ? IntersectionRect(frames[i], visibleFrames[i])
                       : frames[i];
    if (!usable(visible)) visible = frames[i];
    list.push_back(ns::make<Screen>(frames[i], visible));
  }
  auto& s = screenState();
  std::lock_guard lock(s.mutex);
  s.list = std::move(list);  // none: the default screen
}

}  // namespace ak
