#include "app/player/PlayerViewController.h"

#include <cmath>
#include <filesystem>

#include "app/cache/CacheNotifications.h"
#include "app/cache/CacheServer.h"
#include "app/cache/CacheState.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/library/DBAccess.h"
#include "app/player/PlayerControlBar.h"
#include "app/player/PlayerNib.h"
#include "app/player/VideoView.h"
#include "app/youtube/SearchEntry.h"
#include "app/youtube/YoutubeSupport.h"
#include "common/CacheUtilities.h"
#include "common/IBrowsingInterface.h"
#include "common/IMainWindowController.h"
#include "common/Settings.h"
#include "lib/foundation/BlockObservation.h"
#include "lib/foundation/TimerBlocks.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Nib.h"
#include "platform/core/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/MediaNames.h"
#include "platform/media/Player.h"
#include "platform/media/PlayerItem.h"
#include "platform/net/URL.h"
#include "platform/runloop/Timer.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/KeyValueObserving.h"

PL_CLASS(PlayerViewController, ak::ViewController) {}

namespace {

constexpr char kCanNotPlayMessage[] = "Can not play video";
constexpr char kNibName[] = "PlayerViewController";
constexpr double kDefaultWidth = 640;
constexpr double kDefaultHeight = 360;

// The direct stream for the preferred quality when nothing is cached.
std::optional<std::string> directStreamURL(const YoutubeSupport& record, const std::string& quality) {
  std::vector<std::int32_t> order;
  if (quality == "1080") {
    order = {37, 22, 18};
  } else if (quality == "720") {
    order = {22, 18};
  } else if (quality == "240") {
    order = {36, 18};
  } else {
    order = {18};
  }
  for (auto itag : order) {
    auto it = record.urlMap().find(itag);
    if (it != record.urlMap().end() && !it->second.empty()) return it->second;
  }
  return std::nullopt;
}

bool isRemoteScheme(const ns::Ref<ns::URL>& url) {
  auto scheme = url ? url->scheme() : std::nullopt;
  return scheme && (*scheme == "http" || *scheme == "https");
}

double secondsOf(cm::Time time) {
  return cm::TimeGetSeconds(time);
}

}  // namespace

PlayerViewController::PlayerViewController() = default;

PlayerViewController::~PlayerViewController() {
  forgetItem();
  if (messageTimer_) messageTimer_->invalidate();
  auto center = ns::NotificationCenter::defaultCenter();
  for (auto& token : tokens_) center->removeObserver(token.get());
}

ns::Ref<PlayerViewController> PlayerViewController::init() {
  auto controller = ns::make<PlayerViewController>();
  controller->initWithNibName_bundle(std::string(kNibName), nullptr);
  controller->view();
  return controller;
}

void PlayerViewController::loadView() {
  registerPlayerNib();
  ak::Nib::loadNibNamed_owner(kNibName, shared_from_this());
  // Never without its video view: the rest of the controller relies on it.
  if (!std::dynamic_pointer_cast<VideoView>(ak::ViewController::view())) {
    ns::LogError("PlayerViewController: the interface \"%s\" set no video view", std::string(kNibName));
    setView(ak::make<VideoView>(ak::MakeRect(0, 0, kDefaultWidth, kDefaultHeight)));
  }
  if (!controlBar_) setControlBar(PlayerControlBar::initWithController(self<PlayerViewController>()));
}

void PlayerViewController::awakeFromNib() {
  ak::ViewController::awakeFromNib();
  if (!tokens_.empty()) return;
  std::weak_ptr<PlayerViewController> weak = self<PlayerViewController>();
  auto center = ns::NotificationCenter::defaultCenter();
  tokens_.push_back(center->addObserverForName_object_queue_usingBlock(
      std::string(k1080pStatusChangedNotification), nullptr, nullptr,
      [weak](const ns::Ref<ns::Notification>&) {
        if (auto self = weak.lock()) self->onCacheChanged();
      }));
  tokens_.push_back(center->addObserverForName_object_queue_usingBlock(
      std::string(ak::ApplicationWillTerminateNotification), nullptr, nullptr,
      [weak](const ns::Ref<ns::Notification>&) {
        if (auto self = weak.lock()) self->savePosition();
      }));
  setPlayerViewController(self<PlayerViewController>());
}

void PlayerViewController::setControlBar(const ns::Ref<PlayerControlBar>& bar) {
  if (controlBar_ == bar) return;
  if (controlBar_) controlBar_->setController(nullptr);
  controlBar_ = bar;
  if (bar) bar->setController(self<PlayerViewController>());
}

ns::Ref<VideoView> PlayerViewController::videoView() {
  return std::static_pointer_cast<VideoView>(view());
}

ns::Ref<av::Player> PlayerViewController::player() {
  return videoView()->player();
}

std::optional<std::string> PlayerViewController::videoId() {
  std::shared_ptr<const std::string> id;
  {
    std::lock_guard lock(videoIdMutex_);
    id = videoId_;
  }
  // The string never changes once made: it is copied outside the lock.
  if (!id) return std::nullopt;
  return *id;
}

void PlayerViewController::setVideoId(std::optional<std::string> videoId) {
  auto id = videoId ? std::make_shared<const std::string>(std::move(*videoId)) : nullptr;
  std::lock_guard lock(videoIdMutex_);
  videoId_.swap(id);
}

void PlayerViewController::loadVideo(const ns::Ref<SearchEntry>& row) {
  load(row, false);
}

void PlayerViewController::playVideo(const ns::Ref<SearchEntry>& row) {
  load(row, true);
}

void PlayerViewController::load(const ns::Ref<SearchEntry>& row, bool play) {
  savePosition();
  ++generation_;
  forgetItem();
  player()->replaceCurrentItemWithPlayerItem(nullptr);
  videoView()->setBuffering(false);
  auto id = row ? row->videoid() : std::nullopt;
  if (id && !isSafeVideoId(*id)) id.reset();
  // The id changes first, so that a response still serving the old video gives up.
  setVideoId(id);
  row_ = row;
  if (!id) return;

  if (YoutubeSupport::failedRequestErrorForVideoId(*id)) {
    setVideoId(std::nullopt);
    showOSD(kCanNotPlayMessage);
    return;
  }
  startLoading(*id, DBAccess::getInstance()->getPlayPositionForId(*id), play);
}

void PlayerViewController::startLoading(const std::string& videoId, double position, bool play) {
  pendingSeek_ = position;
  if (auto file = localFileForVideoId(videoId)) {
    loadURL(ns::URL::fileURLWithPath(*file), position, play);
    controlBar_->updateQualityMenu();
    return;
  }
  playWhenReady_ = play;
  resolve(videoId);
}

void PlayerViewController::reloadWithoutCache() {
  auto id = videoId();
  if (!id || DBAccess::getInstance()->getDownloadedVideoFilePath(*id)) return;
  double position = resumePosition();
  bool playing = playWhenReady_ || player()->rate() != 0;
  ++generation_;
  player()->pause();
  forgetItem();
  player()->replaceCurrentItemWithPlayerItem(nullptr);
  // The partial goes first, so that the new download starts from nothing.
  stopAndDeleteDownload(*id);
  deleteCachedVideo(*id);
  startLoading(*id, position, playing);
}

void PlayerViewController::resolve(const std::string& videoId) {
  auto record = YoutubeSupport::initWithYoutubeId(videoId);
  auto generation = generation_;
  std::weak_ptr<PlayerViewController> weak =
      std::static_pointer_cast<PlayerViewController>(shared_from_this());
  record->runRequest([weak, record, generation, videoId] {
    auto self = weak.lock();
    // Another video was loaded meanwhile: this answer is not wanted any more.
    if (!self || self->generation_ != generation) return;
    if (record->urlMap().empty()) {
      record->failedRequest();
      self->setVideoId(std::nullopt);
      self->showOSD(kCanNotPlayMessage);
      return;
    }
    // Play as asked by now: a pause while the video resolved holds.
    bool wantsPlay = self->playWhenReady_;
    // A reload resolves while the old item may still play: it goes on from where that one is.
    double position = self->resumePosition();
    if (getIntSetting(kCachePolicyKey) != 0) {
      auto main = mainWindowController();
      auto server = main ? main->cacheServer() : nullptr;
      if (!server) {
        self->showOSD(kCanNotPlayMessage);
        return;
      }
      server->restart();
      auto downloader = getDownloaderForVideoId(videoId);
      if (!downloader) downloader = YoutubeDownloader::initWithId(videoId);
      if (!downloader) return;
      downloader->setValidAfterToZero();
      downloader->setYoutubeSupport(record);
      if (wantsPlay) downloader->setPlayAfterDownloadStart(true);
      downloader->urlFetched(record);
      downloader->startDownloadAlways();
      ns::Ref<ns::URL> url;
      // A pair plays its single-file preview while both halves download.
      if (downloader->isDashStream() && downloader->previewUrl()) {
        url = ns::URL::URLWithString(*downloader->previewUrl());
      }
      bool preview = isRemoteScheme(url);
      if (!preview) url = server->urlForVideoId(videoId);
      self->loadURL(url, position, wantsPlay);
      self->fromServer_ = !preview;
      self->controlBar_->updateQualityMenu();
      return;
    }
    auto quality = getChosenVideoQuality(videoId).value_or(getPreferredVideoQuality());
    auto direct = directStreamURL(*record, quality);
    auto url = direct ? ns::URL::URLWithString(*direct) : nullptr;
    if (!isRemoteScheme(url)) {
      self->showOSD(kCanNotPlayMessage);
      return;
    }
    self->loadURL(url, position, wantsPlay);
  });
}

std::optional<std::string> PlayerViewController::localFileForVideoId(const std::string& videoId) {
  std::error_code ec;
  if (auto saved = DBAccess::getInstance()->getDownloadedVideoFilePath(videoId)) {
    if (std::filesystem::is_regular_file(*saved, ec)) return saved;
  }
  auto cached = getCachedVideoPath(videoId);
  if (cached && std::filesystem::is_regular_file(*cached, ec)) return cached;
  return std::nullopt;
}

void PlayerViewController::loadURL(const ns::Ref<ns::URL>& url, double position, bool play) {
  forgetItem();
  fromServer_ = false;
  waitingForReload_ = false;
  seekWaitsForDuration_ = false;
  positionApplied_ = false;
  pendingSeek_ = position;
  playWhenReady_ = play;
  auto item = av::PlayerItem::initWithURL(url);
  if (!item) {
    showOSD(kCanNotPlayMessage);
    return;
  }
  item_ = item;
  observeItem(item);
  player()->replaceCurrentItemWithPlayerItem(item);
  videoView()->setBuffering(true);
  if (item->status() == av::PlayerItemStatusReadyToPlay) itemReady();
}

void PlayerViewController::observeItem(const ns::Ref<av::PlayerItem>& item) {
  std::weak_ptr<PlayerViewController> weak =
      std::static_pointer_cast<PlayerViewController>(shared_from_this());
  std::weak_ptr<av::PlayerItem> weakItem = item;
  observerId_ = ObjectBlockObservation::addObserverForKeyPaths_task(
      item.get(), {"status", "duration", "playbackLikelyToKeepUp", "playbackBufferEmpty"},
      [weak, weakItem](ns::Ref<ns::Object>, std::string keyPath) {
        auto self = weak.lock();
        auto item = weakItem.lock();
        if (!self || !item || item != self->item_) return;
        if (keyPath == "status") {
          if (item->status() == av::PlayerItemStatusReadyToPlay) self->itemReady();
          if (item->status() == av::PlayerItemStatusFailed) self->itemFailed();
          return;
        }
        if (keyPath == "duration") {
          self->applyStoredPosition();
          return;
        }
        self->videoView()->setBuffering(item->isPlaybackBufferEmpty() && !item->isPlaybackLikelyToKeepUp());
      });
  auto center = ns::NotificationCenter::defaultCenter();
  itemTokens_[0] = center->addObserverForName_object_queue_usingBlock(
      std::string(av::AVPlayerItemDidPlayToEndTimeNotification), item, nullptr,
      [weak](const ns::Ref<ns::Notification>&) {
        if (auto self = weak.lock()) self->itemEnded();
      });
  itemTokens_[1] = center->addObserverForName_object_queue_usingBlock(
      std::string(av::AVPlayerItemFailedToPlayToEndTimeNotification), item, nullptr,
      [weak](const ns::Ref<ns::Notification>&) {
        if (auto self = weak.lock()) self->itemFailed();
      });
}

void PlayerViewController::forgetItem() {
  if (item_ && !observerId_.empty())
    ObjectBlockObservation::removeObserversWithIdentifier(item_.get(), observerId_);
  observerId_.clear();
  auto center = ns::NotificationCenter::defaultCenter();
  for (auto& token : itemTokens_) {
    if (token) center->removeObserver(token.get());
    token = nullptr;
  }
  item_ = nullptr;
  waitingForReload_ = false;
  positionApplied_ = false;
}

void PlayerViewController::itemReady() {
  videoView()->setBuffering(!item_->isPlaybackLikelyToKeepUp() && item_->isPlaybackBufferEmpty());
  seekWaitsForDuration_ = true;
  applyStoredPosition();
  if (playWhenReady_) player()->play();
}

void PlayerViewController::applyStoredPosition() {
  if (!seekWaitsForDuration_ || !item_) return;
  double position = pendingSeek_;
  double duration = secondsOf(item_->duration());
  // The stored position is checked against the duration, which may come after the status.
  if (position > 0 && !std::isfinite(duration)) return;
  seekWaitsForDuration_ = false;
  positionApplied_ = true;
  pendingSeek_ = 0;
  // A stored position that cannot be a place in this video starts it from the beginning.
  if (!std::isfinite(position) || position <= 0 || position >= duration) return;
  player()->seekToTime_toleranceBefore_toleranceAfter(
      cm::TimeMakeWithSeconds(position, cm::kPreferredTimescale), cm::kTimeZero, cm::kTimeZero);
}

void PlayerViewController::itemEnded() {
  savePosition();
  auto main = mainWindowController();
  int repeat = main ? main->repeatType() : 0;
  switch (repeat) {
    case 0:
    case 1: {
      auto list = installedCurrentPlaylist();
      if (!list) return;
      ns::Ref<ns::Object> sender;
      if (repeat == 1) sender = shared_from_this();
      list->nextTrack(sender);
      return;
    }
    case 2:
      player()->seekToTime_toleranceBefore_toleranceAfter(cm::kTimeZero, cm::kTimeZero, cm::kTimeZero);
      player()->play();
      return;
    default:
      return;
  }
}

void PlayerViewController::itemFailed() {
  auto id = videoId();
  if (!id || !item_ || waitingForReload_) return;
  if (fromServer_) {
    // The download ended while the server restarted: the cached file goes on from here.
    if (localFileForVideoId(*id)) {
      updateVideoUrlIfNeeded(*id);
      return;
    }
    // The local server restarted after a stall: the download goes on and the player comes
    // back at this place when the video's URL is renewed.
    auto downloader = getDownloaderForVideoId(*id);
    // An error reply the download waits out brings nothing before its retry: the row's error
    // shows instead of a spinner that nothing would end.
    std::string errorText = downloader ? downloader->downloadErrorText() : std::string();
    if (!errorText.empty() && downloader->isWaitingToRetry()) {
      videoView()->setBuffering(false);
      showOSD(errorText);
      return;
    }
    if (downloader && !downloader->isComplete() && !downloader->isError()) {
      pendingSeek_ = resumePosition();
      positionApplied_ = false;
      waitingForReload_ = true;
      videoView()->setBuffering(true);
      return;
    }
  }
  videoView()->setBuffering(false);
  showOSD(kCanNotPlayMessage);
}

double PlayerViewController::resumePosition() {
  if (item_ && positionApplied_) return currentTimeSeconds();
  return pendingSeek_;
}

void PlayerViewController::play() {
  playWhenReady_ = true;
  if (item_ && item_->status() == av::PlayerItemStatusReadyToPlay) player()->play();
}

void PlayerViewController::pause() {
  playWhenReady_ = false;
  player()->pause();
  savePosition();
}

void PlayerViewController::playPause() {
  if (isPlaying()) {
    pause();
  } else {
    play();
  }
}

bool PlayerViewController::isPlaying() {
  return item_ && player()->rate() != 0;
}

double PlayerViewController::currentTimeSeconds() {
  if (!item_) return 0;
  double seconds = secondsOf(player()->currentTime());
  return std::isfinite(seconds) ? seconds : 0;
}

void PlayerViewController::stopVideo() {
  savePosition();
  ++generation_;
  playWhenReady_ = false;
  player()->pause();
  forgetItem();
  player()->replaceCurrentItemWithPlayerItem(nullptr);
  videoView()->setBuffering(false);
  setVideoId(std::nullopt);
  row_ = nullptr;
}

void PlayerViewController::savePosition() {
  auto id = videoId();
  if (!id || !item_) return;
  // An item waiting for its reload keeps the place it failed at.
  if (item_->status() != av::PlayerItemStatusReadyToPlay && !waitingForReload_) return;
  double position = waitingForReload_ ? pendingSeek_ : currentTimeSeconds();
  double duration = secondsOf(item_->duration());
  auto db = DBAccess::getInstance();
  // A video merely loaded, or left at its start, keeps its played state: a short clip is
  // always within the margin of its end.
  if (position <= 0) return;
  if (std::isfinite(duration) && duration - position < kPlayedMargin) {
    db->savePlayPosition_forId(0, *id);
    db->savePlayedState_forId(1, *id);
    return;
  }
  db->savePlayPosition_forId(static_cast<float>(position), *id);
  db->savePlayedState_forId(2, *id);
}

void PlayerViewController::updateVideoUrlIfNeeded(const std::string& videoId) {
  if (this->videoId() != videoId) return;
  double position = resumePosition();
  bool playing = playWhenReady_ || player()->rate() != 0;
  // A renewal still resolving is replaced by this one.
  ++generation_;
  if (auto file = localFileForVideoId(videoId)) {
    loadURL(ns::URL::fileURLWithPath(*file), position, playing);
    controlBar_->updateQualityMenu();
    return;
  }
  // Not cached yet: resolved again, which also restarts its download; the item plays on (or
  // waits) meanwhile.
  if (!positionApplied_) pendingSeek_ = position;
  playWhenReady_ = playing;
  resolve(videoId);
}

void PlayerViewController::onCacheChanged() {
  auto id = videoId();
  if (id && localFileForVideoId(*id)) updateVideoUrlIfNeeded(*id);
}

void PlayerViewController::shortSeekForward() {
  shortSeekBy(kShortSeekSeconds);
}

void PlayerViewController::shortSeekBack() {
  shortSeekBy(-kShortSeekSeconds);
}

void PlayerViewController::shortSeekBy(double seconds) {
  if (!item_) return;
  // From where the last seek is headed, so that quick presses add up.
  double target = std::max(0.0, currentTimeSeconds() + seconds);
  double duration = secondsOf(item_->duration());
  if (std::isfinite(duration)) target = std::min(target, duration);
  // Exact: the nearest key frame can lie seconds away, even behind a forward seek.
  player()->seekToTime_toleranceBefore_toleranceAfter(
      cm::TimeMakeWithSeconds(target, cm::kPreferredTimescale), cm::kTimeZero, cm::kTimeZero);
}

void PlayerViewController::showOSD(const std::string& message) {
  videoView()->setMessage(message);
  if (messageTimer_) messageTimer_->invalidate();
  std::weak_ptr<PlayerViewController> weak =
      std::static_pointer_cast<PlayerViewController>(shared_from_this());
  messageTimer_ = TimerBlocks::scheduledTimerWithTimeInterval_block_repeats(
      kMessageSeconds,
      [weak](ns::Ref<ns::Timer>) {
        if (auto self = weak.lock()) {
          self->videoView()->setMessage("");
          self->messageTimer_ = nullptr;
        }
      },
      false);
}
