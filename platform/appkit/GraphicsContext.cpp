#include "platform/appkit/GraphicsContext.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/appkit/BezierPath.h"
#include "platform/appkit/BitmapImageRep.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/DrawingInternal.h"
#include "platform/appkit/Gradient.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Shadow.h"
#include "platform/core/Log.h"

namespace ak {

namespace {

// Blur radii beyond this draw as this: the blur's cost grows with the radius.
constexpr double kMaxShadowBlur = 64;
// A half-plane clip is a rectangle this long each way.
constexpr double kFarAway = 1.0e5;

struct ThreadContexts {
  ns::Ref<GraphicsContext> current;
  std::vector<ns::Ref<GraphicsContext>> saved;
};

ThreadContexts& threadContexts() {
  thread_local ThreadContexts contexts;
  return contexts;
}

bool finite(double v) {
  return std::isfinite(v);
}

AffineTransform fromCairo(const cairo_matrix_t& m) {
  return AffineTransform(AffineTransformStruct{m.xx, m.yx, m.xy, m.yy, m.x0, m.y0});
}

cairo_matrix_t toCairo(const AffineTransform& t) {
  const auto& s = t.transformStruct();
  cairo_matrix_t m;
  cairo_matrix_init(&m, s.m11, s.m12, s.m21, s.m22, s.tX, s.tY);
  return m;
}

bool invertible(const cairo_matrix_t& m) {
  double det = m.xx * m.yy - m.yx * m.xy;
  return finite(m.xx) && finite(m.yx) && finite(m.xy) && finite(m.yy) && finite(m.x0) && finite(m.y0) &&
         det != 0 && finite(det) && std::fabs(m.x0) < 1e7 && std::fabs(m.y0) < 1e7;
}

// Three passes of a box blur over an 8-bit alpha plane, each direction.
void boxBlur(std::vector<std::uint8_t>& plane, int width, int height, int radius) {
  if (radius <= 0) return;
  std::vector<std::uint8_t> line(std::max(width, height));
  const int window = 2 * radius + 1;
  for (int pass = 0; pass < 3; ++pass) {
    for (int y = 0; y < height; ++y) {
      std::uint8_t* row = &plane[std::size_t(y) * width];
      int sum = 0;
      for (int x = -radius; x <= radius; ++x) sum += (x >= 0 && x < width) ? row[x] : 0;
      for (int x = 0; x < width; ++x) {
        line[x] = std::uint8_t((sum + window / 2) / window);
        int out = x - radius, in = x + radius + 1;
        if (out >= 0) sum -= row[out];
        if (in < width) sum += row[in];
      }
      std::copy(line.begin(), line.begin() + width, row);
    }
    for (int x = 0; x < width; ++x) {
      int sum = 0;
      for (int y = -radius; y <= radius; ++y)
        sum += (y >= 0 && y < height) ? plane[std::size_t(y) * width + x] : 0;
      for (int y = 0; y < height; ++y) {
        line[y] = std::uint8_t((sum + window / 2) / window);
        int out = y - radius, in = y + radius + 1;
        if (out >= 0) sum -= plane[std::size_t(out) * width + x];
        if (in < height) sum += plane[std::size_t(in) * width + x];
      }
      for (int y = 0; y < height; ++y) plane[std::size_t(y) * width + x] = line[y];
    }
  }
}

}  // namespace

cairo_operator_t cairoOperator(CompositingOperation op) {
  switch (op) {
    case CompositingOperation::Clear:
      return CAIRO_OPERATOR_CLEAR;
    case CompositingOperation::Copy:
      return CAIRO_OPERATOR_SOURCE;
    case CompositingOperation::SourceOver:
      return CAIRO_OPERATOR_OVER;
    case CompositingOperation::SourceIn:
      return CAIRO_OPERATOR_IN;
    case CompositingOperation::SourceOut:
      return CAIRO_OPERATOR_OUT;
    case CompositingOperation::SourceAtop:
      return CAIRO_OPERATOR_ATOP;
    case CompositingOperation::DestinationOver:
      return CAIRO_OPERATOR_DEST_OVER;
    case CompositingOperation::DestinationIn:
      return CAIRO_OPERATOR_DEST_IN;
    case CompositingOperation::DestinationOut:
      return CAIRO_OPERATOR_DEST_OUT;
    case CompositingOperation::DestinationAtop:
      return CAIRO_OPERATOR_DEST_ATOP;
    case CompositingOperation::XOR:
      return CAIRO_OPERATOR_XOR;
    case CompositingOperation::PlusDarker:
      return CAIRO_OPERATOR_DARKEN;
    case CompositingOperation::Highlight:
      return CAIRO_OPERATOR_OVER;
    case CompositingOperation::PlusLighter:
      return CAIRO_OPERATOR_ADD;
  }
  return CAIRO_OPERATOR_OVER;
}

void colorComponents(const Color& color, double out[4]) {
  color.getRed_green_blue_alpha(&out[0], &out[1], &out[2], &out[3]);
}

// ---- Native ----

GraphicsContext::Native::Native(ns::Ref<BitmapImageRep> bitmap, bool flipped) : rep(std::move(bitmap)) {
  surface = static_cast<cairo_surface_t*>(rep->nativeSurface());
  cr = cairo_create(surface);
  double pw = double(rep->pixelsWide()), ph = double(rep->pixelsHigh());
  Size points = rep->size();
  double sx = points.width > 0 ? pw / points.width : 1, sy = points.height > 0 ? ph / points.height : 1;
  pixelsPerPoint = sx;
  if (flipped) {
    cairo_matrix_init(&base, sx, 0, 0, sy, 0, 0);
  } else {
    cairo_matrix_init(&base, sx, 0, 0, -sy, 0, ph);
  }
  cairo_set_matrix(cr, &base);
}

GraphicsContext::Native::~Native() {
  cairo_surface_flush(surface);
  cairo_destroy(cr);
}

bool GraphicsContext::Native::refuse(const char* what) {
  if (!loggedBadInput) {
    loggedBadInput = true;
    ns::Log("Graphics context: skipped %s with an invalid coordinate, size or transform", what);
  }
  return false;
}

bool GraphicsContext::Native::userFlipped() const {
  cairo_matrix_t m;
  cairo_get_matrix(cr, &m);
  return m.xx * m.yy - m.yx * m.xy > 0;
}

void GraphicsContext::Native::record(DrawingRecord::Kind kind, const Rect& destination, std::string name,
                                     Rect source) {
  if (recorder) recorder(DrawingRecord{kind, std::move(name), source, destination});
}

void GraphicsContext::Native::setSource(const double rgba[4], double extraAlpha) const {
  cairo_set_source_rgba(cr, rgba[0], rgba[1], rgba[2], rgba[3] * extraAlpha);
}

cairo_filter_t GraphicsContext::Native::filter() const {
  switch (gs.interpolation) {
    case ImageInterpolation::None:
      return CAIRO_FILTER_NEAREST;
    case ImageInterpolation::Low:
      return CAIRO_FILTER_BILINEAR;
    case ImageInterpolation::High:
      return CAIRO_FILTER_BEST;
    case ImageInterpolation::Default:
      break;
  }
  return CAIRO_FILTER_GOOD;
}

Rect GraphicsContext::Native::pathBounds() const {
  double x0, y0, x1, y1;
  cairo_path_extents(cr, &x0, &y0, &x1, &y1);
  return MakeRect(x0, y0, x1 - x0, y1 - y0);
}

void GraphicsContext::Native::paintShadow(const Painter& painter) {
  // The shape is drawn without the clip into a scratch bitmap that covers what can cast a
  // shadow onto the surface; its alpha, blurred, is the shadow's mask.
  const double blur = std::clamp(finite(gs.shadowBlur) ? gs.shadowBlur : 0.0, 0.0, kMaxShadowBlur);
  const int radius = int(std::lround(blur * pixelsPerPoint / 3));
  const int pad = 3 * radius;
  const int width = cairo_image_surface_get_width(surface), height = cairo_image_surface_get_height(surface);
  const double dx = std::round(gs.shadowOffset.width * pixelsPerPoint);
  const double dy = std::round(-gs.shadowOffset.height * pixelsPerPoint);
  if (!finite(dx) || !finite(dy) || std::fabs(dx) > 1e6 || std::fabs(dy) > 1e6)
    return void(refuse("a shadow"));
  // Only what the clip lets through can show: the scratch covers the clip's device bounds,
  // moved back by the offset, with room for the blur.
  double ux0, uy0, ux1, uy1;
  cairo_clip_extents(cr, &ux0, &uy0, &ux1, &uy1);
  double bx0 = INFINITY, by0 = INFINITY, bx1 = -INFINITY, by1 = -INFINITY;
  for (auto [ux, uy] : {std::pair{ux0, uy0}, {ux1, uy0}, {ux0, uy1}, {ux1, uy1}}) {
    cairo_user_to_device(cr, &ux, &uy);
    bx0 = std::min(bx0, ux), bx1 = std::max(bx1, ux), by0 = std::min(by0, uy), by1 = std::max(by1, uy);
  }
  bx0 = std::max(0.0, std::floor(bx0)), by0 = std::max(0.0, std::floor(by0));
  bx1 = std::min(double(width), std::ceil(bx1)), by1 = std::min(double(height), std::ceil(by1));
  if (!(bx1 > bx0) || !(by1 > by0)) return;
  const int x0 = int(bx0 - dx) - pad, y0 = int(by0 - dy) - pad;  // scratch origin in device pixels
  const int sw = int(bx1 - bx0) + 2 * pad, sh = int(by1 - by0) + 2 * pad;
  cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_A8, sw, sh);
  cairo_t* sc = cairo_create(scratch);
  cairo_matrix_t m;
  cairo_get_matrix(cr, &m);
  cairo_translate(sc, -x0, -y0);  // device to scratch pixels
  cairo_transform(sc, &m);
  cairo_set_antialias(sc, cairo_get_antialias(cr));
  painter(sc);
  cairo_destroy(sc);
  cairo_surface_flush(scratch);
  const int stride = cairo_image_surface_get_stride(scratch);
  std::uint8_t* data = cairo_image_surface_get_data(scratch);
  std::vector<std::uint8_t> plane(std::size_t(sw) * sh);
  for (int y = 0; y < sh; ++y)
    std::copy(data + std::size_t(y) * stride, data + std::size_t(y) * stride + sw,
              &plane[std::size_t(y) * sw]);
  boxBlur(plane, sw, sh, radius);
  for (int y = 0; y < sh; ++y)
    std::copy(&plane[std::size_t(y) * sw], &plane[std::size_t(y) * sw] + sw, data + std::size_t(y) * stride);
  cairo_surface_mark_dirty(scratch);

  cairo_save(cr);
  cairo_identity_matrix(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  cairo_set_source_rgba(cr, gs.shadowColor[0], gs.shadowColor[1], gs.shadowColor[2],
                        gs.shadowColor[3] * gs.alpha);
  cairo_mask_surface(cr, scratch, x0 + dx, y0 + dy);
  cairo_restore(cr);
  cairo_surface_destroy(scratch);
}

void GraphicsContext::Native::draw(const Painter& painter, cairo_operator_t op, double alpha) {
  if (gs.hasShadow && gs.shadowColor[3] > 0) paintShadow(painter);
  cairo_save(cr);
  if (alpha >= 1) {
    cairo_set_operator(cr, op);
    painter(cr);
  } else {
    cairo_push_group(cr);
    painter(cr);
    cairo_pop_group_to_source(cr);
    cairo_set_operator(cr, op);
    cairo_paint_with_alpha(cr, std::max(0.0, alpha));
  }
  cairo_restore(cr);
}

void GraphicsContext::Native::drawBitmap(const BitmapDraw& d) {
  if (!d.rep || !checkRect(d.destination, "an image") || !checkRect(d.source, "an image")) return;
  if (!(d.points.width > 0) || !(d.points.height > 0) || d.rep->pixelsWide() == 0 || d.rep->pixelsHigh() == 0)
    return;
  Rect whole = MakeRect(0, 0, d.points.width, d.points.height);
  const Rect asked = d.source == ZeroRect ? whole : d.source;
  const Rect from = IntersectionRect(asked, whole);
  if (IsEmptyRect(from) || IsEmptyRect(asked) || IsEmptyRect(d.destination) || !(d.fraction > 0)) return;
  // A source reaching beyond the image draws only its part inside, at the same scale, into the
  // matching part of the destination.
  Rect r = d.destination;
  if (from != asked) {
    const double kx = Width(d.destination) / Width(asked), ky = Height(d.destination) / Height(asked);
    const bool sameDirection = d.imageFlipped == d.topAtMinY;  // image y and user y grow alike
    r.origin.x += (MinX(from) - MinX(asked)) * kx;
    r.origin.y += (sameDirection ? MinY(from) - MinY(asked) : MaxY(asked) - MaxY(from)) * ky;
    r.size = {Width(from) * kx, Height(from) * ky};
  }
  record(DrawingRecord::Kind::Image, d.destination, d.name, asked);

  const double sx = d.rep->pixelsWide() / d.points.width, sy = d.rep->pixelsHigh() / d.points.height;
  const double top = d.imageFlipped ? MinY(from) : d.points.height - MaxY(from);
  const double px = MinX(from) * sx, py = top * sy, pw = Width(from) * sx, ph = Height(from) * sy;
  const int ix0 = std::max(0, int(std::floor(px))), iy0 = std::max(0, int(std::floor(py)));
  const int ix1 = std::min(int(d.rep->pixelsWide()), int(std::ceil(px + pw)));
  const int iy1 = std::min(int(d.rep->pixelsHigh()), int(std::ceil(py + ph)));
  if (ix1 <= ix0 || iy1 <= iy0) return;
  // A sub-surface padded at its edges: filtering never reaches pixels outside the source.
  cairo_surface_t* sub = cairo_surface_create_for_rectangle(
      static_cast<cairo_surface_t*>(d.rep->nativeSurface()), ix0, iy0, ix1 - ix0, iy1 - iy0);
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(sub);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
  cairo_matrix_t m;
  const double kx = pw / Width(r), ky = ph / Height(r);
  // cairo's best filter costs ten times its good one when shrinking, for no visible gain at
  // thumbnail sizes: shrinking uses the good filter (a box pre-filter), enlarging the best.
  cairo_matrix_t ctm;
  cairo_get_matrix(cr, &ctm);
  const double deviceScale = std::sqrt(std::fabs(ctm.xx * ctm.yy - ctm.xy * ctm.yx));
  const bool shrinking = kx > deviceScale || ky > deviceScale;
  cairo_pattern_set_filter(pattern,
                           d.filter == CAIRO_FILTER_BEST && shrinking ? CAIRO_FILTER_GOOD : d.filter);
  if (d.topAtMinY) {
    cairo_matrix_init(&m, kx, 0, 0, ky, (px - ix0) - MinX(r) * kx, (py - iy0) - MinY(r) * ky);
  } else {
    cairo_matrix_init(&m, kx, 0, 0, -ky, (px - ix0) - MinX(r) * kx, (py - iy0) + MaxY(r) * ky);
  }
  cairo_pattern_set_matrix(pattern, &m);
  const double fraction = std::min(1.0, d.fraction) * gs.alpha;
  Painter painter = [&](cairo_t* c) {
    cairo_rectangle(c, MinX(r), MinY(r), Width(r), Height(r));
    cairo_clip(c);
    cairo_set_source(c, pattern);
    cairo_paint(c);
  };
  if (gs.hasShadow && gs.shadowColor[3] > 0) paintShadow(painter);
  cairo_save(cr);
  cairo_rectangle(cr, MinX(r), MinY(r), Width(r), Height(r));
  cairo_clip(cr);
  cairo_set_source(cr, pattern);
  cairo_set_operator(cr, d.op);
  cairo_paint_with_alpha(cr, fraction);
  cairo_restore(cr);
  cairo_pattern_destroy(pattern);
  cairo_surface_destroy(sub);
}

// ---- GraphicsContext ----

GraphicsContext::GraphicsContext(std::unique_ptr<Native> native) : native_(std::move(native)) {}

GraphicsContext::~GraphicsContext() = default;

ns::Ref<GraphicsContext> GraphicsContext::graphicsContextWithBitmapImageRep(
    const ns::Ref<BitmapImageRep>& rep) {
  return graphicsContextWithBitmapImageRep_flipped(rep, false);
}

ns::Ref<GraphicsContext> GraphicsContext::graphicsContextWithBitmapImageRep_flipped(
    const ns::Ref<BitmapImageRep>& rep, bool flipped) {
  if (!rep) return nullptr;
  return ns::make<GraphicsContext>(std::make_unique<Native>(rep, flipped));
}

ns::Ref<GraphicsContext> GraphicsContext::currentContext() {
  return threadContexts().current;
}

void GraphicsContext::setCurrentContext(const ns::Ref<GraphicsContext>& context) {
  threadContexts().current = context;
}

void GraphicsContext::saveGraphicsState() {
  auto& contexts = threadContexts();
  contexts.saved.push_back(contexts.current);
  if (contexts.current) contexts.current->saveGState();
}

void GraphicsContext::restoreGraphicsState() {
  auto& contexts = threadContexts();
  if (contexts.saved.empty()) {
    ns::Log("Graphics context: restoreGraphicsState without a matching saveGraphicsState, ignored");
    return;
  }
  contexts.current = std::move(contexts.saved.back());
  contexts.saved.pop_back();
  if (contexts.current) contexts.current->restoreGState();
}

std::size_t GraphicsContext::graphicsStateDepth() {
  return threadContexts().saved.size();
}

void GraphicsContext::restoreGraphicsStateToDepth(std::size_t depth) {
  while (threadContexts().saved.size() > depth) restoreGraphicsState();
}

bool GraphicsContext::isFlipped() const {
  return native_->userFlipped();
}
const ns::Ref<BitmapImageRep>& GraphicsContext::bitmapImageRep() const {
  return native_->rep;
}

CompositingOperation GraphicsContext::compositingOperation() const {
  return native_->gs.compositing;
}

void GraphicsContext::setCompositingOperation(CompositingOperation op) {
  native_->gs.compositing = op;
  native_->gs.op = cairoOperator(op);
}

ImageInterpolation GraphicsContext::imageInterpolation() const {
  return native_->gs.interpolation;
}
void GraphicsContext::setImageInterpolation(ImageInterpolation interpolation) {
  native_->gs.interpolation = interpolation;
}

bool GraphicsContext::shouldAntialias() const {
  return native_->gs.antialias;
}

void GraphicsContext::setShouldAntialias(bool antialias) {
  native_->gs.antialias = antialias;
  cairo_set_antialias(native_->cr, antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}

void GraphicsContext::flushGraphics() {
  cairo_surface_flush(native_->surface);
}

void* GraphicsContext::nativeHandle() const {
  return native_->cr;
}

void GraphicsContext::saveGState() {
  native_->saved.push_back(native_->gs);
  cairo_save(native_->cr);
}

void GraphicsContext::restoreGState() {
  if (native_->saved.empty()) {
    ns::Log("Graphics context: restoreGState without a matching saveGState, ignored");
    return;
  }
  native_->gs = native_->saved.back();
  native_->saved.pop_back();
  cairo_restore(native_->cr);
}

void GraphicsContext::setAlpha(double alpha) {
  if (!finite(alpha)) return void(native_->refuse("an alpha"));
  native_->gs.alpha = std::clamp(alpha, 0.0, 1.0);
}

double GraphicsContext::alpha() const {
  return native_->gs.alpha;
}

void GraphicsContext::setBlendMode(BlendMode mode) {
  native_->gs.compositing = CompositingOperation::SourceOver;
  native_->gs.op = mode == BlendMode::Screen     ? CAIRO_OPERATOR_SCREEN
                   : mode == BlendMode::Multiply ? CAIRO_OPERATOR_MULTIPLY
                                                 : CAIRO_OPERATOR_OVER;
}

void GraphicsContext::concatCTM(const AffineTransform& transform) {
  cairo_matrix_t current, next, t = toCairo(transform);
  cairo_get_matrix(native_->cr, &current);
  cairo_matrix_multiply(&next, &t, &current);
  if (!invertible(next)) return void(native_->refuse("a transform"));
  cairo_set_matrix(native_->cr, &next);
}

void GraphicsContext::translateCTM(double dx, double dy) {
  AffineTransform t;
  t.translateXBy_yBy(dx, dy);
  concatCTM(t);
}

void GraphicsContext::scaleCTM(double sx, double sy) {
  AffineTransform t;
  t.scaleXBy_yBy(sx, sy);
  concatCTM(t);
}

void GraphicsContext::rotateCTM(double radians) {
  AffineTransform t;
  t.rotateByRadians(radians);
  concatCTM(t);
}

void GraphicsContext::setCTM(const AffineTransform& transform) {
  cairo_matrix_t next, t = toCairo(transform);
  cairo_matrix_multiply(&next, &t, &native_->base);
  if (!invertible(next)) return void(native_->refuse("a transform"));
  cairo_set_matrix(native_->cr, &next);
}

AffineTransform GraphicsContext::getCTM() const {
  cairo_matrix_t m;
  cairo_get_matrix(native_->cr, &m);
  return fromCairo(m);
}

void GraphicsContext::setFillColor(const Color& color) {
  colorComponents(color, native_->gs.fill);
}
void GraphicsContext::setStrokeColor(const Color& color) {
  colorComponents(color, native_->gs.stroke);
}

void GraphicsContext::setShadow(const Shadow* shadow) {
  auto& gs = native_->gs;
  gs.hasShadow = shadow != nullptr;
  if (!shadow) return;
  gs.shadowOffset = shadow->shadowOffset();
  gs.shadowBlur = shadow->shadowBlurRadius();
  colorComponents(*shadow->shadowColor(), gs.shadowColor);
}

void GraphicsContext::setLineWidth(double width) {
  if (!finite(width) || width < 0 || width > 1e5) return void(native_->refuse("a line width"));
  native_->gs.lineWidth = width;
}

void GraphicsContext::beginPath() {
  cairo_new_path(native_->cr);
}

void GraphicsContext::addPath(const BezierPath& path) {
  for (const auto& e : path.elements()) {
    for (const auto& p : e.points) {
      if (!IsSanePoint(p)) return void(native_->refuse("a path"));
    }
  }
  cairo_path_t* saved = cairo_copy_path(native_->cr);
  appendPath(native_->cr, path);
  cairo_path_t* added = cairo_copy_path(native_->cr);
  cairo_new_path(native_->cr);
  cairo_append_path(native_->cr, saved);
  cairo_append_path(native_->cr, added);
  cairo_path_destroy(saved);
  cairo_path_destroy(added);
}

void GraphicsContext::addRect(const Rect& rect) {
  if (!native_->checkRect(rect, "a rectangle")) return;
  cairo_rectangle(native_->cr, MinX(rect), MinY(rect), Width(rect), Height(rect));
}

void GraphicsContext::clip() {
  native_->record(DrawingRecord::Kind::Clip, native_->pathBounds());
  cairo_set_fill_rule(native_->cr, CAIRO_FILL_RULE_WINDING);
  cairo_clip(native_->cr);
}

void GraphicsContext::eoClip() {
  native_->record(DrawingRecord::Kind::Clip, native_->pathBounds());
  cairo_set_fill_rule(native_->cr, CAIRO_FILL_RULE_EVEN_ODD);
  cairo_clip(native_->cr);
}

void GraphicsContext::clipToRect(const Rect& rect) {
  if (!native_->checkRect(rect, "a clip")) return;
  cairo_new_path(native_->cr);
  cairo_rectangle(native_->cr, MinX(rect), MinY(rect), Width(rect), Height(rect));
  clip();
}

namespace {
void fillCurrentPath(GraphicsContext::Native& n, cairo_fill_rule_t rule) {
  cairo_path_t* path = cairo_copy_path(n.cr);
  cairo_new_path(n.cr);
  Rect bounds;
  {
    cairo_append_path(n.cr, path);
    bounds = n.pathBounds();
    cairo_new_path(n.cr);
  }
  n.record(DrawingRecord::Kind::Fill, bounds);
  const double rgba[4] = {n.gs.fill[0], n.gs.fill[1], n.gs.fill[2], n.gs.fill[3]};
  const double alpha = n.gs.alpha;
  n.draw(
      [&](cairo_t* c) {
        cairo_append_path(c, path);
        cairo_set_fill_rule(c, rule);
        cairo_set_source_rgba(c, rgba[0], rgba[1], rgba[2], rgba[3] * alpha);
        cairo_fill(c);
      },
      n.gs.op, 1);
  cairo_path_destroy(path);
}
}  // namespace

void GraphicsContext::fillPath() {
  fillCurrentPath(*native_, CAIRO_FILL_RULE_WINDING);
}
void GraphicsContext::eoFillPath() {
  fillCurrentPath(*native_, CAIRO_FILL_RULE_EVEN_ODD);
}

void GraphicsContext::strokePath() {
  auto& n = *native_;
  cairo_path_t* path = cairo_copy_path(n.cr);
  n.record(DrawingRecord::Kind::Stroke, n.pathBounds());
  cairo_new_path(n.cr);
  const double width = n.gs.lineWidth;
  n.draw(
      [&](cairo_t* c) {
        cairo_append_path(c, path);
        cairo_set_line_width(c, width);
        cairo_set_source_rgba(c, n.gs.stroke[0], n.gs.stroke[1], n.gs.stroke[2], n.gs.stroke[3] * n.gs.alpha);
        cairo_stroke(c);
      },
      n.gs.op, 1);
  cairo_path_destroy(path);
}

void GraphicsContext::fillRect(const Rect& rect) {
  if (!native_->checkRect(rect, "a rectangle")) return;
  cairo_new_path(native_->cr);
  cairo_rectangle(native_->cr, MinX(rect), MinY(rect), Width(rect), Height(rect));
  fillPath();
}

void GraphicsContext::strokeRectWithWidth(const Rect& rect, double width) {
  if (!native_->checkRect(rect, "a rectangle")) return;
  double saved = native_->gs.lineWidth;
  setLineWidth(width);
  cairo_new_path(native_->cr);
  cairo_rectangle(native_->cr, MinX(rect), MinY(rect), Width(rect), Height(rect));
  strokePath();
  native_->gs.lineWidth = saved;
}

void GraphicsContext::drawLinearGradient(const Gradient& gradient, const Point& start, const Point& end,
                                         unsigned options) {
  auto& n = *native_;
  if (!IsSanePoint(start) || !IsSanePoint(end)) return void(n.refuse("a gradient"));
  const double dx = end.x - start.x, dy = end.y - start.y, length = std::hypot(dx, dy);
  cairo_pattern_t* pattern = cairo_pattern_create_linear(start.x, start.y, end.x, end.y);
  for (const auto& stop : gradient.stops()) {
    cairo_pattern_add_color_stop_rgba(pattern, stop.location, stop.rgba[0], stop.rgba[1], stop.rgba[2],
                                      stop.rgba[3]);
  }
  const bool before = options & GradientDrawsBeforeStartLocation,
             after = options & GradientDrawsAfterEndLocation;
  cairo_pattern_set_extend(pattern, before || after ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_NONE);
  double x0, y0, x1, y1;
  cairo_clip_extents(n.cr, &x0, &y0, &x1, &y1);
  n.record(DrawingRecord::Kind::Gradient, MakeRect(x0, y0, x1 - x0, y1 - y0));
  n.draw(
      [&](cairo_t* c) {
        // With one extension only, the other side of the ramp stays unpainted: clip to a half-plane.
        if ((before != after) && length > 0) {
          const double ux = dx / length, uy = dy / length;
          const Point at = before ? end : start;
          const double dir = before ? -1 : 1;  // the side that is painted
          const double nx = -uy * kFarAway, ny = ux * kFarAway;
          cairo_move_to(c, at.x + nx, at.y + ny);
          cairo_line_to(c, at.x - nx, at.y - ny);
          cairo_line_to(c, at.x - nx + dir * ux * kFarAway, at.y - ny + dir * uy * kFarAway);
          cairo_line_to(c, at.x + nx + dir * ux * kFarAway, at.y + ny + dir * uy * kFarAway);
          cairo_close_path(c);
          cairo_clip(c);
        }
        cairo_set_source(c, pattern);
        if (n.gs.alpha < 1) {
          cairo_paint_with_alpha(c, n.gs.alpha);
        } else {
          cairo_paint(c);
        }
      },
      n.gs.op, 1);
  cairo_pattern_destroy(pattern);
}

void GraphicsContext::drawImage(const Rect& rect, const Image& image) {
  auto rep = image.bitmapImageRep();
  if (!rep) return;
  Native::BitmapDraw d;
  d.rep = rep.get();
  d.points = image.size();
  d.imageFlipped = false;
  d.destination = rect;
  d.op = native_->gs.op;
  d.topAtMinY = false;
  d.filter = native_->filter();
  d.name = image.name();
  native_->drawBitmap(d);
}

void GraphicsContext::drawTiledImage(const Rect& tile, const Image& image) {
  auto& n = *native_;
  auto rep = image.bitmapImageRep();
  if (!rep || rep->pixelsWide() == 0 || rep->pixelsHigh() == 0) return;
  if (!n.checkRect(tile, "a tiled image") || IsEmptyRect(tile)) return;
  double x0, y0, x1, y1;
  cairo_clip_extents(n.cr, &x0, &y0, &x1, &y1);
  n.record(DrawingRecord::Kind::Image, MakeRect(x0, y0, x1 - x0, y1 - y0), image.name(), tile);
  cairo_pattern_t* pattern =
      cairo_pattern_create_for_surface(static_cast<cairo_surface_t*>(rep->nativeSurface()));
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(pattern, n.filter());
  const double kx = rep->pixelsWide() / Width(tile), ky = rep->pixelsHigh() / Height(tile);
  cairo_matrix_t m;
  // The image's top row at the tile's max y, as the graphics port draws images.
  cairo_matrix_init(&m, kx, 0, 0, -ky, -MinX(tile) * kx, MaxY(tile) * ky);
  cairo_pattern_set_matrix(pattern, &m);
  n.draw(
      [&](cairo_t* c) {
        cairo_set_source(c, pattern);
        cairo_paint_with_alpha(c, n.gs.alpha);
      },
      n.gs.op, 1);
  cairo_pattern_destroy(pattern);
}

void GraphicsContext::setDrawingRecorder(std::function<void(const DrawingRecord&)> recorder) {
  native_->recorder = std::move(recorder);
}

// ---- free functions ----

void RectFill(const Rect& rect) {
  RectFillUsingOperation(rect, CompositingOperation::Copy);
}

void RectFillUsingOperation(const Rect& rect, CompositingOperation op) {
  auto context = GraphicsContext::currentContext();
  if (!context) return;
  auto& n = context->native();
  if (!n.checkRect(rect, "a rectangle fill") || IsEmptyRect(rect)) return;
  n.record(DrawingRecord::Kind::Fill, rect);
  const double alpha = n.gs.alpha;
  n.draw(
      [&](cairo_t* c) {
        cairo_rectangle(c, MinX(rect), MinY(rect), Width(rect), Height(rect));
        cairo_set_source_rgba(c, n.gs.fill[0], n.gs.fill[1], n.gs.fill[2], n.gs.fill[3] * alpha);
        cairo_fill(c);
      },
      cairoOperator(op), 1);
}

void RectClip(const Rect& rect) {
  if (auto context = GraphicsContext::currentContext()) context->clipToRect(rect);
}

void FrameRectWithWidth(const Rect& rect, double width) {
  auto context = GraphicsContext::currentContext();
  if (!context || !context->native().checkRect(rect, "a frame") || IsEmptyRect(rect)) return;
  if (!finite(width) || width <= 0) return;
  const double w = std::min(width, Width(rect) / 2), h = std::min(width, Height(rect) / 2);
  // The four sides, inside the rectangle, as rectangle fills.
  RectFillUsingOperation(MakeRect(MinX(rect), MinY(rect), Width(rect), h), CompositingOperation::SourceOver);
  RectFillUsingOperation(MakeRect(MinX(rect), MaxY(rect) - h, Width(rect), h),
                         CompositingOperation::SourceOver);
  RectFillUsingOperation(MakeRect(MinX(rect), MinY(rect) + h, w, Height(rect) - 2 * h),
                         CompositingOperation::SourceOver);
  RectFillUsingOperation(MakeRect(MaxX(rect) - w, MinY(rect) + h, w, Height(rect) - 2 * h),
                         CompositingOperation::SourceOver);
}

void FrameRect(const Rect& rect) {
  FrameRectWithWidth(rect, 1);
}

}  // namespace ak
