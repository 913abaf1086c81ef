#pragma once
// What the Download command's tests share: a headless application with a window as the current
// one, a sandboxed cache, a scripted modal session, a resolver that offers itags at a loopback
// origin whose transfers stall, and the cache manager.
#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>

#include "app/cache/CacheServer.h"
#include "common/Settings.h"
#include "platform/appkit/Make.h"
#include "platform/foundation/PropertyListFile.h"
#include "platform/testing/Pump.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/app/cache/CacheTestKit.h"
#include "tests/support/FakeMainWindowController.h"
#include "tests/support/FakeStreamResolver.h"
#include "tests/support/ScopedController.h"

namespace cachetest {

class DownloadCommandFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::FakeMainWindowController::Answers answers;
    answers.currentWindow = window;
    controller->setAnswers(answers);
    setStringSetting(kPreferredVideoQualityKey, "360");
  }
  // The resolver offers the itags at the origin, whose transfers stall.
  void offer(const std::string& videoId, std::initializer_list<int> itags) {
    testsupport::FakeStreamResolver::Entry entry;
    for (int itag : itags) {
      std::string path = "/" + videoId + "/" + std::to_string(itag);
      entry.urlMap[itag] = origin.URLForPath(path);
      origin.canned("GET", path, pltest::FakeReply::stalled("head", 100000));
    }
    resolver->setEntry(videoId, entry);
  }
  // A finished copy in the cache, of the given itag.
  void cache(const std::string& videoId, int itag) {
    writeFile(home.cache(videoId + ".mp4"), "cached " + videoId);
    ns::writePropertyListToFile_atomically(ns::Dictionary{{ns::Value("videotype"), ns::Value(itag)}},
                                           home.cache(videoId + ".info"), true);
    setVideoCacheState(videoId, true);
  }
  void download(const std::string& videoId) {
    manager->addManualDownloadVideoId_withTitle_fromViewController(videoId, "My Video", std::string("Mix"));
  }

  pltest::HeadlessApp app{false};
  CacheSandbox home;
  pltest::ModalScript script;
  ns::Ref<ak::Window> window = app.window(ak::MakeRect(0, 0, 600, 400));
  ns::Ref<testsupport::FakeMainWindowController> controller =
      ns::make<testsupport::FakeMainWindowController>();
  testsupport::ScopedMainWindowController installedController{controller};
  pltest::FakeServer origin;
  ns::Ref<testsupport::FakeStreamResolver> resolver = ns::make<testsupport::FakeStreamResolver>();
  testsupport::ScopedStreamResolver installedResolver{resolver};
  ns::Ref<CacheServer> manager = ns::make<CacheServer>(0);
};

// Installs a quality question for a scope and puts the previous one back at its end.
class ScopedQualityQuestion {
 public:
  explicit ScopedQualityQuestion(DownloadQualityQuestion question)
      : previous_(setDownloadQualityQuestion(std::move(question))) {}
  ~ScopedQualityQuestion() { setDownloadQualityQuestion(std::move(previous_)); }
  ScopedQualityQuestion(const ScopedQualityQuestion&) = delete;
  ScopedQualityQuestion& operator=(const ScopedQualityQuestion&) = delete;

 private:
  DownloadQualityQuestion previous_;
};

}  // namespace cachetest
