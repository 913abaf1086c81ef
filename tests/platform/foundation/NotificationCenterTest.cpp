// Posting, snapshots, weak observers and threads of the notification centre.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/runloop/RunLoop.h"
#include "platform/testing/Pump.h"

namespace {

using ns::NotificationCenter;
using ns::Ref;

struct Recorder : ns::Object {
  std::vector<std::string>* log = nullptr;
  std::string tag;
  std::function<void()> onNote;
  std::thread::id thread;

  void received(const Ref<ns::Notification>& note) {
    thread = std::this_thread::get_id();
    if (log) log->push_back(tag + ":" + note->name());
    if (onNote) onNote();
  }
  void plain() {
    if (log) log->push_back(tag + ":plain");
  }
};

Ref<Recorder> recorder(std::vector<std::string>* log, std::string tag) {
  auto r = ns::make<Recorder>();
  r->log = log;
  r->tag = std::move(tag);
  return r;
}

TEST(NotificationCenterTest, DeliversByNameAndSenderInRegistrationOrder) {
  auto center = ns::make<NotificationCenter>();
  std::vector<std::string> log;
  auto sender = ns::make<ns::Object>();
  auto any = recorder(&log, "any");
  auto named = recorder(&log, "named");
  auto fromSender = recorder(&log, "sender");
  center->addObserver_selector_name_object(any, &Recorder::received, std::nullopt);
  center->addObserver_selector_name_object(named, &Recorder::received, "videoInfoChanged");
  center->addObserver_selector_name_object(fromSender, &Recorder::plain, "videoInfoChanged", sender);

  center->postNotificationName_object("videoInfoChanged");
  center->postNotificationName_object("videoInfoChanged", sender);
  center->postNotificationName_object("cacheDeleted", sender);
  EXPECT_EQ(
      log, (std::vector<std::string>{"any:videoInfoChanged", "named:videoInfoChanged", "any:videoInfoChanged",
                                     "named:videoInfoChanged", "sender:plain", "any:cacheDeleted"}));

  // Removing by name spares registrations made for every name; removing the observer drops all.
  log.clear();
  center->removeObserver_name_object(any.get(), "cacheDeleted", nullptr);
  center->removeObserver_name_object(named.get(), "videoInfoChanged", nullptr);
  center->postNotificationName_object("videoInfoChanged", sender);
  EXPECT_EQ(log, (std::vector<std::string>{"any:videoInfoChanged", "sender:plain"}));
  log.clear();
  center->removeObserver(any.get());
  center->postNotificationName_object("cacheDeleted", sender);
  EXPECT_TRUE(log.empty());
}

TEST(NotificationCenterTest, UserInfoReachesBlocksAndTokensRemoveThem) {
  auto center = ns::make<NotificationCenter>();
  int calls = 0;
  auto token = center->addObserverForName_object_queue_usingBlock(
      "closedCaptionLoaded", nullptr, nullptr, [&](const Ref<ns::Notification>& note) {
        ++calls;
        EXPECT_EQ(note->userInfo()["lang"].string(), "en");
      });
  ns::Dictionary info;
  info.set("lang", "en");
  center->postNotificationName_object_userInfo("closedCaptionLoaded", nullptr, info);
  center->removeObserver(token.get());
  center->postNotificationName_object_userInfo("closedCaptionLoaded", nullptr, info);
  EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterTest, AnObserverRemovedDuringAPostIsNotCalled) {
  auto center = ns::make<NotificationCenter>();
  std::vector<std::string> log;
  auto first = recorder(&log, "first");
  auto second = recorder(&log, "second");
  auto third = recorder(&log, "third");
  first->onNote = [&] { center->removeObserver(second.get()); };
  for (auto& r : {first, second, third})
    center->addObserver_selector_name_object(r, &Recorder::received, "n");
  center->postNotificationName_object("n");
  EXPECT_EQ(log, (std::vector<std::string>{"first:n", "third:n"}));
}

TEST(NotificationCenterTest, AnObserverAddedDuringAPostWaitsForTheNextPost) {
  auto center = ns::make<NotificationCenter>();
  std::vector<std::string> log;
  auto first = recorder(&log, "first");
  auto late = recorder(&log, "late");
  first->onNote = [&] {
    if (log.size() == 1) center->addObserver_selector_name_object(late, &Recorder::received, "n");
  };
  center->addObserver_selector_name_object(first, &Recorder::received, "n");
  center->postNotificationName_object("n");
  EXPECT_EQ(log, (std::vector<std::string>{"first:n"}));
  center->postNotificationName_object("n");
  EXPECT_EQ(log, (std::vector<std::string>{"first:n", "first:n", "late:n"}));
}

TEST(NotificationCenterTest, AnObserverDestroyedDuringAPostIsSkipped) {
  auto center = ns::make<NotificationCenter>();
  std::vector<std::string> log;
  auto first = recorder(&log, "first");
  auto doomed = recorder(&log, "doomed");
  ns::Weak<Recorder> watch = doomed;
  // The first observer drops the last reference to the second; nobody removes it.
  first->onNote = [&] { doomed.reset(); };
  center->addObserver_selector_name_object(first, &Recorder::received, "n");
  center->addObserver_selector_name_object(doomed, &Recorder::received, "n");
  center->postNotificationName_object("n");
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(log, (std::vector<std::string>{"first:n"}));
}

// Registers from its constructor, before any Ref owns it, and removes itself on destruction.
struct SelfRemoving {
  Ref<NotificationCenter> center;
  int* calls;
  SelfRemoving(Ref<NotificationCenter> c, int* n) : center(std::move(c)), calls(n) {
    center->addObserver_selector_name_object(this, &SelfRemoving::note, "n");
  }
  ~SelfRemoving() { center->removeObserver(this); }
  void note() { ++*calls; }
};

TEST(NotificationCenterTest, ObserversAreHeldWeaklyOrRemoveThemselves) {
  auto center = ns::make<NotificationCenter>();
  std::vector<std::string> log;
  auto r = recorder(&log, "r");
  ns::Weak<Recorder> weak = r;
  center->addObserver_selector_name_object(r, &Recorder::received, "n");
  r.reset();
  EXPECT_TRUE(weak.expired()) << "the centre must not keep its observers alive";
  center->postNotificationName_object("n");
  EXPECT_TRUE(log.empty());

  int calls = 0;
  {
    SelfRemoving observer(center, &calls);
    center->postNotificationName_object("n");
  }
  center->postNotificationName_object("n");
  EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterTest, APostFromAnotherThreadRunsObserversOnThatThreadBeforeReturning) {
  auto center = ns::make<NotificationCenter>();
  auto r = recorder(nullptr, "r");
  center->addObserver_selector_name_object(r, &Recorder::received, "n");
  std::thread::id poster;
  bool seenBeforeReturn = false;
  std::thread t([&] {
    poster = std::this_thread::get_id();
    center->postNotificationName_object("n");
    seenBeforeReturn = r->thread == poster;
  });
  t.join();
  EXPECT_TRUE(seenBeforeReturn);
  EXPECT_NE(poster, std::this_thread::get_id());
}

TEST(NotificationCenterTest, BlocksGivenAQueueRunThereWhileThePosterWaits) {
  auto center = ns::make<NotificationCenter>();
  auto queue = ns::make<ns::OperationQueue>();
  std::atomic<bool> ran{false};
  std::thread::id ranOn;
  auto token = center->addObserverForName_object_queue_usingBlock("n", nullptr, queue,
                                                                  [&](const Ref<ns::Notification>&) {
                                                                    ranOn = std::this_thread::get_id();
                                                                    ran = true;
                                                                  });
  bool ranBeforeReturn = false;
  std::thread::id poster;
  std::thread t([&] {
    poster = std::this_thread::get_id();
    center->postNotificationName_object("n");
    ranBeforeReturn = ran.load();
  });
  t.join();
  EXPECT_TRUE(ranBeforeReturn);
  EXPECT_NE(ranOn, poster);
  center->removeObserver(token.get());

  // The main queue: a background post waits for the main thread to run the block.
  std::atomic<bool> posted{false};
  std::thread::id mainRan;
  auto mainToken = center->addObserverForName_object_queue_usingBlock(
      "m", nullptr, ns::OperationQueue::mainQueue(),
      [&](const Ref<ns::Notification>&) { mainRan = std::this_thread::get_id(); });
  std::thread background([&] {
    center->postNotificationName_object("m");
    posted = true;
  });
  EXPECT_TRUE(pltest::pumpUntil([&] { return posted.load(); }, 30));
  background.join();
  EXPECT_EQ(mainRan, std::this_thread::get_id());
  // Posted on the main thread itself, the block runs at once.
  mainRan = {};
  center->postNotificationName_object("m");
  EXPECT_EQ(mainRan, std::this_thread::get_id());
  center->removeObserver(mainToken.get());
}

TEST(NotificationCenterTest, ConcurrentPostsAndRegistrationsAreSafe) {
  auto center = ns::make<NotificationCenter>();
  std::atomic<int> delivered{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        auto token = center->addObserverForName_object_queue_usingBlock(
            "n", nullptr, nullptr, [&](const Ref<ns::Notification>&) { ++delivered; });
        center->postNotificationName_object("n");
        center->removeObserver(token.get());
      }
    });
  }
  for (auto& th : threads) th.join();
  // Each post reaches at least its own observer.
  EXPECT_GE(delivered.load(), 800);
  delivered = 0;
  center->postNotificationName_object("n");
  EXPECT_EQ(delivered.load(), 0);
}

}  // namespace
