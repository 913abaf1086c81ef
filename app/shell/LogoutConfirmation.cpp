#include "app/shell/LogoutConfirmation.h"

#include <string>

#include "app/library/AccountSession.h"
#include "common/IMainWindowController.h"
#include "lib/google/ApiServiceYouTube.h"
#include "lib/google/NetFetcherAuthorizationProtocol.h"
#include "ui/AlertBlocks.h"

namespace {

std::string signedInEmail() {
  auto service = AccountSession::youTubeService();
  auto authorizer = service ? service->authorizer() : nullptr;
  return authorizer ? authorizer->userEmail().value_or("") : std::string();
}

}  // namespace

bool confirmLogout(const ns::Ref<IMainWindowController>& main) {
  auto window = main ? main->getCurrentWindow() : nullptr;
  if (!window) return false;
  ns::Weak<IMainWindowController> weak = main;
  main->setShowingAlert(true);
  auto alert = AlertBlocks::
      showSheetModalForWindow_message_informativeText_alertStyle_cancelButtonTitle_otherButtonTitles_onDismiss_onCancel(
          window, kLogoutQuestion, signedInEmail(), 1, std::string(kLogoutCancelTitle), {kLogoutButtonTitle},
          [weak](int index) {
            auto controller = weak.lock();
            if (!controller) return;
            controller->setShowingAlert(false);
            // Only the button itself signs out; a sheet ended any other way (aborted with its
            // window, say) is no answer.
            if (index == 0) controller->signInClicked(nullptr);
          },
          [weak] {
            if (auto controller = weak.lock()) controller->setShowingAlert(false);
          });
  if (!alert) {
    main->setShowingAlert(false);
    return false;
  }
  return true;
}
