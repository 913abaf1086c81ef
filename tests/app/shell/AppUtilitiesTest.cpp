// The shell's notification and settings services.
#include "app/shell/AppUtilities.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/foundation/Notification.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"

namespace {

TEST(AppUtilitiesTest, PostNotificationRunsEveryObserverBeforeItReturns) {
  auto center = ns::NotificationCenter::defaultCenter();
  int calls = 0;
  bool hadObject = true;
  std::thread::id thread;
  auto token = center->addObserverForName_object_queue_usingBlock(
      "shellTestNote", nullptr, nullptr, [&](const ns::Ref<ns::Notification>& note) {
        calls++;
        hadObject = note->object() != nullptr;
        thread = std::this_thread::get_id();
      });
  std::thread poster([] { postNotification("shellTestNote"); });
  poster.join();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(hadObject);
  EXPECT_NE(thread, std::this_thread::get_id());  // on the posting thread
  postNotification("otherNote");
  EXPECT_EQ(calls, 1);
  center->removeObserver(token.get());
}

TEST(AppUtilitiesTest, StringSettingsHaveDefaultsAndAreSavedAtOnce) {
  std::string pattern = (std::filesystem::temp_directory_path() / "pelorin-defaults-XXXXXX").string();
  ASSERT_TRUE(mkdtemp(pattern.data()));
  ns::UserDefaults::setStandardDefaultsFolderForTesting(pattern);

  EXPECT_EQ(getStringSetting("preferredVideoQuality"), "720");
  EXPECT_EQ(getStringSetting("anythingElse"), "");
  setStringSetting("preferredVideoQuality", "1080");
  setStringSetting("region", "JP");
  EXPECT_EQ(getStringSetting("preferredVideoQuality"), "1080");

  // A fresh defaults object reads what was saved.
  ns::UserDefaults::resetStandardUserDefaults();
  EXPECT_EQ(getStringSetting("region"), "JP");
  EXPECT_EQ(getStringSetting("preferredVideoQuality"), "1080");

  ns::UserDefaults::setStandardDefaultsFolderForTesting(std::nullopt);
  std::filesystem::remove_all(pattern);
}

}  // namespace
