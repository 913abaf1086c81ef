#include "platform/testing/gtk/Screen.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <cstdlib>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "platform/appkit/Screen.h"
#include "platform/appkit/gtk/Presenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"

namespace pltest {

namespace {

Display* xdisplay() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display || !GDK_IS_X11_DISPLAY(display)) throw std::runtime_error("no X11 display");
  return gdk_x11_display_get_xdisplay(display);
}

int x11Top(const ns::Ref<ak::Window>& window) {
  return static_cast<int>(std::lround(screensTop() - ak::MaxY(window->frame())));
}

}  // namespace

double screensTop() {
  double top = 0;
  for (const auto& screen : ak::Screen::screens()) top = std::max(top, ak::MaxY(screen->frame()));
  return top;
}

OnScreenApp::OnScreenApp() : HeadlessApp(false) {
  if (auto error = ak::gtk::startPresenter()) throw std::runtime_error(*error);
  // The display wrapper unwinds every allocation slowly, so that this process's leak report can
  // name the toolkit's frames. The real executable that tests start (with WebKit among its many
  // libraries) would then spend seconds in each TLS connection's set-up, past what the fakes
  // wait for a request: it unwinds fast, as the sanitizer does by default. This process read its
  // options at its start; only children see the change.
  const char* options = std::getenv("ASAN_OPTIONS");
  if (options && std::string(options).find("fast_unwind_on_malloc=0") != std::string::npos)
    sandbox().set("ASAN_OPTIONS", std::string(options) + ":fast_unwind_on_malloc=1");
}

bool OnScreenApp::settle(const std::function<bool()>& predicate, double timeoutSeconds) {
  return pumpUntil(
      [&] {
        dispatchQueued();
        return predicate();
      },
      timeoutSeconds);
}

bool OnScreenApp::waitUntilShown(const ns::Ref<ak::Window>& window, double timeoutSeconds) {
  return settle(
      [&] {
        auto* gdkWindow = static_cast<GdkWindow*>(ak::gtk::nativeGdkWindow(*window));
        if (!gdkWindow || !gdk_window_is_viewable(gdkWindow)) return false;
        int x = 0, y = 0;
        gdk_window_get_origin(gdkWindow, &x, &y);
        if (x != std::lround(window->frame().origin.x) || y != x11Top(window)) return false;
        // The window's own pixels are on screen: a point near its top edge matches the backing store.
        auto backing = window->backingStore();
        if (!backing) return false;
        const auto px = static_cast<std::size_t>(window->frame().size.width * 3 / 4);
        const auto want = backing->pixelAtX_y(px, 4);
        const auto got = screenPixel(x + static_cast<int>(px), y + 4);
        return std::abs(int(got.r) - int(want.r)) <= 2 && std::abs(int(got.g) - int(want.g)) <= 2 &&
               std::abs(int(got.b) - int(want.b)) <= 2;
      },
      timeoutSeconds);
}

bool OnScreenApp::focus(const ns::Ref<ak::Window>& window, double timeoutSeconds) {
  auto* toplevel = static_cast<GtkWidget*>(ak::gtk::nativeWindow(*window));
  auto* gdkWindow = toplevel ? gtk_widget_get_window(toplevel) : nullptr;
  if (!gdkWindow) return false;
  // No window manager runs on the test display: the focus is set directly.
  XSetInputFocus(xdisplay(), GDK_WINDOW_XID(gdkWindow), RevertToParent, CurrentTime);
  XFlush(xdisplay());
  return settle([&] { return window->isKeyWindow() && app()->isActive(); }, timeoutSeconds);
}

struct Steps::Impl {
  struct Step {
    std::function<bool()> condition;
    std::function<void()> action;
  };
  std::vector<Step> steps;
  std::size_t next = 0;
  ns::Ref<ns::Timer> timer;
  bool running = false;
  void run() {
    if (running) return;  // a step's action may pump the loop itself
    running = true;
    while (next < steps.size() && steps[next].condition()) {
      auto action = steps[next].action;
      ++next;
      if (action) action();
    }
    running = false;
  }
};

Steps::Steps() : impl_(std::make_shared<Impl>()) {
  std::weak_ptr<Impl> weak = impl_;
  impl_->timer =
      ns::Timer::timerWithTimeInterval_repeats_block(0.02, true, [weak](const ns::Ref<ns::Timer>&) {
        if (auto impl = weak.lock()) impl->run();
      });
  ns::RunLoop::mainRunLoop()->addTimer_forMode(impl_->timer, ns::RunLoopCommonModes);
}

Steps::~Steps() {
  impl_->timer->invalidate();
}

Steps& Steps::when(std::function<bool()> condition, std::function<void()> action) {
  impl_->steps.push_back({std::move(condition), std::move(action)});
  return *this;
}

Steps& Steps::then(std::function<void()> action) {
  return when([] { return true; }, std::move(action));
}

bool Steps::done() const {
  return impl_->next >= impl_->steps.size();
}

namespace {

void collectLabels(GtkWidget* widget, const std::string& text, std::optional<ScreenPoint>& found) {
  if (found || !gtk_widget_get_mapped(widget)) return;
  // A label just added has no place yet: only one laid out counts.
  if (GTK_IS_LABEL(widget) && text == gtk_label_get_text(GTK_LABEL(widget)) &&
      gtk_widget_is_drawable(widget) && gtk_widget_get_allocated_width(widget) > 1) {
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    int tx = 0, ty = 0, ox = 0, oy = 0;
    if (gtk_widget_translate_coordinates(widget, top, a.width / 2, a.height / 2, &tx, &ty) &&
        gtk_widget_get_window(top)) {
      gdk_window_get_origin(gtk_widget_get_window(top), &ox, &oy);
      found = ScreenPoint{ox + tx, oy + ty};
    }
    return;
  }
  if (GTK_IS_CONTAINER(widget)) {
    struct Args {
      const std::string* text;
      std::optional<ScreenPoint>* found;
    } args{&text, &found};
    gtk_container_forall(
        GTK_CONTAINER(widget),
        +[](GtkWidget* child, gpointer p) {
          auto* a = static_cast<Args*>(p);
          collectLabels(child, *a->text, *a->found);
        },
        &args);
  }
}

template <typename F>
void eachShownToplevel(F f) {
  GList* tops = gtk_window_list_toplevels();
  for (GList* t = tops; t; t = t->next)
    if (gtk_widget_get_mapped(GTK_WIDGET(t->data))) f(GTK_WIDGET(t->data));
  g_list_free(tops);
}

// Whether the toplevel has painted a frame since it was mapped (a mapped label may not be drawn
// yet).
bool painted(GtkWidget* top) {
  GdkWindow* window = gtk_widget_get_window(top);
  GdkFrameClock* clock = window ? gdk_window_get_frame_clock(window) : nullptr;
  if (!clock) return false;
  auto* seen = static_cast<GdkWindow*>(g_object_get_data(G_OBJECT(clock), "pltest-painted"));
  if (seen == window) return true;
  if (!g_object_get_data(G_OBJECT(clock), "pltest-watched")) {
    g_object_set_data(G_OBJECT(clock), "pltest-watched", GINT_TO_POINTER(1));
    g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock* c, GtkWidget* t) {
                       if (GdkWindow* w = gtk_widget_get_window(t))
                         g_object_set_data(G_OBJECT(c), "pltest-painted", w);
                     }),
                     top);
  }
  // A window drawn before it was watched paints once more.
  gtk_widget_queue_draw(top);
  return false;
}

}  // namespace

std::optional<ScreenPoint> labelOnScreen(const std::string& text) {
  std::optional<ScreenPoint> found;
  eachShownToplevel([&](GtkWidget* top) {
    if (!found && painted(top)) collectLabels(top, text, found);
  });
  return found;
}

bool shownToplevel(const std::string& kind) {
  bool shown = false;
  eachShownToplevel([&](GtkWidget* top) {
    GtkWidget* child = GTK_IS_BIN(top) ? gtk_bin_get_child(GTK_BIN(top)) : nullptr;
    if (kind == "menu" && child && GTK_IS_MENU(child)) shown = true;
    if (kind == "dialog" && GTK_IS_DIALOG(top)) shown = true;
  });
  return shown;
}

bool focusDialog() {
  bool done = false;
  eachShownToplevel([&](GtkWidget* top) {
    if (done || !GTK_IS_DIALOG(top)) return;
    XSetInputFocus(xdisplay(), GDK_WINDOW_XID(gtk_widget_get_window(top)), RevertToParent, CurrentTime);
    XFlush(xdisplay());
    done = true;
  });
  return done;
}

std::vector<Pixel> screenPixels(int x, int y, int width, int height) {
  std::vector<Pixel> out;
  GdkPixbuf* shot = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), x, y, width, height);
  if (!shot) return out;
  const int stride = gdk_pixbuf_get_rowstride(shot), channels = gdk_pixbuf_get_n_channels(shot);
  const guchar* data = gdk_pixbuf_read_pixels(shot);
  const int rows = gdk_pixbuf_get_height(shot), cols = gdk_pixbuf_get_width(shot);
  for (int row = 0; row < rows; ++row)
    for (int col = 0; col < cols; ++col) {
      const guchar* p = data + row * stride + col * channels;
      out.push_back({p[0], p[1], p[2]});
    }
  g_object_unref(shot);
  return out;
}

Pixel screenPixel(int x, int y) {
  auto pixels = screenPixels(x, y, 1, 1);
  return pixels.empty() ? Pixel{} : pixels[0];
}

namespace xtest {

void moveTo(int x, int y) {
  XTestFakeMotionEvent(xdisplay(), -1, x, y, CurrentTime);
  XFlush(xdisplay());
}

void button(int button, bool press) {
  XTestFakeButtonEvent(xdisplay(), static_cast<unsigned>(button), press, CurrentTime);
  XFlush(xdisplay());
}

void click(int x, int y, int b) {
  moveTo(x, y);
  button(b, true);
  button(b, false);
}

void key(const std::string& keysym, bool press) {
  Display* d = xdisplay();
  KeySym sym = XStringToKeysym(keysym.c_str());
  if (sym == NoSymbol) throw std::runtime_error("unknown keysym " + keysym);
  KeyCode code = XKeysymToKeycode(d, sym);
  if (code == 0) {
    // A symbol the display's keymap lacks goes on a spare code.
    int low = 0, high = 0;
    XDisplayKeycodes(d, &low, &high);
    code = static_cast<KeyCode>(high - 1);
    KeySym syms[] = {sym, sym};
    XChangeKeyboardMapping(d, code, 2, syms, 1);
    XSync(d, False);
  }
  XTestFakeKeyEvent(d, code, press, CurrentTime);
  XFlush(d);
}

void tap(const std::string& keysym) {
  key(keysym, true);
  key(keysym, false);
}

void chord(const std::vector<std::string>& keysyms) {
  for (const auto& k : keysyms) key(k, true);
  for (auto it = keysyms.rbegin(); it != keysyms.rend(); ++it) key(*it, false);
}

void type(const std::string& text) {
  for (char c : text) {
    if (c == '.') {
      tap("period");
    } else if (c == '/') {
      tap("slash");
    } else if (c == '-') {
      tap("minus");
    } else if (c == ' ') {
      tap("space");
    } else if (c == '_') {
      chord({"Shift_L", "minus"});
    } else if (g_ascii_isupper(c)) {
      chord({"Shift_L", std::string(1, g_ascii_tolower(c))});
    } else {
      tap(std::string(1, c));
    }
  }
}

}  // namespace xtest

}  // namespace pltest
