// The video pop-up: its rows from the account, adding the video to a playlist or the favourites
// against the fake Data API, and the uploader and related lists.
#include <gtest/gtest.h>

#include "app/browse/VideoPopViewController.h"
#include "platform/appkit/TableView.h"
#include "tests/app/browse/VideoContextMenuTestSupport.h"
#include "ui/BubblePopover.h"

namespace {

using browse_test::AccountFixture;
using browse_test::textOf;
using testsupport::FakeDataAPI;

struct PopFixture : AccountFixture {
  PopFixture() { source = open("search_relevance", "cats", videoRows(8)); }
  // A pop-up for the row of the list on show, its popover on screen.
  ns::Ref<VideoPopViewController> popUp(long row) {
    auto pop = ns::make<VideoPopViewController>();
    pop->init(std::string("VideoPopViewController"));
    popover = ak::make<BubblePopover>(std::static_pointer_cast<ak::ViewController>(pop));
    popover->setAnimates(false);
    pop->setSearchEntry(source->cellArray()[static_cast<std::size_t>(row)]);
    pop->setPlaylist(source);
    pop->setPopOver(popover);
    popover->displayPopoverInWindow_atPoint(window, {200, 300});
    EXPECT_TRUE(popover->isVisible());
    return pop;
  }
  long rowOf(const ns::Ref<VideoPopViewController>& pop, const std::string& title) {
    for (std::size_t i = 0; i < pop->cellArray().size(); ++i)
      if (pop->cellArray()[i].title == title) return static_cast<long>(i);
    return -1;
  }

  ns::Ref<YTPlaylistViewController> source;
  ns::Ref<BubblePopover> popover;
};

TEST(VideoPop, ItsRowsAreTheFavouritesAndThePlaylistsAsButtonCells) {
  PopFixture f;
  auto pop = f.popUp(1);
  ASSERT_EQ(pop->cellArray().size(), 4u);
  EXPECT_EQ(pop->cellArray()[0].title, "Add to Favorites");
  EXPECT_EQ(pop->cellArray()[0].playlistId, "FLme");
  EXPECT_EQ(pop->cellArray()[0].kind, "add_to_favorites");
  EXPECT_EQ(pop->cellArray()[1].kind, "playlist");
  auto table = pop->tableView();
  ASSERT_TRUE(table);
  EXPECT_EQ(table->numberOfRows(), 4);
  auto cell = std::dynamic_pointer_cast<ButtonCell>(table->viewAtColumn_row_makeIfNecessary(0, 2, true));
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->titleText(), pop->cellArray()[2].title);
  EXPECT_EQ(cell->idx(), 2);
  EXPECT_FALSE(cell->selected());
  EXPECT_EQ(pop->selectedRow(), -1);
}

TEST(VideoPop, APlaylistRowAddsACopyWithItsNewItemIdAndClosesOnlyWhenAnswered) {
  PopFixture f;
  auto code = f.openPlaylist("PLcode", 1);
  f.left->navigationController()->goBack();
  auto row = f.source->cellArray()[5];
  row->setPlaylistItemId(std::string("source-item"));
  auto pop = f.popUp(5);

  pop->buttonCellClicked(f.rowOf(pop, "Code"));
  EXPECT_EQ(pop->selectedRow(), f.rowOf(pop, "Code"));
  EXPECT_TRUE(f.index->hasVideo_inPlaylist("v5", "PLcode"));
  auto inserts = f.waitForCalls("youtube.playlistItems.insert", 1);
  ASSERT_EQ(inserts.size(), 1u);
  EXPECT_EQ(textOf(inserts[0].params["resource"]["snippet"]["playlistId"]), "PLcode");
  EXPECT_EQ(textOf(inserts[0].params["resource"]["snippet"]["resourceId"]["videoId"]), "v5");
  EXPECT_EQ(textOf(inserts[0].params["resource"]["snippet"]["resourceId"]["kind"]), "youtube#video");
  ASSERT_EQ(code->cellArray().size(), 2u);
  auto added = code->cellArray()[1];
  EXPECT_NE(added, row);
  EXPECT_EQ(added->videoid(), "v5");
  EXPECT_EQ(added->title(), "Video 5");
  auto stored = f.api.itemIds("playlistItems");
  ASSERT_TRUE(added->playlistItemId());
  EXPECT_NE(std::find(stored.begin(), stored.end(), *added->playlistItemId()), stored.end());
  EXPECT_EQ(row->playlistItemId(), "source-item");
  EXPECT_FALSE(f.popover->isVisible());

  // Refused: the membership this click recorded goes again, one known before stays; the
  // popover stays open.
  f.api.script("youtube.playlistItems.insert",
               FakeDataAPI::Script(FakeDataAPI::Answer::JSONError, 403, 403, 2));
  f.index->addVideo_toPlaylist("v6", "PLalpha");
  pop = f.popUp(6);
  pop->buttonCellClicked(f.rowOf(pop, "Alpha"));
  pop->buttonCellClicked(f.rowOf(pop, "zeta"));
  EXPECT_TRUE(f.index->hasVideo_inPlaylist("v6", "PLzeta"));
  f.waitForCalls("youtube.playlistItems.insert", 3);
  EXPECT_TRUE(f.index->hasVideo_inPlaylist("v6", "PLalpha"));
  EXPECT_FALSE(f.index->hasVideo_inPlaylist("v6", "PLzeta"));
  EXPECT_TRUE(f.popover->isVisible());
  EXPECT_EQ(code->cellArray().size(), 2u);

  // A row without a video id sends nothing and leaves the popover open.
  f.source->cellArray()[7]->setVideoid(std::nullopt);
  pop = f.popUp(7);
  pop->buttonCellClicked(f.rowOf(pop, "Code"));
  pltest::pumpUntil([] { return false; }, 0.2);
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.insert").size(), 3u);
  EXPECT_TRUE(f.popover->isVisible());
}

TEST(VideoPop, FavouritesGoFirstAndNeedAnAccount) {
  PopFixture f;
  auto favorites = f.openPlaylist("FLme", 2);
  f.left->navigationController()->goBack();
  auto pop = f.popUp(4);
  pop->buttonCellClicked(0);
  // The popover closes at once.
  EXPECT_FALSE(f.popover->isVisible());
  f.waitForCalls("youtube.playlistItems.insert", 1);
  ASSERT_EQ(favorites->cellArray().size(), 3u);
  EXPECT_EQ(favorites->cellArray()[0]->videoid(), "v4");
  EXPECT_NE(favorites->cellArray()[0], f.source->cellArray()[4]);
  EXPECT_TRUE(f.index->hasVideo_inPlaylist("v4", "FLme"));

  // Signed out there are no favourites: the pop-up closes and sends nothing.
  f.main->setAccountCache(ns::make<AccountCache>());
  pop = f.popUp(3);
  EXPECT_EQ(pop->cellArray().at(0).playlistId, "");
  pop->onAddToFavoritesBtn(nullptr);
  EXPECT_FALSE(f.popover->isVisible());
  pltest::pumpUntil([] { return false; }, 0.3);
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.insert").size(), 1u);
}

TEST(VideoPop, UploaderAndRelatedVideosOpenTheirLists) {
  PopFixture f;
  f.source->cellArray()[2]->setVideoChannelId("UCb--64Gl51jIEVE-GLDAVTg");
  f.source->cellArray()[2]->setAuthor("C-SPAN");
  f.source->cellArray()[3]->setVideoChannelId("U");
  auto pop = f.popUp(2);
  pop->onUploadersVideoBtn(nullptr);
  EXPECT_FALSE(f.popover->isVisible());
  EXPECT_EQ(f.shown()->requestType(), "subscriptions");
  EXPECT_EQ(f.shown()->requestId(), "UUb--64Gl51jIEVE-GLDAVTg");
  EXPECT_EQ(f.shown()->title(), "C-SPAN");

  pop->onRelatedVideoBtn(nullptr);
  EXPECT_EQ(f.shown()->requestType(), "related");
  EXPECT_EQ(f.shown()->requestId(), "v2");
  EXPECT_EQ(f.shown()->title(), "related: Video 2");

  // A channel id "U" names no uploads list: nothing opens.
  auto before = f.shown();
  pop = f.popUp(3);
  pop->onUploadersVideoBtn(nullptr);
  EXPECT_EQ(f.shown(), before);
  EXPECT_FALSE(f.popover->isVisible());
}

}  // namespace
