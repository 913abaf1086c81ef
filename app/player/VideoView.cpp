#include "app/player/VideoView.h"

#include "platform/appkit/Color.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/TextField.h"
#include "platform/media/Player.h"
#include "platform/media/PlayerLayer.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/ExternalLibrary/SpinningProgressIndicator/SpinningProgressIndicator.h"

PL_CLASS(VideoView, ak::View) {}

namespace {
constexpr double kSpinnerSize = 32;
constexpr double kLabelHeight = 24;
}  // namespace

VideoView::VideoView() = default;

void VideoView::initWithFrame(const ak::Rect& frame) {
  ak::View::initWithFrame(frame);
  build();
}

void VideoView::build() {
  auto bounds = this->bounds();
  player_ = ns::make<av::Player>();
  layer_ = av::PlayerLayer::playerLayerWithPlayer(player_);
  layer_->addToView(std::static_pointer_cast<ak::View>(shared_from_this()));

  label_ = ak::make<ak::TextField>(
      ak::MakeRect(0, (bounds.size.height - kLabelHeight) / 2, bounds.size.width, kLabelHeight));
  label_->setEditable(false);
  label_->setBezeled(false);
  label_->setDrawsBackground(false);
  label_->setTextColor(ak::colors::whiteColor());
  label_->setAlignment(ak::TextAlignment::Center);
  label_->setAutoresizingMask(ak::ViewWidthSizable | ak::ViewMinYMargin | ak::ViewMaxYMargin);
  label_->setHidden(true);
  addSubview(label_);

  // The spinner turns on the main thread: the view tree is not drawn from others.
  spinner_ = ak::make<SpinningProgressIndicator>(ak::MakeRect((bounds.size.width - kSpinnerSize) / 2,
                                                              (bounds.size.height - kSpinnerSize) / 2,
                                                              kSpinnerSize, kSpinnerSize));
  spinner_->setColor(ak::colors::whiteColor());
  spinner_->setUsesThreadedAnimation(false);
  spinner_->setAutoresizingMask(ak::ViewMinXMargin | ak::ViewMaxXMargin | ak::ViewMinYMargin |
                                ak::ViewMaxYMargin);
  spinner_->setHidden(true);
  addSubview(spinner_);
}

void VideoView::setMessage(const std::string& message) {
  label_->setStringValue(message);
  label_->setHidden(message.empty());
}

std::string VideoView::message() const {
  return label_->isHidden() ? std::string() : label_->stringValue();
}

bool VideoView::isMessageVisible() const {
  return !label_->isHidden();
}

void VideoView::setBuffering(bool buffering) {
  if (buffering == buffering_) return;
  buffering_ = buffering;
  spinner_->setHidden(!buffering);
  if (buffering) {
    spinner_->startAnimation(nullptr);
  } else {
    spinner_->stopAnimation(nullptr);
  }
}

void VideoView::drawRect(const ak::Rect& dirty) {
  ak::colors::blackColor()->set();
  ak::RectFill(dirty);
}
