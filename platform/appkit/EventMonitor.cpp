#include <algorithm>
#include <vector>

#include "platform/appkit/Event.h"
#include "platform/core/NoDestructor.h"

namespace ak {

namespace {

class Monitor : public ns::Object {
 public:
  EventMask mask = 0;
  std::function<ns::Ref<Event>(const ns::Ref<Event>&)> handler;
};

// Main thread only, as events are.
std::vector<ns::Ref<Monitor>>& monitors() {
  static ns::NoDestructor<std::vector<ns::Ref<Monitor>>> list;
  return *list;
}

}  // namespace

ns::Ref<ns::Object> Event::addLocalMonitorForEventsMatchingMask_handler(
    EventMask mask, std::function<ns::Ref<Event>(const ns::Ref<Event>&)> handler) {
  auto m = ns::make<Monitor>();
  m->mask = mask;
  m->handler = std::move(handler);
  monitors().push_back(m);
  return m;
}

void Event::removeMonitor(const ns::Ref<ns::Object>& monitor) {
  auto& list = monitors();
  list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& m) { return m == monitor; }),
             list.end());
}

bool Event::runLocalMonitors(const ns::Ref<Event>& event) {
  // A copy: a handler may add or remove monitors.
  const auto list = monitors();
  for (const auto& m : list) {
    if (!(m->mask & EventMaskFromType(event->type())) || !m->handler) continue;
    if (!m->handler(event)) return false;
  }
  return true;
}

}  // namespace ak
