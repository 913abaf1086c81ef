#include "platform/appkit/Alert.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Make.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace ak {

namespace {

constexpr double kWidth = 420;
constexpr double kMargin = 20;
constexpr double kButtonHeight = 32;
constexpr double kButtonMinWidth = 82;
constexpr double kMessageHeight = 22;
constexpr double kInformativeHeight = 34;

Alert::Answerer& answerer() {
  static ns::NoDestructor<Alert::Answerer> a;
  return *a;
}

}  // namespace

void Alert::setAnswerer(Answerer a) {
  answerer() = std::move(a);
}

bool Alert::hasAnswerer() {
  return static_cast<bool>(answerer());
}

void Alert::setMessageText(const std::string& text) {
  messageText_ = text;
  if (message_) message_->setStringValue(text);
}

void Alert::setInformativeText(const std::string& text) {
  informativeText_ = text;
  if (informative_) informative_->setStringValue(text);
}

ns::Ref<Button> Alert::addButtonWithTitle(const std::string& title) {
  auto button = make<Button>(MakeRect(0, 0, kButtonMinWidth, kButtonHeight));
  button->setTitle(title);
  button->setTarget(self<Alert>());
  button->setAction(ns::Sel("buttonPressed:"));
  button->setTag(AlertFirstButtonReturn + static_cast<long>(buttons_.size()));
  if (buttons_.empty()) {
    button->setKeyEquivalent("\r");
  } else if (title == "Cancel") {
    button->setKeyEquivalent("\x1b");
  }
  buttons_.push_back(button);
  if (window_) layout();
  return button;
}

void Alert::ensureButton() {
  if (buttons_.empty()) addButtonWithTitle("OK");
}

ns::Ref<Window> Alert::window() {
  layout();
  return window_;
}

void Alert::layout() {
  if (!window_) {
    window_ = make<Window>(MakeRect(0, 0, kWidth, 120), TitledWindowMask);
    window_->setReleasedWhenClosed(false);
    message_ = make<TextField>(ZeroRect);
    informative_ = make<TextField>(ZeroRect);
    for (const auto& field : {message_, informative_}) {
      field->setEditable(false);
      field->setSelectable(false);
      field->setBordered(false);
      field->textFieldCell()->setDrawsBackground(false);
    }
    message_->setStringValue(messageText_);
    informative_->setStringValue(informativeText_);
    window_->contentView()->addSubview(message_);
    window_->contentView()->addSubview(informative_);
  }
  const double infoHeight = informativeText_.empty() ? 0 : kInformativeHeight;
  const double height = kMargin + kButtonHeight + 12 + infoHeight + kMessageHeight + kMargin;
  Rect frame = window_->frame();
  Rect content = window_->contentRectForFrameRect(frame);
  if (content.size.height != height) {
    content.size = MakeSize(kWidth, height);
    window_->setFrame_display(window_->frameRectForContentRect(content), false);
  }
  message_->setFrame(
      MakeRect(kMargin, height - kMargin - kMessageHeight, kWidth - 2 * kMargin, kMessageHeight));
  informative_->setFrame(MakeRect(kMargin, kMargin + kButtonHeight + 12, kWidth - 2 * kMargin, infoHeight));
  informative_->setHidden(infoHeight == 0);
  // The first button sits rightmost; the others follow leftwards.
  double right = kWidth - kMargin;
  for (const auto& button : buttons_) {
    if (!button->superview()) window_->contentView()->addSubview(button);
    button->sizeToFit();
    Rect b = button->frame();
    const double w = std::max(kButtonMinWidth, std::ceil(b.size.width) + 24);
    button->setFrame(MakeRect(right - w, kMargin, w, kButtonHeight));
    right -= w + 8;
  }
  window_->contentView()->setNeedsDisplay(true);
}

bool Alert::offerToAnswerer() {
  auto& a = answerer();
  if (!a) return true;  // on screen: a person answers
  return a(self<Alert>());
}

long Alert::runModal() {
  auto keep = self<Alert>();
  ensureButton();
  layout();
  auto app = Application::sharedApplication();
  modal_ = true;
  shown_ = true;
  window_->center();
  window_->makeKeyAndOrderFront(nullptr);
  long code = ModalResponseAbort;
  if (offerToAnswerer()) code = app->runModalForWindow(window_);
  window_->orderOut(nullptr);
  modal_ = false;
  shown_ = false;
  return code;
}

void Alert::beginSheetModalForWindow_completionHandler(const ns::Ref<Window>& window,
                                                       std::function<void(long)> handler) {
  auto keep = self<Alert>();
  if (!window || window->isClosed()) {
    // No window to hang on: the alert still reaches the user, application-modal.
    const long code = runModal();
    if (handler) handler(code);
    return;
  }
  if (sheetParent_) {
    ns::Log("AppKit: an alert already shown as a sheet was begun again, ignored");
    return;
  }
  ensureButton();
  layout();
  sheetParent_ = window;
  sheetHandler_ = std::move(handler);
  auto app = Application::sharedApplication();
  app->beginSheet_modalForWindow_modalDelegate_didEndSelector_contextInfo(window_, window, nullptr, ns::Sel(),
                                                                          nullptr);
  if (window->attachedSheet() == window_) {
    shown_ = true;
    if (!offerToAnswerer()) finishSheet(ModalResponseAbort);
    return;
  }
  // Waits behind another sheet: offered once it hangs.
  auto center = ns::NotificationCenter::defaultCenter();
  auto token = std::make_shared<ns::Ref<ns::Object>>();
  ns::Weak<Alert> weak = keep;
  *token = center->addObserverForName_object_queue_usingBlock(
      std::string(WindowWillBeginSheetNotification), window, nullptr, [weak, token](const auto&) {
        auto alert = weak.lock();
        if (!alert || !alert->sheetParent_ || alert->sheetParent_->attachedSheet() != alert->window_) return;
        ns::NotificationCenter::defaultCenter()->removeObserver(token->get());
        alert->shown_ = true;
        if (!alert->offerToAnswerer()) alert->finishSheet(ModalResponseAbort);
      });
}

void Alert::beginSheetModalForWindow_modalDelegate_didEndSelector_contextInfo(
    const ns::Ref<Window>& window, const ns::Ref<ns::Object>& delegate, ns::Sel didEndSelector,
    void* contextInfo) {
  const bool isClass = delegate && ns::object_isClass(delegate.get());
  ns::Ref<ns::Object> strong = isClass ? delegate : nullptr;
  ns::Weak<ns::Object> weak = delegate;
  ns::Weak<Alert> self = weakSelf<Alert>();
  beginSheetModalForWindow_completionHandler(window,
                                             [strong, weak, self, didEndSelector, contextInfo](long code) {
                                               auto target = strong ? strong : weak.lock();
                                               auto alert = self.lock();
                                               if (!target || !didEndSelector || !alert) return;
                                               ns::send(target, didEndSelector, alert, code, contextInfo);
                                             });
}

void Alert::finishSheet(long code) {
  auto keep = self<Alert>();
  auto parent = std::move(sheetParent_);
  sheetParent_ = nullptr;
  shown_ = false;
  if (parent && parent->attachedSheet() == window_) {
    Application::sharedApplication()->endSheet_returnCode(window_, code);
  }
  window_->orderOut(nullptr);
  auto handler = std::move(sheetHandler_);
  sheetHandler_ = nullptr;
  if (handler) handler(code);
}

void Alert::buttonPressed(const ns::Ref<ns::Object>& sender) {
  auto button = std::dynamic_pointer_cast<Button>(sender);
  auto it = std::find(buttons_.begin(), buttons_.end(), button);
  if (it == buttons_.end()) return;
  const long code = AlertFirstButtonReturn + static_cast<long>(it - buttons_.begin());
  if (modal_) {
    Application::sharedApplication()->stopModalWithCode(code);
  } else if (sheetParent_) {
    finishSheet(code);
  }
}

}  // namespace ak

PL_CLASS_NAMED(ak::Alert, "NSAlert", ns::Object) {
  cls.method<&ak::Alert::buttonPressed>("buttonPressed:");
}
