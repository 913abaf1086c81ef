#include "platform/testing/ui/ModalScript.h"

#include <gtest/gtest.h>

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

ModalScript::ModalScript() {
  ak::Menu::setAnswerer([this](const ak::MenuPresentation& p) { return answer(p); });
}

ModalScript::~ModalScript() {
  ak::Menu::setAnswerer(nullptr);
  EXPECT_TRUE(answers_.empty()) << answers_.size() << " scripted menu answer(s) were never used";
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
