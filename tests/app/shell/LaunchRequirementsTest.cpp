// What a launch checks of the platform below it: which missing part is named, on screen and
// headless, and what this process really has.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/shell/Launch.h"
#include "platform/web/WebView.h"

namespace {

LaunchRequirements requirements(bool onScreen, bool presenter, bool webViewFactory,
                                std::optional<std::string> playerEngineProblem = std::nullopt) {
  LaunchRequirements r;
  r.onScreen = onScreen;
  r.presenter = presenter;
  r.webViewFactory = webViewFactory;
  r.playerEngineProblem = std::move(playerEngineProblem);
  return r;
}

TEST(LaunchRequirements, EachMissingPartIsNamedAndHeadlessRunsNeedNoWebEngine) {
  const auto complete = requirements(true, true, true);
  EXPECT_TRUE(missingLaunchRequirements(complete).empty());

  auto noPresenter = complete;
  noPresenter.presenter = false;
  auto lines = missingLaunchRequirements(noPresenter);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("no on-screen presenter is installed"), std::string::npos) << lines[0];

  auto noWebEngine = complete;
  noWebEngine.webViewFactory = false;
  lines = missingLaunchRequirements(noWebEngine);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("no on-screen web engine is installed"), std::string::npos) << lines[0];

  auto noPlayer = complete;
  noPlayer.playerEngineProblem = "The media engine could not be started.";
  lines = missingLaunchRequirements(noPlayer);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "pelorin: the player's media engine cannot be created (The media engine could not be started.): "
            "no video can play");

  // All three at once, each on its own line.
  EXPECT_EQ(missingLaunchRequirements(requirements(true, false, false, "x")).size(), 3u);

  // Headless: no presenter and no web engine is wanted; the player still is.
  EXPECT_TRUE(missingLaunchRequirements(requirements(false, false, false)).empty());
  EXPECT_EQ(missingLaunchRequirements(requirements(false, false, false, "x")).size(), 1u);
}

TEST(LaunchRequirements, ThisProcessHasAMediaEngineAndReportsTheWebFactoryAsInstalled) {
  const char* argv[] = {"pelorin", "--headless"};
  auto current = currentLaunchRequirements(2, argv);
  EXPECT_FALSE(current.onScreen);
  EXPECT_FALSE(current.presenter);
  EXPECT_FALSE(current.playerEngineProblem) << *current.playerEngineProblem;
  EXPECT_FALSE(current.webViewFactory);

  wk::WebView::setBackendFactory([](wk::WebView& view) { return wk::makeScriptedWebBackend(view); });
  EXPECT_TRUE(currentLaunchRequirements(2, argv).webViewFactory);
  wk::WebView::setBackendFactory(nullptr);
  EXPECT_FALSE(currentLaunchRequirements(2, argv).webViewFactory);
}

}  // namespace
