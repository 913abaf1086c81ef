// Property-list files as arrays and dictionaries write and read them.
#include <gtest/gtest.h>

#include "platform/foundation/FileIO.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyListFile.h"
#include "platform/serialization/PropertyListSerialization.h"
#include "platform/testing/Sandbox.h"

namespace {

using pltest::Sandbox;

TEST(PropertyListFileTest, DictionariesAndArraysRoundTripThroughXmlFiles) {
  Sandbox box;
  ns::Dictionary info;
  info.set("videotype", 22);
  info.set("filesize", 18446744073709551615ull);
  info.set("url", "http://127.0.0.1:22435/youtube/abc/18/abc.mp4");
  ASSERT_TRUE(ns::writePropertyListToFile_atomically(ns::Value(info), box.path("abc.info"), true));
  EXPECT_NE(ns::stringWithContentsOfFile(box.path("abc.info"))->find("<?xml"), std::string::npos);
  ns::Value back = ns::dictionaryWithContentsOfFile(box.path("abc.info"));
  EXPECT_EQ(back, ns::Value(info));
  EXPECT_TRUE(ns::arrayWithContentsOfFile(box.path("abc.info")).isNil()) << "a dictionary is no array";

  ASSERT_TRUE(ns::writePropertyListToFile_atomically(ns::Array{ns::Value("a"), ns::Value(-1)},
                                                     box.path("list"), false));
  EXPECT_EQ(ns::arrayWithContentsOfFile(box.path("list"))[1].integerValue(), -1);
  EXPECT_TRUE(ns::dictionaryWithContentsOfFile(box.path("list")).isNil());

  // Binary files read as well.
  ASSERT_TRUE(
      ns::writeDataToFile(*ns::PropertyListSerialization::binaryData(ns::Value(info)), box.path("bin"), 0));
  EXPECT_EQ(ns::dictionaryWithContentsOfFile(box.path("bin")), ns::Value(info));

  ns::Error error(ns::NSCocoaErrorDomain, 0);
  EXPECT_FALSE(ns::writePropertyListToFile_atomically(ns::Value::null(), box.path("null"), true, &error));
  EXPECT_EQ(error.code(), ns::NSPropertyListWriteInvalidError);
  EXPECT_FALSE(ns::FileManager::defaultManager()->fileExistsAtPath(box.path("null")));
  ASSERT_TRUE(ns::writeStringToFile("garbage", box.path("garbage"), false));
  EXPECT_TRUE(ns::propertyListWithContentsOfFile(box.path("garbage"), &error).isNil());
  EXPECT_EQ(error.code(), ns::NSPropertyListReadCorruptError);
  EXPECT_TRUE(ns::dictionaryWithContentsOfFile(box.path("missing")).isNil());
}

}  // namespace
