// The video rows' context menu: what a right click shows for the row and the selection, the
// cache items by the download engine's state, and the commands.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/core/Format.h"

#include "app/cache/CacheFiles.h"
#include "app/cache/CacheServer.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/cache/YoutubeResponse.h"
#include "app/library/LibraryNotifications.h"
#include "app/videopage/VideoPage.h"
#include "app/youtube/YoutubeLinks.h"
#include "common/Settings.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/testing/desktop/RecordingOpener.h"
#include "tests/app/browse/VideoContextMenuTestSupport.h"
#include "ui/HoverButton.h"

namespace {

using browse_test::ContextMenuFixture;
using browse_test::itemTitled;

const std::string kLinks = "Uploader's Video\nRelated Video\nOpen Video Page\nCopy Link\n-\n";
const std::string kEnd = "Reset Played State\nDelete\n-\nReload List\n";

void writeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The lines of a menu's description from the one starting with `first` to the one before the
// line starting with `last`.
std::string linesBetween(const std::string& text, const std::string& first, const std::string& last) {
  auto begin = text.find(first);
  if (begin == std::string::npos) return "(no " + first + ")";
  auto end = text.find("\n" + last, begin);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end + 1 - begin);
}

TEST(VideoContextMenu, ARightClickSelectsTheRowAndOffersWhatSuitsTheSelection) {
  ContextMenuFixture f;
  pltest::RecordingOpener opener(f.app.sandbox());
  f.open("search_relevance", "cats", ContextMenuFixture::videoRows(6));

  // An unselected row becomes the only selected row.
  f.select({1});
  auto menu = f.menuOf(3);
  EXPECT_EQ(f.selection(), std::vector<long>{3});
  EXPECT_EQ(menu.title, "Video 3");
  const std::string one = menu.describe();
  EXPECT_EQ(linesBetween(one, "Uploader's", "Add to..."),
            kLinks + "Cache Video\nRemove Cache (disabled)\nDownload\n-\n");
  EXPECT_NE(one.find("\nShare to...\n  Facebook\n  Twitter\n" + kEnd), std::string::npos) << one;
  EXPECT_EQ(one.find("Edit Video Title"), std::string::npos);
  const std::vector<std::pair<std::string, long>> tags = {
      {"Uploader's Video", 0}, {"Related Video", 1}, {"Open Video Page", 2}, {"Copy Link", 3},
      {"Cache Video", 11},     {"Remove Cache", 12}, {"Download", 13},       {"Add to...", 3},
      {"Share to...", 3},      {"Facebook", 0},      {"Twitter", 1},         {"Reset Played State", 21},
      {"Delete", 22},          {"Reload List", 30}};
  for (const auto& [title, tag] : tags) {
    auto item = itemTitled(menu, title);
    ASSERT_TRUE(item) << title;
    EXPECT_EQ(item->tag, tag) << title;
  }

  // Inside a selection of two: the selection stays and the items speak of both.
  f.select({2, 4});
  auto two = f.menuOf(4);
  EXPECT_EQ(f.selection(), (std::vector<long>{2, 4}));
  const std::string both = two.describe();
  EXPECT_EQ(linesBetween(both, "Copy Links", "Add 2 videos to..."),
            "Copy Links\nCache Video\nRemove Cache (disabled)\nDownload\nReveal in Finder (disabled)\nDelete "
            "Downloaded File (disabled)\n-\n");
  EXPECT_NE(both.find("\nReset Played State\nDelete 2 videos\n-\nReload List\n"), std::string::npos) << both;
  EXPECT_EQ(both.find("Share to"), std::string::npos);
  EXPECT_EQ(both.find("Uploader's Video"), std::string::npos);

  // Below the last row: an empty title, only "Reload List", the selection as it was.
  auto below = f.menuOf(-1);
  EXPECT_EQ(below.title, "");
  EXPECT_EQ(below.describe(), "Reload List\n");
  EXPECT_EQ(f.selection(), (std::vector<long>{2, 4}));
  EXPECT_EQ(f.shown()->tableView()->menuRow(), -1);
}

// Over a row's title and counts (the row's own cell, not its thumbnail) the list's menu for that row
// opens too, not the cell's stand-in.
TEST(VideoContextMenu, ARightClickOnTheRowsTextOpensTheSameMenu) {
  ContextMenuFixture f;
  f.open("search_relevance", "cats", ContextMenuFixture::videoRows(4));
  auto table = f.shown()->tableView();
  const ak::Rect row = table->rectOfRow(2);
  const ak::Point text =
      table->convertPoint_toView({row.size.width - 30, row.origin.y + row.size.height / 2}, nullptr);
  pltest::ModalScript script;
  script.dismiss();
  f.rightClickAt(text);
  ASSERT_EQ(script.shown().size(), 1u);
  const auto& menu = script.shown().at(0);
  EXPECT_EQ(menu.title, "Video 2");
  EXPECT_TRUE(itemTitled(menu, "Copy Link"));
  EXPECT_FALSE(itemTitled(menu, "test2"));
  EXPECT_EQ(f.selection(), std::vector<long>{2});
}

TEST(VideoContextMenu, PlaylistRowsThePlayButtonAndTheAccountsOwnVideos) {
  ContextMenuFixture f;
  auto rows = ContextMenuFixture::videoRows(5);
  rows[1]->setIsPlaylist(true);
  rows[2]->setIsChannel(true);
  rows[4]->setVideoChannelId("UCmine");
  f.open("search_relevance", "mixed", rows);
  EXPECT_EQ(f.menuOf(1).describe(), "Reload List\n");
  EXPECT_EQ(f.menuOf(2).describe(), "Reload List\n");

  // "Edit Video Title" for one row of the account's own channel only.
  setStringSetting("my_channels", "UCmine,UCother");
  EXPECT_NE(f.menuOf(4).describe().find("\nDelete\nEdit Video Title\n-\nReload List\n"), std::string::npos);
  EXPECT_EQ(f.menuOf(3).describe().find("Edit Video Title"), std::string::npos);
  // Nor for a row without a channel, whatever the set of own channels holds.
  f.shown()->cellArray()[0]->setVideoChannelId("");
  setStringSetting("my_channels", "");
  f.account = ns::make<AccountCache>();
  f.main->setAccountCache(f.account);
  EXPECT_EQ(f.menuOf(0).describe().find("Edit Video Title"), std::string::npos);
  setStringSetting("my_channels", "UCmine,UCother");
  f.select({3, 4});
  EXPECT_EQ(f.menuOf(4).describe().find("Edit Video Title"), std::string::npos);

  // A right click on a row's play button opens that row's menu.
  f.select({});
  auto table = f.shown()->tableView();
  auto cell = std::dynamic_pointer_cast<ak::View>(table->viewAtColumn_row_makeIfNecessary(0, 3, true));
  ASSERT_TRUE(cell);
  std::shared_ptr<HoverButton> play;
  for (const auto& sub : cell->subviews())
    if (auto button = std::dynamic_pointer_cast<HoverButton>(sub)) play = button;
  ASSERT_TRUE(play);
  ak::Rect frame = play->bounds();
  auto point = play->convertPoint_toView({frame.size.width / 2, frame.size.height / 2}, nullptr);
  pltest::ModalScript script;
  script.dismiss();
  f.rightClickAt(point);
  ASSERT_EQ(script.shown().size(), 1u);
  EXPECT_EQ(script.shown()[0].title, "Video 3");
  EXPECT_EQ(f.selection(), std::vector<long>{3});
  // A left click on it still goes to the button.
  EXPECT_TRUE(table->validateProposedFirstResponder_forEvent(
      play, pltest::mouseEvent(f.window, ak::EventType::LeftMouseDown, point)));
  EXPECT_FALSE(table->validateProposedFirstResponder_forEvent(
      play, pltest::mouseEvent(f.window, ak::EventType::RightMouseDown, point)));
}

// The lines of the cache items in a menu's description: from "Cache Video" or "Reveal in
// Finder" to the separator before "Add to".
std::string cacheItems(const pltest::ShownMenu& menu) {
  std::string text = menu.describe();
  auto begin = text.find("Copy Link");
  begin = text.find('\n', begin) + 1;
  if (text.compare(begin, 2, "-\n") == 0) begin += 2;
  auto end = text.find("-\nAdd ", begin);
  return text.substr(begin, end - begin);
}

TEST(VideoContextMenu, TheCacheItemsFollowTheDownloadEngine) {
  ContextMenuFixture f;
  f.open("search_relevance", "states", ContextMenuFixture::videoRows(6));
  const std::string fresh = "Cache Video\nRemove Cache (disabled)\nDownload\n";
  EXPECT_EQ(cacheItems(f.menuOf(0)), fresh);

  // A recorded download error: cacheable again, nothing to remove, no pause or resume.
  recordDownloadError("v0", std::string("The stream went away"));
  ASSERT_TRUE(pltest::pumpUntil([] { return hasDownloadError("v0"); }));
  EXPECT_EQ(cacheItems(f.menuOf(0)), fresh);

  // A cached file: the reverse.
  writeFile(getCacheFolderPath() + "/v1.mp4", "cached");
  setVideoCacheState("v1", true);
  EXPECT_EQ(cacheItems(f.menuOf(1)), "Cache Video (disabled)\nRemove Cache\nDownload\n");

  // A registered downloader that does not transfer: resume it.
  auto paused = YoutubeDownloader::initWithId("v2");
  ASSERT_TRUE(paused);
  EXPECT_EQ(cacheItems(f.menuOf(2)), fresh + "Resume Download\n");

  // A downloaded video: only its file's commands.
  const std::string saved = f.app.sandbox().root().string() + "/home/Videos/Video 3.mp4";
  writeFile(saved, "saved");
  saveDownloadedVideoPath("v3", saved);
  setVideoCacheState("v3", false);
  EXPECT_EQ(cacheItems(f.menuOf(3)), "Reveal in Finder\nDelete Downloaded File\n");

  // Several rows: what any of them allows.
  const std::string several =
      "Cache Video%s\nRemove Cache%s\nDownload%s\nReveal in Finder%s\nDelete Downloaded File%s\n";
  auto flags = [&](bool cache, bool remove, bool download, bool downloads) {
    auto on = [](bool enabled) { return std::string(enabled ? "" : " (disabled)"); };
    return ns::format(several, on(cache), on(remove), on(download), on(downloads), on(downloads));
  };
  f.select({1, 3});
  EXPECT_EQ(cacheItems(f.menuOf(3)), flags(false, true, true, true));
  f.select({3, 4});
  EXPECT_EQ(cacheItems(f.menuOf(3)), flags(true, false, true, true));
  f.select({1, 5});
  EXPECT_EQ(cacheItems(f.menuOf(1)), flags(true, true, true, false));
  unregisterDownloader(paused.get());
}

}  // namespace
