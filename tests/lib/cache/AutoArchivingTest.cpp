#include "lib/cache/AutoArchiving.h"

#include <gtest/gtest.h>

#include "lib/cache/GVCache.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/foundation/FileIO.h"
#include "platform/runtime/Runtime.h"
#include "platform/serialization/KeyedArchiver.h"
#include "platform/serialization/KeyedUnarchiver.h"
#include "platform/serialization/PropertyListSerialization.h"
#include "platform/serialization/PropertyListUID.h"
#include "tests/lib/cache/ArchivingTestClasses.h"
#include "tests/lib/cache/CacheTestSupport.h"

using namespace cachetest;

namespace {

std::vector<std::string> namesOf(const ns::Dictionary& map) {
  std::vector<std::string> names;
  for (const auto& [name, cls] : map) names.push_back(name.string() + ":" + cls.string());
  return names;
}

template <class T>
ns::Ref<T> roundTrip(const ns::Ref<T>& object) {
  ns::Data data = ns::KeyedArchiver::archivedDataWithRootObject(ns::Value(object));
  return ns::KeyedUnarchiver::unarchiveObjectWithData(data).template objectAs<T>();
}

// Writes an archive whose root claims to be an ArchItem but holds a number as its title.
class ForgedItem : public ns::Object, public ns::Coding {
 public:
  void encodeWithCoder(ns::Coder& coder) const override {
    coder.encodeObject_forKey(ns::Value(42), "title");
    coder.encodeObject_forKey(ns::Value(3), "count");
  }
  void initWithCoder(ns::Coder&) override {}
  std::string classNameForKeyedArchiver() const override { return "ArchItem"; }
};

}  // namespace

TEST(AutoArchiving, TypedPropertiesAreCodedUntypedOnesAreNot) {
  EXPECT_EQ(namesOf(AutoArchiving::codablePropertiesOfClass(ns::NSClassFromString("ArchItem"))),
            (std::vector<std::string>{"count:NSNumber", "title:NSString"}));

  // Subclasses include their superclasses' properties; NSObject's own never appear.
  EXPECT_EQ(namesOf(AutoArchiving::codablePropertiesOfClass(ns::NSClassFromString("ArchSubItem"))),
            (std::vector<std::string>{"subtitle:NSString", "finished:NSNumber"}));
  auto sub = ns::make<ArchSubItem>();
  EXPECT_EQ(namesOf(sub->codableProperties()),
            (std::vector<std::string>{"subtitle:NSString", "finished:NSNumber", "count:NSNumber",
                                      "title:NSString"}));

  // Dynamic properties unless read-only; structures as boxed values; classes by name, cut at the
  // protocol list, NSObject when unknown; blocks, C strings and selectors never.
  EXPECT_EQ(namesOf(AutoArchiving::codablePropertiesOfClass(ns::NSClassFromString("ArchDeclarations"))),
            (std::vector<std::string>{"dynamicTitle:NSString", "frame:NSValue", "delegate:NSObject",
                                      "source:ArchItem"}));
}

TEST(AutoArchiving, TheOldExclusionListStillExcludesAndIsLogged) {
  ns::LogCapture log(true);
  EXPECT_EQ(namesOf(AutoArchiving::codablePropertiesOfClass(ns::NSClassFromString("ArchLegacy"))),
            (std::vector<std::string>{"kept:NSString"}));
  EXPECT_TRUE(
      log.contains("AutoArchiving Warning: uncodableProperties method is no longer supported. Use ivars, or "
                   "synthesize your properties using non-KVC-compliant names to avoid coding them instead."));
  // The map is built once per class: asking again logs nothing more.
  log.clear();
  AutoArchiving::codablePropertiesOfClass(ns::NSClassFromString("ArchLegacy"));
  EXPECT_TRUE(log.messages().empty());
}

TEST(AutoArchiving, ObjectsRoundTripThroughTheKeyedArchiver) {
  auto item = ns::make<ArchSubItem>();
  item->setCount(12);
  item->setTitle("Weekend");
  item->setExtra(ns::Value("not archived"));
  item->setNickname("not archived either");
  item->setSubtitle("Part one");
  item->setFinished(true);

  ns::Dictionary shown = item->dictionaryRepresentation();
  EXPECT_EQ(shown.count(), 4u);
  EXPECT_EQ(shown["count"], ns::Value(12));
  EXPECT_EQ(shown["finished"], ns::Value(true));

  auto back = roundTrip(item);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->count(), 12);
  EXPECT_EQ(back->title(), "Weekend");
  EXPECT_EQ(back->subtitle(), "Part one");
  EXPECT_TRUE(back->isFinished());
  EXPECT_TRUE(back->extra().isNil());
  EXPECT_EQ(back->nickname(), "");

  // A nil property is not written, so decoding leaves the constructor's default in place.
  item->setSubtitle(std::nullopt);
  back = roundTrip(item);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->subtitle(), "untitled");

  // The secure archiver accepts these classes too.
  ns::Error error;
  auto secure = ns::KeyedArchiver::archivedDataWithRootObject_requiringSecureCoding_error(ns::Value(item),
                                                                                          true, &error);
  ASSERT_TRUE(secure) << error.description();
  auto checked = ns::KeyedUnarchiver::unarchivedObjectOfClass_fromData_error("ArchItem", *secure, &error);
  EXPECT_TRUE(checked.objectAs<ArchSubItem>()) << error.description();
}

TEST(AutoArchiving, AValueOfTheWrongClassRaises) {
  ns::Data forged = ns::KeyedArchiver::archivedDataWithRootObject(ns::Value(ns::make<ForgedItem>()));
  try {
    ns::KeyedUnarchiver::unarchiveObjectWithData(forged);
    FAIL() << "no exception";
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.name(), "AutoArchivingException");
    EXPECT_EQ(e.reason(), "Expected 'title' to be a NSString, but was actually a NSNumber");
  }

  // The cache hands the failure to its caller, as the account cache expects.
  pltest::Sandbox sandbox;
  auto cache = GVCache::initWithCacheDirectory(sandbox.path("GVCache"));
  cache->setData_forKey_withTimeoutInterval(forged, "forged", 60);
  cache->synchronize();
  EXPECT_THROW(cache->objectForKey("forged"), ns::Exception);
}

TEST(AutoArchiving, DamagedArchivesReadAsNilFromEveryReader) {
  auto archive = [](const ns::Value& root, ns::Array objects) {
    ns::Dictionary d{{"$archiver", "NSKeyedArchiver"}, {"$version", 100000}};
    d.set("$top", ns::Dictionary{{ns::Value("root"), root}});
    d.set("$objects", std::move(objects));
    return *ns::PropertyListSerialization::binaryData(ns::Value(d));
  };
  ns::Value itemClass =
      ns::Dictionary{{"$classname", "ArchItem"}, {"$classes", ns::Array{"ArchItem", "NSObject"}}};
  struct Case {
    const char* what;
    ns::Data data;
    bool unarchiverAnswersNil;  // else a class's decoding raises there, as the platform does
  };
  const Case cases[] = {
      {"the root is text", archive(ns::Value("root"), {"$null", "text"}), true},
      {"the root is a number", archive(ns::Value(1), {"$null", "text"}), true},
      {"the root is a dictionary", archive(ns::Value(ns::Dictionary{{"CF$UIDX", 1}}), {"$null"}), true},
      {"a property is no reference",
       archive(ns::PropertyListUID::uid(1),
               {"$null", ns::Dictionary{{"$class", ns::PropertyListUID::uid(2)}, {"title", 42}}, itemClass}),
       false},
  };
  pltest::Sandbox sandbox;
  auto cache = GVCache::initWithCacheDirectory(sandbox.path("GVCache"));
  for (const auto& c : cases) {
    if (c.unarchiverAnswersNil) {
      EXPECT_TRUE(ns::KeyedUnarchiver::unarchiveObjectWithData(c.data).isNil()) << c.what;
    } else {
      EXPECT_THROW(ns::KeyedUnarchiver::unarchiveObjectWithData(c.data), ns::Exception) << c.what;
    }
    ns::Error error;
    EXPECT_TRUE(ns::KeyedUnarchiver::unarchiveTopLevelObjectWithData_error(c.data, &error).isNil()) << c.what;
    EXPECT_EQ(error.code(), ns::NSCoderReadCorruptError) << c.what;
    cache->setData_forKey_withTimeoutInterval(c.data, "damaged", 60);
    cache->synchronize();
    EXPECT_TRUE(cache->objectForKey("damaged").isNil()) << c.what;
    ASSERT_TRUE(ns::writeDataToFile(c.data, sandbox.path("damaged.archive"), 0));
    EXPECT_TRUE(AutoArchiving::objectWithContentsOfFile(sandbox.path("damaged.archive")).isNil()) << c.what;
  }
}

TEST(AutoArchiving, ReadingFilesOfEveryKind) {
  pltest::Sandbox sandbox;
  std::string bytesPath = sandbox.path("bytes"), plistPath = sandbox.path("plain.plist"),
              archivePath = sandbox.path("item.archive");
  writeFile(bytesPath, "just some bytes");
  ns::Value plain = ns::Dictionary{{"name", "value"}, {"n", 3}};
  ASSERT_TRUE(ns::writeDataToFile(*ns::PropertyListSerialization::xmlData(plain), plistPath, 0));
  auto item = ns::make<ArchItem>();
  item->setTitle("From a file");
  ASSERT_TRUE(item->writeToFile_atomically(archivePath, true));

  EXPECT_EQ(AutoArchiving::objectWithContentsOfFile(bytesPath), ns::Value(ns::Data("just some bytes")));
  EXPECT_EQ(AutoArchiving::objectWithContentsOfFile(plistPath), plain);
  auto back = AutoArchiving::objectWithContentsOfFile(archivePath).objectAs<ArchItem>();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->title(), "From a file");
  EXPECT_TRUE(AutoArchiving::objectWithContentsOfFile(sandbox.path("missing")).isNil());
}

TEST(AutoArchiving, AParentChildCycleRoundTrips) {
  auto root = ns::make<ArchNode>();
  root->setName("root");
  ns::Array children;
  for (const char* name : {"first", "second"}) {
    auto child = ns::make<ArchNode>();
    child->setName(name);
    child->setParent(root);
    children.push_back(ns::Value(child));
  }
  root->setChildren(children);

  auto back = roundTrip(root);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->name(), "root");
  ASSERT_EQ(back->children().size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    auto child = back->children()[i].objectAs<ArchNode>();
    ASSERT_TRUE(child);
    EXPECT_EQ(child->name(), i == 0 ? "first" : "second");
    EXPECT_EQ(child->parent().lock(), back);
  }
}
