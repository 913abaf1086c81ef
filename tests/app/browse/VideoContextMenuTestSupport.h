#pragma once
// The video context menu's tests: the left pane in a headless window with one list pane on show,
// video rows put in it, right clicks injected on its rows and the menus answered by a script.
#include <filesystem>
#include <string>
#include <vector>

#include "app/browse/LeftViewController.h"
#include "app/browse/PelNavigationController.h"
#include "app/browse/TableViewWithContextMenu.h"
#include "app/cache/CacheState.h"
#include "app/library/VideoInPlaylistCache.h"
#include "common/CacheUtilities.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/IndexSet.h"
#include "platform/testing/Pump.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/app/browse/BrowseTestSupport.h"
#include "tests/support/FakeDataAPI.h"

namespace browse_test {

struct ContextMenuFixture : BrowseFixture {
  ContextMenuFixture() {
    for (const auto& folder : {getCacheFolderPath(), getTempFolderPath(), getInfoFolderPath()})
      std::filesystem::create_directories(folder);
    resetCacheStateTablesForTesting();
    installCacheStateFunctions();
    // The navigation shows its menu page on the next turn: it has, before a list is pushed.
    std::tie(window, left) = showLeftPane(ak::MakeRect(0, 0, 520, 760), ak::MakeRect(0, 0, 520, 760),
                                          [](auto& answers) { answers.signedIn = true; });
  }
  ~ContextMenuFixture() { resetCacheStateTablesForTesting(); }

  // Video rows "v0"... titled "Video <i>", by "Author <i>" of channel "UCchan<i>".
  static std::vector<ns::Ref<SearchEntry>> videoRows(int count) {
    auto rows = numberedRows(count);
    for (int i = 0; i < count; ++i) {
      rows[i]->setTitle("Video " + std::to_string(i));
      rows[i]->setAuthor("Author " + std::to_string(i));
      rows[i]->setVideoChannelId("UCchan" + std::to_string(i));
    }
    return rows;
  }

  // The list on show in the left pane; its rows, when given, replace what it fetched.
  ns::Ref<YTPlaylistViewController> open(const std::string& type, const std::string& id,
                                         std::vector<ns::Ref<SearchEntry>> rows = {}) {
    auto list = getPlaylistViewController(id, type, id);
    left->navigationController()->pushViewController_animated(list, false);
    EXPECT_TRUE(pltest::drainMode());
    // A list's own fetch ends before the test's rows go in, so that its answer cannot replace them.
    EXPECT_TRUE(pltest::pumpUntil([&] { return !list->isFetching(); }, 30));
    pltest::pumpUntil([] { return false; }, 0.1);
    if (!rows.empty()) {
      list->setCellArray(std::move(rows));
      list->refreshTableView();
    }
    return list;
  }
  ns::Ref<YTPlaylistViewController> shown() const { return currentListViewController(); }

  // The window point in the middle of the row, or below the last row for -1.
  ak::Point pointOfRow(long row) const {
    auto table = shown()->tableView();
    const long rows = table->numberOfRows();
    ak::Rect rect = row >= 0 ? table->rectOfRow(row) : table->rectOfRow(rows - 1);
    double y = rect.origin.y + rect.size.height / 2 + (row >= 0 ? 0 : rect.size.height);
    return table->convertPoint_toView({40, y}, nullptr);
  }
  void rightClickAt(ak::Point point, unsigned long flags = 0) {
    pltest::postMouse(window, ak::EventType::RightMouseDown, point, flags);
    pltest::postMouse(window, ak::EventType::RightMouseUp, point, flags);
    app.dispatchQueued();
  }
  // The menu a right click on the row shows (dismissed), as the script describes it.
  pltest::ShownMenu menuOf(long row, unsigned long flags = 0) {
    pltest::ModalScript script;
    script.dismiss();
    rightClickAt(pointOfRow(row), flags);
    return script.shown().empty() ? pltest::ShownMenu{} : script.shown().at(0);
  }
  // Right-clicks the row and chooses the entry ("Add to.../A/Code").
  void choose(long row, const std::string& path, unsigned long flags = 0) {
    pltest::ModalScript script;
    script.choose(path);
    rightClickAt(pointOfRow(row), flags);
  }
  void select(const std::vector<long>& rows) {
    auto set = ns::MutableIndexSet::indexSet();
    for (long row : rows) set->addIndex(static_cast<std::size_t>(row));
    shown()->tableView()->selectRowIndexes_byExtendingSelection(*set, false);
  }
  std::vector<long> selection() const {
    std::vector<long> rows;
    shown()->tableView()->selectedRowIndexes()->enumerateIndexesUsingBlock(
        [&](std::size_t index, bool*) { rows.push_back(static_cast<long>(index)); });
    return rows;
  }

  ns::Ref<ak::Window> window;
  ns::Ref<LeftViewController> left;
};

inline std::string playlistItemJSON(const std::string& itemId, const std::string& playlistId,
                                    const std::string& videoId) {
  return R"({"kind": "youtube#playlistItem", "id": ")" + itemId + R"(", "snippet": {"playlistId": ")" +
         playlistId + R"(", "resourceId": {"kind": "youtube#video", "videoId": ")" + videoId + R"("}}})";
}

// The number at the end of a call's id ("gtl_12"): queries are numbered as they are made.
inline unsigned long callNumber(const testsupport::DataAPICall& call) {
  auto digits = call.id.find_last_not_of("0123456789");
  return std::stoul("0" + call.id.substr(digits == std::string::npos ? 0 : digits + 1));
}

inline std::string textOf(const ns::Value& value) {
  return value.isString() ? value.stringValue() : "<none>";
}

// Signed in with the fake Data API, the special lists known, the groups "A" (holding "Code")
// and "B", and the playlists "Code", "zeta" and "Alpha".
struct AccountFixture : ContextMenuFixture {
  AccountFixture() {
    app.sandbox().set(kGoogleAPIURLEnvironmentKey, std::nullopt);
    api.serveAsAPIHost();
    setAnswers([&](auto& answers) { answers.youTubeService = service; });
    auto disk = AccountCache::diskCache();
    disk->setObject_forKey_withTimeoutInterval(ns::Value(ns::Array{"FLme", "WLme", "HLme", "LLme", "UUme"}),
                                               account->cacheKey("links"), 60);
    disk->synchronize();
    account->loadCache();
    auto store = DBAccess::getInstance();
    store->addPlaylistGroup("B");
    store->addPlaylistGroup("A");
    for (const auto& group : store->getPlaylistGroupArray())
      if (group.name == "A") store->addPlaylistGroupEntry_groupId_notify("PLcode", group.groupId, false);
    account->playlistsArray() = {ns::Value(ns::Array{"PLzeta", "zeta", 1}),
                                 ns::Value(ns::Array{"PLcode", "Code", 2}),
                                 ns::Value(ns::Array{"PLalpha", "Alpha", 0})};
    main->setVideoInPlaylistCache(index);
  }
  ~AccountFixture() { api.release(); }

  // An own playlist whose rows (with item ids "item<i>") the account has stored and the fake holds.
  ns::Ref<YTPlaylistViewController> openPlaylist(const std::string& playlistId, int count) {
    auto rows = videoRows(count);
    ns::Array stored;
    std::vector<std::string> items;
    for (int i = 0; i < count; ++i) {
      rows[i]->setPlaylistItemId("item" + std::to_string(i));
      stored.push_back(ns::Value(rows[i]));
      items.push_back(playlistItemJSON("item" + std::to_string(i), playlistId, "v" + std::to_string(i)));
    }
    api.seed("playlistItems", items);
    account->savePlaylistCache_type_withId(stored, "playlists", playlistId);
    index->populateCache();
    auto list = open("playlists", playlistId);
    EXPECT_EQ(list->cellArray().size(), static_cast<std::size_t>(count));
    return list;
  }
  std::vector<testsupport::DataAPICall> waitForCalls(const std::string& method, std::size_t count) {
    pltest::pumpUntil([&] { return api.callsOf(method).size() >= count; }, 30);
    // The main-queue hand-overs after the last reply.
    pltest::pumpUntil([] { return false; }, 0.2);
    return api.callsOf(method);
  }
  static std::vector<std::string> ids(const std::vector<ns::Ref<SearchEntry>>& rows) {
    std::vector<std::string> out;
    for (const auto& row : rows)
      out.push_back(row->videoid().value_or("") + "/" + row->playlistItemId().value_or(""));
    return out;
  }

  testsupport::FakeDataAPI api;
  ns::Ref<ApiServiceYouTube> service = ns::make<ApiServiceYouTube>();
  ns::Ref<VideoInPlaylistCache> index = ns::make<VideoInPlaylistCache>();
};

// The item of a shown menu with that title (top level or one submenu down), nullptr when none.
inline const pltest::ShownMenuItem* itemTitled(const pltest::ShownMenu& menu, const std::string& title) {
  for (const auto& item : menu.items) {
    if (item.title == title) return &item;
    for (const auto& sub : item.submenu)
      if (sub.title == title) return &sub;
  }
  return nullptr;
}

}  // namespace browse_test
