// Text and search fields edited through the window's field editor: the delegate's questions
// and notices, commands, input methods, colours a cell gives the editor, and search buttons.
#include <gtest/gtest.h>

#include <set>

#include "platform/appkit/Colors.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextView.h"
#include "platform/foundation/Notification.h"
#include "platform/runtime/ClassBuilder.h"
#include "tests/platform/appkit/ControlTestSupport.h"

namespace text_test {

class FieldDelegate : public ns::Object {
 public:
  int shouldBegin = 0, didBegin = 0, didChange = 0, shouldEnd = 0;
  std::vector<long> movements;
  std::vector<ns::Ref<ns::Object>> editors;
  std::vector<std::string> commands;
  std::set<std::string> handled;
  bool shouldBeginEditing(const ns::Ref<ns::Object>&, const ns::Ref<ns::Object>&) {
    ++shouldBegin;
    return true;
  }
  bool shouldEndEditing(const ns::Ref<ns::Object>&, const ns::Ref<ns::Object>&) {
    ++shouldEnd;
    return true;
  }
  void didBeginEditing(const ns::Ref<ns::Object>& note) {
    ++didBegin;
    record(note);
  }
  void didChangeText(const ns::Ref<ns::Object>&) { ++didChange; }
  void didEndEditing(const ns::Ref<ns::Object>& note) {
    auto n = std::dynamic_pointer_cast<ns::Notification>(note);
    movements.push_back(n ? n->userInfo().objectForKey(ak::TextMovementKey).integerValue() : -1);
    record(note);
  }
  bool doCommand(const ns::Ref<ns::Object>&, const ns::Ref<ns::Object>&, ns::Sel command) {
    commands.push_back(command.name());
    return handled.count(command.name()) > 0;
  }

 private:
  void record(const ns::Ref<ns::Object>& note) {
    auto n = std::dynamic_pointer_cast<ns::Notification>(note);
    editors.push_back(n ? n->userInfo().objectForKey(ak::FieldEditorKey).object() : nullptr);
  }
};

class RedEditorCell : public ak::TextFieldCell {
 public:
  ak::TextView* setUpFieldEditorAttributes(ak::TextView* editor) override {
    TextFieldCell::setUpFieldEditorAttributes(editor);
    editor->setDrawsBackground(true);
    editor->setBackgroundColor(ak::Color::colorWithDeviceRed_green_blue_alpha(1, 0, 0, 1));
    editor->setTextColor(ak::Color::colorWithDeviceRed_green_blue_alpha(0, 0, 1, 1));
    return editor;
  }
};

class NarrowSearchCell : public ak::SearchFieldCell {
 public:
  ak::Rect searchTextRectForBounds(const ak::Rect&) const override { return ak::MakeRect(60, 2, 80, 18); }
};

// A cell that handles its own search button, as a restyled search field does.
class OptionsSearchCell : public ak::SearchFieldCell {
 public:
  std::vector<ns::Ref<ns::Object>> clicks;
  void initTextCell(const std::string& text) override {
    SearchFieldCell::initTextCell(text);
    searchButtonCell()->setAction("searchOptionButtonClicked:");
  }
  void searchOptionButtonClicked(const ns::Ref<ns::Object>& sender) { clicks.push_back(sender); }
};

class CountingSearchField : public ak::SearchField {
 public:
  int becomes = 0;
  bool becomeFirstResponder() override {
    ++becomes;
    return SearchField::becomeFirstResponder();
  }
};

}  // namespace text_test

PL_CLASS_NAMED(text_test::OptionsSearchCell, "RTOptionsSearchCell", ak::SearchFieldCell) {
  cls.method<&text_test::OptionsSearchCell::searchOptionButtonClicked>("searchOptionButtonClicked:");
}
PL_CLASS_NAMED(text_test::FieldDelegate, "RTFieldDelegate", ns::Object) {
  cls.method<&text_test::FieldDelegate::shouldBeginEditing>("control:textShouldBeginEditing:");
  cls.method<&text_test::FieldDelegate::shouldEndEditing>("control:textShouldEndEditing:");
  cls.method<&text_test::FieldDelegate::didBeginEditing>("controlTextDidBeginEditing:");
  cls.method<&text_test::FieldDelegate::didChangeText>("controlTextDidChange:");
  cls.method<&text_test::FieldDelegate::didEndEditing>("controlTextDidEndEditing:");
  cls.method<&text_test::FieldDelegate::doCommand>("control:textView:doCommandBySelector:");
}

namespace {

using ak::MakeRect;
using namespace text_test;
using control_test::ActionRecorder;

struct Form {
  pltest::HeadlessApp app;
  ns::Ref<ak::Window> window = app.window(MakeRect(100, 100, 300, 200));
  ns::Ref<FieldDelegate> delegate = ns::make<FieldDelegate>();
  ns::Ref<ak::TextField> first = field(MakeRect(10, 150, 200, 24));
  ns::Ref<ak::TextField> second = field(MakeRect(10, 100, 200, 24));
  ns::Ref<ak::TextField> field(const ak::Rect& frame) {
    auto f = ak::make<ak::TextField>(frame);
    f->setEditable(true);
    f->setBordered(true);
    f->setDelegate(delegate);
    window->contentView()->addSubview(f);
    return f;
  }
  void clickFirst() { pltest::click(window, {100, 162}); }
  void clickSecond() { pltest::click(window, {100, 112}); }
};

TEST(TextFields, TypingAskAndTellTheDelegateAndKeysEndWithTheirMovement) {
  Form form;
  auto recorder = ns::make<ActionRecorder>();
  form.first->setTarget(recorder);
  form.first->setAction("fired:");
  form.clickFirst();
  form.app.dispatchQueued();
  auto editor = form.first->currentEditor();
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(form.window->firstResponder(), editor);
  EXPECT_EQ(editor, form.window->fieldEditor_forObject(false, nullptr));
  pltest::typeText(form.window, "abc");
  form.app.dispatchQueued();
  EXPECT_EQ(form.delegate->shouldBegin, 1);
  EXPECT_EQ(form.delegate->didBegin, 1);
  EXPECT_EQ(form.delegate->didChange, 3);
  EXPECT_EQ(form.first->stringValue(), "abc");

  pltest::key(form.window, ak::kVK_Return, "\r");
  form.app.dispatchQueued();
  EXPECT_EQ(form.delegate->movements, (std::vector<long>{ak::ReturnTextMovement}));
  EXPECT_EQ(form.first->currentEditor(), nullptr);
  EXPECT_EQ(form.first->cell()->stringValue(), "abc");
  EXPECT_EQ(recorder->senders.size(), 1u);

  struct Case {
    std::function<void()> end;
    long movement;
  } cases[] = {
      {[&] { pltest::key(form.window, ak::kVK_Tab, "\t"); }, ak::TabTextMovement},
      {[&] { pltest::key(form.window, ak::kVK_Tab, "\t", ak::ShiftKeyMask); }, ak::BacktabTextMovement},
      {[&] { pltest::key(form.window, ak::kVK_Escape, "\x1b"); }, ak::CancelTextMovement},
      {[&] { form.clickSecond(); }, ak::OtherTextMovement},
  };
  for (const auto& c : cases) {
    form.delegate->movements.clear();
    form.clickFirst();
    pltest::typeText(form.window, "d");
    c.end();
    form.app.dispatchQueued();
    EXPECT_EQ(form.delegate->movements, (std::vector<long>{c.movement})) << c.movement;
  }
  // The click moved the one field editor to the second field.
  EXPECT_EQ(form.second->currentEditor(), editor);
  EXPECT_EQ(form.window->firstResponder(), editor);
  EXPECT_EQ(form.first->stringValue(), "abcdddd");
  for (const auto& e : form.delegate->editors) EXPECT_EQ(e, editor);
}

TEST(TextFields, TheDelegateMayHandleCommandsFirst) {
  Form form;
  form.first->setStringValue("abc");
  form.clickFirst();
  form.app.dispatchQueued();
  auto editor = form.first->currentEditor();
  ASSERT_NE(editor, nullptr);
  // The click, beyond the text's end, put the insertion point at the end.
  EXPECT_EQ(editor->selectedRange(), (ns::Range{3, 0}));
  editor->setSelectedRange({1, 0});
  form.delegate->handled = {"moveDown:"};
  pltest::key(form.window, ak::kVK_DownArrow, ak::functionKeyString(ak::DownArrowFunctionKey));
  form.app.dispatchQueued();
  EXPECT_EQ(editor->selectedRange(), (ns::Range{1, 0}));
  EXPECT_EQ(form.delegate->commands, (std::vector<std::string>{"moveDown:"}));
  form.delegate->handled.clear();
  struct Case {
    unsigned short code;
    ns::Range after;
    const char* text;
  } cases[] = {
      {ak::kVK_DownArrow, {3, 0}, "abc"}, {ak::kVK_LeftArrow, {2, 0}, "abc"},
      {ak::kVK_Delete, {1, 0}, "ac"},     {ak::kVK_ForwardDelete, {1, 0}, "a"},
      {ak::kVK_UpArrow, {0, 0}, "a"},
  };
  for (const auto& c : cases) {
    pltest::key(form.window, c.code, "");
    form.app.dispatchQueued();
    EXPECT_EQ(editor->selectedRange(), c.after) << c.code;
    EXPECT_EQ(editor->string(), c.text) << c.code;
  }
}

TEST(TextFields, TheCellsEditorColoursShowInTheRender) {
  Form form;
  auto field = ak::make<ak::TextField>(MakeRect(10, 50, 200, 24));
  field->setCell(ak::make<RedEditorCell>());
  field->setEditable(true);
  field->setStringValue("WWW");
  form.window->contentView()->addSubview(field);
  pltest::click(form.window, {100, 62});
  form.app.dispatchQueued();
  auto editor = field->currentEditor();
  ASSERT_NE(editor, nullptr);
  pltest::renderWindow(form.window, "editing");
  EXPECT_TRUE(control_test::near(pltest::windowPixel(form.window, 190, 62), {255, 0, 0, 255}));
  // Glyphs in the editor's text colour (blended over the red background).
  bool blueText = false;
  for (double x = 12; x < 60 && !blueText; ++x)
    for (double y = 52; y < 72 && !blueText; ++y) {
      auto p = pltest::windowPixel(form.window, x, y);
      blueText = p.b > 150 && p.r < 100;
    }
  EXPECT_TRUE(blueText);
}

TEST(TextFields, InputMethodsAndUtf16Lengths) {
  Form form;
  form.clickFirst();
  form.app.dispatchQueued();
  auto editor = form.first->currentEditor();
  ASSERT_NE(editor, nullptr);
  editor->setMarkedText_selectedRange_replacementRange("k", {1, 0}, {ns::NotFound, 0});
  editor->setMarkedText_selectedRange_replacementRange("ka", {2, 0}, {ns::NotFound, 0});
  EXPECT_TRUE(editor->hasMarkedText());
  EXPECT_EQ(editor->markedRange(), (ns::Range{0, 2}));
  EXPECT_EQ(form.delegate->didChange, 0);
  ns::Range actual;
  auto candidate = editor->firstRectForCharacterRange_actualRange({0, 5}, &actual);
  EXPECT_EQ(actual, (ns::Range{0, 2}));
  EXPECT_EQ(editor->firstRectForCharacterRange({0, 2}), candidate);
  EXPECT_GT(candidate.size.width, 0);
  EXPECT_TRUE(ak::PointInRect({candidate.origin.x + 1, candidate.origin.y + 1}, form.window->frame()));
  pltest::renderWindow(form.window, "marked");
  editor->insertText_replacementRange("か", {ns::NotFound, 0});
  EXPECT_EQ(form.delegate->didChange, 1);
  EXPECT_FALSE(editor->hasMarkedText());
  EXPECT_EQ(editor->string(), "か");

  editor->selectAll(nullptr);
  editor->insertText("é😀");
  EXPECT_EQ(editor->length(), 3u);
  EXPECT_EQ(editor->selectedRange(), (ns::Range{3, 0}));
  editor->moveLeft(nullptr);
  EXPECT_EQ(editor->selectedRange(), (ns::Range{1, 0}));  // never inside the pair
  editor->deleteForward(nullptr);
  EXPECT_EQ(editor->string(), "é");
  // Invalid UTF-8 typed or pasted becomes U+FFFD.
  editor->insertText("x\xC3");
  EXPECT_EQ(editor->string(), "éx\xEF\xBF\xBD");
  editor->setString("\xff");
  EXPECT_EQ(editor->string(), "\xEF\xBF\xBD");
}

TEST(TextFields, AFieldDestroyedWhileEditingEndsTheEditCleanly) {
  Form form;
  auto doomed = form.field(MakeRect(10, 10, 200, 24));
  pltest::click(form.window, {100, 22});
  form.app.dispatchQueued();
  auto editor = doomed->currentEditor();
  ASSERT_NE(editor, nullptr);
  pltest::typeText(form.window, "zz");
  form.app.dispatchQueued();
  ns::Weak<ak::TextField> weak = doomed;
  doomed->removeFromSuperview();
  doomed.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(editor->client(), nullptr);
  EXPECT_EQ(editor->superview(), nullptr);
  EXPECT_EQ(form.window->firstResponder(), form.window);
  pltest::typeText(form.window, "more");
  form.app.dispatchQueued();
  // The editor serves the next field as usual.
  form.clickFirst();
  pltest::typeText(form.window, "ok");
  form.app.dispatchQueued();
  EXPECT_EQ(form.first->stringValue(), "ok");

  // Destroyed while still in the window (its superview goes with it).
  auto holder = ak::make<ak::View>(MakeRect(0, 0, 300, 40));
  form.window->contentView()->addSubview(holder);
  auto inner = ak::make<ak::TextField>(MakeRect(10, 10, 200, 24));
  inner->setEditable(true);
  holder->addSubview(inner);
  pltest::click(form.window, {100, 22});
  form.app.dispatchQueued();
  ASSERT_EQ(inner->currentEditor(), editor);
  inner.reset();
  holder->removeFromSuperview();
  holder.reset();
  EXPECT_EQ(editor->client(), nullptr);
  EXPECT_NE(form.window->firstResponder(), editor);
}

TEST(SearchFields, ButtonsRunTheirCellsActionsAndTheTextRectPlacesTheEditor) {
  Form form;
  auto search = ak::make<CountingSearchField>(MakeRect(10, 50, 200, 24));
  form.window->contentView()->addSubview(search);
  auto recorder = ns::make<ActionRecorder>();
  search->searchFieldCell()->searchButtonCell()->setTarget(recorder);
  search->searchFieldCell()->searchButtonCell()->setAction("fired:");
  search->setTarget(recorder);
  search->setAction("other:");

  pltest::click(form.window, {22, 62});  // the search button
  form.app.dispatchQueued();
  EXPECT_EQ(recorder->actions, (std::vector<std::string>{"fired:"}));
  EXPECT_EQ(recorder->senders.at(0), search);
  EXPECT_EQ(search->becomes, 1);  // the click made the field first responder

  // Return sends the field's own action.
  pltest::typeText(form.window, "cats");
  pltest::key(form.window, ak::kVK_Return, "\r");
  form.app.dispatchQueued();
  EXPECT_EQ(recorder->actions, (std::vector<std::string>{"fired:", "other:"}));
  EXPECT_EQ(search->stringValue(), "cats");

  // The cancel button without an action of its own clears the field and sends the field's.
  pltest::click(form.window, {198, 62});
  form.app.dispatchQueued();
  EXPECT_EQ(search->stringValue(), "");
  EXPECT_EQ(recorder->actions.back(), "other:");

  // A cell that sets only the search button's action receives it itself.
  auto options = ak::make<ak::SearchField>(MakeRect(10, 150, 200, 24));
  auto optionsCell = ak::make<OptionsSearchCell>();
  options->setCell(optionsCell);
  form.window->contentView()->addSubview(options);
  pltest::click(form.window, {22, 162});
  form.app.dispatchQueued();
  ASSERT_EQ(optionsCell->clicks.size(), 1u);
  EXPECT_EQ(optionsCell->clicks[0], options);
  optionsCell->clicks.clear();  // the sender is the field that owns the cell

  // An override of the text rect moves the editor there.
  auto narrow = ak::make<CountingSearchField>(MakeRect(10, 100, 200, 24));
  narrow->setCell(ak::make<NarrowSearchCell>());
  form.window->contentView()->addSubview(narrow);
  pltest::click(form.window, {110, 113});
  form.app.dispatchQueued();
  ASSERT_NE(narrow->currentEditor(), nullptr);
  EXPECT_EQ(narrow->currentEditor()->frame(), MakeRect(60, 2, 80, 18));
  EXPECT_EQ(narrow->becomes, 1);
}

}  // namespace

namespace {

TEST(TextFields, HomeEndWordMovesSelectionKeysAndEditingChords) {
  Form form;
  form.first->setStringValue("cats and dogs");
  form.clickFirst();
  form.app.dispatchQueued();
  auto editor = form.first->currentEditor();
  ASSERT_NE(editor, nullptr);
  editor->setSelectedRange({0, 0});
  auto press = [&](unsigned short code, char32_t fn, unsigned long flags = 0) {
    pltest::key(form.window, code, ak::functionKeyString(fn), flags);
    form.app.dispatchQueued();
    return editor->selectedRange();
  };
  using R = ns::Range;
  EXPECT_EQ(press(ak::kVK_End, ak::EndFunctionKey), (R{13, 0}));
  EXPECT_EQ(press(ak::kVK_Home, ak::HomeFunctionKey), (R{0, 0}));
  // Command+arrows (Ctrl on the keyboard) move by words.
  EXPECT_EQ(press(ak::kVK_RightArrow, ak::RightArrowFunctionKey, ak::CommandKeyMask), (R{4, 0}));
  EXPECT_EQ(press(ak::kVK_RightArrow, ak::RightArrowFunctionKey, ak::CommandKeyMask), (R{8, 0}));
  EXPECT_EQ(press(ak::kVK_LeftArrow, ak::LeftArrowFunctionKey, ak::CommandKeyMask), (R{5, 0}));
  // Shift grows the selection from where it started, either way.
  EXPECT_EQ(press(ak::kVK_End, ak::EndFunctionKey, ak::ShiftKeyMask), (R{5, 8}));
  EXPECT_EQ(press(ak::kVK_LeftArrow, ak::LeftArrowFunctionKey, ak::ShiftKeyMask), (R{5, 7}));
  EXPECT_EQ(press(ak::kVK_Home, ak::HomeFunctionKey, ak::ShiftKeyMask), (R{0, 5}));
  EXPECT_EQ(press(ak::kVK_RightArrow, ak::RightArrowFunctionKey, ak::ShiftKeyMask), (R{1, 4}));
  EXPECT_EQ(press(ak::kVK_RightArrow, ak::RightArrowFunctionKey, ak::CommandKeyMask | ak::ShiftKeyMask),
            (R{4, 1}));
  EXPECT_EQ(editor->string(), "cats and dogs");

  // Function-key characters are never text, whatever key carries them.
  editor->setSelectedRange({13, 0});
  press(122, ak::F1FunctionKey);
  pltest::key(form.window, 0, "a" + ak::functionKeyString(ak::HomeFunctionKey) + "b");
  pltest::key(form.window, 0, ak::functionKeyString(0xF8FF));
  form.app.dispatchQueued();
  EXPECT_EQ(editor->string(), "cats and dogsab");

  // With no menu, the field editor's own Command+A, C, X and V.
  auto board = ak::Pasteboard::generalPasteboard();
  board->clearContents();
  pltest::key(form.window, ak::kVK_ANSI_A, "a", ak::CommandKeyMask);
  pltest::key(form.window, ak::kVK_ANSI_C, "c", ak::CommandKeyMask);
  form.app.dispatchQueued();
  EXPECT_EQ(editor->selectedRange(), (R{0, 15}));
  EXPECT_EQ(board->stringForType(ak::PasteboardTypeString), "cats and dogsab");
  pltest::key(form.window, ak::kVK_ANSI_X, "x", ak::CommandKeyMask);
  form.app.dispatchQueued();
  EXPECT_EQ(editor->string(), "");
  pltest::key(form.window, ak::kVK_ANSI_V, "v", ak::CommandKeyMask);
  form.app.dispatchQueued();
  EXPECT_EQ(editor->string(), "cats and dogsab");

  // With an Edit menu the menu's item pastes, once.
  auto mainMenu = ak::Menu::initWithTitle("");
  auto edit = ak::Menu::initWithTitle("Edit");
  edit->addItemWithTitle_action_keyEquivalent("Paste", "paste:", "v");
  mainMenu->addItemWithTitle_action_keyEquivalent("Edit", {}, "")->setSubmenu(edit);
  form.app.app()->setMainMenu(mainMenu);
  editor->setSelectedRange({0, 0});
  pltest::key(form.window, ak::kVK_ANSI_V, "v", ak::CommandKeyMask);
  form.app.dispatchQueued();
  form.app.app()->setMainMenu(nullptr);
  EXPECT_EQ(editor->string(), "cats and dogsabcats and dogsab");
}

}  // namespace
