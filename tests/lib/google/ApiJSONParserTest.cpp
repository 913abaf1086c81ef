#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "lib/google/ApiJSON.h"
#include "lib/google/ApiJSONParser.h"
#include "platform/serialization/JSONSerialization.h"
#include "tests/lib/google/GoogleTestSupport.h"

namespace {

const std::vector<std::string> kFixtures = {
    "activities-1.json",    "activities-2.json",    "channels-1.json",      "channels-2.json",
    "error-400.json",       "error-403.json",       "error-404.json",       "oauth-token-1.json",
    "oauth-token-2.json",   "playlistItems-1.json", "playlistItems-2.json", "playlists-1.json",
    "playlists-2.json",     "search-1.json",        "search-2.json",        "subscriptions-1.json",
    "subscriptions-2.json", "videos-1.json",        "videos-2.json"};

// The keys of every dictionary of a tree, depth first, in their stored order.
void collectKeys(const ns::Value& v, std::vector<std::string>& out) {
  if (auto d = ApiJSONDictionaryOf(v)) {
    for (const auto& [k, child] : d->entries()) {
      out.push_back(k);
      collectKeys(child, out);
    }
  } else if (auto a = ApiJSONArrayOf(v)) {
    for (const auto& child : a->items()) collectKeys(child, out);
  }
}
void collectPlainKeys(const ns::Value& v, std::vector<std::string>& out) {
  if (v.isDictionary()) {
    for (const auto& [k, child] : v.dictionary()) {
      out.push_back(k.string());
      collectPlainKeys(child, out);
    }
  } else if (v.isArray()) {
    for (const auto& child : v.array()) collectPlainKeys(child, out);
  }
}

TEST(ApiJSONParser, RealRepliesReadAsThePlatformSerialiserReadsThemAndWriteBack) {
  for (const auto& name : kFixtures) {
    SCOPED_TRACE(name);
    std::string text = googletest::fixtureText(name);
    ns::Error error;
    ns::Value tree = ApiJSONParser::objectWithString_error(text, &error);
    ASSERT_TRUE(ApiJSONIsDictionary(tree)) << error.description();
    ns::Value plain = ns::JSONSerialization::JSONObjectWithString(text);
    ASSERT_TRUE(plain.isDictionary());
    EXPECT_EQ(ApiJSONSnapshot(tree), plain);
    EXPECT_TRUE(ApiJSONValuesEqual(tree, plain));

    std::vector<std::string> keys, plainKeys;
    collectKeys(tree, keys);
    collectPlainKeys(plain, plainKeys);
    EXPECT_EQ(keys, plainKeys);

    for (bool pretty : {false, true}) {
      auto written = ApiJSONParser::stringWithObject_humanReadable_error(tree, pretty, &error);
      ASSERT_TRUE(written.has_value());
      EXPECT_EQ(pretty, written->find('\n') != std::string::npos);
      ns::Value again = ApiJSONParser::objectWithString_error(*written, &error);
      EXPECT_TRUE(ApiJSONValuesEqual(again, tree));
      // The platform serialiser reads our text too.
      EXPECT_EQ(ns::JSONSerialization::JSONObjectWithString(*written), plain);
    }
  }
}

TEST(ApiJSONParser, NumbersKeepTheirKinds) {
  ns::Value tree = ApiJSONParser::objectWithString_error(
      R"({"u":18446744073709551615,"s":-5,"big":9223372036854775807,"d":2.5,"t":true,"f":false,"n":null,"i":1})",
      nullptr);
  auto d = ApiJSONDictionaryOf(tree);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->objectForKey("u").number().kind(), ns::Number::Kind::UInt64);
  EXPECT_EQ(d->objectForKey("u").unsignedLongLongValue(), 18446744073709551615ull);
  EXPECT_EQ(d->objectForKey("s").number().kind(), ns::Number::Kind::Int64);
  EXPECT_EQ(d->objectForKey("big").number().kind(), ns::Number::Kind::Int64);
  EXPECT_EQ(d->objectForKey("d").number().kind(), ns::Number::Kind::Double);
  EXPECT_TRUE(d->objectForKey("t").isBool());
  EXPECT_TRUE(d->objectForKey("n").isNull());
  // true and 1 are different JSON.
  EXPECT_FALSE(ApiJSONValuesEqual(d->objectForKey("t"), d->objectForKey("i")));
  EXPECT_EQ(
      *ApiJSONParser::stringWithObject_humanReadable_error(tree, false, nullptr),
      R"({"u":18446744073709551615,"s":-5,"big":9223372036854775807,"d":2.5,"t":true,"f":false,"n":null,"i":1})");
}

TEST(ApiJSONParser, DuplicateKeysKeepTheFirstPlaceAndTheLastValue) {
  auto d = ApiJSONDictionaryOf(ApiJSONParser::objectWithString_error(R"({"a":1,"b":2,"a":3})", nullptr));
  ASSERT_TRUE(d);
  EXPECT_EQ(d->allKeys(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(d->objectForKey("a").intValue(), 3);
}

TEST(ApiJSONParser, BadInputGivesTheSerialiserError) {
  std::string deep512(512, '[');
  deep512 += std::string(512, ']');
  std::string deep513(513, '[');
  deep513 += std::string(513, ']');
  struct Case {
    const char* what;
    std::string text;
    bool hasIndex;
  };
  const std::vector<Case> cases = {
      {"empty", "", false},
      {"truncated", R"({"kind":"youtube#video","id":)", true},
      {"garbage", "<html>502</html>", true},
      {"trailing", R"({"a":1} x)", true},
      {"invalid UTF-8", "{\"a\":\"\xC3\x28\"}", true},
      {"lone surrogate escape", R"({"a":"\ud800"})", true},
      {"fragment", "\"just text\"", true},
      {"number fragment", "42", true},
      {"too deep", deep513, false},
      {"huge number", R"({"a":1e999})", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ns::Error error;
    ns::Value v = ApiJSONParser::objectWithString_error(c.text, &error);
    EXPECT_TRUE(v.isNil());
    EXPECT_EQ(error.domain(), ns::NSCocoaErrorDomain);
    EXPECT_EQ(error.code(), 3840);
    EXPECT_EQ(error.userInfo().contains(ns::NSJSONSerializationErrorIndex), c.hasIndex);
    // A null out-argument is allowed.
    EXPECT_TRUE(ApiJSONParser::objectWithString_error(c.text, nullptr).isNil());
  }
  ns::Error error;
  ns::Value ok = ApiJSONParser::objectWithString_error(deep512, &error);
  EXPECT_TRUE(ApiJSONIsArray(ok));
  EXPECT_TRUE(ApiJSONParser::stringWithObject_humanReadable_error(ok, false, &error).has_value());
}

TEST(ApiJSONParser, ANulByteIsRefusedRatherThanEndingTheDocument) {
  const std::vector<std::string> cases = {
      std::string("{\"a\":1}\0{\"b\":2}", 15),
      std::string("{\"items\":[]}\0<html>", 20),
      std::string("[1]\0", 4),
  };
  for (const std::string& text : cases) {
    ns::Error error;
    EXPECT_TRUE(ApiJSONParser::objectWithData_error(ns::Data(text), &error).isNil());
    EXPECT_EQ(error.code(), 3840);
    EXPECT_EQ(error.userInfo()[ns::NSJSONSerializationErrorIndex].intValue(),
              static_cast<int>(text.find('\0')));
  }
}

TEST(ApiJSONParser, WideTextIsReadToo) {
  std::u16string units = u"{\"title\":\"é\"}";
  std::string bytes;
  for (char16_t u : units) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  auto d = ApiJSONDictionaryOf(ApiJSONParser::objectWithData_error(ns::Data(bytes), nullptr));
  ASSERT_TRUE(d);
  EXPECT_EQ(d->objectForKey("title").string(), "é");
}

TEST(ApiJSONParser, WritingRefusesWhatJSONCannotHold) {
  auto d = ApiJSONDictionary::dictionary();
  d->setObject_forKey(ns::Value(std::string("a/b\n")), "s");
  EXPECT_EQ(*ApiJSONParser::stringWithObject_humanReadable_error(ns::Value(d), false, nullptr),
            R"({"s":"a\/b\n"})");
  EXPECT_EQ(*ApiJSONParser::stringWithObject_humanReadable_error(ns::Value(d), true, nullptr),
            "{\n  \"s\" : \"a\\/b\\n\"\n}");

  struct Case {
    const char* what;
    ns::Value value;
  };
  const std::vector<Case> cases = {
      {"NaN", ns::Value(std::nan(""))},
      {"date", ns::Value(ns::Date::dateWithTimeIntervalSince1970(0))},
      {"data", ns::Value(ns::Data("x"))},
      {"bad UTF-8", ns::Value(std::string("\xFF"))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto holder = ApiJSONDictionary::dictionary();
    holder->setObject_forKey(c.value, "k");
    ns::Error error;
    EXPECT_FALSE(ApiJSONParser::stringWithObject_humanReadable_error(ns::Value(holder), false, &error));
    EXPECT_EQ(error.code(), 3852);
  }
  ns::Error error;
  EXPECT_FALSE(ApiJSONParser::dataWithObject_humanReadable_error(ns::Value(), false, &error));
  EXPECT_EQ(error.code(), 0);  // nil is not an error
  EXPECT_FALSE(ApiJSONParser::stringWithObject_humanReadable_error(ns::Value("text"), false, &error));
  EXPECT_EQ(error.code(), 3852);
}

TEST(ApiJSONTree, SnapshotsCopiesAndEquality) {
  auto root = ApiJSONDictionaryOf(
      ApiJSONParser::objectWithString_error(R"({"a":{"b":[1,{"c":"x"}]},"k":true})", nullptr));
  ASSERT_TRUE(root);
  ns::Value copy = ApiJSONDeepCopy(ns::Value(root));
  EXPECT_TRUE(ApiJSONValuesEqual(copy, ns::Value(root)));
  EXPECT_EQ(ns::Value(root), copy);  // Value equality goes through the tree's isEqual

  // Shared by reference: an edit of a child is an edit of the root, and not of the copy.
  auto child = ApiJSONDictionaryOf(root->objectForKey("a"));
  ASSERT_TRUE(child);
  child->setObject_forKey(ns::Value("new"), "d");
  EXPECT_EQ(ApiJSONSnapshot(ns::Value(root))["a"]["d"].string(), "new");
  EXPECT_FALSE(ApiJSONValuesEqual(copy, ns::Value(root)));
  EXPECT_TRUE(ApiJSONSnapshot(copy)["a"]["d"].isNil());

  // A plain value becomes a fresh tree and back.
  ns::Value plain = ApiJSONSnapshot(ns::Value(root));
  ns::Value tree = ApiJSONMutableTree(plain);
  EXPECT_TRUE(ApiJSONIsDictionary(tree));
  EXPECT_EQ(ApiJSONSnapshot(tree), plain);
  EXPECT_NE(ApiJSONDictionaryOf(tree), root);

  // Large dictionaries use their index; lookups, replacement and removal stay right.
  auto big = ApiJSONDictionary::dictionary();
  for (int i = 0; i < 40; ++i) big->setObject_forKey(ns::Value(i), "k" + std::to_string(i));
  big->setObject_forKey(ns::Value(100), "k7");
  big->removeObjectForKey("k3");
  big->setObject_forKey(ns::Value(), "k5");  // nil removes
  EXPECT_EQ(big->count(), 38u);
  EXPECT_EQ(big->objectForKey("k7").intValue(), 100);
  EXPECT_TRUE(big->objectForKey("k3").isNil());
  EXPECT_EQ(big->objectForKey("k39").intValue(), 39);
  EXPECT_EQ(big->allKeys()[3], "k4");
}

}  // namespace
