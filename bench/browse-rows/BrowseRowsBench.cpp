// 1,000 refreshTableView passes of a 500-row video list showing 8 rows, whose cells rebind with
// the real cache-state tables and library-store reads (the pass the list runs every second while
// videos download), beside the platform table rebinding 8 plain text cells of a 500-row list.
// Prints both times and the ratio (ours / reference).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/browse/BrowseHooks.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/cache/CacheState.h"
#include "app/youtube/SearchEntry.h"
#include "bench/BenchKit.h"
#include "common/CacheUtilities.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/Bundle.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Runtime.h"

namespace {

constexpr int kRows = 500, kRounds = 1000;
constexpr double kWidth = 360, kHeight = 8 * 83;
using Id = ns::Ref<ns::Object>;

class PlainRows : public ns::Object {
 public:
  ns::Ref<ak::TableView> table;
  long count(Id) { return kRows; }
  Id viewFor(Id, Id, long row) {
    auto cell =
        std::static_pointer_cast<ak::TableCellView>(table->makeViewWithIdentifier_owner("Cell", nullptr));
    std::static_pointer_cast<ak::TextField>(cell->textField())->setStringValue("Row " + std::to_string(row));
    return cell;
  }
};

}  // namespace

PL_CLASS_NAMED(PlainRows, "BenchPlainRows", ns::Object) {
  cls.method<&PlainRows::count>("numberOfRowsInTableView:");
  cls.method<&PlainRows::viewFor>("tableView:viewForTableColumn:row:");
}

int main() {
  // A home of its own: the library store and the cache folder are made there.
  char home[] = "/tmp/pelorin-browse-bench-XXXXXX";
  if (!mkdtemp(home)) return 1;
  setenv("HOME", home, 1);
  std::filesystem::create_directories(std::string(home) + "/.local/share/Pelorin");
  ns::runtime::start();
  ak::Application::sharedApplication();
  ns::Bundle::setMainBundlePathForTesting(std::string(PELORIN_SOURCE_DIR) + "/resources");
  installBrowseHooks();
  installCacheStateFunctions();
  std::filesystem::create_directories(getCacheFolderPath());

  std::vector<ns::Ref<SearchEntry>> rows;
  for (int i = 0; i < kRows; ++i) {
    auto row = SearchEntry::init();
    const std::string id = "bench" + std::to_string(i);
    row->setVideoid(id);
    row->setTitle("Video " + std::to_string(i));
    row->setAuthor("Channel");
    row->setDate("2015-09-24");
    row->setDuration(388);
    row->setViewCount(1000 + i);
    rows.push_back(row);
    if (i % 3 == 0) {
      std::ofstream(getCacheFolderPath() + "/" + id + ".mp4") << "x";
      setVideoCacheState(id, true);
    }
  }

  auto window = ak::make<ak::Window>(ak::MakeRect(0, 0, kWidth, kHeight + 40), ak::BorderlessWindowMask);
  window->orderFront(nullptr);
  auto list = getPlaylistViewController("Bench", "related", "bench");
  list->view()->setFrame(window->contentView()->bounds());
  window->contentView()->addSubview(list->view());
  list->setCellArray(rows);
  list->refreshTableView();
  window->display();
  const double ours = benchkit::seconds([&] {
    for (int i = 0; i < kRounds; ++i) {
      list->refreshTableView();
      window->display();
    }
  });

  auto plainWindow = ak::make<ak::Window>(ak::MakeRect(0, 0, kWidth, kHeight), ak::BorderlessWindowMask);
  plainWindow->orderFront(nullptr);
  auto scroll = ak::make<ak::ScrollView>(ak::MakeRect(0, 0, kWidth, kHeight));
  plainWindow->setContentView(scroll);
  auto table = ak::make<ak::TableView>(ak::MakeRect(0, 0, kWidth, kHeight));
  auto column = std::make_shared<ak::TableColumn>("Name");
  column->setWidth(kWidth - 3);
  table->addTableColumn(column);
  table->setRowHeight(83);
  table->registerViewFactory("Cell", [] {
    auto cell = ak::make<ak::TableCellView>(ak::MakeRect(0, 0, kWidth, 83));
    auto field = ak::make<ak::TextField>(ak::MakeRect(2, 0, kWidth - 4, 17));
    field->setBordered(false);
    field->setDrawsBackground(false);
    cell->addSubview(field);
    cell->setTextField(field);
    return ns::Ref<ak::View>(cell);
  });
  auto plain = std::make_shared<PlainRows>();
  plain->table = table;
  scroll->setDocumentView(table);
  table->setDelegate(plain);
  table->setDataSource(plain);
  const double reference = benchkit::seconds([&] {
    for (int i = 0; i < kRounds; ++i) {
      table->reloadData();
      plainWindow->display();
    }
  });

  std::printf("%-60s pelorin %8.3f s   reference %8.3f s   ratio %.2f\n",
              "500-row list, 8 video rows shown: 1,000 refreshTableView passes", ours, reference,
              ours / reference);
  window->close();
  plainWindow->close();
  resetCacheStateTablesForTesting();
  std::filesystem::remove_all(home);
  return 0;
}
