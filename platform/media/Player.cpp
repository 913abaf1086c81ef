#include "platform/media/Player.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include <mpv/client.h>

#include "platform/appkit/Presenter.h"
#include "platform/core/Exception.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/media/MediaNames.h"
#include "platform/media/MpvLibrary.h"
#include "platform/media/PlayerEngine.h"
#include "platform/media/PlayerLayer.h"
#include "platform/runloop/Thread.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/KeyValueObserving.h"

namespace av {

namespace {

struct AudioSetting {
  std::mutex lock;
  std::string output;
};

AudioSetting& audioSetting() {
  static ns::NoDestructor<AudioSetting> setting;
  return *setting;
}

}  // namespace

struct PlayerEngine::TimeObserver : ns::Object {
  double interval = 0;
  ns::Ref<dispatch::Queue> queue;
  Player::TimeBlock block;
  double last = NAN;
  std::string className() const override { return "AVPeriodicTimebaseObserver"; }
};

void PlayerEngine::fireTimeObservers(bool jumped) {
  if (timeObservers.empty()) return;
  cm::Time now = cm::TimeMakeWithSeconds(timePos, cm::kPreferredTimescale);
  auto observers = timeObservers;
  for (auto& o : observers) {
    auto* observer = static_cast<TimeObserver*>(o.get());
    bool due = jumped || std::isnan(observer->last) || timePos < observer->last ||
               timePos - observer->last >= observer->interval;
    if (!due) continue;
    observer->last = timePos;
    if (!observer->queue || observer->queue == dispatch::mainQueue()) {
      observer->block(now);
    } else {
      dispatch::async(observer->queue, [block = observer->block, now] { block(now); });
    }
  }
}

PL_CLASS_NAMED(Player, "AVPlayer", ns::Object) {
  cls.property<&Player::status>("status", "R,N");
  cls.property<&Player::rate>("rate", "N");
  cls.property<&Player::currentItem>("currentItem", "R,N");
  cls.property<&Player::volume>("volume", "N");
  cls.property<&Player::isMuted>("muted", "N,GisMuted");
}

Player::Player() = default;

Player::~Player() {
  if (engine_) {
    engine_->shutdown();
    engine_.reset();
  }
  if (item_) item_->player_.reset();
}

ns::Ref<Player> Player::initWithURL(const ns::Ref<ns::URL>& url) {
  return initWithPlayerItem(PlayerItem::initWithURL(url));
}

ns::Ref<Player> Player::initWithPlayerItem(const ns::Ref<PlayerItem>& item) {
  auto player = ns::make<Player>();
  if (item) player->replaceCurrentItemWithPlayerItem(item);
  return player;
}

void Player::setDefaultAudioOutput(const std::string& output) {
  std::lock_guard guard(audioSetting().lock);
  audioSetting().output = output;
}

std::string Player::defaultAudioOutput() {
  std::lock_guard guard(audioSetting().lock);
  return audioSetting().output;
}

std::optional<std::string> Player::engineUnavailableReason() {
  // Starting an engine (its options, its renderer) is the first player's own work, after the
  // first window: the check stops short of it.
  if (!loadMediaEngineLibrary()) return "The media engine's library cannot be opened.";
  mpv_handle* probe = mpv_create();
  if (!probe) return "The media engine could not be created.";
  mpv_terminate_destroy(probe);
  return std::nullopt;
}

void Player::ensureEngine() {
  if (engine_ || status_ == PlayerStatusFailed) return;
  auto engine = std::make_shared<PlayerEngine>(this);
  std::string reason;
  if (!engine->start(&reason)) {
    changeStatus(PlayerStatusFailed,
                 ns::Error::withDescription(AVFoundationErrorDomain, AVErrorUnknown, reason));
    return;
  }
  engine_ = std::move(engine);
  engine_->setVolume(volume_, muted_);
  for (auto& layer : pendingLayers_)
    if (!layer.expired()) engine_->layers.push_back(std::move(layer));
  pendingLayers_.clear();
  for (auto& observer : pendingTimeObservers_) engine_->timeObservers.push_back(std::move(observer));
  pendingTimeObservers_.clear();
}

void Player::startEngineSoon() {
  if (engineScheduled_) return;
  engineScheduled_ = true;
  // Once the first window is on the screen, the engine's library opens off the main thread and
  // the engine itself starts on the main queue. Not earlier: while a thread opens the library it
  // holds the loader's lock, which the main thread building the window also takes (it waited
  // ~200 ms for it). A call that needs the engine before then (an item to play) starts it at once.
  ns::Weak<Player> weak = std::static_pointer_cast<Player>(shared_from_this());
  ak::performAfterFirstFrame([weak] {
    dispatch::async(dispatch::globalQueue(dispatch::Priority::Default), [weak] {
      loadMediaEngineLibrary();
      dispatch::async(dispatch::mainQueue(), [weak] {
        if (auto self = weak.lock()) self->ensureEngine();
      });
    });
  });
}

void Player::replaceCurrentItemWithPlayerItem(const ns::Ref<PlayerItem>& item) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (item && item == item_) return;
  if (item) {
    auto other = item->player_.lock();
    if (other && other.get() != this && other->currentItem() == item)
      ns::Exception::raise("NSInvalidArgumentException",
                           "An AVPlayerItem cannot be associated with more than one instance of AVPlayer");
  }
  ensureEngine();
  {
    ns::KeyValueChange change(this, "currentItem");
    if (item_) item_->player_.reset();
    item_ = item;
    if (item_) item_->player_ = std::static_pointer_cast<Player>(shared_from_this());
  }
  if (!engine_) {
    if (item) item->changeStatus(PlayerItemStatusFailed, error_);
    return;
  }
  if (item) {
    engine_->load(item);
    engine_->setPaused(rate_ == 0);
  } else {
    engine_->unload();
  }
}

void Player::setRate(float rate) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  // Only normal speed is offered: any rate other than 0 plays.
  float normalized = rate == 0 || std::isnan(rate) ? 0.0f : 1.0f;
  // A failed item cannot play; the rate stays 0 so that nobody waits for it to move.
  if (normalized != 0 && item_ && item_->status() == PlayerItemStatusFailed) return;
  changeRate(normalized);
  if (engine_) engine_->setPaused(normalized == 0);
}

void Player::changeRate(float rate) {
  if (rate == rate_) return;
  ns::KeyValueChange change(this, "rate");
  rate_ = rate;
}

void Player::changeStatus(PlayerStatus status, std::optional<ns::Error> error) {
  if (status == status_) return;
  ns::KeyValueChange change(this, "status");
  status_ = status;
  if (error) error_ = std::move(error);
}

void Player::setVolume(float volume) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (std::isnan(volume)) return;
  volume_ = std::clamp(volume, 0.0f, 1.0f);
  if (engine_) engine_->setVolume(volume_, muted_);
}

void Player::setMuted(bool muted) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  muted_ = muted;
  if (engine_) engine_->setVolume(volume_, muted_);
}

cm::Time Player::currentTime() const {
  if (!item_ || !engine_) return cm::kTimeZero;
  return cm::TimeMakeWithSeconds(engine_->position(), cm::kPreferredTimescale);
}

void Player::seekToTime(cm::Time time) {
  seekToTime_toleranceBefore_toleranceAfter_completionHandler(time, cm::kTimePositiveInfinity,
                                                              cm::kTimePositiveInfinity, nullptr);
}

void Player::seekToTime_completionHandler(cm::Time time, SeekHandler handler) {
  seekToTime_toleranceBefore_toleranceAfter_completionHandler(time, cm::kTimePositiveInfinity,
                                                              cm::kTimePositiveInfinity, std::move(handler));
}

void Player::seekToTime_toleranceBefore_toleranceAfter(cm::Time time, cm::Time before, cm::Time after) {
  seekToTime_toleranceBefore_toleranceAfter_completionHandler(time, before, after, nullptr);
}

void Player::seekToTime_toleranceBefore_toleranceAfter_completionHandler(cm::Time time, cm::Time before,
                                                                         cm::Time after,
                                                                         SeekHandler handler) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  double seconds = cm::TimeGetSeconds(time);
  if (!engine_ || !item_ || !std::isfinite(seconds)) {
    if (engine_) engine_->cancelSeeks();
    if (handler) handler(false);
    return;
  }
  // Zero tolerances ask for the exact frame; any other lets the player stop at a key frame.
  bool exact = cm::TimeCompare(before, cm::kTimeZero) == 0 && cm::TimeCompare(after, cm::kTimeZero) == 0;
  engine_->seek(std::max(0.0, seconds), exact, std::move(handler));
}

ns::Ref<ns::Object> Player::addPeriodicTimeObserverForInterval_queue_usingBlock(
    cm::Time interval, const ns::Ref<dispatch::Queue>& queue, TimeBlock block) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  double seconds = cm::TimeGetSeconds(interval);
  if (!block || !std::isfinite(seconds) || seconds <= 0)
    ns::Exception::raise("NSInvalidArgumentException", "The interval must be a positive numeric time");
  auto observer = ns::make<PlayerEngine::TimeObserver>();
  observer->interval = seconds;
  observer->queue = queue;
  observer->block = std::move(block);
  if (engine_) {
    engine_->timeObservers.push_back(observer);
  } else if (status_ != PlayerStatusFailed) {
    // Nothing plays before the engine runs, so an observer may wait for it like a layer.
    pendingTimeObservers_.push_back(observer);
    startEngineSoon();
  }
  return observer;
}

void Player::removeTimeObserver(const ns::Ref<ns::Object>& observer) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  auto& pending = pendingTimeObservers_;
  pending.erase(std::remove(pending.begin(), pending.end(), observer), pending.end());
  if (!engine_) return;
  auto& list = engine_->timeObservers;
  list.erase(std::remove(list.begin(), list.end(), observer), list.end());
}

const VideoFrame& Player::currentVideoFrame() const {
  static const VideoFrame empty;
  return engine_ ? engine_->videoFrame() : empty;
}

VideoPicture Player::pictureForLayer(int width, int height) {
  return engine_ ? engine_->picture(width, height) : VideoPicture{};
}

bool Player::drawPictureInto(int width, int height, std::size_t stride, unsigned char* pixels) {
  if (!engine_ || !engine_->render || engine_->pictures == 0 || width <= 0 || height <= 0 || !pixels)
    return false;
  return engine_->draw(width, height, stride, pixels, "bgra");
}

std::uint64_t Player::pictureSerial() const {
  return engine_ ? engine_->pictures : 0;
}

std::string Player::engineOptionForTesting(const char* name) const {
  return engine_ ? engine_->optionValue(name) : std::string();
}

ak::Size Player::videoPixelSize() const {
  return engine_ ? ak::MakeSize(engine_->videoWidth, engine_->videoHeight) : ak::ZeroSize;
}

void Player::addLayer(const ns::Ref<PlayerLayer>& layer) {
  if (!layer || status_ == PlayerStatusFailed) return;
  if (engine_) {
    engine_->layers.push_back(layer);
    return;
  }
  // A layer alone shows no picture until something plays: the engine may start later.
  pendingLayers_.push_back(layer);
  startEngineSoon();
}

void Player::removeLayer(const PlayerLayer* layer) {
  auto gone = [&](const ns::Weak<PlayerLayer>& w) {
    auto l = w.lock();
    return !l || l.get() == layer;
  };
  pendingLayers_.erase(std::remove_if(pendingLayers_.begin(), pendingLayers_.end(), gone),
                       pendingLayers_.end());
  if (!engine_) return;
  auto& list = engine_->layers;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const ns::Weak<PlayerLayer>& w) {
                              auto l = w.lock();
                              return !l || l.get() == layer;
                            }),
             list.end());
}

}  // namespace av
