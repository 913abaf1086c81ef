// The view tree's display pass against raw cairo, side by side in one run, on a window of 2,000
// views (40 rows of 49 leaves under the content view):
//  1. one leaf marked dirty, then the display pass, 2,000 times, beside cairo clearing and
//     filling the same rectangle (the window background and the leaf) on a same-sized surface;
//  2. a full repaint, 100 times, beside cairo filling the background and every view's rectangle.
// Prints each time and the ratio (ours / reference).
#include <cairo.h>

#include <cstdio>
#include <vector>

#include "bench/BenchKit.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/runtime/Runtime.h"

namespace {

constexpr int kRows = 40;
constexpr int kColumns = 49;
constexpr double kCell = 20;

void report(const char* what, double ours, double reference) {
  std::printf("%-44s pelorin %8.3f s   reference %8.3f s   ratio %.2f\n", what, ours, reference,
              ours / reference);
}

class Leaf : public ak::View {
 public:
  double shade = 0.5;
  void drawRect(const ak::Rect&) override {
    ak::Color::colorWithDeviceRed_green_blue_alpha(shade, 0.3, 1 - shade, 1)->setFill();
    ak::RectFill(bounds());
  }
};

}  // namespace

int main() {
  ns::runtime::start();
  const double width = kColumns * kCell, height = kRows * kCell;
  auto window = ak::make<ak::Window>(ak::MakeRect(0, 0, width, height), ak::BorderlessWindowMask);
  window->orderFront(nullptr);
  std::vector<ns::Ref<Leaf>> leaves;
  std::vector<ak::Rect> rects;  // every view's rectangle in window coordinates
  for (int r = 0; r < kRows; ++r) {
    auto row = ak::make<ak::View>(ak::MakeRect(0, r * kCell, width, kCell));
    window->contentView()->addSubview(row);
    rects.push_back(row->frame());
    for (int c = 0; c < kColumns; ++c) {
      auto leaf = ak::make<Leaf>(ak::MakeRect(c * kCell + 1, 1, kCell - 2, kCell - 2));
      leaf->shade = double((r * kColumns + c) % 17) / 16;
      row->addSubview(leaf);
      leaves.push_back(leaf);
      rects.push_back(ak::MakeRect(c * kCell + 1, r * kCell + 1, kCell - 2, kCell - 2));
    }
  }
  std::printf("views in the window: %zu\n", leaves.size() + kRows + 1);
  window->displayIfNeeded();

  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(width), int(height));
  cairo_t* cr = cairo_create(surface);
  auto fillRect = [&](const ak::Rect& r, double shade) {
    cairo_set_source_rgba(cr, shade, 0.3, 1 - shade, 1);
    cairo_rectangle(cr, r.origin.x, height - r.origin.y - r.size.height, r.size.width, r.size.height);
    cairo_fill(cr);
  };

  constexpr int kDirtyPasses = 2000;
  double ours = benchkit::seconds([&] {
    for (int i = 0; i < kDirtyPasses; ++i) {
      auto& leaf = leaves[std::size_t(i * 7919) % leaves.size()];
      leaf->setNeedsDisplay(true);
      window->displayIfNeeded();
    }
  });
  double reference = benchkit::seconds([&] {
    for (int i = 0; i < kDirtyPasses; ++i) {
      std::size_t index = std::size_t(i * 7919) % leaves.size();
      const ak::Rect r = rects[index + index / kColumns + 1];
      cairo_save(cr);
      cairo_rectangle(cr, r.origin.x, height - r.origin.y - r.size.height, r.size.width, r.size.height);
      cairo_clip(cr);
      cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
      cairo_paint(cr);
      cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
      fillRect(ak::MakeRect(0, 0, width, height), 0.9);
      fillRect(r, leaves[index]->shade);
      cairo_restore(cr);
      cairo_surface_flush(surface);
    }
  });
  report("one dirty leaf, display pass (x2000)", ours, reference);

  constexpr int kFullPasses = 100;
  ours = benchkit::seconds([&] {
    for (int i = 0; i < kFullPasses; ++i) window->display();
  });
  reference = benchkit::seconds([&] {
    for (int i = 0; i < kFullPasses; ++i) {
      cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
      cairo_paint(cr);
      cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
      fillRect(ak::MakeRect(0, 0, width, height), 0.9);
      for (std::size_t k = 0; k < rects.size(); ++k) {
        if (k % (kColumns + 1) != 0) fillRect(rects[k], leaves[k - k / (kColumns + 1) - 1]->shade);
      }
      cairo_surface_flush(surface);
    }
  });
  report("full repaint of 2,000 views (x100)", ours, reference);

  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  window->close();
  return 0;
}
