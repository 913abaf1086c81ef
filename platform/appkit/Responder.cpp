#include "platform/appkit/Responder.h"

#include "platform/core/Log.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace ak {

ns::Ref<Responder> Responder::nextResponder() const {
  return nextResponder_.lock();
}

void Responder::setNextResponder(const ns::Ref<Responder>& responder) {
  nextResponder_ = responder;
  hasExplicitNext_ = responder != nullptr;
}

#define AK_PASS_ON(method, selector)                    \
  void Responder::method(const ns::Ref<Event>& event) { \
    if (auto next = nextResponder()) {                  \
      next->method(event);                              \
    } else {                                            \
      noResponderFor(selector);                         \
    }                                                   \
  }
AK_PASS_ON(mouseDown, "mouseDown:")
AK_PASS_ON(mouseDragged, "mouseDragged:")
AK_PASS_ON(mouseUp, "mouseUp:")
AK_PASS_ON(rightMouseDown, "rightMouseDown:")
AK_PASS_ON(rightMouseDragged, "rightMouseDragged:")
AK_PASS_ON(rightMouseUp, "rightMouseUp:")
AK_PASS_ON(mouseMoved, "mouseMoved:")
AK_PASS_ON(mouseEntered, "mouseEntered:")
AK_PASS_ON(mouseExited, "mouseExited:")
AK_PASS_ON(scrollWheel, "scrollWheel:")
AK_PASS_ON(keyDown, "keyDown:")
AK_PASS_ON(keyUp, "keyUp:")
AK_PASS_ON(flagsChanged, "flagsChanged:")
AK_PASS_ON(cursorUpdate, "cursorUpdate:")
#undef AK_PASS_ON

void Responder::noResponderFor(ns::Sel eventSelector) {
  if (eventSelector == ns::Sel("keyDown:")) ns::Log("AppKit: beep (no responder handled the key)");
}

void Responder::interpretKeyEvents(const std::vector<ns::Ref<Event>>& events) {
  for (const auto& event : events) {
    if (!event || event->type() != EventType::KeyDown) continue;
    const unsigned long flags = event->modifierFlags();
    const bool shift = flags & ShiftKeyMask;
    const bool word = flags & CommandKeyMask;
    const char* command = nullptr;
    switch (event->keyCode()) {
      case kVK_Return:
        command = "insertNewline:";
        break;
      case kVK_Tab:
        command = shift ? "insertBacktab:" : "insertTab:";
        break;
      case kVK_Delete:
        command = "deleteBackward:";
        break;
      case kVK_ForwardDelete:
        command = "deleteForward:";
        break;
      case kVK_Escape:
        command = "cancelOperation:";
        break;
      case kVK_LeftArrow:
        if (word) {
          command = shift ? "moveWordLeftAndModifySelection:" : "moveWordLeft:";
        } else {
          command = shift ? "moveLeftAndModifySelection:" : "moveLeft:";
        }
        break;
      case kVK_RightArrow:
        if (word) {
          command = shift ? "moveWordRightAndModifySelection:" : "moveWordRight:";
        } else {
          command = shift ? "moveRightAndModifySelection:" : "moveRight:";
        }
        break;
      case kVK_UpArrow:
        command = "moveUp:";
        break;
      case kVK_DownArrow:
        command = "moveDown:";
        break;
      case kVK_Home:
        command = shift ? "moveToBeginningOfLineAndModifySelection:" : "moveToBeginningOfLine:";
        break;
      case kVK_End:
        command = shift ? "moveToEndOfLineAndModifySelection:" : "moveToEndOfLine:";
        break;
      case kVK_PageUp:
        command = "scrollPageUp:";
        break;
      case kVK_PageDown:
        command = "scrollPageDown:";
        break;
      default:
        break;
    }
    if (command) {
      doCommandBySelector(command);
    } else if (!(flags & (CommandKeyMask | ControlKeyMask))) {
      // A key the table does not know may still carry a function-key character (F-keys,
      // Insert...): that is no text.
      const std::string text = withoutFunctionKeyCharacters(event->characters());
      if (!text.empty()) insertText(text);
    }
  }
}

void Responder::doCommandBySelector(ns::Sel selector) {
  if (ns::respondsToSelector(this, selector)) {
    ns::send(this, selector, ns::Ref<ns::Object>());
  } else if (auto next = nextResponder()) {
    next->doCommandBySelector(selector);
  } else {
    noResponderFor(selector);
  }
}

void Responder::insertText(const std::string& text) {
  if (auto next = nextResponder()) next->insertText(text);
}

bool Responder::tryToPerform_with(ns::Sel action, const ns::Ref<ns::Object>& object) {
  if (ns::respondsToSelector(this, action)) {
    ns::send(this, action, object);
    return true;
  }
  auto next = nextResponder();
  return next && next->tryToPerform_with(action, object);
}

}  // namespace ak

PL_CLASS_NAMED(ak::Responder, "NSResponder", ns::Object) {}
