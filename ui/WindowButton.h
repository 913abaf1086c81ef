#pragma once
// Image buttons for the title bar's traffic lights. The buttons of one group share a roll-over
// state: while the mouse is over any of them (or within 4 points of it), all of them show their
// roll-over images.
#include <optional>
#include <string>

#include "platform/appkit/Button.h"

namespace ns {
class Notification;
}

namespace ak {
class Image;
class TrackingArea;
}  // namespace ak

// The buttons of one group count how many of them have the mouse inside.
class WindowButtonGroup : public ns::Object {
 public:
  // The registered group for the identifier (nil: the default one), made on first request.
  // Groups live for the whole process. Main thread only.
  static ns::Ref<WindowButtonGroup> groupWithIdentifier(const std::optional<std::string>& identifier);
  static const char* defaultIdentifier();

  void initWithIdentifier(const std::string& identifier) { identifier_ = identifier; }
  const std::string& identifier() const { return identifier_; }

  void didCaptureMousePointer();
  void didReleaseMousePointer();
  bool shouldDisplayRollOver() const { return numberOfCaptures_ > 0; }
  void resetMouseCaptures();
  long numberOfCaptures() const { return numberOfCaptures_; }
  // Ignores its own value and negative counts; otherwise stores it and posts the group's
  // notification.
  void setNumberOfCaptures(long count);

 private:
  std::string identifier_;
  long numberOfCaptures_ = 0;
};

class WindowButton : public ak::Button {
 public:
  static ns::Ref<WindowButton> windowButtonWithSize_groupIdentifier(
      const ak::Size& size, const std::optional<std::string>& identifier);
  ~WindowButton() override;
  // Run once after initWithFrame by windowButtonWithSize_groupIdentifier.
  void initWithSize_groupIdentifier(const ak::Size& size, const std::optional<std::string>& identifier);

  const std::string& groupIdentifier() const { return groupIdentifier_; }
  ns::Ref<WindowButtonGroup> group() const;
  ns::Ref<ak::Image> activeImage() const { return activeImage_; }
  void setActiveImage(const ns::Ref<ak::Image>& image) { activeImage_ = image; }
  ns::Ref<ak::Image> activeNotKeyWindowImage() const { return activeNotKeyWindowImage_; }
  void setActiveNotKeyWindowImage(const ns::Ref<ak::Image>& image) { activeNotKeyWindowImage_ = image; }
  ns::Ref<ak::Image> inactiveImage() const { return inactiveImage_; }
  void setInactiveImage(const ns::Ref<ak::Image>& image) { inactiveImage_ = image; }
  ns::Ref<ak::Image> rolloverImage() const { return rolloverImage_; }
  void setRolloverImage(const ns::Ref<ak::Image>& image) { rolloverImage_ = image; }
  // The image shown while pressed: the button's alternate image.
  ns::Ref<ak::Image> pressedImage() const { return alternateImage(); }
  void setPressedImage(const ns::Ref<ak::Image>& image) { setAlternateImage(image); }
  ns::Ref<ak::TrackingArea> mouseTrackingArea() const { return mouseTrackingArea_; }

  void updateImage();
  void updateActiveImage();
  void updateRollOverImage();
  void windowDidChangeFocus(const ns::Ref<ns::Notification>& note);
  void windowWillEnterFullScreen(const ns::Ref<ns::Notification>& note);
  void windowWillExitFullScreen(const ns::Ref<ns::Notification>& note);
  void windowButtonGroupDidUpdateRolloverStateNotification(const ns::Ref<ns::Notification>& note);

  void setEnabled(bool enabled) override;
  void mouseEntered(const ns::Ref<ak::Event>& event) override;
  void mouseExited(const ns::Ref<ak::Event>& event) override;
  void updateTrackingAreas() override;
  void viewWillMoveToWindow(const ns::Ref<ak::Window>& window) override;
  void viewDidMoveToWindow() override;
  void viewDidEndLiveResize() override;
  bool mouseDownCanMoveWindow() const override { return false; }

 private:
  void observeWindow(const ns::Ref<ak::Window>& window, bool observe);

  std::string groupIdentifier_;
  ns::Ref<ak::Image> activeImage_, activeNotKeyWindowImage_, inactiveImage_, rolloverImage_;
  ns::Ref<ak::TrackingArea> mouseTrackingArea_;
};
