#include "ui/SourceListBadgeCell.h"

#include <string>

#include "platform/appkit/Application.h"
#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/SourceList.h"

namespace {

bool mainWindowVisible() {
  auto app = ak::Application::sharedApplication();
  auto main = app ? app->mainWindow() : nullptr;
  return main && main->isVisible();
}

// Whether the first responder of the view's window sits in the same source list as the view.
bool listHasFocus(const ns::Ref<ak::View>& controlView) {
  auto window = controlView ? controlView->window() : nullptr;
  auto responder = window ? std::dynamic_pointer_cast<ak::View>(window->firstResponder()) : nullptr;
  if (!responder) return false;
  for (auto view = responder->ancestorSharedWithView(controlView.get()); view; view = view->superview())
    if (std::dynamic_pointer_cast<SourceList>(view)) return true;
  return false;
}

}  // namespace

ns::Ref<ak::AttributedString> SourceListBadgeCell::badgeString() const {
  // "%ld" reads the unsigned value as the platform's signed long.
  std::string text = std::to_string(static_cast<long>(badgeValue_));
  ns::Dictionary attributes;
  attributes.set(ak::FontAttributeName, ns::Value(ns::Ref<ns::Object>(ak::Font::boldSystemFontOfSize(11.0))));
  return std::make_shared<ak::AttributedString>(text, attributes);
}

ak::Size SourceListBadgeCell::cellSize() const {
  ak::Size text = badgeString()->size();
  return {text.width + 10.0, text.height};
}

void SourceListBadgeCell::drawWithFrame_inView(const ak::Rect& frame, const ns::Ref<ak::View>& controlView) {
  auto pill = ak::BezierPath::bezierPathWithRoundedRect_xRadius_yRadius(frame, frame.size.height * 0.5,
                                                                        frame.size.height * 0.5);
  const bool visible = mainWindowVisible();
  ns::Ref<ak::Color> fill, text;
  if (isHighlighted() || backgroundStyle() == ak::BackgroundStyle::Dark) {
    fill = ak::colors::whiteColor();
    if (!visible) {
      text = ak::Color::colorWithCalibratedWhite_alpha(170 / 255.0, 1.0);
    } else if (listHasFocus(controlView)) {
      text = ak::colors::keyboardFocusIndicatorColor();
    } else {
      text = ak::Color::colorWithCalibratedRed_green_blue_alpha(153 / 255.0, 169 / 255.0, 203 / 255.0, 1.0);
    }
  } else {
    text = textColor_ ? textColor_ : ak::colors::whiteColor();
    if (visible) {
      fill = backgroundColor_ ? backgroundColor_
                              : ak::Color::colorWithCalibratedRed_green_blue_alpha(152 / 255.0, 168 / 255.0,
                                                                                   202 / 255.0, 1.0);
    } else {
      fill = ak::Color::colorWithDeviceWhite_alpha(180 / 255.0, 1.0);
    }
  }
  fill->setFill();
  pill->fill();

  auto base = badgeString();
  auto label = std::make_shared<ak::MutableAttributedString>(base->string());
  label->addAttributes_range(base->attributesAtIndex_effectiveRange(0, nullptr), {0, base->length()});
  label->addAttribute_value_range(ak::ForegroundColorAttributeName, ns::Value(ns::Ref<ns::Object>(text)),
                                  {0, label->length()});
  ak::Size size = label->size();
  label->drawAtPoint({frame.origin.x + frame.size.width * 0.5 - size.width * 0.5,
                      frame.origin.y + frame.size.height * 0.5 - size.height * 0.5});
}

PL_CLASS(SourceListBadgeCell, ak::Cell) {}
