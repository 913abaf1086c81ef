#include "platform/core/Data.h"

#include <gtest/gtest.h>

#include "platform/core/Exception.h"

namespace {

TEST(DataTest, CopiesAndViewsShareStorage) {
  ns::Data d("hello world");
  ns::Data copy = d;
  EXPECT_EQ(copy.bytes(), d.bytes());
  ns::Data world = d.subdata(6, 5);
  EXPECT_EQ(world.toString(), "world");
  EXPECT_EQ(world.bytes(), d.bytes() + 6);
  EXPECT_EQ(d.subdataWithRange({0, 5}).toString(), "hello");
  EXPECT_TRUE(d.subdata(11, 0).empty());
}

TEST(DataTest, ViewKeepsItsOwnerAlive) {
  ns::Data view;
  {
    std::vector<std::uint8_t> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
    ns::Data owner(std::move(bytes));
    view = owner.subdata(500, 10).subdata(2, 4);
  }
  // The owner is gone; the view still reads the original bytes (ASan would catch a dangling read).
  ASSERT_EQ(view.length(), 4u);
  EXPECT_EQ(view[0], static_cast<std::uint8_t>(502));
  EXPECT_EQ(view[3], static_cast<std::uint8_t>(505));
}

TEST(DataTest, OutOfRangeSubdataRaises) {
  ns::Data d("abc");
  EXPECT_THROW(d.subdata(2, 2), ns::Exception);
  EXPECT_THROW(d.subdata(4, 0), ns::Exception);
  EXPECT_THROW(d.subdata(1, SIZE_MAX), ns::Exception);  // offset + length overflows
  try {
    d.subdata(2, 5);
  } catch (const ns::Exception& e) {
    EXPECT_EQ(e.name(), ns::NSRangeException);
  }
}

TEST(DataTest, EqualityHashAndDescription) {
  EXPECT_EQ(ns::Data("abc"), ns::Data(std::vector<std::uint8_t>{'a', 'b', 'c'}));
  EXPECT_NE(ns::Data("abc"), ns::Data("abd"));
  EXPECT_EQ(ns::Data("xabc").subdata(1, 3).hash(), ns::Data("abc").hash());
  EXPECT_EQ(ns::Data().description(), "<>");
  const std::uint8_t bytes[] = {0x00, 0x01, 0xfe, 0xff, 0x00, 0xab};
  EXPECT_EQ(ns::Data(bytes, sizeof bytes).description(), "<0001feff 00ab>");
  EXPECT_NE(ns::Data().bytes(), nullptr);
}

TEST(DataTest, Find) {
  ns::Data d("GET / HTTP/1.1\r\n\r\nbody");
  EXPECT_EQ(d.find("\r\n\r\n"), 14u);
  EXPECT_EQ(d.find("\r\n", 15), 16u);
  EXPECT_EQ(d.find("nope"), ns::NotFound);
  EXPECT_EQ(d.find(""), ns::NotFound);
  EXPECT_EQ(d.rangeOfData(ns::Data("body")), (ns::Range{18, 4}));
}

TEST(MutableDataTest, InsertAtFrontAndGrowthKeepContent) {
  ns::MutableData m;
  std::string expected;
  for (int i = 0; i < 200; ++i) {
    std::string chunk = "chunk" + std::to_string(i) + ";";
    m.append(chunk);
    expected += chunk;
  }
  m.insertAtFront("HEAD", 4);
  expected = "HEAD" + expected;
  EXPECT_EQ(m.toString(), expected);
  m.setLength(m.length() + 3);
  EXPECT_EQ(m.length(), expected.size() + 3);
  EXPECT_EQ(m[expected.size()], 0);
  EXPECT_EQ(m[expected.size() + 2], 0);
  m.setLength(4);
  EXPECT_EQ(m.toString(), "HEAD");
}

TEST(MutableDataTest, ReplaceAndReset) {
  ns::MutableData m(std::string_view("0123456789"));
  m.replaceBytesInRange_withBytes_length({2, 3}, "ab", 2);
  EXPECT_EQ(m.toString(), "01ab56789");
  m.replaceBytesInRange_withBytes({7, 4}, "WXYZ");  // grows past the end
  EXPECT_EQ(m.toString(), "01ab567WXYZ");
  m.resetBytesInRange({0, 2});
  EXPECT_EQ(m[0], 0);
  EXPECT_EQ(m[1], 0);
  EXPECT_THROW(m.replaceBytesInRange_withBytes_length({10, 5}, "x", 1), ns::Exception);
  m.removeFront(4);
  EXPECT_EQ(m.toString(), "567WXYZ");
}

TEST(MutableDataTest, AppendFromItself) {
  ns::MutableData m(std::string_view("abc"));
  for (int i = 0; i < 5; ++i) m.appendBytes_length(m.bytes(), m.length());
  EXPECT_EQ(m.length(), 96u);
  EXPECT_EQ(m.toString().substr(0, 9), "abcabcabc");
}

TEST(MutableDataTest, ConversionsCopyOrMove) {
  ns::MutableData m(std::string_view("abc"));
  ns::Data snapshot = m;
  m.mutableBytes()[0] = 'X';
  EXPECT_EQ(snapshot.toString(), "abc");
  ns::Data taken = m.take();
  EXPECT_EQ(taken.toString(), "Xbc");
  EXPECT_TRUE(m.empty());
}

}  // namespace
