// The account at launch, in process against the fake identity provider and the fake Data API:
// a stored sign-in is restored on the turn after the window loaded and names the user button;
// without one, nothing is asked of either service.
#include <gtest/gtest.h>

#include "platform/appkit/Button.h"
#include "tests/app/shell/SignedInShellTestSupport.h"

namespace {

using shelltest::AccountLaunch;

TEST(AccountAtLaunch, AStoredSignInNamesTheUserButtonAndAsksForTheAccountsLists) {
  AccountLaunch f;
  f.keepSignIn("a@example.com");
  f.launch();
  auto button = f.controller->userBtn();
  ASSERT_TRUE(pltest::pumpUntil([&] { return button->title() == "a@example.com \u25BE "; }, 60));
  EXPECT_TRUE(f.controller->isSignedIn());
  EXPECT_TRUE(f.controller->accountCache());
  EXPECT_TRUE(f.controller->videoInPlaylistCache());
  ASSERT_TRUE(pltest::pumpUntil(
      [&] {
        return !f.api.callsOf("youtube.channels.list").empty() &&
               !f.api.callsOf("youtube.playlists.list").empty();
      },
      60));
  for (const auto& call : f.api.callsOf("youtube.playlists.list"))
    EXPECT_EQ(call.headers.get("Authorization").value_or("").rfind("Bearer ", 0), 0u);
}

TEST(AccountAtLaunch, WithoutOneNeitherServiceIsAskedAndTheButtonSaysSo) {
  AccountLaunch f;
  f.launch();
  ASSERT_TRUE(pltest::drainMode());
  EXPECT_EQ(f.controller->initYoutubeCount(), 1);
  EXPECT_EQ(f.controller->userBtn()->title(), "not logged in \u25BE ");
  EXPECT_FALSE(f.controller->isSignedIn());
  EXPECT_FALSE(f.controller->accountCache());
  EXPECT_EQ(f.oauth.server().requestCount(), 0u);
  EXPECT_EQ(f.api.postCount(), 0u);
}

}  // namespace
