#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "lib/google/ApiConstants.h"
#include "lib/google/ApiErrorObject.h"
#include "lib/google/ApiJSONParser.h"
#include "lib/google/ApiObject.h"
#include "platform/runtime/KeyValueCoding.h"
#include "platform/runtime/Send.h"
#include "tests/lib/google/GoogleTestSupport.h"
#include "tests/lib/google/ModelTestClasses.h"

namespace {

using googletest::cls;
using googletest::compact;
using googletest::tree;
using googletest::words;

ns::Ref<ApiObject> make(const std::string& text, ns::Class defaultClass = nullptr,
                        ApiSurrogates surrogates = nullptr) {
  return ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(tree(text), defaultClass, surrogates,
                                                                        ns::Value());
}

TEST(ApiObjectFactory, KindsChooseTheClass) {
  struct Case {
    const char* json;
    const char* defaultClass;
    const char* expected;  // nullptr: no object
  };
  const std::vector<Case> cases = {
      {R"({"kind":"pelorintest#video","id":"v"})", "ApiObject", "TestVideo"},
      {R"({"kind":"pelorintest#video"})", nullptr, "TestVideo"},
      {R"({"kind":"pelorintest#channel","id":"c"})", "TestVideo", "TestChannel"},
      {R"({"kind":"pelorintest#unknown","id":"u"})", "TestChannel", "TestChannel"},
      {R"({"kind":"","id":"u"})", "TestChannel", "TestChannel"},
      {R"({"kind":42,"id":"u"})", "TestChannel", "TestChannel"},
      {R"({"kind":["pelorintest#video"],"id":"u"})", "TestChannel", "TestChannel"},
      {R"({"kind":{"a":1},"id":"u"})", nullptr, "ApiObject"},
      {R"({"kind":null,"id":"u"})", nullptr, "ApiObject"},
      {R"({"id":"u"})", nullptr, "ApiObject"},
      {R"({})", "TestVideo", "TestVideo"},
      {R"({})", nullptr, nullptr},
      {R"([])", "TestVideo", "TestVideo"},
      {R"([1,2])", "ApiResultArray", "ApiResultArray"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.json) + " default " + (c.defaultClass ? c.defaultClass : "nil"));
    auto o = make(c.json, c.defaultClass ? cls(c.defaultClass) : nullptr);
    if (!c.expected) {
      EXPECT_FALSE(o);
      continue;
    }
    ASSERT_TRUE(o);
    EXPECT_EQ(o->className(), c.expected);
    EXPECT_EQ(ns::object_getClass(o.get()), cls(c.expected));
  }

  // An empty dictionary with a default class: an empty object without JSON.
  auto empty = make("{}", cls("TestVideo"));
  EXPECT_TRUE(empty->JSONValue().isNil());
  // The JSON null: nothing without a class, an empty object with one; text is never an object.
  auto none =
      ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(ns::Value::null(), nullptr, nullptr, {});
  EXPECT_FALSE(none);
  auto nullWithClass = ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(
      ns::Value::null(), cls("TestVideo"), nullptr, {});
  ASSERT_TRUE(nullWithClass);
  EXPECT_TRUE(nullWithClass->JSONValue().isNil());
  EXPECT_FALSE(ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(ns::Value("text"),
                                                                              cls("TestVideo"), nullptr, {}));
  EXPECT_FALSE(ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(ns::Value(), cls("TestVideo"),
                                                                              nullptr, {}));
  EXPECT_EQ(ApiObject::registeredObjectClassForKind("pelorintest#videoListResponse"), cls("TestVideoList"));
  EXPECT_EQ(ApiObject::registeredObjectClassForKind("pelorintest#none"), nullptr);
}

TEST(ApiObjectFactory, SurrogatesApplyToChildrenAndInsideArrays) {
  ApiSurrogates surrogates = ApiMakeSurrogates({{cls("TestVideo"), cls("TestSpecialVideo")},
                                                // Not a subclass: ignored.
                                                {cls("TestChannel"), cls("TestThumbnail")}});
  auto list = std::dynamic_pointer_cast<TestVideoList>(make(
      R"({"kind":"pelorintest#videoListResponse","items":[{"kind":"pelorintest#video","id":"a"},{"id":"b"},{"kind":"pelorintest#channel","id":"c"}]})",
      nullptr, surrogates));
  ASSERT_TRUE(list);
  auto items = list->items();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_TRUE(std::dynamic_pointer_cast<TestSpecialVideo>(items[0].object()));
  EXPECT_TRUE(std::dynamic_pointer_cast<TestSpecialVideo>(items[1].object()));  // by the element class
  EXPECT_EQ(items[2].object()->className(), "TestChannel");
  // Passed down to the children.
  EXPECT_EQ(items[0].objectAs<ApiObject>()->surrogates(), surrogates);
  auto top = make(R"({"kind":"pelorintest#video","id":"a"})", nullptr, surrogates);
  EXPECT_EQ(top->className(), "TestSpecialVideo");
}

TEST(ApiObjectSharedJSON, EditsThroughChildrenReachTheParentAndCopiesStayApart) {
  auto video = std::dynamic_pointer_cast<TestVideo>(
      make(R"({"kind":"pelorintest#video","id":"v1","snippet":{"title":"Old","tags":["a"]}})"));
  ASSERT_TRUE(video);
  auto snippet = video->snippet();
  ASSERT_TRUE(snippet);
  EXPECT_EQ(video->snippet(), snippet);  // built once, cached
  snippet->setTitle(std::string("New"));
  EXPECT_EQ(compact(video->JSONValue()),
            R"({"kind":"pelorintest#video","id":"v1","snippet":{"title":"New","tags":["a"]}})");

  // A child set while it had no JSON, then edited.
  auto fresh = ApiObject::object<TestVideo>();
  auto statistics = ApiObject::object<TestStatistics>();
  EXPECT_TRUE(statistics->JSONValue().isNil());
  fresh->setStatistics(statistics);
  statistics->setViewCount(12);
  fresh->setIdentifier(std::string("x"));
  EXPECT_EQ(compact(fresh->JSONValue()), R"({"statistics":{"viewCount":12},"id":"x"})");

  // A child read from an empty member shares it: the edit is not lost.
  auto emptySnippet =
      std::dynamic_pointer_cast<TestVideo>(make(R"({"id":"e","snippet":{}})", cls("TestVideo")));
  emptySnippet->snippet()->setTitle(std::string("T"));
  EXPECT_EQ(compact(emptySnippet->JSONValue()), R"({"id":"e","snippet":{"title":"T"}})");

  // An edit of a copy leaves the original's text unchanged.
  std::string before = *video->JSONString();
  auto copy = std::dynamic_pointer_cast<TestVideo>(video->copy());
  ASSERT_TRUE(copy);
  EXPECT_TRUE(copy->isEqual(video.get()));
  copy->snippet()->setTitle(std::string("Copy"));
  copy->setIdentifier(std::string("v2"));
  EXPECT_EQ(*video->JSONString(), before);
  EXPECT_EQ(copy->snippet()->title(), std::string("Copy"));
  EXPECT_FALSE(copy->isEqual(video.get()));

  // Raw JSON access goes to the same dictionary.
  video->setJSONValue_forKey(ns::Value(7), "position");
  EXPECT_EQ(video->position(), 7);
  video->setJSONValue_forKey(ns::Value(), "position");
  EXPECT_TRUE(video->JSONValueForKey("position").isNil());
  // The application's own values are never JSON.
  video->setUserData(ns::Value("mine"));
  video->setProperty_forKey(ns::Value(3), "row");
  EXPECT_EQ(video->userData().string(), "mine");
  EXPECT_EQ(video->propertyForKey("row").intValue(), 3);
  EXPECT_EQ(compact(video->JSONValue()).find("mine"), std::string::npos);
  video->setProperty_forKey(ns::Value(), "row");
  EXPECT_TRUE(video->propertyForKey("row").isNil());
}

TEST(ApiObjectComparison, EqualityHashPatchFieldsAndDescription) {
  const char* json = R"({"id":"same","title":"T"})";
  auto video = make(json, cls("TestVideo"));
  auto channel = make(json, cls("TestChannel"));
  auto special = make(json, cls("TestSpecialVideo"));
  auto base = make(json, cls("ApiObject"));
  EXPECT_FALSE(video->isEqual(channel.get()));  // siblings
  EXPECT_TRUE(special->isEqual(video.get()));   // subclass and base
  EXPECT_TRUE(video->isEqual(special.get()));
  EXPECT_TRUE(base->isEqual(channel.get()));
  EXPECT_FALSE(make(R"({"id":"other"})", cls("TestVideo"))->isEqual(video.get()));
  EXPECT_TRUE(ApiObject::object<TestVideo>()->isEqual(ApiObject::object<TestVideo>().get()));
  for (const ns::Ref<ApiObject>& o :
       std::vector<ns::Ref<ApiObject>>{video, channel, special, base, ApiObject::object<TestVideo>()})
    EXPECT_EQ(o->hash(), video->hash());

  // Patch.
  EXPECT_FALSE(video->patchObjectFromOriginal(video));
  auto edited = std::dynamic_pointer_cast<TestVideo>(video->copy());
  edited->setJSONValue_forKey(ns::Value(), "title");
  edited->setPosition(3);
  auto patch = edited->patchObjectFromOriginal(video);
  ASSERT_TRUE(patch);
  EXPECT_EQ(patch->className(), "TestVideo");
  EXPECT_EQ(compact(patch->JSONValue()), R"({"title":null,"position":3})");
  auto nested = ApiObject::patchDictionaryForJSON_fromOriginalJSON(
      tree(R"({"s":{"a":1,"b":{"c":2}},"t":[1],"u":true})"),
      tree(R"({"s":{"a":1,"b":{"c":3}},"t":[1],"u":1})"));
  EXPECT_EQ(compact(ns::Value(nested)), R"({"s":{"b":{"c":2}},"u":true})");

  // Field selector text.
  EXPECT_EQ(ApiObject::fieldsDescriptionForJSON(
                tree(R"({"snippet":{"title":"t","thumbnails":{"default":{"url":"u"}}},"id":"x"})")),
            "id,snippet/thumbnails/default/url,snippet/title");
  EXPECT_EQ(
      ApiObject::fieldsDescriptionForJSON(tree(
          R"({"items":[{"id":"a","snippet":{"title":"t"}}],"empty":[],"tags":["x"],"n":null,"Kind":"k","b":true})")),
      "b,items(id,snippet/title),Kind,tags");  // an empty array and null give nothing

  // Description: "?" marks undeclared keys, arrays show their count.
  auto described = make(
      R"({"kind":"pelorintest#video","id":"v","snippet":{"title":"t","tags":[]},"extra":[1,2,3],"odd":5})");
  std::string text = described->description();
  EXPECT_EQ(text.rfind("TestVideo 0x", 0), 0u) << text;
  EXPECT_NE(text.find(R"(: {kind?:"pelorintest#video" id:"v" snippet:{title,tags} extra:[3] odd?:5})"),
            std::string::npos)
      << text;
  EXPECT_EQ(described->descriptionWithLocale(ns::Value()), text);
}

TEST(ApiObjectSchema, DeclaredPropertiesKnownKeysAndAdditionalProperties) {
  auto declared = ApiObject::allDeclaredPropertiesOfClass(cls("TestSpecialVideo"));
  EXPECT_EQ(declared, (std::vector<std::string>{"identifier", "position", "embeddable", "snippet",
                                                "statistics", "extra", "mutableList", "hidden"}));
  auto known = ApiObject::allKnownKeysOfClass(cls("TestVideo"));
  EXPECT_EQ(known[0], "id");
  EXPECT_EQ(ApiObject::propertyToJSONKeyMapForClass(cls("TestSpecialVideo")),
            (ns::Dictionary{{"identifier", "id"}}));
  EXPECT_EQ(ApiObject::arrayPropertyToClassMapForClass(cls("TestVideoList")),
            (ns::Dictionary{{"items", "TestVideo"}}));
  EXPECT_TRUE(ApiObject::propertyToJSONKeyMapForClass(ApiObject::classObject()).empty());

  auto channel = std::dynamic_pointer_cast<TestChannel>(make(
      R"({"kind":"pelorintest#channel","id":"c","banner":{"url":"b.png","width":"640"},"note":"n","count":4})"));
  ASSERT_TRUE(channel);
  EXPECT_EQ(channel->additionalJSONKeys(), (std::vector<std::string>{"kind", "banner", "note", "count"}));
  auto banner = channel->additionalPropertyForName("banner").objectAs<TestThumbnail>();
  ASSERT_TRUE(banner);  // the class for additional properties
  EXPECT_EQ(banner->width(), 640);
  EXPECT_EQ(channel->additionalPropertyForName("banner").object(), banner);  // cached
  EXPECT_EQ(channel->additionalPropertyForName("note").string(), "n");
  EXPECT_TRUE(channel->additionalPropertyForName("absent").isNil());
  EXPECT_EQ(channel->additionalProperties().count(), 4u);
  auto logo = ApiObject::object<TestThumbnail>();
  channel->setAdditionalProperty_forName(ns::Value(logo), "logo");
  logo->setUrl(std::string("l.png"));
  EXPECT_EQ(compact(channel->JSONValueForKey("logo")), R"({"url":"l.png"})");
  channel->setAdditionalProperty_forName(ns::Value(), "note");
  EXPECT_TRUE(channel->JSONValueForKey("note").isNil());
  auto plain = make(R"({"id":"x"})", cls("TestVideo"));
  EXPECT_FALSE(std::dynamic_pointer_cast<ApiObject>(plain)->additionalJSONKeys());
}

TEST(ApiDynamicProperties, KeyValueCodingUsesTheJSONKeys) {
  auto video = make(R"({"id":"v1","snippet":{"title":"Hello"}})", cls("TestVideo"));
  EXPECT_EQ(ns::valueForKeyPath(video, "identifier").string(), "v1");
  ns::setValue_forKeyPath(video.get(), ns::Value("v2"), "identifier");
  EXPECT_EQ(video->JSONValueForKey("id").string(), "v2");
  EXPECT_TRUE(video->JSONValueForKey("identifier").isNil());
  EXPECT_EQ(ns::valueForKeyPath(video, "snippet.title").string(), "Hello");
  // "Title" names the property "title".
  auto snippet = std::dynamic_pointer_cast<TestVideo>(video)->snippet();
  EXPECT_EQ(ns::valueForKey(snippet, "Title").string(), "Hello");
  ns::setValue_forKey(snippet.get(), ns::Value("Set"), "Title");
  EXPECT_EQ(snippet->title(), std::string("Set"));
  // A custom getter name, and a property that is not dynamic.
  video->setJSONValue_forKey(ns::Value(true), "hidden");
  EXPECT_EQ(ns::send<ns::BOOL>(video, "isHidden"), ns::YES);
  EXPECT_FALSE(ns::respondsToSelector(video, "plain"));
  EXPECT_FALSE(ns::respondsToSelector(video, "nothing"));
  EXPECT_THROW(ns::valueForKey(video, "nothing"), std::exception);
  // The record names the JSON key.
  std::string key;
  EXPECT_TRUE(ApiRuntimeCommon::getStoredDispatchForClass_selector_returnClass_containedClass_jsonKey(
      cls("TestSpecialVideo"), "identifier", nullptr, nullptr, &key));
  EXPECT_EQ(key, "id");
}

TEST(ApiDynamicProperties, NumberRowsCoerceJSONStrings) {
  struct Case {
    const char* json;
    unsigned long long viewCount;  // TQ
    long long dislikeCount;        // Tq
    double rating;                 // Td
    float ratio;                   // Tf
  };
  const std::vector<Case> cases = {
      {R"({"viewCount":"18446744073709551615","dislikeCount":"-5","rating":"2.5","ratio":"0.5"})",
       18446744073709551615ull, -5, 2.5, 0.5f},
      {R"({"viewCount":"abc","dislikeCount":"abc","rating":"abc","ratio":"x"})", 0, 0, 0, 0},
      {R"({"viewCount":18446744073709551615,"dislikeCount":-5,"rating":2.5,"ratio":0.25})",
       18446744073709551615ull, -5, 2.5, 0.25f},
      {R"({"viewCount":{"a":1},"dislikeCount":[1],"rating":null,"ratio":true})", 0, 0, 0, 1.0f},
      {R"({})", 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    auto stats = std::dynamic_pointer_cast<TestStatistics>(make(c.json, cls("TestStatistics")));
    if (!stats) stats = ApiObject::object<TestStatistics>();
    EXPECT_EQ(stats->viewCount(), c.viewCount);
    EXPECT_EQ(stats->dislikeCount(), c.dislikeCount);
    EXPECT_DOUBLE_EQ(stats->rating(), c.rating);
    EXPECT_FLOAT_EQ(stats->ratio(), c.ratio);
    // The runtime entry answers the same.
    EXPECT_EQ(ns::send<unsigned long long>(stats, "viewCount"), c.viewCount);
    EXPECT_EQ(ns::valueForKey(stats, "dislikeCount").longLongValue(), c.dislikeCount);
  }
  // The number row coerces too, and keeps the exact kind.
  auto stats = std::dynamic_pointer_cast<TestStatistics>(
      make(R"({"likeCount":"123456789012"})", cls("TestStatistics")));
  ASSERT_TRUE(stats->likeCount());
  EXPECT_EQ(stats->likeCount()->unsignedLongLongValue(), 123456789012ull);
  // Setters store numbers.
  stats->setViewCount(18446744073709551615ull);
  stats->setDislikeCount(-7);
  stats->setRating(1.5);
  stats->setLikeCount(ns::Number(4));
  ns::setValue_forKey(stats.get(), ns::Value(9), "ratio");
  EXPECT_EQ(compact(stats->JSONValue()),
            R"({"likeCount":4,"viewCount":18446744073709551615,"dislikeCount":-7,"rating":1.5,"ratio":9})");
}

TEST(ApiDynamicProperties, ObjectRowsAnswerNothingForOtherTypesThroughTypedGetters) {
  auto video = std::dynamic_pointer_cast<TestVideo>(make(
      R"({"id":42,"snippet":"not an object","statistics":null,"embeddable":"yes","extra":{"a":1},"position":"12"})",
      cls("TestVideo")));
  ASSERT_TRUE(video);
  EXPECT_FALSE(video->identifier());                               // typed: nothing
  EXPECT_EQ(ns::valueForKey(video, "identifier").intValue(), 42);  // dynamic: unchanged
  EXPECT_FALSE(video->snippet());
  EXPECT_EQ(ns::valueForKey(video, "snippet").string(), "not an object");
  EXPECT_FALSE(video->statistics());
  EXPECT_TRUE(ns::valueForKey(video, "statistics").isNull());
  EXPECT_TRUE(video->embeddable());
  EXPECT_EQ(video->position(), 12);
  // Row 10: a dictionary becomes a model object (cached), a number stays.
  auto extra = video->extra().objectAs<ApiObject>();
  ASSERT_TRUE(extra);
  EXPECT_EQ(extra->className(), "ApiObject");
  EXPECT_EQ(video->extra().object(), extra);
  video->setExtra(ns::Value(5));
  EXPECT_EQ(video->extra().intValue(), 5);
  auto thumb = ApiObject::object<TestThumbnail>();
  video->setExtra(ns::Value(thumb));
  thumb->setWidth(3);
  EXPECT_EQ(compact(video->JSONValueForKey("extra")), R"({"width":3})");

  auto snippet = std::dynamic_pointer_cast<TestSnippet>(
      make(R"({"title":["x"],"publishedAt":17,"thumbnails":"none","tags":{"a":1}})", cls("TestSnippet")));
  EXPECT_FALSE(snippet->title());
  EXPECT_FALSE(snippet->publishedAt());
  EXPECT_TRUE(snippet->thumbnails().empty());
  EXPECT_EQ(ns::valueForKey(snippet, "thumbnails").string(), "none");
  EXPECT_TRUE(snippet->tags().empty());
}

TEST(ApiDynamicProperties, DateTimesArraysAndTheModelRow) {
  auto snippet = std::dynamic_pointer_cast<TestSnippet>(make(
      R"({"publishedAt":"2013-05-04T10:20:30.5Z","thumbnails":[{"url":"d","width":120},{"kind":"pelorintest#video","id":"v"},"text"],"tags":["a","b"]})",
      cls("TestSnippet")));
  ASSERT_TRUE(snippet);
  auto published = snippet->publishedAt();
  ASSERT_TRUE(published);
  EXPECT_EQ(published->milliseconds(), 500);
  EXPECT_EQ(snippet->publishedAt(), published);  // cached

  // The setter keeps its own copy: a later edit of the caller's value does not leak in.
  auto mine = ApiDateTime::dateTimeWithRFC3339String(std::string("2020-01-02T03:04:05Z"));
  snippet->setPublishedAt(mine);
  mine->setMilliseconds(250);
  EXPECT_EQ(snippet->JSONValueForKey("publishedAt").string(), "2020-01-02T03:04:05Z");
  EXPECT_EQ(snippet->publishedAt()->RFC3339String(), "2020-01-02T03:04:05Z");
  // The null marker writes null and reads back as null.
  ns::setValue_forKey(snippet.get(), ns::Value::null(), "publishedAt");
  EXPECT_TRUE(snippet->JSONValueForKey("publishedAt").isNull());
  EXPECT_TRUE(ns::valueForKey(snippet, "publishedAt").isNull());
  EXPECT_FALSE(snippet->publishedAt());
  snippet->setPublishedAt(nullptr);
  EXPECT_TRUE(snippet->JSONValueForKey("publishedAt").isNil());

  // Elements: the element class, unless an element's own kind says otherwise.
  auto thumbnails = snippet->thumbnails();
  ASSERT_EQ(thumbnails.size(), 3u);
  auto first = thumbnails[0].objectAs<TestThumbnail>();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->url(), std::string("d"));
  EXPECT_EQ(first->width(), 120);
  EXPECT_EQ(thumbnails[1].object()->className(), "TestVideo");
  EXPECT_EQ(thumbnails[2].string(), "text");
  EXPECT_EQ(snippet->tags(), (ns::Array{"a", "b"}));
  // An element edited in place is an edit of the parent.
  first->setUrl(std::string("e"));
  EXPECT_NE(compact(snippet->JSONValue()).find(R"({"url":"e","width":120})"), std::string::npos);
  // Setting an array stores its JSON form.
  auto t = ApiObject::object<TestThumbnail>();
  t->setHeight(90);
  snippet->setThumbnails(ns::Array{ns::Value(t), ns::Value("x")});
  snippet->setTags(ns::Array{"c"});
  EXPECT_EQ(compact(snippet->JSONValueForKey("thumbnails")), R"([{"height":90},"x"])");
  EXPECT_EQ(snippet->thumbnails().at(0).object(), t);
  snippet->setTags(std::nullopt);
  EXPECT_TRUE(snippet->JSONValueForKey("tags").isNil());

  // A mutable-array-typed property is row 11: a dictionary reads as a model object, other
  // values come back unchanged, and a model object stores its dictionary.
  auto video = make(R"({"mutableList":{"a":1}})", cls("TestVideo"));
  ns::Value list = ns::valueForKey(video, "mutableList");
  ASSERT_TRUE(list.objectAs<ApiObject>());
  EXPECT_EQ(list.object()->className(), "ApiObject");
  EXPECT_EQ(ns::valueForKey(video, "mutableList").object(), list.object());
  video->setJSONValue_forKey(tree("[1,2]"), "mutableList");
  video->setCacheChild_forKey(ns::Value(), "mutableList");
  EXPECT_TRUE(ApiJSONIsArray(ns::valueForKey(video, "mutableList")));
  ns::setValue_forKey(video.get(), ns::Value(ApiObject::object<TestThumbnail>()), "mutableList");
  EXPECT_EQ(compact(video->JSONValueForKey("mutableList")), "{}");
  ns::setValue_forKey(video.get(), ns::Value::null(), "mutableList");
  EXPECT_TRUE(video->JSONValueForKey("mutableList").isNull());
}

TEST(ApiDynamicProperties, ResolutionFromManyThreadsGivesOneRecord) {
  auto json = tree(R"({"url":"u","width":"7","height":"8"})");
  std::vector<std::thread> threads;
  std::vector<long long> widths(8);
  std::vector<ns::Value> urls(8);
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      // Each thread its own object over its own copy: objects are used by one thread at a time.
      auto thumb = ApiObject::objectWithJSON<TestThumbnail>(ApiJSONDeepCopy(json));
      widths[i] = i % 2 ? thumb->width() : ns::send<long long>(thumb, "width");
      urls[i] = ns::valueForKey(thumb, "url");
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(widths[i], 7);
    EXPECT_EQ(urls[i].string(), "u");
  }
  const ApiDispatch* a = ApiRuntimeCommon::dispatchForClass_selector(cls("TestThumbnail"), "width");
  const ApiDispatch* b = ApiRuntimeCommon::dispatchForClass_selector(cls("TestThumbnail"), "width");
  ASSERT_TRUE(a);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->row, ApiPropertyRow::Int64);
  EXPECT_FALSE(ApiRuntimeCommon::dispatchForClass_selector(cls("TestThumbnail"), "missing"));
}

TEST(ApiCollection, ItemsByIndexAndIdentifier) {
  auto list = std::dynamic_pointer_cast<TestVideoList>(make(
      R"({"kind":"pelorintest#videoListResponse","items":[{"id":"a","position":1},{"id":"b"},{"id":"a","position":2},{"position":4}]})"));
  ASSERT_TRUE(list);
  EXPECT_EQ(list->collectionItems().size(), 4u);
  EXPECT_EQ(list->itemAtIndex(1).objectAs<TestVideo>()->identifier(), std::string("b"));
  EXPECT_TRUE(list->itemAtIndex(4).isNil());
  EXPECT_TRUE(list->objectAtIndexedSubscript(-1).isNil());
  EXPECT_EQ(list->objectAtIndexedSubscript(0).object(), list->itemAtIndex(0).object());
  EXPECT_EQ(list->itemForIdentifier(ns::Value("a")).objectAs<TestVideo>()->position(), 1);  // the first wins
  EXPECT_TRUE(list->itemForIdentifier(ns::Value("z")).isNil());

  // Items added later are found only after a reset.
  auto added = ApiObject::object<TestVideo>();
  added->setIdentifier(std::string("z"));
  ns::Array items = list->items();
  items.push_back(ns::Value(added));
  list->setItems(items);
  EXPECT_TRUE(list->itemForIdentifier(ns::Value("z")).isNil());
  list->resetIdentifierMap();
  EXPECT_EQ(list->itemForIdentifier(ns::Value("z")).object(), added);

  // A class without "items" has none; a bare array reply gives its elements.
  EXPECT_TRUE(ApiObject::object<ApiCollectionObject>()->collectionItems().empty());
  auto result = std::dynamic_pointer_cast<ApiResultArray>(
      make(R"([{"url":"u"},{"kind":"pelorintest#video"},3])", cls("ApiResultArray")));
  ASSERT_TRUE(result);
  ns::Value elements = result->itemsWithItemClass(cls("TestThumbnail"));
  ASSERT_EQ(elements.count(), 3u);
  EXPECT_EQ(elements[0].objectAs<TestThumbnail>()->url(), std::string("u"));
  EXPECT_EQ(elements[1].object()->className(), "TestVideo");
  EXPECT_EQ(elements[2].intValue(), 3);
  EXPECT_EQ(result->itemsWithItemClass(cls("TestThumbnail"))[0].object(), elements[0].object());
}

TEST(ApiErrorObject, BecomesAnErrorInTheJSONRPCDomain) {
  auto object = std::dynamic_pointer_cast<ApiErrorObject>(make(
      R"({"code":404,"message":"Not Found","data":[{"domain":"global","reason":"notFound","message":"Not Found","location":"id"}]})",
      cls("ApiErrorObject")));
  ASSERT_TRUE(object);
  ns::Error error = object->foundationError();
  EXPECT_EQ(error.domain(), ApiJSONRPCErrorDomain);
  EXPECT_EQ(error.code(), 404);
  EXPECT_EQ(error.localizedFailureReason(), std::string("(Not Found)"));
  EXPECT_EQ(error.userInfo()["error"].string(), "Not Found");
  EXPECT_EQ(error.userInfo()[ApiStructuredErrorKey].object(), object);
  EXPECT_EQ(ApiErrorObject::underlyingObjectForError(error), object);
  auto data = object->data();
  ASSERT_EQ(data.size(), 1u);
  auto detail = data[0].objectAs<ApiErrorObjectData>();
  ASSERT_TRUE(detail);
  EXPECT_EQ(detail->reason(), std::string("notFound"));
  EXPECT_EQ(detail->location(), std::string("id"));

  // A real reply's "error" member; without a message there is no reason.
  for (const char* name : {"error-400.json", "error-403.json", "error-404.json"}) {
    SCOPED_TRACE(name);
    auto reply = ApiJSONDictionaryOf(googletest::fixtureTree(name));
    ASSERT_TRUE(reply);
    auto real = std::dynamic_pointer_cast<ApiErrorObject>(
        ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(reply->objectForKey("error"),
                                                                       cls("ApiErrorObject"), nullptr, {}));
    ASSERT_TRUE(real);
    ns::Error e = real->foundationError();
    EXPECT_EQ(e.code(), std::stol(std::string(name).substr(6, 3)));
    EXPECT_EQ(e.localizedFailureReason(), "(" + *real->message() + ")");
  }
  auto bare = ApiObject::object<ApiErrorObject>();
  bare->setCode(ns::Number(-32600));
  ns::Error e = bare->foundationError();
  EXPECT_EQ(e.code(), -32600);
  EXPECT_FALSE(e.localizedFailureReason());
  EXPECT_FALSE(ApiErrorObject::underlyingObjectForError(ns::Error("other", 1)));
}

TEST(ApiObjectRealReplies, EveryReplyReadsCopiesAndPatches) {
  for (const char* name : {"activities-1.json", "activities-2.json", "channels-1.json", "channels-2.json",
                           "playlistItems-1.json", "playlistItems-2.json", "playlists-1.json",
                           "playlists-2.json", "search-1.json", "search-2.json", "subscriptions-1.json",
                           "subscriptions-2.json", "videos-1.json", "videos-2.json"}) {
    SCOPED_TRACE(name);
    ns::Value json = googletest::fixtureTree(name);
    auto reply = ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(json, cls("TestVideoList"),
                                                                                nullptr, {});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->JSONValue().object(), json.object());  // held by reference
    EXPECT_FALSE(reply->fieldsDescription().empty());
    EXPECT_FALSE(reply->patchObjectFromOriginal(reply->copy()));
    EXPECT_TRUE(reply->copy()->isEqual(reply.get()));
    EXPECT_NE(reply->description().find("items:["), std::string::npos);
    ASSERT_TRUE(reply->JSONString());
    EXPECT_TRUE(ApiJSONValuesEqual(tree(*reply->JSONString()), json));
  }

  auto videos =
      std::dynamic_pointer_cast<TestVideoList>(ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(
          googletest::fixtureTree("videos-1.json"), nullptr, nullptr, {}));
  ASSERT_TRUE(videos);
  auto video = videos->itemAtIndex(0).objectAs<TestVideo>();
  ASSERT_TRUE(video);
  EXPECT_EQ(video->snippet()->title(),
            std::string("Pope Francis addresses Joint Session of Congress – FULL SPEECH (C-SPAN)"));
  EXPECT_EQ(video->snippet()->publishedAt()->RFC3339String(), "2015-09-24T17:06:07Z");
  EXPECT_DOUBLE_EQ(video->snippet()->publishedAt()->date().timeIntervalSince1970(), 1443114367.0);
  EXPECT_EQ(video->statistics()->viewCount(), 458565u);
  EXPECT_EQ(video->statistics()->likeCount()->intValue(), 3481);
  EXPECT_EQ(videos->itemForIdentifier(video->JSONValueForKey("id")).object(), video);

  auto channels = ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(
      googletest::fixtureTree("channels-2.json"), cls("TestVideoList"), nullptr, {});
  auto items = ns::valueForKey(channels, "items");
  auto channel = items[0].objectAs<TestChannel>();
  ASSERT_TRUE(channel);
  EXPECT_EQ(channel->statistics()->viewCount(), 14634734282ull);
}

}  // namespace
