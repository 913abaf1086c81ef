// The general pasteboard on the desktop's CLIPBOARD, read and written by another program (xclip).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "platform/appkit/Make.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextView.h"
#include "platform/net/URL.h"
#include "platform/testing/gtk/Screen.h"

namespace {

using pltest::OnScreenApp;

// Runs a shell command on another thread (the main loop must keep serving the clipboard
// meanwhile) and answers its standard output.
std::string runWhilePumping(OnScreenApp& app, const std::string& command) {
  std::atomic<bool> done{false};
  std::string out;
  std::thread worker([&] {
    if (FILE* p = ::popen(command.c_str(), "r")) {
      char buffer[4096];
      std::size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
      ::pclose(p);
    }
    done = true;
  });
  const bool finished = app.settle([&] { return done.load(); }, 60);
  worker.join();
  EXPECT_TRUE(finished) << command;
  return out;
}

TEST(GtkClipboardTest, ACopiedLinkIsReadByAnotherProgram) {
  OnScreenApp app;
  auto board = ak::Pasteboard::generalPasteboard();
  board->clearContents();
  board->writeObjects({ns::Value(ns::URL::URLWithString("https://video.test/watch?v=abc"))});
  EXPECT_EQ(runWhilePumping(app, "xclip -o -selection clipboard"), "https://video.test/watch?v=abc");
  EXPECT_EQ(runWhilePumping(app, "xclip -o -selection clipboard -t text/uri-list"),
            "https://video.test/watch?v=abc\r\n");
  EXPECT_EQ(runWhilePumping(app, "xclip -o -selection clipboard -t text/plain\\;charset=utf-8"),
            "https://video.test/watch?v=abc");
}

TEST(GtkClipboardTest, TextFromAnotherProgramIsPastedCappedAndMadeValid) {
  OnScreenApp app;
  auto window = app.window(ak::MakeRect(100, 200, 400, 300));
  auto field = ak::make<ak::TextField>(ak::MakeRect(20, 20, 300, 24));
  field->setEditable(true);
  window->contentView()->addSubview(field);
  ASSERT_TRUE(window->makeFirstResponder(field));
  auto board = ak::Pasteboard::generalPasteboard();
  struct Case {
    std::string command;
    std::function<bool(const std::string&)> expect;
  } cases[] = {
      {"printf 'from elsewhere'", [](const std::string& s) { return s == "from elsewhere"; }},
      // Invalid UTF-8 becomes U+FFFD.
      {"printf 'ok\\377'", [](const std::string& s) { return s == "ok\xEF\xBF\xBD"; }},
      // 2 MiB are cut to 1 MiB.
      {"head -c 2097152 /dev/zero | tr '\\000' x",
       [](const std::string& s) {
         return s.size() == 1048576 && s.find_first_not_of('x') == std::string::npos;
       }},
  };
  for (const auto& c : cases) {
    runWhilePumping(app, c.command + " | xclip -i -selection clipboard >/dev/null 2>&1");
    ASSERT_TRUE(app.settle([&] {
      auto s = board->stringForType(ak::PasteboardTypeString);
      return s && c.expect(*s);
    })) << c.command;
  }
  // The field editor pastes what arrived.
  runWhilePumping(app, "printf 'pasted' | xclip -i -selection clipboard >/dev/null 2>&1");
  ASSERT_TRUE(app.settle([&] { return board->stringForType(ak::PasteboardTypeString) == "pasted"; }));
  field->currentEditor()->paste(nullptr);
  EXPECT_EQ(field->currentEditor()->string(), "pasted");
}

}  // namespace
