#pragma once
// Alerts: a message, an informative text and buttons in a small panel, run application-modal or
// as a sheet on a window.
//
// Buttons answer codes in the order they were added from 1000 (first 1000, second 1001, ...).
// The first button answers Return; a button titled "Cancel" answers Escape; an alert shown
// without buttons gets "OK". Headless, an answerer (pltest::ModalScript in tests) plays the user
// once the alert is on screen by acting on its real window (clicks and keys); an alert the
// answerer leaves unanswered ends as aborted instead of waiting for a person.
#include <functional>
#include <string>
#include <vector>

#include "platform/appkit/Button.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/Window.h"
#include "platform/runtime/Sel.h"

namespace ak {

enum class AlertStyle : unsigned long { Warning = 0, Informational = 1, Critical = 2 };

inline constexpr long AlertFirstButtonReturn = 1000;
inline constexpr long AlertSecondButtonReturn = 1001;
inline constexpr long AlertThirdButtonReturn = 1002;

class Alert : public ns::Object {
 public:
  // Called with the alert once its window is shown (modal loop not yet run). Answers false when
  // it has no answer: the alert then ends at once with ModalResponseAbort.
  using Answerer = std::function<bool(const ns::Ref<Alert>&)>;
  static void setAnswerer(Answerer answerer);
  static bool hasAnswerer();

  const std::string& messageText() const { return messageText_; }
  void setMessageText(const std::string& text);
  const std::string& informativeText() const { return informativeText_; }
  void setInformativeText(const std::string& text);
  AlertStyle alertStyle() const { return alertStyle_; }
  void setAlertStyle(AlertStyle style) { alertStyle_ = style; }

  ns::Ref<Button> addButtonWithTitle(const std::string& title);
  const std::vector<ns::Ref<Button>>& buttons() const { return buttons_; }

  // The alert's panel, laid out for the current texts and buttons.
  ns::Ref<Window> window();
  bool isShown() const { return shown_; }
  bool isSheet() const { return sheetParent_ != nullptr; }

  // Runs the alert application-modal; answers the chosen button's code.
  long runModal();
  // A nil window runs the alert application-modal and then calls the handler.
  void beginSheetModalForWindow_completionHandler(const ns::Ref<Window>& window,
                                                  std::function<void(long)> handler);
  // The end selector is sent through ns::send with (alert, code as long, contextInfo); the
  // delegate may be a class object.
  void beginSheetModalForWindow_modalDelegate_didEndSelector_contextInfo(const ns::Ref<Window>& window,
                                                                         const ns::Ref<ns::Object>& delegate,
                                                                         ns::Sel didEndSelector,
                                                                         void* contextInfo);

  // The buttons' action: ends the modal loop or the sheet with the button's code.
  void buttonPressed(const ns::Ref<ns::Object>& sender);

 private:
  void layout();
  void ensureButton();
  bool offerToAnswerer();
  void finishSheet(long code);

  std::string messageText_;
  std::string informativeText_;
  AlertStyle alertStyle_ = AlertStyle::Warning;
  std::vector<ns::Ref<Button>> buttons_;
  ns::Ref<Window> window_;
  ns::Ref<TextField> message_;
  ns::Ref<TextField> informative_;
  bool shown_ = false;
  bool modal_ = false;
  ns::Ref<Window> sheetParent_;
  std::function<void(long)> sheetHandler_;
};

}  // namespace ak
