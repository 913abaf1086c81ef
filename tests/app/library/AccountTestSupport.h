#pragma once
// What the account cache's tests share: a sandbox with a keyed disk cache of its own in it (the
// process-wide one stays in the home of its first user), the main window controller and the
// browsing interface as recording fakes, and a fake of the maker's service on 127.0.0.1 that the
// maker host points at; and for the sign-in's tests, the fake identity provider and Data API.
#include <gtest/gtest.h>

#include <string>

#include "app/library/AccountCache.h"
#include "app/library/AccountSession.h"
#include "app/library/MakerHost.h"
#include "app/youtube/SearchEntry.h"
#include "app/youtube/YoutubeKeys.h"
#include "common/Settings.h"
#include "lib/cache/GVCache.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "lib/google/NetOAuth2Endpoints.h"
#include "platform/dispatch/Queue.h"
#include "platform/testing/FakeServer.h"
#include "platform/testing/Pump.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "tests/app/library/LibrarySandbox.h"
#include "tests/support/AccountServiceCalls.h"
#include "tests/support/FakeBrowsingInterface.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeMainWindowController.h"
#include "tests/support/FakeOAuthServer.h"
#include "tests/support/ScopedController.h"

namespace librarytest {

class AccountTest : public ::testing::Test {
 protected:
  AccountTest() {
    sandbox.set(kMakerHostEnvironmentKey, "127.0.0.1:" + std::to_string(maker.port()));
    openDiskCache();
  }
  ~AccountTest() override {
    // Notifications a test left queued on the main queue go out now, not in the next test.
    bool ran = false;
    dispatch::async(dispatch::mainQueue(), [&ran] { ran = true; });
    pltest::pumpUntil([&ran] { return ran; });
    // Writes still queued finish inside the sandbox before it goes.
    if (current_) current_->synchronize();
    AccountCache::setDiskCache(nullptr);
  }

  std::string cacheFolder() const { return (sandbox.root() / "home/.cache/account-test/GVCache").string(); }
  // (Re)opens the disk cache from its folder, as a new process would.
  void openDiskCache() {
    if (auto cache = current_) cache->synchronize();
    current_ = GVCache::initWithCacheDirectory(cacheFolder());
    AccountCache::setDiskCache(current_);
  }
  // A cache made without running its loads (nothing stored yet, nothing asked).
  ns::Ref<AccountCache> bareCache(const std::string& email) {
    auto cache = ns::make<AccountCache>();
    cache->setEmail(email);
    return cache;
  }
  static ns::Ref<SearchEntry> row(const std::string& videoId, const std::optional<std::string>& itemId,
                                  const std::string& title = "") {
    auto entry = SearchEntry::init();
    entry->setVideoid(videoId);
    entry->setPlaylistItemId(itemId);
    entry->setTitle(title.empty() ? videoId : title);
    return entry;
  }
  // The video ids of rows, in order.
  static std::vector<std::string> videoIds(const ns::Array& rows) {
    std::vector<std::string> ids;
    for (const auto& value : rows) {
      auto entry = value.objectAs<SearchEntry>();
      ids.push_back(entry && entry->videoid() ? *entry->videoid() : "?");
    }
    return ids;
  }
  // Runs what is queued on the main thread now, so that a second notification would be seen.
  static void drainMainQueue() {
    bool ran = false;
    ns::RunLoop::currentRunLoop()->performInModes_block({ns::DefaultRunLoopMode}, [&] { ran = true; });
    ASSERT_TRUE(pltest::pumpUntil([&] { return ran; }));
  }

  LibrarySandbox sandbox;
  pltest::FakeServer maker;
  ns::Ref<testsupport::FakeMainWindowController> controller =
      ns::make<testsupport::FakeMainWindowController>();
  testsupport::ScopedMainWindowController installedController{controller};
  ns::Ref<testsupport::FakeBrowsingInterface> browsing = ns::make<testsupport::FakeBrowsingInterface>();
  testsupport::ScopedBrowsingInterface installedBrowsing{browsing};

 private:
  ns::Ref<GVCache> current_;
};

// An account test signed in through the fake identity provider to the fake Data API, both on
// 127.0.0.1; the test names the hosts the provider serves as (oauth.serveAsProviderHosts).
class SignInTest : public AccountTest {
 protected:
  SignInTest() {
    setStringSetting(kOAuthClientIDSettingKey, oauth.options().clientID);
    setStringSetting(kOAuthClientSecretSettingKey, oauth.options().clientSecret);
    sandbox.set(kGoogleAPIURLEnvironmentKey, std::nullopt);
    NetOAuth2SetEndpoints(NetOAuth2Endpoints{oauth.authorizationURL(), oauth.tokenURL(),
                                             oauth.revocationURL(), oauth.userInfoURL(), oauth.apiURL(""),
                                             "example.test"});
    api.serveAsAPIHost();
  }
  ~SignInTest() override {
    api.release();
    EXPECT_TRUE(testsupport::finishAccountServiceCalls());
    AccountSession::youTubeService()->setAuthorizer(nullptr);
    NetOAuth2SetEndpoints(std::nullopt);
  }

  // Before the fakes: they are made in its sandbox, and go before it.
  pltest::HeadlessApp app{false};
  testsupport::FakeDataAPI api;
  testsupport::FakeOAuthServer oauth;
};

}  // namespace librarytest
