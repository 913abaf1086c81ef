#pragma once
// A controller of one window, loaded on first use from the builder registered under the window
// nib's name (which sets the `window` outlet), then windowDidLoad.
#include <optional>
#include <string>

#include "platform/appkit/Responder.h"

namespace ak {

class Window;

class WindowController : public Responder {
 public:
  WindowController();
  ~WindowController() override;

  virtual void initWithWindow(const ns::Ref<Window>& window);
  virtual void initWithWindowNibName(const std::string& nibName);
  virtual void initWithWindowNibName_owner(const std::string& nibName, const ns::Ref<ns::Object>& owner);
  void init(const ns::Ref<Window>& window) { initWithWindow(window); }
  void init(const std::string& nibName) { initWithWindowNibName(nibName); }
  void init(const char* nibName) { initWithWindowNibName(nibName); }
  void init() { initWithWindow(nullptr); }

  const std::optional<std::string>& windowNibName() const { return nibName_; }
  // The file's owner of the nib: this controller unless another was given (not retained).
  ns::Ref<ns::Object> owner() const;

  // Loads the window on first use.
  ns::Ref<Window> window();
  virtual void setWindow(const ns::Ref<Window>& window);
  bool isWindowLoaded() const { return window_ != nullptr; }
  virtual void loadWindow();
  virtual void windowWillLoad() {}
  virtual void windowDidLoad() {}
  virtual void showWindow(const ns::Ref<ns::Object>& sender);
  virtual void close();

  // The document, kept for the few callers that ask; nothing documents-based is built on it.
  ns::Ref<ns::Object> document() const { return document_.lock(); }
  virtual void setDocument(const ns::Ref<ns::Object>& document) { document_ = document; }

 private:
  std::optional<std::string> nibName_;
  ns::Weak<ns::Object> owner_;
  bool hasOtherOwner_ = false;
  ns::Ref<Window> window_;
  ns::Weak<ns::Object> document_;
  bool loading_ = false;
};

}  // namespace ak
