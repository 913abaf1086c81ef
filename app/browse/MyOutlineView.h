#pragma once
// The source list's outline: item rows reach 8 points further left than headings, the
// selection is drawn as the orange bar images, a right click on a heading's button reaches the
// outline's menu (as a Control-click does anywhere), and a title edit ends by storing the typed
// text on the row's node and posting "MyOutlineViewEndEdit" for Return, or
// "MyOutlineViewEndCancel" for any other ending, once per edit.
#include "ui/SourceList.h"

class MyOutlineView : public SourceList {
 public:
  ak::Rect frameOfCellAtColumn_row(long column, long row) const override;
  void textDidEndEditing(const ns::Ref<ns::Notification>& notification) override;
  void highlightSelectionInClipRect(const ak::Rect& clipRect) override;
  // NO for exactly a button (not a subclass) under a right mouse down (or a Control-click), so
  // that a heading's button lets the outline show its menu. A row's label never takes a click from the row,
  // and an editable title only once its row is the one selected row: the first click selects.
  bool validateProposedFirstResponder_forEvent(const ns::Ref<ak::Responder>& responder,
                                               const ns::Ref<ak::Event>& event) override;
  // A left click with Control held is a right click.
  void mouseDown(const ns::Ref<ak::Event>& event) override;
  // The selection bar's image for the outline's focus now.
  std::string selectionBarImageName() const;
  std::string className() const override { return "MyOutlineView"; }
};
