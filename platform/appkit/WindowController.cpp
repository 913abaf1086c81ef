#include "platform/appkit/WindowController.h"

#include "platform/appkit/Nib.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/runtime/ClassBuilder.h"

namespace ak {

WindowController::WindowController() = default;
WindowController::~WindowController() = default;

void WindowController::initWithWindow(const ns::Ref<Window>& window) {
  if (window) setWindow(window);
}

void WindowController::initWithWindowNibName(const std::string& nibName) {
  nibName_ = nibName;
}

void WindowController::initWithWindowNibName_owner(const std::string& nibName,
                                                   const ns::Ref<ns::Object>& owner) {
  nibName_ = nibName;
  owner_ = owner;
  hasOtherOwner_ = owner != nullptr;
}

ns::Ref<ns::Object> WindowController::owner() const {
  if (hasOtherOwner_) return owner_.lock();
  return std::const_pointer_cast<ns::Object>(shared_from_this());
}

ns::Ref<Window> WindowController::window() {
  if (!window_ && nibName_ && !loading_) {
    loading_ = true;
    loadWindow();
    loading_ = false;
    if (window_) windowDidLoad();
  }
  return window_;
}

void WindowController::setWindow(const ns::Ref<Window>& window) {
  if (window_ == window) return;
  if (window_ && window_->windowController().get() == this) window_->setWindowController(nullptr);
  window_ = window;
  if (window_) window_->setWindowController(self<WindowController>());
}

void WindowController::loadWindow() {
  windowWillLoad();
  auto nibOwner = owner();
  if (!Nib::loadNibNamed_owner(*nibName_, nibOwner)) return;
  if (!window_) ns::Log("WindowController: the interface \"%s\" did not set the window", *nibName_);
}

void WindowController::showWindow(const ns::Ref<ns::Object>& sender) {
  if (auto w = window()) w->makeKeyAndOrderFront(sender);
}

void WindowController::close() {
  if (window_) window_->close();
}

}  // namespace ak

PL_CLASS_NAMED(ak::WindowController, "NSWindowController", ak::Responder) {}
