#include "ui/TitlebarView.h"

#include <cstdlib>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/AttributedString.h"
#include "platform/appkit/BezierPath.h"
#include "platform/appkit/BitmapImageRep.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Gradient.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Shadow.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/ColorTitlebarAdditions.h"
#include "ui/TitlebarWindow.h"

namespace {

constexpr double kCornerRadius = 4.0;
constexpr int kNoiseSide = 124;

// The outline of `b` with its two top corners rounded.
ns::Ref<ak::BezierPath> roundedTopPath(const ak::Rect& b, double radius) {
  auto path = ak::BezierPath::bezierPath();
  const double minX = ak::MinX(b), maxX = ak::MaxX(b), minY = ak::MinY(b), maxY = ak::MaxY(b);
  path->moveToPoint({minX, minY});
  path->lineToPoint({minX, maxY - radius});
  path->appendBezierPathWithArcFromPoint_toPoint_radius({minX, maxY}, {minX + radius, maxY}, radius);
  path->lineToPoint({maxX - radius, maxY});
  path->appendBezierPathWithArcFromPoint_toPoint_radius({maxX, maxY}, {maxX, maxY - radius}, radius);
  path->lineToPoint({maxX, minY});
  path->closePath();
  return path;
}

ns::Ref<ak::Color> white(double w) {
  return ak::Color::colorWithDeviceWhite_alpha(w, 1.0);
}

// A grey texture from the C library's generator seeded with 120, made once per process.
const ns::Ref<ak::Image>& noiseImage() {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  static ns::NoDestructor<ns::Ref<ak::Image>> image([] {
    std::vector<std::uint8_t> bytes(kNoiseSide * kNoiseSide);
    srand(120);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rand() & 0xff);
    auto rep = ak::BitmapImageRep::initWithGrayPixels(bytes.data(), bytes.size(), kNoiseSide, kNoiseSide,
                                                      kNoiseSide);
    return rep ? ns::make<ak::Image>(rep) : nullptr;
  }());
  return *image;
}

// The user's "minimise on double click" choice: the global domain first, then the search list.
bool miniaturizeOnDoubleClick() {
  static const char kKey[] = "AppleMiniaturizeOnDoubleClick";
  auto defaults = ns::UserDefaults::standardUserDefaults();
  const ns::Value global = defaults->persistentDomainForName(ns::NSGlobalDomain);
  if (global.isDictionary() && global.dictionary().contains(kKey))
    return global.dictionary()[kKey].boolValue();
  return defaults->boolForKey(kKey);
}

}  // namespace

// ---- TitlebarView ----

void TitlebarView::drawRect(const ak::Rect&) {
  auto w = std::dynamic_pointer_cast<TitlebarWindow>(window());
  if (!w) return;
  const ak::Rect b = bounds();
  const bool active = w->isActiveAppearance();
  const bool fullScreen = (w->styleMask() & ak::FullScreenWindowMask) != 0;
  auto context = ak::GraphicsContext::currentContext();
  if (!context) return;

  if (const auto& block = w->titleBarDrawingBlock()) {
    auto path = roundedTopPath(b, kCornerRadius);
    block(active, b, *path);
  } else {
    auto start = active ? w->titleBarStartColor() : w->inactiveTitleBarStartColor();
    auto end = active ? w->titleBarEndColor() : w->inactiveTitleBarEndColor();
    auto separator = active ? w->baselineSeparatorColor() : w->inactiveBaselineSeparatorColor();
    if (!start) start = white(active ? 0.66 : 0.878);
    if (!end) end = white(active ? 0.9 : 0.976);
    if (!separator) separator = white(active ? 0.408 : 0.655);

    if (fullScreen) {
      ak::Color::colorWithDeviceWhite_alpha(0, 1)->setFill();
      ak::RectFill(b);
    }
    ak::GraphicsContext::saveGraphicsState();
    ak::Rect clipRect = b;
    clipRect.size.height -= 1.0;  // the top point row stays unpainted
    roundedTopPath(clipRect, kCornerRadius)->addClip();
    auto gradient = ak::Gradient::initWithStartingColor_endingColor(
        ColorTitlebarAdditions::IN_CGColorCreate(start), ColorTitlebarAdditions::IN_CGColorCreate(end));
    if (gradient)
      context->drawLinearGradient(*gradient, {ak::MidX(b), ak::MinY(b)}, {ak::MidX(b), ak::MaxY(b)}, 0);
    ak::GraphicsContext::restoreGraphicsState();

    if (w->showsBaselineSeparator()) {
      separator->setFill();
      ak::RectFill(ak::MakeRect(0, ak::MinY(b), b.size.width, 1.0));
      ak::Color::colorWithDeviceWhite_alpha(1.0, 0.12)->setFill();
      ak::RectFillUsingOperation(ak::MakeRect(0, ak::MinY(b) + 1.0, b.size.width, 1.0),
                                 ak::CompositingOperation::SourceOver);
    }
    if (active) {
      ak::Rect noiseRect = ak::InsetRect(b, 1.0, 1.0);
      if (!w->showsBaselineSeparator()) {
        noiseRect.origin.y -= 1.0;
        noiseRect.size.height += 1.0;
      }
      ak::GraphicsContext::saveGraphicsState();
      roundedTopPath(noiseRect, kCornerRadius)->addClip();
      drawNoiseWithOpacity(0.1);
      ak::GraphicsContext::restoreGraphicsState();
    }
  }

  if (w->showsTitle() && (!fullScreen || w->showsTitleInFullscreen())) {
    ak::Rect titleFrame;
    ns::Dictionary attributes;
    getTitleFrame_textAttributes_forWindow(&titleFrame, &attributes, w);
    ak::drawInRect_withAttributes(w->title(), titleFrame, attributes);
  }
}

void TitlebarView::drawNoiseWithOpacity(double opacity) {
  const auto& noise = noiseImage();
  auto context = ak::GraphicsContext::currentContext();
  if (!noise || !context) return;
  context->saveGState();
  context->setAlpha(opacity);
  context->setBlendMode(ak::BlendMode::Screen);
  if (auto w = window()) {
    const double scale = w->backingScaleFactor();
    if (scale > 0) context->scaleCTM(1.0 / scale, 1.0 / scale);
  }
  context->drawTiledImage(ak::MakeRect(0, 0, kNoiseSide, kNoiseSide), *noise);
  context->restoreGState();
}

void TitlebarView::getTitleFrame_textAttributes_forWindow(ak::Rect* frame, ns::Dictionary* attributes,
                                                          const ns::Ref<TitlebarWindow>& w) {
  if (!w) return;
  const bool active = w->isActiveAppearance();
  auto shadow = active ? w->titleTextShadow() : w->inactiveTitleTextShadow();
  if (!shadow) {
    shadow = ns::make<ak::Shadow>();
    shadow->setShadowBlurRadius(0.0);
    shadow->setShadowOffset(ak::Size{0.0, -1.0});
    shadow->setShadowColor(ak::Color::colorWithDeviceWhite_alpha(1.0, 0.5));
  }
  auto color = active ? w->titleTextColor() : w->inactiveTitleTextColor();
  if (!color) color = ak::Color::colorWithDeviceWhite_alpha(56.0 / 255.0, active ? 1.0 : 0.5);
  ns::Dictionary attrs;
  attrs.set(ak::FontAttributeName,
            ak::Font::titleBarFontOfSize(ak::Font::systemFontSizeForControlSize(ak::ControlSize::Regular)));
  attrs.set(ak::ForegroundColorAttributeName, color);
  attrs.set(ak::ShadowAttributeName, shadow);
  const ak::Size size = ak::sizeWithAttributes(w->title(), attrs);
  const ak::Rect b = bounds();
  double x = ak::MinX(b) + b.size.width * 0.5 - size.width * 0.5;
  if (auto icon = w->standardWindowButton(ak::WindowButton::DocumentIconButton)) {
    x = ak::MaxX(convertRect_fromView(icon->frame(), icon->superview().get())) + 4.0;
  } else if (auto versions = w->standardWindowButton(ak::WindowButton::DocumentVersionsButton)) {
    x = convertRect_fromView(versions->frame(), versions->superview().get()).origin.x - size.width - 1.0;
  }
  if (frame) *frame = ak::MakeRect(x, ak::MaxY(b) - size.height - 2.0, size.width, size.height);
  if (attributes) *attributes = std::move(attrs);
}

void TitlebarView::mouseUp(const ns::Ref<ak::Event>& event) {
  if (!event || event->clickCount() != 2) return;
  if (!miniaturizeOnDoubleClick()) return;
  if (auto w = window()) w->miniaturize(self<TitlebarView>());
}

// ---- TitlebarContainer ----

void TitlebarContainer::mouseDragged(const ns::Ref<ak::Event>& event) {
  auto w = window();
  if (!w || !event) return;
  if (w->isMovableByWindowBackground()) {
    ak::View::mouseDragged(event);
    return;
  }
  if (w->isInFullScreen()) return;
  auto app = ak::Application::sharedApplication();
  ak::Point origin = w->frame().origin;
  ak::Point last = event->locationInScreen();
  for (;;) {
    auto next = app->nextEventMatchingMask_untilDate_inMode_dequeue(0x46, ns::Date::distantFuture(),
                                                                    ns::EventTrackingRunLoopMode, true);
    if (!next || next->type() == ak::EventType::LeftMouseUp) break;
    const ak::Point p = next->locationInScreen();
    origin.x += p.x - last.x;
    origin.y += p.y - last.y;
    w->setFrameOrigin(origin);
    last = p;
  }
}

PL_CLASS(TitlebarView, ak::View) {}
PL_CLASS(TitlebarContainer, ak::View) {}
