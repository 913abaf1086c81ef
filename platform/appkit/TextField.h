#pragma once
// Text fields and search fields. Editing uses the window's one field editor, placed over the
// cell's text rect when the field becomes first responder, after the cell's
// setUpFieldEditorAttributes saw it. The delegate hears, through the runtime:
// control:textShouldBeginEditing: before the first change, controlTextDidBeginEditing:,
// controlTextDidChange: per change, control:textView:doCommandBySelector: before each command
// (YES: handled), control:textShouldEndEditing: and controlTextDidEndEditing: with
// "NSTextMovement"; the matching notifications carry "NSFieldEditor".
#include <string>

#include "platform/appkit/Button.h"
#include "platform/appkit/Control.h"
#include "platform/appkit/TextView.h"

namespace ak {

inline constexpr char ControlTextDidBeginEditingNotification[] = "NSControlTextDidBeginEditingNotification";
inline constexpr char ControlTextDidChangeNotification[] = "NSControlTextDidChangeNotification";
inline constexpr char ControlTextDidEndEditingNotification[] = "NSControlTextDidEndEditingNotification";
inline constexpr char FieldEditorKey[] = "NSFieldEditor";
inline constexpr char TextMovementKey[] = "NSTextMovement";

class TextFieldCell : public ActionCell {
 public:
  void initTextCell(const std::string& string) override;
  bool drawsBackground() const { return drawsBackground_; }
  void setDrawsBackground(bool draws);
  ns::Ref<Color> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const ns::Ref<Color>& color);
  ns::Ref<Color> textColor() const { return textColor_; }
  void setTextColor(const ns::Ref<Color>& color);
  const std::string& placeholderString() const { return placeholder_; }
  void setPlaceholderString(const std::string& placeholder);

  ns::Dictionary textAttributes() const override;
  Rect titleRectForBounds(const Rect& bounds) const override;
  void drawWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) override;
  void drawInteriorWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) override;
  TextView* setUpFieldEditorAttributes(TextView* textObject) override;
  // Where the field editor goes while the cell is edited.
  virtual Rect editingRectForBounds(const Rect& bounds) const { return titleRectForBounds(bounds); }
  // Whether the text is hidden because the field editor shows it.
  void setShowsFieldEditor(bool shows) { showsEditor_ = shows; }

  std::string className() const override { return "NSTextFieldCell"; }

 protected:
  bool showsEditor_ = false;

 private:
  bool drawsBackground_ = false;
  ns::Ref<Color> backgroundColor_;
  ns::Ref<Color> textColor_;
  std::string placeholder_;
};

class TextField : public Control, public TextEditingClient {
 public:
  ~TextField() override;
  static ns::Class cellClass();
  ns::Ref<TextFieldCell> textFieldCell() const { return std::dynamic_pointer_cast<TextFieldCell>(cell_); }

  bool isEditable() const { return cell_ && cell_->isEditable(); }
  void setEditable(bool editable);
  bool isSelectable() const { return cell_ && cell_->isSelectable(); }
  void setSelectable(bool selectable);
  bool isBordered() const { return cell_ && cell_->isBordered(); }
  void setBordered(bool bordered);
  bool isBezeled() const { return cell_ && cell_->isBezeled(); }
  void setBezeled(bool bezeled);
  bool drawsBackground() const;
  void setDrawsBackground(bool draws);
  ns::Ref<Color> textColor() const;
  void setTextColor(const ns::Ref<Color>& color);
  ns::Ref<Color> backgroundColor() const;
  void setBackgroundColor(const ns::Ref<Color>& color);
  std::string placeholderString() const;
  void setPlaceholderString(const std::string& placeholder);

  // ---- editing ----
  // The field editor while this field is edited, else nullptr.
  ns::Ref<TextView> currentEditor() const;
  // Starts editing with all text selected.
  void selectText(const ns::Ref<ns::Object>& sender);
  // Ends the edit without the delegate's consent; the text typed so far is kept.
  bool abortEditing();
  // Copies the editor's text into the cell.
  void validateEditing();

  bool acceptsFirstResponder() override;
  bool becomeFirstResponder() override;
  void mouseDown(const ns::Ref<Event>& event) override;
  void viewWillMoveToWindow(const ns::Ref<Window>& window) override;
  void setStringValue(const std::string& string) override;
  std::string stringValue() const override;

  // TextEditingClient
  bool textShouldBeginEditing(TextView& editor) override;
  void textDidBeginEditing(TextView& editor) override;
  void textDidChange(TextView& editor) override;
  bool textView_doCommandBySelector(TextView& editor, ns::Sel command) override;
  bool textDidEndEditingWithMovement(TextView& editor, long movement) override;

  std::string className() const override { return "NSTextField"; }

 protected:
  // The editor's rectangle in this field's bounds.
  virtual Rect editingRect() const;
  void postEditing(const char* notification, const char* delegateSelector, const ns::Dictionary& extra = {});
  // Detaches the editor; the window's first responder goes back to the window when `refocus`.
  void endEditingSession(bool refocus);

  ns::Weak<TextView> editor_;
  bool editing_ = false;
  bool ending_ = false;
};

class SearchFieldCell : public TextFieldCell {
 public:
  void initTextCell(const std::string& string) override;
  // The buttons keep their own target (this cell until set), action and images.
  ns::Ref<ButtonCell> searchButtonCell() const { return searchButton_; }
  void setSearchButtonCell(const ns::Ref<ButtonCell>& cell) { searchButton_ = cell; }
  ns::Ref<ButtonCell> cancelButtonCell() const { return cancelButton_; }
  void setCancelButtonCell(const ns::Ref<ButtonCell>& cell) { cancelButton_ = cell; }
  virtual Rect searchTextRectForBounds(const Rect& bounds) const;
  virtual Rect searchButtonRectForBounds(const Rect& bounds) const;
  virtual Rect cancelButtonRectForBounds(const Rect& bounds) const;
  Rect editingRectForBounds(const Rect& bounds) const override { return searchTextRectForBounds(bounds); }
  Rect titleRectForBounds(const Rect& bounds) const override { return searchTextRectForBounds(bounds); }
  // The text, then the search and cancel buttons (the cancel one only with text).
  void drawInteriorWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) override;
  std::string className() const override { return "NSSearchFieldCell"; }

 private:
  ns::Ref<ButtonCell> searchButton_;
  ns::Ref<ButtonCell> cancelButton_;
};

class SearchField : public TextField {
 public:
  static ns::Class cellClass();
  ns::Ref<SearchFieldCell> searchFieldCell() const {
    return std::dynamic_pointer_cast<SearchFieldCell>(cell_);
  }
  // A click on a button runs that button cell's action (the cancel button without one clears
  // the field and sends the field's action); elsewhere the field edits.
  void mouseDown(const ns::Ref<Event>& event) override;
  std::string className() const override { return "NSSearchField"; }

 protected:
  Rect editingRect() const override;
};

}  // namespace ak
