#pragma once
// The responder chain. Every event method passes the event to the next responder unless a
// subclass handles it; action messages travel the chain by respondsToSelector and ns::send.
#include <string>
#include <vector>

#include "platform/appkit/Event.h"
#include "platform/core/Object.h"
#include "platform/runtime/Sel.h"

namespace ak {

class Menu;  // built with the menus; views only hand their context menus on

class Responder : public ns::Object {
 public:
  // The next responder: the one set explicitly, else the class's natural one (a view's
  // controller or superview, a content view's window...).
  virtual ns::Ref<Responder> nextResponder() const;
  virtual void setNextResponder(const ns::Ref<Responder>& responder);

  virtual bool acceptsFirstResponder() { return false; }
  virtual bool becomeFirstResponder() { return true; }
  virtual bool resignFirstResponder() { return true; }

  virtual void mouseDown(const ns::Ref<Event>& event);
  virtual void mouseDragged(const ns::Ref<Event>& event);
  virtual void mouseUp(const ns::Ref<Event>& event);
  virtual void rightMouseDown(const ns::Ref<Event>& event);
  virtual void rightMouseDragged(const ns::Ref<Event>& event);
  virtual void rightMouseUp(const ns::Ref<Event>& event);
  virtual void mouseMoved(const ns::Ref<Event>& event);
  virtual void mouseEntered(const ns::Ref<Event>& event);
  virtual void mouseExited(const ns::Ref<Event>& event);
  virtual void scrollWheel(const ns::Ref<Event>& event);
  virtual void keyDown(const ns::Ref<Event>& event);
  virtual void keyUp(const ns::Ref<Event>& event);
  virtual void flagsChanged(const ns::Ref<Event>& event);
  virtual void cursorUpdate(const ns::Ref<Event>& event);
  virtual bool performKeyEquivalent(const ns::Ref<Event>& event) { return false; }

  // Turns key events into text (insertText) and commands (doCommandBySelector): Return
  // "insertNewline:", Tab "insertTab:", Delete "deleteBackward:", Escape "cancelOperation:",
  // arrows "moveLeft:", "moveRight:", "moveUp:", "moveDown:", Home and End
  // "moveToBeginningOfLine:" and "moveToEndOfLine:", Page Up and Down "scrollPageUp:" and
  // "scrollPageDown:"; Command+Left/Right (Ctrl on this desktop's keyboards) "moveWordLeft:" and
  // "moveWordRight:"; Shift gives the horizontal moves' "...AndModifySelection:" forms.
  // Function-key characters are never inserted as text.
  virtual void interpretKeyEvents(const std::vector<ns::Ref<Event>>& events);
  // Sends the command to this responder when it responds to it, else passes it on.
  virtual void doCommandBySelector(ns::Sel selector);
  virtual void insertText(const std::string& text);
  // Sends `action` to the first responder in the chain from here that answers it.
  virtual bool tryToPerform_with(ns::Sel action, const ns::Ref<ns::Object>& object);
  virtual ns::Ref<Menu> menuForEvent(const ns::Ref<Event>& event) { return nullptr; }
  // The end of the chain: an unhandled key down beeps (logged headless).
  virtual void noResponderFor(ns::Sel eventSelector);

  // Sent once to every object of a code-built nib after its outlets are set.
  virtual void awakeFromNib() {}

 protected:
  ns::Weak<Responder> nextResponder_;
  bool hasExplicitNext_ = false;
};

}  // namespace ak
