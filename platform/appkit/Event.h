#pragma once
#include <functional>
// Events with the platform's numbers: types, masks, modifier flags, virtual key codes and the
// function-key characters. Timestamps are seconds on ns::Clock.
#include <cstdint>
#include <string>

#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"

namespace ak {

class Window;
class TrackingArea;

enum class EventType : unsigned {
  LeftMouseDown = 1,
  LeftMouseUp = 2,
  RightMouseDown = 3,
  RightMouseUp = 4,
  MouseMoved = 5,
  LeftMouseDragged = 6,
  RightMouseDragged = 7,
  MouseEntered = 8,
  MouseExited = 9,
  KeyDown = 10,
  KeyUp = 11,
  FlagsChanged = 12,
  AppKitDefined = 13,
  SystemDefined = 14,
  ApplicationDefined = 15,
  Periodic = 16,
  CursorUpdate = 17,
  ScrollWheel = 22,
  OtherMouseDown = 25,
  OtherMouseUp = 26,
  OtherMouseDragged = 27,
};

using EventMask = std::uint64_t;
constexpr EventMask EventMaskFromType(EventType type) {
  return EventMask(1) << unsigned(type);
}
inline constexpr EventMask AnyEventMask = ~EventMask(0);
inline constexpr EventMask LeftMouseDownMask = EventMaskFromType(EventType::LeftMouseDown);
inline constexpr EventMask LeftMouseUpMask = EventMaskFromType(EventType::LeftMouseUp);
inline constexpr EventMask LeftMouseDraggedMask = EventMaskFromType(EventType::LeftMouseDragged);
inline constexpr EventMask MouseMovedMask = EventMaskFromType(EventType::MouseMoved);
inline constexpr EventMask KeyDownMask = EventMaskFromType(EventType::KeyDown);

enum EventModifierFlags : unsigned long {
  AlphaShiftKeyMask = 1ul << 16,
  ShiftKeyMask = 1ul << 17,
  ControlKeyMask = 1ul << 18,
  AlternateKeyMask = 1ul << 19,
  CommandKeyMask = 1ul << 20,
  NumericPadKeyMask = 1ul << 21,
  FunctionKeyMask = 1ul << 23,
  DeviceIndependentModifierFlagsMask = 0xffff0000ul,
};

// Virtual key codes of the keys the system names.
enum KeyCode : unsigned short {
  kVK_ANSI_A = 0,
  kVK_ANSI_X = 7,
  kVK_ANSI_C = 8,
  kVK_ANSI_V = 9,
  kVK_Return = 36,
  kVK_Tab = 48,
  kVK_Space = 49,
  kVK_Delete = 51,
  kVK_Escape = 53,
  kVK_Home = 115,
  kVK_PageUp = 116,
  kVK_ForwardDelete = 117,
  kVK_End = 119,
  kVK_PageDown = 121,
  kVK_LeftArrow = 123,
  kVK_RightArrow = 124,
  kVK_DownArrow = 125,
  kVK_UpArrow = 126,
};

// Characters of function keys, from U+F700.
enum FunctionKey : char32_t {
  UpArrowFunctionKey = 0xF700,
  DownArrowFunctionKey = 0xF701,
  LeftArrowFunctionKey = 0xF702,
  RightArrowFunctionKey = 0xF703,
  F1FunctionKey = 0xF704,
  DeleteFunctionKey = 0xF728,
  HomeFunctionKey = 0xF729,
  EndFunctionKey = 0xF72B,
  PageUpFunctionKey = 0xF72C,
  PageDownFunctionKey = 0xF72D,
};

// The text of one function-key character (UTF-8).
std::string functionKeyString(char32_t key);
// Whether the character is in the range the platform keeps for function keys (U+F700-U+F8FF),
// which is never text.
inline bool isFunctionKeyCharacter(char32_t c) {
  return c >= 0xF700 && c <= 0xF8FF;
}
// The text without function-key characters (UTF-8 in and out).
std::string withoutFunctionKeyCharacters(const std::string& text);

class Event : public ns::Object {
 public:
  // addLocalMonitorForEventsMatchingMask:handler: the handler sees each matching event the
  // application is about to send and answers it to let it go on, or nil to swallow it. Answers
  // the token for removeMonitor.
  static ns::Ref<ns::Object> addLocalMonitorForEventsMatchingMask_handler(
      EventMask mask, std::function<ns::Ref<Event>(const ns::Ref<Event>&)> handler);
  static void removeMonitor(const ns::Ref<ns::Object>& monitor);
  // Runs the monitors on an event; false when one swallowed it.
  static bool runLocalMonitors(const ns::Ref<Event>& event);

  static ns::Ref<Event>
  mouseEventWithType_location_modifierFlags_timestamp_windowNumber_context_eventNumber_clickCount_pressure(
      EventType type, Point location, unsigned long flags, double timestamp, long windowNumber,
      const ns::Ref<ns::Object>& context, long eventNumber, long clickCount, float pressure);
  static ns::Ref<Event>
  keyEventWithType_location_modifierFlags_timestamp_windowNumber_context_characters_charactersIgnoringModifiers_isARepeat_keyCode(
      EventType type, Point location, unsigned long flags, double timestamp, long windowNumber,
      const ns::Ref<ns::Object>& context, const std::string& characters,
      const std::string& charactersIgnoringModifiers, bool isARepeat, unsigned short keyCode);
  static ns::Ref<Event>
  enterExitEventWithType_location_modifierFlags_timestamp_windowNumber_context_eventNumber_trackingNumber_userData(
      EventType type, Point location, unsigned long flags, double timestamp, long windowNumber,
      const ns::Ref<ns::Object>& context, long eventNumber, const ns::Ref<TrackingArea>& trackingArea,
      void* userData);
  static ns::Ref<Event>
  otherEventWithType_location_modifierFlags_timestamp_windowNumber_context_subtype_data1_data2(
      EventType type, Point location, unsigned long flags, double timestamp, long windowNumber,
      const ns::Ref<ns::Object>& context, short subtype, long data1, long data2);
  // Scroll events have no public constructor on the platform; the presenter and tests use this.
  // Precise deltas are points (a touchpad's); the others are lines, as a mouse wheel's notches,
  // which the scroll view turns into its own step.
  static ns::Ref<Event> scrollWheelEvent(Point location, unsigned long flags, double timestamp,
                                         long windowNumber, double deltaX, double deltaY,
                                         bool preciseDeltas = true);

  EventType type() const { return type_; }
  // The location in the window's base coordinates (from the lower left).
  Point locationInWindow() const { return location_; }
  // Where a mouse event happened on the screen (screen coordinates, from the lower left), as the
  // system reported it, or else the window location against the window's frame when the event
  // was made; the window may have moved since (a drag that moves the window reads this).
  Point locationInScreen() const { return screenLocation_; }
  // The presenter's: what the system reported.
  void setLocationInScreenInternal(Point location) { screenLocation_ = location; }
  unsigned long modifierFlags() const { return flags_; }
  double timestamp() const { return timestamp_; }
  long windowNumber() const { return windowNumber_; }
  // The window of windowNumber while it is open; nullptr otherwise.
  ns::Ref<Window> window() const;
  long eventNumber() const { return eventNumber_; }
  long clickCount() const { return clickCount_; }
  float pressure() const { return pressure_; }
  const std::string& characters() const { return characters_; }
  const std::string& charactersIgnoringModifiers() const { return charactersIgnoringModifiers_; }
  bool isARepeat() const { return isARepeat_; }
  unsigned short keyCode() const { return keyCode_; }
  short subtype() const { return subtype_; }
  long data1() const { return data1_; }
  long data2() const { return data2_; }
  double deltaX() const { return deltaX_; }
  double deltaY() const { return deltaY_; }
  double scrollingDeltaX() const { return deltaX_; }
  double scrollingDeltaY() const { return deltaY_; }
  bool hasPreciseScrollingDeltas() const { return preciseDeltas_; }
  ns::Ref<TrackingArea> trackingArea() const { return trackingArea_; }
  void* userData() const { return userData_; }

  std::string description() const override;

 private:
  EventType type_ = EventType::ApplicationDefined;
  Point location_;
  Point screenLocation_;
  unsigned long flags_ = 0;
  double timestamp_ = 0;
  long windowNumber_ = 0;
  long eventNumber_ = 0;
  long clickCount_ = 0;
  float pressure_ = 0;
  std::string characters_;
  std::string charactersIgnoringModifiers_;
  bool isARepeat_ = false;
  unsigned short keyCode_ = 0;
  short subtype_ = 0;
  long data1_ = 0, data2_ = 0;
  double deltaX_ = 0, deltaY_ = 0;
  bool preciseDeltas_ = true;
  ns::Ref<TrackingArea> trackingArea_;
  void* userData_ = nullptr;
};

}  // namespace ak
