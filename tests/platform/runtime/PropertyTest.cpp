#include <gtest/gtest.h>

#include <cstdio>

#include "platform/core/Exception.h"
#include "platform/runtime/KeyValueCoding.h"
#include "platform/runtime/KeyValueObserving.h"
#include "platform/runtime/Send.h"
#include "tests/platform/runtime/TestClasses.h"

namespace {

using namespace rt_test;
using ns::Ref;
using ns::Value;

std::string address(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

template <class F>
ns::Exception raised(F&& fn) {
  try {
    fn();
  } catch (const ns::Exception& e) {
    return e;
  }
  return ns::Exception("(none)", "(nothing raised)");
}

TEST(DeclaredProperties, ComeBackInDeclarationOrderWithCompilerAttributes) {
  ns::Class video = ns::NSClassFromString("RTVideo");
  auto props = ns::class_copyPropertyList(video);
  std::vector<std::pair<std::string, std::string>> got;
  for (ns::Property p : props) got.emplace_back(ns::property_getName(p), ns::property_getAttributes(p));
  std::vector<std::pair<std::string, std::string>> expected = {
      {"title", "T@\"NSString\",C,N,V_title"},
      {"count", "Ti,N,V_count"},
      {"delegate", "T@\"RTCache\",W,N,Vdelegate"},
      {"finished", "TB,N,GisFinished,V_finished"},
      {"rating", "Td,R,N,V_rating"},
      {"related", "T@\"RTVideo\",&,N,V_related"},
      {"subtitle", "T@\"NSString\",C,N,V_subtitle"},
      {"identifier", "T@\"NSString\",D,N"},
  };
  EXPECT_EQ(got, expected);

  ns::Property finished = ns::class_getProperty(video, "finished");
  EXPECT_EQ(ns::property_copyAttributeValue(finished, "G"), "isFinished");
  EXPECT_EQ(ns::property_copyAttributeValue(finished, "N"), "");
  EXPECT_EQ(ns::property_copyAttributeValue(finished, "R"), std::nullopt);
  EXPECT_EQ(ns::property_copyAttributeValue(finished, "T"), "B");
  EXPECT_EQ(ns::property_copyAttributeValue(ns::class_getProperty(video, "title"), "T"), "@\"NSString\"");
  // Custom getters are the registered selectors; read-only properties have no setter.
  EXPECT_TRUE(ns::instancesRespondToSelector(video, "isFinished"));
  EXPECT_FALSE(ns::instancesRespondToSelector(video, "finished"));
  EXPECT_FALSE(ns::instancesRespondToSelector(video, "setRating:"));
  EXPECT_EQ(ns::class_getProperty(video, "nothing"), nullptr);
  // Superclass properties are found by name but not listed for the subclass.
  EXPECT_NE(ns::class_getProperty(ns::NSClassFromString("RTSubCounter"), "count"), nullptr);
  EXPECT_TRUE(ns::class_copyPropertyList(ns::NSClassFromString("RTSubCounter")).empty());
}

TEST(KeyValueCoding, ReadsAndWritesScalarsAndObjectsThroughProperties) {
  auto v = ns::make<Video>();
  ns::setValue_forKey(v, Value("Kites"), "title");
  ns::setValue_forKey(v, Value(12), "count");
  ns::setValue_forKey(v, Value(true), "finished");
  EXPECT_EQ(v->title(), "Kites");
  EXPECT_EQ(v->count(), 12);
  EXPECT_TRUE(v->isFinished());

  Value title = ns::valueForKey(v, "title");
  EXPECT_TRUE(title.isString());
  EXPECT_EQ(title.string(), "Kites");
  Value count = ns::valueForKey(v, "count");
  ASSERT_TRUE(count.isNumber());
  EXPECT_EQ(count.number().kind(), ns::Number::Kind::Int32);
  EXPECT_EQ(count.intValue(), 12);
  EXPECT_TRUE(ns::valueForKey(v, "finished").isBool());
  EXPECT_EQ(ns::valueForKey(v, "rating").doubleValue(), 4.5);
  // Strings convert for numeric properties, as the platform's number accessors do.
  ns::setValue_forKey(v, Value("31"), "count");
  EXPECT_EQ(v->count(), 31);

  // Objects and optional strings; nil clears.
  auto cache = ns::make<RTCache>();
  ns::setValue_forKey(v, Value(cache), "delegate");
  EXPECT_EQ(v->delegate(), cache);
  EXPECT_EQ(ns::valueForKey(v, "delegate").object(), cache);
  EXPECT_TRUE(ns::valueForKey(v, "subtitle").isNil());
  ns::setValue_forKey(v, Value("en"), "subtitle");
  EXPECT_EQ(v->subtitle(), "en");
  ns::setValue_forKey(v, Value(), "subtitle");
  EXPECT_EQ(v->subtitle(), std::nullopt);

  // Key paths go through objects and dictionaries.
  auto other = ns::make<Video>();
  other->setTitle("Other");
  v->setRelated(other);
  EXPECT_EQ(ns::valueForKeyPath(v, "related.title").string(), "Other");
  ns::setValue_forKeyPath(v, Value("Renamed"), "related.title");
  EXPECT_EQ(other->title(), "Renamed");
  EXPECT_TRUE(ns::valueForKeyPath(v, "related.related.title").isNil());
  ns::Dictionary dict{{Value("inner"), Value(ns::Dictionary{{Value("n"), Value(3)}})}};
  EXPECT_EQ(ns::valueForKeyPathOfValue(Value(dict), "inner.n").intValue(), 3);
}

TEST(KeyValueCoding, UnknownKeysAndNilScalarsRaiseThePlatformTexts) {
  auto v = ns::make<Video>();
  std::string where = "<RTVideo " + address(v.get()) + ">";
  auto get = raised([&] { ns::valueForKey(v, "missing"); });
  EXPECT_EQ(get.name(), "NSUnknownKeyException");
  EXPECT_EQ(get.reason(),
            "[" + where +
                " valueForUndefinedKey:]: this class is not key value coding-compliant for the key missing.");
  auto set = raised([&] { ns::setValue_forKey(v, Value(1), "rating"); });
  EXPECT_EQ(set.name(), "NSUnknownKeyException");
  EXPECT_EQ(
      set.reason(),
      "[" + where +
          " setValue:forUndefinedKey:]: this class is not key value coding-compliant for the key rating.");
  auto nil = raised([&] { ns::setValue_forKey(v, Value(), "count"); });
  EXPECT_EQ(nil.name(), "NSInvalidArgumentException");
  EXPECT_EQ(nil.reason(),
            "[" + where + " setNilValueForKey]: could not set nil as the value for the key count.");
  // A value of the wrong class for an object property is refused, not stored.
  EXPECT_ANY_THROW(ns::setValue_forKey(v, Value(ns::make<Video>()), "delegate"));
  EXPECT_EQ(v->delegate(), nullptr);
}

TEST(KeyValueObserving, ObserversGetOldNewAndPriorNotifications) {
  auto v = ns::make<Video>();
  auto observer = ns::make<Observer>();
  int context = 0;
  v->setTitle("Before");
  ns::addObserver_forKeyPath_options_context(v.get(), observer, "title",
                                             ns::NSKeyValueObservingOptionNew |
                                                 ns::NSKeyValueObservingOptionOld |
                                                 ns::NSKeyValueObservingOptionPrior,
                                             &context);
  ns::setValue_forKey(v, Value("After"), "title");
  ASSERT_EQ(observer->seen.size(), 2u);
  const auto& prior = observer->seen[0];
  EXPECT_EQ(prior.keyPath, "title");
  EXPECT_EQ(prior.object, v);
  EXPECT_EQ(prior.context, &context);
  EXPECT_TRUE(prior.change[Value("notificationIsPrior")].boolValue());
  EXPECT_EQ(prior.change[Value("old")].string(), "Before");
  EXPECT_TRUE(prior.change[Value("new")].isNil());
  const auto& after = observer->seen[1];
  EXPECT_EQ(after.change[Value("kind")].intValue(), 1);
  EXPECT_EQ(after.change[Value("old")].string(), "Before");
  EXPECT_EQ(after.change[Value("new")].string(), "After");
  EXPECT_FALSE(after.change.contains(Value("notificationIsPrior")));

  // A class that announces its own changes (and opts out of automatic ones) notifies once.
  observer->seen.clear();
  ns::addObserver_forKeyPath_options_context(
      v.get(), observer, "count", ns::NSKeyValueObservingOptionNew | ns::NSKeyValueObservingOptionInitial,
      nullptr);
  ASSERT_EQ(observer->seen.size(), 1u);  // the initial notification
  EXPECT_EQ(observer->seen[0].change[Value("new")].intValue(), 0);
  v->setCount(5);
  ns::setValue_forKey(v, Value(6), "count");
  ASSERT_EQ(observer->seen.size(), 3u);
  EXPECT_EQ(observer->seen[1].change[Value("new")].intValue(), 5);
  EXPECT_EQ(observer->seen[2].change[Value("new")].intValue(), 6);
  EXPECT_FALSE(observer->seen[2].change.contains(Value("old")));

  // Key paths through another object are told when their first key changes.
  auto pathObserver = ns::make<Observer>();
  ns::addObserver_forKeyPath_options_context(v.get(), pathObserver, "related.title",
                                             ns::NSKeyValueObservingOptionNew, nullptr);
  auto other = ns::make<Video>();
  other->setTitle("Linked");
  ns::setValue_forKey(v, Value(other), "related");
  ASSERT_EQ(pathObserver->seen.size(), 1u);
  EXPECT_EQ(pathObserver->seen[0].change[Value("new")].string(), "Linked");

  // Removed observers hear nothing; removing again raises.
  observer->seen.clear();
  ns::removeObserver_forKeyPath(v.get(), observer.get(), "title");
  ns::removeObserver_forKeyPath_context(v.get(), observer.get(), "count", nullptr);
  ns::setValue_forKey(v, Value("Later"), "title");
  v->setCount(9);
  EXPECT_TRUE(observer->seen.empty());
  auto e = raised([&] { ns::removeObserver_forKeyPath(v.get(), observer.get(), "title"); });
  EXPECT_EQ(e.name(), "NSRangeException");
  EXPECT_EQ(e.reason(), "Cannot remove an observer <RTObserver " + address(observer.get()) +
                            "> for the key path \"title\" from <RTVideo " + address(v.get()) +
                            "> because it is not registered as an observer.");
  EXPECT_EQ(raised([&] {
              ns::removeObserver_forKeyPath_context(v.get(), pathObserver.get(), "related.title", &context);
            }).name(),
            "NSRangeException");

  // Observers are weak: one that died is skipped.
  pathObserver.reset();
  ns::setValue_forKey(v, Value(ns::make<Video>()), "related");
}

TEST(KeyValueObserving, AnObjectWithoutAHandlerRaisesWhenNotified) {
  auto v = ns::make<Video>();
  auto plain = ns::make<RTCache>();
  ns::addObserver_forKeyPath_options_context(v.get(), plain, "title", 0, nullptr);
  auto e = raised([&] { ns::setValue_forKey(v, Value("x"), "title"); });
  EXPECT_EQ(e.name(), "NSInternalInconsistencyException");
  EXPECT_NE(e.reason().find(
                "An -observeValueForKeyPath:ofObject:change:context: message was received but not handled."),
            std::string::npos);
}

TEST(SendWithValues, StringsAndOptionalsCrossAsObjects) {
  auto v = ns::make<Video>();
  ns::send(v, "setTitle:", std::string("Sent"));
  EXPECT_EQ(ns::send<std::string>(v, "title"), "Sent");
  EXPECT_EQ(ns::send<Value>(v, "title").string(), "Sent");
  ns::send(v, "setSubtitle:", std::optional<std::string>());
  EXPECT_EQ(ns::send<std::optional<std::string>>(v, "subtitle"), std::nullopt);
  EXPECT_EQ(ns::send<int>(v, "count"), 0);
  // A literal given for a string parameter is passed as a string.
  ns::send(v, "setTitle:", "Literal");
  EXPECT_EQ(v->title(), "Literal");
  // A string given for a number parameter is refused.
  EXPECT_THROW(ns::send(v, "setCount:", std::string("3")), ns::Exception);
}

}  // namespace
