#include "platform/appkit/Cursor.h"

#include <mutex>
#include <vector>

#include "platform/core/NoDestructor.h"

namespace ak {

namespace {

struct CursorState {
  std::mutex mutex;
  ns::Ref<Cursor> current;
  std::vector<ns::Ref<Cursor>> stack;
  int hidden = 0;
  bool hiddenUntilMoved = false;
  std::function<void()> observer;
};

CursorState& state() {
  static ns::NoDestructor<CursorState> s;
  return *s;
}

ns::Ref<Cursor> standard(const char* name, Point hotSpot) {
  static ns::NoDestructor<std::mutex> mutex;
  static ns::NoDestructor<std::vector<ns::Ref<Cursor>>> cursors;
  std::lock_guard lock(*mutex);
  for (auto& c : *cursors) {
    if (c->name() == name) return c;
  }
  cursors->push_back(ns::make<Cursor>(name, hotSpot));
  return cursors->back();
}

void notify() {
  std::function<void()> observer;
  {
    std::lock_guard lock(state().mutex);
    observer = state().observer;
  }
  if (observer) observer();
}

}  // namespace

ns::Ref<Cursor> Cursor::arrowCursor() {
  return standard("arrow", {0, 0});
}
ns::Ref<Cursor> Cursor::IBeamCursor() {
  return standard("IBeam", {4, 9});
}
ns::Ref<Cursor> Cursor::pointingHandCursor() {
  return standard("pointingHand", {5, 0});
}
ns::Ref<Cursor> Cursor::openHandCursor() {
  return standard("openHand", {8, 8});
}
ns::Ref<Cursor> Cursor::closedHandCursor() {
  return standard("closedHand", {8, 8});
}
ns::Ref<Cursor> Cursor::crosshairCursor() {
  return standard("crosshair", {8, 8});
}
ns::Ref<Cursor> Cursor::resizeLeftRightCursor() {
  return standard("resizeLeftRight", {8, 8});
}
ns::Ref<Cursor> Cursor::resizeUpDownCursor() {
  return standard("resizeUpDown", {8, 8});
}
ns::Ref<Cursor> Cursor::operationNotAllowedCursor() {
  return standard("operationNotAllowed", {8, 8});
}

ns::Ref<Cursor> Cursor::currentCursor() {
  {
    std::lock_guard lock(state().mutex);
    if (state().current) return state().current;
  }
  return arrowCursor();
}

void Cursor::set() {
  {
    std::lock_guard lock(state().mutex);
    if (state().current.get() == this) return;
    state().current = self<Cursor>();
  }
  notify();
}

void Cursor::push() {
  {
    std::lock_guard lock(state().mutex);
    state().stack.push_back(state().current);
  }
  set();
}

void Cursor::pop() {
  {
    std::lock_guard lock(state().mutex);
    if (state().stack.empty()) return;
    state().current = state().stack.back();
    state().stack.pop_back();
  }
  notify();
}

void Cursor::hide() {
  {
    std::lock_guard lock(state().mutex);
    ++state().hidden;
  }
  notify();
}

void Cursor::unhide() {
  {
    std::lock_guard lock(state().mutex);
    if (state().hidden == 0) return;
    --state().hidden;
  }
  notify();
}

void Cursor::setHiddenUntilMouseMoves(bool flag) {
  {
    std::lock_guard lock(state().mutex);
    state().hiddenUntilMoved = flag;
  }
  notify();
}

void Cursor::mouseMoved() {
  {
    std::lock_guard lock(state().mutex);
    if (!state().hiddenUntilMoved) return;
    state().hiddenUntilMoved = false;
  }
  notify();
}

bool Cursor::isVisible() {
  std::lock_guard lock(state().mutex);
  return state().hidden == 0 && !state().hiddenUntilMoved;
}

int Cursor::hideCount() {
  std::lock_guard lock(state().mutex);
  return state().hidden;
}

void Cursor::resetForTesting() {
  std::lock_guard lock(state().mutex);
  state().current = nullptr;
  state().stack.clear();
  state().hidden = 0;
  state().hiddenUntilMoved = false;
}

void Cursor::setObserver(std::function<void()> observer) {
  std::lock_guard lock(state().mutex);
  state().observer = std::move(observer);
}

}  // namespace ak
