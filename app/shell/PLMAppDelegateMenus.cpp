// The application delegate's part of the main menu: what its items do and when they are on.
#include "app/browse/LeftViewController.h"
#include "app/browse/PelNavigationController.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/player/PlayerViewController.h"
#include "app/shell/LogoutConfirmation.h"
#include "app/shell/PLMAppDelegate.h"
#include "common/IMainWindowController.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/Window.h"

namespace {

ns::Ref<LeftViewController> leftPane() {
  auto main = ::mainWindowController();
  return main ? main->leftViewController() : nullptr;
}

ns::Ref<PlayerViewController> player() {
  return std::dynamic_pointer_cast<PlayerViewController>(playerViewController());
}

// The key window's first responder is a field editor: Command-arrows move in its text.
bool editingText() {
  auto window = ak::Application::sharedApplication()->keyWindow();
  auto editor = window ? std::dynamic_pointer_cast<ak::TextView>(window->firstResponder()) : nullptr;
  return editor && editor->isFieldEditor();
}

}  // namespace

bool PLMAppDelegate::validateMenuItem(const ns::Ref<ak::MenuItem>& item) {
  if (!item) return false;
  const ns::Sel action = item->action();
  static const ns::Sel back("onBackBtn:"), forward("onForwardBtn:"), current("onCurrentPlaylistBtn:"),
      seekForward("onShortSeekForward:"), seekBack("onShortSeekBack:"), login("onLogin:"),
      logout("onLogout:"), exportBookmarks("onExportBookmarks:"), importBookmarks("onImportBookmarks:");
  const bool own = action == back || action == forward || action == current || action == seekForward ||
                   action == seekBack || action == login || action == logout || action == exportBookmarks ||
                   action == importBookmarks;
  // Quit reaches the delegate at the end of the chain too: it is always on.
  if (!own) return true;
  auto main = ::mainWindowController();
  if (main && main->showingAlert()) return false;
  if (action == seekForward || action == seekBack) {
    auto playerController = player();
    return shortSeekEnabled_ && playerController && playerController->videoId().has_value() && !editingText();
  }
  if (action == login) return main && !main->isSignedIn();
  if (action == logout) return main && main->isSignedIn();
  if (action == back || action == forward) {
    auto left = leftPane();
    auto navigation = left ? left->navigationController() : nullptr;
    if (!navigation) return false;
    return action == back ? navigation->canGoBack() : navigation->canGoForward();
  }
  if (action == current) return currentPlaylistController() != nullptr && leftPane() != nullptr;
  return main != nullptr;
}

void PLMAppDelegate::onBackBtn(const ns::Ref<ns::Object>& sender) {
  if (auto left = leftPane()) left->onBackBtn(sender);
}

void PLMAppDelegate::onForwardBtn(const ns::Ref<ns::Object>& sender) {
  if (auto left = leftPane()) left->onForwardBtn(sender);
}

void PLMAppDelegate::onCurrentPlaylistBtn(const ns::Ref<ns::Object>& sender) {
  if (auto left = leftPane()) left->onCurrentPlaylistBtn(sender);
}

void PLMAppDelegate::onShortSeekForward(const ns::Ref<ns::Object>&) {
  if (auto playerController = player(); playerController && playerController->videoId())
    playerController->shortSeekForward();
}

void PLMAppDelegate::onShortSeekBack(const ns::Ref<ns::Object>&) {
  if (auto playerController = player(); playerController && playerController->videoId())
    playerController->shortSeekBack();
}

void PLMAppDelegate::onLogin(const ns::Ref<ns::Object>&) {
  auto main = ::mainWindowController();
  if (main && !main->isSignedIn()) main->signInClicked(nullptr);
}

void PLMAppDelegate::onLogout(const ns::Ref<ns::Object>&) {
  auto main = ::mainWindowController();
  if (main && main->isSignedIn()) confirmLogout(main);
}
