#include "ui/WindowButton.h"

#include <map>

#include "platform/appkit/AppKitNames.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/TrackingArea.h"
#include "platform/appkit/Window.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/UINotifications.h"

namespace {

const char* const kWindowNotifications[] = {
    ak::WindowDidBecomeKeyNotification, ak::WindowDidResignKeyNotification,
    ak::WindowWillEnterFullScreenNotification, ak::WindowWillExitFullScreenNotification};

std::map<std::string, ns::Ref<WindowButtonGroup>>& groupRegistry() {
  static ns::NoDestructor<std::map<std::string, ns::Ref<WindowButtonGroup>>> registry;
  return *registry;
}

}  // namespace

// ---- WindowButtonGroup ----

const char* WindowButtonGroup::defaultIdentifier() {
  return "com.ordel42.zeravozezi.WindowButtonGroup";
}

ns::Ref<WindowButtonGroup> WindowButtonGroup::groupWithIdentifier(
    const std::optional<std::string>& identifier) {
  DISPATCH_DEBUG_ASSERT_QUEUE(dispatch::mainQueue());
  const std::string key = identifier ? *identifier : defaultIdentifier();
  auto& registry = groupRegistry();
  auto found = registry.find(key);
  if (found != registry.end()) return found->second;
  auto group = ns::make<WindowButtonGroup>();
  group->initWithIdentifier(key);
  registry.emplace(key, group);
  return group;
}

void WindowButtonGroup::didCaptureMousePointer() {
  setNumberOfCaptures(numberOfCaptures_ + 1);
}

void WindowButtonGroup::didReleaseMousePointer() {
  setNumberOfCaptures(numberOfCaptures_ - 1);
}

void WindowButtonGroup::resetMouseCaptures() {
  setNumberOfCaptures(0);
}

void WindowButtonGroup::setNumberOfCaptures(long count) {
  if (count == numberOfCaptures_ || count < 0) return;
  numberOfCaptures_ = count;
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(
      WindowButtonGroupDidUpdateRolloverStateNotification, shared_from_this());
}

// ---- WindowButton ----

ns::Ref<WindowButton> WindowButton::windowButtonWithSize_groupIdentifier(
    const ak::Size& size, const std::optional<std::string>& identifier) {
  auto button = ak::make<WindowButton>(ak::Rect{ak::Point{0, 0}, size});
  button->initWithSize_groupIdentifier(size, identifier);
  return button;
}

void WindowButton::initWithSize_groupIdentifier(const ak::Size& size,
                                                const std::optional<std::string>& identifier) {
  setFrame(ak::Rect{ak::Point{0, 0}, size});
  groupIdentifier_ = identifier ? *identifier : WindowButtonGroup::defaultIdentifier();
  setButtonType(ak::ButtonType::MomentaryChange);
  setBordered(false);
  setTitle("");
  if (auto cell = buttonCell()) {
    // The contents mask (1) shows the alternate image while pressed, which these buttons need;
    // push-in would be 2.
    cell->setHighlightsBy(ak::ContentsCellMask);
    cell->setImageDimsWhenDisabled(false);
  }
  ns::NotificationCenter::defaultCenter()->addObserver_selector_name_object(
      this, &WindowButton::windowButtonGroupDidUpdateRolloverStateNotification,
      std::string(WindowButtonGroupDidUpdateRolloverStateNotification), group());
}

WindowButton::~WindowButton() {
  ns::NotificationCenter::defaultCenter()->removeObserver(this);
}

ns::Ref<WindowButtonGroup> WindowButton::group() const {
  return WindowButtonGroup::groupWithIdentifier(groupIdentifier_);
}

void WindowButton::updateActiveImage() {
  auto w = window();
  if (!isEnabled()) {
    setImage(inactiveImage_);
  } else if (w && w->isKeyWindow()) {
    setImage(activeImage_);
  } else {
    setImage(activeNotKeyWindowImage_);
  }
}

void WindowButton::updateRollOverImage() {
  if (group()->shouldDisplayRollOver() && isEnabled()) {
    setImage(rolloverImage_);
  } else {
    updateActiveImage();
  }
}

void WindowButton::updateImage() {
  updateRollOverImage();
}

void WindowButton::windowDidChangeFocus(const ns::Ref<ns::Notification>&) {
  updateImage();
}

void WindowButton::windowWillEnterFullScreen(const ns::Ref<ns::Notification>&) {
  group()->resetMouseCaptures();
  setHidden(true);
}

void WindowButton::windowWillExitFullScreen(const ns::Ref<ns::Notification>&) {
  group()->resetMouseCaptures();
  setHidden(false);
}

void WindowButton::windowButtonGroupDidUpdateRolloverStateNotification(const ns::Ref<ns::Notification>&) {
  updateRollOverImage();
}

void WindowButton::setEnabled(bool enabled) {
  ak::Button::setEnabled(enabled);
  setImage(enabled ? activeImage_ : inactiveImage_);
}

void WindowButton::mouseEntered(const ns::Ref<ak::Event>& event) {
  ak::Button::mouseEntered(event);
  group()->didCaptureMousePointer();
  updateRollOverImage();
}

void WindowButton::mouseExited(const ns::Ref<ak::Event>& event) {
  ak::Button::mouseExited(event);
  group()->didReleaseMousePointer();
  updateRollOverImage();
}

void WindowButton::updateTrackingAreas() {
  ak::Button::updateTrackingAreas();
  if (mouseTrackingArea_) removeTrackingArea(mouseTrackingArea_);
  mouseTrackingArea_ = ak::TrackingArea::initWithRect_options_owner_userInfo(
      ak::InsetRect(bounds(), -4.0, -4.0), ak::TrackingMouseEnteredAndExited | ak::TrackingActiveAlways,
      self<WindowButton>());
  addTrackingArea(mouseTrackingArea_);
}

void WindowButton::observeWindow(const ns::Ref<ak::Window>& w, bool observe) {
  if (!w) return;
  auto center = ns::NotificationCenter::defaultCenter();
  for (const char* name : kWindowNotifications) {
    if (!observe) {
      center->removeObserver_name_object(this, std::string(name), w.get());
      continue;
    }
    const std::string n(name);
    if (n == ak::WindowWillEnterFullScreenNotification) {
      center->addObserver_selector_name_object(this, &WindowButton::windowWillEnterFullScreen, n, w);
    } else if (n == ak::WindowWillExitFullScreenNotification) {
      center->addObserver_selector_name_object(this, &WindowButton::windowWillExitFullScreen, n, w);
    } else {
      center->addObserver_selector_name_object(this, &WindowButton::windowDidChangeFocus, n, w);
    }
  }
}

void WindowButton::viewWillMoveToWindow(const ns::Ref<ak::Window>& newWindow) {
  ak::Button::viewWillMoveToWindow(newWindow);
  auto old = window();
  if (old == newWindow) return;
  observeWindow(old, false);
  observeWindow(newWindow, true);
}

void WindowButton::viewDidMoveToWindow() {
  ak::Button::viewDidMoveToWindow();
  if (window()) updateImage();
}

void WindowButton::viewDidEndLiveResize() {
  ak::Button::viewDidEndLiveResize();
  group()->resetMouseCaptures();
}

PL_CLASS(WindowButtonGroup, ns::Object) {}
PL_CLASS(WindowButton, ak::Button) {}
