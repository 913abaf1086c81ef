#include "app/shell/RenameVideoSheet.h"

#include <algorithm>

#include "app/library/AccountCache.h"
#include "app/youtube/SearchEntry.h"
#include "common/IMainWindowController.h"
#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"

PL_CLASS(RenameVideoSheet, ak::WindowController) {
  cls.method<&RenameVideoSheet::onRename>("onRename:");
  cls.method<&RenameVideoSheet::onCancel>("onCancel:");
  cls.method<&RenameVideoSheet::controlTextDidChange>("controlTextDidChange:");
}

namespace {

constexpr double kWidth = 420, kHeight = 118;
constexpr double kButtonWidth = 96, kButtonHeight = 28, kMargin = 18;

bool isSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

std::string cleanVideoTitle(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f) {
      out.push_back(' ');
    } else if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      // The C1 controls, two bytes in UTF-8.
      out.push_back(' ');
      ++i;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  std::size_t begin = 0, end = out.size();
  while (begin < end && isSpace(static_cast<unsigned char>(out[begin]))) ++begin;
  while (end > begin && isSpace(static_cast<unsigned char>(out[end - 1]))) --end;
  return out.substr(begin, end - begin);
}

RenameVideoSheet::~RenameVideoSheet() {
  ns::NotificationCenter::defaultCenter()->removeObserver(this);
}

ns::Ref<RenameVideoSheet> RenameVideoSheet::beginForRow(const ns::Ref<IMainWindowController>& controller,
                                                        const ns::Ref<SearchEntry>& row,
                                                        std::function<void()> ended) {
  if (!controller || !row || !row->videoid() || row->videoid()->empty()) return nullptr;
  auto parent = controller->getCurrentWindow();
  if (!parent || parent->isClosed() || parent->attachedSheet()) return nullptr;
  auto sheet = ns::make<RenameVideoSheet>();
  sheet->controller_ = controller;
  sheet->videoId_ = *row->videoid();
  sheet->oldTitle_ = row->title();
  sheet->parent_ = parent;
  sheet->ended_ = std::move(ended);
  sheet->build();
  // Over a full-screen window the sheet must sit at its level to show above it.
  if (controller->isFullScreen())
    sheet->window()->setLevel(std::max(parent->level(), sheet->window()->level()));

  auto center = ns::NotificationCenter::defaultCenter();
  center->addObserver_selector_name_object(sheet.get(), &RenameVideoSheet::endUnanswered,
                                           std::string(ak::WindowWillCloseNotification), parent);
  center->addObserver_selector_name_object(sheet.get(), &RenameVideoSheet::endUnanswered,
                                           std::string(ak::ApplicationWillTerminateNotification), nullptr);
  sheet->open_ = true;
  controller->setShowingAlert(true);
  ak::Application::sharedApplication()->beginSheet_modalForWindow_modalDelegate_didEndSelector_contextInfo(
      sheet->window(), parent, nullptr, ns::Sel(), nullptr);
  // The old title, selected, ready to be typed over.
  sheet->titleField_->selectText(nullptr);
  return sheet;
}

void RenameVideoSheet::build() {
  auto window = ak::make<ak::Window>(ak::MakeRect(0, 0, kWidth, kHeight), ak::TitledWindowMask);
  window->setReleasedWhenClosed(false);
  window->setTitle("Rename Video");
  auto content = window->contentView();

  auto label = ak::make<ak::TextField>(ak::MakeRect(kMargin, kHeight - 34, kWidth - 2 * kMargin, 18));
  label->setEditable(false);
  label->setSelectable(false);
  label->setBezeled(false);
  label->setDrawsBackground(false);
  label->setStringValue("Rename Video");
  content->addSubview(label);

  titleField_ = ak::make<ak::TextField>(ak::MakeRect(kMargin, kHeight - 64, kWidth - 2 * kMargin, 24));
  titleField_->setEditable(true);
  titleField_->setStringValue(oldTitle_);
  titleField_->setDelegate(shared_from_this());
  content->addSubview(titleField_);

  cancelButton_ = ak::make<ak::Button>(
      ak::MakeRect(kWidth - kMargin - 2 * kButtonWidth - 8, 12, kButtonWidth, kButtonHeight));
  cancelButton_->setTitle("Cancel");
  cancelButton_->setKeyEquivalent("\x1b");
  cancelButton_->setTarget(shared_from_this());
  cancelButton_->setAction(ns::Sel("onCancel:"));
  content->addSubview(cancelButton_);

  renameButton_ =
      ak::make<ak::Button>(ak::MakeRect(kWidth - kMargin - kButtonWidth, 12, kButtonWidth, kButtonHeight));
  renameButton_->setTitle("Rename");
  renameButton_->setKeyEquivalent("\r");
  renameButton_->setTarget(shared_from_this());
  renameButton_->setAction(ns::Sel("onRename:"));
  renameButton_->setEnabled(!cleanVideoTitle(oldTitle_).empty());
  content->addSubview(renameButton_);

  window->setInitialFirstResponder(titleField_);
  setWindow(window);
}

void RenameVideoSheet::controlTextDidChange(const ns::Ref<ns::Notification>&) {
  if (renameButton_ && titleField_)
    renameButton_->setEnabled(!cleanVideoTitle(titleField_->stringValue()).empty());
}

void RenameVideoSheet::onRename(const ns::Ref<ns::Object>&) {
  finish(true);
}

void RenameVideoSheet::onCancel(const ns::Ref<ns::Object>&) {
  finish(false);
}

void RenameVideoSheet::endUnanswered(const ns::Ref<ns::Notification>&) {
  finish(false);
}

void RenameVideoSheet::finish(bool rename) {
  if (!open_) return;
  auto keep = self<RenameVideoSheet>();
  open_ = false;
  ns::NotificationCenter::defaultCenter()->removeObserver(this);
  std::string title;
  if (titleField_) {
    titleField_->validateEditing();
    title = cleanVideoTitle(titleField_->stringValue());
  }
  auto sheetWindow = window();
  auto app = ak::Application::sharedApplication();
  if (sheetWindow) {
    if (parent_ && parent_->attachedSheet() == sheetWindow)
      app->endSheet_returnCode(sheetWindow, rename ? 1 : 0);
    sheetWindow->orderOut(nullptr);
  }
  auto controller = controller_.lock();
  if (controller) controller->setShowingAlert(false);
  if (rename && controller && !title.empty() && title != oldTitle_) {
    // Signed out meanwhile: no account to rename it in.
    if (auto cache = controller->accountCache()) {
      cache->renameVideo_toTitle(videoId_, title);
    } else {
      ns::Log("RenameVideoSheet: signed out, the video keeps its title");
    }
  }
  if (auto ended = std::move(ended_)) ended();
}
