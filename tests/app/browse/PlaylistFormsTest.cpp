// The new-playlist and playlist-group forms shown from the source list's buttons and menu.
#include <gtest/gtest.h>

#include "app/browse/BrowseNotifications.h"
#include "app/browse/LeftViewController.h"
#include "app/browse/MenuViewController.h"
#include "app/browse/PlaylistForms.h"
#include "app/browse/TreeCellViews.h"
#include "app/library/DBAccess.h"
#include "common/Settings.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/GoogleAPIConfig.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/PopUpButton.h"
#include "platform/appkit/Popover.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/serialization/JSONSerialization.h"
#include "platform/testing/Pump.h"
#include "platform/testing/ui/ModalScript.h"
#include "tests/app/browse/BrowseTestSupport.h"
#include "tests/support/FakeDataAPI.h"
#include "ui/SourceList.h"

namespace {

struct FormFixture : browse_test::BrowseFixture {
  FormFixture() {
    app.sandbox().set(kGoogleAPIURLEnvironmentKey, std::nullopt);
    api.serveAsAPIHost();
    auto store = DBAccess::getInstance();
    store->addPlaylistGroup("PLAYLISTS");
    store->addPlaylistGroup("Trips");
    std::tie(window, left) = showLeftPane(ak::MakeRect(0, 0, 520, 620), ak::MakeRect(0, 20, 520, 600),
                                          [&](auto& answers) { answers.youTubeService = service; });
    menu = left->menuViewController();
  }
  // A call the test left running (a rename's update) would otherwise be answered in the next
  // test, whose source list its answer rebuilds under that test's feet.
  ~FormFixture() {
    pltest::pumpUntil([&] { return service->fetcherService()->numberOfFetchers() == 0; }, 30);
    pltest::drainMode();
    api.release();
  }
  // Whether the popover's closing animation ends with it closed, stepping the virtual clock.
  bool closes(const ns::Ref<ak::Popover>& popover) {
    for (int i = 0; i < 50 && popover->isShown(); ++i) app.advance(0.1);
    return !popover->isShown();
  }
  template <class Form>
  ns::Ref<Form> form() const {
    auto popover = menu->formPopover();
    return popover ? std::dynamic_pointer_cast<Form>(popover->contentViewController()) : nullptr;
  }
  // Types into the form's field as the field's delegate hears it.
  template <class Form>
  void type(const ns::Ref<Form>& form, const std::string& text) {
    form->playlistNameTextField()->setStringValue(text);
    form->controlTextDidChange(nullptr);
  }
  template <class Form>
  void pressReturn(const ns::Ref<Form>& form) {
    ns::Dictionary info;
    info.setObject_forKey(ns::Value(static_cast<long>(ak::ReturnTextMovement)),
                          ns::Value(ak::TextMovementKey));
    form->controlTextDidEndEditing(ns::Notification::notificationWithName_object_userInfo(
        ak::ControlTextDidEndEditingNotification, form->playlistNameTextField(), info));
  }

  testsupport::FakeDataAPI api;
  ns::Ref<ApiServiceYouTube> service = ns::make<ApiServiceYouTube>();
  ns::Ref<ak::Window> window;
  ns::Ref<LeftViewController> left;
  ns::Ref<MenuViewController> menu;
};

TEST(PlaylistForms, TheNewPlaylistFormCreatesAndFilesByPosition) {
  FormFixture f;
  f.menu->createPlaylistBtn()->performClick(nullptr);
  auto popover = f.menu->formPopover();
  ASSERT_NE(popover, nullptr);
  EXPECT_TRUE(popover->isShown());
  EXPECT_EQ(popover->behavior(), ak::PopoverBehavior::Transient);
  EXPECT_EQ(popover->shownEdge(), ak::RectEdge::MaxX);
  auto form = f.form<NewPlaylistViewController>();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->popOver(), popover);
  EXPECT_FALSE(form->createBtn()->isEnabled());
  EXPECT_EQ(form->groupPopUpButton()->numberOfItems(), 3);

  // An empty name stores the privacy choice and creates nothing.
  setBoolSetting(kPrivatePlaylistKey, true);
  form->privatePlaylistBtn()->setState(ak::OffState);
  form->onCreateBtn(nullptr);
  EXPECT_FALSE(getBoolSetting(kPrivatePlaylistKey));
  EXPECT_TRUE(f.closes(popover));
  EXPECT_TRUE(f.api.callsOf("youtube.playlists.insert").empty());

  // "Trip", private, in "Trips".
  f.menu->createPlaylistBtn()->performClick(nullptr);
  form = f.form<NewPlaylistViewController>();
  f.type(form, "Trip");
  EXPECT_TRUE(form->createBtn()->isEnabled());
  form->privatePlaylistBtn()->setState(ak::OnState);
  form->groupPopUpButton()->selectItemAtIndex(2);
  f.pressReturn(form);
  EXPECT_TRUE(f.closes(f.menu->formPopover()));
  ASSERT_TRUE(pltest::pumpUntil([&] {
    for (const auto& entry : f.account->playlistsArray())
      if (entry[1] == ns::Value("Trip")) return true;
    return false;
  }));
  auto calls = f.api.callsOf("youtube.playlists.insert");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].params["part"], ns::Value("snippet,status"));
  EXPECT_EQ(calls[0].params["resource"]["snippet"]["title"], ns::Value("Trip"));
  EXPECT_EQ(calls[0].params["resource"]["status"]["privacyStatus"], ns::Value("private"));
  std::string created;
  for (const auto& entry : f.account->playlistsArray())
    if (entry[1] == ns::Value("Trip")) created = entry[0].string();
  EXPECT_EQ(DBAccess::getInstance()->getPlaylistGroupId(created), f.groupId("Trips"));
  // Nothing but the title and the privacy goes out.
  EXPECT_EQ(calls[0].params["resource"],
            ns::JSONSerialization::JSONObjectWithString(
                R"({"snippet":{"title":"Trip"},"status":{"privacyStatus":"private"}})"));
  // The rebuilt tree shows it in its group.
  EXPECT_TRUE(pltest::pumpUntil([&] {
    auto group = f.menu->groupItem(f.groupId("Trips"));
    return group && group->hasChildren() && group->children()[0]->title() == "Trip";
  }));

  // The first item means no group, even with a group named like it.
  f.menu->createPlaylistBtn()->performClick(nullptr);
  form = f.form<NewPlaylistViewController>();
  f.type(form, "Loose");
  form->groupPopUpButton()->selectItemAtIndex(0);
  form->onCreateBtn(nullptr);
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.account->playlistsArray().size() == 2; }));
  std::string loose;
  for (const auto& entry : f.account->playlistsArray())
    if (entry[1] == ns::Value("Loose")) loose = entry[0].string();
  EXPECT_EQ(DBAccess::getInstance()->getPlaylistGroupId(loose), 0);
}

TEST(PlaylistForms, ACreationAnsweredWithAnEmptyIdAddsNoPlaylist) {
  FormFixture f;
  f.api.script("youtube.playlists.insert",
               testsupport::FakeDataAPI::Script(testsupport::FakeDataAPI::Answer::BareResult, 200, 0, 1,
                                                R"({"kind": "youtube#playlist", "id": "",
                                                    "snippet": {"title": "Ghost"}})"));
  std::size_t asked = 0;
  for (const char* name : {"Ghost", "Real"}) {
    f.menu->createPlaylistBtn()->performClick(nullptr);
    auto form = f.form<NewPlaylistViewController>();
    ASSERT_NE(form, nullptr);
    f.type(form, name);
    form->groupPopUpButton()->selectItemAtIndex(1);
    form->onCreateBtn(nullptr);
    EXPECT_TRUE(f.closes(f.menu->formPopover()));
    // The scripted answer goes to the first request the service takes: "Ghost" must be it.
    ++asked;
    ASSERT_TRUE(pltest::pumpUntil([&] { return f.api.callsOf("youtube.playlists.insert").size() == asked; }));
  }
  ASSERT_TRUE(pltest::pumpUntil([&] {
    for (const auto& entry : f.account->playlistsArray())
      if (entry[1] == ns::Value("Real")) return true;
    return false;
  }));
  ASSERT_EQ(f.api.callsOf("youtube.playlists.insert").size(), 2u);
  ASSERT_EQ(f.account->playlistsArray().size(), 1u);
  EXPECT_NE(f.account->playlistsArray()[0][0], ns::Value(""));
  EXPECT_EQ(DBAccess::getInstance()->getPlaylistGroupId(""), 0);
}

TEST(PlaylistForms, TheFormOpensWithItsDrawnNameFieldTakingTheKeysTyped) {
  FormFixture f;
  f.menu->createPlaylistBtn()->performClick(nullptr);
  auto popover = f.menu->formPopover();
  ASSERT_NE(popover, nullptr);
  auto form = f.form<NewPlaylistViewController>();
  auto pw = popover->window();
  // The popover has the keys, its name field the editor.
  EXPECT_TRUE(pw->isKeyWindow());
  auto field = form->playlistNameTextField();
  ASSERT_NE(field->currentEditor(), nullptr);
  EXPECT_EQ(pw->firstResponder(), field->currentEditor());
  // The field is drawn: a bezel around the text background, on the popover's lighter body.
  for (int step = 0; step < 20; ++step) f.app.advance(0.05);
  pltest::renderWindow(pw, "new-playlist");
  const ak::Rect inWindow = field->convertRect_toView(field->bounds(), nullptr);
  const ak::RGBA inside = pltest::windowPixel(pw, ak::MaxX(inWindow) - 6, ak::MidY(inWindow));
  const ak::RGBA edge = pltest::windowPixel(pw, ak::MinX(inWindow) + 0.5, ak::MidY(inWindow));
  const ak::RGBA body = pltest::windowPixel(pw, ak::MaxX(inWindow) - 6, ak::MaxY(inWindow) + 3);
  EXPECT_EQ(inside.r, 255);
  EXPECT_LT(edge.r, 200);
  EXPECT_NE(inside, body);

  // Keys typed anywhere reach the field, as the presenter sends them to the key window; Create
  // follows the text.
  pltest::typeText(f.window, "Road trip");
  f.app.dispatchQueued();
  EXPECT_EQ(field->stringValue(), "Road trip");
  EXPECT_TRUE(form->createBtn()->isEnabled());
  pltest::key(f.window, ak::kVK_Delete, "\x7f");
  f.app.dispatchQueued();
  EXPECT_EQ(field->stringValue(), "Road tri");
  pltest::typeText(f.window, "p");
  pltest::key(f.window, ak::kVK_Return, "\r");
  f.app.dispatchQueued();
  EXPECT_TRUE(f.closes(popover));
  EXPECT_FALSE(pw->isKeyWindow());
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.api.callsOf("youtube.playlists.insert").size() == 1; }));
  EXPECT_EQ(f.api.callsOf("youtube.playlists.insert")[0].params["resource"]["snippet"]["title"],
            ns::Value("Road trip"));

  // The group form's name field takes the keys as well.
  f.menu->createPlaylistGroupBtn()->performClick(nullptr);
  auto group = f.form<NewPlaylistGroupViewController>();
  ASSERT_NE(group, nullptr);
  pltest::typeText(f.window, "Work");
  f.app.dispatchQueued();
  EXPECT_EQ(group->playlistNameTextField()->stringValue(), "Work");
  EXPECT_TRUE(group->createBtn()->isEnabled());
}

TEST(PlaylistForms, TheGroupFormCreatesAndRenamesAndRefusesTakenNames) {
  FormFixture f;
  browse_test::PostCounter changed("playlistGroupChanged");
  f.menu->createPlaylistGroupBtn()->performClick(nullptr);
  auto form = f.form<NewPlaylistGroupViewController>();
  ASSERT_NE(form, nullptr);
  EXPECT_FALSE(form->bRename());
  EXPECT_TRUE(form->errorTextField()->isHidden());
  f.type(form, "Trips");
  form->onCreateBtn(nullptr);
  EXPECT_FALSE(form->errorTextField()->isHidden());
  EXPECT_TRUE(f.menu->formPopover()->isShown());
  f.type(form, "Work");
  EXPECT_TRUE(form->errorTextField()->isHidden());
  f.pressReturn(form);
  EXPECT_TRUE(f.closes(f.menu->formPopover()));
  EXPECT_NE(f.groupId("Work"), 0);
  EXPECT_TRUE(pltest::pumpUntil([&] { return f.menu->groupItem(f.groupId("Work")) != nullptr; }));

  // Renaming from the group's menu.
  pltest::ModalScript script;
  script.choose("Rename Group");
  auto work = f.menu->groupItem(f.groupId("Work"));
  long row = f.menu->sourceList()->rowForItem(work);
  ak::Rect rect = f.menu->sourceList()->rectOfRow(row);
  pltest::rightClick(f.window, f.menu->sourceList()->convertPoint_toView(
                                   {40, rect.origin.y + rect.size.height / 2}, nullptr));
  f.app.dispatchQueued();
  form = f.form<NewPlaylistGroupViewController>();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->bRename());
  EXPECT_EQ(form->dialogTitle()->stringValue(), "Rename Playlist Group \"Work\"");
  EXPECT_EQ(form->playlistNameTextField()->stringValue(), "Work");
  f.type(form, "Work");
  EXPECT_FALSE(form->createBtn()->isEnabled());
  form->onCreateBtn(nullptr);
  EXPECT_FALSE(form->errorTextField()->isHidden());
  f.type(form, "Trips");
  form->onCreateBtn(nullptr);
  EXPECT_FALSE(form->errorTextField()->isHidden());
  EXPECT_TRUE(f.menu->formPopover()->isShown());
  f.type(form, "Jobs");
  form->onCreateBtn(nullptr);
  EXPECT_TRUE(f.closes(f.menu->formPopover()));
  EXPECT_NE(f.groupId("Jobs"), 0);
  EXPECT_EQ(f.groupId("Work"), 0);
}

TEST(PlaylistForms, ReturnOnAnEmptyRenameKeepsTheGroupsName) {
  FormFixture f;
  ASSERT_TRUE(DBAccess::getInstance()->addPlaylistGroup("Work"));
  const int work = f.groupId("Work");
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.menu->groupItem(work) != nullptr; }));
  pltest::ModalScript script;
  script.choose("Rename Group");
  long row = f.menu->sourceList()->rowForItem(f.menu->groupItem(work));
  ak::Rect rect = f.menu->sourceList()->rectOfRow(row);
  pltest::rightClick(f.window, f.menu->sourceList()->convertPoint_toView(
                                   {40, rect.origin.y + rect.size.height / 2}, nullptr));
  f.app.dispatchQueued();
  auto form = f.form<NewPlaylistGroupViewController>();
  ASSERT_NE(form, nullptr);
  ASSERT_TRUE(form->bRename());
  // The button goes grey, but Return still ends the edit. A group without a name could not be
  // renamed again: the form would open to make a new group.
  f.type(form, "");
  EXPECT_FALSE(form->createBtn()->isEnabled());
  f.pressReturn(form);
  EXPECT_TRUE(f.closes(f.menu->formPopover()));
  EXPECT_EQ(f.groupId("Work"), work);
  EXPECT_EQ(f.groupId(""), 0);
}

TEST(PlaylistForms, APlaylistTitleIsRenamedInPlaceOnce) {
  FormFixture f;
  f.api.seed("playlists", {R"({"kind": "youtube#playlist", "id": "PLcode", "snippet": {"title": "Code"}})"});
  f.account->playlistsArray() = {ns::Value(ns::Array{"PLcode", "Code", 3})};
  f.menu->updatePlaylists();
  auto outline = f.menu->sourceList();
  auto code = f.menu->playlistsItem()->children().at(0);
  const long row = outline->rowForItem(code);
  outline->selectRowIndexes_byExtendingSelection(*ns::IndexSet::indexSetWithIndex(row), false);
  auto edit = [&](const std::string& text, unsigned short keyCode, const std::string& key) {
    outline->editColumn_row_withEvent_select(0, row, nullptr, true);
    ASSERT_EQ(outline->editedRow(), row);
    if (!text.empty()) pltest::typeText(f.window, text);
    pltest::key(f.window, keyCode, key);
    f.app.dispatchQueued();
  };

  // Escape puts the account's title back.
  edit("Other", 53, "\x1b");
  EXPECT_EQ(code->title(), "Code");
  // Return with the title unchanged sends nothing.
  edit("Code", 36, "\r");
  ns::LogCapture log(true);
  browse_test::PostCounter ended(kMyOutlineViewEndEditNotification);
  edit("Trip", 36, "\r");
  EXPECT_EQ(ended.count(), 1);
  EXPECT_EQ(code->title(), "Trip");
  EXPECT_TRUE(log.contains("RENAME PLAYLIST: Code --> Trip"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return !f.api.callsOf("youtube.playlists.update").empty(); }));
  auto calls = f.api.callsOf("youtube.playlists.update");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].params["resource"]["snippet"]["title"], ns::Value("Trip"));

  // Only playlists are editable.
  ns::Ref<ns::Object> list = outline;
  EXPECT_TRUE(f.menu->sourceList_shouldEditItem(list, code));
  EXPECT_FALSE(f.menu->sourceList_shouldEditItem(list, f.menu->libraryItem()->children().at(0)));
  EXPECT_FALSE(f.menu->sourceList_shouldEditItem(list, f.menu->playlistsItem()));
}

TEST(PlaylistForms, TheSelectedRowsTitleFieldRenamesInPlaceAndPostsOnce) {
  FormFixture f;
  f.api.seed("playlists", {R"({"kind": "youtube#playlist", "id": "PLcode", "snippet": {"title": "Code"}})"});
  f.account->playlistsArray() = {ns::Value(ns::Array{"PLcode", "Code", 3})};
  f.account->subscriptionsArray() = {ns::Value(ns::Array{"UUchan", "Channel", "SUB1", 0, 4})};
  f.menu->updatePlaylists();
  f.menu->updateSubscriptions();
  auto outline = f.menu->sourceList();
  auto cellOf = [&](const ns::Ref<MenuItem>& node) {
    return std::dynamic_pointer_cast<TreeItemCellView>(
        outline->viewAtColumn_row_makeIfNecessary(0, outline->rowForItem(node), true));
  };
  auto code = f.menu->playlistsItem()->children().at(0);
  auto channel = f.menu->subscriptionsItem()->children().at(0);
  // The emulated system has the appearance interface: the editing colours are left alone.
  ASSERT_NE(cellOf(code), nullptr);
  EXPECT_TRUE(cellOf(code)->hasAppearanceAPI());
  EXPECT_TRUE(cellOf(code)->titleTextField()->isEditable());
  EXPECT_FALSE(cellOf(channel)->titleTextField()->isEditable());
  EXPECT_FALSE(cellOf(f.menu->libraryItem()->children().at(0))->titleTextField()->isEditable());

  auto titlePoint = [&] {
    auto field = cellOf(code)->titleTextField();
    ak::Rect bounds = field->bounds();
    return field->convertPoint_toView({10, bounds.size.height / 2}, nullptr);
  };
  // The first click selects the row; only a click on the selected row's title edits.
  pltest::click(f.window, titlePoint());
  f.app.dispatchQueued();
  EXPECT_EQ(outline->selectedRow(), outline->rowForItem(code));
  EXPECT_EQ(cellOf(code)->titleTextField()->currentEditor(), nullptr);
  browse_test::PostCounter ended(kMyOutlineViewEndEditNotification);
  browse_test::PostCounter cancelled(kMyOutlineViewEndCancelNotification);
  auto edit = [&](const std::string& text, unsigned short keyCode, const std::string& key) {
    pltest::click(f.window, titlePoint());
    f.app.dispatchQueued();
    ASSERT_NE(cellOf(code)->titleTextField()->currentEditor(), nullptr);
    cellOf(code)->titleTextField()->currentEditor()->selectAll(nullptr);
    pltest::typeText(f.window, text);
    pltest::key(f.window, keyCode, key);
    f.app.dispatchQueued();
  };
  edit("Other", 53, "\x1b");
  EXPECT_EQ(cancelled.count(), 1);
  EXPECT_EQ(code->title(), "Code");
  ns::LogCapture log(true);
  edit("Trip", 36, "\r");
  EXPECT_EQ(ended.count(), 1);
  EXPECT_EQ(cancelled.count(), 1);
  EXPECT_EQ(code->title(), "Trip");
  EXPECT_TRUE(log.contains("RENAME PLAYLIST: Code --> Trip"));
  ASSERT_TRUE(pltest::pumpUntil([&] { return !f.api.callsOf("youtube.playlists.update").empty(); }));
  f.app.dispatchQueued();
  EXPECT_EQ(f.api.callsOf("youtube.playlists.update").size(), 1u);
  ASSERT_TRUE(pltest::pumpUntil([&] { return f.menu->getOriginalTitleForPlaylist("PLcode") == "Trip"; }, 30));

  // Clicking elsewhere ends an edit as a cancel: the account's title comes back. (The playlists
  // were refilled after the rename: the row has a new node.)
  code = f.menu->playlistsItem()->children().at(0);
  channel = f.menu->subscriptionsItem()->children().at(0);
  ASSERT_EQ(outline->selectedRow(), outline->rowForItem(code));
  pltest::click(f.window, titlePoint());
  f.app.dispatchQueued();
  ASSERT_NE(cellOf(code)->titleTextField()->currentEditor(), nullptr);
  pltest::typeText(f.window, "Zzz");
  auto channelCell = cellOf(channel);
  pltest::click(f.window,
                channelCell->convertPoint_toView({60, channelCell->bounds().size.height / 2}, nullptr));
  f.app.dispatchQueued();
  EXPECT_EQ(cancelled.count(), 2);
  EXPECT_EQ(ended.count(), 1);
  EXPECT_EQ(code->title(), "Trip");
  EXPECT_EQ(f.api.callsOf("youtube.playlists.update").size(), 1u);
}

TEST(PlaylistForms, DeletingAPlaylistAndUnsubscribingReachTheService) {
  FormFixture f;
  f.api.seed("playlists", {R"({"kind": "youtube#playlist", "id": "PLcode", "snippet": {"title": "Code"}})"});
  f.api.seed("subscriptions",
             {R"({"kind": "youtube#subscription", "id": "SUB1", "snippet": {"title": "Channel",
                 "resourceId": {"kind": "youtube#channel", "channelId": "UCchan"}}})"});
  f.account->playlistsArray() = {ns::Value(ns::Array{"PLcode", "Code", 3})};
  f.account->subscriptionsArray() = {ns::Value(ns::Array{"UUchan", "Channel", "SUB1", 0, 4})};
  f.menu->updatePlaylists();
  f.menu->updateSubscriptions();
  auto rowPoint = [&](const ns::Ref<MenuItem>& node) {
    ak::Rect rect = f.menu->sourceList()->rectOfRow(f.menu->sourceList()->rowForItem(node));
    return f.menu->sourceList()->convertPoint_toView({40, rect.origin.y + rect.size.height / 2}, nullptr);
  };
  {
    pltest::ModalScript script;
    script.choose("Delete").clickAlertButton("Delete");
    pltest::rightClick(f.window, rowPoint(f.menu->playlistsItem()->children().at(0)));
    f.app.dispatchQueued();
    ASSERT_TRUE(pltest::pumpUntil([&] { return !f.menu->playlistsItem()->hasChildren(); }));
  }
  auto deletes = f.api.callsOf("youtube.playlists.delete");
  ASSERT_EQ(deletes.size(), 1u);
  EXPECT_EQ(deletes[0].params["id"], ns::Value("PLcode"));
  {
    pltest::ModalScript script;
    script.choose("Unsubscribe");
    pltest::rightClick(f.window, rowPoint(f.menu->subscriptionsItem()->children().at(0)));
    f.app.dispatchQueued();
  }
  ASSERT_TRUE(pltest::pumpUntil([&] { return !f.api.callsOf("youtube.subscriptions.delete").empty(); }));
}

}  // namespace
