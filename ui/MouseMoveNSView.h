#pragma once
// The main window controller's window view: turns mouse movement into "fullScreenMouseMoved"
// and, after 2 seconds of rest over the player, "fullScreenMouseIdle", with which the controller
// shows and hides the full-screen playback controls; and tracks whether the mouse is inside.
#include "platform/appkit/View.h"
#include "platform/runloop/Timer.h"

class MouseMoveNSView : public ak::View {
 public:
  void initWithCoder(ak::NibCoder& coder) override;

  void mouseMoved(const ns::Ref<ak::Event>& event) override;
  void mouseEntered(const ns::Ref<ak::Event>& event) override;
  void mouseExited(const ns::Ref<ak::Event>& event) override;
  void drawRect(const ak::Rect& dirtyRect) override;

  // Restarts the 2-second idle countdown.
  void runMouseIdleTimer();
  // Invalidates the countdown and returns to quiet without posting anything.
  void stopMouseIdleTimer();

  ak::Rect playerRect() const { return playerRect_; }
  void setPlayerRect(const ak::Rect& rect) { playerRect_ = rect; }
  ak::Rect bookmarksRect() const { return bookmarksRect_; }
  void setBookmarksRect(const ak::Rect& rect) { bookmarksRect_ = rect; }
  bool mouseInWindow() const { return mouseInWindow_; }
  void setMouseInWindow(bool inside) { mouseInWindow_ = inside; }
  // "fullScreenMouseMoved" has been posted and no "fullScreenMouseIdle" since.
  bool isMouseMoved() const { return mouseMoved_; }
  ns::Ref<ns::Timer> notMovedTimer() const { return notMovedTimer_; }

 private:
  bool mouseMoved_ = false;
  ns::Ref<ns::Timer> notMovedTimer_;
  ak::Rect playerRect_;
  ak::Rect bookmarksRect_;
  bool mouseInWindow_ = false;
};
