// Property lists in both forms, against libplist's own command-line tool.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "platform/serialization/PropertyListSerialization.h"
#include "platform/serialization/PropertyListUID.h"
#include "platform/testing/Files.h"
#include "platform/testing/Sandbox.h"

extern char** environ;

namespace {

using ns::PropertyListSerialization;
using ns::Value;

Value sample() {
  ns::Dictionary d;
  d.set("negative", -5);
  d.set("int64min", std::numeric_limits<long long>::min());
  d.set("uint64max", std::numeric_limits<unsigned long long>::max());
  d.set("signedMax", std::numeric_limits<long long>::max());
  d.set("half", -0.5);
  d.set("yes", true);
  d.set("text", "é <&> \"quoted\"");
  d.set("bytes", ns::Data(std::string("\0\1\2\xff", 4)));
  d.set("date", ns::Date::dateWithTimeIntervalSince1970(1400000000));
  d.set("list", ns::Array{Value(1), Value("two"), Value(ns::Dictionary{{Value("k"), Value(3.25)}})});
  d.set("empty", ns::Dictionary{});
  return Value(d);
}

void expectSample(const Value& v) {
  ASSERT_TRUE(v.isDictionary());
  EXPECT_EQ(v["negative"].longLongValue(), -5);
  EXPECT_FALSE(v["negative"].number().isUnsigned());
  EXPECT_EQ(v["int64min"].longLongValue(), std::numeric_limits<long long>::min());
  EXPECT_EQ(v["uint64max"].unsignedLongLongValue(), std::numeric_limits<unsigned long long>::max());
  EXPECT_TRUE(v["uint64max"].number().isUnsigned());
  EXPECT_EQ(v["signedMax"].longLongValue(), std::numeric_limits<long long>::max());
  EXPECT_EQ(v["half"].doubleValue(), -0.5);
  EXPECT_TRUE(v["yes"].isBool());
  EXPECT_EQ(v["text"].string(), "é <&> \"quoted\"");
  EXPECT_EQ(v["bytes"].data().toString(), std::string("\0\1\2\xff", 4));
  EXPECT_EQ(v["date"].date().timeIntervalSince1970(), 1400000000.0);
  EXPECT_EQ(v["list"][2]["k"].doubleValue(), 3.25);
  EXPECT_EQ(v, sample());
}

void writeFile(const std::string& path, const ns::Data& data) {
  pltest::writeFile(path, data.toString());
}

ns::Data readFile(const std::string& path) {
  return ns::Data(pltest::readFile(path));
}

int run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PropertyListSerializationTest, BothFormsRoundTripSignsWidthsDatesAndData) {
  for (auto format : {ns::PropertyListXMLFormat_v1_0, ns::PropertyListBinaryFormat_v1_0}) {
    ns::Error error(ns::NSCocoaErrorDomain, 0);
    auto data =
        PropertyListSerialization::dataWithPropertyList_format_options_error(sample(), format, 0, &error);
    ASSERT_TRUE(data) << error.description();
    ns::PropertyListFormat found{};
    Value back =
        PropertyListSerialization::propertyListWithData_options_format_error(*data, 0, &found, &error);
    EXPECT_EQ(found, format);
    expectSample(back);
  }
  auto xml = PropertyListSerialization::xmlData(sample());
  std::string text = xml->toString();
  EXPECT_NE(text.find("<integer>-5</integer>"), std::string::npos);
  EXPECT_NE(text.find("<integer>18446744073709551615</integer>"), std::string::npos);
  EXPECT_NE(text.find("<!DOCTYPE plist"), std::string::npos);
}

TEST(PropertyListSerializationTest, FractionalDatesAndUidsSurviveBinary) {
  ns::Array items{Value(ns::Date::dateWithTimeIntervalSinceReferenceDate(-99.25)),
                  Value(ns::Date::dateWithTimeIntervalSinceReferenceDate(123456.5)),
                  ns::PropertyListUID::uid(7),
                  Value(ns::Date::dateWithTimeIntervalSinceReferenceDate(-0.25))};
  auto data = PropertyListSerialization::binaryData(Value(items));
  ASSERT_TRUE(data);
  Value back = PropertyListSerialization::propertyListWithData(*data);
  EXPECT_DOUBLE_EQ(back[0].date().timeIntervalSinceReferenceDate(), -99.25);
  EXPECT_DOUBLE_EQ(back[1].date().timeIntervalSinceReferenceDate(), 123456.5);
  auto* uid = ns::PropertyListUID::from(back[2]);
  ASSERT_TRUE(uid);
  EXPECT_EQ(uid->value(), 7u);
  EXPECT_EQ(back[2], ns::PropertyListUID::uid(7));
  EXPECT_DOUBLE_EQ(back[3].date().timeIntervalSinceReferenceDate(), -0.25);
}

TEST(PropertyListSerializationTest, ADictionaryShapedLikeAnXmlUidStaysADictionaryInBinary) {
  Value dict(ns::Dictionary{{Value("CF$UID"), Value(5)}});
  Value back = PropertyListSerialization::propertyListWithData(*PropertyListSerialization::binaryData(dict));
  EXPECT_EQ(back, dict);
  // The XML form has no UID of its own: there this shape is one.
  back = PropertyListSerialization::propertyListWithData(*PropertyListSerialization::xmlData(dict));
  EXPECT_EQ(back, ns::PropertyListUID::uid(5));
}

TEST(PropertyListSerializationTest, DatesFarFromTheReferenceDateSurviveBothForms) {
  ns::Array dates{Value(ns::Date::distantFuture()), Value(ns::Date::distantPast()),
                  Value(ns::Date::dateWithTimeIntervalSince1970(-2000000000.0)),
                  Value(ns::Date::dateWithTimeIntervalSince1970(4102444800.0))};  // 1906, 2100
  for (auto format : {ns::PropertyListXMLFormat_v1_0, ns::PropertyListBinaryFormat_v1_0}) {
    auto data = PropertyListSerialization::dataWithPropertyList_format_options_error(Value(dates), format, 0,
                                                                                     nullptr);
    ASSERT_TRUE(data);
    Value back = PropertyListSerialization::propertyListWithData(*data);
    ASSERT_EQ(back.count(), dates.size());
    for (std::size_t i = 0; i < dates.size(); ++i) {
      EXPECT_DOUBLE_EQ(back[i].date().timeIntervalSince1970(), dates[i].date().timeIntervalSince1970())
          << format << " " << i;
    }
  }
}

TEST(PropertyListSerializationTest, ValuesAPropertyListCannotHoldAreRefused) {
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  auto refused = [&](const Value& v) {
    bool failed = !PropertyListSerialization::binaryData(v, &error);
    return failed && error.code() == ns::NSPropertyListWriteInvalidError;
  };
  EXPECT_TRUE(refused(Value::null()));
  EXPECT_TRUE(refused(ns::Array{Value::null()}));
  EXPECT_TRUE(refused(Value()));
  EXPECT_TRUE(refused(Value(ns::Set{Value(1)})));
  EXPECT_TRUE(refused(Value(ns::Dictionary{{Value(1), Value(2)}})));
  EXPECT_TRUE(refused(Value(std::string("a\0b", 3))));
  EXPECT_TRUE(refused(Value(std::string("\xff"))));
  EXPECT_TRUE(refused(Value(ns::Date::dateWithTimeIntervalSince1970(1e15))));
  EXPECT_TRUE(refused(Value(ns::make<ns::Object>())));
  EXPECT_NE(error.userInfo()[ns::NSDebugDescriptionErrorKey].string().find("Object"), std::string::npos);
  EXPECT_FALSE(PropertyListSerialization::propertyList_isValidForFormat(Value::null(),
                                                                        ns::PropertyListXMLFormat_v1_0));
  EXPECT_TRUE(
      PropertyListSerialization::propertyList_isValidForFormat(sample(), ns::PropertyListXMLFormat_v1_0));
}

TEST(PropertyListSerializationTest, MalformedInputGivesErrorsNotCrashes) {
  auto binary = *PropertyListSerialization::binaryData(sample());
  auto xml = *PropertyListSerialization::xmlData(sample());
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  auto corrupt = [&](const ns::Data& d) {
    error = ns::Error(ns::NSCocoaErrorDomain, 0);
    Value v = PropertyListSerialization::propertyListWithData(d, &error);
    return v.isNil() && error.code() == ns::NSPropertyListReadCorruptError;
  };
  EXPECT_TRUE(corrupt(ns::Data()));
  EXPECT_TRUE(corrupt(ns::Data("just text")));
  EXPECT_TRUE(corrupt(ns::Data("{ key = value; }")));
  EXPECT_TRUE(corrupt(ns::Data("<plist><dict><key>a</key>")));
  EXPECT_TRUE(corrupt(ns::Data("<plist><integer>12</string></plist>")));
  // Integers beyond 64 bits are refused rather than read as another number.
  EXPECT_TRUE(corrupt(ns::Data("<plist><integer>18446744073709551616</integer></plist>")));
  EXPECT_TRUE(corrupt(ns::Data("<plist><integer>-9223372036854775809</integer></plist>")));
  EXPECT_EQ(PropertyListSerialization::propertyListWithData(
                ns::Data("<plist><integer>18446744073709551615</integer></plist>"))
                .unsignedLongLongValue(),
            18446744073709551615ull);
  // Every truncation of both forms is rejected or read; none may crash.
  for (std::size_t n = 0; n < binary.length(); n += 3)
    PropertyListSerialization::propertyListWithData(binary.subdata(0, n));
  for (std::size_t n = 0; n < xml.length(); n += 7)
    PropertyListSerialization::propertyListWithData(xml.subdata(0, n));
  EXPECT_TRUE(corrupt(binary.subdata(0, binary.length() - 10)));
  // Damaged offsets in the binary form.
  std::string damaged = binary.toString();
  for (std::size_t i = 8; i < damaged.size(); i += 5) {
    std::string copy = damaged;
    copy[i] = static_cast<char>(copy[i] ^ 0x5a);
    PropertyListSerialization::propertyListWithData(ns::Data(copy));
  }
  // A binary array that contains itself.
  std::string loop("bplist00\xA1\x00\x08", 11);
  loop += std::string(6, '\0') + "\x01\x01" + std::string(7, '\0') + "\x01" + std::string(8, '\0') +
          std::string(7, '\0') + "\x0A";
  EXPECT_TRUE(corrupt(ns::Data(loop)));
  // An external entity is never read.
  EXPECT_TRUE(
      corrupt(ns::Data("<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                       "<plist><string>&x;</string></plist>")));
}

TEST(PropertyListSerializationTest, HexadecimalIntegersAndDatesThatCannotBeReadRightAreRefused) {
  auto read = [](const std::string& leaf) {
    return PropertyListSerialization::propertyListWithData(ns::Data("<plist>" + leaf + "</plist>"));
  };
  // Hexadecimal integers read as the number they write, within 64 bits.
  EXPECT_EQ(read("<integer>0x10</integer>").longLongValue(), 16);
  EXPECT_EQ(read("<integer>-0x10</integer>").longLongValue(), -16);
  EXPECT_EQ(read("<integer>0xFFFFFFFFFFFFFFFF</integer>").unsignedLongLongValue(), 18446744073709551615ull);
  EXPECT_EQ(read("<integer>-0x8000000000000000</integer>").longLongValue(),
            std::numeric_limits<long long>::min());
  // Beyond them the reader would saturate or flip the sign (-0xFFFFFFFFFFFFFFFF came back as 1).
  EXPECT_TRUE(read("<integer>0x10000000000000000</integer>").isNil());
  EXPECT_TRUE(read("<integer>0x000ffffffffffffffff0</integer>").isNil());
  EXPECT_TRUE(read("<integer>-0xFFFFFFFFFFFFFFFF</integer>").isNil());
  EXPECT_TRUE(read("<integer>-0x8000000000000001</integer>").isNil());

  // Dates read as written, with or without the Z, around whitespace, leap days and seconds.
  EXPECT_EQ(read("<date> 2020-02-29T03:04:05Z\n</date>").date().timeIntervalSince1970(), 1582945445.0);
  EXPECT_EQ(read("<date>2020-02-29T03:04:05</date>").date().timeIntervalSince1970(), 1582945445.0);
  EXPECT_EQ(read("<date>2016-12-31T23:59:60Z</date>").date().timeIntervalSince1970(), 1483228800.0);
  EXPECT_TRUE(read("<date>0001-01-01T00:00:00Z</date>").isDate());
  EXPECT_TRUE(read("<date>0-12-30T00:00:00Z</date>").isDate());
  EXPECT_EQ(read("<date>2020-02-29T03:04:05.75Z</date>").date().timeIntervalSince1970(), 1582945445.0);
  // Text the reader would turn into 1970, another day or another year is refused.
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  EXPECT_TRUE(PropertyListSerialization::propertyListWithData(
                  ns::Data("<plist><dict><key>when</key><date>garbage</date></dict></plist>"), &error)
                  .isNil());
  EXPECT_EQ(error.code(), ns::NSPropertyListReadCorruptError);
  for (const char* bad : {"<date></date>", "<date/>", "<date>2020-01-02</date>",
                          "<date>2021-02-29T00:00:00Z</date>", "<date>2020-13-01T00:00:00Z</date>",
                          "<date>2020-01-02T24:00:00Z</date>", "<date>2020-01-02 03:04:05Z</date>",
                          "<date>2020-01-02T03:04:05+01:00</date>", "<date>2020-01-02T03:04:05.Z</date>",
                          "<date>99999-01-01T00:00:00Z</date>", "<date>-4000-01-01T00:00:00Z</date>"})
    EXPECT_TRUE(read(bad).isNil()) << bad;
  // What only looks like a date or an integer, in a comment or a CDATA section, is no value.
  EXPECT_EQ(read("<!-- <date>x</date><integer>0x1FFFFFFFFFFFFFFFFF</integer> --><string><![CDATA[<date>"
                 "soon</date>]]></string>")
                .string(),
            "<date>soon</date>");
}

// A binary property list of objects given in their encoded form, with one-byte references and
// offsets; object 0 is the root.
ns::Data binaryObjects(const std::vector<std::string>& objects) {
  std::string out = "bplist00", offsets;
  for (const auto& object : objects) {
    offsets += static_cast<char>(out.size());
    out += object;
  }
  auto table = static_cast<char>(out.size());
  out += offsets + std::string(6, '\0') + "\x01\x01" + std::string(7, '\0') +
         static_cast<char>(objects.size()) + std::string(15, '\0') + table;
  return ns::Data(out);
}

std::string nested(const std::string& open, const std::string& close, int depth,
                   const std::string& inside = "") {
  std::string text = "<plist>";
  for (int i = 0; i < depth; ++i) text += open;
  text += inside;
  for (int i = 0; i < depth; ++i) text += close;
  return text + "</plist>";
}

TEST(PropertyListSerializationTest, HostileKeysAndNestingAreRefusedBeforeLibplistSeesThem) {
  // A dictionary of one key (object 1) and value (object 2); markers 0x5n and 0x6n are ASCII and
  // UTF-16 strings of n characters ('S' is 0x53, 'Q' 0x51).
  const std::string dict("\xD1\x01\x02", 3), yes("\x09", 1), asciiNul("Sa\0b", 4);
  struct Case {
    const char* what;
    ns::Data data;
  };
  const Case refused[] = {
      {"binary key with a NUL", binaryObjects({dict, asciiNul, yes})},
      {"binary UTF-16 key with a NUL", binaryObjects({dict, std::string("\x62\0a\0\0", 5), yes})},
      {"binary key that is a number", binaryObjects({dict, std::string("\x10\x07", 2), yes})},
      {"XML key with a raw NUL",
       ns::Data(std::string("<plist><dict><key>a\0b</key><true/></dict></plist>", 48))},
      {"XML string with a raw NUL", ns::Data(std::string("<plist><string>a\0b</string></plist>", 35))},
      {"200000 nested XML arrays", ns::Data(nested("<array>", "</array>", 200000))},
      {"200000 nested XML dictionaries",
       ns::Data(nested("<dict><key>k</key>", "</dict>", 200000, "<true/>"))},
      {"nesting hidden by close tags in comments",
       ns::Data(nested("<array><!-- </array> -->", "</array>", 2000))},
      {"nesting hidden by close tags in attributes",
       ns::Data(nested("<array a='</array>'>", "</array>", 2000))},
      {"an unterminated comment", ns::Data("<plist><!-- <array></array></plist>")},
  };
  for (const auto& c : refused) {
    ns::Error error(ns::NSCocoaErrorDomain, 0);
    EXPECT_TRUE(PropertyListSerialization::propertyListWithData(c.data, &error).isNil()) << c.what;
    EXPECT_EQ(error.code(), ns::NSPropertyListReadCorruptError) << c.what;
  }
  EXPECT_EQ(binaryObjects({dict, asciiNul, yes}).length(), 51u);

  // What lies within the limits still reads: keys in both encodings, comments, CDATA, a document
  // type with an internal subset, and nesting just inside the limit.
  Value keys = PropertyListSerialization::propertyListWithData(binaryObjects(
      {std::string("\xD2\x01\x02\x03\x03", 5), std::string("Qa", 2), std::string("\x61\0\xE9", 3), yes}));
  EXPECT_EQ(keys, Value(ns::Dictionary{{"a", true}, {"é", true}}));
  Value decorated = PropertyListSerialization::propertyListWithData(ns::Data(
      "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY e \"<x>\">]><!-- </plist> --><plist version='1.0'>"
      "<array><string><![CDATA[</array>]]></string><array/></array></plist>"));
  EXPECT_EQ(decorated, Value(ns::Array{Value("</array>"), Value(ns::Array{})}));
  Value deep = PropertyListSerialization::propertyListWithData(
      ns::Data(nested("<array>", "</array>", 500, "<true/>")));
  ASSERT_TRUE(deep.isArray());
}

// A binary property list of arrays: object i holds references to the objects listed in
// links[i]; object 0 is the root. References and offsets are four bytes wide.
ns::Data binaryArrays(const std::vector<std::vector<std::uint32_t>>& links) {
  std::string out = "bplist00";
  auto put32 = [&](std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(v >> shift & 0xFF);
  };
  std::vector<std::uint32_t> offsets;
  for (const auto& refs : links) {
    offsets.push_back(static_cast<std::uint32_t>(out.size()));
    out += static_cast<char>(0xA0 | refs.size());
    for (std::uint32_t r : refs) put32(r);
  }
  auto table = static_cast<std::uint32_t>(out.size());
  for (std::uint32_t o : offsets) put32(o);
  out += std::string(6, '\0') + "\x04\x04";
  out += std::string(4, '\0');
  put32(static_cast<std::uint32_t>(links.size()));
  out += std::string(8, '\0');
  out += std::string(4, '\0');
  put32(table);
  return ns::Data(out);
}

TEST(PropertyListSerializationTest, BinaryIntegersBeyond64BitsDatesThatAreNoTimeAndBrokenUtf16AreRefused) {
  auto read = [](const std::string& object) {
    return PropertyListSerialization::propertyListWithData(binaryObjects({object}));
  };
  auto big = [](const std::string& high, const std::string& low) { return "\x14" + high + low; };
  const std::string zero(8, '\0'), ones(8, '\xff');
  // The 16-byte form the writers use for unsigned values above the signed range.
  EXPECT_EQ(read(big(zero, ones)).unsignedLongLongValue(), 18446744073709551615ull);
  // 2^64 came back as 0, and a 128-bit -1 as 2^64 - 1.
  EXPECT_TRUE(read(big(std::string(7, '\0') + "\x01", zero)).isNil());
  EXPECT_TRUE(read(big(ones, ones)).isNil());
  auto date = [](double seconds) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &seconds, sizeof bits);
    std::string object = "\x33";
    for (int i = 7; i >= 0; --i) object += static_cast<char>(bits >> (8 * i));
    return object;
  };
  EXPECT_EQ(read(date(-0.5)).date().timeIntervalSinceReferenceDate(), -0.5);
  EXPECT_EQ(read(date(1e12)).date().timeIntervalSinceReferenceDate(), 1e12);
  // These came back as 1970.
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  EXPECT_TRUE(PropertyListSerialization::propertyListWithData(
                  binaryObjects({"\xA1\x01", date(std::numeric_limits<double>::quiet_NaN())}), &error)
                  .isNil());
  EXPECT_EQ(error.code(), ns::NSPropertyListReadCorruptError);
  EXPECT_TRUE(read(date(-std::numeric_limits<double>::infinity())).isNil());
  // UTF-16 text: a pair makes one character; a half alone was dropped from the text.
  EXPECT_EQ(read(std::string("\x63\x00\x41\xD8\x3D\xDE\x00", 7)).string(), "A\U0001F600");
  EXPECT_TRUE(read(std::string("\x63\x00\x41\xD8\x00\x00\x42", 7)).isNil());
  EXPECT_TRUE(read(std::string("\x62\x00\x41\xDC\x00", 5)).isNil());
  EXPECT_TRUE(read(std::string("\x61\xD8\x3D", 3)).isNil());
}

TEST(PropertyListSerializationTest, HostileBinaryObjectGraphsAreRefusedQuickly) {
  auto corrupt = [](const ns::Data& d) {
    ns::Error error(ns::NSCocoaErrorDomain, 0);
    Value v = PropertyListSerialization::propertyListWithData(d, &error);
    return v.isNil() && error.code() == ns::NSPropertyListReadCorruptError;
  };
  // The helper's output is a property list the reader accepts.
  Value small = PropertyListSerialization::propertyListWithData(binaryArrays({{1, 1}, {}}));
  ASSERT_TRUE(small.isArray());
  EXPECT_EQ(small.count(), 2u);
  // Each object refers twice to the next: 60 objects in under a kilobyte would expand to 2^60
  // arrays.
  std::vector<std::vector<std::uint32_t>> doubling;
  for (std::uint32_t i = 0; i < 59; ++i) doubling.push_back({i + 1, i + 1});
  doubling.push_back({});
  EXPECT_TRUE(corrupt(binaryArrays(doubling)));
  // A chain of 200000 arrays, each inside the one before, would be followed down the stack.
  std::vector<std::vector<std::uint32_t>> chain;
  for (std::uint32_t i = 0; i + 1 < 200000; ++i) chain.push_back({i + 1});
  chain.push_back({});
  EXPECT_TRUE(corrupt(binaryArrays(chain)));
  // Nesting within the limit and ordinary sharing are still read.
  chain.resize(300);
  chain.back() = {};
  EXPECT_TRUE(PropertyListSerialization::propertyListWithData(binaryArrays(chain)).isArray());
  doubling.erase(doubling.begin(), doubling.end() - 12);
  for (std::uint32_t i = 0; i + 1 < doubling.size(); ++i) doubling[i] = {i + 1, i + 1};
  Value shared = PropertyListSerialization::propertyListWithData(binaryArrays(doubling));
  ASSERT_TRUE(shared.isArray());
  EXPECT_EQ(shared[1][0].count(), 2u);
}

TEST(PropertyListSerializationTest, LibplistsOwnToolReadsOursAndWeReadItsOutput) {
  pltest::Sandbox sandbox;
  auto file = [&](const std::string& name) { return sandbox.path(name); };
  // Ours (binary) to its XML.
  writeFile(file("ours.bin"), *PropertyListSerialization::binaryData(sample()));
  ASSERT_EQ(run({"plistutil", "-i", file("ours.bin"), "-o", file("theirs.xml"), "-f", "xml"}), 0);
  std::string theirsXml = readFile(file("theirs.xml")).toString();
  EXPECT_NE(theirsXml.find("<integer>-5</integer>"), std::string::npos);
  EXPECT_NE(theirsXml.find("<integer>-9223372036854775808</integer>"), std::string::npos);
  EXPECT_NE(theirsXml.find("<integer>18446744073709551615</integer>"), std::string::npos);
  expectSample(PropertyListSerialization::propertyListWithData(readFile(file("theirs.xml"))));

  // Ours (XML) to its binary.
  writeFile(file("ours.xml"), *PropertyListSerialization::xmlData(sample()));
  ASSERT_EQ(run({"plistutil", "-i", file("ours.xml"), "-o", file("theirs.bin"), "-f", "bin"}), 0);
  ns::Data theirsBin = readFile(file("theirs.bin"));
  EXPECT_EQ(theirsBin.view().substr(0, 8), "bplist00");
  expectSample(PropertyListSerialization::propertyListWithData(theirsBin));

  // A hand-written XML list that the tool turns into binary.
  writeFile(file("hand.xml"),
            ns::Data("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                     "<array><integer>-42</integer><true/><real>2.5</real></array></plist>"));
  ASSERT_EQ(run({"plistutil", "-i", file("hand.xml"), "-o", file("hand.bin"), "-f", "bin"}), 0);
  Value hand = PropertyListSerialization::propertyListWithData(readFile(file("hand.bin")));
  ASSERT_EQ(hand.count(), 3u);
  EXPECT_EQ(hand[0].longLongValue(), -42);
  EXPECT_TRUE(hand[1].isBool());
  EXPECT_EQ(hand[2].doubleValue(), 2.5);
}

}  // namespace
