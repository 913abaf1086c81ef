#include "platform/media/PlayerLayer.h"

#include <cairo.h>

#include <algorithm>

#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/View.h"
#include "platform/media/Player.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/KeyValueObserving.h"

namespace av {

namespace {

// Draws the layer's picture; flipped so that picture rows run down the view like the pixels.
class PlayerLayerView : public ak::View {
 public:
  bool isFlipped() const override { return true; }
  bool isOpaque() const override { return true; }
  void drawRect(const ak::Rect& dirtyRect) override;
  ns::Weak<PlayerLayer> layer;
};

void PlayerLayerView::drawRect(const ak::Rect&) {
  auto context = ak::GraphicsContext::currentContext();
  auto owner = layer.lock();
  if (!context) return;
  auto* cr = static_cast<cairo_t*>(context->nativeHandle());
  ak::Rect b = bounds();
  cairo_save(cr);
  cairo_rectangle(cr, b.origin.x, b.origin.y, b.size.width, b.size.height);
  cairo_clip(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  auto player = owner ? owner->player() : nullptr;
  const VideoFrame* frame = player ? &player->currentVideoFrame() : nullptr;
  ak::Rect r = owner ? owner->videoRect() : ak::ZeroRect;
  if (frame && frame->serial > 0 && r.size.width > 0 && r.size.height > 0 &&
      frame->pixels.size() >= static_cast<std::size_t>(frame->stride) * frame->height) {
    cairo_surface_t* picture =
        cairo_image_surface_create_for_data(const_cast<unsigned char*>(frame->pixels.data()),
                                            CAIRO_FORMAT_RGB24, frame->width, frame->height, frame->stride);
    if (cairo_surface_status(picture) == CAIRO_STATUS_SUCCESS) {
      ak::AffineTransform transform = owner->affineTransform();
      ak::AffineTransformStruct m = transform.transformStruct();
      if (!transform.isIdentity() && transform.isFinite()) {
        double cx = b.origin.x + b.size.width / 2, cy = b.origin.y + b.size.height / 2;
        cairo_matrix_t t;
        cairo_matrix_init(&t, m.m11, m.m12, m.m21, m.m22, m.tX, m.tY);
        cairo_translate(cr, cx, cy);
        cairo_transform(cr, &t);
        cairo_translate(cr, -cx, -cy);
      }
      cairo_translate(cr, r.origin.x, r.origin.y);
      cairo_scale(cr, r.size.width / frame->width, r.size.height / frame->height);
      cairo_set_source_surface(cr, picture, 0, 0);
      cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
      cairo_rectangle(cr, 0, 0, frame->width, frame->height);
      cairo_fill(cr);
    }
    cairo_surface_destroy(picture);
  }
  cairo_restore(cr);
}

}  // namespace

PL_CLASS_NAMED(PlayerLayer, "AVPlayerLayer", ns::Object) {
  cls.property<&PlayerLayer::isReadyForDisplay>("readyForDisplay", "R,N,GisReadyForDisplay");
  cls.property<&PlayerLayer::player, &PlayerLayer::setPlayer>("player", "&,N");
}

PlayerLayer::~PlayerLayer() {
  if (player_) player_->removeLayer(this);
  if (view_) view_->removeFromSuperview();
}

ns::Ref<PlayerLayer> PlayerLayer::playerLayerWithPlayer(const ns::Ref<Player>& player) {
  auto layer = ns::make<PlayerLayer>();
  layer->setPlayer(player);
  return layer;
}

void PlayerLayer::setPlayer(const ns::Ref<Player>& player) {
  if (player == player_) return;
  if (player_) player_->removeLayer(this);
  player_ = player;
  if (player_) player_->addLayer(std::static_pointer_cast<PlayerLayer>(shared_from_this()));
  bool ready = player_ && player_->currentVideoFrame().serial > 0;
  if (ready != readyForDisplay_) {
    ns::KeyValueChange change(this, "readyForDisplay");
    readyForDisplay_ = ready;
  }
  if (view_) view_->setNeedsDisplay(true);
}

void PlayerLayer::setVideoGravity(const std::string& gravity) {
  gravity_ = gravity == AVLayerVideoGravityResizeAspectFill || gravity == AVLayerVideoGravityResize
                 ? gravity
                 : std::string(AVLayerVideoGravityResizeAspect);
  if (view_) view_->setNeedsDisplay(true);
}

void PlayerLayer::setAffineTransform(const ak::AffineTransform& transform) {
  transform_ = transform;
  if (view_) view_->setNeedsDisplay(true);
}

ak::Rect PlayerLayer::bounds() const {
  return view_ ? view_->bounds() : ak::ZeroRect;
}

ak::Rect PlayerLayer::videoRect() const {
  ak::Rect b = bounds();
  if (!player_ || b.size.width <= 0 || b.size.height <= 0) return ak::ZeroRect;
  const VideoFrame& frame = player_->currentVideoFrame();
  double w = frame.width, h = frame.height;
  if (auto item = player_->currentItem()) {
    ak::Size size = item->presentationSize();
    if (size.width > 0 && size.height > 0) {
      w = size.width;
      h = size.height;
    }
  }
  if (w <= 0 || h <= 0) return ak::ZeroRect;
  if (gravity_ == AVLayerVideoGravityResize) return b;
  double sx = b.size.width / w, sy = b.size.height / h;
  double scale = gravity_ == AVLayerVideoGravityResizeAspectFill ? std::max(sx, sy) : std::min(sx, sy);
  double vw = w * scale, vh = h * scale;
  return ak::MakeRect(b.origin.x + (b.size.width - vw) / 2, b.origin.y + (b.size.height - vh) / 2, vw, vh);
}

void PlayerLayer::addToView(const ns::Ref<ak::View>& host) {
  removeFromSuperlayer();
  if (!host) return;
  auto view = ak::make<PlayerLayerView>(host->bounds());
  view->layer = std::static_pointer_cast<PlayerLayer>(shared_from_this());
  view->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewHeightSizable);
  host->addSubview(view);
  view_ = view;
  view_->setNeedsDisplay(true);
}

void PlayerLayer::removeFromSuperlayer() {
  if (!view_) return;
  view_->removeFromSuperview();
  view_ = nullptr;
}

void PlayerLayer::frameArrived() {
  if (!readyForDisplay_) {
    ns::KeyValueChange change(this, "readyForDisplay");
    readyForDisplay_ = true;
  }
  if (view_) view_->setNeedsDisplay(true);
}

}  // namespace av
