#include "platform/appkit/Event.h"

#include "platform/appkit/Application.h"
#include "platform/appkit/TrackingArea.h"
#include "platform/appkit/Window.h"
#include "platform/core/Format.h"
#include "platform/runtime/ClassBuilder.h"

namespace ak {

std::string functionKeyString(char32_t key) {
  std::string out;
  out += char(0xE0 | (key >> 12));
  out += char(0x80 | ((key >> 6) & 0x3F));
  out += char(0x80 | (key & 0x3F));
  return out;
}

std::string withoutFunctionKeyCharacters(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    // U+F700-U+F8FF are the three bytes EF 9C 80 to EF A3 BF.
    const auto b1 = i + 2 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (static_cast<unsigned char>(text[i]) == 0xEF && b1 >= 0x9C && b1 <= 0xA3 &&
        (static_cast<unsigned char>(text[i + 2]) & 0xC0) == 0x80) {
      i += 2;
      continue;
    }
    out += text[i];
  }
  return out;
}

ns::Ref<Event> Event::
    mouseEventWithType_location_modifierFlags_timestamp_windowNumber_context_eventNumber_clickCount_pressure(
        EventType type, Point location, unsigned long flags, double timestamp, long windowNumber,
        const ns::Ref<ns::Object>&, long eventNumber, long clickCount, float pressure) {
  auto e = ns::make<Event>();
  e->type_ = type;
  e->location_ = location;
  e->flags_ = flags;
  e->timestamp_ = timestamp;
  e->windowNumber_ = windowNumber;
  e->screenLocation_ = location;
  if (auto window = e->window()) e->screenLocation_ = window->convertBaseToScreen(location);
  e->eventNumber_ = eventNumber;
  e->clickCount_ = clickCount;
  e->pressure_ = pressure;
  return e;
}

ns::Ref<Event> Event::
    keyEventWithType_location_modifierFlags_timestamp_windowNumber_context_characters_charactersIgnoringModifiers_isARepeat_keyCode(
        EventType type, Point location, unsigned long flags, double timestamp, long windowNumber,
        const ns::Ref<ns::Object>&, const std::string& characters,
        const std::string& charactersIgnoringModifiers, bool isARepeat, unsigned short keyCode) {
  auto e = ns::make<Event>();
  e->type_ = type;
  e->location_ = location;
  e->flags_ = flags;
  e->timestamp_ = timestamp;
  e->windowNumber_ = windowNumber;
  e->characters_ = characters;
  e->charactersIgnoringModifiers_ = charactersIgnoringModifiers;
  e->isARepeat_ = isARepeat;
  e->keyCode_ = keyCode;
  return e;
}

ns::Ref<Event> Event::
    enterExitEventWithType_location_modifierFlags_timestamp_windowNumber_context_eventNumber_trackingNumber_userData(
        EventType type, Point location, unsigned long flags, double timestamp, long windowNumber,
        const ns::Ref<ns::Object>&, long eventNumber, const ns::Ref<TrackingArea>& trackingArea,
        void* userData) {
  auto e = ns::make<Event>();
  e->type_ = type;
  e->location_ = location;
  e->flags_ = flags;
  e->timestamp_ = timestamp;
  e->windowNumber_ = windowNumber;
  e->eventNumber_ = eventNumber;
  e->trackingArea_ = trackingArea;
  e->userData_ = userData;
  return e;
}

ns::Ref<Event>
Event::otherEventWithType_location_modifierFlags_timestamp_windowNumber_context_subtype_data1_data2(
    EventType type, Point location, unsigned long flags, double timestamp, long windowNumber,
    const ns::Ref<ns::Object>&, short subtype, long data1, long data2) {
  auto e = ns::make<Event>();
  e->type_ = type;
  e->location_ = location;
  e->flags_ = flags;
  e->timestamp_ = timestamp;
  e->windowNumber_ = windowNumber;
  e->subtype_ = subtype;
  e->data1_ = data1;
  e->data2_ = data2;
  return e;
}

ns::Ref<Event> Event::scrollWheelEvent(Point location, unsigned long flags, double timestamp,
                                       long windowNumber, double deltaX, double deltaY, bool preciseDeltas) {
  auto e = ns::make<Event>();
  e->type_ = EventType::ScrollWheel;
  e->location_ = location;
  e->flags_ = flags;
  e->timestamp_ = timestamp;
  e->windowNumber_ = windowNumber;
  e->deltaX_ = deltaX;
  e->deltaY_ = deltaY;
  e->preciseDeltas_ = preciseDeltas;
  return e;
}

ns::Ref<Window> Event::window() const {
  if (windowNumber_ == 0) return nullptr;
  auto w = Application::sharedApplication()->windowWithWindowNumber(windowNumber_);
  return w && !w->isClosed() ? w : nullptr;
}

std::string Event::description() const {
  return ns::format("NSEvent: type=%u loc=(%g,%g) time=%.3f flags=0x%lx win=%ld", unsigned(type_),
                    location_.x, location_.y, timestamp_, flags_, windowNumber_);
}

TrackingArea::TrackingArea(Rect rect, unsigned long options, const ns::Ref<Responder>& owner,
                           ns::Dictionary userInfo)
    : rect_(rect), options_(options), owner_(owner), userInfo_(std::move(userInfo)) {}

ns::Ref<TrackingArea> TrackingArea::initWithRect_options_owner_userInfo(Rect rect, unsigned long options,
                                                                        const ns::Ref<Responder>& owner,
                                                                        ns::Dictionary userInfo) {
  return ns::make<TrackingArea>(rect, options, owner, std::move(userInfo));
}

}  // namespace ak

PL_CLASS_NAMED(ak::Event, "NSEvent", ns::Object) {}
