#pragma once
// Alert sheets that report how they ended to closures instead of a delegate. The closures of a
// sheet stay with its alert until that sheet ends, so a second sheet queued on the same window
// never ends the first with its own closures.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/Alert.h"
#include "platform/core/Object.h"

struct AlertBlocks : ns::Object {
  // Runs with the index of the button that ended the sheet among the other buttons (0 first).
  using DismissBlock = std::function<void(int)>;
  using CancelBlock = std::function<void()>;

  // Shows an alert as a sheet on `window`: one button per other title in order, then the
  // cancel button when a cancel title is given. A nil closure runs nothing. While the main
  // window controller is in full screen the alert's window sits at the highest window level.
  static ns::Ref<ak::Alert>
  showSheetModalForWindow_message_informativeText_alertStyle_cancelButtonTitle_otherButtonTitles_onDismiss_onCancel(
      const ns::Ref<ak::Window>& window, const std::string& message, const std::string& informativeText,
      unsigned long alertStyle, const std::optional<std::string>& cancelButtonTitle,
      const std::vector<std::string>& otherButtonTitles, DismissBlock onDismiss, CancelBlock onCancel);

  // The end selector of those sheets (the alert class answers it as a class method): maps the
  // return code to the sheet's closures.
  static void alertDidEnd_returnCode_contextInfo(const ns::Ref<ak::Alert>& alert, long returnCode,
                                                 void* contextInfo);
};
