// The application object's own keys, in process on a list of three videos from the fake Data
// API with their clips in the media cache: Return, F2 and Cmd-D while the list's table is first
// responder, the media keys on the real player and the play queue, and the suggestions closing
// when the application resigns active.
#include <gtest/gtest.h>

#include <cmath>

#include "app/shell/RenameVideoSheet.h"
#include "app/shell/ShellKeys.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/TextField.h"
#include "tests/app/shell/ApplicationTestSupport.h"
#include "ui/BubblePopover.h"
#include "ui/MySearchField.h"

namespace {

using shelltest::ApplicationFixture;
using shelltest::kRowIds;
using shelltest::kWait;

// Counts the key-downs of one key code that reach the application's own dispatch.
class KeyDownsSeen {
 public:
  explicit KeyDownsSeen(unsigned short code) {
    monitor_ = ak::Event::addLocalMonitorForEventsMatchingMask_handler(
        ak::KeyDownMask, [this, code](const ns::Ref<ak::Event>& event) {
          if (event->keyCode() == code) ++count_;
          return event;
        });
  }
  ~KeyDownsSeen() { ak::Event::removeMonitor(monitor_); }
  int count() const { return count_; }

 private:
  ns::Ref<ns::Object> monitor_;
  int count_ = 0;
};

void pressReturn(ApplicationFixture& f) {
  f.press(ak::kVK_Return, "\r");
}

std::vector<testsupport::DataAPICall> callsWith(ApplicationFixture& f, const std::string& method,
                                                const std::string& text) {
  std::vector<testsupport::DataAPICall> found;
  for (const auto& call : f.api.callsOf(method))
    if (call.callJSON.find(text) != std::string::npos) found.push_back(call);
  return found;
}

TEST(ApplicationKeys, TheListsKeysPlayTheRowAndAddToAndRemoveFromTheFavourites) {
  ApplicationFixture f;
  // The favourites hold one video already, so that the account keeps a copy of them.
  f.api.seed("playlistItems",
             {R"({"kind": "youtube#playlistItem", "id": "PI_fav", "snippet": {"playlistId": )"
              R"("FLme", "title": "Kept", "resourceId": {"kind": "youtube#video", )"
              R"("videoId": "favVideo000"}}})"});
  f.launchSignedIn();
  f.openList("playlists", "FLme");
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return f.controller->accountCache()->hasPlaylistCache_withId("playlists", "FLme"); }, kWait));
  auto list = f.openKeysList(1);

  pressReturn(f);
  EXPECT_EQ(f.loaded(), kRowIds[1]);
  EXPECT_EQ(currentPlaylistController(), list);
  EXPECT_EQ(list->playIndex(), 1);

  // Cmd-D: the insert into the favourites, then the delete of the entry it made.
  f.press(2, "d", ak::CommandKeyMask);
  EXPECT_EQ(f.message(), "added to Favorites");
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return callsWith(f, "youtube.playlistItems.insert", "\"" + kRowIds[1] + "\"").size() == 1; },
      kWait));
  EXPECT_NE(f.api.callsOf("youtube.playlistItems.insert")[0].callJSON.find("\"FLme\""), std::string::npos);
  // Its new item id is stored with the account's copy of the favourites.
  std::optional<std::string> itemId;
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        auto stored = f.controller->accountCache()->getPlaylistCache_withId("playlists", "FLme");
        for (const ns::Value& value : stored.value_or(ns::Array())) {
          auto entry = value.objectAs<SearchEntry>();
          if (entry && entry->videoid() == kRowIds[1] && entry->playlistItemId())
            itemId = entry->playlistItemId();
        }
        return itemId.has_value();
      },
      kWait));
  f.press(2, "d", ak::CommandKeyMask);
  EXPECT_EQ(f.message(), "removed from Favorites");
  ASSERT_TRUE(pltest::pumpUntil(
      [&] { return callsWith(f, "youtube.playlistItems.delete", "\"" + *itemId + "\"").size() == 1; },
      kWait));
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.insert").size(), 1u);

  // F2: another channel's video is not the user's to rename, so the key goes on to the table;
  // the account's own video takes it.
  {
    KeyDownsSeen f2(shellkeys::kF2KeyCode);
    f.press(shellkeys::kF2KeyCode, ak::functionKeyString(shellkeys::kF2Character));
    EXPECT_EQ(f2.count(), 1);
    EXPECT_EQ(f.window->firstResponder(), std::static_pointer_cast<ak::Responder>(list->tableView()));
    f.select(list, 0);
    f.press(shellkeys::kF2KeyCode, ak::functionKeyString(shellkeys::kF2Character));
    EXPECT_EQ(f2.count(), 1);
    // It opens the Rename Video sheet on the main window, holding the row's title.
    auto sheet = f.controller->renameVideoSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->parentWindow(), f.window);
    EXPECT_EQ(f.window->attachedSheet(), sheet->window());
    EXPECT_EQ(sheet->titleField()->stringValue(), list->cellArray()[0]->title());
    EXPECT_TRUE(f.controller->showingAlert());
    pltest::key(sheet->window(), ak::kVK_Escape, "\x1b");
    f.dispatch();
    EXPECT_FALSE(f.controller->renameVideoSheet());
    EXPECT_FALSE(f.controller->showingAlert());
    EXPECT_TRUE(f.api.callsOf("youtube.videos.update").empty());
  }

  // While a share or a sheet is up, Return does nothing; afterwards it plays again.
  f.select(list, 2);
  setSharingSheetActive(true);
  pressReturn(f);
  EXPECT_EQ(f.loaded(), kRowIds[1]);
  setSharingSheetActive(false);
  f.controller->setShowingAlert(true);
  pressReturn(f);
  EXPECT_EQ(f.loaded(), kRowIds[1]);
  f.controller->setShowingAlert(false);
  f.press(shellkeys::kKeypadEnterKeyCode, "\x03");  // Enter plays as Return does
  EXPECT_EQ(f.loaded(), kRowIds[2]);

  // Typed into the search field, Return searches.
  auto field = f.left()->searchField();
  ASSERT_TRUE(f.window->makeFirstResponder(field));
  pltest::typeText(f.window, "cats");
  f.dispatch();
  pressReturn(f);
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        auto shown =
            std::dynamic_pointer_cast<YTPlaylistViewController>(f.navigation()->getCurrentViewController());
        return shown && shown->requestId() == "cats";
      },
      kWait));
  EXPECT_EQ(f.loaded(), kRowIds[2]);
  EXPECT_EQ(f.api.callsOf("youtube.playlistItems.insert").size(), 1u);
}

TEST(ApplicationKeys, MediaKeysPlayPauseStepThroughTheQueueAndSeek) {
  ApplicationFixture f;
  f.launchApplication();
  // Before anything plays: no video, no current playlist.
  f.mediaKey(shellkeys::kMediaKeyPlay);
  f.mediaKey(shellkeys::kMediaKeyNext);
  f.mediaKey(shellkeys::kMediaKeyFast);
  EXPECT_FALSE(f.loaded());
  EXPECT_FALSE(currentPlaylistController());

  auto list = f.openKeysList(1);
  pressReturn(f);
  auto rate = [&] { return f.player()->player()->rate(); };
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.ready() && rate() == 1; }, kWait));
  f.mediaKey(shellkeys::kMediaKeyPlay);
  EXPECT_EQ(rate(), 0);
  f.mediaKey(shellkeys::kMediaKeyPlay);
  EXPECT_EQ(rate(), 1);
  f.mediaKey(shellkeys::kMediaKeyPlay, shellkeys::kMediaKeyUp);
  EXPECT_EQ(rate(), 1) << "a key-up does nothing";

  f.mediaKey(shellkeys::kMediaKeyNext);
  EXPECT_EQ(f.loaded(), kRowIds[2]);
  f.mediaKey(shellkeys::kMediaKeyNext, shellkeys::kMediaKeyUp);
  EXPECT_EQ(f.loaded(), kRowIds[2]);
  f.mediaKey(shellkeys::kMediaKeyPrevious);
  EXPECT_EQ(f.loaded(), kRowIds[1]);
  EXPECT_EQ(list->playIndex(), 1);

  // Fast, paused so that the clock does not move the video meanwhile.
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.ready() && rate() == 1; }, kWait));
  f.mediaKey(shellkeys::kMediaKeyPlay);
  ASSERT_EQ(rate(), 0);
  const double before = f.position();
  f.mediaKey(shellkeys::kMediaKeyFast);
  EXPECT_TRUE(pltest::pumpUntil([&] { return std::fabs(f.position() - (before + 5)) <= 0.2; }, kWait))
      << before << " -> " << f.position();
  f.mediaKey(shellkeys::kMediaKeyRewind);
  EXPECT_TRUE(pltest::pumpUntil([&] { return std::fabs(f.position() - before) <= 0.2; }, kWait))
      << before << " -> " << f.position();

  // While a sheet is up the keys stand still.
  f.controller->setShowingAlert(true);
  f.mediaKey(shellkeys::kMediaKeyNext);
  f.mediaKey(shellkeys::kMediaKeyPlay);
  EXPECT_EQ(f.loaded(), kRowIds[1]);
  EXPECT_EQ(rate(), 0);
  f.controller->setShowingAlert(false);

  // Without a current playlist next does nothing.
  setCurrentPlaylistController(nullptr);
  f.mediaKey(shellkeys::kMediaKeyNext);
  f.mediaKey(shellkeys::kMediaKeyPrevious);
  EXPECT_EQ(f.loaded(), kRowIds[1]);
  // Other system-defined events go on as before.
  pltest::post(
      ak::Event::otherEventWithType_location_modifierFlags_timestamp_windowNumber_context_subtype_data1_data2(
          ak::EventType::SystemDefined, {}, 0, ns::Clock::now(), 0, nullptr, 7,
          shellkeys::mediaKeyData1(shellkeys::kMediaKeyNext, shellkeys::kMediaKeyDown), -1));
  f.dispatch();
  EXPECT_EQ(f.loaded(), kRowIds[1]);
}

TEST(ApplicationKeys, TheSuggestionsCloseWhenTheApplicationResignsActive) {
  ApplicationFixture f;
  f.launchApplication();
  auto popover = f.left()->autoCompletePopover();
  ASSERT_TRUE(popover);
  popover->displayPopoverInWindow_atPoint(f.window, ak::Point{100, 300});
  ASSERT_TRUE(popover->isVisible());
  f.application->deactivate();
  EXPECT_TRUE(pltest::pumpUntil([&] { return !popover->isVisible(); }, kWait));
  // Active again and resigning once more with nothing shown breaks nothing.
  f.application->activateIgnoringOtherApps(true);
  f.application->deactivate();
  EXPECT_FALSE(popover->isVisible());
}

}  // namespace
