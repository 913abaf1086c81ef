// The search history and the skip set over the real user defaults in a sandboxed home.
#include <gtest/gtest.h>

#include "app/browse/SearchHistory.h"
#include "common/Settings.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/testing/Sandbox.h"

namespace {

using History = std::vector<std::string>;

std::optional<History> stored() {
  ns::UserDefaults::resetStandardUserDefaults();
  return getSearchHistory();
}

TEST(SearchHistory, KeepsTenQueriesMostRecentFirstWithoutRepeats) {
  pltest::Sandbox sandbox;
  EXPECT_EQ(getSearchHistory(), std::nullopt);
  for (const char* query : {"b", "q", "a", "q"}) addSearchHistory(query);
  EXPECT_EQ(stored(), (History{"q", "a", "b"}));
  for (int i = 1; i <= 8; ++i) addSearchHistory("n" + std::to_string(i));
  auto ten = stored();
  ASSERT_TRUE(ten);
  EXPECT_EQ(ten->size(), 10u);
  EXPECT_EQ(ten->front(), "n8");
  EXPECT_EQ(ten->back(), "a");  // "b" was the oldest of eleven
  addSearchHistory("a\nb");
  EXPECT_EQ(stored()->front(), "a b");
  EXPECT_EQ(stored()->size(), 10u);

  clearSearchHistory();
  EXPECT_EQ(stored(), std::nullopt);
  EXPECT_TRUE(ns::UserDefaults::standardUserDefaults()->objectForKey(kSearchHistoryKey).isArray());
  addSearchHistory("fresh");
  EXPECT_EQ(stored(), History{"fresh"});
}

TEST(SearchHistory, SwitchedOffAddsAndReadsNothingAndKeepsWhatIsStored) {
  pltest::Sandbox sandbox;
  addSearchHistory("kept");
  setBoolSetting(kUseSearchHistoryKey, false);
  addSearchHistory("dropped");
  EXPECT_EQ(getSearchHistory(), std::nullopt);
  setBoolSetting(kUseSearchHistoryKey, true);
  EXPECT_EQ(stored(), History{"kept"});
}

TEST(SkipVideos, TheSetChangesOnlyWhenLoadedAgain) {
  pltest::Sandbox sandbox;
  resetSkipVideosForTesting();
  setStringSetting(kSkipVideosKey, "");
  EXPECT_FALSE(isSkipVideo("y"));
  EXPECT_TRUE(isSkipVideo(""));  // the one part of an empty text; no video id is empty
  setStringSetting(kSkipVideosKey, "x,y");
  EXPECT_FALSE(isSkipVideo("y"));
  loadSkipVideos();
  EXPECT_TRUE(isSkipVideo("y"));
  EXPECT_TRUE(isSkipVideo("x"));
  EXPECT_FALSE(isSkipVideo("x,y"));
  resetSkipVideosForTesting();
}

}  // namespace
