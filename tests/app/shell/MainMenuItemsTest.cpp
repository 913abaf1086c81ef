// The main menu of an in-process launch with the application object: its menus in order, what
// the delegate's validation turns on and off, the key equivalents on the real player and the
// left pane, the bookmark panels, and the account items against the fake identity provider (and
// what they become when the provider refuses the account's refresh token).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "app/library/DBAccess.h"
#include "app/shell/Launch.h"
#include "app/shell/LogoutConfirmation.h"
#include "app/shell/SignInSession.h"
#include "common/ShellNotifications.h"
#include "lib/google/NetOAuth2Authentication.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/TextField.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/Time.h"
#include "platform/testing/ui/ModalScript.h"
#include "platform/web/WebView.h"
#include "tests/app/shell/ApplicationTestSupport.h"
#include "ui/MySearchField.h"

namespace {

using shelltest::ApplicationFixture;
using shelltest::kRowIds;
using shelltest::kWait;

const std::vector<std::pair<std::string, std::string>> kDelegateItems{{"File", "Export Bookmarks\u2026"},
                                                                      {"File", "Import Bookmarks\u2026"},
                                                                      {"Go", "Back"},
                                                                      {"Go", "Forward"},
                                                                      {"Go", "Current Playlist"},
                                                                      {"Playback", "Short Seek Forward"},
                                                                      {"Playback", "Short Seek Back"},
                                                                      {"Account", "Login"},
                                                                      {"Account", "Logout\u2026"}};

ns::Ref<SearchEntry> rowOf(const std::string& videoId) {
  auto row = SearchEntry::init();
  row->setVideoid(videoId);
  row->setTitle("Title of " + videoId);
  return row;
}

struct MenuFixture : ApplicationFixture {
  // A video of the list loaded (not playing) and ready.
  void loadVideo() {
    cacheClip(kRowIds[0]);
    player()->loadVideo(rowOf(kRowIds[0]));
    ASSERT_TRUE(pltest::pumpUntil([&] { return ready(); }, kWait));
  }
  void seekTo(double seconds) {
    player()->player()->seekToTime(cm::TimeMakeWithSeconds(seconds, cm::kPreferredTimescale));
    ASSERT_TRUE(pltest::pumpUntil([&] { return std::fabs(position() - seconds) < 0.05; }, kWait))
        << position();
  }
  void commandKey(unsigned short code, const std::string& characters) {
    press(code, characters, ak::CommandKeyMask);
  }
  ns::Ref<PelViewController> shown() { return navigation()->getCurrentViewController(); }
};

TEST(ShellMenus, TheMenusComeInOrderWithTheirKeysAndTheDelegateAsTarget) {
  MenuFixture f;
  f.launchApplication();
  auto menu = std::dynamic_pointer_cast<ak::Menu>(f.application->mainMenu());
  ASSERT_TRUE(menu);
  std::vector<std::string> titles;
  for (const auto& item : menu->itemArray()) titles.push_back(item->title());
  EXPECT_EQ(titles,
            (std::vector<std::string>{"Pelorin", "File", "Edit", "Go", "View", "Playback", "Account"}));
  auto delegate = f.application->delegate();
  ASSERT_TRUE(std::dynamic_pointer_cast<PLMAppDelegate>(delegate));
  for (const auto& [top, title] : kDelegateItems) {
    auto item = f.menuItem(top, title);
    ASSERT_TRUE(item) << title;
    EXPECT_EQ(item->target(), delegate) << title;
  }
  auto key = [&](const std::string& top, const std::string& title) {
    auto item = f.menuItem(top, title);
    EXPECT_EQ(item->keyEquivalentModifierMask(), ak::CommandKeyMask) << title;
    return item->keyEquivalent();
  };
  EXPECT_EQ(key("Go", "Back"), "[");
  EXPECT_EQ(key("Go", "Forward"), "]");
  EXPECT_EQ(key("Go", "Current Playlist"), "l");
  EXPECT_EQ(key("Playback", "Short Seek Forward"), ak::functionKeyString(ak::RightArrowFunctionKey));
  EXPECT_EQ(key("Playback", "Short Seek Back"), ak::functionKeyString(ak::LeftArrowFunctionKey));
  // The application object is the one the bundle names.
  EXPECT_EQ(ns::Bundle::mainBundle()->objectForInfoDictionaryKey("NSPrincipalClass").stringValue(),
            "PLMApplication");
  EXPECT_TRUE(isApplicationClassRegistered());
}

TEST(ShellMenus, ItemsFollowTheAccountTheNavigationThePlayerAndTheSearchField) {
  MenuFixture f;
  f.launchApplication();
  EXPECT_TRUE(f.enabled("Account", "Login"));
  EXPECT_FALSE(f.enabled("Account", "Logout\u2026"));
  EXPECT_FALSE(f.enabled("Go", "Back"));
  EXPECT_FALSE(f.enabled("Go", "Forward"));
  EXPECT_FALSE(f.enabled("Go", "Current Playlist"));
  EXPECT_FALSE(f.enabled("Playback", "Short Seek Forward"));
  EXPECT_FALSE(f.enabled("Playback", "Short Seek Back"));
  EXPECT_TRUE(f.enabled("File", "Export Bookmarks\u2026"));
  EXPECT_TRUE(f.enabled("File", "Import Bookmarks\u2026"));
  // Keys of disabled items do nothing and break nothing.
  f.commandKey(33, "[");
  f.commandKey(37, "l");

  // Two lists pushed and one Back (Cmd-[): both ways open.
  auto first = f.openList();
  auto second = f.openList("playlists", "PLother");
  EXPECT_TRUE(f.enabled("Go", "Back"));
  EXPECT_FALSE(f.enabled("Go", "Forward"));
  f.commandKey(33, "[");
  EXPECT_EQ(f.shown(), first);
  EXPECT_TRUE(f.enabled("Go", "Back"));
  EXPECT_TRUE(f.enabled("Go", "Forward"));
  f.commandKey(30, "]");
  EXPECT_EQ(f.shown(), second);

  // Current Playlist once a row plays; Cmd-L brings its list back on show.
  EXPECT_FALSE(f.enabled("Go", "Current Playlist"));
  f.cacheClip(kRowIds[1]);
  ASSERT_TRUE(pltest::pumpUntil([&] { return first->cellArray().size() == 3; }, kWait));
  first->playAtIndex(1);
  EXPECT_TRUE(f.enabled("Go", "Current Playlist"));
  f.commandKey(37, "l");
  EXPECT_EQ(f.shown(), first);

  // Short seek: on with a loaded video, off between enableShortSeek(NO) and YES, off while the
  // search field is edited.
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.ready(); }, kWait));
  EXPECT_TRUE(f.enabled("Playback", "Short Seek Forward"));
  EXPECT_TRUE(f.enabled("Playback", "Short Seek Back"));
  auto delegate = std::dynamic_pointer_cast<PLMAppDelegate>(appDelegate());
  delegate->enableShortSeek(false);
  EXPECT_FALSE(f.enabled("Playback", "Short Seek Forward"));
  EXPECT_FALSE(f.enabled("Playback", "Short Seek Back"));
  delegate->enableShortSeek(true);
  EXPECT_TRUE(f.enabled("Playback", "Short Seek Forward"));
  ASSERT_TRUE(f.window->makeFirstResponder(f.left()->searchField()));
  EXPECT_FALSE(f.enabled("Playback", "Short Seek Forward"));
  EXPECT_FALSE(f.enabled("Playback", "Short Seek Back"));
  f.window->makeFirstResponder(first->tableView());
  EXPECT_TRUE(f.enabled("Playback", "Short Seek Back"));
}

TEST(ShellMenus, CommandArrowsSeekTheLoadedVideoFiveSeconds) {
  MenuFixture f;
  f.launchApplication();
  f.loadVideo();
  EXPECT_FALSE(f.player()->isPlaying());
  f.seekTo(2.0);
  f.commandKey(ak::kVK_RightArrow, ak::functionKeyString(ak::RightArrowFunctionKey));
  EXPECT_TRUE(pltest::pumpUntil([&] { return std::fabs(f.position() - 7.0) <= 0.2; }, kWait)) << f.position();
  f.seekTo(3.0);
  f.commandKey(ak::kVK_LeftArrow, ak::functionKeyString(ak::LeftArrowFunctionKey));
  EXPECT_TRUE(pltest::pumpUntil([&] { return std::fabs(f.position()) <= 0.2; }, kWait)) << f.position();

  // In the search field Command-arrows are the text's: the video stays where it is.
  f.seekTo(4.0);
  auto field = f.left()->searchField();
  ASSERT_TRUE(f.window->makeFirstResponder(field));
  f.commandKey(ak::kVK_RightArrow, ak::functionKeyString(ak::RightArrowFunctionKey));
  pltest::drainMode();
  EXPECT_NEAR(f.position(), 4.0, 0.05);
}

TEST(ShellMenus, WhileASheetIsUpTheDelegatesItemsStandStillButEditAndQuitDoNot) {
  MenuFixture f;
  f.launchApplication();
  auto first = f.openList();
  f.openList("playlists", "PLother");
  f.loadVideo();
  f.seekTo(2.0);
  f.controller->setShowingAlert(true);
  for (const auto& [top, title] : kDelegateItems) EXPECT_FALSE(f.enabled(top, title)) << title;
  auto shownBefore = f.shown();
  f.commandKey(33, "[");
  f.commandKey(ak::kVK_RightArrow, ak::functionKeyString(ak::RightArrowFunctionKey));
  pltest::drainMode();
  EXPECT_EQ(f.shown(), shownBefore);
  EXPECT_NEAR(f.position(), 2.0, 0.05);

  // A sheet's text field still pastes.
  auto sheet = ak::make<ak::Window>(ak::MakeRect(0, 0, 300, 120), ak::TitledWindowMask);
  auto field = ak::make<ak::TextField>(ak::MakeRect(20, 40, 260, 24));
  field->setEditable(true);
  sheet->contentView()->addSubview(field);
  f.application->beginSheet_modalForWindow_modalDelegate_didEndSelector_contextInfo(sheet, f.window, nullptr,
                                                                                    ns::Sel(), nullptr);
  sheet->makeKeyWindow();
  ASSERT_TRUE(sheet->makeFirstResponder(field));
  auto board = ak::Pasteboard::generalPasteboard();
  board->clearContents();
  board->setString_forType("pasted while up", ak::PasteboardTypeString);
  pltest::key(sheet, ak::kVK_ANSI_V, "v", ak::CommandKeyMask);
  f.dispatch();
  EXPECT_EQ(field->stringValue(), "pasted while up");

  // And Cmd-Q quits.
  shelltest::PostCounter willTerminate(ak::ApplicationWillTerminateNotification);
  pltest::key(sheet, 12, "q", ak::CommandKeyMask);
  runApplicationUntilTerminated(f.application);
  EXPECT_TRUE(f.application->hasTerminated());
  EXPECT_EQ(willTerminate.count(), 1);
}

TEST(ShellMenus, ExportAndImportBookmarksGoThroughPanelsOnTheMainWindow) {
  MenuFixture f;
  f.launchApplication();
  DBAccess::getInstance()->addBookmark_startPos_endPos_startEnd("vidMarked01", 12.5f, 0, "s");
  const auto folder = f.app.sandbox().home() / "exports";
  std::filesystem::create_directories(folder);
  {
    pltest::ModalScript script;
    script.saveAs(folder.string(), "pelorin_bookmarks.json");
    ak::Menu::performActionForItem(f.menuItem("File", "Export Bookmarks\u2026"));
    for (int i = 0; i < 4; ++i) {
      pltest::drainMode();
      f.dispatch();
    }
    ASSERT_EQ(script.shownPanels().size(), 1u);
    EXPECT_FALSE(script.shownPanels()[0].open);
    EXPECT_EQ(script.shownPanels()[0].nameFieldStringValue, "pelorin_bookmarks.json");
  }
  std::stringstream text;
  text << std::ifstream(folder / "pelorin_bookmarks.json").rdbuf();
  EXPECT_NE(text.str().find("{\"videoid\":\"vidMarked01\", \"pos1\":12.5, \"pos2\":0, \"startend\":\"s\""),
            std::string::npos)
      << text.str();

  pltest::ModalScript script;
  script.choosePaths({folder.string()});
  script.cancelPanel();
  ak::Menu::performActionForItem(f.menuItem("File", "Import Bookmarks\u2026"));
  for (int i = 0; i < 4; ++i) {
    pltest::drainMode();
    f.dispatch();
  }
  ASSERT_EQ(script.shownPanels().size(), 1u);
  EXPECT_TRUE(script.shownPanels()[0].open);
  EXPECT_EQ(script.shownPanels()[0].refusals.size(), 1u) << script.shownPanels()[0].describe();
  EXPECT_TRUE(script.shownAlerts().empty()) << "a cancelled import reports nothing";
}

TEST(ShellMenus, LogoutAsksFirstAndOnlyLogOutSignsOut) {
  MenuFixture f;
  f.launchSignedIn("a@example.com");
  EXPECT_FALSE(f.enabled("Account", "Login"));
  ASSERT_TRUE(f.enabled("Account", "Logout\u2026"));
  shelltest::PostCounter login(kLoginStateChangedNotification);
  {
    pltest::ModalScript script;
    script.clickAlertButton("Cancel");
    ak::Menu::performActionForItem(f.menuItem("Account", "Logout\u2026"));
    EXPECT_TRUE(f.controller->showingAlert());
    f.dispatch();
    ASSERT_EQ(script.shownAlerts().size(), 1u);
    const auto& alert = script.shownAlerts()[0];
    EXPECT_EQ(alert.messageText, "Do you want to log out?");
    EXPECT_EQ(alert.informativeText, "a@example.com");
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Log Out", "Cancel"}));
    EXPECT_TRUE(alert.sheet);
  }
  EXPECT_FALSE(f.controller->showingAlert());
  EXPECT_TRUE(f.keychainHoldsSignIn());
  EXPECT_TRUE(f.controller->isSignedIn());
  EXPECT_EQ(login.count(), 0);

  {
    pltest::ModalScript script;
    script.clickAlertButton("Log Out");
    ak::Menu::performActionForItem(f.menuItem("Account", "Logout\u2026"));
    f.dispatch();
    ASSERT_EQ(script.shownAlerts().size(), 1u);
  }
  EXPECT_FALSE(f.controller->showingAlert());
  EXPECT_FALSE(f.keychainHoldsSignIn());
  EXPECT_FALSE(f.controller->isSignedIn());
  EXPECT_EQ(login.count(), 1);
  EXPECT_TRUE(f.enabled("Account", "Login"));
  EXPECT_FALSE(f.enabled("Account", "Logout\u2026"));
}

TEST(ShellMenus, ASheetEndedWithoutAnAnswerFreesTheMenusAndSignsNobodyOut) {
  MenuFixture f;
  f.launchSignedIn();
  // Nobody answers: the sheet ends aborted, with a code no button has.
  int offered = 0;
  ak::Alert::setAnswerer([&](const ns::Ref<ak::Alert>&) {
    ++offered;
    return false;
  });
  const bool shown = confirmLogout(f.controller);
  f.dispatch();
  ak::Alert::setAnswerer(nullptr);
  ASSERT_TRUE(shown);
  EXPECT_EQ(offered, 1);
  EXPECT_FALSE(f.window->attachedSheet());
  EXPECT_FALSE(f.controller->showingAlert());
  EXPECT_TRUE(f.controller->isSignedIn());
  EXPECT_TRUE(f.keychainHoldsSignIn());
  EXPECT_TRUE(f.enabled("File", "Export Bookmarks\u2026"));
  EXPECT_TRUE(f.enabled("Account", "Logout\u2026"));
}

TEST(ShellMenus, LoginRunsTheSignInSheetAgainstTheIdentityProvider) {
  MenuFixture f;
  f.launchApplication();
  ASSERT_TRUE(f.enabled("Account", "Login"));
  shelltest::PostCounter login(kLoginStateChangedNotification);
  ak::Menu::performActionForItem(f.menuItem("Account", "Login"));
  auto session = f.controller->signInSession();
  auto title = [&] {
    auto sheet = session->signInController();
    return sheet && sheet->webView()
               ? sheet->webView()->stringByEvaluatingJavaScriptFromString("document.title")
               : std::string();
  };
  ASSERT_TRUE(pltest::pumpUntil([&] { return title() == "Sign in - Example Accounts"; }, kWait)) << title();
  EXPECT_TRUE(f.controller->showingAlert());
  EXPECT_FALSE(f.enabled("Account", "Login")) << "the sheet is up";
  ASSERT_TRUE(session->signInController()->webView()->submitForm("consent", {{"decision", "allow"}}));
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.controller->accountCache() != nullptr; }, kWait));
  EXPECT_TRUE(f.controller->isSignedIn());
  EXPECT_FALSE(f.controller->showingAlert());
  EXPECT_EQ(login.count(), 1);
  EXPECT_TRUE(f.enabled("Account", "Logout\u2026"));
  EXPECT_FALSE(f.enabled("Account", "Login"));
}

}  // namespace

namespace {

TEST(ShellMenus, InTheOwnFullScreenTheLogoutConfirmationHangsOnTheFullScreenWindowAboveIt) {
  MenuFixture f;
  f.launchSignedIn("a@example.com");
  f.commandKey(3, "f");
  auto full = f.controller->fullScreenWindow();
  ASSERT_TRUE(full);
  ASSERT_TRUE(f.controller->isFullScreen());
  ASSERT_TRUE(f.enabled("Account", "Logout\u2026"));
  pltest::ModalScript script;
  bool showingWhileOpen = false;
  ns::Ref<ak::Window> parent;
  script.clickAlertButton("Cancel", [&] {
    showingWhileOpen = f.controller->showingAlert();
    parent = full->attachedSheet() ? full : nullptr;
  });
  ak::Menu::performActionForItem(f.menuItem("Account", "Logout\u2026"));
  f.dispatch();
  ASSERT_EQ(script.shownAlerts().size(), 1u);
  const auto& shown = script.shownAlerts()[0];
  EXPECT_EQ(shown.messageText, "Do you want to log out?");
  EXPECT_TRUE(shown.sheet);
  EXPECT_GE(shown.level, 1000);
  EXPECT_EQ(parent, full);
  EXPECT_FALSE(f.window->attachedSheet());
  EXPECT_TRUE(showingWhileOpen);
  EXPECT_FALSE(f.controller->showingAlert());
  EXPECT_TRUE(f.controller->isSignedIn());
  EXPECT_TRUE(f.controller->isFullScreen());
}

// A refresh token that the provider refuses signs the account out as Logout does, without
// asking: once, with one warning, the open list keeping its rows. Other failures of the token
// endpoint leave the account signed in.
struct RefusedSignIn : ApplicationFixture {
  // Signed in with a three-row list open, its access token about to expire, so that the list's
  // next call asks the provider for a new one.
  void signInWithListOpen() {
    launchSignedIn();
    list = openList();
    // The list's load ends with its rows' channel titles, a call of its own started once the
    // rows' details came: until the own channel's row shows its title, that call may still be
    // on its way, and would ask for a token in the next step's place.
    ASSERT_TRUE(pltest::pumpUntil(
        [&] {
          const auto& rows = list->cellArray();
          return rows.size() == 3 && !list->isFetching() &&
                 std::any_of(rows.begin(), rows.end(), [](const auto& row) { return row->author() == "Me"; });
        },
        kWait));
    ASSERT_TRUE(testsupport::finishAccountServiceCalls());
    auto auth =
        std::dynamic_pointer_cast<NetOAuth2Authentication>(AccountSession::youTubeService()->authorizer());
    ASSERT_TRUE(auth);
    auth->setExpiresIn(30);
    tokenRequests = oauth.tokenRequests().size();
    listCalls = api.callsOf("youtube.playlistItems.list").size();
  }
  // Reloads the list and waits for the reload to end.
  void reload() {
    list->fetch();
    ASSERT_TRUE(pltest::pumpUntil([&] { return !list->isFetching(); }, kWait));
    ASSERT_TRUE(pltest::drainMode());
  }
  // The token requests that the reload's list call made: those since the step began that reached
  // the provider before the call reached the service. The calls the answer sets going (the rows'
  // channel titles) ask for a token of their own once a refresh failed; they are not counted.
  std::optional<std::size_t> tokenRequestsOfTheListCall() const {
    auto calls = api.callsOf("youtube.playlistItems.list");
    if (calls.size() <= listCalls) return std::nullopt;
    auto posts = api.posts();
    if (calls[listCalls].post >= posts.size()) return std::nullopt;
    const std::uint64_t listArrived = posts[calls[listCalls].post].sequence;
    auto tokens = oauth.tokenRequests();
    return static_cast<std::size_t>(
        std::count_if(tokens.begin() + static_cast<std::ptrdiff_t>(tokenRequests), tokens.end(),
                      [&](const auto& token) { return token.sequence < listArrived; }));
  }
  static bool settingsKeyKept() {
    return !ns::UserDefaults::standardUserDefaults()
                ->objectForKey(NetOAuth2WindowController::prefsKeyForName(kKeychainItemName))
                .isNil();
  }

  ns::Ref<YTPlaylistViewController> list;
  std::size_t tokenRequests = 0;
  std::size_t listCalls = 0;
};

TEST(RefusedSignIn, SignsOutAsLogoutDoesOnceAndTheListKeepsItsRows) {
  RefusedSignIn f;
  ASSERT_NO_FATAL_FAILURE(f.signInWithListOpen());
  ASSERT_TRUE(f.settingsKeyKept());
  f.oauth.scriptTokenReply(pltest::FakeReply::json(400, R"({"error": "invalid_grant"})"), 5);
  ns::LogCapture log(true);

  ASSERT_NO_FATAL_FAILURE(f.reload());
  ASSERT_TRUE(pltest::pumpUntil([&] { return !f.controller->isSignedIn(); }, kWait));
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_FALSE(f.keychainHoldsSignIn());
  EXPECT_FALSE(f.settingsKeyKept());
  EXPECT_FALSE(f.controller->accountCache());
  EXPECT_EQ(f.controller->userBtn()->title(), kSignedOutButtonTitle);
  EXPECT_TRUE(f.enabled("Account", "Login"));
  EXPECT_FALSE(f.enabled("Account", "Logout\u2026"));
  // The call that needed the token ended with its error: it did not go out with the expired one.
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.list").size(), f.listCalls);
  EXPECT_TRUE(f.list->fetchFailed());
  EXPECT_EQ(f.list->cellArray().size(), 3u);

  // Later clicks ask the provider nothing.
  ASSERT_NO_FATAL_FAILURE(f.reload());
  EXPECT_EQ(f.oauth.tokenRequests().size() - f.tokenRequests, 1u);
  EXPECT_EQ(f.list->cellArray().size(), 3u);

  std::vector<std::string> warnings;
  for (const auto& line : log.lines())
    if (line.level >= ns::LogLevel::Warning) warnings.push_back(line.message);
  ASSERT_EQ(warnings.size(), 1u) << ::testing::PrintToString(warnings);
  EXPECT_NE(warnings[0].find("a@example.com"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[0].find("expired"), std::string::npos) << warnings[0];

  // The next launch reads no sign-in.
  AccountSession::youTubeService()->setAuthorizer(nullptr);
  f.controller->signInSession()->initYoutube();
  EXPECT_FALSE(f.controller->isSignedIn());
  EXPECT_EQ(f.oauth.tokenRequests().size() - f.tokenRequests, 1u);
}

TEST(RefusedSignIn, AFailingTokenEndpointLeavesTheAccountSignedIn) {
  RefusedSignIn f;
  ASSERT_NO_FATAL_FAILURE(f.signInWithListOpen());
  // A server error, then no server at all.
  f.oauth.scriptTokenReply(pltest::FakeReply::json(500, R"({"error": "backend_error"})"));
  ASSERT_NO_FATAL_FAILURE(f.reload());
  EXPECT_EQ(f.tokenRequestsOfTheListCall(), 1u);
  f.oauth.server().stop();
  ASSERT_NO_FATAL_FAILURE(f.reload());

  EXPECT_TRUE(f.controller->isSignedIn());
  EXPECT_TRUE(f.keychainHoldsSignIn());
  EXPECT_TRUE(f.settingsKeyKept());
  ASSERT_TRUE(f.controller->accountCache());
  EXPECT_EQ(f.controller->userBtn()->title(), "a@example.com \u25BE ");
  EXPECT_FALSE(f.enabled("Account", "Login"));
  EXPECT_EQ(f.list->cellArray().size(), 3u);
}

}  // namespace
