#include "platform/system/FileViewer.h"

#include <optional>

#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/system/Opener.h"
#include "platform/system/SessionBus.h"
#include "platform/system/SystemServiceSettings.h"

namespace sys {
namespace {

ns::Ref<dispatch::Queue> revealQueue() {
  static ns::NoDestructor<ns::Ref<dispatch::Queue>> queue(
      dispatch::queueCreate("com.ordel42.zeravozezi.fileviewer"));
  return *queue;
}

}  // namespace

void revealInFileViewer(std::vector<std::string> fileURIs, std::vector<std::string> folders,
                        std::function<void(RevealOutcome)> done) {
  std::optional<std::string> address = sessionBusAddress();
  std::optional<std::string> opener = resolveOpener();
  double timeout = sessionBusCallTimeout();
  double window = openerFailureWindow();
  auto environment = environmentSnapshot();
  dispatch::async(revealQueue(), [fileURIs = std::move(fileURIs), folders = std::move(folders),
                                  done = std::move(done), address, opener, timeout, window, environment] {
    RevealOutcome outcome = RevealOutcome::Failed;
    ns::Error error;
    if (address && !fileURIs.empty() && showItemsInFileManager(*address, fileURIs, timeout, &error)) {
      outcome = RevealOutcome::FileManager;
    } else if (opener && !folders.empty()) {
      outcome = RevealOutcome::Opener;
      for (const auto& folder : folders) {
        if (!runOpener(*opener, folder, window, &error, environment)) outcome = RevealOutcome::Failed;
      }
    }
    if (outcome == RevealOutcome::Failed) ns::LogWarning("cannot show files in the file manager: %@", error);
    if (done) dispatch::async(dispatch::mainQueue(), [done, outcome] { done(outcome); });
  });
}

}  // namespace sys
