#pragma once
// The drag-and-drop and playlist-editing tests: the signed-in account of the context-menu tests
// with a fake of the maker's error log on loopback, a drag source view in the window, and drags
// run by the platform's drag session over the list's table or the source list.
#include <string>
#include <vector>

#include "app/browse/DragPayloads.h"
#include "app/browse/MenuViewController.h"
#include "app/library/MakerHost.h"
#include "platform/appkit/Dragging.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/testing/FakeServer.h"
#include "tests/app/browse/VideoContextMenuTestSupport.h"
#include "ui/SourceList.h"

namespace browse_test {

// The maker's error-log service over HTTPS, on the fake Data API's server (whose test CA the URL
// loading trusts already): answers every report with an empty JSON object.
class FakeMakerLog {
 public:
  FakeMakerLog(pltest::Sandbox& sandbox, pltest::FakeServer& server) : server_(server) {
    server_.route("GET", "/zeravozezi/logerror.php",
                  [](const pltest::FakeRequest&) { return pltest::FakeReply::json(200, "{}"); });
    sandbox.set(kMakerHostEnvironmentKey, "127.0.0.1:" + std::to_string(server_.port()));
  }
  std::vector<pltest::FakeRequest> reports() const {
    std::vector<pltest::FakeRequest> out;
    for (const auto& request : server_.requests())
      if (request.path == "/zeravozezi/logerror.php") out.push_back(request);
    return out;
  }

 private:
  pltest::FakeServer& server_;
};

struct DropFixture : AccountFixture {
  DropFixture() {
    source = ns::make<ak::View>();
    source->setFrame(ak::MakeRect(500, 0, 20, 20));
    window->contentView()->addSubview(source);
    // The source list rebuilds itself for the groups made above before a list is opened.
    pltest::pumpUntil([] { return false; }, 0.1);
  }

  // A drag of the board's contents from `from` (the extra view unless given) to the window point,
  // with the modifier flags held; answers the operation performed.
  unsigned long dragTo(ak::Point point, const ns::Ref<ak::Pasteboard>& board, unsigned long flags = 0,
                       ns::Ref<ak::View> from = nullptr) {
    pltest::postMouse(window, ak::EventType::LeftMouseDragged, point, flags);
    pltest::postMouse(window, ak::EventType::LeftMouseUp, point, flags);
    return ak::runDragSession(from ? from : source, board, ak::DragOperationEvery, nullptr);
  }
  // A point of the row's title (no button there), at `fraction` of the row's height: near 0 it
  // is between the row and the one above, at 0.7 on the row, over its view count (no control).
  ak::Point rowPoint(long row, double fraction) const {
    auto table = shown()->tableView();
    ak::Rect rect = table->rectOfRow(row);
    return table->convertPoint_toView({150, rect.origin.y + rect.size.height * fraction}, nullptr);
  }
  ak::Point aboveRow(long row) const { return rowPoint(row, 0.05); }
  ak::Point onRow(long row) const { return rowPoint(row, 0.7); }
  // A board holding one foreign item per entry: (type, string) pairs.
  static ns::Ref<ak::Pasteboard> foreignBoard(
      const std::vector<std::vector<std::pair<std::string, std::string>>>& items) {
    auto board = ak::Pasteboard::pasteboardWithUniqueName();
    std::vector<ns::Ref<ak::PasteboardItem>> made;
    for (const auto& entries : items) {
      auto item = ns::make<ak::PasteboardItem>();
      for (const auto& [type, text] : entries) item->setString_forType(text, type);
      made.push_back(item);
    }
    board->writeItems(made);
    return board;
  }
  // The rows of the list dragged as its table would write them.
  static ns::Ref<ak::Pasteboard> rowsBoard(const ns::Ref<YTPlaylistViewController>& list,
                                           const std::vector<long>& rows) {
    auto board = ak::Pasteboard::pasteboardWithUniqueName();
    auto set = ns::MutableIndexSet::indexSet();
    for (long row : rows) set->addIndex(static_cast<std::size_t>(row));
    EXPECT_TRUE(list->tableView_writeRowsWithIndexes_toPasteboard(nullptr, set, board));
    return board;
  }
  // A web-location property list naming the link, written into the sandbox; its file address.
  std::string webLocationFile(const std::string& name, const std::string& link) {
    auto path = app.sandbox().root() / name;
    std::string escaped;
    for (char c : link) escaped += c == '&' ? std::string("&amp;") : std::string(1, c);
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist "
        "version=\"1.0\"><dict><key>URL</key><string>" +
        escaped + "</string></dict></plist>\n";
    writeFile(path.string(), xml);
    return "file://" + path.string();
  }
  static void writeFile(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  static std::vector<std::string> videoIds(const std::vector<ns::Ref<SearchEntry>>& rows) {
    std::vector<std::string> out;
    for (const auto& row : rows) out.push_back(row->videoid().value_or(""));
    return out;
  }
  std::vector<std::string> storedIds(const std::string& playlistId) {
    std::vector<std::string> out;
    if (auto stored = account->getPlaylistCache_withId("playlists", playlistId))
      for (const ns::Value& value : *stored)
        if (auto row = value.objectAs<SearchEntry>()) out.push_back(row->videoid().value_or(""));
    return out;
  }

  ns::Ref<ak::View> source;
};

}  // namespace browse_test
