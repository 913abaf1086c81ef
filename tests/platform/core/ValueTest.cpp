#include "platform/core/Value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "platform/core/Error.h"

namespace {

using ns::Array;
using ns::Dictionary;
using ns::Number;
using ns::Value;

TEST(NumberTest, KeepsItsMachineKind) {
  EXPECT_EQ(Number(true).kind(), Number::Kind::Bool);
  EXPECT_EQ(Number(static_cast<signed char>(-3)).kind(), Number::Kind::Int8);
  EXPECT_EQ(Number(static_cast<unsigned short>(3)).kind(), Number::Kind::UInt16);
  EXPECT_EQ(Number(3).kind(), Number::Kind::Int32);
  EXPECT_EQ(Number(3L).kind(), Number::Kind::Int64);
  EXPECT_EQ(Number(3ULL).kind(), Number::Kind::UInt64);
  EXPECT_EQ(Number(1.5f).kind(), Number::Kind::Float);
  EXPECT_EQ(Number(1.5).kind(), Number::Kind::Double);
  EXPECT_STREQ(Number(true).objCType(), "c");
  EXPECT_STREQ(Number(3ULL).objCType(), "Q");
  // Every bit of a large unsigned value survives.
  EXPECT_EQ(Number(18446744073709551615ULL).unsignedLongLongValue(), 18446744073709551615ULL);
  EXPECT_EQ(Number(18446744073709551615ULL).description(), "18446744073709551615");
}

TEST(NumberTest, ComparesByValueAcrossKinds) {
  EXPECT_EQ(Number(18), Number(18.0));
  EXPECT_EQ(Number(true), Number(1));
  EXPECT_EQ(Number(false), Number(0.0));
  EXPECT_NE(Number(18), Number(18.5));
  EXPECT_TRUE(Number(-1) < Number(0U));
  // Signed -1 is not the unsigned maximum, whatever the bit pattern.
  EXPECT_NE(Number(-1LL), Number(18446744073709551615ULL));
  EXPECT_TRUE(Number(-1LL) < Number(18446744073709551615ULL));
  // 2^53 + 1 is not representable as a double; the comparison must still be exact.
  EXPECT_NE(Number(9007199254740993LL), Number(9007199254740992.0));
  EXPECT_TRUE(Number(9007199254740992.0) < Number(9007199254740993LL));
  EXPECT_EQ(Number(18).hash(), Number(18.0).hash());
  EXPECT_EQ(Number(true).hash(), Number(1ULL).hash());
  EXPECT_EQ(Number(0.0).hash(), Number(-0.0).hash());
}

TEST(NumberTest, ConversionsSaturateInsteadOfOverflowing) {
  EXPECT_EQ(Number(3.9).intValue(), 3);
  EXPECT_EQ(Number(-3.9).intValue(), -3);
  EXPECT_EQ(Number(1e30).intValue(), 2147483647);
  EXPECT_EQ(Number(-1e30).longLongValue(), INT64_MIN);
  EXPECT_EQ(Number(std::nan("")).intValue(), 0);
  EXPECT_TRUE(Number(0.5).boolValue());
  EXPECT_FALSE(Number(0).boolValue());
}

TEST(NumberTest, Descriptions) {
  EXPECT_EQ(Number(true).description(), "1");
  EXPECT_EQ(Number(false).description(), "0");
  EXPECT_EQ(Number(-42).description(), "-42");
  EXPECT_EQ(Number(18.0).description(), "18");
  EXPECT_EQ(Number(0.1).description(), "0.1");
  EXPECT_EQ(Number(1.5f).description(), "1.5");
  EXPECT_EQ(Number(0.1f).description(), "0.1");
  EXPECT_EQ(Number(1e20).description(), "1e+20");
  EXPECT_EQ(Number(1.0 / 3).description(), "0.3333333333333333");
}

TEST(ValueTest, KindsAndTypedGetters) {
  Value nil;
  EXPECT_TRUE(nil.isNil());
  EXPECT_FALSE(static_cast<bool>(nil));
  EXPECT_TRUE(Value::null().isNull());
  EXPECT_TRUE(Value(nullptr).isNil());
  EXPECT_TRUE(Value(static_cast<const char*>(nullptr)).isNil());
  EXPECT_TRUE(Value(std::optional<std::string>()).isNil());
  EXPECT_TRUE(Value(ns::Ref<ns::Object>()).isNil());
  EXPECT_TRUE(Value(7).isNumber());
  EXPECT_TRUE(Value(true).isBool());
  EXPECT_FALSE(Value(1).isBool());
  EXPECT_TRUE(Value("x").isString());
  EXPECT_TRUE(Value(ns::Data("ab")).isData());
  EXPECT_TRUE(Value(ns::Date()).isDate());
  EXPECT_TRUE(Value(Array{}).isArray());
  EXPECT_TRUE(Value(Dictionary{}).isDictionary());
  EXPECT_TRUE(Value(ns::Set{}).isSet());
  EXPECT_TRUE(Value(ns::make<ns::Object>()).isObject());

  // Wrong-kind getters answer zero values rather than failing.
  Value s("hello");
  EXPECT_EQ(s.number().intValue(), 0);
  EXPECT_TRUE(s.array().empty());
  EXPECT_TRUE(s.dictionary().empty());
  EXPECT_TRUE(s.data().empty());
  EXPECT_EQ(s.object(), nullptr);
  EXPECT_EQ(Value(3).string(), "");
  EXPECT_EQ(Value(3).optionalString(), std::nullopt);
  EXPECT_EQ(s.optionalString(), "hello");
  EXPECT_TRUE(s[0].isNil());
  EXPECT_TRUE(s["key"].isNil());
}

TEST(ValueTest, FromVectors) {
  Value names(std::vector<std::string>{"a", "b"});
  ASSERT_TRUE(names.isArray());
  EXPECT_EQ(names[1].string(), "b");
  Value ids(std::vector<long long>{1, 2, 3});
  EXPECT_EQ(ids.count(), 3u);
  EXPECT_EQ(ids[2], Value(3));
  EXPECT_TRUE(ids[3].isNil());
}

TEST(ValueTest, PlatformConversions) {
  EXPECT_EQ(Value("7").intValue(), 7);
  EXPECT_EQ(Value(" 12abc").intValue(), 12);
  EXPECT_EQ(Value("2.5").doubleValue(), 2.5);
  EXPECT_EQ(Value(2.9).intValue(), 2);
  EXPECT_EQ(Value("99999999999").intValue(), 2147483647);
  EXPECT_EQ(Value("99999999999").longLongValue(), 99999999999LL);
  EXPECT_TRUE(Value("yes").boolValue());
  EXPECT_FALSE(Value("no").boolValue());
  EXPECT_TRUE(Value(2).boolValue());
  EXPECT_EQ(Value(12).stringValue(), "12");
  EXPECT_EQ(Value(2.5).stringValue(), "2.5");
  EXPECT_EQ(Value("abc").stringValue(), "abc");
  EXPECT_EQ(Value::null().stringValue(), "");
  EXPECT_EQ(Value::null().intValue(), 0);
}

TEST(ValueTest, EqualityIsThePlatforms) {
  EXPECT_EQ(Value(18), Value(18.0));
  EXPECT_EQ(Value(true), Value(1));
  EXPECT_NE(Value(1), Value("1"));
  EXPECT_NE(Value(), Value::null());
  EXPECT_EQ(Value::null(), Value::null());
  EXPECT_EQ(Value("é"), Value("é"));
  EXPECT_NE(Value("e"), Value("é"));
  EXPECT_EQ(Value(Array{1, "a", Value::null()}), Value(Array{1.0, "a", Value::null()}));
  EXPECT_NE(Value(Array{1, 2}), Value(Array{2, 1}));
  EXPECT_EQ(Value(ns::Data("ab")), Value(ns::Data(std::string("ab"))));
  // Dictionaries and sets compare regardless of order.
  EXPECT_EQ(Value(Dictionary{{"a", 1}, {"b", 2}}), Value(Dictionary{{"b", 2.0}, {"a", true}}));
  EXPECT_NE(Value(Dictionary{{"a", 1}}), Value(Dictionary{{"a", 2}}));
  EXPECT_EQ(Value(ns::Set{1, 2, 3}), Value(ns::Set{3.0, 2, 1}));
}

struct Tag : ns::Object {
  explicit Tag(int v) : v(v) {}
  int v;
  bool isEqual(const ns::Object* o) const override {
    auto t = dynamic_cast<const Tag*>(o);
    return t && t->v == v;
  }
  std::size_t hash() const override { return static_cast<std::size_t>(v); }
};

TEST(ValueTest, ObjectsCompareByIsEqual) {
  auto a = ns::make<Tag>(1), b = ns::make<Tag>(1), c = ns::make<Tag>(2);
  EXPECT_EQ(Value(a), Value(b));
  EXPECT_NE(Value(a), Value(c));
  EXPECT_EQ(Value(a).objectAs<Tag>(), a);
  EXPECT_EQ(Value(a).objectAs<ns::ErrorObject>(), nullptr);
}

TEST(DictionaryTest, NumberKeysEqualByValue) {
  Dictionary d;
  d.set(18, "eighteen");
  EXPECT_EQ(d[18.0].string(), "eighteen");
  d.set(18.0, "replaced");
  EXPECT_EQ(d.count(), 1u);
  EXPECT_EQ(d[18].string(), "replaced");
  d.set(true, "yes");
  EXPECT_EQ(d[1].string(), "yes");
  EXPECT_EQ(d.count(), 2u);
  // A string key is not a number key.
  EXPECT_TRUE(d["18"].isNil());
}

TEST(DictionaryTest, KeepsInsertionOrderAcrossReplaceAndRemove) {
  Dictionary d{{"z", 1}, {"a", 2}, {"m", 3}};
  d.set("a", 20);  // replacing keeps the position
  d.remove("z");
  d.set("b", 4);
  std::vector<std::string> keys;
  for (const auto& [k, v] : d) keys.push_back(k.string());
  EXPECT_EQ(keys, (std::vector<std::string>{"a", "m", "b"}));
  EXPECT_EQ(d["a"].intValue(), 20);
  EXPECT_EQ(d["m"].intValue(), 3);  // the index survives the removal before it
  d.set("m", Value());              // nil removes
  EXPECT_FALSE(d.contains("m"));
  EXPECT_EQ(d.count(), 2u);
}

TEST(DictionaryTest, ContainersAsKeys) {
  Dictionary d;
  d.set(Array{"id", 1}, "first");
  EXPECT_EQ((d[Array{"id", 1.0}].string()), "first");
  EXPECT_TRUE((d[Array{"id", 2}].isNil()));
}

TEST(DictionaryTest, MergeKeysValuesAndClear) {
  Dictionary d{{"a", 1}, {"b", 2}};
  d.addEntriesFromDictionary(Dictionary{{"b", 20}, {"c", 30}});
  EXPECT_EQ(Value(d.allKeys()), Value(Array{"a", "b", "c"}));
  EXPECT_EQ(Value(d.allValues()), Value(Array{1, 20, 30}));
  Dictionary copy = d;
  d.removeAllObjects();
  EXPECT_TRUE(d.empty());
  EXPECT_TRUE(d["a"].isNil());
  EXPECT_EQ(copy["c"].intValue(), 30);  // copies are independent
  d.set(Value(), 1);                    // a nil key is ignored
  EXPECT_TRUE(d.empty());
}

TEST(SetTest, MembersAreDistinctByValue) {
  ns::Set s{18, "x"};
  EXPECT_FALSE(s.add(18.0));
  EXPECT_TRUE(s.add(19));
  EXPECT_FALSE(s.add(Value()));
  EXPECT_EQ(s.count(), 3u);
  EXPECT_TRUE(s.contains(18.0));
  EXPECT_TRUE(s.remove("x"));
  EXPECT_FALSE(s.remove("x"));
  EXPECT_TRUE(s.contains(19));  // the index survives the removal before it
  EXPECT_EQ(Value(s.allObjects()), Value(Array{18, 19}));
  EXPECT_EQ(ns::Set(Array{1, 1, 2}).count(), 2u);
}

TEST(ValueTest, HashAgreesWithEquality) {
  std::vector<std::pair<Value, Value>> equal = {
      {Value(18), Value(18.0)},
      {Value(true), Value(1ULL)},
      {Value("é"), Value(std::string("é"))},
      {Value(Array{1, "a"}), Value(Array{1.0, "a"})},
      {Value(Dictionary{{"a", 1}, {"b", 2}}), Value(Dictionary{{"b", 2}, {"a", 1}})},
      {Value(ns::Set{1, 2}), Value(ns::Set{2.0, 1.0})},
      {Value(ns::Data("xy")), Value(ns::Data("axy").subdata(1, 2))},
  };
  for (const auto& [a, b] : equal) {
    EXPECT_EQ(a, b) << a.description();
    EXPECT_EQ(a.hash(), b.hash()) << a.description();
  }
}

TEST(ValueTest, CompareOrdersForSorting) {
  Array items{"b", 10, "a", 2.5, ns::Date::dateWithTimeIntervalSince1970(5), Value::null()};
  std::sort(items.begin(), items.end(),
            [](const Value& x, const Value& y) { return x.compare(y) == ns::OrderedAscending; });
  EXPECT_EQ(Value(items),
            Value(Array{Value::null(), 2.5, 10, "a", "b", ns::Date::dateWithTimeIntervalSince1970(5)}));
}

TEST(ValueTest, CopiesShareAndMutationCopiesOnWrite) {
  Value a(Array{1, 2});
  Value b = a;
  b.mutableArray()->push_back(3);
  EXPECT_EQ(a.count(), 2u);
  EXPECT_EQ(b.count(), 3u);
  Value d(Dictionary{{"k", 1}});
  Value e = d;
  e.mutableDictionary()->set("k", 2);
  EXPECT_EQ(d["k"].intValue(), 1);
  EXPECT_EQ(e["k"].intValue(), 2);
  EXPECT_EQ(Value(1).mutableArray(), nullptr);
}

}  // namespace
