#pragma once
// Test data sources and delegates registered with the runtime, over a tree of two groups with
// three items each, and a fixture that shows a source list in a headless window.
#include <string>
#include <vector>

#include "platform/appkit/Image.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/foundation/Notification.h"
#include "platform/testing/ui/HeadlessApp.h"
#include "ui/SourceList.h"

namespace sltest {

using Id = ns::Ref<ns::Object>;

class Node : public ns::Object {
 public:
  explicit Node(std::string n = {}) : name(std::move(n)) {}
  std::string name;
  std::vector<ns::Ref<Node>> children;
};

std::string nameOf(const Id& item);

// Required methods only: "G1" (a1 a2 a3) and "G2" (b1 b2 b3).
class BasicSource : public ns::Object {
 public:
  BasicSource();
  std::vector<ns::Ref<Node>> groups;
  ns::Ref<Node> find(const std::string& name) const;
  unsigned long count(Id list, Id item);
  Id child(Id list, unsigned long index, Id item);
  ns::BOOL expandable(Id list, Id item);
};

// Adds titles: records what it was asked with.
class TextSource : public BasicSource {
 public:
  std::vector<std::pair<Id, Id>> asked;
  ns::Value value(Id list, Id item);
};

// Adds a badge of 7 and a 16x16 red icon on "a1", and badge colours.
class BadgeSource : public TextSource {
 public:
  ns::Ref<ak::Image> icon;
  bool hasBadge(Id list, Id item);
  long badgeValue(Id list, Id item);
  bool hasIcon(Id list, Id item);
  Id iconFor(Id list, Id item);
};

// Counts out of range and nil children.
class OddSource : public ns::Object {
 public:
  long rootCount = -3;
  long count(Id list, Id item) { return item ? 2 : rootCount; }
  Id child(Id list, unsigned long index, Id item) { return nullptr; }
  bool expandable(Id list, Id item) { return true; }
};

// Hears the list's selection and delete-key notifications, and implements the outline's own
// isGroupItem: (which the list must answer instead).
class PlainDelegate : public ns::Object {
 public:
  std::vector<ns::Ref<ns::Notification>> selectionNotes;
  std::vector<ns::Ref<ns::Notification>> deleteNotes;
  int isGroupCalls = 0;
  void selectionDidChange(ns::Ref<ns::Notification> note) { selectionNotes.push_back(note); }
  void deletePressed(ns::Ref<ns::Notification> note) { deleteNotes.push_back(note); }
  bool outlineIsGroup(Id, Id) {
    ++isGroupCalls;
    return true;
  }
};

// Row heights: 30 for "a2".
class TallDelegate : public PlainDelegate {
 public:
  std::vector<std::pair<Id, Id>> asked;
  double height(Id list, Id item);
};

// Group "G1" always expanded; a context menu per row; tool tips.
class GroupDelegate : public PlainDelegate {
 public:
  std::vector<Id> menuItems;
  std::vector<std::string> toolTipArguments;
  std::vector<std::string> expanded;  // "object-is-list item" per notice
  void didExpand(ns::Ref<ns::Notification> note);
  bool alwaysExpanded(Id list, Id item);
  Id menuFor(Id list, Id event, Id item);
  Id toolTip(Id list, Id cell, ak::Rect* rect, Id item, ak::Point mouse);
};

// View-based: a TableCellView per row, tagged with its row's name length.
class ViewDelegate : public PlainDelegate {
 public:
  std::vector<ns::Ref<ak::TableCellView>> made;
  Id viewFor(Id list, Id item);
};

// A source list in a scroll view filling a titled 200x200 window, made first responder, with
// one column and no intercell spacing (rows are exactly their height).
struct ListFixture {
  pltest::HeadlessApp app;
  ns::Ref<ak::Window> window;
  ns::Ref<ak::ScrollView> scroll;
  ns::Ref<SourceList> list;

  ListFixture();
  // Expands both groups: rows G1 a1 a2 a3 G2 b1 b2 b3.
  void expandAll(const BasicSource& source);
  // The middle of a row, in window coordinates.
  ak::Point rowPoint(long row, double x = 60) const;
  void select(std::initializer_list<std::size_t> rows);
  std::vector<std::size_t> selected() const;
};

ns::Ref<ak::Image> solidImage(double width, double height, double r, double g, double b);
std::vector<std::size_t> indexesOf(const ns::IndexSet& set);

}  // namespace sltest
