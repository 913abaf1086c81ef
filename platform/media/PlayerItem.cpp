#include "platform/media/PlayerItem.h"

#include <cmath>

#include "platform/media/Player.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/KeyValueObserving.h"

namespace av {

namespace {

bool sameRanges(const std::vector<cm::TimeRange>& a, const std::vector<cm::TimeRange>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!cm::TimeRangeEqual(a[i], b[i])) return false;
  }
  return true;
}

// What key-value coding answers for times and ranges: seconds, and [start, end] pairs.
ns::Value secondsValue(cm::Time time) {
  double s = cm::TimeGetSeconds(time);
  return std::isnan(s) ? ns::Value::null() : ns::Value(s);
}

ns::Value rangesValue(const std::vector<cm::TimeRange>& ranges) {
  ns::Array list;
  for (auto& r : ranges) {
    ns::Array pair;
    pair.push_back(secondsValue(r.start));
    pair.push_back(secondsValue(cm::TimeRangeGetEnd(r)));
    list.push_back(ns::Value(std::move(pair)));
  }
  return ns::Value(std::move(list));
}

ns::Value durationValue(PlayerItem* self, ns::Sel) {
  return secondsValue(self->duration());
}
ns::Value loadedValue(PlayerItem* self, ns::Sel) {
  return rangesValue(self->loadedTimeRanges());
}
ns::Value seekableValue(PlayerItem* self, ns::Sel) {
  return rangesValue(self->seekableTimeRanges());
}

}  // namespace

PL_CLASS_NAMED(PlayerItem, "AVPlayerItem", ns::Object) {
  cls.property<&PlayerItem::status>("status", "R,N");
  cls.declaredProperty("duration", "T@,R,N");
  cls.method<&durationValue>("duration");
  cls.declaredProperty("loadedTimeRanges", "T@\"NSArray\",R,N");
  cls.method<&loadedValue>("loadedTimeRanges");
  cls.declaredProperty("seekableTimeRanges", "T@\"NSArray\",R,N");
  cls.method<&seekableValue>("seekableTimeRanges");
  cls.property<&PlayerItem::isPlaybackLikelyToKeepUp>("playbackLikelyToKeepUp",
                                                      "R,N,GisPlaybackLikelyToKeepUp");
  cls.property<&PlayerItem::isPlaybackBufferEmpty>("playbackBufferEmpty", "R,N,GisPlaybackBufferEmpty");
  cls.property<&PlayerItem::isPlaybackBufferFull>("playbackBufferFull", "R,N,GisPlaybackBufferFull");
  cls.property<&PlayerItem::presentationSize>("presentationSize", "R,N");
}

ns::Ref<PlayerItem> PlayerItem::initWithURL(const ns::Ref<ns::URL>& url) {
  if (!url) return nullptr;
  auto item = ns::make<PlayerItem>();
  item->url_ = url;
  return item;
}

cm::Time PlayerItem::currentTime() const {
  auto player = player_.lock();
  if (!player || player->currentItem().get() != this) return cm::kTimeZero;
  return player->currentTime();
}

void PlayerItem::changeStatus(PlayerItemStatus status, std::optional<ns::Error> error) {
  if (status == status_) return;
  ns::KeyValueChange change(this, "status");
  status_ = status;
  if (error) error_ = std::move(error);
}

void PlayerItem::changeDuration(cm::Time duration) {
  if (cm::TimeCompare(duration, duration_) == 0) return;
  ns::KeyValueChange change(this, "duration");
  duration_ = duration;
}

void PlayerItem::changeRanges(std::vector<cm::TimeRange> loaded, std::vector<cm::TimeRange> seekable) {
  if (!sameRanges(loaded, loadedTimeRanges_)) {
    ns::KeyValueChange change(this, "loadedTimeRanges");
    loadedTimeRanges_ = std::move(loaded);
  }
  if (!sameRanges(seekable, seekableTimeRanges_)) {
    ns::KeyValueChange change(this, "seekableTimeRanges");
    seekableTimeRanges_ = std::move(seekable);
  }
}

void PlayerItem::changeBuffer(bool likelyToKeepUp, bool empty, bool full) {
  if (likelyToKeepUp != likelyToKeepUp_) {
    ns::KeyValueChange change(this, "playbackLikelyToKeepUp");
    likelyToKeepUp_ = likelyToKeepUp;
  }
  if (empty != bufferEmpty_) {
    ns::KeyValueChange change(this, "playbackBufferEmpty");
    bufferEmpty_ = empty;
  }
  if (full != bufferFull_) {
    ns::KeyValueChange change(this, "playbackBufferFull");
    bufferFull_ = full;
  }
}

void PlayerItem::changePresentationSize(ak::Size size) {
  if (size.width == presentationSize_.width && size.height == presentationSize_.height) return;
  ns::KeyValueChange change(this, "presentationSize");
  presentationSize_ = size;
}

}  // namespace av
