#pragma once
// Drawing destinations. A graphics context draws onto a bitmap (a cairo image surface behind an
// opaque handle) in user coordinates: unflipped ones grow upwards from the lower left, flipped
// ones downwards from the upper left. Each thread has its own current context and its own stack
// of saved contexts; a context is used by one thread at a time.
//
// The Core Graphics calls that the controls make are members reached through graphicsPort().
// Bad numbers (NaN, infinities, absurd coordinates, singular transforms) are refused at this
// boundary: the operation is skipped and the first one is logged, so that one bad value never
// blanks everything drawn afterwards.
#include <functional>
#include <memory>
#include <string>

#include "platform/appkit/AffineTransform.h"
#include "platform/appkit/Geometry.h"
#include "platform/appkit/GraphicsTypes.h"
#include "platform/core/Object.h"

namespace ak {

class BezierPath;
class BitmapImageRep;
class Color;
class Gradient;
class Image;
class Shadow;

// One drawing operation as a recorder sees it (for tests of cells and views).
struct DrawingRecord {
  enum class Kind { Fill, Stroke, Clip, Image, Text, Gradient };
  Kind kind = Kind::Fill;
  std::string name;  // the image's name, or the text drawn
  Rect source;       // for images: the source rectangle in image points
  Rect destination;  // the bounds in user coordinates
};

class GraphicsContext : public ns::Object {
 public:
  struct Native;  // the cairo state; see DrawingInternal.h

  explicit GraphicsContext(std::unique_ptr<Native> native);
  ~GraphicsContext() override;

  // A context drawing into the bitmap; unflipped unless asked otherwise. nullptr for nil.
  static ns::Ref<GraphicsContext> graphicsContextWithBitmapImageRep(const ns::Ref<BitmapImageRep>& rep);
  static ns::Ref<GraphicsContext> graphicsContextWithBitmapImageRep_flipped(
      const ns::Ref<BitmapImageRep>& rep, bool flipped);

  // The calling thread's current context (nullptr when none).
  static ns::Ref<GraphicsContext> currentContext();
  static void setCurrentContext(const ns::Ref<GraphicsContext>& context);
  // Saves the current context's state and remembers the context; restoring brings both back.
  // A restore without a matching save is logged and ignored.
  static void saveGraphicsState();
  static void restoreGraphicsState();
  // How many saveGraphicsState calls are open on this thread, and restoring down to such a count
  // (the views' drawing pass uses it so that a drawRect: that forgets a restore leaks nothing).
  static std::size_t graphicsStateDepth();
  static void restoreGraphicsStateToDepth(std::size_t depth);

  // Whether the current user coordinates grow downwards.
  bool isFlipped() const;
  bool isDrawingToScreen() const { return false; }
  const ns::Ref<BitmapImageRep>& bitmapImageRep() const;

  CompositingOperation compositingOperation() const;
  void setCompositingOperation(CompositingOperation op);
  ImageInterpolation imageInterpolation() const;
  void setImageInterpolation(ImageInterpolation interpolation);
  bool shouldAntialias() const;
  void setShouldAntialias(bool antialias);
  // Pushes the drawing into the bitmap's pixels.
  void flushGraphics();

  GraphicsContext* graphicsPort() { return this; }
  // The cairo_t*, for the few callers that draw with cairo themselves.
  void* nativeHandle() const;
  Native& native() const { return *native_; }

  // ---- Core Graphics calls ----
  void saveGState();
  // Logged and ignored when nothing is saved.
  void restoreGState();
  void setAlpha(double alpha);
  double alpha() const;
  void setBlendMode(BlendMode mode);
  void translateCTM(double dx, double dy);
  void scaleCTM(double sx, double sy);
  void rotateCTM(double radians);
  void concatCTM(const AffineTransform& transform);
  // Replaces the user transform: `transform` then the bitmap's own base transform.
  void setCTM(const AffineTransform& transform);
  // User coordinates to bitmap pixels.
  AffineTransform getCTM() const;
  void setFillColor(const Color& color);
  void setStrokeColor(const Color& color);
  // The shadow drawn under everything until the state is restored; nullptr removes it.
  void setShadow(const Shadow* shadow);
  void setLineWidth(double width);

  void beginPath();
  void addPath(const BezierPath& path);
  void addRect(const Rect& rect);
  // Intersect the clip with the current path (non-zero or even-odd) and clear the path.
  void clip();
  void eoClip();
  void clipToRect(const Rect& rect);
  void fillPath();
  void eoFillPath();
  void strokePath();
  void fillRect(const Rect& rect);
  void strokeRectWithWidth(const Rect& rect, double width);
  // Fills the clip with the gradient along start-end; `options` extends it beyond the ends.
  void drawLinearGradient(const Gradient& gradient, const Point& start, const Point& end, unsigned options);
  // The image upright in upwards-growing coordinates, scaled into `rect` / repeated over the clip
  // from `tile`.
  void drawImage(const Rect& rect, const Image& image);
  void drawTiledImage(const Rect& tile, const Image& image);

  // Receives every fill, stroke, clip, image and text drawn; nullptr stops recording.
  void setDrawingRecorder(std::function<void(const DrawingRecord&)> recorder);

 private:
  std::unique_ptr<Native> native_;
};

// Fill with the current fill colour using the copy operation / the given operation.
void RectFill(const Rect& rect);
void RectFillUsingOperation(const Rect& rect, CompositingOperation op);
// Intersects the current clip with the rectangle.
void RectClip(const Rect& rect);
// Frames the inside of the rectangle with lines `width` thick in the fill colour.
void FrameRectWithWidth(const Rect& rect, double width);
void FrameRect(const Rect& rect);

}  // namespace ak
