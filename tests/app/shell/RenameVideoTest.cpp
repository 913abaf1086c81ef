// The Rename Video sheet in process against the fake Data API: it hangs on the window sheets go
// to with the old title selected, Return renames through videos.list and videos.update and the
// open list reads the new title; every way it ends clears showingAlert; the user's text is
// cleaned and reaches the service only as a JSON string.
#include <gtest/gtest.h>

#include "app/browse/LeftViewController.h"
#include "app/browse/PelNavigationController.h"
#include "app/library/AccountCache.h"
#include "app/shell/RenameVideoSheet.h"
#include "app/youtube/SearchEntry.h"
#include "common/IBrowsingInterface.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextView.h"
#include "platform/foundation/NotificationCenter.h"
#include "tests/app/shell/SignedInShellTestSupport.h"

namespace {

using shelltest::AccountLaunch;

constexpr char kVideo[] = R"({"kind": "youtube#video", "id": "vidR", "snippet": {"title": "Old title",
    "channelId": "UCme", "description": "", "thumbnails": {}}})";
constexpr char kUpload[] =
    R"({"kind": "youtube#playlistItem", "id": "PIvidR", "snippet": {"playlistId": "UUme",
    "title": "Old title", "description": "", "thumbnails": {},
    "resourceId": {"kind": "youtube#video", "videoId": "vidR"}}, "contentDetails": {"videoId": "vidR"}})";

struct RenameShell : AccountLaunch {
  // Signed in, with the account's uploads open in the left pane, as the Data API lists them.
  void signInWithListOpen() {
    keepSignIn("a@example.com");
    api.seed("videos", {kVideo});
    api.seed("playlistItems", {kUpload});
    launch();
    ASSERT_TRUE(pltest::pumpUntil([&] { return controller->accountCache() != nullptr; }, 60));
    list = std::dynamic_pointer_cast<YTPlaylistViewController>(
        getPlaylistViewController("Uploads", "playlists", "UUme"));
    ASSERT_TRUE(list);
    controller->leftViewController()->navigationController()->pushViewController_animated(list, false);
    ASSERT_TRUE(pltest::pumpUntil([&] { return !list->cellArray().empty(); }, 60));
    row = list->cellArray()[0];
    ASSERT_EQ(row->videoid(), std::optional<std::string>("vidR"));
    ASSERT_EQ(row->title(), "Old title");
    ASSERT_EQ(browsingInterface()->getVisiblePlaylistViewController(),
              std::static_pointer_cast<IPlaylistViewController>(list));
  }
  ns::Ref<RenameVideoSheet> open() {
    controller->onShowRenameVideo(row);
    return controller->renameVideoSheet();
  }
  void type(const ns::Ref<RenameVideoSheet>& sheet, const std::string& text) {
    pltest::typeText(sheet->window(), text);
    app.dispatchQueued();
  }
  void press(const ns::Ref<ak::Window>& window, unsigned short code, const std::string& characters,
             unsigned long flags = 0) {
    pltest::key(window, code, characters, flags);
    app.dispatchQueued();
  }

  ns::Ref<YTPlaylistViewController> list;
  ns::Ref<SearchEntry> row;
};

TEST(RenameVideo, ReturnRenamesThroughTheDataAPIAndTheOpenListReadsTheNewTitle) {
  RenameShell f;
  f.signInWithListOpen();
  auto main = f.controller;
  auto sheet = f.open();
  ASSERT_TRUE(sheet);
  auto sheetWindow = sheet->window();
  EXPECT_EQ(sheet->parentWindow(), main->window());
  EXPECT_EQ(main->window()->attachedSheet(), sheetWindow);
  EXPECT_TRUE(main->showingAlert());
  auto field = sheet->titleField();
  EXPECT_EQ(field->stringValue(), "Old title");
  auto editor = field->currentEditor();
  ASSERT_TRUE(editor) << "the field is being edited";
  EXPECT_EQ(editor->selectedRange().location, 0u);
  EXPECT_EQ(editor->selectedRange().length, 9u);
  bool labelled = false;
  for (const auto& view : sheetWindow->contentView()->subviews())
    if (auto text = std::dynamic_pointer_cast<ak::TextField>(view); text && !text->isEditable())
      labelled = labelled || text->stringValue() == "Rename Video";
  EXPECT_TRUE(labelled);
  EXPECT_EQ(sheet->renameButton()->title(), "Rename");
  EXPECT_EQ(sheet->cancelButton()->title(), "Cancel");

  // Meanwhile the window's keys stand still: Cmd-F is not taken, and a second sheet is refused.
  f.press(sheetWindow, 3, "f", ak::CommandKeyMask);
  EXPECT_FALSE(main->isFullScreen());
  main->onShowRenameVideo(f.row);
  EXPECT_EQ(main->renameVideoSheet(), sheet);

  f.type(sheet, "New title");
  EXPECT_EQ(field->stringValue(), "New title");
  f.press(sheetWindow, ak::kVK_Return, "\r");
  EXPECT_FALSE(main->showingAlert());
  EXPECT_FALSE(main->renameVideoSheet());
  EXPECT_FALSE(main->window()->attachedSheet());
  EXPECT_FALSE(sheetWindow->isVisible());
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.row->title() == "New title"; }, 60));
  // The rename's own request (the list's details ask for more parts): the video's snippet among
  // the account's.
  std::vector<testsupport::DataAPICall> lists;
  for (const auto& call : f.api.callsOf("youtube.videos.list"))
    if (call.params["part"] == ns::Value("snippet")) lists.push_back(call);
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_EQ(lists[0].params["id"], ns::Value("vidR"));
  EXPECT_EQ(lists[0].params["mine"], ns::Value(true));
  auto updates = f.api.callsOf("youtube.videos.update");
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].params["resource"]["snippet"]["title"], ns::Value("New title"));
  EXPECT_EQ(updates[0].params["resource"]["id"], ns::Value("vidR"));
}

TEST(RenameVideo, EveryOtherEndingSendsNothingAndClearsTheFlag) {
  RenameShell f;
  f.signInWithListOpen();
  auto main = f.controller;

  // Escape cancels.
  auto sheet = f.open();
  ASSERT_TRUE(sheet);
  f.type(sheet, "Another");
  f.press(sheet->window(), ak::kVK_Escape, "\x1b");
  EXPECT_FALSE(main->showingAlert());
  EXPECT_FALSE(main->renameVideoSheet());

  // Blank text leaves Rename disabled, and Return does nothing then.
  sheet = f.open();
  ASSERT_TRUE(sheet);
  f.type(sheet, "   ");
  EXPECT_FALSE(sheet->renameButton()->isEnabled());
  f.press(sheet->window(), ak::kVK_Return, "\r");
  EXPECT_TRUE(main->showingAlert());
  // Return ended the edit; a click in the field starts another.
  sheet->window()->makeFirstResponder(sheet->titleField());
  f.type(sheet, "x");
  EXPECT_TRUE(sheet->renameButton()->isEnabled());
  // The same title, once trimmed: the sheet ends and nothing is sent.
  sheet->titleField()->setStringValue("  Old title \n");
  sheet->onRename(nullptr);
  EXPECT_FALSE(main->showingAlert());

  // Termination ends it.
  sheet = f.open();
  ASSERT_TRUE(sheet);
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(
      ak::ApplicationWillTerminateNotification, f.app.app());
  EXPECT_FALSE(main->showingAlert());
  EXPECT_FALSE(sheet->isOpen());

  // Closing the window it hangs on ends it.
  sheet = f.open();
  ASSERT_TRUE(sheet);
  auto window = main->window();
  window->close();
  EXPECT_FALSE(main->showingAlert());
  EXPECT_FALSE(main->renameVideoSheet());
  EXPECT_FALSE(sheet->window()->isVisible());
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_TRUE(f.api.callsOf("youtube.videos.update").empty());
  EXPECT_EQ(f.row->title(), "Old title");
}

TEST(RenameVideo, TheUsersTextIsCleanedAndSentAsAJSONString) {
  RenameShell f;
  f.signInWithListOpen();
  auto sheet = f.open();
  ASSERT_TRUE(sheet);
  const std::string typed = "  \"Quoted\" \\ {\"title\": 1},\n\tpasted\x7f  ";
  sheet->titleField()->setStringValue(typed);
  sheet->onRename(nullptr);
  ASSERT_TRUE(pltest::pumpUntil([&] { return !f.api.callsOf("youtube.videos.update").empty(); }, 60));
  EXPECT_EQ(f.api.callsOf("youtube.videos.update")[0].params["resource"]["snippet"]["title"],
            ns::Value(std::string("\"Quoted\" \\ {\"title\": 1},  pasted")));

  EXPECT_EQ(cleanVideoTitle(" \r\n "), "");
  EXPECT_EQ(cleanVideoTitle("a\x01"
                            "b\xc2\x85"
                            "c"),
            "a b c");
  EXPECT_EQ(cleanVideoTitle("caf\xc3\xa9 \xe2\x80\x94 ok"), "caf\xc3\xa9 \xe2\x80\x94 ok");
}

TEST(RenameVideo, SignedOutByTheTimeOfRenameNothingIsSent) {
  RenameShell f;
  f.signInWithListOpen();
  auto sheet = f.open();
  ASSERT_TRUE(sheet);
  f.controller->setAccountCache(nullptr);
  f.type(sheet, "New title");
  f.press(sheet->window(), ak::kVK_Return, "\r");
  EXPECT_FALSE(f.controller->showingAlert());
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_TRUE(f.api.callsOf("youtube.videos.update").empty());
  // A row without a video id opens nothing.
  auto channel = SearchEntry::init();
  f.controller->onShowRenameVideo(channel);
  f.controller->onShowRenameVideo(nullptr);
  EXPECT_FALSE(f.controller->renameVideoSheet());
  EXPECT_FALSE(f.controller->showingAlert());
}

TEST(RenameVideo, InTheOwnFullScreenTheSheetHangsOnTheFullScreenWindow) {
  RenameShell f;
  f.signInWithListOpen();
  auto main = f.controller;
  main->onToggleFullScreen(nullptr);
  auto full = main->fullScreenWindow();
  ASSERT_TRUE(full);
  auto sheet = f.open();
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->parentWindow(), full);
  EXPECT_EQ(full->attachedSheet(), sheet->window());
  EXPECT_GE(sheet->window()->level(), full->level());
  f.press(sheet->window(), ak::kVK_Escape, "\x1b");
  EXPECT_FALSE(main->showingAlert());
  EXPECT_TRUE(main->isFullScreen()) << "Escape went to the sheet";
}

}  // namespace
