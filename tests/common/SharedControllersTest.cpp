// The process-wide controllers: installing and restoring them, the doubles' answers and
// records, and reading the player's video from other threads while it changes.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "common/IAppDelegate.h"
#include "common/IMainWindowController.h"
#include "common/IPlayerViewController.h"
#include "tests/support/FakeAppDelegate.h"
#include "tests/support/FakeMainWindowController.h"
#include "tests/support/FakePlayerViewController.h"
#include "tests/support/ScopedController.h"

namespace {

using testsupport::FakeAppDelegate;
using testsupport::FakeMainWindowController;
using testsupport::FakePlayerViewController;

TEST(SharedControllersTest, InstallersPutThePreviousObjectBack) {
  EXPECT_EQ(mainWindowController(), nullptr);
  EXPECT_EQ(playerViewController(), nullptr);
  EXPECT_EQ(appDelegate(), nullptr);

  auto outerWindow = ns::make<FakeMainWindowController>();
  auto innerWindow = ns::make<FakeMainWindowController>();
  auto player = ns::make<FakePlayerViewController>();
  auto delegate = ns::make<FakeAppDelegate>();
  {
    testsupport::ScopedMainWindowController outer(outerWindow);
    testsupport::ScopedPlayerViewController installedPlayer(player);
    testsupport::ScopedAppDelegate installedDelegate(delegate);
    EXPECT_EQ(mainWindowController(), outerWindow);
    {
      testsupport::ScopedMainWindowController inner(innerWindow);
      EXPECT_EQ(mainWindowController(), innerWindow);
    }
    EXPECT_EQ(mainWindowController(), outerWindow);
    EXPECT_EQ(playerViewController(), player);
    EXPECT_EQ(appDelegate(), delegate);
  }
  EXPECT_EQ(mainWindowController(), nullptr);
  EXPECT_EQ(playerViewController(), nullptr);
  EXPECT_EQ(appDelegate(), nullptr);
  // The process-wide references held strong references, and let them go.
  EXPECT_EQ(outerWindow.use_count(), 1);
  EXPECT_EQ(player.use_count(), 1);
}

TEST(SharedControllersTest, DoublesAnswerWhatIsSetAndRecordTheirCalls) {
  auto window = ns::make<FakeMainWindowController>();
  testsupport::ScopedMainWindowController installedWindow(window);
  FakeMainWindowController::Answers answers;
  answers.fullScreen = true;
  answers.signedIn = true;
  answers.repeatType = 2;
  answers.shuffleMode = 1;
  window->setAnswers(answers);

  auto shell = mainWindowController();
  EXPECT_TRUE(shell->isFullScreen());
  EXPECT_FALSE(shell->currentFullScreenLion());
  EXPECT_TRUE(shell->isSignedIn());
  EXPECT_EQ(shell->repeatType(), 2);
  EXPECT_EQ(shell->shuffleMode(), 1);
  EXPECT_EQ(shell->accountCache(), nullptr);
  EXPECT_FALSE(shell->showingAlert());
  shell->setShowingAlert(true);
  EXPECT_TRUE(shell->showingAlert());
  shell->showLeftView(true);
  shell->signInClicked(nullptr);
  shell->onExportBookmarks();
  EXPECT_EQ(window->calls(), (std::vector<std::string>{"setShowingAlert(YES)", "showLeftView(YES)",
                                                       "signInClicked", "onExportBookmarks"}));

  auto player = ns::make<FakePlayerViewController>();
  testsupport::ScopedPlayerViewController installedPlayer(player);
  EXPECT_EQ(playerViewController()->videoId(), std::nullopt);
  player->setVideoId(std::string("abc"));
  player->setBookmarksVisible(true);
  EXPECT_EQ(playerViewController()->videoId(), "abc");
  EXPECT_TRUE(playerViewController()->bookmarksVisible());
  playerViewController()->updateVideoUrlIfNeeded("abc");
  playerViewController()->showOSD("Saved");
  playerViewController()->stopVideo();
  EXPECT_EQ(player->calls(),
            (std::vector<std::string>{"updateVideoUrlIfNeeded(abc)", "showOSD(Saved)", "stopVideo"}));

  auto delegate = ns::make<FakeAppDelegate>();
  testsupport::ScopedAppDelegate installedDelegate(delegate);
  appDelegate()->enableShortSeek(false);
  EXPECT_FALSE(delegate->shortSeekEnabled());
  appDelegate()->onImportBookmarks(nullptr);
  EXPECT_EQ(delegate->calls(), (std::vector<std::string>{"enableShortSeek(NO)", "onImportBookmarks"}));
  EXPECT_TRUE(appDelegate()->isRunningMavericksOrHigher());  // the default emulated system, 10.10.5
  delegate->setRunningMavericksOrHigher(false);
  EXPECT_FALSE(appDelegate()->isRunningMavericksOrHigher());
}

// Readers on other threads, as the media server's queue reads the player's video, while the
// main thread changes it and replaces the player: each answer is an id that was set.
TEST(SharedControllersTest, ThePlayersVideoIdIsReadSafelyWhileItChanges) {
  constexpr int kChanges = 100000;
  constexpr int kReaders = 4;
  auto isSetId = [](const std::optional<std::string>& id) {
    if (!id || id->size() < 2 || (*id)[0] != 'v') return false;
    int n = 0;
    for (std::size_t i = 1; i < id->size(); ++i) {
      if ((*id)[i] < '0' || (*id)[i] > '9') return false;
      n = n * 10 + ((*id)[i] - '0');
      if (n >= kChanges) return false;
    }
    return std::to_string(n) == id->substr(1);
  };

  auto first = ns::make<FakePlayerViewController>();
  first->setVideoId(std::string("v0"));
  testsupport::ScopedPlayerViewController installed(first);

  std::atomic<bool> done{false};
  std::atomic<long> reads{0};
  std::atomic<long> bad{0};
  std::latch started(kReaders + 1);
  std::vector<std::thread> readers;
  for (int r = 0; r < kReaders; ++r) {
    readers.emplace_back([&] {
      started.arrive_and_wait();
      do {
        auto player = playerViewController();
        if (!player || !isSetId(player->videoId())) bad++;
        reads++;
      } while (!done.load());
    });
  }
  started.arrive_and_wait();

  auto player = first;
  for (int i = 1; i < kChanges; ++i) {
    if (i == kChanges / 3 || i == 2 * kChanges / 3) {
      // Replace the player; the old one goes as soon as no reader holds it.
      auto next = ns::make<FakePlayerViewController>();
      next->setVideoId("v" + std::to_string(i));
      setPlayerViewController(next);
      player = next;
      continue;
    }
    player->setVideoId("v" + std::to_string(i));
  }
  done = true;
  for (auto& reader : readers) reader.join();

  EXPECT_EQ(bad.load(), 0);
  EXPECT_GE(reads.load(), kReaders);
  EXPECT_EQ(playerViewController()->videoId(), "v" + std::to_string(kChanges - 1));
  EXPECT_EQ(first.use_count(), 1);  // the replaced player was let go
}

}  // namespace
