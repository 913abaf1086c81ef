// Measuring and drawing attributed strings with pango.
#include <cmath>

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/DrawingInternal.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/ParagraphStyle.h"
#include "platform/appkit/Shadow.h"
#include "platform/appkit/TextInternal.h"
#include "platform/core/Str.h"

namespace ak {

namespace {

guint16 channel(double v) {
  return guint16(std::lround(std::clamp(v, 0.0, 1.0) * 65535));
}

void insertAttribute(PangoAttrList* list, PangoAttribute* attribute, guint start, guint end) {
  attribute->start_index = start;
  attribute->end_index = end;
  pango_attr_list_insert(list, attribute);
}

struct Layout {
  PangoLayout* layout = nullptr;
  ns::Ref<ParagraphStyle> style;
  ns::Ref<Shadow> shadow;
  Layout() = default;
  Layout(const Layout&) = delete;
  Layout& operator=(const Layout&) = delete;
  ~Layout() {
    if (layout) g_object_unref(layout);
  }
  Size size() const {
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    return {logical.width / double(PANGO_SCALE), logical.height / double(PANGO_SCALE)};
  }
};

// Lays the text out without a width; the caller sets width, wrapping and ellipsizing.
void build(const AttributedString& s, Layout& out) {
  std::string text = s.string();
  std::size_t length = s.length();
  if (length > kLongestLaidOutText) {
    text = ns::str::substringToIndex(text, kLongestLaidOutText);
    length = ns::str::utf16Length(text);
  }
  // pango refuses text with NUL characters; each becomes U+FFFD, one UTF-16 unit as well.
  for (std::size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at + 3)) {
    text.replace(at, 1, "\xEF\xBF\xBD");
  }
  out.layout = pango_layout_new(threadPangoContext());
  pango_layout_set_text(out.layout, text.data(), int(text.size()));
  pango_layout_set_font_description(out.layout, defaultTextFont()->face().desc);
  PangoAttrList* list = pango_attr_list_new();
  std::size_t start = 0;
  for (const auto& run : s.runs()) {
    if (start >= length) break;
    const std::size_t end16 = std::min(length, start + run.length);
    const guint b0 = guint(ns::str::utf8Offset(text, start)), b1 = guint(ns::str::utf8Offset(text, end16));
    const auto& a = run.attributes;
    if (auto font = a.objectForKey(FontAttributeName).objectAs<Font>()) {
      insertAttribute(list, pango_attr_font_desc_new(font->face().desc), b0, b1);
    }
    if (auto color = a.objectForKey(ForegroundColorAttributeName).objectAs<Color>()) {
      insertAttribute(
          list,
          pango_attr_foreground_new(channel(color->redComponent()), channel(color->greenComponent()),
                                    channel(color->blueComponent())),
          b0, b1);
      insertAttribute(list,
                      pango_attr_foreground_alpha_new(std::max<guint16>(1, channel(color->alphaComponent()))),
                      b0, b1);
    }
    if (auto color = a.objectForKey(BackgroundColorAttributeName).objectAs<Color>()) {
      insertAttribute(
          list,
          pango_attr_background_new(channel(color->redComponent()), channel(color->greenComponent()),
                                    channel(color->blueComponent())),
          b0, b1);
      insertAttribute(list,
                      pango_attr_background_alpha_new(std::max<guint16>(1, channel(color->alphaComponent()))),
                      b0, b1);
    }
    const ns::Value& underline = a.objectForKey(UnderlineStyleAttributeName);
    if (underline.isNumber() && underline.intValue() != 0) {
      const int style = underline.intValue() & 0xff;
      insertAttribute(list,
                      pango_attr_underline_new(style == 9   ? PANGO_UNDERLINE_DOUBLE
                                               : style == 2 ? PANGO_UNDERLINE_SINGLE_LINE
                                                            : PANGO_UNDERLINE_SINGLE),
                      b0, b1);
    }
    if (!out.shadow) out.shadow = a.objectForKey(ShadowAttributeName).objectAs<Shadow>();
    start = end16;
  }
  if (!s.runs().empty()) {
    out.style =
        s.runs().front().attributes.objectForKey(ParagraphStyleAttributeName).objectAs<ParagraphStyle>();
  }
  if (!out.style) out.style = ParagraphStyle::defaultParagraphStyle();
  // Wrapping by character cuts a word where the line ends, without a hyphen.
  if (out.style->lineBreakMode() == LineBreakMode::CharWrapping)
    pango_attr_list_insert(list, pango_attr_insert_hyphens_new(FALSE));
  pango_layout_set_attributes(out.layout, list);
  pango_attr_list_unref(list);
  switch (out.style->alignment()) {
    case TextAlignment::Right:
      pango_layout_set_alignment(out.layout, PANGO_ALIGN_RIGHT);
      break;
    case TextAlignment::Center:
      pango_layout_set_alignment(out.layout, PANGO_ALIGN_CENTER);
      break;
    case TextAlignment::Justified:
      pango_layout_set_justify(out.layout, TRUE);
      break;
    case TextAlignment::Left:
    case TextAlignment::Natural:
      pango_layout_set_alignment(out.layout, PANGO_ALIGN_LEFT);
      break;
  }
}

// Wraps or truncates to `width` points as the paragraph style says; `height` (points, or
// negative for none) bounds the lines when the last visible one is to be truncated.
void fitToWidth(Layout& l, double width, double height, bool truncateLast) {
  if (!(width > 0) || !std::isfinite(width)) return;
  const int w = int(std::min(width, 1.0e6) * PANGO_SCALE);
  switch (l.style->lineBreakMode()) {
    case LineBreakMode::WordWrapping:
    case LineBreakMode::CharWrapping:
      pango_layout_set_width(l.layout, w);
      pango_layout_set_wrap(l.layout, l.style->lineBreakMode() == LineBreakMode::CharWrapping
                                          ? PANGO_WRAP_CHAR
                                          : PANGO_WRAP_WORD_CHAR);
      if (truncateLast && height > 0 && std::isfinite(height)) {
        pango_layout_set_height(l.layout, int(std::min(height, 1.0e6) * PANGO_SCALE));
        pango_layout_set_ellipsize(l.layout, PANGO_ELLIPSIZE_END);
      }
      break;
    case LineBreakMode::Clipping:
      break;  // one line per paragraph, cut by the clip
    case LineBreakMode::TruncatingHead:
    case LineBreakMode::TruncatingTail:
    case LineBreakMode::TruncatingMiddle:
      pango_layout_set_width(l.layout, w);
      pango_layout_set_height(l.layout, -1);  // one line per paragraph
      pango_layout_set_ellipsize(
          l.layout, l.style->lineBreakMode() == LineBreakMode::TruncatingHead     ? PANGO_ELLIPSIZE_START
                    : l.style->lineBreakMode() == LineBreakMode::TruncatingMiddle ? PANGO_ELLIPSIZE_MIDDLE
                                                                                  : PANGO_ELLIPSIZE_END);
      break;
  }
}

// Draws the layout with its top left at (x, top) in user coordinates, upright whatever the flip.
void paint(const Layout& l, double x, double top, const Rect* clip, const std::string& text) {
  auto context = GraphicsContext::currentContext();
  if (!context) return;
  auto& n = context->native();
  const Size size = l.size();
  if (!IsSanePoint({x, top}) || (clip && !n.checkRect(*clip, "text"))) return;
  const bool flipped = n.userFlipped();
  n.record(DrawingRecord::Kind::Text,
           clip ? *clip : MakeRect(x, flipped ? top : top - size.height, size.width, size.height), text);
  const GState saved = n.gs;
  if (l.shadow) {
    n.gs.hasShadow = true;
    n.gs.shadowOffset = l.shadow->shadowOffset();
    n.gs.shadowBlur = l.shadow->shadowBlurRadius();
    colorComponents(*l.shadow->shadowColor(), n.gs.shadowColor);
  }
  cairo_save(n.cr);
  if (clip) {
    cairo_rectangle(n.cr, MinX(*clip), MinY(*clip), Width(*clip), Height(*clip));
    cairo_clip(n.cr);
  }
  n.draw(
      [&](cairo_t* c) {
        cairo_translate(c, x, top);
        if (!flipped) cairo_scale(c, 1, -1);
        cairo_move_to(c, 0, 0);
        pango_cairo_show_layout(c, l.layout);
      },
      n.gs.op, n.gs.alpha);
  cairo_restore(n.cr);
  n.gs = saved;
}

}  // namespace

Size AttributedString::size() const {
  Layout l;
  build(*this, l);
  return l.size();
}

Rect AttributedString::boundingRectWithSize_options(Size size, unsigned options) const {
  Layout l;
  build(*this, l);
  if (options & StringDrawingUsesLineFragmentOrigin) {
    fitToWidth(l, size.width, size.height, options & StringDrawingTruncatesLastVisibleLine);
    Size s = l.size();
    return MakeRect(0, 0, s.width, s.height);
  }
  pango_layout_set_single_paragraph_mode(l.layout, TRUE);
  Size s = l.size();
  const double baseline = pango_layout_get_baseline(l.layout) / double(PANGO_SCALE);
  if (options & StringDrawingUsesDeviceMetrics) {
    PangoRectangle ink;
    pango_layout_get_extents(l.layout, &ink, nullptr);
    if (ink.width <= 0 || ink.height <= 0) return ZeroRect;
    const double scale = PANGO_SCALE;
    return MakeRect(ink.x / scale, baseline - (ink.y + ink.height) / scale, ink.width / scale,
                    ink.height / scale);
  }
  return MakeRect(0, -(s.height - baseline), s.width, s.height);
}

void AttributedString::drawAtPoint(Point point) const {
  if (length_ == 0) return;
  auto context = GraphicsContext::currentContext();
  if (!context) return;
  Layout l;
  build(*this, l);
  const double top = context->isFlipped() ? point.y : point.y + l.size().height;
  paint(l, point.x, top, nullptr, string_);
}

void AttributedString::drawInRect(Rect rect) const {
  drawWithRect_options(rect, StringDrawingUsesLineFragmentOrigin);
}

void AttributedString::drawWithRect_options(Rect rect, unsigned options) const {
  if (length_ == 0 || IsEmptyRect(rect)) return;
  auto context = GraphicsContext::currentContext();
  if (!context) return;
  Layout l;
  build(*this, l);
  fitToWidth(l, Width(rect), Height(rect), options & StringDrawingTruncatesLastVisibleLine);
  double x = MinX(rect);
  if (l.style->lineBreakMode() == LineBreakMode::Clipping) {
    // Without a layout width pango does not align: place the lines in the rectangle here.
    const double free = Width(rect) - l.size().width;
    if (l.style->alignment() == TextAlignment::Center) x += free / 2;
    if (l.style->alignment() == TextAlignment::Right) x += free;
  }
  const double top = context->isFlipped() ? MinY(rect) : MaxY(rect);
  paint(l, x, top, &rect, string_);
}

}  // namespace ak
