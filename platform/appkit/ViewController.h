#pragma once
// A controller of one view, loaded on first use: from the builder registered under its nib
// name (which sets the `view` outlet) or, without one, as a plain view. It sits in the responder
// chain between its view and the view's superview.
#include <optional>
#include <string>

#include "platform/appkit/Responder.h"

namespace ns {
class Bundle;
}

namespace ak {

class View;

class ViewController : public Responder {
 public:
  ViewController();
  ~ViewController() override;

  virtual void initWithNibName_bundle(const std::optional<std::string>& nibName,
                                      const ns::Ref<ns::Bundle>& bundle);
  void init(const std::optional<std::string>& nibName, const ns::Ref<ns::Bundle>& bundle = nullptr) {
    initWithNibName_bundle(nibName, bundle);
  }
  void init() { initWithNibName_bundle(std::nullopt, nullptr); }

  const std::optional<std::string>& nibName() const { return nibName_; }
  const ns::Ref<ns::Bundle>& nibBundle() const { return nibBundle_; }

  // Loads the view on first use, then viewDidLoad.
  ns::Ref<View> view();
  virtual void setView(const ns::Ref<View>& view);
  bool isViewLoaded() const { return view_ != nullptr; }
  virtual void loadView();
  virtual void viewDidLoad() {}

  ns::Ref<ns::Object> representedObject() const { return representedObject_; }
  virtual void setRepresentedObject(const ns::Ref<ns::Object>& object) { representedObject_ = object; }
  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }

  // The view's superview (or its window when the view is a window's top view).
  ns::Ref<Responder> nextResponder() const override;

 private:
  std::optional<std::string> nibName_;
  ns::Ref<ns::Bundle> nibBundle_;
  ns::Ref<View> view_;
  ns::Ref<ns::Object> representedObject_;
  std::string title_;
  bool loading_ = false;
};

}  // namespace ak
