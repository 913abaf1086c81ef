#pragma once
// The Rename Video sheet: the row's title in a field, "Cancel" and "Rename" (Return renames,
// Escape cancels), hung on the window sheets go to. While it is up the main window controller's
// showingAlert is set; every way the sheet ends clears it (either button, Escape, its window
// closing, the application terminating). A changed, non-empty title goes to the account cache's
// rename. Built in code. Main thread only.
#include <functional>
#include <optional>
#include <string>

#include "platform/appkit/WindowController.h"

class IMainWindowController;
class SearchEntry;
namespace ak {
class Button;
class TextField;
}  // namespace ak
namespace ns {
class Notification;
}

// The user's text as a title: control characters (a pasted newline, a tab) become spaces and
// the white space around it goes.
std::string cleanVideoTitle(const std::string& text);

class RenameVideoSheet : public ak::WindowController {
 public:
  RenameVideoSheet() = default;
  ~RenameVideoSheet() override;

  // Builds the sheet for the row and hangs it on the controller's current window; nil when the
  // row has no video id or no window takes sheets. `ended` runs once, when the sheet is gone.
  static ns::Ref<RenameVideoSheet> beginForRow(const ns::Ref<IMainWindowController>& controller,
                                               const ns::Ref<SearchEntry>& row, std::function<void()> ended);

  void onRename(const ns::Ref<ns::Object>& sender);
  void onCancel(const ns::Ref<ns::Object>& sender);
  void controlTextDidChange(const ns::Ref<ns::Notification>& note);
  // The window the sheet hangs on closes, or the application terminates: the sheet ends unanswered.
  void endUnanswered(const ns::Ref<ns::Notification>& note);

  bool isOpen() const { return open_; }
  const std::string& videoId() const { return videoId_; }
  const std::string& oldTitle() const { return oldTitle_; }
  const ns::Ref<ak::TextField>& titleField() const { return titleField_; }
  const ns::Ref<ak::Button>& renameButton() const { return renameButton_; }
  const ns::Ref<ak::Button>& cancelButton() const { return cancelButton_; }
  const ns::Ref<ak::Window>& parentWindow() const { return parent_; }

  std::string className() const override { return "RenameVideoSheet"; }

 private:
  void build();
  void finish(bool rename);

  ns::Weak<IMainWindowController> controller_;
  std::string videoId_;
  std::string oldTitle_;
  ns::Ref<ak::Window> parent_;
  ns::Ref<ak::TextField> titleField_;
  ns::Ref<ak::Button> renameButton_;
  ns::Ref<ak::Button> cancelButton_;
  std::function<void()> ended_;
  bool open_ = false;
};
