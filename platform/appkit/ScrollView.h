#pragma once
// Scrolling: a clip view whose bounds origin is the scroll position over its document view, and
// the scroll view around it (overlay scrollers, so the clip view fills it).
#include <optional>

#include "platform/appkit/View.h"

namespace ak {

class Color;

class ClipView : public View {
 public:
  ns::Ref<View> documentView() const { return document_; }
  void setDocumentView(const ns::Ref<View>& view);
  // Follows the document, so the document's origin stays at the clip view's top or bottom.
  bool isFlipped() const override { return document_ ? document_->isFlipped() : false; }
  // Where a scroll to `proposed` may go: inside the document frame.
  Point constrainScrollPoint(const Point& proposed) const;
  void scrollToPoint(const Point& point) { setBoundsOrigin(constrainScrollPoint(point)); }
  // The part of the document on show: the bounds within the document's frame.
  Rect documentVisibleRect() const;
  void setBoundsOrigin(const Point& origin) override;

  // Filled under the document, so it shows wherever the document does not cover the clip view
  // or lets it through. No colour (the default here) draws nothing.
  ns::Ref<Color> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const ns::Ref<Color>& color);
  bool drawsBackground() const { return drawsBackground_; }
  void setDrawsBackground(bool draws);
  void drawRect(const Rect& dirtyRect) override;

 private:
  ns::Ref<View> document_;
  ns::Ref<Color> backgroundColor_;
  bool drawsBackground_ = true;
};

class ScrollView : public View {
 public:
  void initWithFrame(const Rect& frame) override;
  ns::Ref<ClipView> contentView() const { return clip_; }
  ns::Ref<View> documentView() const { return clip_->documentView(); }
  void setDocumentView(const ns::Ref<View>& view) { clip_->setDocumentView(view); }
  Size contentSize() const { return clip_->frame().size; }
  Rect documentVisibleRect() const { return clip_->documentVisibleRect(); }
  // The clip view's background.
  ns::Ref<Color> backgroundColor() const { return clip_->backgroundColor(); }
  void setBackgroundColor(const ns::Ref<Color>& color) { clip_->setBackgroundColor(color); }
  bool drawsBackground() const { return clip_->drawsBackground(); }
  void setDrawsBackground(bool draws) { clip_->setDrawsBackground(draws); }
  bool hasVerticalScroller() const { return hasVertical_; }
  void setHasVerticalScroller(bool has) { hasVertical_ = has; }
  bool hasHorizontalScroller() const { return hasHorizontal_; }
  void setHasHorizontalScroller(bool has) { hasHorizontal_ = has; }
  // Points moved per line of a wheel without precise deltas (a notch is a line). Unless set,
  // the step GTK's own scrolled windows take for a notch, so the list moves as the desktop's
  // other lists do: the visible extent to the power 2/3, at most half of it (79 points in a clip
  // 700 high).
  double verticalLineScroll() const;
  double horizontalLineScroll() const;
  double lineScroll() const { return verticalLineScroll(); }
  void setLineScroll(double points) { lineScroll_ = points; }
  void scrollWheel(const ns::Ref<Event>& event) override;
  void setFrameSize(const Size& size) override;

 private:
  ns::Ref<ClipView> clip_;
  bool hasVertical_ = false, hasHorizontal_ = false;
  std::optional<double> lineScroll_;
};

// The clip view that encloses `view`, or nullptr.
ns::Ref<ClipView> enclosingClipView(const View* view);
ns::Ref<ScrollView> enclosingScrollView(const View* view);
// Scrolls the enclosing clip views so that `rect` (in the view's bounds) is on show; answers
// whether anything moved.
bool scrollRectToVisible(View* view, const Rect& rect);
// While the mouse is held outside the visible part of `view`, scrolls its enclosing clip view
// towards the event's location; answers whether anything moved.
bool autoscroll(View* view, const ns::Ref<Event>& event);

}  // namespace ak
