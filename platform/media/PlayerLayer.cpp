#include "platform/media/PlayerLayer.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
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

// Straight into the memory the window draws in, when the surface is plain memory and the clip
// leaves the whole picture to this pass: what lies over the picture is drawn after it in the same
// pass. Saves a copy of every picture. `left`, `top`: device pixels, the identity matrix set.
bool drawIntoTarget(cairo_t* cr, Player& player, int left, int top, int width, int height) {
  cairo_surface_t* target = cairo_get_group_target(cr);
  if (cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE) return false;
  const cairo_format_t format = cairo_image_surface_get_format(target);
  if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) return false;
  double sx = 1, sy = 1, ox = 0, oy = 0;
  cairo_surface_get_device_scale(target, &sx, &sy);
  cairo_surface_get_device_offset(target, &ox, &oy);
  if (sx != 1 || sy != 1 || ox != std::round(ox) || oy != std::round(oy)) return false;
  const int x = left + static_cast<int>(ox), y = top + static_cast<int>(oy);
  if (x < 0 || y < 0 || x + width > cairo_image_surface_get_width(target) ||
      y + height > cairo_image_surface_get_height(target))
    return false;
  cairo_rectangle_list_t* clips = cairo_copy_clip_rectangle_list(cr);
  bool whole = false;
  if (clips->status == CAIRO_STATUS_SUCCESS) {
    for (int i = 0; i < clips->num_rectangles && !whole; ++i) {
      const cairo_rectangle_t& c = clips->rectangles[i];
      whole = c.x <= left && c.y <= top && c.x + c.width >= left + width && c.y + c.height >= top + height;
    }
  }
  cairo_rectangle_list_destroy(clips);
  if (!whole) return false;
  cairo_surface_flush(target);
  unsigned char* data = cairo_image_surface_get_data(target);
  const int stride = cairo_image_surface_get_stride(target);
  if (!data || !player.drawPictureInto(width, height, static_cast<std::size_t>(stride),
                                       data + static_cast<std::ptrdiff_t>(y) * stride + x * 4))
    return false;
  cairo_surface_mark_dirty_rectangle(target, x, y, width, height);
  return true;
}

// The player's picture kept at its size on the screen, copied to device pixels (`left`, `top`,
// the identity matrix set); black while there is none.
void copyPicture(cairo_t* cr, Player& player, int left, int top, int width, int height) {
  cairo_rectangle(cr, left, top, width, height);
  VideoPicture picture = player.pictureForLayer(width, height);
  cairo_surface_t* surface =
      picture.pixels ? cairo_image_surface_create_for_data(const_cast<unsigned char*>(picture.pixels),
                                                           CAIRO_FORMAT_RGB24, picture.width, picture.height,
                                                           static_cast<int>(picture.stride))
                     : nullptr;
  if (surface && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, surface, left, top);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  }
  cairo_fill(cr);
  if (surface) cairo_surface_destroy(surface);
}

// Black where the picture is not, then the picture. Placed on whole device pixels without a
// transform, the picture is drawn by mpv at its size on the screen and copied as it is; turned
// or skewed, it is drawn at its size before the turn and scaled by cairo.
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
  auto player = owner ? owner->player() : nullptr;
  ak::Rect r = owner ? owner->videoRect() : ak::ZeroRect;
  if (!player || r.size.width <= 0 || r.size.height <= 0) {
    cairo_paint(cr);
    cairo_restore(cr);
    return;
  }
  ak::AffineTransform transform = owner->affineTransform();
  const bool turned = !transform.isIdentity() && transform.isFinite();
  if (turned) {
    ak::AffineTransformStruct m = transform.transformStruct();
    double cx = b.origin.x + b.size.width / 2, cy = b.origin.y + b.size.height / 2;
    cairo_matrix_t t;
    cairo_matrix_init(&t, m.m11, m.m12, m.m21, m.m22, m.tX, m.tY);
    cairo_translate(cr, cx, cy);
    cairo_transform(cr, &t);
    cairo_translate(cr, -cx, -cy);
  }
  cairo_matrix_t ctm;
  cairo_get_matrix(cr, &ctm);
  const bool straight = ctm.xy == 0 && ctm.yx == 0 && ctm.xx > 0 && ctm.yy > 0;
  if (straight) {
    // The picture's corners on whole device pixels.
    double x0 = r.origin.x, y0 = r.origin.y, x1 = r.origin.x + r.size.width, y1 = r.origin.y + r.size.height;
    cairo_user_to_device(cr, &x0, &y0);
    cairo_user_to_device(cr, &x1, &y1);
    const double left = std::round(x0), top = std::round(y0);
    const int width = static_cast<int>(std::round(x1) - left),
              height = static_cast<int>(std::round(y1) - top);
    // The bars beside the picture only: the picture covers the rest.
    double bx0 = b.origin.x, by0 = b.origin.y, bx1 = b.origin.x + b.size.width,
           by1 = b.origin.y + b.size.height;
    cairo_user_to_device(cr, &bx0, &by0);
    cairo_user_to_device(cr, &bx1, &by1);
    cairo_identity_matrix(cr);
    cairo_new_path(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_rectangle(cr, std::floor(bx0), std::floor(by0), std::ceil(bx1) - std::floor(bx0),
                    std::ceil(by1) - std::floor(by0));
    cairo_rectangle(cr, left, top, width, height);
    cairo_fill(cr);
    const int x = static_cast<int>(left), y = static_cast<int>(top);
    if (!drawIntoTarget(cr, *player, x, y, width, height)) copyPicture(cr, *player, x, y, width, height);
    cairo_restore(cr);
    return;
  }
  cairo_paint(cr);
  // Turned: drawn at the picture's size on the screen before the turn, then scaled by cairo.
  const double scale = std::sqrt(std::fabs(ctm.xx * ctm.yy - ctm.xy * ctm.yx));
  const int width = static_cast<int>(std::ceil(r.size.width * scale)),
            height = static_cast<int>(std::ceil(r.size.height * scale));
  VideoPicture picture = player->pictureForLayer(width, height);
  if (picture.pixels) {
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(const_cast<unsigned char*>(picture.pixels), CAIRO_FORMAT_RGB24,
                                            picture.width, picture.height, static_cast<int>(picture.stride));
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
      cairo_translate(cr, r.origin.x, r.origin.y);
      cairo_scale(cr, r.size.width / picture.width, r.size.height / picture.height);
      cairo_set_source_surface(cr, surface, 0, 0);
      cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
      cairo_rectangle(cr, 0, 0, picture.width, picture.height);
      cairo_fill(cr);
    }
    cairo_surface_destroy(surface);
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
  bool ready = player_ && player_->pictureSerial() > 0;
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
  ak::Size pixels = player_->videoPixelSize();
  double w = pixels.width, h = pixels.height;
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

bool PlayerLayer::isShowing() const {
  if (!view_ || view_->isHiddenOrHasHiddenAncestor()) return false;
  auto window = view_->window();
  if (!window || !window->isVisible() || window->isMiniaturized() || window->isOccluded()) return false;
  ak::Rect r = videoRect();
  return r.size.width > 0 && r.size.height > 0;
}

void PlayerLayer::frameArrived() {
  if (!readyForDisplay_) {
    ns::KeyValueChange change(this, "readyForDisplay");
    readyForDisplay_ = true;
  }
  if (!view_) return;
  // A new picture in the place of the one before changes only the picture: the bars beside it
  // stay as they are. One in another place (the next item's shape) leaves bars to draw anew.
  const ak::Rect r = videoRect();
  if (transform_.isIdentity() && r.size.width > 0 && r.size.height > 0 && ak::EqualRects(r, damagedRect_)) {
    view_->setNeedsDisplayInRect(r);
  } else {
    view_->setNeedsDisplay(true);
  }
  damagedRect_ = r;
}

}  // namespace av
