// What a launch checks of the platform below it: which missing part is named, on screen and
// headless, and what this process really has.
#include <gtest/gtest.h>

#include "app/shell/window/Launch.h"
#include "platform/web/WebView.h"

namespace {

TEST(LaunchRequirements, EachMissingPartIsNamedAndHeadlessRunsNeedNoWebEngine) {
  LaunchRequirements complete{.onScreen = true, .presenter = true, .webViewFactory = true};
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
  EXPECT_EQ(missingLaunchRequirements({.onScreen = true, .playerEngineProblem = "x"}).size(), 3u);

  // Headless: no presenter and no web engine is wanted; the player still is.
  EXPECT_TRUE(missingLaunchRequirements({.onScreen = false}).empty());
  EXPECT_EQ(missingLaunchRequirements({.onScreen = false, .playerEngineProblem = "x"}).size(), 1u);
}

TEST(LaunchRequirements, ThisProcessHasAMediaEngineAndReportsTheWebFactoryAsInstalled) {
  const char* argv[] = {"pelorin", "--headless"};
  auto requirements = currentLaunchRequirements(2, argv);
  EXPECT_FALSE(requirements.onScreen);
  EXPECT_FALSE(requirements.presenter);
  EXPECT_FALSE(requirements.playerEngineProblem) << *requirements.playerEngineProblem;
  EXPECT_FALSE(requirements.webViewFactory);

  wk::WebView::setBackendFactory([](wk::WebView& view) { return wk::makeScriptedWebBackend(view); });
  EXPECT_TRUE(currentLaunchRequirements(2, argv).webViewFactory);
  wk::WebView::setBackendFactory(nullptr);
  EXPECT_FALSE(currentLaunchRequirements(2, argv).webViewFactory);
}

}  // namespace
