// Drops on the source list through the platform's drag session: which rows take video rows,
// source-list rows and links, adding batches to the account's playlists one insert after the
// other, moves, refiling playlists into groups, and the error report to the maker's log.
#include <gtest/gtest.h>

#include "app/browse/PlaylistAdding.h"
#include "app/library/DBAccess.h"
#include "lib/google/ApiQueryYouTube.h"
#include "platform/net/PercentEncoding.h"
#include "tests/app/browse/DropTestSupport.h"

namespace {

using browse_test::DropFixture;
using testsupport::FakeDataAPI;

struct SourceDropFixture : DropFixture {
  SourceDropFixture() {
    menu = left->menuViewController();
    account->subscriptionsArray() = {ns::Value(ns::Array{"UUsub", "A channel", "sub1", 0, 3})};
    menu->refresh();
    menu->updatePlaylists();
    menu->updateSubscriptions();
    index->populateCache();
    pltest::pumpUntil([] { return false; }, 0.1);
    // The rows dragged: a list that is open (registered) but not on show.
    rowsList = getPlaylistViewController("Source", "playlists", "PLsrc");
    auto rows = videoRows(3);
    for (int i = 0; i < 3; ++i) rows[i]->setPlaylistItemId("src" + std::to_string(i));
    rowsList->setCellArray(rows);
    api.seed("playlistItems", {browse_test::playlistItemJSON("src0", "PLsrc", "v0"),
                               browse_test::playlistItemJSON("src1", "PLsrc", "v1"),
                               browse_test::playlistItemJSON("src2", "PLsrc", "v2")});
  }
  ns::Ref<MenuItem> node(const std::string& title) const {
    std::vector<ns::Ref<MenuItem>> pending = menu->sourceListItems();
    while (!pending.empty()) {
      auto item = pending.back();
      pending.pop_back();
      if (item->title() == title) return item;
      for (const auto& child : item->children()) pending.push_back(child);
    }
    return nullptr;
  }
  // The middle of the node's row, where a drop lands on the node itself.
  ak::Point on(const std::string& title) const {
    auto outline = menu->sourceList();
    auto item = node(title);
    EXPECT_TRUE(item) << title;
    const long row = outline->rowForItem(item);
    EXPECT_GE(row, 0) << title;
    ak::Rect rect = outline->rectOfRow(row);
    return outline->convertPoint_toView({60, rect.origin.y + rect.size.height / 2}, nullptr);
  }
  ns::Ref<MenuViewController> menu;
  ns::Ref<YTPlaylistViewController> rowsList;
};

TEST(SourceListDrops, VideoRowsAreTakenByPlaylistsAndTheListsThatHoldVideosOnly) {
  SourceDropFixture f;
  for (const char* title : {"Watch History", "Uploads", "New Videos", "Cached Videos", "PLAYLISTS", "SPECIAL",
                            "SUBSCRIPTIONS", "A channel"})
    EXPECT_EQ(f.dragTo(f.on(title), DropFixture::rowsBoard(f.rowsList, {0})), ak::DragOperationNone) << title;
  for (const char* title : {"Favorites", "Likes", "Watch Later"}) {
    EXPECT_EQ(f.dragTo(f.on(title), DropFixture::rowsBoard(f.rowsList, {0}), ak::CommandKeyMask),
              ak::DragOperationCopy)
        << title;
  }
  EXPECT_EQ(f.dragTo(f.on("Alpha"), DropFixture::rowsBoard(f.rowsList, {1})), ak::DragOperationCopy);
  auto inserts = f.waitForCalls("youtube.playlistItems.insert", 4);
  ASSERT_EQ(inserts.size(), 4u);
  std::vector<std::string> targets;
  for (const auto& call : inserts)
    targets.push_back(call.params["resource"]["snippet"]["playlistId"].stringValue());
  std::sort(targets.begin(), targets.end());
  EXPECT_EQ(targets, (std::vector<std::string>{"FLme", "LLme", "PLalpha", "WLme"}));
  EXPECT_TRUE(f.api.callsOf("youtube.playlistItems.delete").empty());
  // The source rows keep their own item ids.
  EXPECT_EQ(browse_test::AccountFixture::ids(f.rowsList->cellArray()),
            (std::vector<std::string>{"v0/src0", "v1/src1", "v2/src2"}));

  // With Command a playlist takes a move: each row leaves its open list once deleted there.
  f.api.script("youtube.playlistItems.delete",
               FakeDataAPI::Script(FakeDataAPI::Answer::JSONError, 403, 403, 1));
  EXPECT_EQ(f.dragTo(f.on("zeta"), DropFixture::rowsBoard(f.rowsList, {0, 2}), ak::CommandKeyMask),
            ak::DragOperationMove);
  auto deletes = f.waitForCalls("youtube.playlistItems.delete", 2);
  ASSERT_EQ(deletes.size(), 2u);
  EXPECT_EQ(deletes[0].params["id"].stringValue(), "src0");
  EXPECT_EQ(deletes[1].params["id"].stringValue(), "src2");
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.rowsList->cellArray().size() == 2; }));
  EXPECT_EQ(browse_test::AccountFixture::ids(f.rowsList->cellArray()),
            (std::vector<std::string>{"v0/src0", "v1/src1"}));

  // A move whose source list is not open deletes nothing.
  auto board = DropFixture::rowsBoard(f.rowsList, {1});
  resetPlaylistRegistryForTesting();
  EXPECT_EQ(f.dragTo(f.on("zeta"), board, ak::CommandKeyMask), ak::DragOperationMove);
  f.waitForCalls("youtube.playlistItems.insert", 7);
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.insert").size(), 7u);
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.delete").size(), 2u);
}

TEST(SourceListDrops, BatchesInsertOneAfterTheOtherAndFailuresAreReportedForSingleAdds) {
  SourceDropFixture f;
  browse_test::FakeMakerLog maker(f.app.sandbox(), f.api.server());
  // The first insert stalls: nothing else goes out until it has ended (here refused).
  f.api.script("youtube.playlistItems.insert", FakeDataAPI::Script(FakeDataAPI::Answer::Stall, 200, 0, 1));
  auto alpha = f.openPlaylist("PLalpha", 1);
  f.menu->addSearchEntries_toPlaylistId_deleteAfterCopy(f.rowsList->cellArray(), "PLalpha", false);
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.api.callsOf("youtube.playlistItems.insert").size() == 1; }));
  pltest::pumpUntil([] { return false; }, 0.3);
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.insert").size(), 1u);
  f.api.release();
  auto inserts = f.waitForCalls("youtube.playlistItems.insert", 3);
  ASSERT_EQ(inserts.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(inserts[i].params["resource"]["snippet"]["resourceId"]["videoId"].stringValue(),
              "v" + std::to_string(i));
  ASSERT_TRUE(pltest::pumpUntil([&] { return alpha->cellArray().size() == 3; }));
  // Other playlists take new rows last. The refused "v0" was in the playlist before: its row
  // and its index pair stay.
  EXPECT_EQ(DropFixture::videoIds(alpha->cellArray()), (std::vector<std::string>{"v0", "v1", "v2"}));
  EXPECT_EQ(alpha->cellArray()[0]->playlistItemId(), "item0");
  EXPECT_TRUE(f.index->hasVideo_inPlaylist("v0", "PLalpha"));
  EXPECT_TRUE(f.index->hasVideo_inPlaylist("v2", "PLalpha"));
  EXPECT_TRUE(maker.reports().empty());

  // An empty batch sends nothing; the watch history takes new rows first; a row the open list
  // already holds with the new item id is not shown twice.
  f.menu->addSearchEntries_toPlaylistId_deleteAfterCopy({}, "PLalpha", false);
  auto history = f.open("playlists", "HLme", DropFixture::videoRows(2));
  f.menu->addSearchEntry_toPlaylist(f.rowsList->cellArray()[0], "HLme");
  f.waitForCalls("youtube.playlistItems.insert", 4);
  ASSERT_TRUE(pltest::pumpUntil([&] { return history->cellArray().size() == 3; }));
  EXPECT_EQ(history->cellArray()[0]->videoid(), "v0");
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.insert").size(), 4u);
  auto again = copySearchEntry(alpha->cellArray()[2]);
  EXPECT_FALSE(showRowInOpenPlaylist(again, "PLalpha", false));
  EXPECT_EQ(alpha->cellArray().size(), 3u);

  // A single add the service refuses reports the error's text to the maker's log.
  f.api.script("youtube.playlistItems.insert",
               FakeDataAPI::Script(FakeDataAPI::Answer::JSONError, 403, 403, 2,
                                   googletest::fixtureText("error-403.json")));
  std::optional<std::string> description;
  ns::Ref<ApiQueryYouTube> probe = playlistItemInsertQuery("soloVideo01", "PLalpha");
  f.service->executeQuery_completionHandler(
      probe, [&](const ns::Ref<ApiServiceTicket>&, const ns::Ref<ApiObject>&,
                 const std::optional<ns::Error>& error) {
        description = error ? error->localizedDescription() : "no error";
      });
  ASSERT_TRUE(pltest::pumpUntil([&] { return description.has_value(); }));
  auto solo = SearchEntry::init();
  solo->setVideoid("soloVideo01");
  f.menu->addSearchEntry_toPlaylistId(solo, "PLalpha");
  ASSERT_TRUE(pltest::pumpUntil([&] { return maker.reports().size() == 1; }, 30));
  auto report = maker.reports()[0];
  EXPECT_EQ(report.path, "/zeravozezi/logerror.php");
  EXPECT_EQ(report.params["e"], *description);
  EXPECT_NE(description->find('#'), std::string::npos);
  // Escaped as a value: no raw "&", "#", "+" or "=" past the key.
  const std::string query = report.target.substr(report.target.find("?e=") + 3);
  EXPECT_EQ(query.find_first_of("&#+= "), std::string::npos);
  EXPECT_FALSE(f.index->hasVideo_inPlaylist("soloVideo01", "PLalpha"));
}

TEST(SourceListDrops, PlaylistsDraggedOntoGroupHeadingsAreRefiledAMomentLater) {
  SourceDropFixture f;
  browse_test::PostCounter changes("playlistGroupChanged");
  const int groupB = f.groupId("B");
  ASSERT_NE(groupB, 0);
  // The "zeta" row, as the outline writes it, dragged onto the heading of group "B".
  auto zeta = ak::Pasteboard::pasteboardWithUniqueName();
  ASSERT_TRUE(f.menu->sourceList_writeItems_toPasteboard(
      nullptr, ns::Value(ns::Array{ns::Value(f.node("zeta"))}), zeta));
  EXPECT_EQ(zeta->types(), std::vector<std::string>{kPlaylistTableViewDragType});
  EXPECT_EQ(f.dragTo(f.on("B"), zeta), ak::DragOperationMove);
  EXPECT_EQ(DBAccess::getInstance()->getPlaylistGroupId("PLzeta"), groupB);
  EXPECT_EQ(changes.count(), 0);
  f.app.advance(0.01);
  ASSERT_TRUE(pltest::pumpUntil([&] { return changes.count() == 1; }));
  ASSERT_TRUE(pltest::pumpUntil([&] {
    auto group = f.menu->groupItem(groupB);
    return group && !group->children().empty() && group->children()[0]->identifier() == "PLzeta";
  }));

  // Onto "PLAYLISTS" a playlist leaves its group.
  auto code = std::vector<ns::Ref<MenuItem>>{f.node("Code")};
  auto board = ak::Pasteboard::pasteboardWithUniqueName();
  ns::Array items{ns::Value(code[0])};
  ASSERT_TRUE(f.menu->sourceList_writeItems_toPasteboard(nullptr, ns::Value(items), board));
  EXPECT_EQ(f.dragTo(f.on("PLAYLISTS"), board), ak::DragOperationMove);
  EXPECT_EQ(DBAccess::getInstance()->getPlaylistGroupId("PLcode"), 0);
  f.app.advance(0.01);
  ASSERT_TRUE(pltest::pumpUntil([&] { return changes.count() == 2; }));
  pltest::pumpUntil([] { return false; }, 0.1);

  // Onto another playlist: refused. A subscription onto a group: taken, nothing changes.
  EXPECT_EQ(f.dragTo(f.on("Alpha"), board), ak::DragOperationNone);
  auto subscription = ak::Pasteboard::pasteboardWithUniqueName();
  ASSERT_TRUE(f.menu->sourceList_writeItems_toPasteboard(
      nullptr, ns::Value(ns::Array{ns::Value(f.node("A channel"))}), subscription));
  EXPECT_EQ(f.dragTo(f.on("B"), subscription), ak::DragOperationMove);
  f.app.advance(0.05);
  pltest::pumpUntil([] { return false; }, 0.1);
  EXPECT_EQ(changes.count(), 2);
  // Damaged node data is refused.
  auto damaged = ak::Pasteboard::pasteboardWithUniqueName();
  damaged->declareTypes_owner({kPlaylistTableViewDragType}, nullptr);
  damaged->setData_forType(ns::Data(std::string("bplist00garbage")), kPlaylistTableViewDragType);
  EXPECT_EQ(f.dragTo(f.on("B"), damaged), ak::DragOperationNone);
}

TEST(SourceListDrops, AVideoLinkIsOfferedACopyOntoAPlaylistAndAddsItsVideo) {
  SourceDropFixture f;
  auto link = [] {
    return DropFixture::foreignBoard(
        {{{ak::PasteboardTypeURL, "https://www.youtube.com/watch?v=EdRBMHpUslk"}}});
  };
  EXPECT_EQ(f.dragTo(f.on("New Videos"), link()), ak::DragOperationNone);
  EXPECT_EQ(f.dragTo(f.on("A channel"), link()), ak::DragOperationNone);
  EXPECT_EQ(f.dragTo(f.on("Alpha"), DropFixture::foreignBoard(
                                        {{{ak::PasteboardTypeString, "https://example.com/not-a-video"}}})),
            ak::DragOperationNone);
  EXPECT_EQ(f.dragTo(f.on("Alpha"), link()), ak::DragOperationCopy);
  auto inserts = f.waitForCalls("youtube.playlistItems.insert", 1);
  ASSERT_EQ(inserts.size(), 1u);
  EXPECT_EQ(inserts[0].params["resource"]["snippet"]["resourceId"]["videoId"].stringValue(), "EdRBMHpUslk");
  EXPECT_EQ(inserts[0].params["resource"]["snippet"]["playlistId"].stringValue(), "PLalpha");
  EXPECT_TRUE(f.index->hasVideo_inPlaylist("EdRBMHpUslk", "PLalpha"));
}

}  // namespace
