#pragma once
// Scripted answers to menus (context menus, pop-up menus, pop-up cells) and alerts shown while it
// lives.
//
//   pltest::ModalScript script;
//   script.choose("Add to.../Favorites");     // the next menu: that item, through a submenu
//   script.chooseTag(7);  script.chooseIndex(2);  script.dismiss();
//   ... show a menu ...
//   EXPECT_EQ(script.shown().at(0).describe(), "Open\n-\n[x] Copy Link\n...");
//
// Each shown menu is recorded (titles, states, enabled flags, represented objects, submenus).
// A menu shown with no answer queued fails the test naming its items and is dismissed: it never
// hangs. An answer's `whileOpen` runs inside the menu's tracking loop.
//
//   script.clickAlertButton("Keep");   script.alertCode(1002);   script.pressInAlert("\r");
//   script.leaveAlertOpen();           // something else (a timer, the test) ends it
//   EXPECT_EQ(script.shownAlerts().at(0).messageText, "Delete the playlist?");
//
// An alert is answered as a person would: a click on its button or a key, posted to its window
// and run by its modal loop (for a sheet, by the test dispatching the queue). An alert shown
// with no answer queued fails the test with what it showed and ends as aborted.
//
//   script.saveAs(folder, "bookmarks.json");  script.choosePaths({file});  script.cancelPanel();
//
// A panel that refuses an answer asks for the next one (recorded in `refusals`).
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/Alert.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/SavePanel.h"
#include "platform/core/Value.h"

namespace pltest {

struct ShownMenuItem {
  std::string title;
  bool separator = false;
  bool enabled = false;
  long state = 0;
  long tag = 0;
  ns::Value representedObject;
  std::vector<ShownMenuItem> submenu;
};

struct ShownMenu {
  ak::MenuPresentation::Kind kind = ak::MenuPresentation::Kind::Context;
  std::string title;
  std::vector<ShownMenuItem> items;
  // One line per item: "-" for a separator, "[x]"/"[-]" for on/mixed, "(disabled)" after a
  // disabled title, " {object}" for a represented object, and submenus indented by two spaces.
  std::string describe() const;
};

struct ShownAlert {
  std::string messageText;
  std::string informativeText;
  ak::AlertStyle style = ak::AlertStyle::Warning;
  std::vector<std::string> buttons;
  bool sheet = false;
  long level = 0;
  std::string describe() const;
};

struct ShownPanel {
  bool open = false;
  std::string message;
  std::string nameFieldStringValue;
  std::string directory;  // the preset folder's path, "" without one
  std::vector<std::string> allowedFileTypes;
  std::vector<std::string> refusals;  // why answers were refused, in order
  std::string describe() const;
};

class ModalScript {
 public:
  ModalScript();
  ~ModalScript();
  ModalScript(const ModalScript&) = delete;
  ModalScript& operator=(const ModalScript&) = delete;

  // Queue the answer to the next menu shown.
  ModalScript& choose(const std::string& titlePath, std::function<void()> whileOpen = {});
  ModalScript& chooseTag(long tag, std::function<void()> whileOpen = {});
  ModalScript& chooseIndex(long index, std::function<void()> whileOpen = {});
  ModalScript& dismiss(std::function<void()> whileOpen = {});

  const std::vector<ShownMenu>& shown() const { return shown_; }
  std::size_t pendingAnswers() const { return answers_.size() + alertAnswers_.size(); }

  // Queue the answer to the next alert shown: a click on the button with that title or code, a
  // key ("\r" Return, "\x1b" Escape), or nothing at all. `whileOpen` runs once the alert shows.
  ModalScript& clickAlertButton(const std::string& title, std::function<void()> whileOpen = {});
  ModalScript& alertCode(long code, std::function<void()> whileOpen = {});
  ModalScript& pressInAlert(const std::string& characters, std::function<void()> whileOpen = {});
  ModalScript& leaveAlertOpen(std::function<void()> whileOpen = {});
  const std::vector<ShownAlert>& shownAlerts() const { return shownAlerts_; }

  // Queue the answer to the next open or save panel (or to a refused answer's retry).
  ModalScript& choosePaths(const std::vector<std::string>& paths);
  ModalScript& saveAs(const std::string& folder, const std::string& name, bool confirmReplace = true);
  ModalScript& cancelPanel();
  const std::vector<ShownPanel>& shownPanels() const { return shownPanels_; }

 private:
  struct Answer {
    enum class Kind { Title, Tag, Index, Dismiss } kind = Kind::Dismiss;
    std::string title;
    long number = 0;
    std::function<void()> whileOpen;
  };
  struct AlertAnswer {
    enum class Kind { Title, Code, Key, Open } kind = Kind::Open;
    std::string text;
    long code = 0;
    std::function<void()> whileOpen;
  };
  ns::Ref<ak::MenuItem> answer(const ak::MenuPresentation& presentation);
  bool answerAlert(const ns::Ref<ak::Alert>& alert);
  std::optional<ak::PanelAnswer> answerPanel(const ns::Ref<ak::SavePanel>& panel, const std::string& refusal);

  std::deque<Answer> answers_;
  std::vector<ShownMenu> shown_;
  std::deque<AlertAnswer> alertAnswers_;
  std::vector<ShownAlert> shownAlerts_;
  std::deque<ak::PanelAnswer> panelAnswers_;
  std::vector<ShownPanel> shownPanels_;
};

}  // namespace pltest
