// The real `pelorin` on a virtual display: signed in against the fake identity provider and Data
// API, the account restores a two-row list with its first row loaded; XF86AudioNext pressed
// through XTest makes the video service hear of the second row, and Ctrl+Q ends the run with
// status 0.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/library/AccountCache.h"
#include "app/youtube/SearchEntry.h"
#include "common/CacheUtilities.h"
#include "lib/cache/GVCache.h"
#include "tests/app/shell/onscreen/OnScreenTestSupport.h"
#include "tests/support/FakeDataAPI.h"
#include "tests/support/FakeOAuthServer.h"
#include "tests/support/KeptSignIn.h"

namespace {

constexpr double kWait = 60;
const std::string kFirst = "twoRowVid01", kSecond = "twoRowVid02";

bool videoInfoAsked(const pltest::FakeServer& service, const std::string& videoId) {
  for (const auto& request : service.requests())
    if (request.target.find("video_id=" + videoId) != std::string::npos) return true;
  return false;
}

// The account's disk cache, in this test's home where the pelorin it starts looks for it (the
// process's shared one may have been made in another test's home), for the test's lifetime.
class AccountDiskCacheInHome {
 public:
  explicit AccountDiskCacheInHome(const pltest::Sandbox& sandbox)
      : cache_(GVCache::initWithCacheDirectory(
            (sandbox.cacheHome() / "com.ordel42.zeravozezi/GVCache").string())) {
    AccountCache::setDiskCache(cache_);
  }
  ~AccountDiskCacheInHome() {
    cache_->synchronize();
    AccountCache::setDiskCache(nullptr);
  }
  const ns::Ref<GVCache>& cache() const { return cache_; }

 private:
  ns::Ref<GVCache> cache_;
};

TEST(PelorinOnScreen, AMediaKeyPlaysTheNextRowAndControlQQuits) {
  pltest::OnScreenApp screen;  // the display for XTest, a sandbox and the pump
  auto& sandbox = screen.sandbox();
  pltest::FakeServer sink, videos;
  testsupport::FakeOAuthServer oauth;
  testsupport::FakeDataAPI api;
  onscreen::quietEndpoints(sandbox, sink);
  sandbox.set("PELORIN_VIDEO_SERVICE_URL", videos.baseURL());
  sandbox.set("PELORIN_OAUTH_URL", oauth.server().baseURL());
  sandbox.set("PELORIN_GOOGLE_API_URL", api.baseURL());
  testsupport::trustCertificates(sandbox,
                                 {oauth.server().caCertificatePEM(), api.server().caCertificatePEM()});
  AccountDiskCacheInHome accountCache(sandbox);

  // The kept sign-in, and what the account was playing: row 1 of the list "PLtwo".
  ASSERT_TRUE(testsupport::keepSignIn(oauth, "a@example.com"));
  for (const auto& folder : {getCacheFolderPath(), getTempFolderPath(), getInfoFolderPath()})
    std::filesystem::create_directories(folder);
  auto first = SearchEntry::init();
  first->setVideoid(kFirst);
  first->setTitle("First");
  ASSERT_TRUE(first->saveToCache());
  auto account = ns::make<AccountCache>();
  account->setEmail("a@example.com");
  const auto& disk = accountCache.cache();
  disk->setObject_forKey_withTimeoutInterval(ns::Value(ns::Array{"Two", "playlists", "PLtwo", 0}),
                                             account->cacheKey("currentPlaylist"), 600);
  disk->setObject_forKey_withTimeoutInterval(ns::Value(ns::Array{kFirst, "First", "Someone"}),
                                             account->cacheKey("nowPlaying"), 600);
  // The account's fresh copy of the list: shown at once, not asked again.
  auto second = SearchEntry::init();
  second->setVideoid(kSecond);
  second->setTitle("Second");
  account->savePlaylistCache_type_withId(ns::Array{ns::Value(first), ns::Value(second)}, "playlists",
                                         "PLtwo");
  disk->synchronize();

  onscreen::PelorinProcess pelorin(sandbox.path("pelorin.log"));
  ASSERT_GT(pelorin.pid(), 0);
  auto logText = [&] {
    std::stringstream text;
    text << std::ifstream(sandbox.path("pelorin.log")).rdbuf();
    return text.str();
  };

  // The restore loaded row 1 (after it made the list the current playlist).
  ASSERT_TRUE(pltest::pumpUntil([&] { return videoInfoAsked(videos, kFirst) || pelorin.ended(); }, kWait))
      << logText();
  ASSERT_FALSE(pelorin.ended()) << logText();
  // The keyboard goes to the window (no window manager runs here); a window just mapped may
  // refuse the focus once.
  ASSERT_TRUE(pltest::pumpUntil(
      [] {
        return std::system(
                   "timeout 10 xdotool search --onlyvisible --name '^Pelorin$' windowfocus --sync "
                   "2>/dev/null") == 0;
      },
      kWait));

  // A press before the window takes keys is lost; the first that arrives plays row 2, and
  // pressing stops there.
  bool next = false;
  for (int press = 0; press < 12 && !next; ++press) {
    pltest::xtest::tap("XF86AudioNext");
    next = pltest::pumpUntil([&] { return videoInfoAsked(videos, kSecond); }, 5);
  }
  EXPECT_TRUE(next) << logText();

  // The account's start-up requests have reached the Data API (or failed: a loaded machine may
  // drop a handshake) before the run ends. A TLS handshake still under way on the loading thread
  // while the process exits can crash in the TLS library's own exit handler, which is not what
  // this test is about.
  pltest::pumpUntil(
      [&] {
        const bool asked = !api.callsOf("youtube.channels.list").empty() &&
                           !api.callsOf("youtube.playlists.list").empty() &&
                           !api.callsOf("youtube.subscriptions.list").empty();
        return asked || logText().find("SSL error") != std::string::npos;
      },
      kWait);
  pltest::xtest::key("Control_L", true);
  pltest::xtest::tap("q");
  pltest::xtest::key("Control_L", false);
  const auto status = pelorin.waitForExit(kWait);
  ASSERT_TRUE(status) << logText();
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status << logText();
}

}  // namespace
