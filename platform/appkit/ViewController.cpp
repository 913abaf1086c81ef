#include "platform/appkit/ViewController.h"

#include "platform/appkit/Make.h"
#include "platform/appkit/Nib.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/foundation/Bundle.h"
#include "platform/runtime/ClassBuilder.h"

namespace ak {

ViewController::ViewController() = default;
ViewController::~ViewController() = default;

void ViewController::initWithNibName_bundle(const std::optional<std::string>& nibName,
                                            const ns::Ref<ns::Bundle>& bundle) {
  nibName_ = nibName;
  nibBundle_ = bundle;
}

ns::Ref<View> ViewController::view() {
  if (!view_ && !loading_) {
    loading_ = true;
    loadView();
    loading_ = false;
    if (view_) viewDidLoad();
  }
  return view_;
}

void ViewController::setView(const ns::Ref<View>& view) {
  if (view_ == view) return;
  if (view_ && view_->viewController().get() == this) view_->setViewController(nullptr);
  view_ = view;
  if (view_) view_->setViewController(self<ViewController>());
}

void ViewController::loadView() {
  if (nibName_ && Nib::hasBuilder(*nibName_)) {
    if (!Nib::loadNibNamed_owner(*nibName_, shared_from_this())) return;
    if (!view_) ns::Log("ViewController: the interface \"%s\" did not set the view", *nibName_);
    return;
  }
  if (nibName_) ns::Log("ViewController: no interface \"%s\", using a plain view", *nibName_);
  setView(ak::make<View>(ZeroRect));
}

ns::Ref<Responder> ViewController::nextResponder() const {
  if (hasExplicitNext_) return Responder::nextResponder();
  if (!view_) return nullptr;
  if (auto super = view_->superview()) return super;
  return view_->window();
}

}  // namespace ak

PL_CLASS_NAMED(ak::ViewController, "NSViewController", ak::Responder) {}
