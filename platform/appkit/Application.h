#pragma once
// The application: its windows, the event queue and the main run loop's event fetch, action
// dispatch through the responder chain, modal loops and sheets, launch and termination.
//
// Headless, a fetch that would wait until the distant future for an empty queue with nothing
// left to run answers nil instead of blocking, so `run` returns once the queued events are done.
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/appkit/Event.h"
#include "platform/appkit/Responder.h"
#include "platform/core/Date.h"
#include "platform/runtime/Sel.h"

namespace ak {

class Image;
class Window;

enum class ApplicationTerminateReply : unsigned long {
  TerminateCancel = 0,
  TerminateNow = 1,
  TerminateLater = 2
};

// Modal responses.
inline constexpr long ModalResponseStop = -1000;
inline constexpr long ModalResponseAbort = -1001;
inline constexpr long ModalResponseContinue = -1002;
inline constexpr long ModalResponseOK = 1;
inline constexpr long ModalResponseCancel = 0;

class Application : public Responder {
 public:
  Application();
  ~Application() override;

  // The shared application (NSApp); made as a plain Application on first use unless
  // ApplicationMain made the principal class first.
  static ns::Ref<Application> sharedApplication();
  // Tests: replace (or, with nullptr, forget) the shared application.
  static void setSharedApplication(const ns::Ref<Application>& app);

  // Not retained. Its application notification methods are registered by respondsToSelector.
  ns::Ref<ns::Object> delegate() const { return delegate_.lock(); }
  virtual void setDelegate(const ns::Ref<ns::Object>& delegate);

  // ---- launching and running ----
  virtual void finishLaunching();
  virtual void run();
  bool isRunning() const { return running_; }
  void stop(const ns::Ref<ns::Object>& sender);
  // Asks applicationShouldTerminate: (Cancel, Now, Later); then posts will-terminate and ends run.
  virtual void terminate(const ns::Ref<ns::Object>& sender);
  void replyToApplicationShouldTerminate(bool shouldTerminate);
  bool hasTerminated() const { return terminated_; }

  bool isActive() const { return active_; }
  void activateIgnoringOtherApps(bool flag);
  void deactivate();

  // ---- events ----
  virtual void sendEvent(const ns::Ref<Event>& event);
  // Queues an event; safe from any thread.
  void postEvent_atStart(const ns::Ref<Event>& event, bool atStart);
  // Ends the main loop's current wait so that it looks at its queue and windows again; safe from
  // any thread (a posted event and a window needing display do it).
  static void wakeMainLoop();
  // Runs the main run loop in `mode` until an event matching `mask` is queued or `date` passes
  // (nullopt: do not wait), displaying dirty windows on each pass.
  ns::Ref<Event> nextEventMatchingMask_untilDate_inMode_dequeue(EventMask mask, std::optional<ns::Date> date,
                                                                const std::string& mode, bool dequeue);
  void discardEventsMatchingMask_beforeEvent(EventMask mask, const ns::Ref<Event>& lastEvent);
  ns::Ref<Event> currentEvent() const { return currentEvent_; }
  std::size_t queuedEventCount() const;

  // ---- actions ----
  virtual bool sendAction_to_from(ns::Sel action, const ns::Ref<ns::Object>& target,
                                  const ns::Ref<ns::Object>& sender);
  // `target` when it answers `action`; for nil, the first that answers along the key window's
  // chain, its delegate and controller, the main window's when different, the application and
  // its delegate. nullptr when nobody does.
  virtual ns::Ref<ns::Object> targetForAction_to_from(ns::Sel action, const ns::Ref<ns::Object>& target,
                                                      const ns::Ref<ns::Object>& sender);
  ns::Ref<ns::Object> targetForAction(ns::Sel action) {
    return targetForAction_to_from(action, nullptr, nullptr);
  }
  bool tryToPerform_with(ns::Sel action, const ns::Ref<ns::Object>& object) override;

  // ---- windows ----
  std::vector<ns::Ref<Window>> windows() const;
  ns::Ref<Window> keyWindow() const { return keyWindow_.lock(); }
  ns::Ref<Window> mainWindow() const { return mainWindow_.lock(); }
  ns::Ref<Window> windowWithWindowNumber(long number) const;
  ns::Ref<Window> modalWindow() const;
  void updateWindows();
  ns::Ref<ns::Object> mainMenu() const { return mainMenu_; }
  // On screen the main window shows it as a menu bar.
  void setMainMenu(const ns::Ref<ns::Object>& menu);

  // ---- the icon ----
  // The image set here, else the main bundle's PNG named by "CFBundleIconFile"; nil when there
  // is neither. Any thread may ask (the crash reporter does so from its queue).
  ns::Ref<Image> applicationIconImage() const;
  // nil brings back the bundle's icon.
  void setApplicationIconImage(const ns::Ref<Image>& image);

  // ---- modal loops and sheets ----
  // Runs events for the window only (others' are dropped) in the modal-panel mode until
  // stopModal, stopModalWithCode or abortModal; answers the code.
  virtual long runModalForWindow(const ns::Ref<Window>& window);
  void stopModal();
  void stopModalWithCode(long code);
  void abortModal();
  // Hangs the sheet on the window (or queues it behind the sheet already there); endSheet sends
  // the delegate `didEndSelector` (sheet, returnCode, contextInfo) through ns::send.
  virtual void beginSheet_modalForWindow_modalDelegate_didEndSelector_contextInfo(
      const ns::Ref<Window>& sheet, const ns::Ref<Window>& window, const ns::Ref<ns::Object>& delegate,
      ns::Sel didEndSelector, void* contextInfo);
  void endSheet(const ns::Ref<Window>& sheet);
  virtual void endSheet_returnCode(const ns::Ref<Window>& sheet, long returnCode);

  // ---- internals used by windows ----
  void windowOrderedIn(const ns::Ref<Window>& window);
  void windowOrderedOut(const Window* window);
  void windowClosed(const Window* window);
  void setKeyWindowInternal(const ns::Ref<Window>& window);
  void setMainWindowInternal(const ns::Ref<Window>& window);
  long nextWindowNumber() { return ++lastWindowNumber_; }
  void registerWindow(const ns::Ref<Window>& window);

 private:
  struct Sheet {
    ns::Ref<Window> sheet;
    ns::Ref<Window> window;
    ns::Weak<ns::Object> delegate;
    ns::Ref<ns::Object> delegateClass;  // a class object stays alive
    ns::Sel didEnd;
    void* contextInfo = nullptr;
  };
  struct Modal {
    ns::Ref<Window> window;
    std::optional<long> code;
  };
  bool eventAllowedDuringModal(const ns::Ref<Event>& event) const;
  void startSheet(const Sheet& sheet);
  void terminateNow();
  void registerDelegateObservers();
  void lastWindowMayHaveClosed();
  ns::Ref<ns::Object> searchChain(ns::Sel action, const ns::Ref<Window>& window) const;

  ns::Weak<ns::Object> delegate_;
  std::vector<ns::Ref<ns::Object>> delegateTokens_;
  bool launched_ = false;
  bool running_ = false;
  bool stopRequested_ = false;
  bool terminated_ = false;
  bool terminationPending_ = false;
  bool active_ = false;
  mutable std::mutex queueMutex_;
  std::deque<ns::Ref<Event>> queue_;
  ns::Ref<Event> currentEvent_;
  std::vector<ns::Weak<Window>> allWindows_;
  std::vector<ns::Ref<Window>> visibleWindows_;
  ns::Weak<Window> keyWindow_;
  ns::Weak<Window> mainWindow_;
  long lastWindowNumber_ = 0;
  ns::Ref<ns::Object> mainMenu_;
  std::vector<Modal> modals_;
  std::vector<Sheet> sheets_;        // attached first, then waiting
  std::set<std::string> wakeModes_;  // modes the wake source was added to
  mutable std::mutex iconMutex_;
  ns::Ref<Image> iconImage_;
  mutable ns::Ref<Image> bundleIcon_;  // the bundle's, kept with the path it was read from
  mutable std::string bundleIconPath_;
};

// NSApplicationMain: makes the Info.plist "NSPrincipalClass" through the runtime (an
// Application subclass), loads the "NSMainNibFile" builder with the application as owner and
// runs it. Answers 0 after run returns.
int ApplicationMain(int argc, const char** argv);

// The running AppKit's version number, derived from ns::ProcessInfo's emulated system version.
double AppKitVersionNumber();

}  // namespace ak
