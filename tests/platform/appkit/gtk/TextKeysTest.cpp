// The keys users of this desktop expect in a text field, typed on a real keyboard: Home and End,
// their Shift forms, no function-key character as text, and the editing chords without a menu.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "platform/appkit/Make.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextView.h"
#include "platform/testing/gtk/Screen.h"

namespace {

using ak::MakeRect;
using pltest::OnScreenApp;
namespace xtest = pltest::xtest;

std::string clipboardText(OnScreenApp& app) {
  std::atomic<bool> done{false};
  std::string out;
  // Another program reads it; the main loop serves the clipboard meanwhile.
  std::thread reader([&] {
    if (FILE* p = ::popen("xclip -o -selection clipboard", "r")) {
      char buffer[256];
      std::size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
      ::pclose(p);
    }
    done = true;
  });
  EXPECT_TRUE(app.settle([&] { return done.load(); }, 60));
  reader.join();
  return out;
}

TEST(GtkTextKeysTest, HomeEndTheirShiftFormsFunctionKeysAndTheEditingChordsInAFieldWithoutAMenu) {
  OnScreenApp app;
  auto window = app.window(MakeRect(100, 200, 400, 300));
  auto field = ak::make<ak::TextField>(MakeRect(20, 240, 300, 24));
  field->setEditable(true);
  field->setStringValue("cats");
  window->contentView()->addSubview(field);
  ASSERT_TRUE(app.waitUntilShown(window));
  ASSERT_TRUE(app.focus(window));
  ASSERT_TRUE(window->makeFirstResponder(field));
  auto editor = field->currentEditor();
  ASSERT_NE(editor, nullptr);
  editor->setSelectedRange({0, 0});
  auto text = [&] { return editor->string(); };

  xtest::tap("End");
  xtest::tap("x");
  ASSERT_TRUE(app.settle([&] { return text() == "catsx"; })) << text();
  xtest::tap("Home");
  xtest::tap("y");
  ASSERT_TRUE(app.settle([&] { return text() == "ycatsx"; })) << text();
  xtest::chord({"Shift_L", "End"});
  ASSERT_TRUE(app.settle([&] { return editor->selectedRange() == ns::Range{1, 5}; }));
  // Ctrl+Left moves by a word: to the start of "catsx".
  xtest::tap("End");
  xtest::chord({"Control_L", "Left"});
  ASSERT_TRUE(app.settle([&] { return editor->selectedRange() == ns::Range{0, 0}; }));

  // A key whose symbol is U+F729 (the platform's Home character) inserts nothing; the next key does.
  xtest::tap("End");
  xtest::tap("UF729");
  xtest::tap("z");
  ASSERT_TRUE(app.settle([&] { return text() == "ycatsxz"; })) << text();

  // Ctrl+A, Ctrl+C: no menu bar, so the field editor's own bindings put the text on the clipboard.
  xtest::chord({"Control_L", "a"});
  ASSERT_TRUE(app.settle([&] { return editor->selectedRange() == ns::Range{0, 7}; }));
  xtest::chord({"Control_L", "c"});
  auto board = ak::Pasteboard::generalPasteboard();
  ASSERT_TRUE(app.settle([&] { return board->stringForType(ak::PasteboardTypeString) == "ycatsxz"; }));
  EXPECT_EQ(clipboardText(app), "ycatsxz");
  // Ctrl+X takes it out; Ctrl+V puts it back once.
  xtest::chord({"Control_L", "x"});
  ASSERT_TRUE(app.settle([&] { return text().empty(); }));
  xtest::chord({"Control_L", "v"});
  ASSERT_TRUE(app.settle([&] { return text() == "ycatsxz"; })) << text();
}

}  // namespace
