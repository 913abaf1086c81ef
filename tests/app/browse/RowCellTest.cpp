// The row cells of the list panes: the marks of a video row read from the real cache-state
// tables, the library store and the cache folder's files, hovering, the playlist result cell's
// texts, and the list's row views; rendered headless to PNG.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "app/browse/TableViewWithContextMenu.h"
#include "app/browse/VideoCell.h"
#include "app/cache/CacheState.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/library/DBAccess.h"
#include "app/library/VideoInPlaylistCache.h"
#include "common/AppUtilities.h"
#include "common/CacheUtilities.h"
#include "common/Settings.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/PropertyListFile.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "platform/testing/ui/Canvas.h"
#include "tests/app/browse/BrowseTestSupport.h"
#include "tests/support/FakeStreamResolver.h"
#include "ui/HoverButton.h"
#include "ui/ViewAndRatingView.h"

namespace {

using browse_test::BrowseFixture;

// The browse fixture with the library store and the cache-state tables in its sandbox.
struct CellFixture : BrowseFixture {
  CellFixture() {
    std::filesystem::create_directories(app.sandbox().path("home/.local/share/Pelorin"));
    std::filesystem::create_directories(getCacheFolderPath());
    DBAccess::resetForTesting();
    resetCacheStateTablesForTesting();
    installCacheStateFunctions();
    // The hovered video is process-wide: none left over from an earlier case.
    setHoveredVideoId(std::nullopt);
  }
  ~CellFixture() {
    resetCacheStateTablesForTesting();
    DBAccess::resetForTesting();
  }
  void cacheFile(const std::string& id, const std::string& bytes, int videotype) {
    std::ofstream(getCacheFolderPath() + "/" + id + ".mp4", std::ios::binary) << bytes;
    ns::Dictionary info;
    info.set("videotype", ns::Value(videotype));
    ns::writePropertyListToFile_atomically(ns::Value(info), getCacheFolderPath() + "/" + id + ".info", true);
    setVideoCacheState(id, true);
  }
  ns::Ref<SearchEntry> row(const std::string& id) {
    auto entry = SearchEntry::init();
    entry->setVideoid(id);
    entry->setTitle("Title " + id);
    entry->setAuthor("Author");
    entry->setDate("2015-09-24T10:00:00Z");
    entry->setDuration(388);
    entry->setViewCount(1234);
    return entry;
  }
  ns::Ref<VideoCell> cell() { return ak::make<VideoCell>(ak::MakeRect(0, 0, 360, 83)); }
  // A related-videos list filling the window, holding `rows` numbered rows.
  ns::Ref<YTPlaylistViewController> shownList(const ns::Ref<ak::Window>& window, int rows) {
    auto list = getPlaylistViewController("L", "related", "v1");
    list->view()->setFrame(window->contentView()->bounds());
    window->contentView()->addSubview(list->view());
    list->setCellArray(browse_test::numberedRows(rows));
    return list;
  }
};

TEST(VideoCell, TheAuthorEndsInsideTheRowAtEveryWidth) {
  CellFixture f;
  // Made at 360, it is as the row table says; narrower rows keep it inside them.
  auto wide = f.cell();
  EXPECT_EQ(wide->authorLabel()->frame(), ak::MakeRect(195, 7, 130, 15));
  wide->setFrameSize({250, 83});
  EXPECT_EQ(wide->authorLabel()->frame(), ak::MakeRect(195, 7, 50, 15));
  wide->setFrameSize({150, 83});
  EXPECT_EQ(wide->authorLabel()->frame().size.width, 0);
  wide->setFrameSize({460, 83});
  EXPECT_EQ(wide->authorLabel()->frame(), ak::MakeRect(195, 7, 230, 15));
  // Made in a narrow list, it ends 5 points before the row's edge and grows with the row.
  auto narrow = ak::make<VideoCell>(ak::MakeRect(0, 0, 240, 83));
  EXPECT_EQ(ak::MaxX(narrow->authorLabel()->frame()), 235);
  narrow->setFrameSize({400, 83});
  EXPECT_EQ(narrow->authorLabel()->frame(), ak::MakeRect(195, 7, 200, 15));
  EXPECT_EQ(narrow->authorLabel()->cell()->lineBreakMode(), ak::LineBreakMode::TruncatingTail);
}

TEST(VideoCell, ACachedRowShowsItsCacheAndQualityMarksAndItsSizeWhileHovered) {
  CellFixture f;
  f.cacheFile("cached1", "12345", 22);
  auto entry = f.row("cached1");
  auto cell = f.cell();
  cell->setSearchEntry(entry);
  EXPECT_EQ(cell->cacheImageName(), "cache_cached");
  EXPECT_EQ(cell->qualityImageName(), "720_cached");
  EXPECT_FALSE(cell->videoQualityImgView()->isHidden());
  EXPECT_EQ(cell->viewAndRatingView()->frame(), ak::MakeRect(149, 24, 150, 13));
  EXPECT_EQ(cell->titleLabel()->stringValue(), "Title cached1");
  EXPECT_EQ(cell->dateLabel()->stringValue(), "2015-09-24");
  EXPECT_EQ(cell->durationLabel()->stringValue(), timeStringFromSeconds(388, false));
  EXPECT_FALSE(cell->playBtn()->isHidden());
  EXPECT_EQ(cell->viewsText(), "");

  cell->mouseEntered(nullptr);
  EXPECT_EQ(cell->viewsText(), formatByteSize(5));
  cell->mouseExited(nullptr);
  EXPECT_EQ(cell->viewsText(), "");

  auto window = f.app.window(ak::MakeRect(0, 0, 360, 83), ak::BorderlessWindowMask);
  window->contentView()->addSubview(cell);
  pltest::renderWindow(window, "video-cell-cached");
}

// The box, in window points from the bottom left, of the pixels that drawing `texts` changed:
// the window drawn with them and again with its labels empty.
struct Ink {
  int left = 1 << 30, bottom = 1 << 30, right = -1, top = -1;
  int height() const { return top < bottom ? 0 : top - bottom + 1; }
};
Ink inkOf(const ns::Ref<ak::Window>& window,
          const std::vector<std::pair<ns::Ref<ak::TextField>, std::string>>& texts, const std::string& name) {
  for (const auto& [label, text] : texts) label->setStringValue(text);
  pltest::renderWindow(window, name);
  const ak::Size size = window->contentView()->bounds().size;
  std::vector<ak::RGBA> drawn;
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x) drawn.push_back(pltest::windowPixel(window, x + 0.5, y + 0.5));
  for (const auto& [label, text] : texts) label->setStringValue("");
  pltest::renderWindow(window, name + "-empty");
  Ink ink;
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x) {
      const ak::RGBA a = drawn[std::size_t(y * size.width + x)],
                     b = pltest::windowPixel(window, x + 0.5, y + 0.5);
      if (std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b) < 90) continue;
      ink.left = std::min(ink.left, x);
      ink.right = std::max(ink.right, x);
      ink.bottom = std::min(ink.bottom, y);
      ink.top = std::max(ink.top, y);
    }
  return ink;
}

// The statistics line is 13 points high and its labels reach above it: the digits of a video
// with no views and no rating ("0" and "0.0") are drawn whole, as tall as the same texts in a
// label with room to spare, and inside the line.
TEST(VideoCell, TheDigitsOfTheStatisticsLineAreDrawnWhole) {
  CellFixture f;
  auto entry = f.row("none1");
  entry->setViewCount(0);
  entry->setRating(0);
  auto cell = f.cell();
  cell->setSearchEntry(entry);
  auto window = f.app.window(ak::MakeRect(0, 0, 360, 83), ak::BorderlessWindowMask);
  window->contentView()->addSubview(cell);
  auto line = cell->viewAndRatingView();
  ASSERT_EQ(line->frame(), ak::MakeRect(115, 24, 150, 13));
  ASSERT_EQ(line->viewLabel()->frame(), ak::MakeRect(15, 3, 150, 13));
  ASSERT_EQ(line->viewLabel()->stringValue(), "0");
  ASSERT_EQ(line->starLabel()->stringValue(), "0.0");
  const Ink views = inkOf(window, {{line->viewLabel(), "0"}}, "views");
  const Ink stars = inkOf(window, {{line->starLabel(), "0.0"}}, "rating");

  // The same texts, font and colour in labels 30 points high.
  auto reference = f.app.window(ak::MakeRect(0, 0, 200, 40), ak::BorderlessWindowMask);
  reference->setBackgroundColor(ak::colors::whiteColor());
  auto label = ak::make<ak::TextField>(ak::MakeRect(10, 5, 150, 30));
  label->setFont(line->viewLabel()->font());
  label->setTextColor(line->viewLabel()->textColor());
  label->setBordered(false);
  label->setDrawsBackground(false);
  reference->contentView()->addSubview(label);
  const Ink zero = inkOf(reference, {{label, "0"}}, "reference-views");
  const Ink rating = inkOf(reference, {{label, "0.0"}}, "reference-rating");
  ASSERT_GE(zero.height(), 7);

  EXPECT_EQ(views.height(), zero.height()) << "the top of the views' 0 is cut";
  EXPECT_EQ(stars.height(), rating.height()) << "the top of the rating's digits is cut";
  // Inside the line, which the row keeps between its date below and its title above.
  EXPECT_LE(views.top, 24 + 13 - 1);
  EXPECT_GE(views.bottom, 24);
  EXPECT_LE(stars.top, 24 + 13 - 1);
  EXPECT_GE(stars.bottom, 24);
}

TEST(VideoCell, FavouritesAndNowPlayingMoveTheQualityMarkAndTheViewsLine) {
  CellFixture f;
  f.cacheFile("fav1", "1", 37);
  auto list = getPlaylistViewController("L", "playlists", "PL1");
  list->setCellArray({f.row("fav1")});
  auto entry = list->cellArray()[0];
  entry->setIdx(0);
  entry->setIsInFavorites(true);
  setCurrentPlaylistController(list);
  list->setPlayIndex(0);
  auto cell = f.cell();
  cell->setPlaylistKey(list->getDictionaryKey());
  cell->setSearchEntry(entry);
  EXPECT_TRUE(cell->isNowPlaying());
  EXPECT_EQ(cell->playlistImageName(), "is_in_favorites");
  EXPECT_EQ(cell->qualityImageName(), "1080_cached_white");
  EXPECT_EQ(cell->videoQualityImgView()->frame(), ak::MakeRect(142, 26, 25, 12));
  EXPECT_EQ(cell->viewAndRatingView()->frame(), ak::MakeRect(174, 24, 150, 13));

  // Another playlist, not playing, not cached.
  auto other = f.row("plain");
  other->setIsInOtherPlaylist(true);
  other->setIdx(5);
  cell->setSearchEntry(other);
  EXPECT_FALSE(cell->isNowPlaying());
  EXPECT_EQ(cell->playlistImageName(), "is_in_playlist");
  EXPECT_TRUE(cell->videoQualityImgView()->isHidden());
  EXPECT_EQ(cell->viewAndRatingView()->frame(), ak::MakeRect(145, 24, 150, 13));
  EXPECT_EQ(cell->cacheImageName(), "");
}

TEST(VideoCell, ADownloadErrorWinsAndHoveringChangesNothing) {
  CellFixture f;
  f.cacheFile("bad1", "123", 18);
  recordDownloadError("bad1", "failed");
  ASSERT_TRUE(pltest::pumpUntil([] { return hasDownloadError("bad1"); }, 30));
  auto entry = f.row("bad1");
  auto cell = f.cell();
  cell->setSearchEntry(entry);
  EXPECT_EQ(cell->cacheImageName(), "cache_error");
  EXPECT_TRUE(cell->cacheLabel()->isHidden());
  const std::string before = cell->viewsText();
  cell->mouseEntered(nullptr);
  EXPECT_EQ(cell->viewsText(), before);
}

TEST(VideoCell, PlayedStatesAndRowKindsPickTheirMarks) {
  CellFixture f;
  struct Case {
    int state;
    const char* mark;
  };
  for (const Case& c : {Case{0, "notwatched_icon"}, Case{1, "watched_icon"}, Case{2, "halfwatched_icon"}}) {
    DBAccess::getInstance()->savePlayedState_forId(c.state, "seen1");
    auto cell = f.cell();
    auto entry = f.row("seen1");
    cell->setSearchEntry(entry);
    EXPECT_EQ(cell->playedImageName(), c.mark) << c.state;
  }
  auto cell = f.cell();
  auto playlist = f.row("p");
  playlist->setIsPlaylist(true);
  playlist->setVideoCount(1);
  cell->setSearchEntry(playlist);
  EXPECT_TRUE(cell->playBtn()->isHidden());
  EXPECT_EQ(cell->viewsText(), "1 video in playlist");
  EXPECT_EQ(cell->playedImageName(), "");
  auto channel = f.row("c");
  channel->setIsChannel(true);
  channel->setVideoCount(0);
  cell->setSearchEntry(channel);
  EXPECT_EQ(cell->viewsText(), "no video");
  channel->setVideoCount(7);
  cell->updateChannel();
  EXPECT_EQ(cell->viewsText(), "7 videos in channel");
}

TEST(VideoCell, ARowThatHasGoneShowsNothing) {
  CellFixture f;
  auto cell = f.cell();
  {
    auto entry = f.row("gone1");
    cell->setSearchEntry(entry);
  }
  EXPECT_EQ(cell->searchEntry(), nullptr);
  cell->updateViewCount();
  cell->mouseEntered(nullptr);
  cell->onClick(nullptr);
  cell->setSearchEntry(nullptr);
  EXPECT_EQ(cell->titleLabel()->stringValue(), "");
  EXPECT_EQ(cell->durationLabel()->stringValue(), "");
}

TEST(PlaylistResultCell, CountOwnerAndDateTexts) {
  CellFixture f;
  auto cell = ak::make<PlaylistResultCell>(ak::MakeRect(0, 0, 360, 120));
  auto entry = SearchEntry::init();
  entry->setIsPlaylist(true);
  entry->setTitle("Campaign 2016");
  entry->setVideoCount(12);
  entry->setAuthor("Owner");
  entry->setDate("2015-04-07T19:09:45Z");
  cell->setSearchEntry(entry);
  EXPECT_EQ(cell->authorLabel()->stringValue(), "12 videos · Owner");
  EXPECT_EQ(cell->dateLabel()->stringValue(), "2015-04-07");
  auto empty = SearchEntry::init();
  empty->setVideoCount(0);
  cell->setSearchEntry(empty);
  EXPECT_EQ(cell->authorLabel()->stringValue(), "no video");
  EXPECT_EQ(cell->dateLabel()->stringValue(), "");
  entry->setAuthor("");
  cell->setSearchEntry(entry);
  EXPECT_EQ(cell->authorLabel()->stringValue(), "12 videos");
  // A menu request reaching the row itself gets an empty menu; a video row's holds a
  // placeholder entry without action.
  EXPECT_EQ(cell->menuForEvent(nullptr)->numberOfItems(), 0);
  // Drawn: the title and texts over the dark band at the bottom of the thumbnail.
  entry->setAuthor("Owner");
  cell->setSearchEntry(entry);
  auto window = f.app.window(ak::MakeRect(0, 0, 360, 120), ak::BorderlessWindowMask);
  window->contentView()->addSubview(cell);
  pltest::renderWindow(window, "playlist-cell");
  auto luminance = [&](double x, double y) {
    const ak::RGBA c = pltest::windowPixel(window, x, y);
    return c.r + c.g + c.b;
  };
  EXPECT_LT(luminance(180, 30), luminance(180, 90));
  auto placeholder = f.cell()->menuForEvent(nullptr);
  ASSERT_EQ(placeholder->numberOfItems(), 1);
  EXPECT_EQ(placeholder->itemAtIndex(0)->title(), "test2");
  EXPECT_FALSE(placeholder->itemAtIndex(0)->action());
}

TEST(RowViews, TheListHandsOutItsCellsAndNothingPastTheEnd) {
  CellFixture f;
  auto window = f.app.window(ak::MakeRect(0, 0, 360, 400), ak::BorderlessWindowMask);
  auto list = f.shownList(window, 3);
  auto table = list->tableView();
  EXPECT_EQ(list->tableView_viewForTableColumn_row(table, nullptr, 3), nullptr);
  auto cell = std::dynamic_pointer_cast<VideoCell>(list->tableView_viewForTableColumn_row(table, nullptr, 1));
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->playlistKey(), "related_v1");
  EXPECT_EQ(list->cellArray()[1]->idx(), 1);
  EXPECT_FALSE(list->cellArray()[1]->isInFavorites());

  // The play button plays and selects its row.
  cell->onClick(nullptr);
  EXPECT_EQ(list->playIndex(), 1);
  EXPECT_TRUE(list->containsIndex(1));

  list->setIsVideoResult(false);
  EXPECT_TRUE(std::dynamic_pointer_cast<PlaylistResultCell>(
      list->tableView_viewForTableColumn_row(table, nullptr, 0)));
  list->setIsVideoResult(true);
  list->refreshTableView();
  pltest::renderWindow(window, "list-rows");
}

}  // namespace

namespace {

TEST(RowViews, PlaylistMarksFollowTheAccountsPlaylistsHoldingTheVideo) {
  CellFixture f;
  auto index = ns::make<VideoInPlaylistCache>();
  f.main->setVideoInPlaylistCache(index);
  index->getPlaylistIdArrayForVideo("none");
  index->addVideo_toPlaylist("both", "PL1");
  index->addVideo_toPlaylist("both", "PL2");
  index->addVideo_toPlaylist("here", "PL1");
  index->addVideo_toPlaylist("there", "PL2");
  auto list = getPlaylistViewController("L", "playlists", "PL1");
  list->view();
  std::vector<ns::Ref<SearchEntry>> rows;
  for (const char* id : {"both", "here", "there", "none"}) rows.push_back(f.row(id));
  list->setCellArray(rows);
  struct Case {
    long row;
    bool other;
  };
  for (const Case& c : {Case{0, true}, Case{1, false}, Case{2, true}, Case{3, false}}) {
    auto cell = std::dynamic_pointer_cast<VideoCell>(
        list->tableView_viewForTableColumn_row(list->tableView(), nullptr, c.row));
    ASSERT_TRUE(cell);
    EXPECT_EQ(rows[c.row]->isInOtherPlaylist(), c.other) << c.row;
    EXPECT_FALSE(rows[c.row]->isInFavorites()) << c.row;
    EXPECT_EQ(cell->playlistImageName(), c.other ? "is_in_playlist" : "") << c.row;
  }
}

}  // namespace

namespace {

TEST(VideoCell, AWaitingDownloaderShowsTheQueuedMarkAndItsByteCounts) {
  CellFixture f;
  auto downloader = YoutubeDownloader::initWithId("queued1");
  ASSERT_TRUE(downloader);
  ASSERT_FALSE(downloader->isDownloading());
  auto cell = f.cell();
  auto entry = f.row("queued1");
  cell->setSearchEntry(entry);
  EXPECT_EQ(cell->cacheImageName(), "cache_queued");
  EXPECT_EQ(cell->qualityImageName(), "360_cached");
  EXPECT_EQ(cell->viewsText(), formatByteSize(downloader->totalDownloadedBytes()) + " / " +
                                   formatByteSize(downloader->totalContentLength()));
  unregisterDownloader(downloader.get());
  cell->setSearchEntry(entry);
  EXPECT_EQ(cell->cacheImageName(), "");
}

}  // namespace

namespace {

// A video cell shown alone in a window, 37 points above the window's bottom edge so that the
// mouse can leave it, with pixel reads in the cell's own coordinates.
struct ShownCell {
  explicit ShownCell(CellFixture& f) : fixture(f) {
    window = f.app.window(ak::MakeRect(0, 0, 360, 120), ak::BorderlessWindowMask);
    cell = ak::make<VideoCell>(ak::MakeRect(0, 37, 360, 83));
    window->contentView()->addSubview(cell);
  }
  void render(const std::string& name) { pltest::renderWindow(window, name); }
  ak::RGBA at(double x, double y) const {
    ak::Point p = cell->convertPoint_toView({x, y}, nullptr);
    return pltest::windowPixel(window, p.x, p.y);
  }
  // The middle of a subview's frame, in the cell.
  ak::RGBA centreOf(const ns::Ref<ak::View>& view) const {
    const ak::Rect r = view->frame();
    return at(r.origin.x + std::floor(r.size.width / 2), r.origin.y + std::floor(r.size.height / 2));
  }
  // The first column from `from` whose pixels on the views line's icon rows differ from the
  // row's background (the column before `from`) on the same line.
  double firstMarkedColumnFrom(double from) const {
    for (double x = from; x < 260; ++x)
      for (double y = 27; y <= 36; ++y)
        if (at(x, y) != at(from - 1, y)) return x;
    return -1;
  }

  CellFixture& fixture;
  ns::Ref<ak::Window> window;
  ns::Ref<VideoCell> cell;
};

std::string colour(ak::RGBA c) {
  return pltest::describe(c);
}

TEST(VideoCell, RenderedMarksSitWhereTheRowsStateSaysAndHoveringShowsTheFileSize) {
  CellFixture f;
  f.cacheFile("cached1", "12345", 22);
  ShownCell shown(f);
  auto entry = f.row("cached1");
  shown.cell->setSearchEntry(entry);
  shown.render("cached");
  EXPECT_EQ(colour(shown.centreOf(shown.cell->cacheImg())), colour({64, 200, 84, 255}));
  EXPECT_EQ(colour(shown.centreOf(shown.cell->videoQualityImgView())), colour({40, 120, 220, 255}));
  EXPECT_EQ(shown.cell->videoQualityImgView()->frame().origin.x, 117);
  // The views line's icon starts at x 149, right of the quality mark.
  const double views = shown.firstMarkedColumnFrom(143);
  EXPECT_GE(views, 149);
  EXPECT_LE(views, 152);

  // Hovering (a real mouse move into the row) shows the file's size; leaving shows the counts.
  pltest::moveMouse(shown.window, shown.cell->convertPoint_toView({200, 40}, nullptr));
  f.app.dispatchQueued();
  EXPECT_TRUE(shown.cell->mouseOver());
  EXPECT_EQ(shown.cell->viewsText(), formatByteSize(5));
  pltest::moveMouse(shown.window, {200, 10});
  f.app.dispatchQueued();
  EXPECT_FALSE(shown.cell->mouseOver());
  EXPECT_EQ(shown.cell->viewsText(), "");

  // In favourites and now playing: the favourites mark, the white quality mark at 142 and the
  // views line at 174.
  auto list = getPlaylistViewController("L", "playlists", "PL1");
  list->setCellArray({entry});
  entry->setIdx(0);
  entry->setIsInFavorites(true);
  setCurrentPlaylistController(list);
  list->setPlayIndex(0);
  shown.cell->setPlaylistKey(list->getDictionaryKey());
  shown.cell->setSearchEntry(entry);
  shown.render("favourite-playing");
  EXPECT_EQ(colour(shown.centreOf(shown.cell->inPlaylistImgView())), colour({232, 180, 32, 255}));
  EXPECT_EQ(shown.cell->videoQualityImgView()->frame().origin.x, 142);
  EXPECT_EQ(colour(shown.centreOf(shown.cell->videoQualityImgView())), colour({236, 236, 236, 255}));
  const double moved = shown.firstMarkedColumnFrom(168);
  EXPECT_GE(moved, 174);
  EXPECT_LE(moved, 177);
  setCurrentPlaylistController(nullptr);
}

TEST(VideoCell, RenderedErrorAndPlayedMarks) {
  CellFixture f;
  f.cacheFile("bad1", "123", 18);
  recordDownloadError("bad1", "failed");
  ASSERT_TRUE(pltest::pumpUntil([] { return hasDownloadError("bad1"); }, 30));
  DBAccess::getInstance()->savePlayedState_forId(1, "bad1");
  ShownCell shown(f);
  auto entry = f.row("bad1");
  shown.cell->setSearchEntry(entry);
  shown.render("error");
  EXPECT_EQ(colour(shown.centreOf(shown.cell->cacheImg())), colour({224, 40, 40, 255}));
  EXPECT_EQ(colour(shown.centreOf(shown.cell->playedImg())), colour({96, 96, 96, 255}));
  const std::string before = shown.cell->viewsText();
  pltest::moveMouse(shown.window, shown.cell->convertPoint_toView({200, 40}, nullptr));
  f.app.dispatchQueued();
  EXPECT_TRUE(shown.cell->mouseOver());
  EXPECT_EQ(shown.cell->viewsText(), before);
}

TEST(VideoCell, AVideoDownloadingForTheUserShowsItsMarkAndByteCounts) {
  CellFixture f;
  setStringSetting(kPreferredVideoQualityKey, "720");
  pltest::FakeServer origin;
  const std::string body(5000, 'v');
  origin.canned("GET", "/dl1/22", pltest::FakeReply::stalled(body.substr(0, 1000), 5000));
  auto resolver = ns::make<testsupport::FakeStreamResolver>();
  testsupport::ScopedStreamResolver installed(resolver);
  testsupport::FakeStreamResolver::Entry stream;
  stream.urlMap[22] = origin.URLForPath("/dl1/22");
  stream.videoInfo = ns::Dictionary{{ns::Value("title"), ns::Value("Title of dl1")}};
  resolver->setEntry("dl1", stream);
  auto downloader = YoutubeDownloader::initWithId("dl1");
  ASSERT_TRUE(downloader);
  downloader->setBDownload(true);
  ASSERT_TRUE(downloader->startDownload());
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return downloader->isDownloading() && downloader->downloadedBytes() == 1000; }, 30));

  ShownCell shown(f);
  auto entry = f.row("dl1");
  shown.cell->setSearchEntry(entry);
  shown.render("downloading");
  EXPECT_EQ(shown.cell->cacheImageName(), "halfwatched_icon");
  const ak::Rect mark = shown.cell->cacheImg()->frame();
  EXPECT_EQ(colour(shown.at(mark.origin.x + 2, mark.origin.y + 6)), colour({48, 140, 250, 255}));
  EXPECT_EQ(shown.cell->viewsText(), formatByteSize(1000) + " / " + formatByteSize(5000));
  // Fetched by the cache rather than for the user: its own mark.
  downloader->setBDownload(false);
  shown.cell->setSearchEntry(entry);
  EXPECT_EQ(shown.cell->cacheImageName(), "cache_cacheing");
  downloader->stopAndDelete();
  origin.release();
  ASSERT_TRUE(pltest::pumpUntil([&] { return !downloader->isDownloading(); }, 30));
  unregisterDownloader(downloader.get());
}

TEST(VideoCell, AStreamAnsweringAnErrorStatusShowsItWhileItsRetryWaits) {
  CellFixture f;
  setStringSetting(kPreferredVideoQualityKey, "720");
  pltest::FakeServer origin;
  origin.canned("GET", "/nf/22", pltest::FakeReply::text(404, "Not Found"));
  auto resolver = ns::make<testsupport::FakeStreamResolver>();
  testsupport::ScopedStreamResolver installed(resolver);
  testsupport::FakeStreamResolver::Entry stream;
  stream.urlMap[22] = origin.URLForPath("/nf/22");
  stream.videoInfo = ns::Dictionary{{ns::Value("title"), ns::Value("Title of nf")}};
  resolver->setEntry("nf", stream);
  auto downloader = YoutubeDownloader::initWithId("nf");
  ASSERT_TRUE(downloader);
  ASSERT_TRUE(downloader->startDownload());
  ASSERT_TRUE(pltest::pumpUntil([&] { return downloader->errorCount() == 1; }, 30));
  ASSERT_EQ(getDownloadError("nf"), "HTTP 404");

  ShownCell shown(f);
  shown.cell->setSearchEntry(f.row("nf"));
  // Not an error of the video: the row waits, and says why.
  EXPECT_EQ(shown.cell->cacheImageName(), "cache_queued");
  EXPECT_EQ(shown.cell->viewsText(), "HTTP 404");
  unregisterDownloader(downloader.get());
}

TEST(RowViews, AClickOnThePlayButtonPlaysAndSelectsThatRow) {
  CellFixture f;
  auto window = f.app.window(ak::MakeRect(0, 0, 360, 400), ak::BorderlessWindowMask);
  auto list = f.shownList(window, 3);
  list->refreshTableView();
  auto cell =
      std::dynamic_pointer_cast<VideoCell>(list->tableView()->viewAtColumn_row_makeIfNecessary(0, 2, true));
  ASSERT_NE(cell, nullptr);
  auto button = cell->playBtn();
  const ak::Point centre = button->convertPoint_toView(
      {button->bounds().size.width / 2, button->bounds().size.height / 2}, nullptr);
  // The button shows itself under the mouse.
  pltest::moveMouse(window, centre);
  f.app.dispatchQueued();
  pltest::click(window, centre);
  f.app.dispatchQueued();
  EXPECT_EQ(list->playIndex(), 2);
  EXPECT_TRUE(list->containsIndex(2));
  // The player got that row.
  ASSERT_NE(f.player->lastRow(), nullptr);
  EXPECT_EQ(f.player->lastRow()->videoid(), "v2");
}

}  // namespace

namespace {

TEST(RowViews, TheFavouritesMarkShowsEverywhereButInTheFavouritesListItself) {
  CellFixture f;
  auto disk = AccountCache::diskCache();
  disk->setObject_forKey_withTimeoutInterval(ns::Value(ns::Array{"FLme", "WLme", "HLme", "LLme", "UUme"}),
                                             f.account->cacheKey("links"), 60);
  disk->synchronize();
  f.account->loadCache();
  ASSERT_EQ(f.account->favorites(), "FLme");
  auto index = ns::make<VideoInPlaylistCache>();
  f.main->setVideoInPlaylistCache(index);
  index->getPlaylistIdArrayForVideo("none");
  index->addVideo_toPlaylist("fav", "FLme");
  index->addVideo_toPlaylist("fav", "PL1");
  auto markOf = [&](const std::string& playlistId) {
    auto list = getPlaylistViewController(playlistId, "playlists", playlistId);
    list->view();
    list->setCellArray({f.row("fav")});
    auto cell = std::dynamic_pointer_cast<VideoCell>(
        list->tableView_viewForTableColumn_row(list->tableView(), nullptr, 0));
    return cell ? cell->playlistImageName() : std::string("(no cell)");
  };
  EXPECT_EQ(markOf("PL1"), "is_in_favorites");
  EXPECT_EQ(markOf("PL9"), "is_in_favorites");
  // In the favourites list itself the video is in another playlist too: that mark instead.
  EXPECT_EQ(markOf("FLme"), "is_in_playlist");
}

}  // namespace

namespace {

// The play buttons of a list whose rows were made again (their views reused) while the mouse was
// over row 1's thumbnail: only row 1 shows its button, and it goes with a single move out of the
// window.
TEST(RowViews, TheHoverPlayButtonGoesWhenTheMouseLeavesAReloadedList) {
  CellFixture f;
  auto window = f.app.window(ak::MakeRect(0, 0, 360, 400), ak::BorderlessWindowMask);
  auto list = f.shownList(window, 6);
  list->refreshTableView();
  auto table = list->tableView();
  auto cellAt = [&](long row) {
    return std::dynamic_pointer_cast<VideoCell>(table->viewAtColumn_row_makeIfNecessary(0, row, false));
  };
  // The rows whose play buttons show once their fades have ended, and whose cells say hovered.
  auto shown = [&] {
    f.app.advance(1);
    f.app.dispatchQueued();
    std::string rows;
    for (long row = 0; row < 6; ++row) {
      auto cell = cellAt(row);
      if (cell && (cell->playBtn()->alphaValue() > 0 || cell->mouseOver())) rows += std::to_string(row);
    }
    return rows;
  };
  auto button = cellAt(1)->playBtn();
  const ak::Point overRow1 = button->convertPoint_toView(
      {button->bounds().size.width / 2, button->bounds().size.height / 2}, nullptr);
  pltest::moveMouse(window, overRow1);
  f.app.dispatchQueued();
  EXPECT_EQ(shown(), "1");
  list->refreshTableView();
  EXPECT_EQ(shown(), "1");
  EXPECT_EQ(hoveredVideoId(), "v1");
  pltest::moveMouse(window, {500, 200});
  f.app.dispatchQueued();
  EXPECT_EQ(shown(), "");
  EXPECT_EQ(hoveredVideoId(), std::nullopt);

  // Back over it, the button shows again and goes the same way.
  pltest::moveMouse(window, overRow1);
  f.app.dispatchQueued();
  EXPECT_EQ(shown(), "1");
  list->refreshTableView();
  pltest::moveMouse(window, {overRow1.x + 2, overRow1.y});
  f.app.dispatchQueued();
  EXPECT_EQ(shown(), "1");
  pltest::moveMouse(window, {500, 200});
  f.app.dispatchQueued();
  EXPECT_EQ(shown(), "");
}

}  // namespace
