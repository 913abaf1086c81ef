#pragma once
// Shared set-up of the browsing interface tests: a headless application whose main bundle is
// the source tree's resources, the shell's fake controllers installed, the browse hooks in place
// and the process-wide list registry emptied before and after; and rows made by the real model
// classes from the Data API fixtures in tests/fixtures.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/browse/BrowseHooks.h"
#include "app/browse/LeftViewController.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/library/AccountCache.h"
#include "app/library/DBAccess.h"
#include "app/youtube/SearchEntry.h"
#include "lib/cache/GVCache.h"
#include "lib/google/ApiJSONParser.h"
#include "lib/google/ApiYouTubeModels.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/testing/Pump.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "tests/lib/google/GoogleTestSupport.h"
#include "tests/support/FakeMainWindowController.h"
#include "tests/support/FakePlayerViewController.h"
#include "tests/support/ScopedController.h"

namespace browse_test {

struct BrowseFixture {
  BrowseFixture() : app(true) {
    ns::Bundle::setMainBundlePathForTesting(std::string(PELORIN_SOURCE_DIR) + "/resources");
    resetPlaylistRegistryForTesting();
    // The library store lives in this test's sandbox, not in an earlier test's.
    std::filesystem::create_directories(app.sandbox().root() / "home/.local/share/Pelorin");
    std::filesystem::create_directories(app.sandbox().root() / "home/.cache");
    DBAccess::resetForTesting();
    installBrowseHooks();
    diskCache =
        GVCache::initWithCacheDirectory((app.sandbox().root() / "home/.cache/browse-test/GVCache").string());
    AccountCache::setDiskCache(diskCache);
    account->setEmail("a@example.com");
    main->setAccountCache(account);
  }
  ~BrowseFixture() {
    resetPlaylistRegistryForTesting();
    setShuffleRandomSource(nullptr);
    diskCache->synchronize();
    AccountCache::setDiskCache(nullptr);
    ns::Bundle::setMainBundlePathForTesting(std::nullopt);
    DBAccess::resetForTesting();
  }
  void setAnswers(const std::function<void(testsupport::FakeMainWindowController::Answers&)>& change) {
    auto answers = main->answers();
    change(answers);
    main->setAnswers(answers);
  }
  // The id of the library's playlist group of this name, 0 when there is none.
  static int groupId(const std::string& name) {
    for (const auto& group : DBAccess::getInstance()->getPlaylistGroupArray())
      if (group.name == name) return group.groupId;
    return 0;
  }
  // The left pane as the main window makes it, at `paneFrame` in a borderless window of
  // `windowFrame`: the shell answers with both (and what `more` adds), and the work its making
  // queued (the navigation's first page) has run.
  std::pair<ns::Ref<ak::Window>, ns::Ref<LeftViewController>> showLeftPane(
      ak::Rect windowFrame, ak::Rect paneFrame,
      const std::function<void(testsupport::FakeMainWindowController::Answers&)>& more = {}) {
    auto window = app.window(windowFrame, ak::BorderlessWindowMask);
    auto left = ns::make<LeftViewController>();
    left->init(std::string("LeftViewController"));
    setAnswers([&](auto& answers) {
      answers.leftViewController = left;
      answers.window = window;
      answers.currentWindow = window;
      if (more) more(answers);
    });
    auto pane = left->view();
    pane->setFrame(paneFrame);
    window->contentView()->addSubview(pane);
    EXPECT_TRUE(pltest::drainMode());
    return {window, left};
  }

  pltest::HeadlessApp app;
  ns::Ref<testsupport::FakeMainWindowController> main = ns::make<testsupport::FakeMainWindowController>();
  ns::Ref<GVCache> diskCache;
  // Signed in, with nothing loaded: the lists are what a test puts there.
  ns::Ref<AccountCache> account = ns::make<AccountCache>();
  ns::Ref<testsupport::FakePlayerViewController> player = ns::make<testsupport::FakePlayerViewController>();
  testsupport::ScopedMainWindowController installedMain{main};
  testsupport::ScopedPlayerViewController installedPlayer{player};
};

// The rows of a search reply of the fixtures: videos, or channels and playlists for `others`.
inline std::vector<ns::Ref<SearchEntry>> searchRows(const std::string& fixture, bool channels = false) {
  ns::Error error;
  ns::Value tree = ApiJSONParser::objectWithString_error(googletest::fixtureText(fixture), &error);
  auto object = ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(
      tree, ApiClassOf<ApiYouTubeSearchListResponse>(), nullptr, ns::Value());
  auto list = std::dynamic_pointer_cast<ApiYouTubeSearchListResponse>(object);
  std::vector<ns::Ref<SearchEntry>> rows;
  if (!list) return rows;
  for (const ns::Value& item : list->items()) {
    auto result = item.objectAs<ApiYouTubeSearchResult>();
    if (!result) continue;
    auto row = channels ? SearchEntry::initWithApiSearchChannelResult(result)
                        : SearchEntry::initWithApiSearchResult(result);
    if (row) rows.push_back(row);
  }
  return rows;
}

// Rows with the video ids "v0", "v1"...
inline std::vector<ns::Ref<SearchEntry>> numberedRows(int count) {
  std::vector<ns::Ref<SearchEntry>> rows;
  for (int i = 0; i < count; ++i) {
    auto row = SearchEntry::init();
    row->setVideoid("v" + std::to_string(i));
    rows.push_back(row);
  }
  return rows;
}

// Counts the posts of one notification while it lives.
class PostCounter {
 public:
  explicit PostCounter(const std::string& name) {
    token_ = ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
        name, nullptr, nullptr, [this](const ns::Ref<ns::Notification>&) { ++count_; });
  }
  ~PostCounter() { ns::NotificationCenter::defaultCenter()->removeObserver(token_.get()); }
  int count() const { return count_; }
  void reset() { count_ = 0; }

 private:
  ns::Ref<ns::Object> token_;
  int count_ = 0;
};

}  // namespace browse_test
