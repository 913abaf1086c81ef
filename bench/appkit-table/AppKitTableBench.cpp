// A view-based table of 100,000 rows with delegate heights in a 400-point scroll view:
// reloadData and first display, then 1,000 scroll steps of 37 points each displayed, beside
// cairo and pango drawing the same visible rows (background, selection-free text) directly.
// Prints both times, the ratio (ours / reference) and how many cell views the table made.
#include <pango/pangocairo.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchKit.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/Window.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Runtime.h"

namespace {

constexpr long kRows = 100000;
constexpr int kSteps = 1000;
constexpr double kStep = 37;
constexpr double kWidth = 300, kHeight = 400;

double rowHeight(long row) {
  return 20 + double(row % 3) * 4;
}  // 20, 24, 28

class BenchRows : public ns::Object {
 public:
  long made = 0;
  ns::Ref<ak::TableView> table;
  long count(ns::Ref<ns::Object>) { return kRows; }
  double height(ns::Ref<ns::Object>, long row) { return rowHeight(row); }
  ns::Ref<ns::Object> view(ns::Ref<ns::Object>, ns::Ref<ns::Object>, long row) {
    auto view = table->makeViewWithIdentifier_owner("Cell", nullptr);
    auto cell = std::static_pointer_cast<ak::TableCellView>(view);
    std::static_pointer_cast<ak::TextField>(cell->textField())->setStringValue("Row " + std::to_string(row));
    return view;
  }
};

}  // namespace

PL_CLASS_NAMED(BenchRows, "BenchTableRows", ns::Object) {
  cls.method<&BenchRows::count>("numberOfRowsInTableView:");
  cls.method<&BenchRows::height>("tableView:heightOfRow:");
  cls.method<&BenchRows::view>("tableView:viewForTableColumn:row:");
}

int main() {
  ns::runtime::start();
  ak::Application::sharedApplication();
  auto window = ak::make<ak::Window>(ak::MakeRect(0, 0, kWidth, kHeight), ak::BorderlessWindowMask);
  window->orderFront(nullptr);
  auto scroll = ak::make<ak::ScrollView>(ak::MakeRect(0, 0, kWidth, kHeight));
  window->setContentView(scroll);
  auto rows = std::make_shared<BenchRows>();
  auto table = ak::make<ak::TableView>(ak::MakeRect(0, 0, kWidth, kHeight));
  rows->table = table;
  auto column = std::make_shared<ak::TableColumn>("Name");
  column->setWidth(kWidth - 3);
  table->addTableColumn(column);
  table->setIntercellSpacing({3, 0});
  table->registerViewFactory("Cell", [rows] {
    ++rows->made;
    auto cell = ak::make<ak::TableCellView>(ak::MakeRect(0, 0, kWidth, 20));
    auto field = ak::make<ak::TextField>(ak::MakeRect(2, 2, kWidth - 4, 16));
    field->setBordered(false);
    field->setDrawsBackground(false);
    cell->addSubview(field);
    cell->setTextField(field);
    return ns::Ref<ak::View>(cell);
  });

  const double ours = benchkit::seconds([&] {
    table->setDelegate(rows);
    table->setDataSource(rows);
    scroll->setDocumentView(table);
    window->display();
    for (int i = 1; i <= kSteps; ++i) {
      scroll->contentView()->scrollToPoint({0, i * kStep});
      window->display();
    }
  });

  // The reference: the same rows drawn straight onto a cairo surface with pango.
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(kWidth), int(kHeight));
  cairo_t* cr = cairo_create(surface);
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string("DejaVu Sans 13px");
  pango_layout_set_font_description(layout, font);
  const double reference = benchkit::seconds([&] {
    std::vector<double> tops(kRows + 1);
    for (long r = 0; r < kRows; ++r) tops[r + 1] = tops[r] + rowHeight(r);
    for (int i = 0; i <= kSteps; ++i) {
      double y0 = i * kStep;
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_paint(cr);
      long first = long(std::upper_bound(tops.begin(), tops.end(), y0) - tops.begin()) - 1;
      for (long r = first; r < kRows && tops[r] < y0 + kHeight; ++r) {
        std::string text = "Row " + std::to_string(r);
        pango_layout_set_text(layout, text.c_str(), int(text.size()));
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_move_to(cr, 4, tops[r] - y0 + 2);
        pango_cairo_show_layout(cr, layout);
      }
      cairo_surface_flush(surface);
    }
  });
  pango_font_description_free(font);
  g_object_unref(layout);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);

  std::printf("%-60s pelorin %8.3f s   reference %8.3f s   ratio %.2f\n",
              "100,000-row table: reload, first display, 1,000 scroll steps", ours, reference,
              ours / reference);
  std::printf("cell views made: %ld\n", rows->made);
  return 0;
}
