// The data source and delegate protocols of tables and outline views, with every method the
// views call and its type encoding, required and optional apart, for code that builds
// forwarding proxies from the descriptions.
#include "platform/runtime/ClassBuilder.h"

namespace {

using ns::BOOL;
using ns::Ref;
using Id = Ref<ns::Object>;

// The control text-editing methods a view's delegate may answer for the field editor.
#define PL_CONTROL_TEXT_EDITING_METHODS(proto)                                        \
  proto.optional<BOOL(Id, Id)>("control:textShouldBeginEditing:");                    \
  proto.optional<BOOL(Id, Id)>("control:textShouldEndEditing:");                      \
  proto.optional<BOOL(Id, Id, ns::Sel)>("control:textView:doCommandBySelector:");     \
  proto.optional<void(Id)>("controlTextDidBeginEditing:");                            \
  proto.optional<void(Id)>("controlTextDidChange:");                                  \
  proto.optional<void(Id)>("controlTextDidEndEditing:")

}  // namespace

PL_PROTOCOL(NSTableViewDataSource) {
  proto.adopts("NSObject");
  proto.optional<long(Id)>("numberOfRowsInTableView:");
  proto.optional<Id(Id, Id, long)>("tableView:objectValueForTableColumn:row:");
  proto.optional<void(Id, Id, Id, long)>("tableView:setObjectValue:forTableColumn:row:");
  proto.optional<void(Id, Id)>("tableView:sortDescriptorsDidChange:");
  proto.optional<BOOL(Id, Id, Id)>("tableView:writeRowsWithIndexes:toPasteboard:");
  proto.optional<unsigned long(Id, Id, long, unsigned long)>("tableView:validateDrop:proposedRow:proposedDropOperation:");
  proto.optional<BOOL(Id, Id, long, unsigned long)>("tableView:acceptDrop:row:dropOperation:");
}

PL_PROTOCOL(NSTableViewDelegate) {
  proto.adopts("NSObject");
  proto.optional<Id(Id, Id, long)>("tableView:viewForTableColumn:row:");
  proto.optional<Id(Id, long)>("tableView:rowViewForRow:");
  proto.optional<void(Id, Id, long)>("tableView:didAddRowView:forRow:");
  proto.optional<void(Id, Id, long)>("tableView:didRemoveRowView:forRow:");
  proto.optional<void(Id, Id, Id, long)>("tableView:willDisplayCell:forTableColumn:row:");
  proto.optional<BOOL(Id, Id, long)>("tableView:shouldEditTableColumn:row:");
  proto.optional<BOOL(Id)>("selectionShouldChangeInTableView:");
  proto.optional<BOOL(Id, long)>("tableView:shouldSelectRow:");
  proto.optional<Id(Id, Id)>("tableView:selectionIndexesForProposedSelection:");
  proto.optional<double(Id, long)>("tableView:heightOfRow:");
  proto.optional<BOOL(Id, long)>("tableView:isGroupRow:");
  proto.optional<void(Id)>("tableViewSelectionDidChange:");
  proto.optional<void(Id)>("tableViewSelectionIsChanging:");
  PL_CONTROL_TEXT_EDITING_METHODS(proto);
}

PL_PROTOCOL(NSOutlineViewDataSource) {
  proto.adopts("NSObject");
  proto.optional<long(Id, Id)>("outlineView:numberOfChildrenOfItem:");
  proto.optional<Id(Id, long, Id)>("outlineView:child:ofItem:");
  proto.optional<BOOL(Id, Id)>("outlineView:isItemExpandable:");
  proto.optional<Id(Id, Id, Id)>("outlineView:objectValueForTableColumn:byItem:");
  proto.optional<void(Id, Id, Id, Id)>("outlineView:setObjectValue:forTableColumn:byItem:");
  proto.optional<BOOL(Id, Id, Id)>("outlineView:writeItems:toPasteboard:");
  proto.optional<unsigned long(Id, Id, Id, long)>("outlineView:validateDrop:proposedItem:proposedChildIndex:");
  proto.optional<BOOL(Id, Id, Id, long)>("outlineView:acceptDrop:item:childIndex:");
}

PL_PROTOCOL(NSOutlineViewDelegate) {
  proto.adopts("NSObject");
  proto.optional<Id(Id, Id, Id)>("outlineView:viewForTableColumn:item:");
  proto.optional<Id(Id, Id)>("outlineView:rowViewForItem:");
  proto.optional<void(Id, Id, long)>("outlineView:didAddRowView:forRow:");
  proto.optional<void(Id, Id, long)>("outlineView:didRemoveRowView:forRow:");
  proto.optional<void(Id, Id, Id, Id)>("outlineView:willDisplayCell:forTableColumn:item:");
  proto.optional<void(Id, Id, Id, Id)>("outlineView:willDisplayOutlineCell:forTableColumn:item:");
  proto.optional<BOOL(Id, Id, Id)>("outlineView:shouldEditTableColumn:item:");
  proto.optional<BOOL(Id)>("selectionShouldChangeInOutlineView:");
  proto.optional<BOOL(Id, Id)>("outlineView:shouldSelectItem:");
  proto.optional<Id(Id, Id)>("outlineView:selectionIndexesForProposedSelection:");
  proto.optional<double(Id, Id)>("outlineView:heightOfRowByItem:");
  proto.optional<BOOL(Id, Id)>("outlineView:isGroupItem:");
  proto.optional<BOOL(Id, Id)>("outlineView:shouldExpandItem:");
  proto.optional<BOOL(Id, Id)>("outlineView:shouldCollapseItem:");
  proto.optional<void(Id)>("outlineViewSelectionDidChange:");
  proto.optional<void(Id)>("outlineViewSelectionIsChanging:");
  proto.optional<void(Id)>("outlineViewItemWillExpand:");
  proto.optional<void(Id)>("outlineViewItemDidExpand:");
  proto.optional<void(Id)>("outlineViewItemWillCollapse:");
  proto.optional<void(Id)>("outlineViewItemDidCollapse:");
  PL_CONTROL_TEXT_EDITING_METHODS(proto);
}
