#pragma once
// The text view, used here as a window's field editor: one per window, placed over the text
// rect of the field being edited. Lengths and ranges are in UTF-16 code units; text typed or
// pasted with invalid UTF-8 becomes U+FFFD.
#include <string>

#include "platform/appkit/Color.h"
#include "platform/appkit/ParagraphStyle.h"
#include "platform/appkit/View.h"
#include "platform/core/Types.h"
#include "platform/core/Value.h"

namespace ak {

class Font;
class TextView;

// What the field editor tells the control it edits for (plain C++: the control is the
// editor's delegate while an edit runs).
class TextEditingClient {
 public:
  virtual ~TextEditingClient() = default;
  // Before the first change of an edit; NO refuses it.
  virtual bool textShouldBeginEditing(TextView& editor) = 0;
  virtual void textDidBeginEditing(TextView& editor) = 0;
  virtual void textDidChange(TextView& editor) = 0;
  // YES when the command was handled (the editor then does nothing more).
  virtual bool textView_doCommandBySelector(TextView& editor, ns::Sel command) = 0;
  // Return, Tab, Backtab and Escape end the edit with their movement, losing first responder
  // ends it with the other movement; NO keeps the edit going.
  virtual bool textDidEndEditingWithMovement(TextView& editor, long movement) = 0;
};

// Text movements of "NSTextMovement".
enum TextMovement : long {
  OtherTextMovement = 0,
  ReturnTextMovement = 16,
  TabTextMovement = 17,
  BacktabTextMovement = 18,
  CancelTextMovement = 23,
};

class TextView : public View {
 public:
  TextView();
  ~TextView() override;

  const std::string& string() const { return string_; }
  void setString(const std::string& string);
  std::size_t length() const;
  ns::Range selectedRange() const { return selected_; }
  void setSelectedRange(ns::Range range);
  ns::Ref<Font> font() const;
  void setFont(const ns::Ref<Font>& font);
  ns::Ref<Color> textColor() const { return textColor_; }
  void setTextColor(const ns::Ref<Color>& color);
  ns::Ref<Color> insertionPointColor() const { return insertionPointColor_; }
  void setInsertionPointColor(const ns::Ref<Color>& color);
  ns::Ref<Color> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const ns::Ref<Color>& color);
  bool drawsBackground() const { return drawsBackground_; }
  void setDrawsBackground(bool draws);
  ns::Dictionary selectedTextAttributes() const { return selectedTextAttributes_; }
  void setSelectedTextAttributes(const ns::Dictionary& attributes) { selectedTextAttributes_ = attributes; }
  TextAlignment alignment() const { return alignment_; }
  void setAlignment(TextAlignment alignment) { alignment_ = alignment; }
  bool isFieldEditor() const { return fieldEditor_; }
  void setFieldEditor(bool flag) { fieldEditor_ = flag; }
  bool isEditable() const { return editable_; }
  void setEditable(bool editable) { editable_ = editable; }

  // Not retained: the control being edited.
  TextEditingClient* client() const { return client_; }
  void setClient(TextEditingClient* client) { client_ = client; }

  // ---- input ----
  bool acceptsFirstResponder() override { return true; }
  bool resignFirstResponder() override;
  bool isFlipped() const override { return true; }
  void keyDown(const ns::Ref<Event>& event) override;
  void mouseDown(const ns::Ref<Event>& event) override;
  void insertText(const std::string& text) override;
  void doCommandBySelector(ns::Sel selector) override;
  // Input methods: text replacing a range (or the marked text, or the selection when the range
  // is NotFound); marked text shown underlined until unmarked or replaced.
  void insertText_replacementRange(const std::string& text, ns::Range replacementRange);
  void setMarkedText_selectedRange_replacementRange(const std::string& text, ns::Range selectedRange,
                                                    ns::Range replacementRange);
  void unmarkText();
  bool hasMarkedText() const { return marked_.length > 0; }
  ns::Range markedRange() const;
  // The screen rectangle of a range (for a candidate window), and the range it really covers.
  Rect firstRectForCharacterRange_actualRange(ns::Range range, ns::Range* actualRange) const;
  Rect firstRectForCharacterRange(ns::Range range) const {
    return firstRectForCharacterRange_actualRange(range, nullptr);
  }

  // ---- commands ----
  void moveLeft(const ns::Ref<ns::Object>& sender);
  void moveRight(const ns::Ref<ns::Object>& sender);
  void moveUp(const ns::Ref<ns::Object>& sender);
  void moveDown(const ns::Ref<ns::Object>& sender);
  void moveToBeginningOfLine(const ns::Ref<ns::Object>& sender);
  void moveToEndOfLine(const ns::Ref<ns::Object>& sender);
  // Words are runs of letters and digits; a move goes to the start (left) or end (right) of
  // the next one.
  void moveWordLeft(const ns::Ref<ns::Object>& sender);
  void moveWordRight(const ns::Ref<ns::Object>& sender);
  // The selection grows or shrinks from where it started to where the caret moves.
  void moveLeftAndModifySelection(const ns::Ref<ns::Object>& sender);
  void moveRightAndModifySelection(const ns::Ref<ns::Object>& sender);
  void moveWordLeftAndModifySelection(const ns::Ref<ns::Object>& sender);
  void moveWordRightAndModifySelection(const ns::Ref<ns::Object>& sender);
  void moveToBeginningOfLineAndModifySelection(const ns::Ref<ns::Object>& sender);
  void moveToEndOfLineAndModifySelection(const ns::Ref<ns::Object>& sender);
  void deleteBackward(const ns::Ref<ns::Object>& sender);
  void deleteForward(const ns::Ref<ns::Object>& sender);
  void selectAll(const ns::Ref<ns::Object>& sender);
  // Inserts the general pasteboard's text (or URL).
  void paste(const ns::Ref<ns::Object>& sender);
  // Put the selected text on the general pasteboard (cut then removes it).
  void copy(const ns::Ref<ns::Object>& sender);
  void cut(const ns::Ref<ns::Object>& sender);
  void insertNewline(const ns::Ref<ns::Object>& sender);
  void insertTab(const ns::Ref<ns::Object>& sender);
  void insertBacktab(const ns::Ref<ns::Object>& sender);
  void cancelOperation(const ns::Ref<ns::Object>& sender);

  void drawRect(const Rect& dirtyRect) override;
  std::string className() const override { return "NSTextView"; }

 private:
  // Replaces a range with text as one change (asking should-begin before the first).
  bool replace(ns::Range range, const std::string& text, bool markResult, ns::Range markedSelection);
  bool beginChange();
  void changed();
  double xForIndex(std::size_t index) const;
  ns::Dictionary attributes() const;
  std::size_t caret() const;
  std::size_t wordBoundary(std::size_t from, bool forward) const;
  void extendSelectionTo(std::size_t caret);
  // Command+A, X, C and V when no menu item took them.
  bool performEditingKey(const Event& event);

  std::string string_;
  ns::Range selected_;
  // Whether the caret is at the start of a non-empty selection (it grew leftwards).
  bool caretAtStart_ = false;
  ns::Range marked_;
  ns::Ref<Font> font_;
  ns::Ref<Color> textColor_;
  ns::Ref<Color> insertionPointColor_;
  ns::Ref<Color> backgroundColor_;
  bool drawsBackground_ = true;
  ns::Dictionary selectedTextAttributes_;
  TextAlignment alignment_ = TextAlignment::Natural;
  bool fieldEditor_ = false;
  bool editable_ = true;
  bool began_ = false;
  TextEditingClient* client_ = nullptr;

 public:
  // Internal: the editing session starts afresh (the next change asks should-begin again).
  void resetEditingSession() { began_ = false; }
  bool editingBegan() const { return began_; }
};

}  // namespace ak
