#include "platform/appkit/Application.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/Presenter.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/appkit/WindowController.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopSource.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace ak {

namespace {

struct Shared {
  std::mutex mutex;
  ns::Ref<Application> app;
};

Shared& shared() {
  static ns::NoDestructor<Shared> s;
  return *s;
}

struct Hook {
  const char* notification;
  const char* selector;
};

const Hook kApplicationHooks[] = {
    {ApplicationWillFinishLaunchingNotification, "applicationWillFinishLaunching:"},
    {ApplicationDidFinishLaunchingNotification, "applicationDidFinishLaunching:"},
    {ApplicationWillTerminateNotification, "applicationWillTerminate:"},
    {ApplicationWillBecomeActiveNotification, "applicationWillBecomeActive:"},
    {ApplicationDidBecomeActiveNotification, "applicationDidBecomeActive:"},
    {ApplicationWillResignActiveNotification, "applicationWillResignActive:"},
    {ApplicationDidResignActiveNotification, "applicationDidResignActive:"},
};

bool isMouseOrKey(EventType t) {
  switch (t) {
    case EventType::LeftMouseDown:
    case EventType::LeftMouseUp:
    case EventType::RightMouseDown:
    case EventType::RightMouseUp:
    case EventType::LeftMouseDragged:
    case EventType::RightMouseDragged:
    case EventType::MouseMoved:
    case EventType::MouseEntered:
    case EventType::MouseExited:
    case EventType::KeyDown:
    case EventType::KeyUp:
    case EventType::FlagsChanged:
    case EventType::ScrollWheel:
    case EventType::OtherMouseDown:
    case EventType::OtherMouseUp:
    case EventType::OtherMouseDragged:
      return true;
    default:
      return false;
  }
}

bool responds(const ns::Ref<ns::Object>& object, ns::Sel sel) {
  return object && ns::respondsToSelector(object, sel);
}

}  // namespace

Application::Application() = default;

Application::~Application() {
  auto center = ns::NotificationCenter::defaultCenter();
  for (const auto& token : delegateTokens_) center->removeObserver(token.get());
}

ns::Ref<Application> Application::sharedApplication() {
  auto& s = shared();
  std::lock_guard lock(s.mutex);
  if (!s.app) s.app = ns::make<Application>();
  return s.app;
}

void Application::setSharedApplication(const ns::Ref<Application>& app) {
  auto& s = shared();
  ns::Ref<Application> old;
  {
    std::lock_guard lock(s.mutex);
    old = std::move(s.app);
    s.app = app;
  }
}

ns::Ref<Image> Application::applicationIconImage() const {
  std::lock_guard lock(iconMutex_);
  if (iconImage_) return iconImage_;
  auto bundle = ns::Bundle::mainBundle();
  auto name = bundle->infoDictionary().objectForKey("CFBundleIconFile").optionalString();
  if (!name || name->empty()) return nullptr;
  std::string base = *name;
  if (base.size() > 4 && base.compare(base.size() - 4, 4, ".png") == 0) base.resize(base.size() - 4);
  auto path = bundle->pathForResource_ofType(base, "png");
  if (!path) return nullptr;
  // Read once per file; a main bundle replaced (in tests) is read anew.
  if (!bundleIcon_ || bundleIconPath_ != *path) {
    bundleIcon_ = Image::initWithContentsOfFile(*path);
    bundleIconPath_ = bundleIcon_ ? *path : std::string();
  }
  return bundleIcon_;
}

void Application::setApplicationIconImage(const ns::Ref<Image>& image) {
  std::lock_guard lock(iconMutex_);
  iconImage_ = image;
}

void Application::setDelegate(const ns::Ref<ns::Object>& delegate) {
  auto center = ns::NotificationCenter::defaultCenter();
  for (const auto& token : delegateTokens_) center->removeObserver(token.get());
  delegateTokens_.clear();
  delegate_ = delegate;
  registerDelegateObservers();
}

void Application::registerDelegateObservers() {
  auto delegate = delegate_.lock();
  if (!delegate) return;
  auto center = ns::NotificationCenter::defaultCenter();
  ns::Weak<ns::Object> weak = delegate;
  for (const auto& hook : kApplicationHooks) {
    ns::Sel sel(hook.selector);
    if (!responds(delegate, sel)) continue;
    delegateTokens_.push_back(center->addObserverForName_object_queue_usingBlock(
        std::string(hook.notification), shared_from_this(), nullptr,
        [weak, sel](const ns::Ref<ns::Notification>& note) {
          if (auto d = weak.lock()) ns::send(d, sel, note);
        }));
  }
}

// ---- launching and running ----

void Application::finishLaunching() {
  if (launched_) return;
  launched_ = true;
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(
      ApplicationWillFinishLaunchingNotification, shared_from_this());
}

void Application::run() {
  auto keep = self<Application>();
  running_ = true;
  stopRequested_ = false;
  if (!launched_) {
    finishLaunching();
    activateIgnoringOtherApps(true);
    ns::NotificationCenter::defaultCenter()->postNotificationName_object(
        ApplicationDidFinishLaunchingNotification, shared_from_this());
  }
  while (!stopRequested_) {
    auto event = nextEventMatchingMask_untilDate_inMode_dequeue(AnyEventMask, ns::Date::distantFuture(),
                                                                ns::DefaultRunLoopMode, true);
    if (!event) break;  // headless: nothing more will happen
    sendEvent(event);
  }
  stopRequested_ = false;
  running_ = false;
}

void Application::stop(const ns::Ref<ns::Object>&) {
  stopRequested_ = true;
  ns::RunLoop::mainRunLoop()->wakeUp();
}

void Application::terminate(const ns::Ref<ns::Object>&) {
  if (terminated_ || terminationPending_) return;
  auto keep = self<Application>();
  auto reply = ApplicationTerminateReply::TerminateNow;
  static const ns::Sel shouldTerminate("applicationShouldTerminate:");
  if (auto d = delegate(); responds(d, shouldTerminate)) {
    reply = ApplicationTerminateReply(ns::send<unsigned long>(d, shouldTerminate, shared_from_this()));
  }
  switch (reply) {
    case ApplicationTerminateReply::TerminateCancel:
      return;
    case ApplicationTerminateReply::TerminateLater:
      terminationPending_ = true;
      return;
    default:
      terminateNow();
      return;
  }
}

void Application::replyToApplicationShouldTerminate(bool shouldTerminate) {
  if (!terminationPending_) return;
  terminationPending_ = false;
  if (shouldTerminate) terminateNow();
}

void Application::terminateNow() {
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(ApplicationWillTerminateNotification,
                                                                       shared_from_this());
  terminated_ = true;
  stop(nullptr);
}

void Application::activateIgnoringOtherApps(bool) {
  if (active_) return;
  auto center = ns::NotificationCenter::defaultCenter();
  center->postNotificationName_object(ApplicationWillBecomeActiveNotification, shared_from_this());
  active_ = true;
  center->postNotificationName_object(ApplicationDidBecomeActiveNotification, shared_from_this());
}

void Application::deactivate() {
  if (!active_) return;
  auto center = ns::NotificationCenter::defaultCenter();
  center->postNotificationName_object(ApplicationWillResignActiveNotification, shared_from_this());
  active_ = false;
  center->postNotificationName_object(ApplicationDidResignActiveNotification, shared_from_this());
}

// ---- events ----

namespace {

// Ends the main loop's wait on screen: the loop sleeps until the system, a timer or this source
// wakes it, and this one fires for an event posted from anywhere and for a window that needs
// display.
ns::RunLoopSource& wakeSource() {
  static ns::NoDestructor<ns::Ref<ns::RunLoopSource>> source(ns::make<ns::RunLoopSource>([] {}));
  return **source;
}

}  // namespace

void Application::wakeMainLoop() {
  wakeSource().signal();
  ns::RunLoop::mainRunLoop()->wakeUp();
}

void Application::postEvent_atStart(const ns::Ref<Event>& event, bool atStart) {
  if (!event) return;
  {
    std::lock_guard lock(queueMutex_);
    if (atStart) {
      queue_.push_front(event);
    } else {
      queue_.push_back(event);
    }
  }
  wakeMainLoop();
}

std::size_t Application::queuedEventCount() const {
  std::lock_guard lock(queueMutex_);
  return queue_.size();
}

ns::Ref<Event> Application::nextEventMatchingMask_untilDate_inMode_dequeue(EventMask mask,
                                                                           std::optional<ns::Date> date,
                                                                           const std::string& mode,
                                                                           bool dequeue) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  auto keep = self<Application>();
  auto loop = ns::RunLoop::currentRunLoop();
  auto take = [&]() -> ns::Ref<Event> {
    std::lock_guard lock(queueMutex_);
    for (auto it = queue_.begin(); it != queue_.end();) {
      const auto& e = *it;
      // Events for windows that have closed go nowhere.
      if (e->windowNumber() != 0) {
        auto w = windowWithWindowNumber(e->windowNumber());
        if (!w || w->isClosed()) {
          it = queue_.erase(it);
          continue;
        }
      }
      if (mask & EventMaskFromType(e->type())) {
        auto found = e;
        if (dequeue) queue_.erase(it);
        return found;
      }
      ++it;
    }
    return nullptr;
  };
  const double limit = date ? ns::Clock::timeForDate(*date) : -ns::Clock::kDistantFuture;
  for (;;) {
    // Each pass runs what is due in the mode (timers of other modes stand still), then shows
    // what changed, then looks at the queue.
    const bool ran = loop->runPendingInMode(mode);
    updateWindows();
    if (auto e = take()) {
      if (dequeue) currentEvent_ = e;
      return e;
    }
    if (!date || ns::Clock::now() >= limit) return nullptr;
    if (ran) continue;
    // Nothing ran and nothing is queued. Headless nobody else will post: a wait without a real
    // limit (or on the virtual clock, which only a test moves) answers nil.
    const bool distant = limit - ns::Clock::now() > 1e8;
    if (!activePresenter() && (distant || ns::Clock::isVirtual())) return nullptr;
    // On screen the wait lasts until the system's next event (GLib's context), a timer, a
    // perform, or the wake source (an event posted by any thread, a window to display): an idle
    // application sleeps.
    if (!activePresenter()) {
      // Short waits notice events posted by other threads.
      loop->runMode_beforeDate(mode, ns::Clock::dateForTime(std::min(limit, ns::Clock::now() + 0.05)));
      continue;
    }
    if (wakeModes_.insert(mode).second) {
      ns::Ref<ns::RunLoopSource> source = wakeSource().self<ns::RunLoopSource>();
      loop->addSource_forMode(source, mode);
    }
    loop->runMode_beforeDate(mode, ns::Clock::dateForTime(limit));
  }
}

void Application::discardEventsMatchingMask_beforeEvent(EventMask mask, const ns::Ref<Event>& lastEvent) {
  std::lock_guard lock(queueMutex_);
  for (auto it = queue_.begin(); it != queue_.end();) {
    if (*it == lastEvent) break;
    if (mask & EventMaskFromType((*it)->type())) {
      it = queue_.erase(it);
    } else {
      ++it;
    }
  }
}

bool Application::eventAllowedDuringModal(const ns::Ref<Event>& event) const {
  if (modals_.empty() || !isMouseOrKey(event->type())) return true;
  const auto& modal = modals_.back().window;
  auto target = event->window();
  if (!target && (event->type() == EventType::KeyDown || event->type() == EventType::KeyUp))
    target = keyWindow();
  for (auto w = target; w; w = w->sheetParent() ? w->sheetParent() : w->parentWindow()) {
    if (w == modal) return true;
  }
  return false;
}

void Application::sendEvent(const ns::Ref<Event>& event) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (!event) return;
  auto keep = self<Application>();
  currentEvent_ = event;
  if (!Event::runLocalMonitors(event)) return;
  const EventType type = event->type();
  if (type == EventType::MouseMoved || type == EventType::LeftMouseDragged ||
      type == EventType::RightMouseDragged) {
    Cursor::mouseMoved();
  }
  if (!eventAllowedDuringModal(event)) return;
  ns::Ref<Window> window;
  switch (type) {
    case EventType::KeyDown:
    case EventType::KeyUp:
    case EventType::FlagsChanged:
      window = keyWindow();
      if (!window) window = event->window();
      break;
    case EventType::SystemDefined:
    case EventType::ApplicationDefined:
    case EventType::AppKitDefined:
    case EventType::Periodic:
      return;
    default:
      window = event->window();
      if (!window && type == EventType::MouseMoved) window = keyWindow();
      break;
  }
  if (window && !window->isClosed()) window->sendEvent(event);
}

// ---- actions ----

bool Application::sendAction_to_from(ns::Sel action, const ns::Ref<ns::Object>& target,
                                     const ns::Ref<ns::Object>& sender) {
  if (!action) return false;
  auto receiver = targetForAction_to_from(action, target, sender);
  if (!receiver) return false;
  ns::send(receiver, action, sender);
  return true;
}

ns::Ref<ns::Object> Application::searchChain(ns::Sel action, const ns::Ref<Window>& window) const {
  if (!window) return nullptr;
  int guard = 0;
  for (ns::Ref<Responder> r = window->firstResponder(); r && guard < 100000;
       r = r->nextResponder(), ++guard) {
    if (responds(r, action)) return r;
    if (r == window) break;
  }
  if (responds(window, action)) return window;
  if (auto d = window->delegate(); responds(d, action)) return d;
  if (auto wc = window->windowController(); responds(wc, action)) return wc;
  return nullptr;
}

ns::Ref<ns::Object> Application::targetForAction_to_from(ns::Sel action, const ns::Ref<ns::Object>& target,
                                                         const ns::Ref<ns::Object>&) {
  if (!action) return nullptr;
  if (target) return responds(target, action) ? target : nullptr;
  auto key = keyWindow();
  if (auto found = searchChain(action, key)) return found;
  auto main = mainWindow();
  if (main && main != key) {
    if (auto found = searchChain(action, main)) return found;
  }
  auto me = std::static_pointer_cast<ns::Object>(std::const_pointer_cast<Application>(self<Application>()));
  if (responds(me, action)) return me;
  if (auto d = delegate(); responds(d, action)) return d;
  return nullptr;
}

bool Application::tryToPerform_with(ns::Sel action, const ns::Ref<ns::Object>& object) {
  if (Responder::tryToPerform_with(action, object)) return true;
  auto d = delegate();
  if (!responds(d, action)) return false;
  ns::send(d, action, object);
  return true;
}

// ---- windows ----

void Application::registerWindow(const ns::Ref<Window>& window) {
  allWindows_.erase(std::remove_if(allWindows_.begin(), allWindows_.end(),
                                   [](const ns::Weak<Window>& w) { return w.expired(); }),
                    allWindows_.end());
  allWindows_.push_back(window);
}

std::vector<ns::Ref<Window>> Application::windows() const {
  std::vector<ns::Ref<Window>> out;
  for (const auto& w : allWindows_) {
    if (auto s = w.lock(); s && !s->isClosed()) out.push_back(s);
  }
  return out;
}

ns::Ref<Window> Application::windowWithWindowNumber(long number) const {
  for (const auto& w : allWindows_) {
    if (auto s = w.lock(); s && s->windowNumber() == number) return s;
  }
  return nullptr;
}

ns::Ref<Window> Application::modalWindow() const {
  return modals_.empty() ? nullptr : modals_.back().window;
}

void Application::updateWindows() {
  auto visible = visibleWindows_;
  for (const auto& w : visible) {
    if (w->isVisible() && w->viewsNeedDisplay()) w->displayIfNeeded();
  }
}

void Application::windowOrderedIn(const ns::Ref<Window>& window) {
  if (std::find(visibleWindows_.begin(), visibleWindows_.end(), window) == visibleWindows_.end()) {
    visibleWindows_.push_back(window);
  }
}

void Application::windowOrderedOut(const Window* window) {
  ns::Ref<Window> keep;
  for (auto it = visibleWindows_.begin(); it != visibleWindows_.end(); ++it) {
    if (it->get() == window) {
      keep = *it;
      visibleWindows_.erase(it);
      break;
    }
  }
  if (keyWindow().get() == window) {
    ns::Ref<Window> next;
    for (auto it = visibleWindows_.rbegin(); it != visibleWindows_.rend(); ++it) {
      if ((*it)->canBecomeKeyWindow()) {
        next = *it;
        break;
      }
    }
    setKeyWindowInternal(next);
  }
  if (mainWindow().get() == window) {
    ns::Ref<Window> next;
    for (auto it = visibleWindows_.rbegin(); it != visibleWindows_.rend(); ++it) {
      if ((*it)->canBecomeMainWindow()) {
        next = *it;
        break;
      }
    }
    setMainWindowInternal(next);
  }
}

void Application::windowClosed(const Window* window) {
  windowOrderedOut(window);
  // A closed sheet or modal window ends nothing by itself, but it no longer waits.
  sheets_.erase(
      std::remove_if(sheets_.begin(), sheets_.end(),
                     [&](const Sheet& s) { return s.sheet.get() == window && !s.window->attachedSheet(); }),
      sheets_.end());
  lastWindowMayHaveClosed();
}

void Application::lastWindowMayHaveClosed() {
  if (!visibleWindows_.empty()) return;
  static const ns::Sel afterLast("applicationShouldTerminateAfterLastWindowClosed:");
  auto d = delegate();
  if (!responds(d, afterLast)) return;
  if (ns::send<bool>(d, afterLast, shared_from_this())) terminate(nullptr);
}

void Application::setKeyWindowInternal(const ns::Ref<Window>& window) {
  auto old = keyWindow();
  if (old == window) return;
  keyWindow_ = window;
  if (old) old->resignKeyWindow();
  if (window) window->becomeKeyWindow();
}

void Application::setMainWindowInternal(const ns::Ref<Window>& window) {
  auto old = mainWindow();
  if (old == window) return;
  mainWindow_ = window;
  if (old) old->resignMainWindow();
  if (window) window->becomeMainWindow();
}

// ---- modal loops and sheets ----

long Application::runModalForWindow(const ns::Ref<Window>& window) {
  if (!window) return ModalResponseAbort;
  auto keep = self<Application>();
  modals_.push_back({window, std::nullopt});
  const std::size_t depth = modals_.size();
  window->makeKeyAndOrderFront(nullptr);
  while (!modals_[depth - 1].code) {
    auto event = nextEventMatchingMask_untilDate_inMode_dequeue(AnyEventMask, ns::Date::distantFuture(),
                                                                ns::ModalPanelRunLoopMode, true);
    if (!event) {
      if (!modals_[depth - 1].code) {
        ns::Log("AppKit: a modal session found nothing more to run and ends as aborted");
        modals_[depth - 1].code = ModalResponseAbort;
      }
      break;
    }
    sendEvent(event);
  }
  long code = *modals_[depth - 1].code;
  modals_.resize(depth - 1);
  return code;
}

void Application::stopModal() {
  stopModalWithCode(ModalResponseStop);
}

void Application::stopModalWithCode(long code) {
  if (modals_.empty()) return;
  if (modals_.back().code) return;
  modals_.back().code = code;
  // On screen the loop waits for the system's next event, which may never come while another
  // window (a chooser, a menu) holds the input: an event of our own wakes it to see the code.
  if (activePresenter())
    postEvent_atStart(
        Event::otherEventWithType_location_modifierFlags_timestamp_windowNumber_context_subtype_data1_data2(
            EventType::AppKitDefined, {}, 0, ns::Clock::now(), 0, nullptr, 0, 0, 0),
        false);
}

void Application::setMainMenu(const ns::Ref<ns::Object>& menu) {
  if (mainMenu_ == menu) return;
  mainMenu_ = menu;
  if (auto* presenter = activePresenter()) presenter->mainMenuChanged();
}

void Application::abortModal() {
  stopModalWithCode(ModalResponseAbort);
}

void Application::beginSheet_modalForWindow_modalDelegate_didEndSelector_contextInfo(
    const ns::Ref<Window>& sheet, const ns::Ref<Window>& window, const ns::Ref<ns::Object>& delegate,
    ns::Sel didEndSelector, void* contextInfo) {
  if (!sheet || !window || sheet == window) return;
  Sheet s;
  s.sheet = sheet;
  s.window = window;
  s.delegate = delegate;
  if (delegate && ns::object_isClass(delegate.get())) s.delegateClass = delegate;
  s.didEnd = didEndSelector;
  s.contextInfo = contextInfo;
  sheets_.push_back(s);
  if (!window->attachedSheet()) startSheet(s);
}

void Application::startSheet(const Sheet& sheet) {
  sheet.window->attachSheetInternal(sheet.sheet);
}

void Application::endSheet(const ns::Ref<Window>& sheet) {
  endSheet_returnCode(sheet, ModalResponseStop);
}

void Application::endSheet_returnCode(const ns::Ref<Window>& sheet, long returnCode) {
  auto it = std::find_if(sheets_.begin(), sheets_.end(), [&](const Sheet& s) {
    return s.sheet == sheet && s.window->attachedSheet() == sheet;
  });
  if (it == sheets_.end()) {
    ns::Log("AppKit: endSheet for a window that is no attached sheet, ignored");
    return;
  }
  Sheet ended = *it;
  sheets_.erase(it);
  auto keep = self<Application>();
  ended.window->detachSheetInternal();
  ns::Ref<ns::Object> target = ended.delegateClass ? ended.delegateClass : ended.delegate.lock();
  if (target && ended.didEnd) ns::send(target, ended.didEnd, ended.sheet, returnCode, ended.contextInfo);
  // The next sheet waiting for this window hangs now.
  for (const auto& waiting : sheets_) {
    if (waiting.window == ended.window) {
      if (!ended.window->attachedSheet() && !ended.window->isClosed()) startSheet(waiting);
      break;
    }
  }
}

// ---- entry and version ----

int ApplicationMain(int argc, const char** argv) {
  ns::runtime::start();
  if (auto error = startPresenter(argc, argv)) {
    std::string name = argc > 0 && argv[0] ? argv[0] : "pelorin";
    if (auto slash = name.rfind('/'); slash != std::string::npos) name = name.substr(slash + 1);
    std::fprintf(stderr, "%s: %s\n", name.c_str(), error->c_str());
    return 1;
  }
  auto bundle = ns::Bundle::mainBundle();
  std::string principal = "NSApplication";
  if (auto v = bundle->objectForInfoDictionaryKey("NSPrincipalClass"); v.isString())
    principal = v.stringValue();
  ns::Ref<Application> app;
  if (auto cls = ns::NSClassFromString(principal)) {
    if (ns::class_isSubclassOfClass(cls, ns::NSClassFromString("NSApplication"))) {
      app = std::dynamic_pointer_cast<Application>(ns::class_createInstance(cls));
    }
  }
  if (!app) {
    ns::Log("AppKit: the principal class \"%s\" is no application class; using NSApplication", principal);
    app = ns::make<Application>();
  }
  Application::setSharedApplication(app);
  if (auto v = bundle->objectForInfoDictionaryKey("NSMainNibFile"); v.isString()) {
    Nib::loadNibNamed_owner(v.stringValue(), app);
  }
  app->run();
  return 0;
}

double AppKitVersionNumber() {
  struct Entry {
    long major, minor, patch;
    double number;
  };
  static const Entry table[] = {
      {10, 5, 0, 949},      {10, 6, 0, 1038},     {10, 7, 0, 1138},     {10, 8, 0, 1187},
      {10, 9, 0, 1265},     {10, 10, 0, 1343},    {10, 10, 2, 1344},    {10, 10, 3, 1347},
      {10, 10, 4, 1348},    {10, 10, 5, 1348},    {10, 11, 0, 1404},    {10, 11, 1, 1404.13},
      {10, 11, 2, 1404.34}, {10, 11, 3, 1404.34}, {10, 11, 4, 1404.47}, {10, 12, 0, 1504},
      {10, 12, 1, 1504.60}, {10, 12, 2, 1504.76}, {10, 13, 0, 1561},    {10, 14, 0, 1671},
      {10, 15, 0, 1894},    {11, 0, 0, 2022},     {12, 0, 0, 2113},     {13, 0, 0, 2299},
  };
  auto v = ns::ProcessInfo::processInfo()->operatingSystemVersion();
  double number = 949;
  for (const auto& e : table) {
    if (std::tie(e.major, e.minor, e.patch) <= std::tie(v.majorVersion, v.minorVersion, v.patchVersion)) {
      number = e.number;
    }
  }
  return number;
}

}  // namespace ak

PL_CLASS_NAMED(ak::Application, "NSApplication", ak::Responder) {}
