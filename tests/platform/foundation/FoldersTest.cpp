// Standard folders, the bundle and process facts.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/SearchPaths.h"
#include "platform/testing/Files.h"
#include "platform/testing/Sandbox.h"

namespace {

using pltest::Sandbox;

std::string first(ns::SearchPathDirectory dir, bool expand = true) {
  auto paths = ns::SearchPathForDirectoriesInDomains(dir, ns::UserDomainMask, expand);
  return paths.empty() ? "" : paths[0];
}

TEST(SearchPathsTest, UserFoldersFollowTheXdgVariables) {
  Sandbox box;
  EXPECT_EQ(first(ns::ApplicationSupportDirectory), box.home().string() + "/.local/share");
  EXPECT_EQ(first(ns::CachesDirectory), box.home().string() + "/.cache");
  EXPECT_EQ(ns::userConfigDirectory(), box.home().string() + "/.config");
  EXPECT_EQ(first(ns::MoviesDirectory), box.home().string() + "/Videos");
  EXPECT_EQ(ns::TemporaryDirectory(), box.home().string() + "/tmp/");
  EXPECT_EQ(ns::HomeDirectory(), box.home().string());

  box.set("XDG_CACHE_HOME", box.path("elsewhere/cache"));
  box.set("XDG_DATA_HOME", box.path("data/"));
  EXPECT_EQ(first(ns::CachesDirectory), box.path("elsewhere/cache"));
  EXPECT_EQ(first(ns::ApplicationSupportDirectory), box.path("data"));

  // The XDG rules ignore relative paths and empty values.
  box.set("XDG_CACHE_HOME", "relative/cache");
  box.set("XDG_DATA_HOME", "");
  EXPECT_EQ(first(ns::CachesDirectory), box.home().string() + "/.cache");
  EXPECT_EQ(first(ns::ApplicationSupportDirectory), box.home().string() + "/.local/share");
}

TEST(SearchPathsTest, MoviesComeFromUserDirsAndTildeIsKeptWhenAsked) {
  Sandbox box;
  pltest::writeFile(box.home() / ".config/user-dirs.dirs",
                    "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                    "XDG_VIDEOS_DIR=\"$HOME/Filme\"\nXDG_MUSIC_DIR=\"/srv/music\"\n");
  EXPECT_EQ(first(ns::MoviesDirectory), box.home().string() + "/Filme");
  EXPECT_EQ(first(ns::MoviesDirectory, false), "~/Filme");
  EXPECT_EQ(first(ns::MusicDirectory, false), "/srv/music");
  EXPECT_EQ(first(ns::DesktopDirectory), box.home().string() + "/Schreibtisch");
  EXPECT_EQ(first(ns::DownloadsDirectory), box.home().string() + "/Downloads");
  EXPECT_EQ(first(ns::CachesDirectory, false), "~/.cache");

  auto all = ns::SearchPathForDirectoriesInDomains(ns::ApplicationSupportDirectory, ns::AllDomainsMask, true);
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[0], box.home().string() + "/.local/share");
}

TEST(BundleTest, ReadsInfoPlistAndLocalizedStringsFromItsFolder) {
  Sandbox box;
  std::string folder = box.path("App");
  std::filesystem::create_directories(folder + "/en.lproj");
  std::filesystem::create_directories(folder + "/de.lproj");
  ASSERT_TRUE(ns::writeStringToFile(
      "<?xml version=\"1.0\"?><plist "
      "version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>org.example.app</string>"
      "<key>CFBundleDevelopmentRegion</key><string>en</string><key>Count</key><integer>-3</integer></dict></"
      "plist>",
      folder + "/Info.plist", true));
  ASSERT_TRUE(ns::writeStringToFile("/* greeting */\n\"hello\" = \"Hello\";\n\"bye\" = \"Bye\\n\";\nbare;\n",
                                    folder + "/en.lproj/Localizable.strings", true));
  ASSERT_TRUE(ns::writeStringToFile("\"hello\" = \"Hallo \\U00e4\";\n",
                                    folder + "/de.lproj/Localizable.strings", true));
  ASSERT_TRUE(ns::writeStringToFile("x", folder + "/en.lproj/icon.png", true));
  ASSERT_TRUE(ns::writeStringToFile("y", folder + "/other.png", true));

  auto bundle = ns::Bundle::bundleWithPath(folder);
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->bundleIdentifier(), "org.example.app");
  EXPECT_EQ(bundle->objectForInfoDictionaryKey("Count").integerValue(), -3);
  EXPECT_TRUE(bundle->objectForInfoDictionaryKey("Missing").isNil());

  box.set("LANGUAGE", std::nullopt);
  box.set("LC_ALL", std::nullopt);
  box.set("LC_MESSAGES", std::nullopt);
  box.set("LANG", "de_DE.UTF-8");
  EXPECT_EQ(bundle->localizedStringForKey_value_table("hello", "", ""), "Hallo ä");
  // Keys the preferred language lacks fall back to the development language.
  EXPECT_EQ(bundle->localizedStringForKey_value_table("bye", "", ""), "Bye\n");
  EXPECT_EQ(bundle->localizedStringForKey_value_table("bare", "", ""), "bare");
  EXPECT_EQ(bundle->localizedStringForKey_value_table("absent", "Default", ""), "Default");
  EXPECT_EQ(bundle->localizedStringForKey_value_table("absent", "", ""), "absent");

  EXPECT_EQ(bundle->pathForResource_ofType("icon", "png"), folder + "/en.lproj/icon.png");
  EXPECT_EQ(bundle->pathForResource_ofType("other", "png"), folder + "/other.png");
  EXPECT_FALSE(bundle->pathForResource_ofType("../App/other", "png"));
  EXPECT_EQ(bundle->pathsForResourcesOfType_inDirectory("png", "").size(), 1u);

  EXPECT_FALSE(ns::Bundle::bundleWithPath(box.path("NoSuchFolder")));
  EXPECT_FALSE(ns::parseStringsTable("\"unterminated = \"x\";"));
}

TEST(BundleTest, StringsTablesJoinEscapedUtf16HalvesIntoOneCharacter) {
  auto table = ns::parseStringsTable(
      "\"smile\" = \"\\UD83D\\uDE00!\";\n\"lone\" = \"\\UD83D\\U0041\";\n\"ä\" = \"\\U00E4\\u00df\";\n");
  ASSERT_TRUE(table);
  EXPECT_EQ((*table)[ns::Value("smile")].string(), "\U0001F600!");
  // A high half without its low one stays a replacement character; what follows is kept.
  EXPECT_EQ((*table)[ns::Value("lone")].string(), "\uFFFDA");
  EXPECT_EQ((*table)[ns::Value("ä")].string(), "äß");
}

TEST(BundleTest, MainBundleWithoutInfoPlistAnswersTheApplicationIdentity) {
  Sandbox box;
  ns::Bundle::setMainBundlePathForTesting(box.path("empty"));
  auto main = ns::Bundle::mainBundle();
  EXPECT_EQ(main->bundleIdentifier(), "com.ordel42.zeravozezi");
  EXPECT_EQ(main->objectForInfoDictionaryKey("CFBundleName").string(), "Pelorin");
  ns::Bundle::setMainBundlePathForTesting(std::nullopt);
  EXPECT_NE(ns::Bundle::mainBundle()->bundlePath(), box.path("empty"));
}

TEST(ProcessInfoTest, IdentityVersionAndUniqueStrings) {
  auto info = ns::ProcessInfo::processInfo();
  EXPECT_EQ(info->processName(), "test_pl_foundation");
  EXPECT_EQ(info->processIdentifier(), static_cast<int>(::getpid()));
  ASSERT_FALSE(info->arguments().empty());
  EXPECT_NE(info->arguments()[0].find("test_pl_foundation"), std::string::npos);
  EXPECT_FALSE(info->hostName().empty());

  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) seen.insert(info->globallyUniqueString());
  EXPECT_EQ(seen.size(), 200u);

  Sandbox box;
  box.set("PELORIN_MACOS_VERSION", std::nullopt);
  ns::ProcessInfo::setEmulatedOperatingSystemVersion(std::nullopt);
  EXPECT_EQ(info->operatingSystemVersion(), (ns::OperatingSystemVersion{10, 10, 5}));
  EXPECT_EQ(info->operatingSystemVersionString(), "Version 10.10.5 (Build 14F27)");
  EXPECT_TRUE(info->isOperatingSystemAtLeastVersion({10, 9, 0}));
  EXPECT_FALSE(info->isOperatingSystemAtLeastVersion({10, 11, 0}));

  box.set("PELORIN_MACOS_VERSION", "10.7.5");
  EXPECT_EQ(info->operatingSystemVersionString(), "Version 10.7.5");
  ns::ProcessInfo::setEmulatedOperatingSystemVersion("10.9");
  EXPECT_EQ(info->operatingSystemVersion(), (ns::OperatingSystemVersion{10, 9, 0}));
  ns::ProcessInfo::setEmulatedOperatingSystemVersion(std::nullopt);
  EXPECT_EQ(info->operatingSystemVersion(), (ns::OperatingSystemVersion{10, 7, 5}));
}

}  // namespace
