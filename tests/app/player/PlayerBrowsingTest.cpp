// The player reaches the list it plays from only through the installed browsing interface: the
// bar's buttons and the end of a video go to its current playlist, whatever implements it.
#include "app/player/PlayerControlBar.h"
#include "platform/appkit/Button.h"
#include "tests/app/player/PlayerTestKit.h"
#include "tests/support/FakeBrowsingInterface.h"

namespace playertest {
namespace {

using Calls = std::vector<std::string>;

TEST_F(PlayerFixture, TheBarAndTheEndOfAVideoGoToTheInstalledCurrentPlaylist) {
  auto bar = controller->controlBar();
  ASSERT_TRUE(bar);
  auto browsing = ns::make<testsupport::FakeBrowsingInterface>();
  {
    // Without an interface, or with no current playlist, the buttons have nothing to move through.
    testsupport::ScopedBrowsingInterface none(nullptr);
    bar->nextBtn()->performClick(nullptr);
    bar->prevBtn()->performClick(nullptr);
  }
  testsupport::ScopedBrowsingInterface installed(browsing);
  bar->nextBtn()->performClick(nullptr);
  auto list = std::static_pointer_cast<testsupport::FakePlaylistViewController>(
      browsing->getPlaylistViewController("Clips", "search_relevance", "clips"));
  browsing->setCurrentPlaylist(list);
  bar->nextBtn()->performClick(nullptr);
  bar->prevBtn()->performClick(nullptr);
  EXPECT_EQ(list->calls(), (Calls{"nextTrack(sender)", "prevTrack(sender)"}));

  // At the end of a video: without repeat the list may stop at its end (no sender); with repeat
  // all it goes on from its first row (the player is the sender).
  struct Case {
    int repeatType;
    const char* videoId;
    const char* call;
  };
  for (const Case& c : {Case{0, "endJ0", "nextTrack"}, Case{1, "endJ1", "nextTrack(sender)"}}) {
    SCOPED_TRACE(c.videoId);
    auto answers = main->answers();
    answers.repeatType = c.repeatType;
    main->setAnswers(answers);
    ASSERT_NO_FATAL_FAILURE(cacheClip(c.videoId, 1));
    std::size_t before = list->calls().size();
    controller->loadVideo(row(c.videoId));
    controller->play();
    ASSERT_TRUE(pltest::pumpUntil([&] { return list->calls().size() > before; }, kWait));
    EXPECT_EQ(list->calls().back(), c.call);
  }
}

}  // namespace
}  // namespace playertest
