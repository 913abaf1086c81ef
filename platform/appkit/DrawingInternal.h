#pragma once
// The cairo side of the drawing classes. Included only by the .cpp files of this folder.
#include <cairo.h>

#include <functional>
#include <vector>

#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Shadow.h"

namespace ak {

class BezierPath;

struct GState {
  double fill[4] = {0, 0, 0, 1};
  double stroke[4] = {0, 0, 0, 1};
  CompositingOperation compositing = CompositingOperation::SourceOver;
  cairo_operator_t op = CAIRO_OPERATOR_OVER;
  ImageInterpolation interpolation = ImageInterpolation::Default;
  double alpha = 1;
  double lineWidth = 1;
  bool antialias = true;
  bool hasShadow = false;
  Size shadowOffset;
  double shadowBlur = 0;
  double shadowColor[4] = {0, 0, 0, 1.0 / 3};
};

// Paints with the source and path it sets up itself onto the given cairo context.
using Painter = std::function<void(cairo_t*)>;

struct GraphicsContext::Native {
  Native(ns::Ref<BitmapImageRep> rep, bool flipped);
  ~Native();

  cairo_t* cr = nullptr;
  cairo_surface_t* surface = nullptr;
  ns::Ref<BitmapImageRep> rep;
  cairo_matrix_t base;  // the bitmap's own transform (flip and points-to-pixels scale)
  double pixelsPerPoint = 1;
  GState gs;
  std::vector<GState> saved;
  bool loggedBadInput = false;
  std::function<void(const DrawingRecord&)> recorder;

  // Logs the first refused operation of this context; answers false for use in conditions.
  bool refuse(const char* what);
  bool checkRect(const Rect& r, const char* what) { return IsSaneRect(r) || refuse(what); }
  bool userFlipped() const;
  void record(DrawingRecord::Kind kind, const Rect& destination, std::string name = {}, Rect source = {});
  // Draws with the state's shadow (when set), operator and alpha. `shapeOnly` painters draw a
  // colour through their own path; their alpha goes into the colour.
  void draw(const Painter& painter, cairo_operator_t op, double alpha);
  void paintShadow(const Painter& painter);
  void setSource(const double rgba[4], double extraAlpha = 1) const;
  cairo_filter_t filter() const;
  // Bounds of the current cairo path in user coordinates.
  Rect pathBounds() const;

  struct BitmapDraw {
    const BitmapImageRep* rep = nullptr;
    Size points;  // the image's size in points
    bool imageFlipped = false;
    Rect destination;
    Rect source;  // image points; the zero rect is the whole image
    cairo_operator_t op = CAIRO_OPERATOR_OVER;
    double fraction = 1;
    // Which edge of the destination the image's top row goes to: decided by the caller from
    // the flips, or (upright) always the visually upper one.
    bool topAtMinY = false;
    cairo_filter_t filter = CAIRO_FILTER_GOOD;
    std::string name;
  };
  void drawBitmap(const BitmapDraw& draw);
};

cairo_operator_t cairoOperator(CompositingOperation op);
// Replaces the cairo context's path with the bezier path.
void appendPath(cairo_t* cr, const BezierPath& path);
void colorComponents(const Color& color, double out[4]);

}  // namespace ak
