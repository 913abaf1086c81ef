#include "app/shell/DownloadQualitySheet.h"

#include "app/cache/CacheServer.h"
#include "common/IMainWindowController.h"
#include "platform/appkit/Alert.h"
#include "ui/AlertBlocks.h"

namespace {

void setShowingAlert(bool showing) {
  if (auto controller = mainWindowController()) controller->setShowingAlert(showing);
}

void showQualitySheet(const std::string& title, const std::vector<std::string>& choices,
                      std::function<void(std::optional<std::size_t>)> answer) {
  auto controller = mainWindowController();
  setShowingAlert(true);
  AlertBlocks::
      showSheetModalForWindow_message_informativeText_alertStyle_cancelButtonTitle_otherButtonTitles_onDismiss_onCancel(
          controller ? controller->getCurrentWindow() : nullptr, "Select Video Quality for Download.", title,
          static_cast<unsigned long>(ak::AlertStyle::Informational), std::string("Cancel"), choices,
          [answer](int index) {
            setShowingAlert(false);
            if (index >= 0) answer(static_cast<std::size_t>(index));
          },
          [answer] {
            setShowingAlert(false);
            answer(std::nullopt);
          });
}

}  // namespace

void installDownloadQualitySheet() {
  setDownloadQualityQuestion(showQualitySheet);
}
