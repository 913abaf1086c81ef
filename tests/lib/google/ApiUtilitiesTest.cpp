#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "lib/google/ApiConstants.h"
#include "lib/google/ApiJSON.h"
#include "lib/google/ApiUploadParameters.h"
#include "lib/google/ApiUtilities.h"
#include "platform/core/Str.h"
#include "platform/foundation/FileHandle.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/KeyValueCoding.h"
#include "tests/lib/google/GoogleTestSupport.h"

// Classes for the merged-dictionary tests: the ancestor answers {"a": "base"}, the middle class
// has no map of its own, the leaf adds and replaces entries and counts how often it is asked.
class MergeRoot : public ns::Object {};
class MergeMiddle : public MergeRoot {};
class MergeLeaf : public MergeMiddle {};

namespace {
std::atomic<int> leafAsked{0};
ns::Value rootMap(ns::Class, ns::Sel) {
  return ns::Value(ns::Dictionary{{"a", "base"}, {"identifier", "id"}});
}
ns::Value noMap(ns::Class, ns::Sel) {
  return ns::Value();
}
ns::Value leafMap(ns::Class, ns::Sel) {
  ++leafAsked;
  return ns::Value(ns::Dictionary{{"a", "leaf"}, {"b", "bee"}});
}
}  // namespace

PL_CLASS(MergeRoot, ns::Object) {
  cls.classMethod<&rootMap>("mergeTestMap");
}
PL_CLASS(MergeMiddle, MergeRoot) {
  cls.classMethod<&noMap>("mergeTestMap");
}
PL_CLASS(MergeLeaf, MergeMiddle) {
  cls.classMethod<&leafMap>("mergeTestMap");
}

namespace {

TEST(ApiUtilities, URLWithQueryParameters) {
  auto url = ApiUtilities::URLWithString_queryParameters(
      "https://www.googleapis.test/youtube/v3/videos?prettyPrint=false",
      ns::Dictionary{{"key", "a b"}, {"fields", "items(id)"}});
  ASSERT_TRUE(url);
  EXPECT_TRUE(ns::str::hasSuffix(url->absoluteString(), "?prettyPrint=false&fields=items%28id%29&key=a+b"))
      << url->absoluteString();

  struct Case {
    const char* base;
    ns::Dictionary parameters;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"http://h.test/p", {{"b", "2"}, {"A", "1"}, {"c", "x&y=z"}}, "http://h.test/p?A=1&b=2&c=x%26y%3Dz"},
      // A number is written as its text instead of failing.
      {"http://h.test/p", {{"maxResults", 50}, {"on", true}}, "http://h.test/p?maxResults=50&on=1"},
      {"http://h.test/p", {}, "http://h.test/p"},
      {"http://h.test/p", {{"q", "é/?#"}}, "http://h.test/p?q=%C3%A9%2F%3F%23"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    auto u = ApiUtilities::URLWithString_queryParameters(c.base, c.parameters);
    ASSERT_TRUE(u);
    EXPECT_EQ(u->absoluteString(), c.expected);
  }
  EXPECT_FALSE(ApiUtilities::URLWithString_queryParameters("", ns::Dictionary{{"a", "b"}}));
}

TEST(ApiUtilities, PercentEncoders) {
  struct Case {
    std::string input, url, uri, parameter, utf8;
  };
  const std::vector<Case> cases = {
      {"plain", "plain", "plain", "plain", "plain"},
      {"é", "%C3%A9", "%C3%A9", "%C3%A9", "%C3%A9"},
      {"a b", "a%20b", "a%20b", "a+b", "a b"},
      {"a/b?c=d&e", "a/b?c=d&e", "a%2Fb%3Fc%3Dd%26e", "a%2Fb%3Fc%3Dd%26e", "a/b?c=d&e"},
      {"100%", "100%25", "100%25", "100%25", "100%25"},
      {"x\ny", "x%0Ay", "x%0Ay", "x%0Ay", "x%0Ay"},
      {"!*'();:@+$,[]#", "!*'();:@+$,%5B%5D#", "%21%2A%27%28%29%3B%3A%40%2B%24%2C%5B%5D%23",
       "%21%2A%27%28%29%3B%3A%40%2B%24%2C%5B%5D%23", "!*'();:@+$,[]#"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(ApiUtilities::stringByURLEncodingString(c.input), c.url);
    EXPECT_EQ(ApiUtilities::stringByURLEncodingForURI(c.input), c.uri);
    EXPECT_EQ(ApiUtilities::stringByURLEncodingStringParameter(c.input), c.parameter);
    EXPECT_EQ(ApiUtilities::stringByPercentEncodingUTF8ForString(c.input), c.utf8);
  }
  EXPECT_EQ(ApiUtilities::stringByPercentEncodingUTF8ForString(std::nullopt), std::nullopt);
  EXPECT_EQ(ApiUtilities::stringByPercentEncodingUTF8ForString(std::string()), std::string());
}

TEST(ApiUtilities, VersionComparison) {
  struct Case {
    std::optional<std::string> a, b;
    int expected;
  };
  const std::vector<Case> cases = {
      {"1.2", "1.10", -1},       {"1.10", "1.2", 1},
      {"10.9", "10.9.0.0", 0},   {"10.10", "10.9", 1},
      {"2.0", "2", 0},           {std::nullopt, "", 0},
      {std::nullopt, "0.1", -1}, {"1.2.3.4.5", "1.2.3.4", 0},
      {"1.2beta", "1.2", 0},     {"1..2", "1.2", 0},
      {"abc", "0", 0},           {"99999999999999999999", "1", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.a.value_or("nil") + " vs " + c.b.value_or("nil"));
    EXPECT_EQ(ApiUtilities::compareVersion_toVersion(c.a, c.b), c.expected);
  }
}

TEST(ApiUtilities, NumberCoercionOfJSONStrings) {
  struct Case {
    ns::Value input;
    ns::Number::Kind kind;
    ns::Value expected;
  };
  const std::vector<Case> cases = {
      {"18446744073709551615", ns::Number::Kind::UInt64, ns::Value(18446744073709551615ull)},
      {"123456789012", ns::Number::Kind::UInt64, ns::Value(123456789012ull)},
      {"-5", ns::Number::Kind::Int64, ns::Value(-5ll)},
      {"2.5", ns::Number::Kind::Double, ns::Value(2.5)},
      {"abc", ns::Number::Kind::UInt64, ns::Value(0ull)},
      {"99999999999999999999999", ns::Number::Kind::UInt64, ns::Value(18446744073709551615ull)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.description());
    ns::Value v = ApiNumberFromJSONString(c.input);
    ASSERT_TRUE(v.isNumber());
    EXPECT_EQ(v.number().kind(), c.kind);
    EXPECT_EQ(v, c.expected);
  }
  // Not strings, or "." text without a number or beyond the range of a double: unchanged.
  for (const ns::Value& same :
       {ns::Value(7), ns::Value::null(), ns::Value(), ns::Value("a.b"), ns::Value(true), ns::Value("inf.0"),
        ns::Value("nan."), ns::Value("1.5e999"), ns::Value("-2.0e400"), ns::Value("1.0e-400")}) {
    EXPECT_EQ(ApiNumberFromJSONString(same), same);
  }
}

TEST(ApiUtilities, EqualityHelpers) {
  EXPECT_TRUE(ApiObjectsEqual(ns::Value(), ns::Value()));
  EXPECT_FALSE(ApiObjectsEqual(ns::Value(), ns::Value::null()));
  EXPECT_FALSE(ApiObjectsEqual(ns::Value("a"), ns::Value()));
  EXPECT_TRUE(ApiObjectsEqual(ns::Value("a"), ns::Value("a")));
  EXPECT_TRUE(ApiObjectsEqual(static_cast<const ns::Object*>(nullptr), nullptr));
  EXPECT_TRUE(ApiBoolsEqual(2, 7));
  EXPECT_TRUE(ApiBoolsEqual(0, 0));
  EXPECT_FALSE(ApiBoolsEqual(0, 1));
}

TEST(ApiUtilities, ArraySearchByKeyPath) {
  ns::Array rows = {ns::Value(ns::Dictionary{{"id", "a"}, {"n", ns::Dictionary{{"k", 1}}}}),
                    ns::Value(ns::Dictionary{{"id", "b"}, {"n", ns::Dictionary{{"k", 2}}}}),
                    ns::Value(ns::Dictionary{{"id", "c"}, {"n", ns::Dictionary{{"k", 1}}}}),
                    ns::Value(ns::Dictionary{{"other", 1}})};
  auto ones = ApiUtilities::objectsFromArray_withValue_forKeyPath(rows, ns::Value(1), "n.k");
  ASSERT_EQ(ones.size(), 2u);
  EXPECT_EQ(ones[1]["id"].string(), "c");
  EXPECT_EQ(ApiUtilities::firstObjectFromArray_withValue_forKeyPath(rows, ns::Value("b"), "id")["n"]["k"]
                .intValue(),
            2);
  // nil matches nil: the element without the key.
  auto missing = ApiUtilities::objectsFromArray_withValue_forKeyPath(rows, ns::Value(), "id");
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(missing[0]["other"].intValue(), 1);
  EXPECT_TRUE(ApiUtilities::firstObjectFromArray_withValue_forKeyPath(rows, ns::Value("z"), "id").isNil());

  // The same over the model's JSON tree.
  auto tree = ApiJSONArrayOf(ApiJSONMutableTree(ns::Value(rows)));
  ASSERT_TRUE(tree);
  auto treeOnes = ApiUtilities::objectsFromArray_withValue_forKeyPath(tree->items(), ns::Value(1), "n.k");
  ASSERT_EQ(treeOnes.size(), 2u);
  EXPECT_EQ(ApiJSONDictionaryOf(treeOnes[1])->objectForKey("id").string(), "c");
  EXPECT_EQ(ns::valueForKeyPathOfValue(ns::Value(tree), "id"),
            (ns::Value(ns::Array{"a", "b", "c", ns::Value::null()})));
}

TEST(ApiUtilities, MergedClassDictionariesAreComputedOnceAcrossThreads) {
  // Kept for the process, as the model caches are.
  static ApiClassDictionaryCache* cache = ApiUtilities::newStaticDictionary();
  ns::Class leaf = googletest::cls("MergeLeaf");
  ns::Class root = googletest::cls("MergeRoot");
  ASSERT_TRUE(leaf && root);
  leafAsked = 0;
  std::vector<ns::Dictionary> results(8);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      results[i] = ApiUtilities::mergedClassDictionaryForSelector_startClass_ancestorClass_cache(
          "mergeTestMap", leaf, root, cache);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(leafAsked.load(), 1);
  const ns::Dictionary expected{{"a", "leaf"}, {"identifier", "id"}, {"b", "bee"}};
  for (const auto& r : results) EXPECT_EQ(r, expected);

  // A class with no own map gets its superclass's entries.
  auto middle = ApiUtilities::mergedClassDictionaryForSelector_startClass_ancestorClass_cache(
      "mergeTestMap", googletest::cls("MergeMiddle"), root, cache);
  EXPECT_EQ(middle, (ns::Dictionary{{"a", "base"}, {"identifier", "id"}}));
  EXPECT_EQ(leafAsked.load(), 1);
}

TEST(ApiUploadParameters, SourcesCopiesAndDescription) {
  auto data =
      ApiUploadParameters::uploadParametersWithData_MIMEType(ns::Data("abc"), std::string("video/mp4"));
  data->setSlug(std::string("clip.mp4"));
  data->setShouldSendUploadOnly(true);
  data->setUploadLocationURL(ns::URL::URLWithString("https://upload.test/resume?id=1"));
  std::string text = data->description();
  EXPECT_NE(text.find("ApiUploadParameters 0x"), std::string::npos);
  EXPECT_NE(text.find(": {MIMEType:video/mp4, data:3 bytes, uploadLocation:https://upload.test/resume?id=1, "
                      "slug:clip.mp4, shouldSendUploadOnly}"),
            std::string::npos)
      << text;

  auto copy = data->copy();
  EXPECT_NE(copy, data);
  EXPECT_EQ(copy->data()->length(), 3u);
  EXPECT_EQ(copy->slug(), std::string("clip.mp4"));
  EXPECT_TRUE(copy->shouldSendUploadOnly());
  EXPECT_EQ(copy->uploadLocationURL(), data->uploadLocationURL());
  copy->setSlug(std::nullopt);
  EXPECT_EQ(data->slug(), std::string("clip.mp4"));

  auto file = ApiUploadParameters::uploadParametersWithFileURL_MIMEType(
      ns::URL::fileURLWithPath("/tmp/x.mov"), std::string("video/quicktime"));
  EXPECT_FALSE(file->fileHandle());
  EXPECT_NE(file->description().find("{MIMEType:video/quicktime, file:/tmp/x.mov}"), std::string::npos);
  auto handle = ApiUploadParameters::uploadParametersWithFileHandle_MIMEType(
      ns::FileHandle::fileHandleWithNullDevice(), std::nullopt);
  EXPECT_TRUE(handle->fileHandle());
  EXPECT_NE(handle->description().find("fileHandle:"), std::string::npos);
}

TEST(ApiConstants, Version) {
  long major = -1, minor = -1, release = -1;
  ApiLibraryVersion(&major, &minor, &release);
  EXPECT_EQ(major, 2);
  EXPECT_EQ(minor, 0);
  EXPECT_EQ(release, 0);
  ApiLibraryVersion(nullptr, nullptr, nullptr);
  EXPECT_STREQ(ApiLibraryVersionString(), "2.0");
}

}  // namespace
