// The source list's context menu: what it offers for each kind of row, and its group, playlist,
// subscription and address operations.
#include <gtest/gtest.h>

#include "app/browse/LeftViewController.h"
#include "app/browse/MenuViewController.h"
#include "app/library/DBAccess.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/testing/Pump.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/app/browse/BrowseTestSupport.h"
#include "ui/SourceList.h"

namespace {

struct MenuFixture : browse_test::BrowseFixture {
  MenuFixture() {
    auto store = DBAccess::getInstance();
    store->addPlaylistGroup("Trips");
    store->addPlaylistGroup("Work");
    std::tie(window, left) = showLeftPane(ak::MakeRect(0, 0, 520, 620), ak::MakeRect(0, 20, 520, 600));
    menu = left->menuViewController();
    store->addPlaylistGroupEntry_groupId_notify("PL2", groupId("Work"), false);
    account->playlistsArray() = {ns::Value(ns::Array{"PL1", "Code", 3}),
                                 ns::Value(ns::Array{"PL2", "Jobs", 1}),
                                 ns::Value(ns::Array{"PL3", "Zoo", 2})};
    account->subscriptionsArray() = {ns::Value(ns::Array{"UUchan", "Channel", "s1", 0, 4})};
    account->feedsArray() = {ns::Value(ns::Array{"10", "Music"})};
    menu->updatePlaylists();
    menu->updateSubscriptions();
    menu->updateFeeds();
    EXPECT_TRUE(pltest::drainMode());
  }
  ns::Ref<SourceList> outline() const { return menu->sourceList(); }
  ns::Ref<MenuItem> node(const std::string& title) const {
    for (const auto& section : menu->sourceListItems()) {
      if (section->title() == title) return section;
      for (const auto& child : section->children())
        if (child->title() == title) return child;
    }
    return nullptr;
  }
  // The window point in the middle of the row of `title`, or below the last row.
  ak::Point pointOf(const std::string& title) const {
    long row = title.empty() ? -1 : outline()->rowForItem(node(title));
    ak::Rect rect =
        row >= 0 ? outline()->rectOfRow(row) : outline()->rectOfRow(outline()->numberOfRows() - 1);
    double y = rect.origin.y + rect.size.height / 2 + (row >= 0 ? 0 : rect.size.height * 2);
    return outline()->convertPoint_toView({40, y}, nullptr);
  }
  // The menu a right click on the row shows, dismissed.
  std::string menuOf(const std::string& title, unsigned long flags = 0, bool right = true) {
    pltest::ModalScript script;
    script.dismiss();
    if (right)
      pltest::rightClick(window, pointOf(title));
    else
      pltest::click(window, pointOf(title), flags);
    app.dispatchQueued();
    if (script.shown().empty()) {
      // Use up the unused answer.
      pltest::rightClick(window, pointOf(""));
      app.dispatchQueued();
      return "(none)";
    }
    return script.shown().at(0).describe();
  }
  // Right-clicks the row and chooses the entry.
  void choose(const std::string& title, const std::string& path) {
    pltest::ModalScript script;
    script.choose(path);
    pltest::rightClick(window, pointOf(title));
    app.dispatchQueued();
  }
  void select(const std::vector<std::string>& titles) {
    auto set = ns::MutableIndexSet::indexSet();
    for (const auto& title : titles) set->addIndex(outline()->rowForItem(node(title)));
    outline()->selectRowIndexes_byExtendingSelection(*set, false);
  }

  ns::Ref<ak::Window> window;
  ns::Ref<LeftViewController> left;
  ns::Ref<MenuViewController> menu;
};

TEST(SourceListMenu, EachKindOfRowGetsItsMenu) {
  MenuFixture f;
  const std::string groups = "  -\n  Trips {1}\n  Work {2}\n";
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"Code",
       "Code (disabled)\nGroup\n  [x] PLAYLISTS {PLAYLISTS}\n" + groups + "Delete\n-\nCopy URL\nrefresh"},
      {"Jobs",
       "Jobs (disabled)\nGroup\n  PLAYLISTS {PLAYLISTS}\n  -\n  Trips {1}\n  [x] Work {2}\nDelete\n-\nCopy "
       "URL\nrefresh"},
      {"Channel", "Channel (disabled)\nUnsubscribe\n-\nrefresh"},
      {"Music", "Music (disabled)\n-\nrefresh"},
      {"Favorites", "Favorites (disabled)\n-\nrefresh"},
      {"PLAYLISTS", "PLAYLISTS (disabled)\n-\nrefresh"},
      {"", "-\nrefresh"},
  };
  for (const auto& [title, expected] : rows) {
    EXPECT_EQ(f.menuOf(title), expected + "\n") << title;
    if (!title.empty()) {
      EXPECT_EQ(f.menu->rightClickedMenuItem(), f.node(title));
    }
  }
  EXPECT_NE(f.menuOf("Work").find("Work (disabled)\n"), std::string::npos);
  EXPECT_NE(f.menuOf("Work").find("Delete Group\n-\nrefresh\n"), std::string::npos);
  // A Control-click gives the same menu; a plain click, or a mouse up, none.
  auto asked = [&](ak::EventType type, unsigned long flags) {
    auto event = pltest::mouseEvent(f.window, type, f.pointOf("Channel"), flags);
    return f.menu->sourceList_menuForEvent_item(f.outline(), event, f.node("Channel")) != nullptr;
  };
  EXPECT_TRUE(asked(ak::EventType::LeftMouseDown, ak::ControlKeyMask));
  EXPECT_TRUE(asked(ak::EventType::RightMouseDown, 0));
  EXPECT_FALSE(asked(ak::EventType::LeftMouseDown, 0));
  EXPECT_FALSE(asked(ak::EventType::RightMouseUp, 0));
  EXPECT_EQ(f.menuOf("Channel", 0, false), "(none)");
  // An injected Control-click shows it too.
  EXPECT_EQ(f.menuOf("Channel", ak::ControlKeyMask, false), "Channel (disabled)\nUnsubscribe\n-\nrefresh\n");
  EXPECT_EQ(f.menuOf("Work", ak::ControlKeyMask, false).rfind("Work (disabled)\nRename Group\n", 0), 0u);

  // On one row of a selection of several: only the grouping.
  f.select({"Code", "Zoo", "Channel"});
  EXPECT_EQ(f.menuOf("Zoo"), "3 selected (disabled)\nGroup\n  PLAYLISTS {PLAYLISTS}\n" + groups);
  // Outside the selection: the row's own menu.
  EXPECT_EQ(f.menuOf("Music"), "Music (disabled)\n-\nrefresh\n");
}

TEST(SourceListMenu, GroupingFilesPlaylistsAndRebuildsTheTree) {
  MenuFixture f;
  browse_test::PostCounter changed("playlistGroupChanged");
  f.choose("Code", "Group/Trips");
  EXPECT_EQ(DBAccess::getInstance()->getPlaylistGroupId("PL1"), f.groupId("Trips"));
  EXPECT_EQ(changed.count(), 1);
  EXPECT_TRUE(pltest::pumpUntil([&] { return f.menu->groupItem(f.groupId("Trips"))->hasChildren(); }));
  EXPECT_EQ(f.menu->groupItem(f.groupId("Trips"))->children()[0]->title(), "Code");

  // A selection of two playlists and a subscription: only the playlists move, one post.
  changed.reset();
  f.select({"Jobs", "Zoo", "Channel"});
  f.choose("Zoo", "Group/PLAYLISTS");
  EXPECT_EQ(DBAccess::getInstance()->getPlaylistGroupId("PL2"), 0);
  EXPECT_EQ(DBAccess::getInstance()->getPlaylistGroupId("PL3"), 0);
  EXPECT_EQ(changed.count(), 1);
  // Nothing to move: nothing posted.
  changed.reset();
  f.select({"Channel", "Music"});
  f.choose("Music", "Group/Work");
  EXPECT_EQ(changed.count(), 0);
}

TEST(SourceListMenu, DeletingAsksFirstAndAGroupsPlaylistsGoUnderPlaylists) {
  MenuFixture f;
  {
    pltest::ModalScript script;
    script.choose("Delete").clickAlertButton("Cancel");
    ns::LogCapture log(true);
    pltest::rightClick(f.window, f.pointOf("Code"));
    f.app.dispatchQueued();
    EXPECT_TRUE(pltest::pumpUntil([&] { return log.contains("cancelled"); }));
    ASSERT_EQ(script.shownAlerts().size(), 1u);
    EXPECT_EQ(script.shownAlerts()[0].messageText, "Delete playlist \"Code\" from YouTube");
    EXPECT_EQ(script.shownAlerts()[0].informativeText, "This operation can NOT be undone!");
    EXPECT_EQ(script.shownAlerts()[0].style, ak::AlertStyle::Critical);
    EXPECT_EQ(script.shownAlerts()[0].buttons, (std::vector<std::string>{"Delete", "Cancel"}));
  }
  EXPECT_NE(f.node("Code"), nullptr);
  {
    pltest::ModalScript script;
    script.choose("Delete Group").clickAlertButton("Delete");
    pltest::rightClick(f.window, f.pointOf("Work"));
    f.app.dispatchQueued();
    EXPECT_TRUE(pltest::pumpUntil([&] { return f.node("Work") == nullptr; }));
    ASSERT_EQ(script.shownAlerts().size(), 1u);
    EXPECT_EQ(script.shownAlerts()[0].messageText, "Delete Playlist Group \"Work\"?");
  }
  EXPECT_TRUE(pltest::pumpUntil([&] {
    auto jobs = f.node("Jobs");
    return jobs && jobs->parent() == f.menu->playlistsItem();
  }));
}

TEST(SourceListMenu, CopyURLPutsThePlaylistsAddressOnThePasteboard) {
  MenuFixture f;
  f.account->playlistsArray().push_back(
      ns::Value(ns::Array{"PLBfwD_NnDB3qXSVqBIJ7CCL5jUgXMyiVo", "Mine", 1}));
  f.menu->updatePlaylists();
  f.choose("Mine", "Copy URL");
  EXPECT_EQ(ak::Pasteboard::generalPasteboard()->stringForType(ak::PasteboardTypeString),
            "http://www.youtube.com/playlist?list=PLBfwD_NnDB3qXSVqBIJ7CCL5jUgXMyiVo");
}

}  // namespace
