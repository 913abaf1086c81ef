#include "app/player/PlayerControlBar.h"

#include <algorithm>
#include <cmath>

#include "app/cache/CacheState.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/library/DBAccess.h"
#include "app/player/PlayerViewController.h"
#include "common/AppUtilities.h"
#include "common/IBrowsingInterface.h"
#include "common/Settings.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/TextField.h"
#include "platform/media/Player.h"
#include "platform/media/PlayerItem.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/CustomSlider.h"
#include "ui/ProgressSliderCell.h"
#include "ui/VideoQualityPopUpButtonCell.h"
#include "ui/VolumeSliderCell.h"

PL_CLASS(PlayerControlBar, ak::View) {
  cls.method<&PlayerControlBar::onPrev>("onPrev:");
  cls.method<&PlayerControlBar::onNext>("onNext:");
  cls.method<&PlayerControlBar::onPlayPause>("onPlayPause:");
  cls.method<&PlayerControlBar::onProgress>("onProgress:");
  cls.method<&PlayerControlBar::onVolume>("onVolume:");
  cls.method<&PlayerControlBar::onQuality>("onQuality:");
}

namespace {

constexpr double kBarWidth = 640;

struct Quality {
  const char* title;
  const char* quality;
  std::vector<std::int32_t> itags;
};
const std::vector<Quality>& qualities() {
  static const std::vector<Quality> table = {
      {"1080p", "1080", {37, 137}}, {"720p", "720", {22}}, {"360p", "360", {18}}, {"240p", "240", {36}}};
  return table;
}

template <class Cell>
ns::Ref<CustomSlider> makeSlider(const ak::Rect& frame) {
  auto slider = ak::make<CustomSlider>(frame);
  auto cell = ns::make<Cell>();
  ak::NibCoder coder;
  coder.frame = frame;
  cell->initWithCoder(coder);
  slider->setCell(cell);
  return slider;
}

}  // namespace

PlayerControlBar::PlayerControlBar() = default;

PlayerControlBar::~PlayerControlBar() {
  auto controller = controller_.lock();
  if (controller && timeObserver_) controller->player()->removeTimeObserver(timeObserver_);
}

void PlayerControlBar::initWithFrame(const ak::Rect& frame) {
  ak::View::initWithFrame(frame);
  build();
}

ns::Ref<PlayerControlBar> PlayerControlBar::initWithController(
    const ns::Ref<PlayerViewController>& controller) {
  auto bar = ak::make<PlayerControlBar>(ak::MakeRect(0, 0, kBarWidth, kHeight));
  bar->setController(controller);
  return bar;
}

void PlayerControlBar::setController(const ns::Ref<PlayerViewController>& controller) {
  auto previous = controller_.lock();
  if (previous == controller) return;
  if (previous && timeObserver_) previous->player()->removeTimeObserver(timeObserver_);
  timeObserver_ = nullptr;
  controller_ = controller;
  if (!controller) return;
  std::weak_ptr<PlayerControlBar> weak = std::static_pointer_cast<PlayerControlBar>(shared_from_this());
  controller->player()->setVolume(float(volume_->doubleValue()));
  timeObserver_ = controller->player()->addPeriodicTimeObserverForInterval_queue_usingBlock(
      cm::TimeMakeWithSeconds(kTimeObserverSeconds, cm::kPreferredTimescale), nullptr, [weak](cm::Time) {
        if (auto bar = weak.lock()) bar->updateProgress();
      });
}

void PlayerControlBar::build() {
  auto self = std::static_pointer_cast<PlayerControlBar>(shared_from_this());
  auto button = [&](double x, const char* title, const char* action) {
    auto b = ak::make<ak::Button>(ak::MakeRect(x, 8, 32, 24));
    b->setTitle(title);
    b->setTarget(self);
    b->setAction(ns::Sel(action));
    addSubview(b);
    return b;
  };
  prevBtn_ = button(4, "<<", "onPrev:");
  playBtn_ = button(40, ">", "onPlayPause:");
  nextBtn_ = button(76, ">>", "onNext:");

  progress_ = makeSlider<ProgressSliderCell>(ak::MakeRect(116, 10, 300, 20));
  progress_->setMinValue(0);
  progress_->setMaxValue(0);
  // Seeks once the knob is let go.
  progress_->setContinuous(false);
  progress_->setTarget(self);
  progress_->setAction(ns::Sel("onProgress:"));
  progress_->setAutoresizingMask(ak::ViewWidthSizable);
  addSubview(progress_);

  timeLabel_ = ak::make<ak::TextField>(ak::MakeRect(420, 10, 60, 20));
  timeLabel_->setEditable(false);
  timeLabel_->setBezeled(false);
  timeLabel_->setDrawsBackground(false);
  // The bar lies on the window's black: the platform's dark label text would not show.
  timeLabel_->setTextColor(ak::Color::colorWithCalibratedWhite_alpha(0.85, 1.0));
  timeLabel_->setAutoresizingMask(ak::ViewMinXMargin);
  addSubview(timeLabel_);

  volume_ = makeSlider<VolumeSliderCell>(ak::MakeRect(484, 10, 70, 20));
  volume_->setMinValue(0);
  volume_->setMaxValue(1);
  volume_->setDoubleValue(1);
  volume_->setContinuous(true);
  volume_->setTarget(self);
  volume_->setAction(ns::Sel("onVolume:"));
  volume_->setAutoresizingMask(ak::ViewMinXMargin);
  addSubview(volume_);

  quality_ = ak::make<ak::PopUpButton>(ak::MakeRect(560, 8, 76, 24), false);
  auto cell = ns::make<VideoQualityPopUpButtonCell>();
  ak::NibCoder coder;
  coder.frame = quality_->frame();
  cell->initWithCoder(coder);
  quality_->setCell(cell);
  quality_->setTarget(self);
  quality_->setAction(ns::Sel("onQuality:"));
  quality_->setAutoresizingMask(ak::ViewMinXMargin);
  quality_->setEnabled(false);
  addSubview(quality_);
}

void PlayerControlBar::onPrev(const ns::Ref<ns::Object>& sender) {
  if (auto list = installedCurrentPlaylist()) list->prevTrack(sender);
}

void PlayerControlBar::onNext(const ns::Ref<ns::Object>& sender) {
  if (auto list = installedCurrentPlaylist()) list->nextTrack(sender);
}

void PlayerControlBar::onPlayPause(const ns::Ref<ns::Object>&) {
  if (auto controller = controller_.lock()) controller->playPause();
}

void PlayerControlBar::onProgress(const ns::Ref<ns::Object>&) {
  auto controller = controller_.lock();
  if (!controller || !controller->player()->currentItem()) return;
  controller->player()->seekToTime_toleranceBefore_toleranceAfter(
      cm::TimeMakeWithSeconds(progress_->doubleValue(), cm::kPreferredTimescale), cm::kTimeZero,
      cm::kTimeZero);
}

void PlayerControlBar::onVolume(const ns::Ref<ns::Object>&) {
  if (auto controller = controller_.lock()) controller->player()->setVolume(float(volume_->doubleValue()));
}

void PlayerControlBar::updateProgress() {
  auto controller = controller_.lock();
  if (!controller) return;
  auto item = controller->player()->currentItem();
  double duration = item ? cm::TimeGetSeconds(item->duration()) : 0;
  if (!std::isfinite(duration)) duration = 0;
  double now = controller->currentTimeSeconds();
  progress_->setMaxValue(duration);
  // While the user holds the knob it stays where the mouse put it: the seek takes its value when
  // the knob is let go.
  if (!progress_->cell() || progress_->cell()->mouseDownFlags() == 0) progress_->setDoubleValue(now);
  // A damaged or forged file can put the position past what an int counts: whole seconds are
  // taken in a range every count holds.
  timeLabel_->setStringValue(
      timeStringFromSeconds(static_cast<long long>(std::clamp(now, -1e15, 1e15)), false));
}

std::vector<std::string> PlayerControlBar::qualityTitles(const std::vector<std::int32_t>& itags) {
  std::vector<std::string> titles;
  for (auto& q : qualities()) {
    for (auto itag : q.itags) {
      if (std::find(itags.begin(), itags.end(), itag) != itags.end()) {
        titles.emplace_back(q.title);
        break;
      }
    }
  }
  return titles;
}

void PlayerControlBar::updateQualityMenu() {
  quality_->removeAllItems();
  quality_->setEnabled(false);
  auto controller = controller_.lock();
  auto id = controller ? controller->videoId() : std::nullopt;
  if (!id) return;
  auto formats = getAvailableVideoFormats(*id);
  if (!formats) return;
  quality_->addItemsWithTitles(qualityTitles(*formats));
  quality_->selectItemWithTitle(std::to_string(getCachedVideoHeight(*id)) + "p");
  // A saved file is the user's: changing the quality would delete it.
  quality_->setEnabled(!DBAccess::getInstance()->getDownloadedVideoFilePath(*id));
}

void PlayerControlBar::onQuality(const ns::Ref<ns::Object>&) {
  auto controller = controller_.lock();
  auto id = controller ? controller->videoId() : std::nullopt;
  if (!id || DBAccess::getInstance()->getDownloadedVideoFilePath(*id)) return;
  auto title = quality_->titleOfSelectedItem();
  for (auto& q : qualities()) {
    if (title != q.title) continue;
    if (std::to_string(getCachedVideoHeight(*id)) + "p" == title) return;
    setChosenVideoQuality(*id, std::string(q.quality));
    controller->reloadWithoutCache();
    return;
  }
}
