// JSON reading and writing through ns::Value.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/serialization/JSONSerialization.h"

namespace {

using ns::JSONSerialization;
using ns::Value;

Value parse(const std::string& text, unsigned options = 0, ns::Error* error = nullptr) {
  return JSONSerialization::JSONObjectWithString(text, options, error);
}

std::string write(const Value& v, unsigned options = 0) {
  auto text = JSONSerialization::stringWithJSONObject(v, options);
  return text ? *text : "<failed>";
}

TEST(JSONSerializationTest, NumbersKeepTheirKindsThroughARoundTrip) {
  Value v = parse(
      "[9223372036854775807, 18446744073709551615, -9223372036854775808, -0.5, true, false, 0, 1e2, null]");
  ASSERT_TRUE(v.isArray());
  ASSERT_EQ(v.count(), 9u);
  EXPECT_EQ(v[0].number().kind(), ns::Number::Kind::Int64);
  EXPECT_EQ(v[0].longLongValue(), std::numeric_limits<long long>::max());
  EXPECT_EQ(v[1].number().kind(), ns::Number::Kind::UInt64);
  EXPECT_EQ(v[1].unsignedLongLongValue(), std::numeric_limits<unsigned long long>::max());
  EXPECT_EQ(v[2].longLongValue(), std::numeric_limits<long long>::min());
  EXPECT_EQ(v[3].number().kind(), ns::Number::Kind::Double);
  EXPECT_EQ(v[3].doubleValue(), -0.5);
  EXPECT_TRUE(v[4].isBool());
  EXPECT_TRUE(v[5].isBool());
  EXPECT_FALSE(v[6].isBool()) << "0 is a number, not NO";
  EXPECT_EQ(v[7].number().kind(), ns::Number::Kind::Double);
  EXPECT_TRUE(v[8].isNull());

  std::string text = write(v);
  EXPECT_EQ(text,
            "[9223372036854775807,18446744073709551615,-9223372036854775808,-0.5,true,false,0,100,null]");
  Value back = parse(text);
  for (std::size_t i = 0; i < v.count(); ++i) {
    EXPECT_EQ(back[i].kind(), v[i].kind()) << i;
    if (v[i].isNumber()) {
      EXPECT_EQ(back[i].isBool(), v[i].isBool()) << i;
      EXPECT_EQ(back[i].number().isUnsigned(), v[i].number().isUnsigned()) << i;
    }
  }
  EXPECT_EQ(back, v);
}

TEST(JSONSerializationTest, DoublesComeBackAsTheSameDoubleAndShortTextStaysShort) {
  const double values[] = {0.1 + 0.2,
                           123456789.12345679,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::denorm_min(),
                           -1.0 / 3.0,
                           0.1,
                           2.5,
                           1e21};
  ns::Array array;
  for (double d : values) array.push_back(Value(d));
  std::string text = write(Value(array));
  Value back = parse(text);
  ASSERT_TRUE(back.isArray()) << text;
  ASSERT_EQ(back.count(), array.size());
  for (std::size_t i = 0; i < array.size(); ++i) EXPECT_EQ(back[i].doubleValue(), values[i]) << text;
  EXPECT_EQ(write(Value(ns::Array{Value(0.1), Value(2.5), Value(1e21)})), "[0.1,2.5,1e+21]");
}

TEST(JSONSerializationTest, WritesSlashesEscapesAndKeysAsThePlatformDoes) {
  ns::Dictionary d;
  d.set("url", "http://x/y");
  d.set("text", "a\"b\\c\n\t\x01 é");
  EXPECT_EQ(write(Value(d)), R"({"url":"http:\/\/x\/y","text":"a\"b\\c\n\t\u0001 é"})");
  EXPECT_EQ(write(Value(d), ns::JSONWritingWithoutEscapingSlashes | ns::JSONWritingSortedKeys),
            R"({"text":"a\"b\\c\n\t\u0001 é","url":"http://x/y"})");
  EXPECT_EQ(parse(write(Value(d))), Value(d));

  ns::Dictionary nested;
  nested.set("b", ns::Array{Value(1), Value(ns::Dictionary{})});
  nested.set("a", ns::Array{});
  EXPECT_EQ(write(Value(nested), ns::JSONWritingPrettyPrinted | ns::JSONWritingSortedKeys),
            "{\n  \"a\" : [],\n  \"b\" : [\n    1,\n    {}\n  ]\n}");
  // Keys keep the order of the text.
  Value ordered = parse(R"({"z":1,"a":2,"m":3})");
  EXPECT_EQ(write(ordered), R"({"z":1,"a":2,"m":3})");
}

TEST(JSONSerializationTest, RefusesWhatJsonCannotHold) {
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  auto bad = [&](const Value& v, unsigned options = 0) {
    return !JSONSerialization::dataWithJSONObject_options_error(v, options, &error) &&
           error.code() == ns::NSPropertyListWriteInvalidError;
  };
  EXPECT_TRUE(bad(ns::Array{Value(std::nan(""))}));
  EXPECT_TRUE(bad(ns::Array{Value(std::numeric_limits<double>::infinity())}));
  EXPECT_TRUE(bad(ns::Array{Value(ns::Date::now())}));
  EXPECT_TRUE(bad(ns::Array{Value(ns::Data("x"))}));
  EXPECT_TRUE(bad(ns::Array{Value(std::string("\xff\xfe"))}));
  EXPECT_TRUE(bad(Value(ns::Dictionary{{Value(1), Value(2)}})));
  EXPECT_TRUE(bad(Value("fragment")));
  EXPECT_EQ(write(Value("a/b"), ns::JSONWritingFragmentsAllowed), "\"a\\/b\"");
  EXPECT_FALSE(JSONSerialization::isValidJSONObject(Value(3)));
  EXPECT_TRUE(JSONSerialization::isValidJSONObject(Value(3), ns::JSONWritingFragmentsAllowed));
  EXPECT_TRUE(JSONSerialization::isValidJSONObject(ns::Array{Value::null(), Value("x")}));

  // What is written can be read: as deep as the reader goes, and no deeper.
  auto nested = [](int depth) {
    Value v(ns::Array{});
    for (int i = 1; i < depth; ++i) v = Value(ns::Array{v});
    return v;
  };
  std::string deepest = write(nested(512));
  ASSERT_NE(deepest, "<failed>");
  EXPECT_EQ(parse(deepest), nested(512));
  EXPECT_TRUE(bad(nested(513)));
  EXPECT_FALSE(JSONSerialization::isValidJSONObject(nested(513)));
}

TEST(JSONSerializationTest, MalformedTextGivesErrorsWithPositions) {
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  const char* cases[] = {
      "",                // empty
      "{\"a\":1",        // truncated
      "[1,2,]",          // trailing comma
      "[\"\xff\xfe\"]",  // invalid UTF-8 in a string
      "[\"\xc3\"]",      // truncated UTF-8 sequence
      "[1] [2]",         // garbage after the value
      "[1e400]",         // not representable
      "{'a':1}",         // single quotes
      "[\"\\ud800\"]",   // lone surrogate escape
  };
  for (const char* text : cases) {
    error = ns::Error(ns::NSCocoaErrorDomain, 0);
    EXPECT_TRUE(parse(text, 0, &error).isNil()) << text;
    EXPECT_EQ(error.code(), ns::NSPropertyListReadCorruptError) << text;
  }
  // A NUL ends nothing: what follows it is still text of the document, in UTF-8 or UTF-16.
  const std::string withNul("[1]\0x", 5);
  error = ns::Error(ns::NSCocoaErrorDomain, 0);
  EXPECT_TRUE(JSONSerialization::JSONObjectWithData_options_error(ns::Data(withNul), 0, &error).isNil());
  EXPECT_EQ(error.code(), ns::NSPropertyListReadCorruptError);
  EXPECT_EQ(error.userInfo()[ns::NSJSONSerializationErrorIndex].integerValue(), 3);
  const std::string utf16WithNul("[\0001\0]\0\0\0", 8);
  EXPECT_TRUE(JSONSerialization::JSONObjectWithData_options_error(ns::Data(utf16WithNul), 0, &error).isNil());
  parse("[1, 2, x]", 0, &error);
  EXPECT_EQ(error.userInfo()[ns::NSJSONSerializationErrorIndex].integerValue(), 7);
  EXPECT_NE(error.userInfo()[ns::NSDebugDescriptionErrorKey].string().find("7"), std::string::npos);

  // Fragments need the option.
  EXPECT_TRUE(parse("\"text\"", 0, &error).isNil());
  EXPECT_EQ(parse("\"text\"", ns::JSONReadingFragmentsAllowed).string(), "text");
  EXPECT_TRUE(parse("null", ns::JSONReadingFragmentsAllowed).isNull());

  // Deep nesting is refused instead of exhausting the stack.
  std::string deep(100000, '[');
  EXPECT_TRUE(parse(deep + std::string(100000, ']'), 0, &error).isNil());
  std::string fine(400, '[');
  EXPECT_FALSE(parse(fine + std::string(400, ']')).isNil());
}

TEST(JSONSerializationTest, ReadsUtf16AndEscapes) {
  std::u16string units = u"{\"k\":\"v\u00e9\"}";
  std::string le;
  for (char16_t c : units) {
    le.push_back(static_cast<char>(c & 0xff));
    le.push_back(static_cast<char>(c >> 8));
  }
  Value v = JSONSerialization::JSONObjectWithData_options_error(ns::Data(le), 0, nullptr);
  EXPECT_EQ(v["k"].string(), "vé");
  EXPECT_EQ(parse(R"(["\u00e9\ud83d\ude00\/"])")[0].string(), "é😀/");
  EXPECT_EQ(parse("\xEF\xBB\xBF[1]")[0].integerValue(), 1);
}

}  // namespace
