#pragma once
// The default view of the custom title bar, and the container that holds it in the window's
// frame view and drags the window.
#include "platform/appkit/View.h"
#include "platform/core/Value.h"

class TitlebarWindow;

class TitlebarView : public ak::View {
 public:
  void drawRect(const ak::Rect& dirtyRect) override;
  // The process-wide noise texture tiled at `opacity` with the screen blend mode.
  void drawNoiseWithOpacity(double opacity);
  // Where the window's title goes in this view and with which attributes.
  void getTitleFrame_textAttributes_forWindow(ak::Rect* frame, ns::Dictionary* attributes,
                                              const ns::Ref<TitlebarWindow>& window);
  // A double click minimises when the user asked for that in the global defaults.
  void mouseUp(const ns::Ref<ak::Event>& event) override;
};

class TitlebarContainer : public ak::View {
 public:
  void mouseDragged(const ns::Ref<ak::Event>& event) override;
};
