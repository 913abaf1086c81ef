#include <gtest/gtest.h>

#include "lib/foundation/BlockAssociatedObjects.h"
#include "lib/foundation/BlockObservation.h"
#include "lib/foundation/InvocationBlocks.h"
#include "lib/foundation/ObjectBlocks.h"
#include "platform/dispatch/Queue.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/KeyValueCoding.h"
#include "platform/runtime/KeyValueObserving.h"
#include "platform/runtime/Send.h"
#include "platform/testing/Pump.h"

namespace lf_test {

// A model object that announces its changes through key-value coding.
class Video : public ns::Object {
 public:
  std::string title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  long count() const { return count_; }
  void setCount(long count) { count_ = count; }
  ns::Ref<ns::Object> copy() const {
    auto v = ns::make<Video>();
    v->title_ = title_;
    return v;
  }

 private:
  std::string title_;
  long count_ = 0;
};

}  // namespace lf_test

PL_CLASS_NAMED(lf_test::Video, "LFVideo", ns::Object) {
  cls.property<&lf_test::Video::title, &lf_test::Video::setTitle>("title", "C,N,V_title");
  cls.property<&lf_test::Video::count, &lf_test::Video::setCount>("count", "N,V_count");
  cls.method<&lf_test::Video::copy>("copy");
}

namespace {

using lf_test::Video;
using ns::Value;

struct Delivery {
  ns::Object* object;
  std::string keyPath;
  ns::Dictionary change;
};

TEST(BlockObservationTest, EachFormReceivesWhatItsContextNames) {
  auto video = ns::make<Video>();
  std::vector<ns::Object*> plain;
  std::vector<Delivery> withChange, withPath, withBoth;
  ObjectBlockObservation::addObserverForKeyPath_task(
      video.get(), "title", [&](ns::Ref<ns::Object> o) { plain.push_back(o.get()); });
  ObjectBlockObservation::addObserverForKeyPath_options_task(
      video.get(), "title", ns::NSKeyValueObservingOptionNew,
      [&](ns::Ref<ns::Object> o, ns::Dictionary change) {
        withChange.push_back({o.get(), "", change});
      });
  ObjectBlockObservation::addObserverForKeyPaths_task(video.get(), {"title", "count"},
                                                      [&](ns::Ref<ns::Object> o, std::string path) {
                                                        withPath.push_back({o.get(), path, {}});
                                                      });
  ObjectBlockObservation::addObserverForKeyPaths_options_task(
      video.get(), {"count"}, ns::NSKeyValueObservingOptionNew | ns::NSKeyValueObservingOptionOld,
      [&](ns::Ref<ns::Object> o, std::string path, ns::Dictionary change) {
        withBoth.push_back({o.get(), path, change});
      });
  EXPECT_EQ(ObjectBlockObservation::blk_observerBlocks(video.get()).size(), 4u);

  ns::setValue_forKey(video, Value("Hello"), "title");
  ns::setValue_forKey(video, Value(5L), "count");

  EXPECT_EQ(plain, (std::vector<ns::Object*>{video.get()}));
  ASSERT_EQ(withChange.size(), 1u);
  EXPECT_EQ(withChange[0].change[Value(ns::NSKeyValueChangeNewKey)], Value("Hello"));
  ASSERT_EQ(withPath.size(), 2u);
  EXPECT_EQ(withPath[0].keyPath, "title");
  EXPECT_EQ(withPath[1].keyPath, "count");
  EXPECT_TRUE(withPath[0].change.empty());
  ASSERT_EQ(withBoth.size(), 1u);
  EXPECT_EQ(withBoth[0].keyPath, "count");
  EXPECT_EQ(withBoth[0].change[Value(ns::NSKeyValueChangeNewKey)].integerValue(), 5);
  EXPECT_EQ(withBoth[0].change[Value(ns::NSKeyValueChangeOldKey)].integerValue(), 0);
}

TEST(BlockObservationTest, RemovingLastKeyPathsAndIdentifiersEmptiesTheTable) {
  auto video = ns::make<Video>();
  int calls = 0;
  ObjectBlockObservation::addObserverForKeyPaths_identifier_options_task(
      video.get(), {"title", "count"}, "both", 0,
      [&](ns::Ref<ns::Object>, std::string, ns::Dictionary) { ++calls; });
  ObjectBlockObservation::addObserverForKeyPath_identifier_options_task(
      video.get(), "title", "one", 0, [&](ns::Ref<ns::Object>, ns::Dictionary) { ++calls; });

  ObjectBlockObservation::removeObserverForKeyPath_identifier(video.get(), "title", "both");
  auto table = ObjectBlockObservation::blk_observerBlocks(video.get());
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table["both"]->keyPaths(), (std::vector<std::string>{"count"}));
  ns::setValue_forKey(video, Value("x"), "title");
  EXPECT_EQ(calls, 1);  // only "one" still watches the title

  ObjectBlockObservation::removeObserverForKeyPath_identifier(video.get(), "count", "both");
  EXPECT_EQ(ObjectBlockObservation::blk_observerBlocks(video.get()).count("both"), 0u);
  ObjectBlockObservation::removeObserversWithIdentifier(video.get(), "one");
  EXPECT_TRUE(ObjectBlockObservation::blk_observerBlocks(video.get()).empty());
  EXPECT_FALSE(ns::hasObservers(video.get()));
  ns::setValue_forKey(video, Value("y"), "title");
  ns::setValue_forKey(video, Value(3L), "count");
  EXPECT_EQ(calls, 1);
}

TEST(BlockObservationTest, ASecondRegistrationUnderAnIdentifierReplacesAndStopsTheFirst) {
  auto video = ns::make<Video>();
  int first = 0, second = 0;
  ObjectBlockObservation::addObserverForKeyPath_identifier_options_task(
      video.get(), "title", "id", 0, [&](ns::Ref<ns::Object>, ns::Dictionary) { ++first; });
  auto replaced = ObjectBlockObservation::blk_observerBlocks(video.get())["id"];
  ObjectBlockObservation::addObserverForKeyPath_identifier_options_task(
      video.get(), "title", "id", 0, [&](ns::Ref<ns::Object>, ns::Dictionary) { ++second; });
  EXPECT_EQ(ObjectBlockObservation::blk_observerBlocks(video.get()).size(), 1u);
  ns::setValue_forKey(video, Value("t"), "title");
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  EXPECT_EQ(replaced->observee(), nullptr);
}

TEST(BlockObservationTest, ATaskRemovingItsOwnObserverDuringDeliveryRunsClean) {
  auto video = ns::make<Video>();
  int calls = 0;
  std::string id;
  id = ObjectBlockObservation::addObserverForKeyPath_task(video.get(), "title", [&](ns::Ref<ns::Object> o) {
    ObjectBlockObservation::removeObserversWithIdentifier(o.get(),
                                                          id);  // drops the observer's last reference
    ++calls;                                                    // ...while this task still runs
  });
  ns::setValue_forKey(video, Value("a"), "title");
  ns::setValue_forKey(video, Value("b"), "title");
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(ns::hasObservers(video.get()));
}

TEST(BlockObservationTest, AnObservedObjectThatDiesIsUnregisteredFirst) {
  auto video = ns::make<Video>();
  const ns::Object* address = video.get();
  int calls = 0;
  ObjectBlockObservation::addObserverForKeyPaths_task(video.get(), {"title", "count"},
                                                      [&](ns::Ref<ns::Object>, std::string) { ++calls; });
  auto observer = ObjectBlockObservation::blk_observerBlocks(video.get()).begin()->second;
  video.reset();
  EXPECT_EQ(observer->observee(), nullptr);
  EXPECT_TRUE(observer->keyPaths().empty());
  EXPECT_FALSE(ns::hasObservers(address));
  EXPECT_EQ(calls, 0);
}

TEST(BlockAssociatedObjectsTest, PoliciesDecideWhatTheAssociationKeeps) {
  static char strongKey, weakKey, copyKey, atomicKey;
  auto owner = ns::make<ns::Object>();
  auto value = ns::make<Video>();
  value->setTitle("original");
  ns::Weak<Video> watch = value;

  ObjectBlockAssociatedObjects::associateValue_withKey(owner.get(), Value(ns::Ref<ns::Object>(value)),
                                                       &strongKey);
  ObjectBlockAssociatedObjects::weaklyAssociateValue_withKey(owner.get(), value, &weakKey);
  ObjectBlockAssociatedObjects::associateCopyOfValue_withKey(owner.get(), Value(ns::Ref<ns::Object>(value)),
                                                             &copyKey);
  ObjectBlockAssociatedObjects::atomicallyAssociateValue_withKey(owner.get(), Value("text"), &atomicKey);

  auto copied = ObjectBlockAssociatedObjects::associatedValueForKey(owner.get(), &copyKey).objectAs<Video>();
  ASSERT_NE(copied, nullptr);
  EXPECT_NE(copied.get(), value.get());
  EXPECT_EQ(copied->title(), "original");
  EXPECT_EQ(ObjectBlockAssociatedObjects::associatedValueForKey(owner.get(), &atomicKey), Value("text"));

  value.reset();
  EXPECT_FALSE(watch.expired());  // the strong association keeps it
  EXPECT_EQ(ObjectBlockAssociatedObjects::associatedValueForKey(owner.get(), &weakKey).objectAs<Video>(),
            watch.lock());
  ObjectBlockAssociatedObjects::associateValue_withKey(owner.get(), Value(), &strongKey);
  EXPECT_TRUE(watch.expired());
  EXPECT_TRUE(ObjectBlockAssociatedObjects::associatedValueForKey(owner.get(), &weakKey).isNil());

  ObjectBlockAssociatedObjects::removeAllAssociatedObjects(owner.get());
  EXPECT_TRUE(ObjectBlockAssociatedObjects::associatedValueForKey(owner.get(), &copyKey).isNil());
}

TEST(ObjectBlocksTest, DeferredBlocksRunOnTheMainQueueLaterUnlessCancelled) {
  pltest::VirtualClock clock;
  bool ranNow = false, cancelledRan = false;
  ns::Ref<ns::Object> received;
  auto receiver = ns::make<ns::Object>();
  ObjectBlocks::performBlock_afterDelay([&] { ranNow = true; }, 0);
  auto cancelled = ObjectBlocks::performBlock_afterDelay([&] { cancelledRan = true; }, 1.0);
  ObjectBlocks::performBlock_afterDelay(
      receiver, [&](ns::Ref<ns::Object> o) { received = o; }, 2.0);
  EXPECT_FALSE(ranNow);  // not at once, even with no delay
  ASSERT_TRUE(pltest::pumpUntil([&] { return ranNow; }));
  ObjectBlocks::cancelBlock(cancelled);
  clock.advance(3);
  ASSERT_TRUE(pltest::pumpUntil([&] { return received != nullptr; }));
  EXPECT_EQ(received, receiver);
  EXPECT_FALSE(cancelledRan);
  ObjectBlocks::cancelBlock(cancelled);  // after its time: nothing happens
}

TEST(InvocationBlocksTest, TheGrabberRecordsTheMessageInsteadOfPerformingIt) {
  auto video = ns::make<Video>();
  auto invocation = InvocationBlocks::invocationWithTarget_block(
      video,
      [](ns::Ref<BlockInvocationGrabber> g) { ns::send<void>(g, ns::Sel("setTitle:"), std::string("x")); });
  ASSERT_NE(invocation, nullptr);
  EXPECT_EQ(video->title(), "");
  EXPECT_EQ(invocation->target(), video);
  EXPECT_EQ(invocation->selector(), ns::Sel("setTitle:"));
  invocation->invoke();
  EXPECT_EQ(video->title(), "x");
  EXPECT_EQ(InvocationBlocks::invocationWithTarget_block(video, [](ns::Ref<BlockInvocationGrabber>) {}),
            nullptr);
}

}  // namespace
