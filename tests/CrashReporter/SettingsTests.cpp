// The service settings cache, its accessors and the application icon, with real property-list
// files and a test bundle folder.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CrashReporter/CRSIcon.h"
#include "CrashReporter/CRSSettings.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/PropertyListFile.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/security/Digest.h"
#include "platform/serialization/PropertyListSerialization.h"
#include "platform/testing/Sandbox.h"

namespace {

namespace fs = std::filesystem;

ns::Value readPlist(const std::string& path) {
  auto data = ns::dataWithContentsOfFile(path);
  if (!data) return {};
  return ns::PropertyListSerialization::propertyListWithData(*data);
}

// Makes a folder unwritable for its lifetime, also for the super-user (through the immutable
// flag, which binds root as well).
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(const fs::path& path) : path_(path) {
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_exec);
    if (::geteuid() == 0) {
      int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY);
      int flags = 0;
      if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags |= FS_IMMUTABLE_FL;
        immutable_ = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
      }
      if (fd >= 0) ::close(fd);
    }
  }
  ~ReadOnlyFolder() {
    if (immutable_) {
      int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY);
      int flags = 0;
      if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
      }
      if (fd >= 0) ::close(fd);
    }
    fs::permissions(path_, fs::perms::owner_all);
  }
  // Whether writes into the folder really fail.
  bool binds() const { return ::geteuid() != 0 || immutable_; }

 private:
  fs::path path_;
  bool immutable_ = false;
};

// A bundle folder made the main bundle for its lifetime.
class TestBundle {
 public:
  explicit TestBundle(const pltest::Sandbox& sandbox) : path_(sandbox.temporaryFolder("bundle")) {
    ns::Dictionary info{{"CFBundleIdentifier", "com.ordel42.zeravozezi"},
                        {"CFBundleDevelopmentRegion", "en"},
                        {"CFBundleIconFile", "AppIcon"}};
    ns::writePropertyListToFile_atomically(info, (path_ / "Info.plist").string(), true);
    fs::create_directories(path_ / "en.lproj");
    std::ofstream(path_ / "en.lproj/CrashReporter.strings")
        << "/* prompt */\n\"CrashReporterCrashSubmissionPromptTitle\" = \"Report the crash?\";\n";
    ns::Bundle::setMainBundlePathForTesting(path_.string());
  }
  ~TestBundle() { ns::Bundle::setMainBundlePathForTesting(std::nullopt); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

ns::Ref<ak::Image> solidImage(std::size_t width, std::size_t height) {
  return ns::make<ak::Image>(width, height, std::vector<std::uint8_t>(width * height * 4, 0x80));
}

TEST(CRSSettingsCache, ValidityFollowsTheCacheDuration) {
  pltest::Sandbox sandbox;
  std::string path = sandbox.path("settings.plist");
  struct Case {
    ns::Value cacheDuration;
    double seconds;
  };
  for (const auto& c : std::vector<Case>{{ns::Value(), 3600}, {0, 3600}, {86400, 86400}, {120u, 120}}) {
    ns::Dictionary settings{{"collect_reports", false}};
    if (!c.cacheDuration.isNil()) settings.set("cache_duration", c.cacheDuration);
    ns::Dictionary answer{
        {"settings_version", 2}, {"settings", settings}, {"app", ns::Dictionary{{"status", "new"}}}};
    ASSERT_TRUE(CRSSettings::writeSettings_toPath(answer, path));
    ns::Value written = readPlist(path);
    ASSERT_TRUE(written["settings"]["valid_until"].isDate());
    EXPECT_NEAR(written["settings"]["valid_until"].date().timeIntervalSinceNow(), c.seconds, 30);
    // The rest is the answer as it came.
    EXPECT_EQ(written["settings"]["collect_reports"], ns::Value(false));
    EXPECT_EQ(written["app"]["status"], ns::Value("new"));

    auto read = CRSSettings::initWithCachePath(path);
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->isOutdated());
    EXPECT_TRUE(read->appNeedsOnboarding());
    EXPECT_EQ(read->cachePath(), path);
  }
  // An answer without a "settings" dictionary gets one.
  ASSERT_TRUE(CRSSettings::writeSettings_toPath(ns::Dictionary{{"settings_version", 2}}, path));
  EXPECT_TRUE(readPlist(path)["settings"]["valid_until"].isDate());
  EXPECT_FALSE(CRSSettings::writeSettings_toPath(ns::Value(), path));
  EXPECT_FALSE(CRSSettings::writeSettings_toPath(ns::Dictionary{}, ""));
}

TEST(CRSSettingsCache, OnlyVersionTwoDictionariesAreRead) {
  pltest::Sandbox sandbox;
  std::string path = sandbox.path("settings.plist");
  struct Case {
    std::string name;
    std::optional<ns::Value> contents;
    std::string raw;
    bool read;
  };
  const std::vector<Case> cases = {
      {"version 2", ns::Value(ns::Dictionary{{"settings_version", 2}}), "", true},
      {"version 1", ns::Value(ns::Dictionary{{"settings_version", 1}}), "", false},
      {"version as text", ns::Value(ns::Dictionary{{"settings_version", "2"}}), "", false},
      {"no version", ns::Value(ns::Dictionary{{"settings", ns::Dictionary{}}}), "", false},
      {"an array", ns::Value(ns::Array{ns::Value(2)}), "", false},
      {"damaged", std::nullopt, "<?xml version=\"1.0\"?><plist><dict><key>settings_version</key><integ",
       false},
      {"missing", std::nullopt, "", false},
  };
  for (const auto& c : cases) {
    fs::remove(path);
    if (c.contents) {
      ASSERT_TRUE(ns::writePropertyListToFile_atomically(*c.contents, path, true)) << c.name;
    } else if (!c.raw.empty()) {
      std::ofstream(path) << c.raw;
    }
    auto settings = CRSSettings::initWithCachePath(path);
    EXPECT_EQ(settings != nullptr, c.read) << c.name;
    // Without "valid_until" a cache counts as outdated.
    if (settings) {
      EXPECT_TRUE(settings->isOutdated()) << c.name;
    }
  }
  auto past = CRSSettings::initWithCachePath_settingsDictionary(
      path, ns::Dictionary{
                {"settings", ns::Dictionary{{"valid_until", ns::Date::dateWithTimeIntervalSinceNow(-1)}}}});
  EXPECT_TRUE(past->isOutdated());
}

TEST(CRSSettingsCache, AFailedWriteKeepsTheOldCache) {
  pltest::Sandbox sandbox;
  fs::path folder = sandbox.temporaryFolder("cache");
  std::string path = (folder / "settings.plist").string();
  ASSERT_TRUE(
      CRSSettings::writeSettings_toPath(ns::Dictionary{{"settings_version", 2}, {"marker", "old"}}, path));

  // A value a property list cannot hold fails before anything is replaced.
  EXPECT_FALSE(CRSSettings::writeSettings_toPath(
      ns::Dictionary{{"settings_version", 2}, {"bad", ns::Value::null()}}, path));
  auto kept = CRSSettings::initWithCachePath(path);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->dictionary()["marker"], ns::Value("old"));

  {
    ReadOnlyFolder readOnly(folder);
    if (!readOnly.binds()) GTEST_SKIP() << "no way to make a folder read-only here";
    EXPECT_FALSE(
        CRSSettings::writeSettings_toPath(ns::Dictionary{{"settings_version", 2}, {"marker", "new"}}, path));
    auto old = CRSSettings::initWithCachePath(path);
    ASSERT_TRUE(old);
    EXPECT_EQ(old->dictionary()["marker"], ns::Value("old"));
  }
}

TEST(CRSSettings, AccessorsAndTheirDefaults) {
  pltest::Sandbox sandbox;
  auto settings = [](ns::Dictionary d) {
    return CRSSettings::initWithCachePath_settingsDictionary("", std::move(d));
  };
  auto empty = settings({});
  EXPECT_EQ(empty->betaUpdateSuspendDurationSecs(), 3600u);
  EXPECT_EQ(
      settings({{"beta", ns::Dictionary{{"update_suspend_duration", 0}}}})->betaUpdateSuspendDurationSecs(),
      0u);
  EXPECT_EQ(empty->logBufferSize(), 0u);
  EXPECT_FALSE(empty->reportsURL());
  EXPECT_FALSE(empty->appNeedsOnboarding());
  EXPECT_TRUE(empty->isOutdated());
  EXPECT_EQ(empty->iconSize(), (ak::Size{0, 0}));
  EXPECT_EQ(settings({{"app", ns::Dictionary{{"icon", ns::Dictionary{{"width", 64}}}}}})->iconSize(),
            (ak::Size{0, 0}));
  EXPECT_EQ(settings({{"app", ns::Dictionary{{"icon", ns::Dictionary{{"width", 64}, {"height", 32.5}}}}}})
                ->iconSize(),
            (ak::Size{64, 32.5}));

  auto full =
      settings({{"app", ns::Dictionary{{"reports_url", "http://127.0.0.1:1/r"}, {"url", "not a url"}}},
                {"session", ns::Dictionary{{"log_buffer_size", -1}, {"max_custom_key_value_pairs", 64}}},
                {"analytics", ns::Dictionary{{"max_byte_size_per_file", 8000}}}});
  EXPECT_EQ(full->reportsURL()->absoluteString(), "http://127.0.0.1:1/r");
  EXPECT_FALSE(full->appURL());
  EXPECT_EQ(full->logBufferSize(), ~std::uint64_t(0));  // the signed value widened
  EXPECT_EQ(full->maxCustomKeyValuePairs(), 64u);
  EXPECT_EQ(full->maxByteSizePerFile(), 8000u);

  // Collection: the service decides unless the user said no.
  struct Case {
    std::optional<bool> service;
    std::optional<bool> user;
    bool collect;
  };
  auto defaults = ns::UserDefaults::standardUserDefaults();
  for (const auto& c : std::vector<Case>{{std::nullopt, std::nullopt, true},
                                         {false, std::nullopt, false},
                                         {true, std::nullopt, true},
                                         {true, false, false},
                                         {std::nullopt, false, false},
                                         {false, true, false},
                                         {true, true, true}}) {
    ns::Dictionary section;
    if (c.service) section.set("collect_reports", *c.service);
    if (c.user) {
      defaults->setBool_forKey(*c.user, "CrashReporterShouldCollectCrashReports");
    } else {
      defaults->removeObjectForKey("CrashReporterShouldCollectCrashReports");
    }
    EXPECT_EQ(settings({{"settings", section}})->shouldCollectCrashReports(), c.collect)
        << (c.service ? int(*c.service) : -1) << " " << (c.user ? int(*c.user) : -1);
  }

  // The prompt is asked for unless the user chose to always send.
  auto prompting = settings({{"features", ns::Dictionary{{"prompt_enabled", true}}}});
  EXPECT_TRUE(prompting->shouldRequestPermissionToSubmit());
  CRSSettings::setUserDesiresReportsAlwaysBeSent(true);
  EXPECT_TRUE(CRSSettings::userDesiresReportsAlwaysBeSent());
  EXPECT_FALSE(prompting->shouldRequestPermissionToSubmit());
}

TEST(CRSSettings, PromptTextsPreferTheBundlesTranslation) {
  pltest::Sandbox sandbox;
  sandbox.set("LANGUAGE", "en");
  TestBundle bundle(sandbox);
  auto fromService = CRSSettings::initWithCachePath_settingsDictionary(
      "",
      ns::Dictionary{{"prompt", ns::Dictionary{{"title", "Service title"}, {"send_button_title", "Go"}}}});
  EXPECT_EQ(fromService->interactivePromptTitle(), "Report the crash?");
  EXPECT_EQ(fromService->interactivePromptSendTitle(), "Go");
  EXPECT_EQ(fromService->interactivePromptCancelTitle(), "Don't Send");
  EXPECT_EQ(fromService->interactivePromptAlwaysSendTitle(), "Always Send");
  EXPECT_EQ(fromService->interactivePromptMessage(),
            "Looks like we crashed! Please help us fix the problem by sending a crash report.");
}

TEST(CRSIcon, SizesHashesAndTheBundleIcon) {
  pltest::Sandbox sandbox;
  struct Case {
    std::size_t width, height;
    bool within;
  };
  for (const auto& c : std::vector<Case>{{1024, 1024, true}, {1025, 1024, false}, {16, 16, true}}) {
    auto icon = CRSIcon::initWithImage(solidImage(c.width, c.height));
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->isWithinMaxSurfaceArea(), c.within) << c.width;
    EXPECT_EQ(icon->size(), (ak::Size{double(c.width), double(c.height)}));
    EXPECT_TRUE(icon->prerendered());
    EXPECT_EQ(icon->dataHash(), sec::sha1Hex(icon->data().view()));
    auto decoded = ak::Image::initWithData(icon->data());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->pixelsWide(), c.width);
  }
  EXPECT_FALSE(CRSIcon::initWithImage(nullptr));
  auto small = CRSIcon::initWithData_size_prerendered(ns::Data("png"), {2, 3}, false);
  EXPECT_EQ(small->dataHash(), sec::sha1Hex("png"));
  EXPECT_TRUE(small->largerThanSize({1, 5}));
  EXPECT_FALSE(small->largerThanSize({2, 3}));

  // The application icon comes from the bundle's PNG resource, once found.
  TestBundle bundle(sandbox);
  auto controller = ns::make<CRSAppIconController>();
  EXPECT_FALSE(controller->applicationIcon());
  auto png = solidImage(48, 32)->PNGRepresentation();
  ASSERT_TRUE(png);
  ASSERT_TRUE(ns::writeDataToFile(*png, (bundle.path() / "AppIcon.png").string(), ns::DataWritingAtomic));
  auto icon = controller->applicationIcon();
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->size(), (ak::Size{48, 32}));
  EXPECT_EQ(controller->applicationIcon(), icon);
}

}  // namespace
