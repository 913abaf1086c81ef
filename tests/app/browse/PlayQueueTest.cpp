// The play queue of a list pane with the fake player: the order of rows, its ends, the
// shuffle with a seeded random source, and what each play saves and posts.
#include <gtest/gtest.h>

#include <limits>

#include "app/browse/BrowseNotifications.h"
#include "app/browse/TableViewWithContextMenu.h"
#include "app/cache/CacheServer.h"
#include "platform/appkit/ScrollView.h"
#include "tests/app/browse/BrowseTestSupport.h"

namespace {

using browse_test::BrowseFixture;
using browse_test::PostCounter;

struct QueueFixture : BrowseFixture {
  QueueFixture() {
    list = getPlaylistViewController("cats", "search_relevance", "cats");
    list->view();
  }
  // What the account cache stored of the current playlist and the playing row.
  // [title, type, id, play index] as one line.
  std::string saved() const {
    diskCache->synchronize();
    ns::Value info = account->getCurrentPlaylistInfoArray();
    if (!info.isArray() || info.count() < 4) return "";
    return info[0].stringValue() + " " + info[1].stringValue() + " " + info[2].stringValue() + " " +
           std::to_string(info[3].integerValue());
  }
  std::string playing() const {
    diskCache->synchronize();
    ns::Value info = account->getPlayingInfoArray();
    return info.isArray() ? info[0].string() : "";
  }
  std::string played() const {
    auto row = player->lastRow();
    return row ? row->videoid().value_or("") : "";
  }
  std::size_t plays() const {
    std::size_t n = 0;
    for (const auto& call : player->calls()) n += call == "playVideo";
    return n;
  }
  ns::Ref<YTPlaylistViewController> list;
};

TEST(PlayQueue, PlaysInRowOrderAndStopsAtTheEndOnlyWhenNobodyAsked) {
  QueueFixture f;
  auto rows = browse_test::searchRows("search-1.json");
  ASSERT_EQ(rows.size(), 12u);
  f.list->setCellArray(rows);
  PostCounter changes(kCurrentPlaylistChangedNotification);

  f.list->playAtIndex(11);
  EXPECT_EQ(f.played(), *rows[11]->videoid());
  EXPECT_TRUE(f.list->isCurrentPlaylist());
  EXPECT_EQ(currentPlaylistController(), f.list);
  EXPECT_EQ(f.saved(), "cats search_relevance cats 11");
  EXPECT_EQ(f.playing(), *rows[11]->videoid());
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(f.list->getNextVideoId(), "7y1UCICm0Jo");

  EXPECT_FALSE(f.list->nextTrack(nullptr));  // the automatic advance, repeat off
  EXPECT_EQ(f.plays(), 1u);
  EXPECT_EQ(f.list->playIndex(), 11);
  EXPECT_TRUE(f.list->nextTrack(f.list));  // the next button
  EXPECT_EQ(f.played(), "7y1UCICm0Jo");
  EXPECT_TRUE(f.list->prevTrack(nullptr));
  EXPECT_EQ(f.list->playIndex(), 11);
  EXPECT_EQ(f.played(), *rows[11]->videoid());

  f.setAnswers([](auto& answers) { answers.repeatType = 1; });
  EXPECT_TRUE(f.list->nextTrack(nullptr));
  EXPECT_EQ(f.list->playIndex(), 0);
  EXPECT_EQ(f.plays(), 4u);
  EXPECT_EQ(changes.count(), 4);
  EXPECT_EQ(f.saved(), "cats search_relevance cats 0");
  EXPECT_EQ(f.playing(), "7y1UCICm0Jo");

  f.list->playAtIndex(-1);
  EXPECT_EQ(f.list->playIndex(), 0);
  f.list->playAtIndex(12);
  EXPECT_EQ(f.list->playIndex(), 12);
  EXPECT_EQ(f.plays(), 4u);
  EXPECT_EQ(changes.count(), 4);
  EXPECT_EQ(f.list->getNextVideoId(), "7y1UCICm0Jo");
}

TEST(PlayQueue, AnEmptyListPlaysNothing) {
  QueueFixture f;
  EXPECT_FALSE(f.list->nextTrack(f.list));
  EXPECT_FALSE(f.list->prevTrack(f.list));
  EXPECT_EQ(f.list->getNextVideoId(), std::nullopt);
  f.setAnswers([](auto& answers) { answers.shuffleMode = 1; });
  EXPECT_FALSE(f.list->nextTrack(f.list));
  EXPECT_EQ(f.list->getNextVideoId(), std::nullopt);
  EXPECT_EQ(f.plays(), 0u);
  EXPECT_EQ(currentPlaylistController(), nullptr);
}

TEST(PlayQueue, ShuffleStartsFromThePlayingRowAndWrapsBothWays) {
  QueueFixture f;
  f.setAnswers([](auto& answers) { answers.shuffleMode = 1; });
  std::uint32_t seed = 12345;
  setShuffleRandomSource([&seed] { return seed = seed * 1103515245u + 12345u; });
  f.list->setCellArray(browse_test::numberedRows(5));
  f.list->setPlayIndex(2);

  ASSERT_TRUE(f.list->nextTrack(nullptr));
  auto order = f.list->randomCellArray();
  ASSERT_EQ(order.size(), 5u);
  EXPECT_EQ(order[0], 2);
  EXPECT_TRUE(std::is_permutation(order.begin() + 1, order.end(), std::vector<long>{0, 1, 3, 4}.begin()));
  EXPECT_EQ(f.list->playIndex(), order[1]);
  EXPECT_EQ(f.list->getNextVideoId(), "v" + std::to_string(order[2]));
  EXPECT_EQ(f.list->randomCellPlayIdx(), 1);  // peeking does not step
  ASSERT_TRUE(f.list->prevTrack(nullptr));
  EXPECT_EQ(f.list->playIndex(), 2);
  ASSERT_TRUE(f.list->prevTrack(nullptr));
  EXPECT_EQ(f.list->playIndex(), order[4]);
  EXPECT_EQ(f.list->randomCellArray(), order);  // same count: the order stays

  // A new row rebuilds the order from the row now playing.
  const long playing = f.list->playIndex();
  auto rows = f.list->cellArray();
  rows.push_back(browse_test::numberedRows(6).back());
  f.list->setCellArray(rows);
  ASSERT_TRUE(f.list->nextTrack(nullptr));
  EXPECT_EQ(f.list->randomCellArray().size(), 6u);
  EXPECT_EQ(f.list->randomCellArray()[0], playing);
  EXPECT_EQ(f.list->playIndex(), f.list->randomCellArray()[1]);
}

TEST(PlayQueue, ShuffleOfOneRowReplaysIt) {
  QueueFixture f;
  f.setAnswers([](auto& answers) { answers.shuffleMode = 1; });
  f.list->setCellArray(browse_test::numberedRows(1));
  EXPECT_TRUE(f.list->nextTrack(nullptr));
  EXPECT_TRUE(f.list->prevTrack(nullptr));
  EXPECT_EQ(f.played(), "v0");
  EXPECT_EQ(f.plays(), 2u);
  EXPECT_EQ(f.list->getNextVideoId(), "v0");
}

TEST(PlayQueue, ScrollingCentresTheRowAndEnterPlaysTheSelectedOne) {
  QueueFixture f;
  f.list->setCellArray(browse_test::numberedRows(20));
  auto scroll = f.list->scrollView();
  scroll->setFrame(ak::MakeRect(0, 0, 360, 400));
  f.list->tableView()->reloadData();
  ASSERT_EQ(scroll->contentView()->frame().size.height, 400);
  f.list->scrollToIndex(10);
  EXPECT_EQ(scroll->contentView()->bounds().origin.y, 672);
  f.list->setPlayIndex(0);
  f.list->scrollToNowPlaying();
  EXPECT_EQ(scroll->contentView()->bounds().origin.y, 0);

  f.list->processEnterKey();  // nothing selected
  EXPECT_EQ(f.plays(), 0u);
  f.list->selectIndex(4);
  f.list->processEnterKey();
  EXPECT_EQ(f.played(), "v4");

  f.list->setIsVideoResult(false);  // playlist rows do not scroll
  f.list->scrollToIndex(10);
  EXPECT_EQ(scroll->contentView()->bounds().origin.y, 0);
}

TEST(PlayQueue, TheCacheManagerAsksTheCurrentPlaylistForTheNextVideo) {
  QueueFixture f;
  EXPECT_EQ(currentPlaylistNextVideoId(), std::nullopt);
  f.list->setCellArray(browse_test::numberedRows(3));
  f.list->playAtIndex(1);
  EXPECT_EQ(currentPlaylistNextVideoId(), "v2");
}

TEST(PlayQueue, AStoredPlayIndexAtEitherEndOfTheNumbersCountsAsPastTheRows) {
  // The index comes back from the account's stored copy of what was playing, whatever it holds.
  QueueFixture f;
  f.list->setCellArray(browse_test::numberedRows(3));
  f.list->setPlayIndex(std::numeric_limits<long>::max());
  EXPECT_EQ(f.list->getNextVideoId(), "v0");
  EXPECT_FALSE(f.list->nextTrack(nullptr));
  EXPECT_TRUE(f.list->nextTrack(f.list));
  EXPECT_EQ(f.played(), "v0");
  f.list->setPlayIndex(std::numeric_limits<long>::min());
  EXPECT_EQ(f.list->getNextVideoId(), "v0");
  EXPECT_TRUE(f.list->prevTrack(nullptr));
  EXPECT_EQ(f.played(), "v2");
}

}  // namespace
