#include "platform/media/PlayerEngine.h"

#include <mpv/client.h>
#include <mpv/render.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/MediaNames.h"
#include "platform/media/PlayerLayer.h"
#include "platform/net/URLErrorCodes.h"

namespace av {

namespace {

enum Observed : std::uint64_t {
  kTimePos = 1,
  kDuration,
  kPause,
  kPausedForCache,
  kCacheState,
  kEofReached,
  kSeeking,
  kVideoParams,
};

// Seek replies carry their id above this mark, so they never mix with other replies.
constexpr std::uint64_t kSeekReplyBase = 1ull << 32;
// How close to the duration the end of playback must come to count as the end of the media.
constexpr double kEndTolerance = 0.5;
// Seconds buffered ahead that make playback likely to keep up.
constexpr double kLikelyAhead = 1.0;
// The largest picture the engine draws into memory.
constexpr int kMaxPictureSide = 8192;

// Demuxers and protocols a stream may reach: media containers only, no playlists, no
// concatenation, no devices.
const char* const kProtocols = "http,https,tcp,tls,crypto,file";
const char* const kFormats = "mov,matroska,flv,mpegts,mp3,aac,ogg,wav";

const mpv_node* mapValue(const mpv_node& map, const char* key) {
  if (map.format != MPV_FORMAT_NODE_MAP) return nullptr;
  for (int i = 0; i < map.u.list->num; ++i) {
    if (std::strcmp(map.u.list->keys[i], key) == 0) return &map.u.list->values[i];
  }
  return nullptr;
}

double nodeNumber(const mpv_node* node, double fallback = 0) {
  if (!node) return fallback;
  if (node->format == MPV_FORMAT_DOUBLE) return node->u.double_;
  if (node->format == MPV_FORMAT_INT64) return static_cast<double>(node->u.int64);
  return fallback;
}

bool nodeFlag(const mpv_node* node) {
  return node && node->format == MPV_FORMAT_FLAG && node->u.flag;
}

ns::Error mediaError(long code, const std::string& description, const ns::Ref<ns::URL>& url) {
  ns::Dictionary info;
  info.set(ns::Value(ns::NSLocalizedDescriptionKey), ns::Value(description));
  if (url) {
    info.set(ns::Value(ns::NSURLErrorFailingURLErrorKey),
             ns::Value(std::static_pointer_cast<ns::Object>(url)));
    info.set(ns::Value(ns::NSURLErrorFailingURLStringErrorKey), ns::Value(url->absoluteString()));
  }
  return ns::Error(AVFoundationErrorDomain, code, std::move(info));
}

void setOption(mpv_handle* mpv, const char* name, const char* value) {
  if (mpv_set_option_string(mpv, name, value) < 0) ns::LogWarning("player: mpv refused %s=%s", name, value);
}

void setLavfOptions(mpv_handle* mpv, const char* option) {
  char k1[] = "protocol_whitelist", k2[] = "format_whitelist";
  char* keys[] = {k1, k2};
  mpv_node values[2];
  values[0].format = MPV_FORMAT_STRING;
  values[0].u.string = const_cast<char*>(kProtocols);
  values[1].format = MPV_FORMAT_STRING;
  values[1].u.string = const_cast<char*>(kFormats);
  mpv_node_list list{2, values, keys};
  mpv_node map;
  map.format = MPV_FORMAT_NODE_MAP;
  map.u.list = &list;
  if (mpv_set_option(mpv, option, MPV_FORMAT_NODE, &map) < 0)
    ns::LogWarning("player: mpv refused %s", option);
}

}  // namespace

PlayerEngine::~PlayerEngine() {
  shutdown();
}

bool PlayerEngine::start(std::string* reason) {
  mpv = mpv_create();
  if (!mpv) {
    *reason = "The media engine could not be created.";
    return false;
  }
  // No user configuration, scripts, controller, key bindings or external URL resolvers.
  setOption(mpv, "config", "no");
  setOption(mpv, "load-scripts", "no");
  setOption(mpv, "ytdl", "no");
  setOption(mpv, "osc", "no");
  setOption(mpv, "osd-level", "0");
  setOption(mpv, "input-default-bindings", "no");
  setOption(mpv, "input-vo-keyboard", "no");
  setOption(mpv, "terminal", "no");
  setOption(mpv, "resume-playback", "no");
  setOption(mpv, "save-position-on-quit", "no");
  setOption(mpv, "sub-auto", "no");
  setOption(mpv, "audio-display", "no");
  // Streams come from network replies: one container demuxer, no references to other files.
  setOption(mpv, "demuxer", "lavf");
  setOption(mpv, "access-references", "no");
  setOption(mpv, "load-unsafe-playlists", "no");
  setLavfOptions(mpv, "demuxer-lavf-o");
  setLavfOptions(mpv, "stream-lavf-o");
  setOption(mpv, "vo", "libmpv");
  setOption(mpv, "hwdec", "no");
  // Pictures start at a window's size: scaled on the drawing thread alone (see setScalerThreadsFor).
  setOption(mpv, "zimg-threads", "1");
  // The layer places the picture by its gravity and asks for it at that size: mpv fills it.
  setOption(mpv, "keepaspect", "no");
  setOption(mpv, "keep-open", "yes");
  setOption(mpv, "idle", "yes");
  setOption(mpv, "pause", "yes");
  // Rendering is driven from the main queue and must never make mpv wait for it.
  setOption(mpv, "video-timing-offset", "0");
  // Detecting a stalled download is the downloader's job: the player waits well beyond the
  // local server's waits.
  setOption(mpv, "network-timeout", "60");
  std::string ao = Player::defaultAudioOutput();
  if (!ao.empty()) setOption(mpv, "ao", ao.c_str());
  if (mpv_initialize(mpv) < 0) {
    mpv_terminate_destroy(mpv);
    mpv = nullptr;
    *reason = "The media engine could not be started.";
    return false;
  }

  wake = std::make_unique<Wake>();
  wake->engine = weak_from_this();

  char sw[] = MPV_RENDER_API_TYPE_SW;
  mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, sw}, {MPV_RENDER_PARAM_INVALID, nullptr}};
  if (mpv_render_context_create(&render, mpv, params) < 0) {
    render = nullptr;
    ns::LogError("player: no software renderer; video is not drawn");
  } else {
    mpv_render_context_set_update_callback(render, &PlayerEngine::renderUpdate, wake.get());
  }

  mpv_observe_property(mpv, kTimePos, "time-pos", MPV_FORMAT_DOUBLE);
  mpv_observe_property(mpv, kDuration, "duration", MPV_FORMAT_DOUBLE);
  mpv_observe_property(mpv, kPause, "pause", MPV_FORMAT_FLAG);
  mpv_observe_property(mpv, kPausedForCache, "paused-for-cache", MPV_FORMAT_FLAG);
  mpv_observe_property(mpv, kCacheState, "demuxer-cache-state", MPV_FORMAT_NODE);
  mpv_observe_property(mpv, kEofReached, "eof-reached", MPV_FORMAT_FLAG);
  mpv_observe_property(mpv, kSeeking, "seeking", MPV_FORMAT_FLAG);
  mpv_observe_property(mpv, kVideoParams, "video-params", MPV_FORMAT_NODE);
  mpv_set_wakeup_callback(mpv, &PlayerEngine::wakeup, wake.get());
  return true;
}

void PlayerEngine::shutdown() {
  // The renderer goes first: it must not outlive the instance it draws for. After both are
  // gone mpv calls nothing of ours, so the wake box can go too.
  if (render) {
    mpv_render_context_set_update_callback(render, nullptr, nullptr);
    mpv_render_context_free(render);
    render = nullptr;
  }
  if (mpv) {
    mpv_set_wakeup_callback(mpv, nullptr, nullptr);
    mpv_terminate_destroy(mpv);
    mpv = nullptr;
  }
  wake.reset();
  seeks.clear();
  timeObservers.clear();
  owner = nullptr;
}

void PlayerEngine::wakeup(void* context) {
  auto* w = static_cast<Wake*>(context);
  if (w->eventsQueued.exchange(true)) return;
  dispatch::async(dispatch::mainQueue(), [weak = w->engine] {
    if (auto engine = weak.lock()) engine->drain();
  });
}

void PlayerEngine::renderUpdate(void* context) {
  auto* w = static_cast<Wake*>(context);
  if (w->frameQueued.exchange(true)) return;
  dispatch::async(dispatch::mainQueue(), [weak = w->engine] {
    if (auto engine = weak.lock()) engine->renderFrame();
  });
}

void PlayerEngine::load(const ns::Ref<PlayerItem>& newItem) {
  cancelSeeks();
  item = newItem;
  fileLoaded = false;
  timePos = 0;
  duration = -1;
  pausedForCache = false;
  eofReached = false;
  cacheEof = false;
  underrun = false;
  cacheAhead = 0;
  cachedRanges.clear();
  endHandled = false;
  videoWidth = videoHeight = 0;
  deferredSeek.reset();
  currentEntry.reset();
  lastObservedTime = -1;
  if (!mpv) return;

  const ns::Ref<ns::URL>& url = item->URL();
  std::string scheme = url->scheme().value_or("");
  for (auto& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string target;
  localFile = false;
  if (scheme == "http" || scheme == "https") {
    target = url->absoluteString();
  } else if (scheme == "file") {
    std::error_code ec;
    std::string path = url->path();
    std::string host = url->host().value_or("");
    bool local = host.empty() || host == "localhost";
    if (!local || path.empty() || path[0] != '/' || !std::filesystem::is_regular_file(path, ec)) {
      refuse(ns::makeURLError(ns::URLErrorFileDoesNotExist, url));
      return;
    }
    target = path;
    localFile = true;
  } else {
    refuse(ns::makeURLError(ns::URLErrorUnsupportedURL, url));
    return;
  }
  // The URL travels as one element of a command, never inside a command string.
  const char* command[] = {"loadfile", target.c_str(), "replace", nullptr};
  mpv_node reply;
  if (mpv_command_ret(mpv, command, &reply) < 0) {
    refuse(mediaError(AVErrorUnknown, "The media could not be opened.", url));
    return;
  }
  // The playlist entry this load made: mpv starts only the last of several loads issued before
  // it ran, so the item is told by its entry, never by counting the starts.
  if (const mpv_node* id = mapValue(reply, "playlist_entry_id"); id && id->format == MPV_FORMAT_INT64)
    currentEntry = id->u.int64;
  mpv_free_node_contents(&reply);
}

void PlayerEngine::refuse(const ns::Error& error) {
  // Whatever played before stops: the refused item is the current one now.
  if (mpv) {
    const char* command[] = {"stop", nullptr};
    mpv_command(mpv, command);
  }
  failItem(error, false);
}

void PlayerEngine::unload() {
  cancelSeeks();
  item = nullptr;
  currentEntry.reset();
  if (!mpv) return;
  const char* command[] = {"stop", nullptr};
  mpv_command(mpv, command);
}

void PlayerEngine::setPaused(bool paused) {
  if (!mpv) return;
  int flag = paused ? 1 : 0;
  mpv_set_property(mpv, "pause", MPV_FORMAT_FLAG, &flag);
}

void PlayerEngine::setVolume(double volume, bool muted) {
  if (!mpv) return;
  double v = volume * 100.0;
  int m = muted ? 1 : 0;
  mpv_set_property(mpv, "volume", MPV_FORMAT_DOUBLE, &v);
  mpv_set_property(mpv, "mute", MPV_FORMAT_FLAG, &m);
}

void PlayerEngine::seek(double seconds, bool exact, Player::SeekHandler handler) {
  cancelSeeks();
  Seek s;
  s.id = nextSeekId++;
  s.target = seconds;
  s.handler = std::move(handler);
  seeks.push_back(std::move(s));
  if (!mpv || !item || item->status() == PlayerItemStatusFailed) {
    finishSeek(seeks.back().id, false);
    return;
  }
  if (!fileLoaded) {
    deferredSeek = {seconds, exact};
    return;
  }
  issueSeek(seconds, exact);
}

void PlayerEngine::issueSeek(double seconds, bool exact) {
  // Written without the locale: a decimal comma would not parse.
  char text[64];
  auto end = std::to_chars(text, text + sizeof text - 1, seconds, std::chars_format::fixed, 6).ptr;
  *end = '\0';
  const char* command[] = {"seek", text, exact ? "absolute+exact" : "absolute+keyframes", nullptr};
  if (mpv_command_async(mpv, kSeekReplyBase + seeks.back().id, command) < 0)
    finishSeek(seeks.back().id, false);
}

void PlayerEngine::cancelSeeks() {
  auto pending = std::move(seeks);
  seeks.clear();
  deferredSeek.reset();
  for (auto& s : pending) {
    if (s.handler) s.handler(false);
  }
}

void PlayerEngine::finishSeek(std::uint64_t id, bool finished) {
  for (auto it = seeks.begin(); it != seeks.end(); ++it) {
    if (it->id != id) continue;
    Seek s = std::move(*it);
    seeks.erase(it);
    if (s.handler) s.handler(finished);
    return;
  }
}

double PlayerEngine::position() const {
  if (!seeks.empty()) return seeks.back().target;
  return timePos;
}

void PlayerEngine::drain() {
  auto keep = shared_from_this();
  if (wake) wake->eventsQueued.store(false);
  bool any = false;
  while (mpv && owner) {
    mpv_event* event = mpv_wait_event(mpv, 0);
    if (!event || event->event_id == MPV_EVENT_NONE) break;
    any = true;
    handle(*event);
  }
  if (any && mpv && owner) evaluate();
}

namespace {

// The picture size the container tells for the selected video track, if it tells one.
std::optional<ak::Size> containerPictureSize(mpv_handle* mpv) {
  mpv_node tracks;
  if (mpv_get_property(mpv, "track-list", MPV_FORMAT_NODE, &tracks) < 0) return std::nullopt;
  std::optional<ak::Size> size;
  if (tracks.format == MPV_FORMAT_NODE_ARRAY) {
    for (int i = 0; i < tracks.u.list->num; ++i) {
      const mpv_node& track = tracks.u.list->values[i];
      const mpv_node* type = mapValue(track, "type");
      if (!type || type->format != MPV_FORMAT_STRING || std::strcmp(type->u.string, "video") != 0 ||
          !nodeFlag(mapValue(track, "selected")))
        continue;
      double w = nodeNumber(mapValue(track, "demux-w")), h = nodeNumber(mapValue(track, "demux-h"));
      if (w > 0 && h > 0) size = ak::MakeSize(w, h);
      break;
    }
  }
  mpv_free_node_contents(&tracks);
  return size;
}

}  // namespace

void PlayerEngine::handle(const mpv_event& event) {
  switch (event.event_id) {
    case MPV_EVENT_START_FILE:
      lastStartedEntry = static_cast<mpv_event_start_file*>(event.data)->playlist_entry_id;
      break;
    case MPV_EVENT_FILE_LOADED:
      if (item && currentEntry && lastStartedEntry == currentEntry) handleFileLoaded();
      break;
    case MPV_EVENT_END_FILE: {
      auto* end = static_cast<mpv_event_end_file*>(event.data);
      if (!item || !currentEntry || end->playlist_entry_id != *currentEntry) break;
      if (end->reason == MPV_END_FILE_REASON_ERROR) {
        long code = end->error == MPV_ERROR_UNKNOWN_FORMAT ? AVErrorFileFormatNotRecognized
                    : fileLoaded                           ? AVErrorNoLongerPlayable
                                                           : AVErrorContentIsUnavailable;
        std::string text =
            std::string("The media could not be played (") + mpv_error_string(end->error) + ").";
        failItem(mediaError(code, text, item->URL()), fileLoaded);
      } else if (end->reason == MPV_END_FILE_REASON_EOF) {
        eofReached = true;
      }
      break;
    }
    case MPV_EVENT_PLAYBACK_RESTART: {
      if (!seeks.empty() && seeks.back().acknowledged) {
        if (mpv) mpv_get_property(mpv, "time-pos", MPV_FORMAT_DOUBLE, &timePos);
        finishSeek(seeks.back().id, true);
        fireTimeObservers(true);
      }
      break;
    }
    case MPV_EVENT_COMMAND_REPLY: {
      if (event.reply_userdata <= kSeekReplyBase) break;
      std::uint64_t id = event.reply_userdata - kSeekReplyBase;
      if (event.error < 0) {
        finishSeek(id, false);
      } else {
        for (auto& s : seeks) {
          if (s.id == id) s.acknowledged = true;
        }
      }
      break;
    }
    case MPV_EVENT_PROPERTY_CHANGE:
      handlePropertyChange(event.reply_userdata, *static_cast<mpv_event_property*>(event.data));
      break;
    default:
      break;
  }
}

void PlayerEngine::handleFileLoaded() {
  fileLoaded = true;
  ns::Ref<PlayerItem> loaded = item;
  // The container's picture size until the first decoded picture tells the real one.
  if (mpv && videoWidth == 0) {
    if (auto size = containerPictureSize(mpv)) loaded->changePresentationSize(*size);
  }
  if (duration > 0) loaded->changeDuration(cm::TimeMakeWithSeconds(duration, cm::kPreferredTimescale));
  loaded->changeStatus(PlayerItemStatusReadyToPlay);
  if (owner && item == loaded) owner->changeStatus(PlayerStatusReadyToPlay, std::nullopt);
  if (deferredSeek && mpv && !seeks.empty()) {
    auto [target, exact] = *deferredSeek;
    deferredSeek.reset();
    issueSeek(target, exact);
  }
}

void PlayerEngine::handlePropertyChange(std::uint64_t property, const mpv_event_property& change) {
  bool has = change.format != MPV_FORMAT_NONE && change.data;
  switch (property) {
    case kTimePos:
      if (has) {
        timePos = *static_cast<double*>(change.data);
        // While paused the time moves only to show another picture (the one a pause stops on, or
        // a seek's): each move is reported, however close to the last report.
        fireTimeObservers(paused);
      }
      break;
    case kPause: {
      bool now = has && *static_cast<int*>(change.data);
      if (now == paused) break;
      paused = now;
      // Playback started or stopped: the observers learn where, since the last report may lie up
      // to an interval behind the picture it stopped on.
      if (!item || !fileLoaded) break;
      if (mpv) mpv_get_property(mpv, "time-pos", MPV_FORMAT_DOUBLE, &timePos);
      fireTimeObservers(true);
      break;
    }
    case kDuration:
      duration = has ? *static_cast<double*>(change.data) : -1;
      if (item && fileLoaded && duration > 0)
        item->changeDuration(cm::TimeMakeWithSeconds(duration, cm::kPreferredTimescale));
      break;
    case kPausedForCache: {
      bool now = has && *static_cast<int*>(change.data);
      bool began = now && !pausedForCache;
      pausedForCache = now;
      if (began && item && owner && owner->rate() != 0) {
        updateBuffer();
        ns::NotificationCenter::defaultCenter()->postNotificationName_object(
            AVPlayerItemPlaybackStalledNotification, item);
      }
      break;
    }
    case kCacheState:
      readCacheState(has ? static_cast<const mpv_node*>(change.data) : nullptr);
      break;
    case kEofReached:
      eofReached = has && *static_cast<int*>(change.data);
      if (!eofReached) endHandled = false;
      break;
    case kVideoParams:
      // The file before may still tell its picture's size after the next item's load was issued:
      // only what comes once the current entry started is the current item's.
      if (!currentEntry || lastStartedEntry != currentEntry) break;
      videoWidth = videoHeight = 0;
      if (has) {
        const mpv_node& params = *static_cast<mpv_node*>(change.data);
        videoWidth = static_cast<int>(nodeNumber(mapValue(params, "dw")));
        videoHeight = static_cast<int>(nodeNumber(mapValue(params, "dh")));
        if (item && videoWidth > 0 && videoHeight > 0)
          item->changePresentationSize(ak::MakeSize(videoWidth, videoHeight));
      }
      break;
    default:
      break;
  }
}

void PlayerEngine::readCacheState(const mpv_node* state) {
  cachedRanges.clear();
  cacheEof = false;
  underrun = false;
  cacheAhead = 0;
  if (!state) return;
  cacheEof = nodeFlag(mapValue(*state, "eof"));
  underrun = nodeFlag(mapValue(*state, "underrun"));
  cacheAhead = nodeNumber(mapValue(*state, "cache-duration"));
  const mpv_node* ranges = mapValue(*state, "seekable-ranges");
  if (!ranges || ranges->format != MPV_FORMAT_NODE_ARRAY) return;
  for (int i = 0; i < ranges->u.list->num; ++i) {
    const mpv_node& r = ranges->u.list->values[i];
    double start = nodeNumber(mapValue(r, "start"), NAN), end = nodeNumber(mapValue(r, "end"), NAN);
    if (std::isfinite(start) && std::isfinite(end) && end >= start) {
      cachedRanges.push_back(
          cm::TimeRangeFromTimeToTime(cm::TimeMakeWithSeconds(std::max(0.0, start), cm::kPreferredTimescale),
                                      cm::TimeMakeWithSeconds(end, cm::kPreferredTimescale)));
    }
  }
}

// After a batch of events: the ranges, the buffer and the end of the media.
void PlayerEngine::evaluate() {
  if (!item || !fileLoaded || item->status() != PlayerItemStatusReadyToPlay) return;
  ns::Ref<PlayerItem> current = item;
  std::vector<cm::TimeRange> loaded = cachedRanges;
  std::vector<cm::TimeRange> seekable;
  if (duration > 0) {
    cm::TimeRange whole =
        cm::TimeRangeMake(cm::kTimeZero, cm::TimeMakeWithSeconds(duration, cm::kPreferredTimescale));
    seekable.push_back(whole);
    // A local file is there as a whole.
    if (localFile) loaded = {whole};
  }
  current->changeRanges(std::move(loaded), std::move(seekable));
  updateBuffer();
  if (item != current || !eofReached || endHandled) return;
  endHandled = true;
  double position = timePos;
  if (mpv) mpv_get_property(mpv, "time-pos", MPV_FORMAT_DOUBLE, &position);
  if (duration > 0 && position < duration - kEndTolerance) {
    // The stream stopped early: a connection closed before the end, or a truncated file.
    ns::Error error =
        item->URL()->isFileURL()
            ? mediaError(AVErrorFileFailedToParse, "The media file ends before its end.", item->URL())
            : ns::makeURLError(ns::URLErrorNetworkConnectionLost, item->URL());
    failItem(error, true);
    return;
  }
  if (owner && owner->actionAtItemEnd() != PlayerActionAtItemEndNone) owner->changeRate(0);
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(
      AVPlayerItemDidPlayToEndTimeNotification, current);
}

void PlayerEngine::updateBuffer() {
  if (!item) return;
  bool complete = localFile || cacheEof;
  // mpv pauses for the cache exactly when what is buffered has been played.
  bool empty = pausedForCache;
  bool likely = !pausedForCache && (complete || cacheAhead >= kLikelyAhead || !underrun);
  item->changeBuffer(likely, empty, complete);
}

void PlayerEngine::failItem(const ns::Error& error, bool postNotification) {
  if (!item) return;
  ns::Ref<PlayerItem> failed = item;
  endHandled = true;
  cancelSeeks();
  if (mpv && fileLoaded) setPaused(true);
  if (owner) owner->changeRate(0);
  failed->changeStatus(PlayerItemStatusFailed, error);
  if (postNotification) {
    ns::Dictionary info;
    info.set(ns::Value(AVPlayerItemFailedToPlayToEndTimeErrorKey), error.toValue());
    ns::NotificationCenter::defaultCenter()->postNotificationName_object_userInfo(
        AVPlayerItemFailedToPlayToEndTimeNotification, failed, std::move(info));
  }
}

void PlayerEngine::renderFrame() {
  auto keep = shared_from_this();
  if (wake) wake->frameQueued.store(false);
  if (!render) return;
  std::uint64_t flags = mpv_render_context_update(render);
  if (!(flags & MPV_RENDER_UPDATE_FRAME)) return;
  ++pictures;
  framePending = true;
  bool shown = false;
  auto current = layers;
  for (auto& weak : current) {
    if (auto layer = weak.lock()) {
      layer->frameArrived();
      shown = shown || layer->isShowing();
    }
  }
  // Nobody sees it (no layer, or each one hidden, off screen or minimised): taken undrawn.
  if (!shown && render) draw(0, 0, 0, nullptr);
}

bool PlayerEngine::draw(int width, int height, std::size_t stride, void* pixels, const char* format) {
  if (!render) return false;
  framePending = false;
  if (!pixels) {
    int skip = 1;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    return mpv_render_context_render(render, params) >= 0;
  }
  setScalerThreadsFor(width, height);
  int size[2] = {width, height};
  mpv_render_param params[] = {{MPV_RENDER_PARAM_SW_SIZE, size},
                               {MPV_RENDER_PARAM_SW_FORMAT, const_cast<char*>(format)},
                               {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                               {MPV_RENDER_PARAM_SW_POINTER, pixels},
                               {MPV_RENDER_PARAM_INVALID, nullptr}};
  return mpv_render_context_render(render, params) >= 0;
}

void PlayerEngine::setScalerThreadsFor(int width, int height) {
  // The scaler's worker threads take more processor time than they save on pictures up to 1080p
  // (a few ms each on one thread); larger ones need them to keep up with the frame rate.
  bool one = static_cast<long>(width) * height <= kOneScalerThreadPixels;
  if (!mpv || one == scalerOnOneThread) return;
  scalerOnOneThread = one;
  const char* value = one ? "1" : "auto";
  // Asynchronous: the main thread does not wait for the playback core; the next picture uses it.
  mpv_set_property_async(mpv, 0, "zimg-threads", MPV_FORMAT_STRING, &value);
}

std::string PlayerEngine::optionValue(const char* name) {
  if (!mpv) return {};
  mpv_node node{};
  if (mpv_get_property(mpv, name, MPV_FORMAT_NODE, &node) < 0) return {};
  std::string value = node.format == MPV_FORMAT_STRING  ? node.u.string
                      : node.format == MPV_FORMAT_INT64 ? std::to_string(node.u.int64)
                                                        : std::string();
  mpv_free_node_contents(&node);
  return value;
}

const VideoFrame& PlayerEngine::videoFrame() {
  if (!render || pictures == 0 || frame.serial == pictures) return frame;
  int w = videoWidth, h = videoHeight;
  if ((w <= 0 || h <= 0) && mpv) {
    std::int64_t dw = 0, dh = 0;
    mpv_get_property(mpv, "video-params/dw", MPV_FORMAT_INT64, &dw);
    mpv_get_property(mpv, "video-params/dh", MPV_FORMAT_INT64, &dh);
    w = static_cast<int>(dw);
    h = static_cast<int>(dh);
  }
  if (w <= 0 || h <= 0 || w > kMaxPictureSide || h > kMaxPictureSide) return frame;
  frame.width = w;
  frame.height = h;
  frame.stride = w * 4;
  frame.pixels.resize(static_cast<std::size_t>(frame.stride) * h);
  if (draw(w, h, static_cast<std::size_t>(frame.stride), frame.pixels.data())) frame.serial = pictures;
  return frame;
}

VideoPicture PlayerEngine::picture(int width, int height) {
  if (!render || pictures == 0 || width <= 0 || height <= 0 || width > kMaxPictureSide ||
      height > kMaxPictureSide)
    return {};
  const bool resized = width != scaled.width || height != scaled.height;
  if (resized || framePending || scaled.serial != pictures) {
    if (resized) {
      // Rows and the first pixel on 64 bytes: mpv's converters take their fast paths there.
      const std::size_t stride = (static_cast<std::size_t>(width) * 4 + 63) / 64 * 64;
      scaled.pixels.reset(static_cast<unsigned char*>(std::aligned_alloc(64, stride * height)));
      if (!scaled.pixels) {
        scaled = {};
        return {};
      }
      scaled.width = width;
      scaled.height = height;
      scaled.stride = stride;
    }
    scaled.serial = 0;
    if (!draw(width, height, scaled.stride, scaled.pixels.get())) return {};
    scaled.serial = pictures;
  }
  return {scaled.width, scaled.height, scaled.stride, scaled.pixels.get(), scaled.serial};
}

}  // namespace av
