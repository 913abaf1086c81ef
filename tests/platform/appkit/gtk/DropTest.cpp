// Drops from other programs, through the drawing area's drag-data path, on a table.
#include <gtest/gtest.h>

#include "platform/appkit/Make.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/gtk/GtkInternal.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/testing/gtk/Screen.h"

namespace drop_test {

// A table's data source recording the drops it is asked about.
class Rows : public ns::Object {
 public:
  std::vector<std::string> validated, accepted;
  long numberOfRows(ns::Ref<ns::Object>) { return 5; }
  ns::Ref<ns::Object> viewFor(ns::Ref<ns::Object>, ns::Ref<ns::Object>, long) {
    return ak::make<ak::TableCellView>(ak::MakeRect(0, 0, 10, 10));
  }
  static std::string describe(const ns::Ref<ns::Object>& info) {
    auto board = std::static_pointer_cast<ak::DraggingInfo>(info)->draggingPasteboard();
    std::string out;
    for (const auto& item : board->pasteboardItems()) {
      for (const char* type : {ak::PasteboardTypeFileURL, ak::PasteboardTypeURL})
        if (auto s = item->stringForType(type))
          out += (out.empty() ? "" : " ") + std::string(type) + "=" + *s;
    }
    return out;
  }
  unsigned long validateDrop(ns::Ref<ns::Object>, ns::Ref<ns::Object> info, long, unsigned long) {
    validated.push_back(describe(info));
    return ak::DragOperationCopy;
  }
  bool acceptDrop(ns::Ref<ns::Object>, ns::Ref<ns::Object> info, long, unsigned long) {
    accepted.push_back(describe(info));
    return true;
  }
};

}  // namespace drop_test

PL_CLASS_NAMED(drop_test::Rows, "GtkDropTestRows", ns::Object) {
  cls.method<&drop_test::Rows::numberOfRows>("numberOfRowsInTableView:");
  cls.method<&drop_test::Rows::viewFor>("tableView:viewForTableColumn:row:");
  cls.method<&drop_test::Rows::validateDrop>("tableView:validateDrop:proposedRow:proposedDropOperation:");
  cls.method<&drop_test::Rows::acceptDrop>("tableView:acceptDrop:row:dropOperation:");
}

namespace {

TEST(GtkDropTest, FileAndWebAddressesReachTheTableAndUnsafeDataIsRefused) {
  pltest::OnScreenApp app;
  auto window = app.window(ak::MakeRect(100, 200, 300, 200), ak::BorderlessWindowMask);
  auto scroll = ak::make<ak::ScrollView>(ak::MakeRect(0, 0, 300, 200));
  window->contentView()->addSubview(scroll);
  auto table = ak::make<ak::TableView>(ak::MakeRect(0, 0, 300, 200));
  table->addTableColumn(std::make_shared<ak::TableColumn>("Name"));
  auto rows = std::make_shared<drop_test::Rows>();
  table->setDelegate(rows);
  table->setDataSource(rows);
  table->registerForDraggedTypes({ak::PasteboardTypeURL, ak::PasteboardTypeFileURL});
  scroll->setDocumentView(table);
  ASSERT_TRUE(app.waitUntilShown(window));
  const ak::Point at{50, 150};
  const unsigned long mask = ak::DragOperationCopy | ak::DragOperationLink;
  const std::string list = "# a comment\r\nfile:///tmp/clip.mp4\r\nhttps://video.test/watch?v=abc\r\n";
  EXPECT_EQ(ak::gtk::receiveDropData(window, at, "text/uri-list", list, mask, false), ak::DragOperationCopy);
  EXPECT_EQ(ak::gtk::dropMotion(window, {60, 140}, mask), ak::DragOperationCopy);
  EXPECT_EQ(ak::gtk::dropNow(window, {60, 140}, mask), ak::DragOperationCopy);
  const std::string both = "public.file-url=file:///tmp/clip.mp4 public.url=https://video.test/watch?v=abc";
  ASSERT_FALSE(rows->validated.empty());
  EXPECT_EQ(rows->validated.back(), both);
  EXPECT_EQ(rows->accepted, std::vector<std::string>{both});

  // Refused: a file on another machine, an address of another scheme, more than 1 MiB.
  struct Case {
    const char* target;
    std::string bytes;
  } refused[] = {
      {"text/uri-list", "file://otherhost/etc/passwd\r\n"},
      {"text/uri-list", "javascript:alert(1)\r\n"},
      {"text/plain", std::string(2 << 20, 'x')},
      {"text/uri-list", "https://video.test/" + std::string(2 << 20, 'a')},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(ak::gtk::receiveDropData(window, at, c.target, c.bytes, mask, true), ak::DragOperationNone)
        << c.bytes.substr(0, 40);
  }
  EXPECT_EQ(rows->accepted.size(), 1u);
  // A Firefox-style address (UTF-16, title on the next line) on one drop.
  std::string moz;
  for (char c : std::string("https://video.test/x\nTitle")) moz += {c, '\0'};
  EXPECT_EQ(ak::gtk::receiveDropData(window, at, "text/x-moz-url", moz, mask, true), ak::DragOperationCopy);
  EXPECT_EQ(rows->accepted.back(), "public.url=https://video.test/x");
  // Text that is not an address is offered as text, which this table does not take.
  EXPECT_EQ(ak::gtk::receiveDropData(window, at, "text/plain", "just words \xff", mask, true),
            ak::DragOperationNone);
  EXPECT_EQ(
      ak::Pasteboard::pasteboardWithName(ak::PasteboardNameDrag)->stringForType(ak::PasteboardTypeString),
      "just words \xEF\xBF\xBD");
}

}  // namespace
