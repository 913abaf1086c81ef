#pragma once
// An in-process launch through the real builders: a headless application in a sandbox whose
// main bundle is the source tree's resources, "MainMenu" loaded with the application as owner
// (the application delegate and the main menu), and `run` for the launch. Every service the
// launch reaches is a fake on 127.0.0.1.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "app/browse/YTPlaylistViewController.h"
#include "app/cache/CacheState.h"
#include "app/library/AccountCache.h"
#include "app/library/DBAccess.h"
#include "app/library/MakerHost.h"
#include "app/shell/MainWindowController.h"
#include "app/shell/PLMAppDelegate.h"
#include "app/shell/ShellNibs.h"
#include "app/youtube/SuggestServiceConfig.h"
#include "app/youtube/VideoServiceConfig.h"
#include "app/youtube/YoutubeKeys.h"
#include "app/youtube/YoutubeSupport.h"
#include "common/IAppDelegate.h"
#include "common/IMainWindowController.h"
#include "common/IPlayerViewController.h"
#include "common/Settings.h"
#include "lib/cache/GVCache.h"
#include "lib/google/GoogleAPIConfig.h"
#include "lib/google/NetOAuth2Endpoints.h"
#include "platform/appkit/Nib.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeOAuthServer.h"

namespace shelltest {

struct ShellFixture {
  explicit ShellFixture(bool virtualClock = true) : app(virtualClock) {
    ns::Bundle::setMainBundlePathForTesting(std::string(PELORIN_SOURCE_DIR) + "/resources");
    auto& sandbox = app.sandbox();
    // The crash reporter starts without capture or submission, and talks only to the sink.
    sandbox.set("CrashReporting", "0");
    sandbox.set("CrashSubmission", "0");
    sandbox.set("CrashReporterAPIEndpoint", sink.baseURL());
    sandbox.set(kMakerHostEnvironmentKey, "127.0.0.1:" + std::to_string(sink.port()));
    sandbox.set(kSuggestServiceURLEnvironmentKey, sink.baseURL());
    sandbox.set(kVideoServiceURLEnvironmentKey, sink.baseURL());
    DBAccess::resetForTesting();
    resetPlaylistRegistryForTesting();
    forgetDownloadsAndFailures();
    registerShellNibs();
    // The process-wide disk cache stays in the home of the test that first used it, gone once
    // that test ends: the account's lists go to a cache in this test's own sandbox instead, so
    // that they are stored and read back as in a real home.
    accountDiskCache = GVCache::initWithCacheDirectory((cacheBase() / "account-test/GVCache").string());
    AccountCache::setDiskCache(accountDiskCache);
  }
  ~ShellFixture() {
    setMainWindowController(nullptr);
    setPlayerViewController(nullptr);
    setAppDelegate(nullptr);
    releaseShellNibObjects();
    resetPlaylistRegistryForTesting();
    ns::Bundle::setMainBundlePathForTesting(std::nullopt);
    DBAccess::resetForTesting();
    // Writes still queued finish inside the sandbox before it goes.
    accountDiskCache->synchronize();
    AccountCache::setDiskCache(nullptr);
    forgetDownloadsAndFailures();
  }

  // Downloads, their states and the videos that failed to resolve are the process's: a clip the
  // cache manager of one launch could not fetch (every service is a fake here) would be refused
  // to the next test's player, which plays the same rows. Downloads stop first, and what they
  // queued on the main queue runs, so that no failure lands after the table was emptied.
  static void forgetDownloadsAndFailures() {
    resetCacheStateTablesForTesting();
    pltest::drainMode();
    YoutubeSupport::resetFailedVideosForTesting();
  }

  // Loads "MainMenu" and runs the application until nothing is queued: the launch, then
  // whatever the launch queued.
  void launch() {
    ASSERT_TRUE(ak::Nib::loadNibNamed_owner("MainMenu", app.app()));
    app.app()->run();
    controller = std::dynamic_pointer_cast<MainWindowController>(mainWindowController());
    ASSERT_TRUE(controller);
  }
  // A user default, stored as the settings window would and read back from the file.
  void storeDefault(const std::string& key, const ns::Value& value) {
    ns::UserDefaults::standardUserDefaults()->setObject_forKey(value, key);
    ns::UserDefaults::standardUserDefaults()->synchronize();
    ns::UserDefaults::resetStandardUserDefaults();
  }
  std::filesystem::path cacheBase() { return app.sandbox().cacheHome() / "com.ordel42.zeravozezi"; }
  std::filesystem::path supportFolder() { return app.sandbox().dataHome() / "Pelorin"; }

  pltest::FakeServer sink;
  pltest::HeadlessApp app;
  ns::Ref<MainWindowController> controller;
  ns::Ref<GVCache> accountDiskCache;
};

// Signing in goes to the fake provider, and the account's calls to the fake Data API, under
// the real hosts' names.
inline void pointSignInAtFakes(pltest::Sandbox& sandbox, testsupport::FakeOAuthServer& oauth,
                               testsupport::FakeDataAPI& api) {
  setStringSetting(kOAuthClientIDSettingKey, oauth.options().clientID);
  setStringSetting(kOAuthClientSecretSettingKey, oauth.options().clientSecret);
  sandbox.set(kGoogleAPIURLEnvironmentKey, std::nullopt);
  NetOAuth2SetEndpoints(NetOAuth2Endpoints{oauth.authorizationURL(), oauth.tokenURL(), oauth.revocationURL(),
                                           oauth.userInfoURL(), oauth.apiURL(""), "example.test"});
  api.serveAsAPIHost();
  oauth.serveAsProviderHosts({&api.server()});
}

}  // namespace shelltest
