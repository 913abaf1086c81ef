// The video menu's edits of the account's playlists against the fake Data API (deleting rows,
// the "Add to" submenu and its copies and moves), and the "Share to" submenu through the
// sharing services, the recording opener and a fake application delegate.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "app/library/VideoInPlaylistCache.h"
#include "app/youtube/YoutubeLinks.h"
#include "common/AppUtilities.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "platform/appkit/Image.h"
#include "platform/net/PercentEncoding.h"
#include "platform/net/URL.h"
#include "platform/system/SharingService.h"
#include "platform/system/SharingServiceNames.h"
#include "platform/system/SystemServiceSettings.h"
#include "platform/testing/desktop/RecordingOpener.h"
#include "tests/app/browse/VideoContextMenuTestSupport.h"
#include "tests/support/FakeAppDelegate.h"
#include "tests/support/FakeDataAPI.h"

namespace {

using browse_test::AccountFixture;
using browse_test::callNumber;
using browse_test::ContextMenuFixture;
using browse_test::textOf;
using testsupport::DataAPICall;
using testsupport::FakeDataAPI;

TEST(VideoMenuEdits, DeletingSelectedRowsGoesFromTheLastUp) {
  AccountFixture f;
  auto list = f.openPlaylist("PLsrc", 8);
  f.select({2, 5, 7});
  f.choose(5, "Delete 3 videos");
  EXPECT_EQ(AccountFixture::ids(list->cellArray()),
            (std::vector<std::string>{"v0/item0", "v1/item1", "v3/item3", "v4/item4", "v6/item6"}));
  auto deletes = f.waitForCalls("youtube.playlistItems.delete", 3);
  ASSERT_EQ(deletes.size(), 3u);
  // The requests travel side by side; their call ids number them in the order they were made.
  std::sort(deletes.begin(), deletes.end(),
            [](const DataAPICall& a, const DataAPICall& b) { return callNumber(a) < callNumber(b); });
  std::vector<std::string> sent;
  for (const auto& call : deletes) sent.push_back(textOf(call.params["id"]));
  EXPECT_EQ(sent, (std::vector<std::string>{"item7", "item5", "item2"}));
  EXPECT_EQ(f.api.itemIds("playlistItems"),
            (std::vector<std::string>{"item0", "item1", "item3", "item4", "item6"}));
  auto stored = f.account->getPlaylistCache_withId("playlists", "PLsrc");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->size(), 5u);
  EXPECT_FALSE(f.index->hasVideo_inPlaylist("v5", "PLsrc"));

  // One row: the row under the pointer. The uploads list only forgets its row.
  f.choose(0, "Delete");
  EXPECT_EQ(list->cellArray().size(), 4u);
  EXPECT_EQ(f.waitForCalls("youtube.playlistItems.delete", 4).size(), 4u);
  auto uploads = f.openPlaylist("UUme", 2);
  uploads->setMyPlaylistType(std::string("uploads"));
  f.choose(1, "Delete");
  EXPECT_EQ(uploads->cellArray().size(), 1u);
  pltest::pumpUntil([] { return false; }, 0.3);
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.delete").size(), 4u);
}

TEST(VideoMenuEdits, TheAddToSubmenuShowsTheAccountsPlaylistsInTheirGroups) {
  AccountFixture f;
  f.account->savePlaylistCache_type_withId(ns::Array{ns::Value(ContextMenuFixture::videoRows(2)[1])},
                                           "playlists", "FLme");
  f.index->populateCache();
  f.index->addVideo_toPlaylist("v1", "PLzeta");
  f.open("search_relevance", "cats", ContextMenuFixture::videoRows(3));

  auto menu = f.menuOf(1);
  auto addTo = browse_test::itemTitled(menu, "Add to...");
  ASSERT_TRUE(addTo);
  pltest::ShownMenu submenu;
  submenu.items = addTo->submenu;
  EXPECT_EQ(submenu.describe(),
            "[x] Favorites {FLme}\n-\nA\n  Code {PLcode}\nB\n-\nAlpha {PLalpha}\n[x] zeta {PLzeta}\n");
  // The account's list is kept sorted by title.
  EXPECT_EQ(textOf(f.account->playlistsArray()[0][1]), "Alpha");

  // Over two rows nothing is ticked; with Command the items move.
  f.select({1, 2});
  menu = f.menuOf(2, ak::CommandKeyMask);
  addTo = browse_test::itemTitled(menu, "Move 2 videos to...");
  ASSERT_TRUE(addTo);
  submenu.items = addTo->submenu;
  EXPECT_EQ(submenu.describe(),
            "Favorites {FLme}\n-\nA\n  Code {PLcode}\nB\n-\nAlpha {PLalpha}\nzeta {PLzeta}\n");
  EXPECT_TRUE(menuMoveMode());
  f.select({});
  EXPECT_TRUE(browse_test::itemTitled(f.menuOf(0, ak::CommandKeyMask), "Move to..."));
  EXPECT_TRUE(browse_test::itemTitled(f.menuOf(0), "Add to..."));
  EXPECT_FALSE(menuMoveMode());

  // Signed out, "Favorites" shows but cannot be chosen.
  f.setAnswers([](auto& answers) { answers.signedIn = false; });
  menu = f.menuOf(0);
  EXPECT_EQ(browse_test::itemTitled(menu, "Add to...")->submenu.at(0).enabled, false);
}

TEST(VideoMenuEdits, AddingInsertsCopiesAndMovingTakesTheRowsOutOnceDeleted) {
  AccountFixture f;
  auto target = f.openPlaylist("PLcode", 1);
  f.left->navigationController()->goBack();
  auto source = f.openPlaylist("PLsrc", 4);
  ASSERT_EQ(f.shown(), source);

  f.select({1, 3});
  f.choose(3, "Add 2 videos to.../A/Code");
  auto inserts = f.waitForCalls("youtube.playlistItems.insert", 2);
  ASSERT_EQ(inserts.size(), 2u);
  EXPECT_EQ(textOf(inserts[0].params["resource"]["snippet"]["resourceId"]["videoId"]), "v1");
  EXPECT_EQ(textOf(inserts[1].params["resource"]["snippet"]["resourceId"]["videoId"]), "v3");
  EXPECT_EQ(textOf(inserts[0].params["resource"]["snippet"]["playlistId"]), "PLcode");
  EXPECT_GT(inserts[1].post, inserts[0].post);
  // The target shows copies with their new item ids; the source rows keep theirs.
  ASSERT_EQ(target->cellArray().size(), 3u);
  EXPECT_EQ(target->cellArray()[1]->videoid(), "v1");
  EXPECT_NE(target->cellArray()[1]->playlistItemId(), "item1");
  EXPECT_NE(target->cellArray()[1], source->cellArray()[1]);
  EXPECT_EQ(AccountFixture::ids(source->cellArray()),
            (std::vector<std::string>{"v0/item0", "v1/item1", "v2/item2", "v3/item3"}));
  EXPECT_TRUE(f.index->hasVideo_inPlaylist("v3", "PLcode"));
  EXPECT_TRUE(f.api.callsOf("youtube.playlistItems.delete").empty());

  // With Command the rows leave their list once the service deleted them there; a refused
  // delete leaves its row.
  f.api.script("youtube.playlistItems.delete",
               FakeDataAPI::Script(FakeDataAPI::Answer::JSONError, 403, 403, 1));
  f.select({0, 2});
  f.choose(2, "Move 2 videos to.../Alpha", ak::CommandKeyMask);
  auto deletes = f.waitForCalls("youtube.playlistItems.delete", 2);
  ASSERT_EQ(deletes.size(), 2u);
  EXPECT_EQ(textOf(deletes[0].params["id"]), "item0");
  EXPECT_EQ(textOf(deletes[1].params["id"]), "item2");
  EXPECT_EQ(AccountFixture::ids(source->cellArray()),
            (std::vector<std::string>{"v0/item0", "v1/item1", "v3/item3"}));
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.insert").size(), 4u);
}

// ---- sharing ----

std::map<std::string, std::string> queryOf(const std::string& address) {
  std::map<std::string, std::string> fields;
  auto url = ns::URL::URLWithString(address);
  std::string query = url && url->query() ? *url->query() : std::string();
  std::size_t start = 0;
  while (start <= query.size() && !query.empty()) {
    auto end = query.find('&', start);
    std::string pair = query.substr(start, end == std::string::npos ? std::string::npos : end - start);
    auto equals = pair.find('=');
    fields[pair.substr(0, equals)] =
        ns::stringByRemovingPercentEncoding(pair.substr(equals + 1)).value_or("<bad>");
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return fields;
}

// An application delegate that also notes whether the share flag was up at each call.
struct SharingAppDelegate : testsupport::FakeAppDelegate {
  void enableShortSeek(bool enable) override {
    sheetActiveAtCalls.push_back(isSharingSheetActive());
    FakeAppDelegate::enableShortSeek(enable);
  }
  std::vector<bool> sheetActiveAtCalls;
};

struct ShareFixture : ContextMenuFixture {
  ShareFixture() {
    sys::setSharePageHost(ak::SharingServiceNamePostOnTwitter, std::string("https://twitter.example.test"));
    sys::setSharePageHost(ak::SharingServiceNamePostOnFacebook, std::string("https://facebook.example.test"));
    open("search_relevance", "cats", videoRows(3));
  }
  ~ShareFixture() { sys::resetSystemServiceSettings(); }
  pltest::RecordingOpener opener{app.sandbox()};
  ns::Ref<SharingAppDelegate> delegate = ns::make<SharingAppDelegate>();
  testsupport::ScopedAppDelegate installedDelegate{delegate};
};

TEST(VideoMenuSharing, TwitterOpensItsSharePageWhileTheSheetFlagHoldsTheShortSeek) {
  ShareFixture f;
  auto menu = f.menuOf(1);
  auto share = browse_test::itemTitled(menu, "Share to...");
  ASSERT_TRUE(share);
  pltest::ShownMenu submenu;
  submenu.items = share->submenu;
  EXPECT_EQ(submenu.describe(), "Facebook\nTwitter\n");

  f.choose(1, "Share to.../Twitter");
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.delegate->calls().size() == 2; }, 30));
  // The flag held from the opening of the share to the service's report of its end.
  EXPECT_EQ(f.delegate->calls(), (std::vector<std::string>{"enableShortSeek(NO)", "enableShortSeek(YES)"}));
  EXPECT_EQ(f.delegate->sheetActiveAtCalls, (std::vector<bool>{true, false}));
  EXPECT_FALSE(isSharingSheetActive());
  ASSERT_EQ(f.opener.invocations().size(), 1u);
  const std::string page = f.opener.invocations()[0].at(0);
  EXPECT_EQ(page.rfind("https://twitter.example.test/intent/tweet?", 0), 0u) << page;
  auto fields = queryOf(page);
  EXPECT_EQ(fields["text"], std::string("#NowPlaying Video 1 using Pelorin(") + kProductPageAddress + ")");
  EXPECT_EQ(fields["url"], "http://youtu.be/v1");
  EXPECT_EQ(videoIdFromYoutubeLink(fields["url"]), "v1");

  // Until the service reports, the flag stays up; an opener that fails ends the share through
  // the failure call.
  f.opener.setExitStatus(3);
  f.delegate->clearCalls();
  auto table = f.shown()->tableView();
  table->shareToFacebook(f.shown()->cellArray()[2]);
  EXPECT_TRUE(isSharingSheetActive());
  EXPECT_EQ(f.delegate->calls(), std::vector<std::string>{"enableShortSeek(NO)"});
  ASSERT_TRUE(pltest::pumpUntil([] { return !isSharingSheetActive(); }, 30));
  EXPECT_EQ(f.delegate->calls(), (std::vector<std::string>{"enableShortSeek(NO)", "enableShortSeek(YES)"}));

  // The sheet's questions get the zero frame, and for the link the row's thumbnail or the dot.
  auto service = ak::SharingService::sharingServiceNamed(ak::SharingServiceNamePostOnTwitter);
  EXPECT_EQ(table->sharingService_sourceFrameOnScreenForShareItem(service, ns::Value("text")), ak::ZeroRect);
  EXPECT_EQ(
      table->sharingService_transitionImageForShareItem_contentRect(service, ns::Value("text"), nullptr),
      nullptr);
  auto image = table->sharingService_transitionImageForShareItem_contentRect(
      service, ns::Value(ns::URL::URLWithString("http://youtu.be/v2")), nullptr);
  EXPECT_EQ(image, ak::Image::imageNamed("green_dot"));
  EXPECT_TRUE(image);
}

TEST(VideoMenuSharing, TheOldSystemsBranchOpensTheWebPagesItself) {
  ShareFixture f;
  f.app.sandbox().set("PELORIN_MACOS_VERSION", std::string("10.7.5"));
  ASSERT_EQ(getOSVersionString(), "10.7.5");
  // Enabled without asking the services, which have no page now.
  sys::setSharePageHost(ak::SharingServiceNamePostOnTwitter, std::string(""));
  auto menu = f.menuOf(0);
  auto share = browse_test::itemTitled(menu, "Share to...");
  ASSERT_TRUE(share);
  EXPECT_TRUE(share->submenu.at(1).enabled);
  sys::setSharePageHost(ak::SharingServiceNamePostOnTwitter, std::string("https://twitter.example.test"));

  f.choose(0, "Share to.../Facebook");
  EXPECT_FALSE(isSharingSheetActive());
  EXPECT_TRUE(f.delegate->calls().empty());
  ASSERT_EQ(f.opener.invocations().size(), 1u);
  const std::string facebook = f.opener.invocations()[0].at(0);
  EXPECT_EQ(facebook.rfind("https://facebook.example.test/sharer/sharer.php?t=", 0), 0u) << facebook;
  EXPECT_LT(facebook.find("?t="), facebook.find("&u="));
  auto fields = queryOf(facebook);
  EXPECT_EQ(fields["t"], std::string("Playing Video 0 using Pelorin(") + kProductPageAddress + ")");
  EXPECT_EQ(fields["u"], "http://youtu.be/v0");

  f.choose(2, "Share to.../Twitter");
  ASSERT_EQ(f.opener.invocations().size(), 2u);
  const std::string twitter = f.opener.invocations()[1].at(0);
  EXPECT_EQ(twitter.rfind("https://twitter.example.test/intent/session?return_to=", 0), 0u) << twitter;
  fields = queryOf(twitter);
  const std::string text =
      std::string("#NowPlaying Video 2 http://youtu.be/v2 using Pelorin(") + kProductPageAddress + ")";
  EXPECT_EQ(fields["text"], text);
  EXPECT_EQ(fields["url"], "http://youtu.be/v2");
  // The return path is escaped twice: decoded once it is the tweet page with the text escaped.
  const std::string returnTo = fields["return_to"];
  ASSERT_EQ(returnTo.rfind("/intent/tweet?text=", 0), 0u) << returnTo;
  EXPECT_EQ(ns::stringByRemovingPercentEncoding(returnTo.substr(19)), text);
}

}  // namespace
