// The cost per frame of showing a 1280x720 window whose content changes every frame: an ak
// window drawn by its views and presented through the GTK presenter, beside a bare
// GtkDrawingArea painting a cairo surface that is redrawn the same way. Both run on the main
// run loop with GLib inside it. Prints each time per frame and the ratio (ours / reference).
#include <gtk/gtk.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>

#include "platform/appkit/Application.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/appkit/gtk/Presenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/Runtime.h"

namespace {

constexpr int kWidth = 1280, kHeight = 720, kFrames = 300;

struct Cost {
  double wall = 0, cpu = 0;
};

// Wall time follows the frame clock (the display's refresh); processor time is the work itself.
Cost seconds(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  const std::clock_t cpu = std::clock();
  work();
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
          double(std::clock() - cpu) / CLOCKS_PER_SEC};
}

// The same picture both ways: a frame-dependent background and a moving bar.
void paint(cairo_t* cr, int frame) {
  cairo_set_source_rgb(cr, (frame % 256) / 255.0, 0.3, 0.6);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_rectangle(cr, (frame * 7) % (kWidth - 100), 100, 100, 500);
  cairo_fill(cr);
}

class FrameView : public ak::View {
 public:
  int frame = 0;
  void drawRect(const ak::Rect&) override {
    ak::Color::colorWithDeviceRed_green_blue_alpha((frame % 256) / 255.0, 0.3, 0.6, 1)->setFill();
    ak::RectFill(bounds());
    ak::Color::colorWithDeviceRed_green_blue_alpha(1, 1, 1, 1)->setFill();
    ak::RectFill(ak::MakeRect((frame * 7) % (kWidth - 100), 120, 100, 500));
  }
};

bool waitFor(const std::function<bool()>& done) {
  return ns::RunLoop::mainRunLoop()->runUntil(done, 30);
}

}  // namespace

int main() {
  ns::runtime::start();
  if (auto error = ak::gtk::startPresenter()) {
    std::fprintf(stderr, "appkit_gtk_bench: %s (run it under xvfb-run)\n", error->c_str());
    return 1;
  }
  auto app = ak::Application::sharedApplication();
  int drawn = 0;

  // Pelorin: the views draw into the backing store, the presenter queues the dirty area and paints.
  auto window = ak::make<ak::Window>(ak::MakeRect(0, 0, kWidth, kHeight), ak::BorderlessWindowMask);
  auto view = ak::make<FrameView>(ak::MakeRect(0, 0, kWidth, kHeight));
  window->setContentView(view);
  window->makeKeyAndOrderFront(nullptr);
  // A frame counts once the frame clock has painted it.
  auto* toplevel = static_cast<GtkWidget*>(ak::gtk::nativeWindow(*window));
  app->updateWindows();
  waitFor([&] { return gtk_widget_get_frame_clock(toplevel) != nullptr; });
  g_signal_connect(gtk_widget_get_frame_clock(toplevel), "after-paint",
                   G_CALLBACK(+[](GdkFrameClock*, int* n) { ++*n; }), &drawn);
  waitFor([&] { return drawn > 0; });
  const Cost ours = seconds([&] {
    for (int i = 0; i < kFrames; ++i) {
      const int before = drawn;
      view->frame = i;
      view->setNeedsDisplay(true);
      app->updateWindows();
      waitFor([&] { return drawn > before; });
    }
  });
  window->close();

  // Reference: a bare drawing area painting a cairo surface redrawn each frame.
  int refDrawn = 0;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight);
  GtkWidget* top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_decorated(GTK_WINDOW(top), FALSE);
  GtkWidget* bare = gtk_drawing_area_new();
  gtk_widget_set_size_request(bare, kWidth, kHeight);
  gtk_container_add(GTK_CONTAINER(top), bare);
  struct Ref {
    cairo_surface_t* surface;
    int* drawn;
  } ref{surface, &refDrawn};
  g_signal_connect(bare, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, Ref* r) -> gboolean {
                     cairo_set_source_surface(cr, r->surface, 0, 0);
                     cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
                     cairo_paint(cr);
                     ++*r->drawn;
                     return TRUE;
                   }),
                   &ref);
  gtk_widget_show_all(top);
  waitFor([&] { return refDrawn > 0; });
  const Cost reference = seconds([&] {
    for (int i = 0; i < kFrames; ++i) {
      const int before = refDrawn;
      cairo_t* cr = cairo_create(surface);
      paint(cr, i);
      cairo_destroy(cr);
      gtk_widget_queue_draw(bare);
      waitFor([&] { return refDrawn > before; });
    }
  });
  gtk_widget_destroy(top);
  cairo_surface_destroy(surface);

  std::printf("%-44s pelorin %8.3f ms   reference %8.3f ms   ratio %.2f\n", "1280x720 frame, wall time",
              ours.wall / kFrames * 1000, reference.wall / kFrames * 1000, ours.wall / reference.wall);
  std::printf("%-44s pelorin %8.3f ms   reference %8.3f ms   ratio %.2f\n", "1280x720 frame, processor time",
              ours.cpu / kFrames * 1000, reference.cpu / kFrames * 1000, ours.cpu / reference.cpu);
  return 0;
}
