// What "%@" prints for each kind of value, as the platform prints it.
#include <gtest/gtest.h>

#include "platform/core/Format.h"
#include "platform/core/Value.h"

namespace {

using ns::Array;
using ns::Dictionary;
using ns::Value;

TEST(DescriptionTest, Scalars) {
  EXPECT_EQ(Value().description(), "(null)");
  EXPECT_EQ(Value::null().description(), "<null>");
  EXPECT_EQ(Value("plain text").description(), "plain text");  // bare at top level
  EXPECT_EQ(Value(true).description(), "1");
  EXPECT_EQ(Value(-7).description(), "-7");
  EXPECT_EQ(Value(2.5).description(), "2.5");
  EXPECT_EQ(Value(ns::Data("\xde\xad\xbe\xef\x01", 5)).description(), "<deadbeef 01>");
  EXPECT_EQ(Value(ns::Date::dateWithTimeIntervalSince1970(1700000000.9)).description(),
            "2023-11-14 22:13:20 +0000");
}

TEST(DescriptionTest, ContainersPrintAsThePlatform) {
  struct Case {
    const char* what;
    Value value;
    const char* printed;
  } cases[] = {
      {"array of string, number and null", Array{"a", 1, Value::null()},
       "(\n    a,\n    1,\n    \"<null>\"\n)"},
      {"strings quoted only when needed",
       Array{"word", "two words", "", "snake_case1", "1.0", "a-b", "q\"uote", "back\\slash", "line\nbreak",
             "caf\u00e9", "\U0001F600"},
       "(\n    word,\n    \"two words\",\n    \"\",\n    snake_case1,\n    \"1.0\",\n    \"a-b\",\n"
       "    \"q\\\"uote\",\n    \"back\\\\slash\",\n    \"line\\nbreak\",\n    \"caf\\U00e9\",\n"
       "    \"\\Ud83d\\Ude00\"\n)"},
      {"numbers, dates and data",
       Array{2.5, -1, 0, true, ns::Data("\x00\xff", 2), ns::Date::dateWithTimeIntervalSinceReferenceDate(0)},
       "(\n    \"2.5\",\n    \"-1\",\n    0,\n    1,\n    \"<00ff>\",\n    \"2001-01-01 00:00:00 +0000\"\n)"},
      {"string keys sorted", Dictionary{{"zeta", 1}, {"alpha", "x y"}, {"Beta", Value::null()}},
       "{\n    Beta = \"<null>\";\n    alpha = \"x y\";\n    zeta = 1;\n}"},
      {"other keys in insertion order", Dictionary{{3, "c"}, {"b", 2}, {1, "a"}},
       "{\n    3 = c;\n    b = 2;\n    1 = a;\n}"},
      {"nested containers indented",
       Dictionary{{"list", Array{1, Array{2, 3}}}, {"map", Dictionary{{"k", "v"}}}},
       "{\n    list =     (\n        1,\n                (\n            2,\n            3\n"
       "        )\n    );\n    map =     {\n        k = v;\n    };\n}"},
      {"empty array", Array{}, "(\n)"},
      {"empty dictionary", Dictionary{}, "{\n}"},
      {"empty set", ns::Set{}, "{(\n)}"},
      {"set", ns::Set{"a", 2}, "{(\n    a,\n    2\n)}"},
      {"array of an empty array", Array{Array{}}, "(\n        (\n    )\n)"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value.description(), c.printed) << c.what;
}

struct Widget : ns::Object {};

TEST(DescriptionTest, ObjectsUseTheirDescription) {
  auto w = ns::make<Widget>();
  Value v(Array{w});
  std::string d = v.description();
  EXPECT_EQ(d.rfind("(\n    \"<Widget: 0x", 0), 0u) << d;
  EXPECT_EQ(Value(w).description(), w->description());
  EXPECT_EQ(ns::format("%@", Value(w)), w->description());
}

}  // namespace
