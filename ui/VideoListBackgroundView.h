#pragma once
// The dark background of the video lists.
#include "platform/appkit/View.h"

class VideoListBackgroundView : public ak::View {
 public:
  void drawRect(const ak::Rect& dirtyRect) override;
  std::string className() const override { return "VideoListBackgroundView"; }
};
