#include "platform/appkit/gtk/Presenter.h"

#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/BitmapImageRep.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Dragging.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/Presenter.h"
#include "platform/appkit/SavePanel.h"
#include "platform/appkit/Screen.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/appkit/gtk/GtkInternal.h"
#include "platform/appkit/gtk/NativeWindow.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"

// Last: Xlib's macros (Above, Below...) would clash with names in the headers above.
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace ak::gtk {

namespace {

// ---- one loop: GLib's default main context inside the main run loop's waits ----

class MainContextParticipant : public ns::PollParticipant {
 public:
  MainContextParticipant() : context_(g_main_context_default()) {
    // The main thread owns the context for good; nobody else iterates it.
    g_main_context_acquire(context_);
  }

  double prepare(std::vector<ns::PollDescriptor>& fds) override {
    Frame frame;
    const bool ready = g_main_context_prepare(context_, &frame.priority);
    gint timeoutMs = -1;
    frame.fds.resize(8);
    for (;;) {
      const gint n = g_main_context_query(context_, frame.priority, &timeoutMs, frame.fds.data(),
                                          static_cast<gint>(frame.fds.size()));
      if (n <= static_cast<gint>(frame.fds.size())) {
        frame.fds.resize(static_cast<std::size_t>(n));
        break;
      }
      frame.fds.resize(static_cast<std::size_t>(n));
    }
    fds.clear();
    for (const auto& f : frame.fds) fds.push_back({f.fd, static_cast<short>(f.events), 0});
    frames_.push_back(std::move(frame));
    if (ready) return 0;
    return timeoutMs < 0 ? INFINITY : timeoutMs / 1000.0;
  }

  bool dispatch(std::vector<ns::PollDescriptor>& fds) override {
    Frame frame = std::move(frames_.back());
    frames_.pop_back();
    for (std::size_t i = 0; i < frame.fds.size() && i < fds.size(); ++i)
      frame.fds[i].revents = static_cast<gushort>(fds[i].revents);
    const bool some =
        g_main_context_check(context_, frame.priority, frame.fds.data(), static_cast<gint>(frame.fds.size()));
    if (some) g_main_context_dispatch(context_);
    return some;
  }

 private:
  // Prepare and dispatch pair up; a nested loop (a tracking loop run from a handler) pushes its own.
  struct Frame {
    gint priority = 0;
    std::vector<GPollFD> fds;
  };
  GMainContext* context_;
  std::vector<Frame> frames_;
};

bool gStarted = false;

// ---- windows another program destroys ----

#ifdef GDK_WINDOWING_X11
// The X ids our toplevels had, and GDK's handler of X errors.
std::set<unsigned long>& ownToplevelIds() {
  static ns::NoDestructor<std::set<unsigned long>> ids;
  return *ids;
}
XErrorHandler gdkErrorHandler = nullptr;

// Requests made of one of our toplevels just after another program destroyed it, before the
// destruction was read, answer BadWindow or BadDrawable; GDK's handler would end the run.
int onXError(::Display* display, XErrorEvent* error) {
  if ((error->error_code == BadWindow || error->error_code == BadDrawable) &&
      ownToplevelIds().count(error->resourceid))
    return 0;
  return gdkErrorHandler ? gdkErrorHandler(display, error) : 0;
}
#endif

void tolerateToplevelsDestroyedOutside() {
#ifdef GDK_WINDOWING_X11
  if (!gdkErrorHandler && GDK_IS_X11_DISPLAY(gdk_display_get_default()))
    gdkErrorHandler = XSetErrorHandler(onXError);
#endif
}

void noteOwnToplevel(GtkWidget* toplevel) {
#ifdef GDK_WINDOWING_X11
  if (GdkWindow* window = gtk_widget_get_window(toplevel); window && GDK_IS_X11_WINDOW(window))
    ownToplevelIds().insert(gdk_x11_window_get_xid(window));
#endif
}

// ---- coordinates ----

double screenHeight() {
  return Screen::mainScreen()->frame().size.height;
}

// ---- input ----

unsigned long modifierFlags(guint state) {
  unsigned long flags = 0;
  if (state & GDK_SHIFT_MASK) flags |= ShiftKeyMask;
  // Ctrl-key equivalents are what users here expect of Command.
  if (state & GDK_CONTROL_MASK) flags |= CommandKeyMask;
  if (state & GDK_MOD1_MASK) flags |= AlternateKeyMask;
  if (state & (GDK_SUPER_MASK | GDK_MOD4_MASK)) flags |= ControlKeyMask;
  if (state & GDK_LOCK_MASK) flags |= AlphaShiftKeyMask;
  return flags;
}

struct KeyInfo {
  unsigned short code;
  char32_t character;  // 0: the key's own Unicode character
};

KeyInfo keyInfo(guint keyval) {
  switch (keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
      return {kVK_Return, U'\r'};
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
      return {kVK_Tab, U'\t'};
    case GDK_KEY_Escape:
      return {kVK_Escape, 0x1b};
    case GDK_KEY_BackSpace:
      return {kVK_Delete, 0x7f};
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete:
      return {kVK_ForwardDelete, DeleteFunctionKey};
    case GDK_KEY_Left:
      return {kVK_LeftArrow, LeftArrowFunctionKey};
    case GDK_KEY_Right:
      return {kVK_RightArrow, RightArrowFunctionKey};
    case GDK_KEY_Up:
      return {kVK_UpArrow, UpArrowFunctionKey};
    case GDK_KEY_Down:
      return {kVK_DownArrow, DownArrowFunctionKey};
    case GDK_KEY_Home:
      return {115, HomeFunctionKey};
    case GDK_KEY_End:
      return {119, EndFunctionKey};
    case GDK_KEY_Page_Up:
      return {116, PageUpFunctionKey};
    case GDK_KEY_Page_Down:
      return {121, PageDownFunctionKey};
    case GDK_KEY_space:
      return {kVK_Space, U' '};
    default:
      break;
  }
  if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12) {
    static const unsigned short codes[] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111};
    return {codes[keyval - GDK_KEY_F1], F1FunctionKey + (keyval - GDK_KEY_F1)};
  }
  // The positions of the letter, digit and punctuation keys, by their unshifted symbol.
  static const char kLayout[] = "asdfhgzxcv\0bqweryt123465=97-80]ou[ip\0lj'k;\\,/nm.";
  const guint lower = gdk_keyval_to_lower(keyval);
  if (lower < 0x80 && lower > 0x20) {
    for (unsigned short i = 0; i < sizeof kLayout - 1; ++i)
      if (kLayout[i] == static_cast<char>(lower)) return {i, 0};
    if (lower == '`') return {50, 0};
  }
  return {0xffff, 0};
}

std::optional<long> mediaKeyCode(guint keyval) {
  switch (keyval) {
    case GDK_KEY_AudioPlay:
    case GDK_KEY_AudioPause:
      return kMediaKeyPlay;
    case GDK_KEY_AudioNext:
      return kMediaKeyNext;
    case GDK_KEY_AudioPrev:
      return kMediaKeyPrevious;
    case GDK_KEY_AudioForward:
      return kMediaKeyFast;
    case GDK_KEY_AudioRewind:
      return kMediaKeyRewind;
    default:
      return std::nullopt;
  }
}

std::string utf8(char32_t c) {
  gchar buffer[8];
  const gint n = g_unichar_to_utf8(static_cast<gunichar>(c), buffer);
  return std::string(buffer, static_cast<std::size_t>(n));
}

// Text typed or composed goes through these application-defined events so that it keeps its
// place among the queued key events.
constexpr short kTextInputSubtype = 0x5047;
enum TextAction : long { InsertText = 1, SetMarkedText = 2 };

// ---- the presenter ----

class GtkPresenter;
GtkPresenter* gPresenter = nullptr;

class GtkPresenter : public Presenter {
 public:
  GtkPresenter() {
    monitor_ = Event::addLocalMonitorForEventsMatchingMask_handler(
        EventMaskFromType(EventType::ApplicationDefined), [this](const ns::Ref<Event>& e) -> ns::Ref<Event> {
          if (e->subtype() != kTextInputSubtype) return e;
          applyTextAction(e);
          return nullptr;
        });
    Cursor::setObserver([this] { cursorChanged(); });
    screensChanged();
    clipboard_ = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    g_signal_connect(clipboard_, "owner-change", G_CALLBACK(onOwnerChange), this);
    // Claimed at once, so another program asking right after the copy finds it; the data
    // itself is read when asked for.
    Pasteboard::setChangeObserver([this](Pasteboard& board) {
      if (!mirroring_ && board.name() == PasteboardNameGeneral) claimClipboard(board);
    });
    if (auto* screen = gdk_screen_get_default()) {
      g_signal_connect(
          screen, "monitors-changed",
          G_CALLBACK(+[](GdkScreen*, gpointer p) { static_cast<GtkPresenter*>(p)->screensChanged(); }), this);
    }
    // Only the main window shows the menu bar.
    auto center = ns::NotificationCenter::defaultCenter();
    for (const char* name : {WindowDidBecomeMainNotification, WindowDidResignMainNotification})
      mainTokens_.push_back(center->addObserverForName_object_queue_usingBlock(
          std::string(name), nullptr, nullptr, [this](const auto&) { updateBars(); }));
  }

  ~GtkPresenter() override {
    for (const auto& token : mainTokens_)
      ns::NotificationCenter::defaultCenter()->removeObserver(token.get());
    for (auto& open : choosers_) open.chooser->cancel();
    choosers_.clear();
    if (purge_) g_source_remove(purge_);
    if (lastPress_) gdk_event_free(lastPress_);
    Pasteboard::setChangeObserver(nullptr);
    g_signal_handlers_disconnect_by_data(clipboard_, this);
    if (claimed_) gtk_clipboard_clear(clipboard_);
    Cursor::setObserver(nullptr);
    Event::removeMonitor(monitor_);
    while (!natives_.empty()) destroy(natives_.begin()->first);
    g_list_free_full(icons_, g_object_unref);
  }

  // ---- window hooks ----

  void windowOrderedIn(const ns::Ref<Window>& window) override {
    Native& n = ensure(window);
    applyProperties(*window, n);
    moveTo(n, window->frame(), height());
    followCoveredMonitor(*window, n);
    gtk_widget_show_all(n.toplevel);
    if (window->isMiniaturized()) gtk_window_iconify(GTK_WINDOW(n.toplevel));
    gtk_window_present(GTK_WINDOW(n.toplevel));
    cursorChanged();
    updateBars();
  }

  void windowOrderedOut(Window& window) override {
    if (auto* n = find(&window)) gtk_widget_hide(n->toplevel);
  }

  void windowClosed(Window& window) override { destroy(&window); }

  void windowFrameChanged(Window& window) override {
    auto* n = find(&window);
    if (!n || n->reporting) return;
    moveTo(*n, window.frame(), height());
    followCoveredMonitor(window, *n);
  }

  void windowDrew(Window& window, const Rect& dirty) override {
    if (!ns::Thread::isMainThread()) {
      // A drawing thread: the widget is told on the main thread.
      ns::Weak<Window> weak = window.self<Window>();
      ns::RunLoop::mainRunLoop()->performBlock([this, weak, dirty] {
        if (auto w = weak.lock()) windowDrew(*w, dirty);
      });
      return;
    }
    auto* n = find(&window);
    if (!n) return;
    n->drawn = true;
    const double h = window.frame().size.height;
    const int x = static_cast<int>(std::floor(dirty.origin.x));
    const int y = static_cast<int>(std::floor(h - MaxY(dirty)));
    const int right = static_cast<int>(std::ceil(MaxX(dirty)));
    const int bottom = static_cast<int>(std::ceil(h - dirty.origin.y));
    gtk_widget_queue_draw_area(n->area, x, y, right - x, bottom - y);
  }

  // Shared memory with the X server where it offers it: the window is shown from it as it is.
  void* createBackingSurface(Window& window, int pixelsWide, int pixelsHigh) override {
    auto* n = find(&window);
    GdkWindow* gdkWindow = n && gtk_widget_get_realized(n->area) ? gtk_widget_get_window(n->area) : nullptr;
    if (!gdkWindow) return nullptr;
    return gdk_window_create_similar_image_surface(gdkWindow, CAIRO_FORMAT_ARGB32, pixelsWide, pixelsHigh, 1);
  }

  void windowPropertiesChanged(Window& window) override {
    auto* n = find(&window);
    if (!n) return;
    applyProperties(window, *n);
    followCoveredMonitor(window, *n);
    // The minimum size may have changed.
    requestMinimum(*n, static_cast<int>(std::lround(window.frame().size.width)),
                   static_cast<int>(std::lround(window.frame().size.height)));
  }

  void windowMiniaturized(Window& window, bool miniaturized) override {
    auto* n = find(&window);
    if (!n) return;
    if (miniaturized) {
      gtk_window_iconify(GTK_WINDOW(n->toplevel));
    } else {
      gtk_window_deiconify(GTK_WINDOW(n->toplevel));
    }
  }

  bool zoomWindow(Window& window) override {
    auto* n = find(&window);
    if (!n) return false;
    // Without a window manager that maximises, the window zooms itself as it does headless.
    GdkScreen* screen = gtk_widget_get_screen(n->toplevel);
    if (GDK_IS_X11_SCREEN(screen) &&
        !gdk_x11_screen_supports_net_wm_hint(screen,
                                             gdk_atom_intern_static_string("_NET_WM_STATE_MAXIMIZED_HORZ")))
      return false;
    if (gtk_window_is_maximized(GTK_WINDOW(n->toplevel))) {
      gtk_window_unmaximize(GTK_WINDOW(n->toplevel));
    } else {
      gtk_window_maximize(GTK_WINDOW(n->toplevel));
    }
    return true;
  }

  bool setWindowFullScreen(Window& window, bool fullScreen) override {
    auto* n = find(&window);
    if (!n) return false;
    // Without a window manager that knows full screen, the window simply takes the screen's
    // frame (and gives it back) as it does headless.
    GdkScreen* screen = gtk_widget_get_screen(n->toplevel);
    if (GDK_IS_X11_SCREEN(screen) && !gdk_x11_screen_supports_net_wm_hint(
                                         screen, gdk_atom_intern_static_string("_NET_WM_STATE_FULLSCREEN")))
      return false;
    if (fullScreen) {
      gtk_window_fullscreen(GTK_WINDOW(n->toplevel));
    } else {
      gtk_window_unfullscreen(GTK_WINDOW(n->toplevel));
    }
    // Without an answer from the system the transition still ends.
    if (n->fullScreenTimeout) g_source_remove(n->fullScreenTimeout);
    auto* weak = new ns::Weak<Window>(window.self<Window>());
    n->fullScreenTimeout = g_timeout_add_full(
        G_PRIORITY_DEFAULT, 2000,
        +[](gpointer p) -> gboolean {
          auto w = static_cast<ns::Weak<Window>*>(p)->lock();
          if (w && gPresenter) {
            if (auto* native = gPresenter->find(w.get())) native->fullScreenTimeout = 0;
            w->finishFullScreenTransition();
          }
          return G_SOURCE_REMOVE;
        },
        weak, +[](gpointer p) { delete static_cast<ns::Weak<Window>*>(p); });
    return true;
  }

  // ---- menus ----

  bool trackMenu(const MenuPresentation& p, ns::Ref<MenuItem>& chosen) override {
    auto view = p.view;
    auto window = view ? view->window() : Application::sharedApplication()->keyWindow();
    auto* n = window ? find(window.get()) : nullptr;
    if (!n || !gtk_widget_get_window(n->area)) return false;
    const double h = window->frame().size.height;
    // The anchor in the window's base coordinates, then in the area's (from the top left).
    Rect anchor;
    ns::Ref<MenuItem> under;
    double width = 0;
    switch (p.kind) {
      case MenuPresentation::Kind::Context:
        anchor = MakeRect(view ? view->convertPoint_toView(p.location, nullptr).x : p.location.x,
                          view ? view->convertPoint_toView(p.location, nullptr).y : p.location.y, 1, 1);
        break;
      case MenuPresentation::Kind::PopUp: {
        const Point at =
            view ? view->convertPoint_toView(p.location, nullptr)
                 : window->convertRectFromScreen(MakeRect(p.location.x, p.location.y, 0, 0)).origin;
        anchor = MakeRect(at.x, at.y, 1, 1);
        under = p.positioningItem;
        break;
      }
      case MenuPresentation::Kind::PopUpCell: {
        anchor = view ? view->convertRect_toView(p.frame, nullptr) : p.frame;
        under = p.positioningItem;
        width = anchor.size.width;
        // The menu's top left goes to the frame's top left.
        anchor = MakeRect(anchor.origin.x, MaxY(anchor), 1, 1);
        break;
      }
    }
    const Rect inArea = MakeRect(anchor.origin.x, h - anchor.origin.y, 1, 1);
    // A menu opened by a press takes the grab with that press, and its release does not choose.
    auto current = Application::sharedApplication()->currentEvent();
    const bool byPress = current && (current->type() == EventType::LeftMouseDown ||
                                     current->type() == EventType::RightMouseDown ||
                                     current->type() == EventType::OtherMouseDown);
    chosen = popUpMenu(p.menu, n->area, inArea, under, width, byPress ? lastPress_ : nullptr);
    return true;
  }

  void mainMenuChanged() override { updateBars(); }

  void menuChanged(Menu& menu) override {
    ns::Ref<Menu> root = menu.self<Menu>();
    for (int guard = 0; guard < 64 && root->supermenu(); ++guard) root = root->supermenu();
    for (auto& [window, n] : natives_)
      if (n->bar && n->bar->menu() == root) n->bar->rebuildLater();
  }

  // The main window shows the main menu as a bar above its content; no other window shows one.
  void updateBars() {
    auto app = Application::sharedApplication();
    auto main = app->mainWindow();
    auto menu = std::dynamic_pointer_cast<Menu>(app->mainMenu());
    for (auto& [window, owned] : natives_) {
      Native& n = *owned;
      const bool wanted = menu && main && main.get() == window;
      if (wanted && !n.bar) {
        n.bar = std::make_unique<MenuBar>();
        auto* widget = static_cast<GtkWidget*>(n.bar->widget());
        gtk_box_pack_start(GTK_BOX(n.box), widget, FALSE, FALSE, 0);
        gtk_box_reorder_child(GTK_BOX(n.box), widget, 0);
        n.bar->setMenu(menu);
        gtk_widget_show_all(widget);
      } else if (!wanted && n.bar) {
        gtk_container_remove(GTK_CONTAINER(n.box), static_cast<GtkWidget*>(n.bar->widget()));
        n.bar.reset();
      } else if (wanted && n.bar->menu() != menu) {
        n.bar->setMenu(menu);
      } else {
        continue;
      }
      if (auto w = n.window.lock()) moveTo(n, w->frame(), height());
    }
  }

  // ---- panels ----

  bool showPanel(const ns::Ref<SavePanel>& panel, const ns::Ref<Window>& parent, PanelDone done) override {
    auto* n = parent ? find(parent.get()) : nullptr;
    OpenChooser open;
    open.parent = n ? parent.get() : nullptr;
    open.chooser =
        showFileChooser(panel, n ? n->toplevel : nullptr, [this, done](std::optional<PanelAnswer> a) {
          // The chooser is freed later, never inside its own signal.
          purgeChoosersLater();
          done(std::move(a));
        });
    choosers_.push_back(std::move(open));
    return true;
  }

  void purgeChoosersLater() {
    if (purge_) return;
    purge_ = g_idle_add(
        +[](gpointer p) -> gboolean {
          auto* self = static_cast<GtkPresenter*>(p);
          self->purge_ = 0;
          auto& list = self->choosers_;
          list.erase(std::remove_if(list.begin(), list.end(),
                                    [](const OpenChooser& c) { return c.chooser->isFinished(); }),
                     list.end());
          return G_SOURCE_REMOVE;
        },
        this);
  }

  // ---- lookup ----

  Native* find(const Window* window) {
    auto it = natives_.find(window);
    return it == natives_.end() ? nullptr : it->second.get();
  }

  void* toplevelOf(const Window& window) {
    auto* n = find(&window);
    return n ? n->toplevel : nullptr;
  }

  void* contentGdkWindow(const Window& window) {
    auto* n = find(&window);
    return n ? gtk_widget_get_window(n->area) : nullptr;
  }

  // ---- screens and cursors ----

  void screensChanged() {
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return;
    const int count = gdk_display_get_n_monitors(display);
    // A display between two configurations may list none: the screens stay as they were.
    if (count == 0) return;
    std::vector<Rect> frames;
    double height = 0;
    for (int i = 0; i < count; ++i) {
      GdkRectangle g;
      gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &g);
      height = std::max(height, double(g.y + g.height));
    }
    GdkMonitor* primary = gdk_display_get_primary_monitor(display);
    if (!primary) primary = gdk_display_get_monitor(display, 0);
    // The main window's menu bar stands above its frame, on whichever screen the window lies:
    // every visible frame leaves room for it at the top, as the platform's menu bar strip does.
    const double strip = menuBarStripHeight();
    std::vector<Rect> visibleFrames;
    for (int i = -1; i < count; ++i) {
      GdkMonitor* m = i < 0 ? primary : gdk_display_get_monitor(display, i);
      if (!m || (i >= 0 && m == primary)) continue;
      GdkRectangle g, work;
      gdk_monitor_get_geometry(m, &g);
      gdk_monitor_get_workarea(m, &work);
      // The bottom-left origin of the main screen's coordinates.
      frames.push_back(MakeRect(g.x, height - g.y - g.height, g.width, g.height));
      Rect visible = MakeRect(work.x, height - work.y - work.height, work.width, work.height);
      visible.size.height = std::max(0.0, visible.size.height - strip);
      visibleFrames.push_back(visible);
    }
    const bool changed = !Screen::screens().empty() && screenHeight_ > 0;
    // Frames count from the bottom of the screens' area: when that area's height changes, every
    // window's frame follows, so that the window stays where the system shows it.
    const double shift = changed ? height - screenHeight_ : 0;
    Screen::setScreenFrames_visibleFrames(frames, visibleFrames);
    screenHeight_ = height;
    if (!changed) return;
    std::vector<ns::Ref<Window>> windows;
    for (auto& [window, n] : natives_)
      if (auto w = n->window.lock()) windows.push_back(w);
    if (shift != 0) {
      for (const auto& w : windows) {
        auto* n = find(w.get());
        // Child windows and sheets travel with their parent.
        if (!n || w->parentWindow() || w->sheetParent()) continue;
        n->shown.origin.y += shift;
        n->reporting = true;
        w->setFrame_display(OffsetRect(w->frame(), 0, shift), false);
        n->reporting = false;
      }
    }
    for (const auto& w : windows) w->screensChangedInternal();
    ns::NotificationCenter::defaultCenter()->postNotificationName_object(
        ApplicationDidChangeScreenParametersNotification, Application::sharedApplication());
  }

  // The monitor (GDK's index) a window covers whole above everything, as a borderless window
  // above the menu bar's level covering a screen does on the original platform; -1 for none.
  int coveredMonitor(const Window& window) const {
    if ((window.styleMask() & TitledWindowMask) || window.level() <= CGWindowLevelForKey(8)) return -1;
    GdkDisplay* display = gdk_display_get_default();
    const Rect f = window.frame();
    for (int i = 0, count = display ? gdk_display_get_n_monitors(display) : 0; i < count; ++i) {
      GdkRectangle g;
      gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &g);
      if (f == MakeRect(g.x, height() - g.y - g.height, g.width, g.height)) return i;
    }
    return -1;
  }

  // Such a window takes the desktop's own full-screen state on its monitor, which puts it above
  // panels, where a window manager offers it; without one it stands at the monitor's frame.
  void followCoveredMonitor(Window& window, Native& n) {
    const int monitor = coveredMonitor(window);
    if (monitor == n.fullScreenMonitor) return;
    GdkScreen* screen = gtk_widget_get_screen(n.toplevel);
    const bool managed =
        !GDK_IS_X11_SCREEN(screen) || gdk_x11_screen_supports_net_wm_hint(
                                          screen, gdk_atom_intern_static_string("_NET_WM_STATE_FULLSCREEN"));
    if (monitor >= 0 && managed) {
      gtk_window_fullscreen_on_monitor(GTK_WINDOW(n.toplevel), screen, monitor);
    } else if (n.fullScreenMonitor >= 0) {
      gtk_window_unfullscreen(GTK_WINDOW(n.toplevel));
    }
    n.fullScreenMonitor = monitor >= 0 && managed ? monitor : -1;
  }

  // The height of a menu bar of one line, as the theme draws it.
  static double menuBarStripHeight() {
    GtkWidget* probe = gtk_menu_bar_new();
    g_object_ref_sink(probe);
    gtk_menu_shell_append(GTK_MENU_SHELL(probe), gtk_menu_item_new_with_label("File"));
    gtk_widget_show_all(probe);
    int natural = 0;
    gtk_widget_get_preferred_height(probe, nullptr, &natural);
    gtk_widget_destroy(probe);
    g_object_unref(probe);
    return natural;
  }

  void cursorChanged() {
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return;
    const auto cursor = Cursor::currentCursor();
    const std::string& name = cursor->name();
    const char* css = "default";
    if (!Cursor::isVisible()) {
      css = "none";
    } else if (name == "IBeam") {
      css = "text";
    } else if (name == "pointingHand") {
      css = "pointer";
    } else if (name == "openHand") {
      css = "grab";
    } else if (name == "closedHand") {
      css = "grabbing";
    } else if (name == "crosshair") {
      css = "crosshair";
    } else if (name == "resizeLeftRight") {
      css = "col-resize";
    } else if (name == "resizeUpDown") {
      css = "row-resize";
    } else if (name == "operationNotAllowed") {
      css = "not-allowed";
    }
    GdkCursor* native = std::string(css) == "none" ? gdk_cursor_new_for_display(display, GDK_BLANK_CURSOR)
                                                   : gdk_cursor_new_from_name(display, css);
    if (!native) native = gdk_cursor_new_from_name(display, "default");
    for (auto& [window, n] : natives_) {
      if (auto* gdkWindow = gtk_widget_get_window(n->area)) gdk_window_set_cursor(gdkWindow, native);
    }
    if (native) g_object_unref(native);
  }

  double height() const { return screenHeight_ > 0 ? screenHeight_ : screenHeight(); }

  // ---- the clipboard ----

  // Offers the general pasteboard's text and URLs on CLIPBOARD; the data is read when asked.
  void claimClipboard(Pasteboard& board) {
    const auto types = board.types();
    auto has = [&](const char* type) { return std::find(types.begin(), types.end(), type) != types.end(); };
    const bool uri = has(PasteboardTypeURL) || has(PasteboardTypeFileURL);
    if (!uri && !has(PasteboardTypeString)) return;
    std::vector<GtkTargetEntry> targets = {{const_cast<gchar*>("UTF8_STRING"), 0, 0},
                                           {const_cast<gchar*>("text/plain;charset=utf-8"), 0, 0}};
    if (uri) targets.push_back({const_cast<gchar*>("text/uri-list"), 0, 1});
    gtk_clipboard_set_with_data(
        clipboard_, targets.data(), static_cast<guint>(targets.size()),
        +[](GtkClipboard*, GtkSelectionData* data, guint info, gpointer) {
          auto board = Pasteboard::generalPasteboard();
          auto url = board->stringForType(PasteboardTypeURL);
          if (!url) url = board->stringForType(PasteboardTypeFileURL);
          std::string out;
          if (info == 1) {
            if (url) out = *url + "\r\n";
          } else if (auto s = board->stringForType(PasteboardTypeString)) {
            out = *s;
          } else if (url) {
            out = *url;
          }
          gtk_selection_data_set(data, gtk_selection_data_get_target(data), 8,
                                 reinterpret_cast<const guchar*>(out.data()), static_cast<gint>(out.size()));
        },
        +[](GtkClipboard*, gpointer) {
          if (gPresenter) gPresenter->claimed_ = false;
        },
        this);
    claimed_ = true;
  }

  // Another program took the clipboard: its text is fetched without waiting and mirrored on the
  // general pasteboard, where paste finds it.
  static void onOwnerChange(GtkClipboard* clipboard, GdkEvent*, GtkPresenter* self) {
    if (self->claimed_) return;
    // The raw bytes, so that text that is not valid UTF-8 is repaired rather than dropped.
    gtk_clipboard_request_contents(
        clipboard, gdk_atom_intern_static_string("UTF8_STRING"),
        +[](GtkClipboard*, GtkSelectionData* data, gpointer) {
          if (!gPresenter || gPresenter->claimed_ || !data) return;
          const gint length = gtk_selection_data_get_length(data);
          const guchar* bytes = gtk_selection_data_get_data(data);
          if (length < 0 || !bytes) return;
          const std::string clean = sanitize(
              std::string_view(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length)));
          auto board = Pasteboard::generalPasteboard();
          gPresenter->mirroring_ = true;
          board->clearContents();
          board->setString_forType(clean, PasteboardTypeString);
          gPresenter->mirroring_ = false;
        },
        nullptr);
  }

 private:
  // The application's icon for the windows (and, as the default, for GTK's own dialogs): the
  // image at its own size and at the usual smaller ones, made once per image. The window manager
  // may take any of them, and X drops one past its request size (a 256-pixel icon is just past
  // it without big requests).
  GList* applicationIcons() {
    auto image = Application::sharedApplication()->applicationIconImage();
    if (image == iconImage_) return icons_;
    g_list_free_full(icons_, g_object_unref);
    icons_ = nullptr;
    iconImage_ = image;
    if (!image) return nullptr;
    // The image's pixels are read once; each smaller size is scaled from the one before it, which
    // reads a quarter of the pixels the full picture would.
    auto* full = static_cast<GdkPixbuf*>(newPixbufOfImage(*image));
    if (!full) return nullptr;
    icons_ = g_list_append(icons_, full);
    const int longer = std::max(gdk_pixbuf_get_width(full), gdk_pixbuf_get_height(full));
    void* previous = full;
    for (int size : {128, 64, 48, 32, 16}) {
      if (size >= longer) continue;
      if (void* scaled = newScaledPixbuf(previous, size)) icons_ = g_list_append(icons_, previous = scaled);
    }
    if (icons_) gtk_window_set_default_icon_list(icons_);
    return icons_;
  }

  Native& ensure(const ns::Ref<Window>& window) {
    if (auto* n = find(window.get())) return *n;
    auto owned = std::make_unique<Native>();
    Native& n = *owned;
    n.window = window;
    n.number = window->windowNumber();
    n.toplevel = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    // Pelorin draws its own title bars.
    gtk_window_set_decorated(GTK_WINDOW(n.toplevel), FALSE);
    gtk_window_set_title(GTK_WINDOW(n.toplevel), window->title().c_str());
    if (GList* icons = applicationIcons()) gtk_window_set_icon_list(GTK_WINDOW(n.toplevel), icons);
    n.box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(n.toplevel), n.box);
    g_object_set_data(G_OBJECT(n.toplevel), "pelorin-box", n.box);
    n.area = gtk_drawing_area_new();
    gtk_widget_set_can_focus(n.area, TRUE);
    gtk_widget_add_events(n.area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                      GDK_SMOOTH_SCROLL_MASK | GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK |
                                      GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK | GDK_FOCUS_CHANGE_MASK);
    gtk_box_pack_end(GTK_BOX(n.box), n.area, TRUE, TRUE, 0);
    n.im = gtk_im_multicontext_new();
    gtk_im_context_set_use_preedit(n.im, TRUE);
    gtk_im_context_set_client_window(n.im, nullptr);

    g_signal_connect(n.area, "draw", G_CALLBACK(onDraw), &n);
    g_signal_connect(n.area, "button-press-event", G_CALLBACK(onButton), &n);
    g_signal_connect(n.area, "button-release-event", G_CALLBACK(onButton), &n);
    g_signal_connect(n.area, "motion-notify-event", G_CALLBACK(onMotion), &n);
    g_signal_connect(n.area, "scroll-event", G_CALLBACK(onScroll), &n);
    g_signal_connect(n.area, "leave-notify-event", G_CALLBACK(onCrossing), &n);
    g_signal_connect(n.area, "enter-notify-event", G_CALLBACK(onCrossing), &n);
    g_signal_connect(n.toplevel, "key-press-event", G_CALLBACK(onKey), &n);
    g_signal_connect(n.toplevel, "key-release-event", G_CALLBACK(onKey), &n);
    g_signal_connect(n.toplevel, "configure-event", G_CALLBACK(onConfigure), &n);
    g_signal_connect(n.toplevel, "focus-in-event", G_CALLBACK(onFocus), &n);
    g_signal_connect(n.toplevel, "focus-out-event", G_CALLBACK(onFocus), &n);
    g_signal_connect(n.toplevel, "window-state-event", G_CALLBACK(onWindowState), &n);
    // Whether another window covers this one whole: moving pictures skip drawing then.
    gtk_widget_add_events(n.toplevel, GDK_VISIBILITY_NOTIFY_MASK);
    g_signal_connect(n.toplevel, "visibility-notify-event", G_CALLBACK(onVisibility), &n);
    g_signal_connect(n.toplevel, "delete-event", G_CALLBACK(onDelete), &n);
    g_signal_connect(n.toplevel, "destroy-event", G_CALLBACK(onDestroyedOutside), &n);
    g_signal_connect(n.toplevel, "realize", G_CALLBACK(noteOwnToplevel), nullptr);
    g_signal_connect(n.area, "realize", G_CALLBACK(onRealize), &n);
    g_signal_connect(n.toplevel, "notify::scale-factor", G_CALLBACK(onScale), &n);
    static const GtkTargetEntry dropTargets[] = {{const_cast<gchar*>("text/uri-list"), 0, 0},
                                                 {const_cast<gchar*>("text/x-moz-url"), 0, 0},
                                                 {const_cast<gchar*>("text/plain;charset=utf-8"), 0, 0},
                                                 {const_cast<gchar*>("text/plain"), 0, 0}};
    gtk_drag_dest_set(n.area, GtkDestDefaults(0), dropTargets, G_N_ELEMENTS(dropTargets),
                      GdkDragAction(GDK_ACTION_COPY | GDK_ACTION_MOVE | GDK_ACTION_LINK));
    g_signal_connect(n.area, "drag-motion", G_CALLBACK(onDragMotion), &n);
    g_signal_connect(n.area, "drag-leave", G_CALLBACK(onDragLeave), &n);
    g_signal_connect(n.area, "drag-drop", G_CALLBACK(onDragDrop), &n);
    g_signal_connect(n.area, "drag-data-received", G_CALLBACK(onDragData), &n);
    g_signal_connect(n.im, "commit", G_CALLBACK(onCommit), &n);
    g_signal_connect(n.im, "preedit-changed", G_CALLBACK(onPreedit), &n);
    g_signal_connect(n.im, "preedit-end", G_CALLBACK(onPreedit), &n);
    natives_[window.get()] = std::move(owned);
    return n;
  }

  void destroy(const Window* window) {
    auto it = natives_.find(window);
    if (it == natives_.end()) return;
    auto owned = std::move(it->second);
    natives_.erase(it);
    // What is shown over the window ends with no choice before the window goes.
    for (auto& open : choosers_)
      if (open.parent == window) open.chooser->cancel();
    cancelPopUpMenus();
    owned->bar.reset();
    if (owned->fullScreenTimeout) g_source_remove(owned->fullScreenTimeout);
    if (owned->resizeFollowUp) g_source_remove(owned->resizeFollowUp);
    g_signal_handlers_disconnect_by_data(owned->im, owned.get());
    gtk_im_context_set_client_window(owned->im, nullptr);
    g_object_unref(owned->im);
    g_signal_handlers_disconnect_by_data(owned->toplevel, owned.get());
    g_signal_handlers_disconnect_by_data(owned->area, owned.get());
    gtk_widget_destroy(owned->toplevel);
  }

  void applyProperties(Window& window, Native& n) {
    auto* w = GTK_WINDOW(n.toplevel);
    gtk_window_set_title(w, window.title().c_str());
    const long level = window.level();
    gtk_window_set_keep_above(w, level > NormalWindowLevel);
    GdkWindowTypeHint hint = GDK_WINDOW_TYPE_HINT_NORMAL;
    if (coveredMonitor(window) >= 0) {
      // A window of the desktop's full screen: managers give that state to normal windows only.
    } else if (level >= PopUpMenuWindowLevel) {
      hint = GDK_WINDOW_TYPE_HINT_POPUP_MENU;
    } else if (!(window.styleMask() & TitledWindowMask)) {
      hint = GDK_WINDOW_TYPE_HINT_UTILITY;
    }
    if (!gtk_widget_get_realized(n.toplevel)) gtk_window_set_type_hint(w, hint);
    auto parent = window.sheetParent() ? window.sheetParent() : window.parentWindow();
    if (auto* p = parent ? find(parent.get()) : nullptr)
      gtk_window_set_transient_for(w, GTK_WINDOW(p->toplevel));
    gtk_widget_set_opacity(n.toplevel, window.alphaValue());
    if (!window.isOpaque()) {
      if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(n.toplevel)))
        if (!gtk_widget_get_realized(n.toplevel)) gtk_widget_set_visual(n.toplevel, rgba);
      gtk_widget_set_app_paintable(n.toplevel, TRUE);
    }
  }

  static ns::Ref<Window> windowOf(Native* n) { return n->window.lock(); }

  // Base coordinates (from the bottom left, points) of a point in the area.
  static Point base(Native* n, double x, double y) {
    auto w = windowOf(n);
    return MakePoint(x, (w ? w->frame().size.height : 0) - y);
  }

  // Screen coordinates (from the bottom left) of a point of the root window: where the system saw
  // the pointer, whatever the window's frame says by the time the event is read.
  static Point onScreen(double xRoot, double yRoot) {
    return MakePoint(xRoot, (gPresenter ? gPresenter->height() : screenHeight()) - yRoot);
  }

  static double timestamp() { return ns::Clock::now(); }

  static void post(const ns::Ref<Event>& e) { Application::sharedApplication()->postEvent_atStart(e, false); }

  // ---- GTK handlers ----

  static void onScale(GtkWidget* toplevel, GParamSpec*, Native* n) {
    if (auto w = windowOf(n)) w->setBackingScaleFactorInternal(gtk_widget_get_scale_factor(toplevel));
  }

  static void onRealize(GtkWidget* area, Native* n) {
    onScale(area, nullptr, n);
    if (gPresenter) gPresenter->cursorChanged();
    if (auto* gdkWindow = gtk_widget_get_window(n->area)) gtk_im_context_set_client_window(n->im, gdkWindow);
  }

  static gboolean onDraw(GtkWidget*, cairo_t* cr, Native* n) {
    auto w = windowOf(n);
    if (!w) return TRUE;
    auto backing = w->backingStore();
    if (!backing) return TRUE;
    auto* surface = static_cast<cairo_surface_t*>(backing->nativeSurface());
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    const double scale = std::max(1.0, double(backing->pixelsWide()) / std::max(1.0, w->frame().size.width));
    cairo_scale(cr, 1 / scale, 1 / scale);
    cairo_set_source_surface(cr, surface, 0, 0);
    // The backing store's pixels are the device's: none is blended with its neighbour.
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
    // The window's own drawing reached the screen (not the empty store before its first pass, and
    // also while an animation keeps asking for the next one).
    if (n->drawn) noteFrameShown();
    return TRUE;
  }

  static gboolean onButton(GtkWidget*, GdkEventButton* e, Native* n) {
    // The platform counts clicks itself; GDK's synthesised double-press events are left out.
    if (e->type == GDK_2BUTTON_PRESS || e->type == GDK_3BUTTON_PRESS) return TRUE;
    auto w = windowOf(n);
    if (!w) return TRUE;
    const bool down = e->type == GDK_BUTTON_PRESS;
    if (down && e->button == 1) {
      // A press on the edge of a resizable window starts the system's resize.
      if (auto edge = resizeEdge(*w, e->x, e->y)) {
        gtk_window_begin_resize_drag(GTK_WINDOW(n->toplevel), *edge, static_cast<gint>(e->button),
                                     static_cast<gint>(e->x_root), static_cast<gint>(e->y_root), e->time);
        return TRUE;
      }
    }
    if (down) {
      gint interval = 400, distance = 5;
      g_object_get(gtk_settings_get_default(), "gtk-double-click-time", &interval,
                   "gtk-double-click-distance", &distance, nullptr);
      const bool same = e->button == n->lastButton && e->time - n->lastPressTime <= guint32(interval) &&
                        std::abs(e->x - n->lastX) <= distance && std::abs(e->y - n->lastY) <= distance;
      n->clickCount = same ? n->clickCount + 1 : 1;
      n->lastButton = e->button;
      n->lastPressTime = e->time;
      n->lastX = e->x;
      n->lastY = e->y;
      n->buttonsDown |= 1u << e->button;
      gtk_widget_grab_focus(n->area);
      if (gPresenter) {
        if (gPresenter->lastPress_) gdk_event_free(gPresenter->lastPress_);
        gPresenter->lastPress_ = gdk_event_copy(reinterpret_cast<GdkEvent*>(e));
      }
    } else {
      n->buttonsDown &= ~(1u << e->button);
    }
    EventType type;
    switch (e->button) {
      case 1:
        type = down ? EventType::LeftMouseDown : EventType::LeftMouseUp;
        break;
      case 3:
        type = down ? EventType::RightMouseDown : EventType::RightMouseUp;
        break;
      default:
        type = down ? EventType::OtherMouseDown : EventType::OtherMouseUp;
        break;
    }
    auto event = Event::
        mouseEventWithType_location_modifierFlags_timestamp_windowNumber_context_eventNumber_clickCount_pressure(
            type, base(n, e->x, e->y), modifierFlags(e->state), timestamp(), n->number, nullptr, 0,
            n->clickCount, down ? 1.0f : 0.0f);
    event->setLocationInScreenInternal(onScreen(e->x_root, e->y_root));
    post(event);
    return TRUE;
  }

  static std::optional<GdkWindowEdge> resizeEdge(const Window& w, double x, double y) {
    constexpr double kBand = 4;
    if (!(w.styleMask() & ResizableWindowMask) || w.isInFullScreen()) return std::nullopt;
    const double width = w.frame().size.width, height = w.frame().size.height;
    const bool left = x < kBand, right = x >= width - kBand, top = y < kBand, bottom = y >= height - kBand;
    if (top && left) return GDK_WINDOW_EDGE_NORTH_WEST;
    if (top && right) return GDK_WINDOW_EDGE_NORTH_EAST;
    if (bottom && left) return GDK_WINDOW_EDGE_SOUTH_WEST;
    if (bottom && right) return GDK_WINDOW_EDGE_SOUTH_EAST;
    if (left) return GDK_WINDOW_EDGE_WEST;
    if (right) return GDK_WINDOW_EDGE_EAST;
    if (top) return GDK_WINDOW_EDGE_NORTH;
    if (bottom) return GDK_WINDOW_EDGE_SOUTH;
    return std::nullopt;
  }

  static gboolean onMotion(GtkWidget*, GdkEventMotion* e, Native* n) {
    EventType type = EventType::MouseMoved;
    if (e->state & GDK_BUTTON1_MASK) {
      type = EventType::LeftMouseDragged;
    } else if (e->state & GDK_BUTTON3_MASK) {
      type = EventType::RightMouseDragged;
    } else if (e->state & (GDK_BUTTON2_MASK | GDK_BUTTON4_MASK | GDK_BUTTON5_MASK)) {
      type = EventType::OtherMouseDragged;
    }
    auto event = Event::
        mouseEventWithType_location_modifierFlags_timestamp_windowNumber_context_eventNumber_clickCount_pressure(
            type, base(n, e->x, e->y), modifierFlags(e->state), timestamp(), n->number, nullptr, 0, 0,
            type == EventType::MouseMoved ? 0.0f : 1.0f);
    event->setLocationInScreenInternal(onScreen(e->x_root, e->y_root));
    post(event);
    return TRUE;
  }

  static gboolean onCrossing(GtkWidget*, GdkEventCrossing* e, Native* n) {
    // Tracking areas follow the pointer's movements; leaving is one more movement, outside.
    if (e->mode != GDK_CROSSING_NORMAL || n->buttonsDown) return TRUE;
    post(
        Event::
            mouseEventWithType_location_modifierFlags_timestamp_windowNumber_context_eventNumber_clickCount_pressure(
                EventType::MouseMoved, base(n, e->x, e->y), modifierFlags(e->state), timestamp(), n->number,
                nullptr, 0, 0, 0));
    return TRUE;
  }

  // GDK's deltas are in notches, smooth ones too (a touchpad's fractions of one): they go on as
  // lines, which each scroll view turns into its own step as GTK's scrolled windows do.
  static gboolean onScroll(GtkWidget*, GdkEventScroll* e, Native* n) {
    double dx = 0, dy = 0;
    switch (e->direction) {
      case GDK_SCROLL_SMOOTH:
        dx = e->delta_x;
        dy = e->delta_y;
        break;
      case GDK_SCROLL_UP:
        dy = -1;
        break;
      case GDK_SCROLL_DOWN:
        dy = 1;
        break;
      case GDK_SCROLL_LEFT:
        dx = -1;
        break;
      case GDK_SCROLL_RIGHT:
        dx = 1;
        break;
    }
    // A positive delta moves the content down, towards its top.
    post(Event::scrollWheelEvent(base(n, e->x, e->y), modifierFlags(e->state), timestamp(), n->number, -dx,
                                 -dy, false));
    return TRUE;
  }

  static ns::Ref<Event> keyEvent(Native* n, const GdkEventKey* e, EventType type,
                                 const std::string& characters, bool repeat) {
    const KeyInfo info = keyInfo(e->keyval);
    std::string ignoring = characters;
    if (info.character == 0) {
      const gunichar plain = gdk_keyval_to_unicode(gdk_keyval_to_lower(e->keyval));
      if (plain) ignoring = utf8(plain);
    }
    return Event::
        keyEventWithType_location_modifierFlags_timestamp_windowNumber_context_characters_charactersIgnoringModifiers_isARepeat_keyCode(
            type, {}, modifierFlags(e->state), timestamp(), n->number, nullptr, characters, ignoring, repeat,
            info.code);
  }

  static std::string keyCharacters(const GdkEventKey* e) {
    const KeyInfo info = keyInfo(e->keyval);
    if (info.character) return utf8(info.character);
    const gunichar c = gdk_keyval_to_unicode(e->keyval);
    if (!c) return {};
    // Control turns letters into their control characters as the platform's Control would;
    // here Control is Command, so the characters stay the letters.
    return utf8(c);
  }

  static gboolean onKey(GtkWidget*, GdkEventKey* e, Native* n) {
    const bool press = e->type == GDK_KEY_PRESS;
    if (auto media = mediaKeyCode(e->keyval)) {
      // A held media key gives one down and one up.
      if (press && !n->heldMediaKeys.insert(e->keyval).second) return TRUE;
      if (!press && !n->heldMediaKeys.erase(e->keyval)) return TRUE;
      const long state = press ? kMediaKeyDown : kMediaKeyUp;
      post(
          Event::otherEventWithType_location_modifierFlags_timestamp_windowNumber_context_subtype_data1_data2(
              EventType::SystemDefined, {}, modifierFlags(e->state), timestamp(), n->number, nullptr,
              kMediaKeySubtype, (*media << 16) | (state << 8), -1));
      return TRUE;
    }
    if (e->is_modifier) {
      // The input method follows modifiers too (its Unicode entry ends on their release).
      gtk_im_context_filter_keypress(n->im, e);
      unsigned long flags = modifierFlags(e->state);
      unsigned long bit = 0;
      switch (e->keyval) {
        case GDK_KEY_Shift_L:
        case GDK_KEY_Shift_R:
          bit = ShiftKeyMask;
          break;
        case GDK_KEY_Control_L:
        case GDK_KEY_Control_R:
          bit = CommandKeyMask;
          break;
        case GDK_KEY_Alt_L:
        case GDK_KEY_Alt_R:
          bit = AlternateKeyMask;
          break;
        case GDK_KEY_Super_L:
        case GDK_KEY_Super_R:
          bit = ControlKeyMask;
          break;
        default:
          break;
      }
      // GDK's state is the one before this key.
      flags = press ? flags | bit : flags & ~bit;
      post(
          Event::
              keyEventWithType_location_modifierFlags_timestamp_windowNumber_context_characters_charactersIgnoringModifiers_isARepeat_keyCode(
                  EventType::FlagsChanged, {}, flags, timestamp(), n->number, nullptr, {}, {}, false, 0));
      return TRUE;
    }
    // F10 opens the menu bar's first menu: GTK's own handler does that once ak validated them.
    if (press && e->keyval == GDK_KEY_F10 && !(e->state & gtk_accelerator_get_default_mod_mask()) && n->bar &&
        n->bar->prepareToOpen())
      return FALSE;
    const bool repeat = press && !n->heldKeys.insert(e->hardware_keycode).second;
    if (!press) n->heldKeys.erase(e->hardware_keycode);
    n->filtering = e;
    n->committedDuringFilter = false;
    const bool consumed = gtk_im_context_filter_keypress(n->im, e);
    n->filtering = nullptr;
    if (consumed) return TRUE;
    if (!press) {
      post(keyEvent(n, e, EventType::KeyUp, keyCharacters(e), false));
      return TRUE;
    }
    post(keyEvent(n, e, EventType::KeyDown, keyCharacters(e), repeat));
    return TRUE;
  }

  static void onCommit(GtkIMContext*, const gchar* text, Native* n) {
    std::string committed = withoutFunctionKeyCharacters(sanitize(text ? text : ""));
    if (committed.empty()) return;
    if (n->filtering && n->filtering->type == GDK_KEY_PRESS && !n->committedDuringFilter) {
      // The key typed this text: it reaches the first responder as a key down, keyDown turns
      // it into text, and key equivalents of plain keys keep working.
      n->committedDuringFilter = true;
      post(keyEvent(n, n->filtering, EventType::KeyDown, committed, false));
      return;
    }
    postText(n, InsertText, committed, 0);
  }

  static void onPreedit(GtkIMContext* im, Native* n) {
    gchar* text = nullptr;
    gint cursor = 0;
    gtk_im_context_get_preedit_string(im, &text, nullptr, &cursor);
    std::string preedit = sanitize(text ? text : "");
    g_free(text);
    postText(n, SetMarkedText, preedit, cursor);
  }

  static void postText(Native* n, TextAction action, const std::string& text, long cursor) {
    if (!gPresenter) return;
    const long id = ++gPresenter->nextText_;
    gPresenter->texts_[id] = {n->number, action, text, cursor};
    post(Event::otherEventWithType_location_modifierFlags_timestamp_windowNumber_context_subtype_data1_data2(
        EventType::ApplicationDefined, {}, 0, timestamp(), n->number, nullptr, kTextInputSubtype, id, 0));
  }

  void applyTextAction(const ns::Ref<Event>& e) {
    auto it = texts_.find(e->data1());
    if (it == texts_.end()) return;
    PendingText pending = std::move(it->second);
    texts_.erase(it);
    auto app = Application::sharedApplication();
    auto window = app->keyWindow();
    if (!window) window = app->windowWithWindowNumber(pending.window);
    if (!window) return;
    auto responder = window->firstResponder();
    if (!responder) return;
    auto text = std::dynamic_pointer_cast<TextView>(responder);
    if (pending.action == InsertText) {
      responder->insertText(pending.text);
      return;
    }
    if (!text) return;
    // Preedit is marked text; the characters before the cursor are counted in UTF-16 units.
    glong units = 0;
    if (gunichar2* u16 = g_utf8_to_utf16(pending.text.c_str(), -1, nullptr, &units, nullptr)) g_free(u16);
    glong cursorUnits = 0;
    {
      gchar* prefix = g_utf8_substring(pending.text.c_str(), 0, pending.cursor);
      if (gunichar2* u16 = g_utf8_to_utf16(prefix, -1, nullptr, &cursorUnits, nullptr)) g_free(u16);
      g_free(prefix);
    }
    // An empty preedit takes the marked text away; the commit that may follow inserts the result.
    if (pending.text.empty() && !text->hasMarkedText()) return;
    text->setMarkedText_selectedRange_replacementRange(
        pending.text, {static_cast<std::size_t>(cursorUnits), 0}, {ns::NotFound, 0});
    placeCandidateWindow(*window, *text);
  }

  void placeCandidateWindow(Window& window, TextView& text) {
    auto* n = find(&window);
    if (!n) return;
    const Rect r = text.firstRectForCharacterRange(text.selectedRange());
    // Screen rectangle to the area's coordinates (from the top left).
    const Rect base = window.convertRectFromScreen(r);
    GdkRectangle area{
        static_cast<int>(base.origin.x), static_cast<int>(window.frame().size.height - MaxY(base)),
        std::max(1, static_cast<int>(base.size.width)), std::max(1, static_cast<int>(base.size.height))};
    gtk_im_context_set_cursor_location(n->im, &area);
  }

  // ---- drops from other programs ----

  static unsigned long operationMask(GdkDragContext* context) {
    const GdkDragAction actions = gdk_drag_context_get_actions(context);
    unsigned long mask = 0;
    if (actions & GDK_ACTION_COPY) mask |= DragOperationCopy;
    if (actions & GDK_ACTION_MOVE) mask |= DragOperationMove;
    if (actions & GDK_ACTION_LINK) mask |= DragOperationLink;
    return mask;
  }

  static GdkDragAction action(unsigned long operation) {
    if (operation & DragOperationCopy) return GDK_ACTION_COPY;
    if (operation & DragOperationMove) return GDK_ACTION_MOVE;
    if (operation & DragOperationLink) return GDK_ACTION_LINK;
    return GdkDragAction(0);
  }

  static gboolean onDragMotion(GtkWidget* area, GdkDragContext* context, gint x, gint y, guint time,
                               Native* n) {
    auto w = windowOf(n);
    if (!w) return FALSE;
    n->dropLeaving = false;
    if (n->dropContext == context && hasDropData()) {
      gdk_drag_status(context, action(dropMotion(w, base(n, x, y), operationMask(context))), time);
      return TRUE;
    }
    if (n->dropContext != context) {
      GdkAtom target = gtk_drag_dest_find_target(area, context, nullptr);
      if (target == GDK_NONE) return FALSE;
      n->dropContext = context;
      n->dropPending = false;
      gtk_drag_get_data(area, context, target, time);
    }
    n->dropX = x;
    n->dropY = y;
    gdk_drag_status(context, GdkDragAction(0), time);
    return TRUE;
  }

  static void onDragLeave(GtkWidget*, GdkDragContext*, guint, Native* n) {
    // GTK says leave before drop as well: the session ends only when no drop follows.
    n->dropLeaving = true;
    g_idle_add(
        +[](gpointer p) -> gboolean {
          auto* number = static_cast<long*>(p);
          if (gPresenter)
            for (auto& [window, native] : gPresenter->natives_)
              if (native->number == *number && native->dropLeaving) {
                native->dropLeaving = false;
                native->dropContext = nullptr;
                dropLeft();
              }
          delete number;
          return G_SOURCE_REMOVE;
        },
        new long(n->number));
  }

  static gboolean onDragDrop(GtkWidget* area, GdkDragContext* context, gint x, gint y, guint time,
                             Native* n) {
    auto w = windowOf(n);
    n->dropLeaving = false;
    if (!w) return FALSE;
    if (n->dropContext == context && hasDropData()) {
      const unsigned long done = dropNow(w, base(n, x, y), operationMask(context));
      n->dropContext = nullptr;
      gtk_drag_finish(context, done != DragOperationNone, FALSE, time);
      return TRUE;
    }
    GdkAtom target = gtk_drag_dest_find_target(area, context, nullptr);
    if (target == GDK_NONE) return FALSE;
    n->dropContext = context;
    n->dropPending = true;
    n->dropX = x;
    n->dropY = y;
    gtk_drag_get_data(area, context, target, time);
    return TRUE;
  }

  static void onDragData(GtkWidget*, GdkDragContext* context, gint x, gint y, GtkSelectionData* data, guint,
                         guint time, Native* n) {
    auto w = windowOf(n);
    if (!w || context != n->dropContext) return;
    const gint length = gtk_selection_data_get_length(data);
    const guchar* bytes = gtk_selection_data_get_data(data);
    gchar* name = gdk_atom_name(gtk_selection_data_get_target(data));
    const std::string target = name ? name : "";
    g_free(name);
    const std::string_view view = length > 0 && bytes ? std::string_view(reinterpret_cast<const char*>(bytes),
                                                                         static_cast<std::size_t>(length))
                                                      : std::string_view();
    const Point at = base(n, n->dropPending ? n->dropX : x, n->dropPending ? n->dropY : y);
    const unsigned long operation =
        receiveDropData(w, at, target, view, operationMask(context), n->dropPending);
    if (n->dropPending) {
      n->dropPending = false;
      n->dropContext = nullptr;
      gtk_drag_finish(context, operation != DragOperationNone, FALSE, time);
    } else {
      gdk_drag_status(context, action(operation), time);
    }
  }

  static gboolean onConfigure(GtkWidget*, GdkEventConfigure* e, Native* n) {
    auto w = windowOf(n);
    if (!w || !gPresenter) return FALSE;
    if (reconcileConfigure(*n, *w, *e, gPresenter->height()) && gPresenter)
      moveTo(*n, w->frame(), gPresenter->height());
    return FALSE;
  }

  static gboolean onFocus(GtkWidget*, GdkEventFocus* e, Native* n) {
    auto w = windowOf(n);
    if (!w) return FALSE;
    auto app = Application::sharedApplication();
    if (e->in) {
      gtk_im_context_focus_in(n->im);
      app->activateIgnoringOtherApps(true);
      w->makeKeyWindow();
      w->makeMainWindow();
    } else {
      gtk_im_context_focus_out(n->im);
      n->heldMediaKeys.clear();
      n->heldKeys.clear();
      // The application resigns once none of its windows has the focus; another of ours may
      // take it in the same moment, so look once the focus has settled.
      g_idle_add(
          +[](gpointer) -> gboolean {
            if (!gPresenter) return G_SOURCE_REMOVE;
            for (auto& [window, native] : gPresenter->natives_)
              if (gtk_window_has_toplevel_focus(GTK_WINDOW(native->toplevel))) return G_SOURCE_REMOVE;
            Application::sharedApplication()->deactivate();
            return G_SOURCE_REMOVE;
          },
          nullptr);
    }
    return FALSE;
  }

  static gboolean onWindowState(GtkWidget*, GdkEventWindowState* e, Native* n) {
    auto w = windowOf(n);
    if (!w) return FALSE;
    if (e->changed_mask & GDK_WINDOW_STATE_ICONIFIED) {
      const bool iconified = e->new_window_state & GDK_WINDOW_STATE_ICONIFIED;
      if (iconified && !w->isMiniaturized()) w->miniaturize(nullptr);
      if (!iconified && w->isMiniaturized()) w->deminiaturize(nullptr);
    }
    if ((e->changed_mask & GDK_WINDOW_STATE_FULLSCREEN) && w->isFullScreenTransitionPending()) {
      const bool full = e->new_window_state & GDK_WINDOW_STATE_FULLSCREEN;
      if (full == w->isInFullScreen()) {
        if (n->fullScreenTimeout) g_source_remove(n->fullScreenTimeout);
        n->fullScreenTimeout = 0;
        w->finishFullScreenTransition();
      }
    }
    return FALSE;
  }

  static gboolean onVisibility(GtkWidget*, GdkEvent* e, Native* n) {
    if (auto w = windowOf(n)) w->setOccludedInternal(e->visibility.state == GDK_VISIBILITY_FULLY_OBSCURED);
    return FALSE;
  }

  static gboolean onDelete(GtkWidget*, GdkEvent*, Native* n) {
    if (auto w = windowOf(n)) w->performClose(nullptr);
    return TRUE;  // the ak window decides; closing it destroys the GTK one
  }

  // Another program destroyed the toplevel (XDestroyWindow): nothing is left to show the window
  // in, so it closes as its close button closes it, without asking.
  static gboolean onDestroyedOutside(GtkWidget*, GdkEvent*, Native* n) {
    if (auto w = windowOf(n)) w->close();
    return TRUE;
  }

  struct PendingText {
    long window = 0;
    TextAction action = InsertText;
    std::string text;
    long cursor = 0;
  };

  struct OpenChooser {
    const Window* parent = nullptr;
    std::unique_ptr<FileChooser> chooser;
  };

  std::map<const Window*, std::unique_ptr<Native>> natives_;
  std::vector<OpenChooser> choosers_;
  guint purge_ = 0;
  GdkEvent* lastPress_ = nullptr;
  std::vector<ns::Ref<ns::Object>> mainTokens_;
  std::map<long, PendingText> texts_;
  long nextText_ = 0;
  ns::Ref<ns::Object> monitor_;
  double screenHeight_ = 0;
  GtkClipboard* clipboard_ = nullptr;
  bool claimed_ = false;
  bool mirroring_ = false;
  ns::Ref<Image> iconImage_;
  GList* icons_ = nullptr;
};

}  // namespace

std::string sanitize(std::string_view text) {
  constexpr std::size_t kMax = 1 << 20;
  std::size_t end = std::min(text.size(), kMax);
  // A cut inside a character moves back to its start.
  if (end < text.size())
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  std::string_view capped = text.substr(0, end);
  gchar* valid = g_utf8_make_valid(capped.data(), static_cast<gssize>(capped.size()));
  std::string out(valid);
  g_free(valid);
  return out;
}

void attachMainContext() {
  auto loop = ns::RunLoop::mainRunLoop();
  if (!std::dynamic_pointer_cast<MainContextParticipant>(loop->pollParticipant()))
    loop->setPollParticipant(std::make_shared<MainContextParticipant>());
}

std::optional<std::string> startPresenter(int argc, const char** argv) {
  if (gStarted) return std::nullopt;
  // The windows place themselves, which only X11 honours.
  gdk_set_allowed_backends("x11,wayland");
  int gtkArgc = 0;
  char** gtkArgv = nullptr;
  (void)argc;
  (void)argv;
  if (!gtk_init_check(&gtkArgc, &gtkArgv)) {
    const char* display = std::getenv("DISPLAY");
    if (display && *display) return std::string("cannot open display ") + display;
    return std::string("cannot open the display");
  }
  gStarted = true;
  tolerateToplevelsDestroyedOutside();
  attachMainContext();
  auto presenter = std::make_shared<GtkPresenter>();
  gPresenter = presenter.get();
  setActivePresenter(presenter);
  return std::nullopt;
}

bool hasRenderNode() {
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/dev/dri", ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename().string().rfind("renderD", 0) == 0 &&
        ::access(it->path().c_str(), R_OK | W_OK) == 0)
      return true;
  }
  return false;
}

void prepareDisplayEnvironment() {
  if (std::getenv("GDK_GL") || hasRenderNode()) return;
  ::setenv("GDK_GL", "disable", 0);
}

void installPresenter() {
  registerPresenterStarter([](int argc, const char** argv) { return ak::gtk::startPresenter(argc, argv); });
}

void* nativeWindow(const Window& window) {
  return gPresenter ? gPresenter->toplevelOf(window) : nullptr;
}

void* nativeGdkWindow(const Window& window) {
  return gPresenter ? gPresenter->contentGdkWindow(window) : nullptr;
}

namespace {

// A widget in a GtkOverlay over the drawing area, following its view.
class OverlayChild : public NativeChild {
 public:
  OverlayChild(const ns::Ref<View>& view, GtkWidget* widget) : view_(view), widget_(widget) {
    g_object_ref_sink(widget_);
    update();
  }
  ~OverlayChild() override {
    if (GtkWidget* parent = gtk_widget_get_parent(widget_))
      gtk_container_remove(GTK_CONTAINER(parent), widget_);
    g_object_unref(widget_);
  }

  void update() override {
    auto view = view_.lock();
    auto window = view ? view->window() : nullptr;
    auto* toplevel = window ? static_cast<GtkWidget*>(nativeWindow(*window)) : nullptr;
    if (!toplevel) {
      gtk_widget_hide(widget_);
      return;
    }
    GtkWidget* fixed = fixedFor(toplevel);
    if (gtk_widget_get_parent(widget_) != fixed) {
      if (GtkWidget* old = gtk_widget_get_parent(widget_)) gtk_container_remove(GTK_CONTAINER(old), widget_);
      gtk_fixed_put(GTK_FIXED(fixed), widget_, 0, 0);
    }
    const Rect r = view->convertRect_toView(view->bounds(), nullptr);
    const double h = window->frame().size.height;
    gtk_fixed_move(GTK_FIXED(fixed), widget_, static_cast<int>(r.origin.x), static_cast<int>(h - MaxY(r)));
    gtk_widget_set_size_request(widget_, static_cast<int>(r.size.width), static_cast<int>(r.size.height));
    if (view->isHiddenOrHasHiddenAncestor()) {
      gtk_widget_hide(widget_);
    } else {
      gtk_widget_show_all(widget_);
    }
  }

 private:
  // The toplevel's child becomes an overlay holding the drawing area and a fixed layer on top.
  static GtkWidget* fixedFor(GtkWidget* toplevel) {
    // The content is the box's last child: the drawing area, or the overlay holding it.
    auto* box = GTK_WIDGET(g_object_get_data(G_OBJECT(toplevel), "pelorin-box"));
    GList* children = gtk_container_get_children(GTK_CONTAINER(box));
    GtkWidget* child = GTK_WIDGET(g_list_last(children)->data);
    g_list_free(children);
    if (GTK_IS_OVERLAY(child)) return GTK_WIDGET(g_object_get_data(G_OBJECT(child), "pelorin-fixed"));
    g_object_ref(child);
    gtk_container_remove(GTK_CONTAINER(box), child);
    GtkWidget* overlay = gtk_overlay_new();
    gtk_container_add(GTK_CONTAINER(overlay), child);
    g_object_unref(child);
    GtkWidget* fixed = gtk_fixed_new();
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), fixed);
    // Events outside the children fall through to the drawing area.
    gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(overlay), fixed, TRUE);
    g_object_set_data(G_OBJECT(overlay), "pelorin-fixed", fixed);
    gtk_box_pack_end(GTK_BOX(box), overlay, TRUE, TRUE, 0);
    gtk_widget_show_all(overlay);
    return fixed;
  }

  ns::Weak<View> view_;
  GtkWidget* widget_;
};

}  // namespace

std::shared_ptr<NativeChild> attachNativeChild(const ns::Ref<View>& view, void* widget) {
  if (!gPresenter || !view || !widget) return nullptr;
  return std::make_shared<OverlayChild>(view, static_cast<GtkWidget*>(widget));
}

}  // namespace ak::gtk
