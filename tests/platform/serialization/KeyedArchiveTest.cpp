// Keyed archives: layout, object graphs, secure decoding and damaged input.
#include <gtest/gtest.h>

#include "platform/core/Exception.h"
#include "platform/serialization/CodingRegistry.h"
#include "platform/serialization/KeyedArchiver.h"
#include "platform/serialization/KeyedUnarchiver.h"
#include "platform/serialization/PropertyListSerialization.h"
#include "platform/serialization/PropertyListUID.h"

namespace {

using ns::KeyedArchiver;
using ns::KeyedUnarchiver;
using ns::Value;

// A node of a graph: children in an array, a back reference to its parent (weak, as back
// references are) and a shared neighbour.
struct Node : ns::Object, ns::Coding {
  std::string name;
  long count = 0;
  ns::Array children;
  ns::Weak<Node> parent;
  ns::Ref<Node> shared;
  bool dollar = false;

  std::string className() const override { return "Node"; }
  void encodeWithCoder(ns::Coder& c) const override {
    c.encodeObject_forKey(Value(name), "name");
    c.encodeInt64_forKey(count, "count");
    c.encodeObject_forKey(Value(children), "children");
    c.encodeObject_forKey(Value(parent.lock()), "parent");
    c.encodeObject_forKey(Value(shared), "shared");
    c.encodeBool_forKey(true, "$dollar");
  }
  void initWithCoder(ns::Coder& c) override {
    name = c.decodeObjectForKey("name").string();
    count = c.decodeIntegerForKey("count");
    children = c.decodeObjectForKey("children").array();
    parent = c.decodeObjectForKey("parent").objectAs<Node>();
    shared = c.decodeObjectForKey("shared").objectAs<Node>();
    dollar = c.decodeBoolForKey("$dollar");
  }
};

// Reads a key with the wrong type.
struct Strict : ns::Object, ns::Coding {
  std::string className() const override { return "Strict"; }
  void encodeWithCoder(ns::Coder& c) const override { c.encodeObject_forKey(Value("text"), "title"); }
  void initWithCoder(ns::Coder& c) override { c.decodeInt64ForKey("title"); }
};

struct Unsafe : ns::Object, ns::Coding {
  std::string className() const override { return "Unsafe"; }
  void encodeWithCoder(ns::Coder&) const override {}
  void initWithCoder(ns::Coder&) override {}
};

struct NotCoding : ns::Object {};

// A damaged archive can make any node the child of any other, cycles included; taking the
// decoded graph apart lets it be freed.
void dismantle(const Value& v) {
  std::vector<ns::Ref<Node>> pending;
  if (auto n = v.objectAs<Node>()) pending.push_back(n);
  while (!pending.empty()) {
    auto n = pending.back();
    pending.pop_back();
    for (const Value& child : n->children)
      if (auto c = child.objectAs<Node>()) pending.push_back(c);
    if (n->shared) pending.push_back(n->shared);
    n->children.clear();
    n->shared.reset();
  }
}

class KeyedArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ns::registerCodingClass<Node>("Node");
    ns::registerCodingClass<Strict>("Strict");
    ns::registerCodingClass<Unsafe>("Unsafe", "NSObject", false);
  }
  void TearDown() override {
    for (auto* name : {"Node", "Strict", "Unsafe"}) ns::CodingRegistry::unregisterClass(name);
  }

  // root -> a, b; a and b share c; c's parent is root.
  static ns::Ref<Node> graph() {
    auto root = ns::make<Node>(), a = ns::make<Node>(), b = ns::make<Node>(), c = ns::make<Node>();
    root->name = "root";
    a->name = "a";
    b->name = "b";
    c->name = "c";
    c->count = -7;
    a->shared = c;
    b->shared = c;
    c->parent = root;
    root->children = {Value(a), Value(b)};
    return root;
  }
};

TEST_F(KeyedArchiveTest, SharedChildrenAndCyclesComeBackAsTheyWere) {
  auto root = graph();
  ns::Data data = KeyedArchiver::archivedDataWithRootObject(Value(root));
  auto back = KeyedUnarchiver::unarchiveObjectWithData(data).objectAs<Node>();
  ASSERT_TRUE(back);
  ASSERT_EQ(back->children.size(), 2u);
  auto a = back->children[0].objectAs<Node>();
  auto b = back->children[1].objectAs<Node>();
  ASSERT_TRUE(a && b && a->shared);
  EXPECT_EQ(a->name, "a");
  EXPECT_EQ(b->name, "b");
  EXPECT_EQ(a->shared.get(), b->shared.get()) << "one shared child, not two copies";
  EXPECT_EQ(a->shared->count, -7);
  EXPECT_EQ(a->shared->parent.lock(), back) << "the cycle leads back to the decoded root";
  EXPECT_TRUE(back->dollar) << "keys beginning with $ are escaped, not lost";
}

TEST_F(KeyedArchiveTest, WritesThePlatformsArchiveLayout) {
  ns::Dictionary d;
  d.set("when", ns::Date::dateWithTimeIntervalSinceReferenceDate(10.5));
  d.set("list", ns::Array{Value("x"), Value("x"), Value::null()});
  ns::Data data = KeyedArchiver::archivedDataWithRootObject(Value(d));
  EXPECT_EQ(data.view().substr(0, 8), "bplist00");
  Value plist = ns::PropertyListSerialization::propertyListWithData(data);
  EXPECT_EQ(plist["$archiver"].string(), "NSKeyedArchiver");
  EXPECT_EQ(plist["$version"].integerValue(), 100000);
  const Value& objects = plist["$objects"];
  EXPECT_EQ(objects[0].string(), "$null");
  auto* rootUid = ns::PropertyListUID::from(plist["$top"]["root"]);
  ASSERT_TRUE(rootUid);
  const Value& rootDict = objects[rootUid->value()];
  EXPECT_TRUE(rootDict["NS.keys"].isArray());
  EXPECT_TRUE(rootDict["NS.objects"].isArray());
  auto* cls = ns::PropertyListUID::from(rootDict["$class"]);
  ASSERT_TRUE(cls);
  EXPECT_EQ(objects[cls->value()]["$classname"].string(), "NSDictionary");
  EXPECT_EQ(objects[cls->value()]["$classes"], Value(ns::Array{Value("NSDictionary"), Value("NSObject")}));
  bool sawTime = false;
  int stringsX = 0;
  for (const Value& o : objects.array()) {
    if (o.isDictionary() && o["NS.time"].isNumber()) sawTime = o["NS.time"].doubleValue() == 10.5;
    if (o.isString() && o.string() == "x") ++stringsX;
  }
  EXPECT_TRUE(sawTime);
  EXPECT_EQ(stringsX, 1) << "equal strings are stored once";
  EXPECT_EQ(KeyedUnarchiver::unarchiveObjectWithData(data), Value(d));

  auto xml = ns::make<KeyedArchiver>(false);
  xml->setOutputFormat(ns::PropertyListXMLFormat_v1_0);
  xml->encodeObject_forKey(Value(d), "root");
  ns::Data xmlData = xml->encodedData();
  EXPECT_NE(xmlData.toString().find("<key>$archiver</key>"), std::string::npos);
  EXPECT_NE(xmlData.toString().find("<key>CF$UID</key>"), std::string::npos);
  EXPECT_EQ(KeyedUnarchiver::unarchiveObjectWithData(xmlData), Value(d));
}

TEST_F(KeyedArchiveTest, ReadsArchivesOfMutableContainersWrittenElsewhere) {
  // As the original platform writes them, in XML form.
  const char* xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>$archiver</key><string>NSKeyedArchiver</string>
<key>$objects</key><array>
  <string>$null</string>
  <dict><key>$class</key><dict><key>CF$UID</key><integer>5</integer></dict>
        <key>NS.keys</key><array><dict><key>CF$UID</key><integer>2</integer></dict></array>
        <key>NS.objects</key><array><dict><key>CF$UID</key><integer>3</integer></dict></array></dict>
  <string>items</string>
  <dict><key>$class</key><dict><key>CF$UID</key><integer>6</integer></dict>
        <key>NS.objects</key><array><dict><key>CF$UID</key><integer>4</integer></dict><integer>0</integer></array></dict>
  <dict><key>$class</key><dict><key>CF$UID</key><integer>7</integer></dict><key>NS.string</key><string>mutable</string></dict>
  <dict><key>$classname</key><string>NSMutableDictionary</string><key>$classes</key><array><string>NSMutableDictionary</string><string>NSDictionary</string><string>NSObject</string></array></dict>
  <dict><key>$classname</key><string>NSMutableArray</string><key>$classes</key><array><string>NSMutableArray</string><string>NSArray</string><string>NSObject</string></array></dict>
  <dict><key>$classname</key><string>NSMutableString</string><key>$classes</key><array><string>NSMutableString</string><string>NSString</string><string>NSObject</string></array></dict>
</array>
<key>$top</key><dict><key>root</key><dict><key>CF$UID</key><integer>1</integer></dict></dict>
<key>$version</key><integer>100000</integer>
</dict></plist>)";
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  // The array's second element is the integer 0, not a reference: damage.
  EXPECT_TRUE(KeyedUnarchiver::unarchiveTopLevelObjectWithData_error(ns::Data(xml), &error).isNil());
  EXPECT_EQ(error.code(), ns::NSCoderReadCorruptError);

  std::string fixed = xml;
  fixed.replace(fixed.find("<integer>0</integer></array>"), 20, "");
  Value v = KeyedUnarchiver::unarchivedObjectOfClasses_fromData_error({"NSDictionary", "NSArray", "NSString"},
                                                                      ns::Data(fixed), &error);
  ASSERT_TRUE(v.isDictionary()) << error.description();
  EXPECT_EQ(v["items"][0].string(), "mutable");
}

TEST_F(KeyedArchiveTest, SecureDecodingAcceptsOnlyAllowedClasses) {
  ns::Data data = KeyedArchiver::archivedDataWithRootObject(Value(graph()));
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  // Node alone is not enough: its name is a string and its children an array.
  EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClass_fromData_error("Node", data, &error).isNil());
  EXPECT_EQ(error.code(), ns::NSCoderReadCorruptError);
  EXPECT_NE(error.userInfo()["NSDebugDescription"].string().find("unexpected class 'NSString'"),
            std::string::npos);

  Value ok = KeyedUnarchiver::unarchivedObjectOfClasses_fromData_error({"Node", "NSString", "NSArray"}, data,
                                                                       &error);
  ASSERT_TRUE(ok.objectAs<Node>());

  // A class that is not on the list is refused, naming the key.
  ns::Data strings = KeyedArchiver::archivedDataWithRootObject(Value(ns::Array{Value("a")}));
  EXPECT_TRUE(
      KeyedUnarchiver::unarchivedObjectOfClass_fromData_error("NSDictionary", strings, &error).isNil());
  EXPECT_NE(error.userInfo()["NSDebugDescription"].string().find("'root'"), std::string::npos);
  EXPECT_EQ(
      KeyedUnarchiver::unarchivedObjectOfClasses_fromData_error({"NSArray", "NSString"}, strings, &error)
          .count(),
      1u);
  // Allowing NSObject allows every class.
  EXPECT_FALSE(KeyedUnarchiver::unarchivedObjectOfClass_fromData_error("NSObject", strings, &error).isNil());

  // A class that does not support secure coding is refused by a secure coder.
  ns::Data unsafe = KeyedArchiver::archivedDataWithRootObject(Value(ns::make<Unsafe>()));
  EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClass_fromData_error("Unsafe", unsafe, &error).isNil());
  EXPECT_TRUE(KeyedUnarchiver::unarchiveObjectWithData(unsafe).objectAs<Unsafe>());
  EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject_requiringSecureCoding_error(
      Value(ns::make<Unsafe>()), true, &error));
  EXPECT_EQ(error.code(), ns::NSCoderInvalidValueError);
  EXPECT_THROW(KeyedArchiver::archivedDataWithRootObject(Value(ns::make<NotCoding>())), ns::Exception);
}

TEST_F(KeyedArchiveTest, ATypeMismatchRaisesNamingTheKey) {
  ns::Data data = KeyedArchiver::archivedDataWithRootObject(Value(ns::make<Strict>()));
  try {
    KeyedUnarchiver::unarchiveObjectWithData(data);
    FAIL() << "no exception";
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.name(), ns::NSInvalidUnarchiveOperationException);
    EXPECT_NE(e.reason().find("(title)"), std::string::npos) << e.reason();
  }
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  EXPECT_TRUE(KeyedUnarchiver::unarchiveTopLevelObjectWithData_error(data, &error).isNil());
  EXPECT_NE(error.userInfo()["NSDebugDescription"].string().find("(title)"), std::string::npos);
}

TEST_F(KeyedArchiveTest, WhatTheArchiverWritesTheUnarchiverCanRead) {
  auto nested = [](int depth) {
    Value v("leaf");
    for (int i = 0; i < depth; ++i) v = Value(ns::Array{v});
    return v;
  };
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  // Deep, but within what the unarchiver follows: it comes back.
  auto fits =
      KeyedArchiver::archivedDataWithRootObject_requiringSecureCoding_error(nested(400), false, &error);
  ASSERT_TRUE(fits);
  Value back = KeyedUnarchiver::unarchiveTopLevelObjectWithData_error(*fits, &error);
  EXPECT_EQ(back, nested(400));
  // Deeper than the unarchiver follows: refused when written, not discovered when read.
  auto tooDeep =
      KeyedArchiver::archivedDataWithRootObject_requiringSecureCoding_error(nested(600), false, &error);
  EXPECT_FALSE(tooDeep);
  EXPECT_EQ(error.code(), ns::NSCoderInvalidValueError);
}

TEST_F(KeyedArchiveTest, DamagedArchivesGiveErrorsNotCrashes) {
  ns::Data good = KeyedArchiver::archivedDataWithRootObject(Value(graph()));
  ns::Error error(ns::NSCocoaErrorDomain, 0);
  auto damaged = [&](const Value& archive) {
    auto data = ns::PropertyListSerialization::binaryData(archive);
    error = ns::Error(ns::NSCocoaErrorDomain, 0);
    bool nil = KeyedUnarchiver::unarchiveTopLevelObjectWithData_error(*data, &error).isNil();
    return nil && error.code() == ns::NSCoderReadCorruptError &&
           KeyedUnarchiver::unarchiveObjectWithData(*data).isNil();
  };
  auto archive = [](ns::Array objects, Value version = Value(100000)) {
    ns::Dictionary d;
    d.set("$archiver", "NSKeyedArchiver");
    d.set("$version", version);
    d.set("$top", ns::Dictionary{{Value("root"), ns::PropertyListUID::uid(1)}});
    d.set("$objects", std::move(objects));
    return Value(d);
  };
  Value arrayClass(ns::Dictionary{{Value("$classname"), Value("NSArray")}});
  auto ref = [](int n) { return ns::PropertyListUID::uid(n); };

  EXPECT_TRUE(damaged(archive({Value("$null"), Value("ok")}, Value(7))));  // version
  EXPECT_TRUE(damaged(archive({Value("$null")})));                         // root out of range
  EXPECT_TRUE(damaged(
      archive({Value("$null"), Value(ns::Dictionary{{Value("$class"), ref(9)}})})));  // class out of range
  EXPECT_TRUE(damaged(
      archive({Value("$null"),  // array holds itself
               Value(ns::Dictionary{{Value("$class"), ref(2)}, {Value("NS.objects"), ns::Array{ref(1)}}}),
               arrayClass})));
  EXPECT_TRUE(damaged(archive({Value("$null"),  // unknown class
                               Value(ns::Dictionary{{Value("$class"), ref(2)}}),
                               Value(ns::Dictionary{{Value("$classname"), Value("NoSuchClass")}})})));
  EXPECT_NE(error.userInfo()["NSDebugDescription"].string().find("NoSuchClass"), std::string::npos);
  // A string kept as bytes must be UTF-8 text; good bytes read as their text.
  auto bytesString = [&](const std::string& bytes) {
    return archive({Value("$null"),
                    Value(ns::Dictionary{{Value("$class"), ref(2)}, {Value("NS.bytes"), ns::Data(bytes)}}),
                    Value(ns::Dictionary{{Value("$classname"), Value("NSMutableString")}})});
  };
  EXPECT_TRUE(damaged(bytesString("caf\xe9")));
  EXPECT_EQ(KeyedUnarchiver::unarchiveTopLevelObjectWithData_error(
                *ns::PropertyListSerialization::binaryData(bytesString("caf\xc3\xa9")), &error),
            Value("café"));
  // Sixty arrays that each hold the next one twice, inside a set: small as an archive, 2^60
  // elements for whoever walks the value (the set hashes it).
  {
    ns::Array objects{
        Value("$null"),
        Value(ns::Dictionary{{Value("$class"), ref(2)}, {Value("NS.objects"), ns::Array{ref(4)}}}),
        Value(ns::Dictionary{{Value("$classname"), Value("NSSet")}}), arrayClass};
    for (int i = 0; i < 60; ++i) {
      ns::Array refs = i + 1 < 60 ? ns::Array{ref(5 + i), ref(5 + i)} : ns::Array{};
      objects.push_back(Value(ns::Dictionary{{Value("$class"), ref(3)}, {Value("NS.objects"), refs}}));
    }
    EXPECT_TRUE(damaged(archive(objects)));
    // The same shape a dozen levels deep is ordinary sharing and decodes.
    objects.resize(4 + 12);
    objects.back() = Value(ns::Dictionary{{Value("$class"), ref(3)}, {Value("NS.objects"), ns::Array{}}});
    Value set = KeyedUnarchiver::unarchiveTopLevelObjectWithData_error(
        *ns::PropertyListSerialization::binaryData(archive(objects)), &error);
    ASSERT_TRUE(set.isSet());
    EXPECT_EQ(set.count(), 1u);
  }
  EXPECT_TRUE(KeyedUnarchiver::unarchiveObjectWithData(ns::Data("not an archive")).isNil());
  EXPECT_FALSE(KeyedUnarchiver::initForReadingFromData_error(ns::Data("bplist00"), &error));

  // Every truncation and many single-byte changes of a real archive: errors or values, never a crash.
  for (std::size_t n = 0; n < good.length(); n += 2)
    KeyedUnarchiver::unarchiveObjectWithData(good.subdata(0, n));
  std::string bytes = good.toString();
  for (std::size_t i = 8; i < bytes.size(); ++i) {
    std::string copy = bytes;
    copy[i] = static_cast<char>(copy[i] + 1);
    dismantle(KeyedUnarchiver::unarchiveTopLevelObjectWithData_error(ns::Data(copy), &error));
  }
}

}  // namespace
