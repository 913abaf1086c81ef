#include "platform/appkit/Box.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"
#include "platform/runtime/ClassBuilder.h"

namespace ak {

namespace {
ns::Dictionary titleAttributes() {
  ns::Dictionary d;
  d.set(FontAttributeName, Font::systemFontOfSize(Font::smallSystemFontSize()));
  d.set(ForegroundColorAttributeName, colors::controlTextColor());
  return d;
}
}  // namespace

void Box::initWithFrame(const Rect& frame) {
  View::initWithFrame(frame);
  content_ = make<View>(contentRect());
  content_->setAutoresizingMask(ViewWidthSizable | ViewHeightSizable);
  addSubview(content_);
}

void Box::setTitle(const std::string& title) {
  title_ = title;
  setFrameSize(frame_.size);
  setNeedsDisplay(true);
}

void Box::setTitlePosition(TitlePosition position) {
  titlePosition_ = position;
  setFrameSize(frame_.size);
  setNeedsDisplay(true);
}

void Box::setBoxType(BoxType type) {
  type_ = type;
  setFrameSize(frame_.size);
  setNeedsDisplay(true);
}

void Box::setFillColor(const ns::Ref<Color>& color) {
  fill_ = color;
  setNeedsDisplay(true);
}

void Box::setBorderColor(const ns::Ref<Color>& color) {
  border_ = color;
  setNeedsDisplay(true);
}

void Box::setBorderWidth(double width) {
  borderWidth_ = std::isfinite(width) && width >= 0 ? width : 0;
  setFrameSize(frame_.size);
  setNeedsDisplay(true);
}

void Box::setCornerRadius(double radius) {
  cornerRadius_ = std::isfinite(radius) && radius >= 0 ? radius : 0;
  setNeedsDisplay(true);
}

void Box::setTransparent(bool transparent) {
  transparent_ = transparent;
  setNeedsDisplay(true);
}

void Box::setContentView(const ns::Ref<View>& view) {
  if (content_) content_->removeFromSuperview();
  content_ = view;
  if (content_) {
    content_->setFrame(contentRect());
    addSubview(content_);
  }
}

Rect Box::contentRect() const {
  Rect b = bounds();
  if (type_ == BoxType::Separator) return ZeroRect;
  double inset = type_ == BoxType::Custom ? borderWidth_ : 1;
  Rect r = InsetRect(b, inset, inset);
  if (type_ != BoxType::Custom && titlePosition_ != TitlePosition::NoTitle && !title_.empty()) {
    const double titleHeight = std::ceil(sizeWithAttributes(title_, titleAttributes()).height);
    r.size.height = std::max(0.0, r.size.height - titleHeight);
  }
  return r;
}

void Box::setFrameSize(const Size& size) {
  View::setFrameSize(size);
  if (content_) content_->setFrame(contentRect());
}

void Box::drawRect(const Rect&) {
  if (transparent_) return;
  Rect b = bounds();
  switch (type_) {
    case BoxType::Separator: {
      colors::gridColor()->setFill();
      if (b.size.width >= b.size.height) {
        RectFill(MakeRect(b.origin.x, b.origin.y + std::floor(b.size.height / 2), b.size.width, 1));
      } else {
        RectFill(MakeRect(b.origin.x + std::floor(b.size.width / 2), b.origin.y, 1, b.size.height));
      }
      return;
    }
    case BoxType::Custom: {
      const double w = borderWidth_;
      Rect inner = InsetRect(b, w / 2, w / 2);
      auto path = BezierPath::bezierPathWithRoundedRect_xRadius_yRadius(inner, cornerRadius_, cornerRadius_);
      if (fill_) {
        fill_->setFill();
        path->fill();
      }
      if (w > 0 && border_) {
        border_->setStroke();
        path->setLineWidth(w);
        path->stroke();
      }
      return;
    }
    default: {
      Rect frameRect = contentRect();
      frameRect = InsetRect(frameRect, -1, -1);
      Color::colorWithCalibratedWhite_alpha(0, 0.05)->setFill();
      RectFillUsingOperation(frameRect, CompositingOperation::SourceOver);
      colors::gridColor()->setFill();
      FrameRect(frameRect);
      if (titlePosition_ != TitlePosition::NoTitle && !title_.empty()) {
        const Size s = sizeWithAttributes(title_, titleAttributes());
        drawAtPoint_withAttributes(title_, {b.origin.x + 4, frameRect.origin.y + frameRect.size.height},
                                   titleAttributes());
        (void)s;
      }
    }
  }
}

}  // namespace ak

PL_CLASS_NAMED(ak::Box, "NSBox", ak::View) {}
