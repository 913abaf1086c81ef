#include "ui/AlertBlocks.h"

#include <map>
#include <memory>

#include "common/IMainWindowController.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/runtime/ClassBuilder.h"

namespace {

// What one sheet runs when it ends. The entry also keeps its alert alive until then.
struct SheetBlocks {
  ns::Ref<ak::Alert> alert;
  AlertBlocks::DismissBlock dismiss;
  AlertBlocks::CancelBlock cancel;
  bool hasCancel = false;
};

// The sheets begun and not yet ended, by alert (main thread only).
std::map<const ak::Alert*, std::unique_ptr<SheetBlocks>>& pendingSheets() {
  static ns::NoDestructor<std::map<const ak::Alert*, std::unique_ptr<SheetBlocks>>> sheets;
  return *sheets;
}

constexpr char kDidEndSelector[] = "alertDidEnd:returnCode:contextInfo:";

void classAlertDidEnd(ns::Class, ns::Sel, ns::Ref<ak::Alert> alert, long returnCode, void* contextInfo) {
  AlertBlocks::alertDidEnd_returnCode_contextInfo(alert, returnCode, contextInfo);
}

}  // namespace

ns::Ref<ak::Alert> AlertBlocks::
    showSheetModalForWindow_message_informativeText_alertStyle_cancelButtonTitle_otherButtonTitles_onDismiss_onCancel(
        const ns::Ref<ak::Window>& window, const std::string& message, const std::string& informativeText,
        unsigned long alertStyle, const std::optional<std::string>& cancelButtonTitle,
        const std::vector<std::string>& otherButtonTitles, DismissBlock onDismiss, CancelBlock onCancel) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  auto blocks = std::make_unique<SheetBlocks>();
  blocks->dismiss = std::move(onDismiss);
  blocks->cancel = std::move(onCancel);

  auto alert = ns::make<ak::Alert>();
  alert->setMessageText(message);
  alert->setInformativeText(informativeText);
  alert->setAlertStyle(static_cast<ak::AlertStyle>(alertStyle));
  if (auto controller = mainWindowController(); controller && controller->isFullScreen()) {
    // Above the full-screen window; the sheet orders it in front when it shows.
    alert->window()->setLevel(ak::CGWindowLevelForKey(13));
  }
  for (const auto& title : otherButtonTitles) alert->addButtonWithTitle(title);
  if (cancelButtonTitle) {
    blocks->hasCancel = true;
    alert->addButtonWithTitle(*cancelButtonTitle);
  }
  blocks->alert = alert;
  void* context = blocks.get();
  pendingSheets()[alert.get()] = std::move(blocks);
  alert->beginSheetModalForWindow_modalDelegate_didEndSelector_contextInfo(
      window, std::static_pointer_cast<ns::Object>(ns::objc_getClass("NSAlert")->shared_from_this()),
      ns::Sel(kDidEndSelector), context);
  return alert;
}

void AlertBlocks::alertDidEnd_returnCode_contextInfo(const ns::Ref<ak::Alert>& alert, long returnCode,
                                                     void* contextInfo) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  if (!alert) return;
  auto& sheets = pendingSheets();
  auto found = sheets.find(alert.get());
  // Only the sheet this alert was begun with answers; anything else is not ours.
  if (found == sheets.end() || found->second.get() != contextInfo) return;
  std::unique_ptr<SheetBlocks> blocks = std::move(found->second);
  sheets.erase(found);
  const long buttons = static_cast<long>(alert->buttons().size());
  if (blocks->hasCancel && returnCode - 999 == buttons) {
    if (blocks->cancel) blocks->cancel();
  } else if (blocks->dismiss) {
    blocks->dismiss(static_cast<int>(returnCode - 1000));
  }
}

// The alert class answers the end selector itself, as a category adds it, so that the class
// object can be the sheets' modal delegate.
PL_CLASS(AlertBlocks, ns::Object) {
  cls.load([] {
    ns::Class alertClass = ns::objc_getClass("NSAlert");
    if (!alertClass) return;
    ns::class_addClassMethod(alertClass, ns::Sel(kDidEndSelector), ns::imp<&classAlertDidEnd>(),
                             ns::impTypes<&classAlertDidEnd>());
  });
}
