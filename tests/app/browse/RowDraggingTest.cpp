// Dragging rows out of a list pane, reordering an own playlist by dragging its rows against the
// fake Data API, links dropped in from other programs, and the strict reading of what other
// programs put on the pasteboard.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>

#include "platform/appkit/TableView.h"
#include "tests/app/browse/DropTestSupport.h"

namespace {

using browse_test::DropFixture;

constexpr char kWatchLink[] = "https://www.youtube.com/watch?v=EdRBMHpUslk&list=PL1";

long position(const testsupport::DataAPICall& call) {
  return call.params["resource"]["snippet"]["position"].intValue();
}

TEST(RowDragging, PayloadsAreReadBackOnlyInTheirExpectedShapes) {
  DropFixture f;
  auto rows = DropFixture::videoRows(3);
  auto set = ns::MutableIndexSet::indexSet();
  for (std::size_t i : {1u, 4u, 7u}) set->addIndex(i);
  auto data = archiveVideoRows(*set, rows);
  ASSERT_TRUE(data);
  auto payload = decodeVideoRows(*data);
  ASSERT_TRUE(payload);
  EXPECT_EQ(payload->indexes, (std::vector<long>{1, 4, 7}));
  EXPECT_EQ(DropFixture::videoIds(payload->rows), (std::vector<std::string>{"v0", "v1", "v2"}));
  EXPECT_EQ(payload->rows[2]->title(), "Video 2");
  EXPECT_NE(payload->rows[0], rows[0]);

  // As many rows as indexes, rows with video ids, and nothing but the two expected members.
  EXPECT_FALSE(decodeVideoRows(*archiveVideoRows(*ns::IndexSet::indexSetWithIndex(0), rows)));
  auto empty = DropFixture::videoRows(1);
  empty[0]->setVideoid(std::nullopt);
  EXPECT_FALSE(decodeVideoRows(*archiveVideoRows(*ns::IndexSet::indexSetWithIndex(0), empty)));
  auto node = MenuItem::itemWithTitle_identifier_parent("Code", "PLcode", nullptr);
  node->setItemtype("playlists");
  auto nodes = archiveMenuItems({node});
  ASSERT_TRUE(nodes);
  EXPECT_FALSE(decodeVideoRows(*nodes));
  EXPECT_FALSE(decodeMenuItems(*data));
  auto back = decodeMenuItems(*nodes);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->size(), 1u);
  EXPECT_EQ(back->at(0)->itemtype(), "playlists");
  EXPECT_EQ(back->at(0)->identifier(), "PLcode");

  // Random bytes, and a damaged archive, are refused.
  std::mt19937 random(60);
  for (int round = 0; round < 50; ++round) {
    std::string bytes(static_cast<std::size_t>(random() % 300), '\0');
    for (auto& byte : bytes) byte = static_cast<char>(random());
    if (round % 2)
      bytes = std::string(reinterpret_cast<const char*>(data->bytes()), data->length() / 2) + bytes;
    EXPECT_FALSE(decodeVideoRows(ns::Data(bytes)));
    EXPECT_FALSE(decodeMenuItems(ns::Data(bytes)));
  }
}

TEST(RowDragging, DraggedRowsAreCopiesCarryingTheListAndThePlayingMark) {
  DropFixture f;
  auto list = f.openPlaylist("PLcode", 3);
  list->setPlayIndex(1);
  auto board = DropFixture::rowsBoard(list, {0, 1});
  EXPECT_EQ(board->types(), std::vector<std::string>{kVideoTableViewDragType});
  auto payload = decodeVideoRows(*board->dataForType(kVideoTableViewDragType));
  ASSERT_TRUE(payload);
  EXPECT_FALSE(payload->rows[0]->isPlaying());
  EXPECT_TRUE(payload->rows[1]->isPlaying());
  EXPECT_EQ(payload->rows[1]->playlistid(), "PLcode");
  // The list's own rows keep their values.
  EXPECT_FALSE(list->cellArray()[1]->isPlaying());
  EXPECT_EQ(list->cellArray()[1]->playlistid(), "");
}

struct ReorderFixture : DropFixture {
  ReorderFixture() {
    list = openPlaylist("PLcode", 5);
    setCurrentPlaylistController(list);
    list->setPlayIndex(1);
    player->setVideoId("v1");
    select({1, 2});
  }
  // Rows 1 and 2 dragged by the mouse to the point.
  void dragRowsTo(ak::Point to) {
    ak::Point from = onRow(1);
    pltest::drag(window, {from, {from.x, from.y + 6}, {from.x, from.y + 20}, to});
    app.dispatchQueued();
  }
  ns::Ref<YTPlaylistViewController> list;
};

TEST(RowDragging, RowsDroppedAboveARowMoveOnTheServiceOneAfterTheOther) {
  ReorderFixture f;
  f.dragRowsTo(f.aboveRow(4));
  auto updates = f.waitForCalls("youtube.playlistItems.update", 2);
  ASSERT_EQ(updates.size(), 2u);
  EXPECT_EQ(position(updates[0]), 2);
  EXPECT_EQ(position(updates[1]), 3);
  EXPECT_EQ(updates[0].params["resource"]["id"].stringValue(), "item1");
  EXPECT_EQ(updates[1].params["resource"]["snippet"]["resourceId"]["videoId"].stringValue(), "v2");
  EXPECT_EQ(updates[1].params["resource"]["snippet"]["playlistId"].stringValue(), "PLcode");
  EXPECT_NE(updates[0].post, updates[1].post);
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.list->cellArray().size() == 5; }));
  EXPECT_EQ(DropFixture::videoIds(f.list->cellArray()),
            (std::vector<std::string>{"v0", "v3", "v1", "v2", "v4"}));
  // The playing row is still the playing row, and no row keeps a mark of the move.
  EXPECT_EQ(f.list->playIndex(), 2);
  for (const auto& row : f.list->cellArray()) EXPECT_FALSE(row->isPlaying());
  EXPECT_EQ(f.storedIds("PLcode"), (std::vector<std::string>{"v0", "v3", "v1", "v2", "v4"}));
}

TEST(RowDragging, ADropOnARowOrIntoAListThatCannotBeReorderedChangesNothing) {
  ReorderFixture f;
  f.dragRowsTo(f.onRow(4));
  EXPECT_EQ(DropFixture::videoIds(f.list->cellArray()),
            (std::vector<std::string>{"v0", "v1", "v2", "v3", "v4"}));

  // A drag from another table: not this list's rows, whatever its indexes say.
  auto other = ns::make<ak::TableView>();
  auto board = DropFixture::rowsBoard(f.list, {1, 2});
  auto info = ns::make<ak::DraggingInfo>(board, other, ak::DragOperationEvery, 1);
  EXPECT_EQ(f.list->tableView_validateDrop_proposedRow_proposedDropOperation(nullptr, info, 4,
                                                                             ak::TableViewDropAbove),
            ak::DragOperationNone);
  EXPECT_FALSE(f.list->tableView_acceptDrop_row_dropOperation(nullptr, info, 4, ak::TableViewDropAbove));

  // Indexes past the end, from this very table: refused before any row is taken out.
  auto stale = ns::make<ak::DraggingInfo>(DropFixture::rowsBoard(f.list, {3, 4}), f.list->tableView(),
                                          ak::DragOperationEvery, 2);
  f.list->cellArray().pop_back();
  EXPECT_FALSE(f.list->tableView_acceptDrop_row_dropOperation(nullptr, stale, 0, ak::TableViewDropAbove));
  EXPECT_EQ(f.list->cellArray().size(), 4u);

  // The uploads list is the service's own order.
  f.list->setMyPlaylistType(std::string("uploads"));
  f.list->cellArray() = DropFixture::videoRows(5);
  f.list->refreshTableView();
  f.select({1, 2});
  f.dragRowsTo(f.aboveRow(4));
  EXPECT_EQ(DropFixture::videoIds(f.list->cellArray()),
            (std::vector<std::string>{"v0", "v1", "v2", "v3", "v4"}));
  pltest::pumpUntil([] { return false; }, 0.2);
  EXPECT_TRUE(f.api.callsOf("youtube.playlistItems.update").empty());
}

TEST(RowDragging, AFailedUpdateEndsTheChainPutsTheRowsBackAndFetchesTheList) {
  ReorderFixture f;
  f.api.script("youtube.playlistItems.update", {testsupport::FakeDataAPI::Answer::JSONError, 403, 403, 1,
                                                googletest::fixtureText("error-403.json")});
  f.dragRowsTo(f.aboveRow(4));
  ASSERT_TRUE(pltest::pumpUntil([&] { return !f.api.callsOf("youtube.playlistItems.update").empty(); }));
  ASSERT_TRUE(
      pltest::pumpUntil([&] { return f.list->cellArray().size() == 5 && !f.list->isFetching(); }, 30));
  pltest::pumpUntil([] { return false; }, 0.2);
  // Only the refused first update went out: the second waits for the first's answer.
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.update").size(), 1u);
  auto ids = DropFixture::videoIds(f.list->cellArray());
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<std::string>{"v0", "v1", "v2", "v3", "v4"}));
  for (const auto& row : f.list->cellArray()) EXPECT_FALSE(row->isPlaying());
  EXPECT_EQ(f.list->cellArray()[static_cast<std::size_t>(f.list->playIndex())]->videoid(), "v1");
}

TEST(RowDragging, LinksFromOtherProgramsAreInsertedAtTheDropRowOnceTheServiceTookThem) {
  DropFixture f;
  auto list = f.openPlaylist("PLcode", 4);
  // A web-location file: offered, and inserted at the drop row only after the answer.
  auto file = f.webLocationFile("video.webloc", kWatchLink);
  auto board = DropFixture::foreignBoard({{{ak::PasteboardTypeFileURL, file}}});
  EXPECT_EQ(f.dragTo(f.aboveRow(2), board), ak::DragOperationMove);
  EXPECT_EQ(list->cellArray().size(), 4u);
  auto inserts = f.waitForCalls("youtube.playlistItems.insert", 1);
  ASSERT_EQ(inserts.size(), 1u);
  EXPECT_EQ(position(inserts[0]), 2);
  ASSERT_TRUE(pltest::pumpUntil([&] { return list->cellArray().size() == 5; }));
  EXPECT_EQ(list->cellArray()[2]->videoid(), "EdRBMHpUslk");
  EXPECT_EQ(list->cellArray()[2]->playlistItemId().value_or("").rfind("FAKE", 0), 0u);
  EXPECT_TRUE(f.index->hasVideo_inPlaylist("EdRBMHpUslk", "PLcode"));

  // A row the row cache knows goes in at once; an unknown one after its details were asked.
  auto known = SearchEntry::init();
  known->setVideoid("knownVideo1");
  known->setTitle("Known");
  ASSERT_TRUE(known->saveToCache());
  const auto detailsBefore = f.api.callsOf("youtube.videos.list").size();
  EXPECT_EQ(f.dragTo(f.aboveRow(1),
                     DropFixture::foreignBoard({{{ak::PasteboardTypeURL, "https://youtu.be/knownVideo1"}}})),
            ak::DragOperationMove);
  f.waitForCalls("youtube.playlistItems.insert", 2);
  ASSERT_TRUE(pltest::pumpUntil([&] { return list->cellArray().size() == 6; }));
  EXPECT_EQ(list->cellArray()[1]->title(), "Known");
  EXPECT_EQ(f.api.callsOf("youtube.videos.list").size(), detailsBefore);
  EXPECT_EQ(f.dragTo(f.aboveRow(3),
                     DropFixture::foreignBoard(
                         {{{ak::PasteboardTypeString, "https://www.youtube.com/watch?v=unknownVid1"}}})),
            ak::DragOperationMove);
  f.waitForCalls("youtube.playlistItems.insert", 3);
  ASSERT_TRUE(pltest::pumpUntil([&] { return list->cellArray().size() == 7; }));
  EXPECT_EQ(list->cellArray()[3]->videoid(), "unknownVid1");
  EXPECT_GT(f.api.callsOf("youtube.videos.list").size(), detailsBefore);

  // Text naming no video, and a drop "on" a row, are refused.
  EXPECT_EQ(
      f.dragTo(f.aboveRow(1), DropFixture::foreignBoard({{{ak::PasteboardTypeString, "just some words"}}})),
      ak::DragOperationNone);
  EXPECT_EQ(f.dragTo(f.onRow(1), DropFixture::foreignBoard({{{ak::PasteboardTypeURL, kWatchLink}}})),
            ak::DragOperationNone);
  pltest::pumpUntil([] { return false; }, 0.2);
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.insert").size(), 3u);
}

TEST(RowDragging, DroppedFilesAreReadOnlyWhenSmallRegularPropertyLists) {
  DropFixture f;
  auto list = f.openPlaylist("PLcode", 2);
  auto file = f.webLocationFile("a.webloc", kWatchLink);
  EXPECT_EQ(webLocationLink(file), kWatchLink);
  EXPECT_TRUE(list->urlDropOk(file));
  // The same address again is answered from the memo: the changed file is not read.
  DropFixture::writeFile(file.substr(7), "not a property list");
  EXPECT_TRUE(list->urlDropOk(file));
  EXPECT_FALSE(webLocationLink(file));

  const auto root = f.app.sandbox().root();
  const std::string fifo = (root / "pipe.webloc").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(webLocationLink("file://" + fifo));
  EXPECT_FALSE(list->urlDropOk("file://" + fifo));
  std::string big = f.webLocationFile("big.webloc", kWatchLink).substr(7);
  {
    std::string padding(2u << 20, ' ');
    FILE* out = std::fopen(big.c_str(), "ab");
    ASSERT_NE(out, nullptr);
    std::fwrite(padding.data(), 1, padding.size(), out);
    std::fclose(out);
  }
  EXPECT_FALSE(webLocationLink("file://" + big));
  EXPECT_FALSE(list->urlDropOk("file://" + big));
  EXPECT_FALSE(webLocationLink("file://" + root.string()));
  EXPECT_FALSE(webLocationLink("file://" + (root / "missing.webloc").string()));

  // Random bytes under the rows' type, even from the table itself, change nothing.
  auto board = ak::Pasteboard::pasteboardWithUniqueName();
  board->declareTypes_owner({kVideoTableViewDragType}, nullptr);
  board->setData_forType(ns::Data(std::string("\x62\x70\x6c\x69\x73\x74\x30\x30\xff\x01\x02garbage", 18)),
                         kVideoTableViewDragType);
  // (The same drag with the rows' real archive is taken: see the reorder tests.)
  EXPECT_EQ(f.dragTo(f.aboveRow(1), board, 0, list->tableView()), ak::DragOperationNone);
  EXPECT_EQ(DropFixture::videoIds(list->cellArray()), (std::vector<std::string>{"v0", "v1"}));
  pltest::pumpUntil([] { return false; }, 0.2);
  EXPECT_TRUE(f.api.callsOf("youtube.playlistItems.update").empty());
}

}  // namespace
