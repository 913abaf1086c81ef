#include "app/browse/PelViewController.h"

#include "platform/runtime/ClassBuilder.h"

void PelViewController::awakeFromNib() {
  ak::ViewController::awakeFromNib();
  viewDidLoad();
}

void PelViewController::viewDidLoad() {
  if (didLoad_) return;
  didLoad_ = true;
  viewDidLoadOnce();
}

PL_CLASS(PelViewController, ak::ViewController) {}
