#include "platform/testing/ui/ModalScript.h"

#include <gtest/gtest.h>

#include "platform/testing/ui/HeadlessApp.h"

namespace pltest {

namespace {

ShownMenuItem record(const ak::MenuItem& item) {
  ShownMenuItem shown;
  shown.title = item.title();
  shown.separator = item.isSeparatorItem();
  shown.enabled = item.isEnabled();
  shown.state = item.state();
  shown.tag = item.tag();
  shown.representedObject = item.representedObject();
  if (auto sub = item.submenu()) {
    for (const auto& child : sub->itemArray()) shown.submenu.push_back(record(*child));
  }
  return shown;
}

void describeItems(const std::vector<ShownMenuItem>& items, const std::string& indent, std::string& out) {
  for (const auto& item : items) {
    out += indent;
    if (item.separator) {
      out += "-\n";
      continue;
    }
    if (item.state == 1) out += "[x] ";
    if (item.state == -1) out += "[-] ";
    out += item.title;
    if (!item.enabled) out += " (disabled)";
    if (!item.representedObject.isNil()) out += " {" + item.representedObject.description() + "}";
    out += "\n";
    describeItems(item.submenu, indent + "  ", out);
  }
}

std::vector<std::string> split(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    auto slash = path.find('/', start);
    parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return parts;
}

}  // namespace

std::string ShownMenu::describe() const {
  std::string out;
  describeItems(items, "", out);
  return out;
}

std::string ShownAlert::describe() const {
  std::string out = "message: " + messageText + "\ninformative: " + informativeText +
                    "\nstyle: " + std::to_string(static_cast<unsigned long>(style)) + "\nbuttons:";
  for (const auto& b : buttons) out += " [" + b + "]";
  return out + (sheet ? "\nas a sheet" : "\napplication-modal");
}

ModalScript::ModalScript() {
  ak::Menu::setAnswerer([this](const ak::MenuPresentation& p) { return answer(p); });
  ak::Alert::setAnswerer([this](const ns::Ref<ak::Alert>& a) { return answerAlert(a); });
  ak::SavePanel::setAnswerer([this](const ns::Ref<ak::SavePanel>& p, const std::string& refusal) {
    return answerPanel(p, refusal);
  });
}

ModalScript::~ModalScript() {
  ak::Menu::setAnswerer(nullptr);
  ak::Alert::setAnswerer(nullptr);
  ak::SavePanel::setAnswerer(nullptr);
  EXPECT_TRUE(panelAnswers_.empty()) << panelAnswers_.size() << " scripted panel answer(s) were never used";
  EXPECT_TRUE(answers_.empty()) << answers_.size() << " scripted menu answer(s) were never used";
  EXPECT_TRUE(alertAnswers_.empty()) << alertAnswers_.size() << " scripted alert answer(s) were never used";
}

std::string ShownPanel::describe() const {
  std::string out = open ? "open panel" : "save panel";
  if (!message.empty()) out += "\nmessage: " + message;
  if (!nameFieldStringValue.empty()) out += "\nname: " + nameFieldStringValue;
  out += "\nfolder: " + directory;
  for (const auto& r : refusals) out += "\nrefused: " + r;
  return out;
}

ModalScript& ModalScript::choosePaths(const std::vector<std::string>& paths) {
  ak::PanelAnswer a;
  a.ok = true;
  a.paths = paths;
  panelAnswers_.push_back(a);
  return *this;
}

ModalScript& ModalScript::saveAs(const std::string& folder, const std::string& name, bool confirmReplace) {
  ak::PanelAnswer a;
  a.ok = true;
  a.folder = folder;
  a.name = name;
  a.confirmReplace = confirmReplace;
  panelAnswers_.push_back(a);
  return *this;
}

ModalScript& ModalScript::cancelPanel() {
  panelAnswers_.push_back(ak::PanelAnswer{});
  return *this;
}

std::optional<ak::PanelAnswer> ModalScript::answerPanel(const ns::Ref<ak::SavePanel>& panel,
                                                        const std::string& refusal) {
  if (refusal.empty()) {
    ShownPanel shown;
    shown.open = panel->isOpenPanel();
    shown.message = panel->message();
    shown.nameFieldStringValue = panel->nameFieldStringValue();
    if (auto dir = panel->directoryURL()) shown.directory = dir->path();
    shown.allowedFileTypes = panel->allowedFileTypes();
    shownPanels_.push_back(shown);
  } else if (!shownPanels_.empty()) {
    shownPanels_.back().refusals.push_back(refusal);
  }
  if (panelAnswers_.empty()) {
    ADD_FAILURE() << "a file panel was shown with no scripted answer:\n"
                  << (shownPanels_.empty() ? std::string() : shownPanels_.back().describe());
    return std::nullopt;
  }
  auto a = std::move(panelAnswers_.front());
  panelAnswers_.pop_front();
  return a;
}

ModalScript& ModalScript::clickAlertButton(const std::string& title, std::function<void()> whileOpen) {
  alertAnswers_.push_back({AlertAnswer::Kind::Title, title, 0, std::move(whileOpen)});
  return *this;
}

ModalScript& ModalScript::alertCode(long code, std::function<void()> whileOpen) {
  alertAnswers_.push_back({AlertAnswer::Kind::Code, {}, code, std::move(whileOpen)});
  return *this;
}

ModalScript& ModalScript::pressInAlert(const std::string& characters, std::function<void()> whileOpen) {
  alertAnswers_.push_back({AlertAnswer::Kind::Key, characters, 0, std::move(whileOpen)});
  return *this;
}

ModalScript& ModalScript::leaveAlertOpen(std::function<void()> whileOpen) {
  alertAnswers_.push_back({AlertAnswer::Kind::Open, {}, 0, std::move(whileOpen)});
  return *this;
}

bool ModalScript::answerAlert(const ns::Ref<ak::Alert>& alert) {
  auto window = alert->window();
  ShownAlert shown;
  shown.messageText = alert->messageText();
  shown.informativeText = alert->informativeText();
  shown.style = alert->alertStyle();
  for (const auto& b : alert->buttons()) shown.buttons.push_back(b->title());
  shown.sheet = alert->isSheet();
  shown.level = window->level();
  shownAlerts_.push_back(shown);
  if (alertAnswers_.empty()) {
    ADD_FAILURE() << "an alert was shown with no scripted answer:\n" << shown.describe();
    return false;
  }
  AlertAnswer a = std::move(alertAnswers_.front());
  alertAnswers_.pop_front();
  if (a.whileOpen) a.whileOpen();
  ns::Ref<ak::Button> button;
  switch (a.kind) {
    case AlertAnswer::Kind::Open:
      return true;
    case AlertAnswer::Kind::Key: {
      const unsigned short code = a.text == "\r" ? 36 : a.text == "\x1b" ? 53 : 0;
      key(window, code, a.text);
      return true;
    }
    case AlertAnswer::Kind::Title:
      for (const auto& b : alert->buttons()) {
        if (b->title() == a.text) button = b;
      }
      break;
    case AlertAnswer::Kind::Code: {
      const long index = a.code - ak::AlertFirstButtonReturn;
      if (index >= 0 && index < static_cast<long>(alert->buttons().size())) button = alert->buttons()[index];
      break;
    }
  }
  if (!button) {
    ADD_FAILURE() << "the scripted alert answer matches no button; the alert:\n" << shown.describe();
    return false;
  }
  const ak::Rect f = button->bounds();
  click(window, button->convertPoint_toView(ak::MakePoint(f.size.width / 2, f.size.height / 2), nullptr));
  return true;
}

ModalScript& ModalScript::choose(const std::string& titlePath, std::function<void()> whileOpen) {
  answers_.push_back({Answer::Kind::Title, titlePath, 0, std::move(whileOpen)});
  return *this;
}

ModalScript& ModalScript::chooseTag(long tag, std::function<void()> whileOpen) {
  answers_.push_back({Answer::Kind::Tag, {}, tag, std::move(whileOpen)});
  return *this;
}

ModalScript& ModalScript::chooseIndex(long index, std::function<void()> whileOpen) {
  answers_.push_back({Answer::Kind::Index, {}, index, std::move(whileOpen)});
  return *this;
}

ModalScript& ModalScript::dismiss(std::function<void()> whileOpen) {
  answers_.push_back({Answer::Kind::Dismiss, {}, 0, std::move(whileOpen)});
  return *this;
}

ns::Ref<ak::MenuItem> ModalScript::answer(const ak::MenuPresentation& presentation) {
  ShownMenu shown;
  shown.kind = presentation.kind;
  if (presentation.menu) {
    shown.title = presentation.menu->title();
    for (const auto& item : presentation.menu->itemArray()) shown.items.push_back(record(*item));
  }
  shown_.push_back(shown);
  if (answers_.empty()) {
    ADD_FAILURE() << "a menu was shown with no scripted answer; its items:\n" << shown.describe();
    return nullptr;
  }
  Answer a = std::move(answers_.front());
  answers_.pop_front();
  if (a.whileOpen) a.whileOpen();
  if (a.kind == Answer::Kind::Dismiss || !presentation.menu) return nullptr;
  ns::Ref<ak::MenuItem> item;
  switch (a.kind) {
    case Answer::Kind::Tag:
      item = presentation.menu->itemWithTag(a.number);
      break;
    case Answer::Kind::Index:
      if (a.number >= 0 && a.number < presentation.menu->numberOfItems()) {
        item = presentation.menu->itemAtIndex(a.number);
      }
      break;
    case Answer::Kind::Title: {
      auto menu = presentation.menu;
      for (const auto& part : split(a.title)) {
        item = menu ? menu->itemWithTitle(part) : nullptr;
        if (!item) break;
        menu = item->submenu();
      }
      break;
    }
    case Answer::Kind::Dismiss:
      break;
  }
  if (!item) {
    ADD_FAILURE() << "the scripted menu answer matches no item; the menu:\n" << shown.describe();
    return nullptr;
  }
  if (!item->isEnabled()) {
    ADD_FAILURE() << "the scripted answer \"" << item->title() << "\" is disabled; the menu:\n"
                  << shown.describe();
    return nullptr;
  }
  return item;
}

}  // namespace pltest
