#pragma once
// The base of every page of the left pane: a view controller linked to the navigation that
// shows it. Its viewDidLoad runs once, whether the nib's awakeFromNib or the view's first use
// sends it first.
#include <memory>

#include "platform/appkit/ViewController.h"

class PelNavigationController;

class PelViewController : public ak::ViewController {
 public:
  // Runs the inherited step, then sends viewDidLoad.
  void awakeFromNib() override;
  // Runs viewDidLoadOnce the first time only.
  void viewDidLoad() final;
  virtual void viewWillAppear(bool animated) {}
  virtual void viewWillDisappear(bool animated) {}

  // Weak: the navigation holds its pages, and a strong link back would keep both forever.
  ns::Ref<PelNavigationController> navigationController() const { return navigationController_.lock(); }
  void setNavigationController(const ns::Ref<PelNavigationController>& navigation) {
    navigationController_ = navigation;
  }

  std::string className() const override { return "PelViewController"; }

 protected:
  virtual void viewDidLoadOnce() {}

 private:
  ns::Weak<PelNavigationController> navigationController_;
  bool didLoad_ = false;
};
