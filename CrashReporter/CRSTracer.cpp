#include "CrashReporter/CRSTracer.h"

#include <fcntl.h>
#include <unistd.h>

#include "CrashReporter/CRSDebugLog.h"
#include "platform/core/Format.h"
#include "platform/foundation/NotificationCenter.h"

const std::vector<std::string>& CRSTracer::observedNotificationNames() {
  // The application's unhide is observed once, so that each such notification is traced once.
  static const std::vector<std::string> names = {
      "NSApplicationDidBecomeActiveNotification",
      "NSApplicationDidHideNotification",
      "NSApplicationDidResignActiveNotification",
      "NSApplicationDidUnhideNotification",
      "NSApplicationWillBecomeActiveNotification",
      "NSApplicationWillHideNotification",
      "NSApplicationWillFinishLaunchingNotification",
      "NSApplicationWillResignActiveNotification",
      "NSApplicationWillUnhideNotification",
      "NSApplicationWillTerminateNotification",
      "NSApplicationDidChangeScreenParametersNotification",
      "NSWindowDidBecomeKeyNotification",
      "NSWindowDidBecomeMainNotification",
      "NSWindowDidChangeScreenNotification",
      "NSWindowDidDeminiaturizeNotification",
      "NSWindowDidExposeNotification",
      "NSWindowDidMiniaturizeNotification",
      "NSWindowDidMoveNotification",
      "NSWindowDidResignKeyNotification",
      "NSWindowDidResignMainNotification",
      "NSWindowDidResizeNotification",
      "NSWindowWillCloseNotification",
      "NSWindowWillMiniaturizeNotification",
      "NSWindowWillMoveNotification",
      "NSWindowWillBeginSheetNotification",
      "NSWindowDidEndSheetNotification",
      "NSWindowDidChangeBackingPropertiesNotification",
      "NSWindowDidChangeScreenProfileNotification",
      "NSWindowWillEnterFullScreenNotification",
      "NSWindowDidEnterFullScreenNotification",
      "NSWindowWillExitFullScreenNotification",
      "NSWindowDidExitFullScreenNotification",
      "NSWindowWillEnterVersionBrowserNotification",
      "NSWindowDidEnterVersionBrowserNotification",
      "NSWindowWillExitVersionBrowserNotification",
      "NSWindowDidExitVersionBrowserNotification",
  };
  return names;
}

ns::Ref<CRSTracer> CRSTracer::initWithPath(const std::string& path) {
  auto queue = dispatch::queueCreate("com.crashreporter.tracing");
  dispatch::setTargetQueue(queue, dispatch::globalQueue(dispatch::Priority::Background));
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  auto tracer = ns::make<CRSTracer>(fd, queue);
  std::weak_ptr<CRSTracer> weak = tracer;
  tracer->samplingTimer_ = ns::make<dispatch::Source>(dispatch::SourceType::Timer, 0, queue);
  tracer->samplingTimer_->setTimer(dispatch::time(0), 60, 10);
  tracer->samplingTimer_->setEventHandler([weak] {
    if (auto strong = weak.lock()) strong->sample();
  });
  auto center = ns::NotificationCenter::defaultCenter();
  for (const auto& name : observedNotificationNames())
    center->addObserver_selector_name_object(tracer.get(), &CRSTracer::handleInitialNotification, name);
  tracer->samplingTimer_->resume();
  return tracer;
}

CRSTracer::CRSTracer(int fileDescriptor, ns::Ref<dispatch::Queue> queue)
    : fileDescriptor_(fileDescriptor), queue_(std::move(queue)) {}

CRSTracer::~CRSTracer() {
  ns::NotificationCenter::defaultCenter()->removeObserver(this);
  if (samplingTimer_) samplingTimer_->cancel();
  ::close(fileDescriptor_);
}

void CRSTracer::handleInitialNotification(const ns::Ref<ns::Notification>& notification) {
  auto self = std::static_pointer_cast<CRSTracer>(shared_from_this());
  dispatch::async(queue_, [self, notification] { self->handleNotification(notification); });
}

void CRSTracer::handleNotification(const ns::Ref<ns::Notification>& notification) {
  trace(ns::format("[CrashReporter] Tracer: %@", notification->name()));
}

void CRSTracer::sample() {
  trace("[CrashReporter] Tracer: sampling");
}

void CRSTracer::trace(const std::string& line) {
  if (!CRSDebugModeEnabled()) return;
  ns::Log("%@", line);
  std::string text = line + "\n";
  // The queue is serial, so lines never interleave.
  [[maybe_unused]] ssize_t written = ::write(fileDescriptor_, text.data(), text.size());
}
