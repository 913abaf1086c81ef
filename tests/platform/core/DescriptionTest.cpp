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

TEST(DescriptionTest, ArrayOfStringNumberAndNull) {
  Value v(Array{"a", 1, Value::null()});
  EXPECT_EQ(v.description(), "(\n    a,\n    1,\n    \"<null>\"\n)");
}

TEST(DescriptionTest, StringsAreQuotedInsideContainersOnlyWhenNeeded) {
  Value v(Array{"word", "two words", "", "snake_case1", "1.0", "a-b", "q\"uote", "back\\slash", "line\nbreak",
                "caf\u00e9", "\U0001F600"});
  EXPECT_EQ(v.description(),
            "(\n"
            "    word,\n"
            "    \"two words\",\n"
            "    \"\",\n"
            "    snake_case1,\n"
            "    \"1.0\",\n"
            "    \"a-b\",\n"
            "    \"q\\\"uote\",\n"
            "    \"back\\\\slash\",\n"
            "    \"line\\nbreak\",\n"
            "    \"caf\\U00e9\",\n"
            "    \"\\Ud83d\\Ude00\"\n"
            ")");
}

TEST(DescriptionTest, NumbersDatesAndDataInsideContainers) {
  Value v(
      Array{2.5, -1, 0, true, ns::Data("\x00\xff", 2), ns::Date::dateWithTimeIntervalSinceReferenceDate(0)});
  EXPECT_EQ(v.description(),
            "(\n"
            "    \"2.5\",\n"
            "    \"-1\",\n"
            "    0,\n"
            "    1,\n"
            "    \"<00ff>\",\n"
            "    \"2001-01-01 00:00:00 +0000\"\n"
            ")");
}

TEST(DescriptionTest, DictionarySortsStringKeys) {
  Value v(Dictionary{{"zeta", 1}, {"alpha", "x y"}, {"Beta", Value::null()}});
  EXPECT_EQ(v.description(),
            "{\n"
            "    Beta = \"<null>\";\n"
            "    alpha = \"x y\";\n"
            "    zeta = 1;\n"
            "}");
}

TEST(DescriptionTest, DictionaryWithOtherKeysKeepsInsertionOrder) {
  Value v(Dictionary{{3, "c"}, {"b", 2}, {1, "a"}});
  EXPECT_EQ(v.description(), "{\n    3 = c;\n    b = 2;\n    1 = a;\n}");
}

TEST(DescriptionTest, NestedContainersIndentAsThePlatform) {
  Value v(Dictionary{{"list", Array{1, Array{2, 3}}}, {"map", Dictionary{{"k", "v"}}}});
  EXPECT_EQ(v.description(),
            "{\n"
            "    list =     (\n"
            "        1,\n"
            "                (\n"
            "            2,\n"
            "            3\n"
            "        )\n"
            "    );\n"
            "    map =     {\n"
            "        k = v;\n"
            "    };\n"
            "}");
}

TEST(DescriptionTest, EmptyContainersAndSets) {
  EXPECT_EQ(Value(Array{}).description(), "(\n)");
  EXPECT_EQ(Value(Dictionary{}).description(), "{\n}");
  EXPECT_EQ(Value(ns::Set{}).description(), "{(\n)}");
  EXPECT_EQ(Value(ns::Set{"a", 2}).description(), "{(\n    a,\n    2\n)}");
  EXPECT_EQ(Value(Array{Array{}}).description(), "(\n        (\n    )\n)");
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
