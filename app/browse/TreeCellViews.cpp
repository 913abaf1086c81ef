#include "app/browse/TreeCellViews.h"

#include "app/browse/BrowseNotifications.h"
#include "app/browse/LeftViewController.h"
#include "app/browse/MenuItem.h"
#include "app/browse/MenuViewController.h"
#include "common/AppUtilities.h"
#include "common/IMainWindowController.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/foundation/Notification.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace {

ns::Ref<ak::Color> grey(int level) {
  return ak::Color::colorWithCalibratedWhite_alpha(level / 255.0, 1.0);
}

}  // namespace

// ---- the heading ----

void TreeHeaderCellView::initWithCoder(ak::NibCoder& coder) {
  ak::View::initWithCoder(coder);
  dimButton();
}

void TreeHeaderCellView::initWithFrame(const ak::Rect& frame) {
  ak::View::initWithFrame(frame);
  dimButton();
}

void TreeHeaderCellView::setButton(const ns::Ref<ak::Button>& button) {
  button_ = button;
  dimButton();
}

void TreeHeaderCellView::dimButton() {
  if (auto button = button_.lock()) button->setAlphaValue(0.1);
}

void TreeHeaderCellView::drawRect(const ak::Rect&) {
  // Grown past the frame, so that no gap shows between the heading and the row's edges.
  const ak::Rect f = frame();
  ak::colors::blackColor()->setFill();
  ak::RectFill(ak::MakeRect(f.origin.x - 10.0, f.origin.y - 5.0, f.size.width + 20.0, f.size.height + 10.0));
}

void TreeHeaderCellView::OnButton(const ns::Ref<ns::Object>&) {
  ns::Log("%s called", "-[TreeHeaderCellView OnButton:]");
  auto main = mainWindowController();
  auto left = main ? main->leftViewController() : nullptr;
  auto menu = left ? left->menuViewController() : nullptr;
  if (menu) menu->toggleExpand(menuItem());
}

void TreeHeaderCellView::mouseDown(const ns::Ref<ak::Event>&) {
  ns::Log("%s called", "-[TreeHeaderCellView mouseDown:]");
}

void TreeHeaderCellView::rightMouseDown(const ns::Ref<ak::Event>&) {
  ns::Log("%s called", "-[TreeHeaderCellView rightMouseDown:]");
}

// ---- the row ----

void TreeItemCellView::setTitleTextField(const ns::Ref<ak::TextField>& field) {
  titleTextField_ = field;
  setTextField(field);
}

void TreeItemCellView::setup() {
  if (titleTextField_) titleTextField_->setDelegate(self<TreeItemCellView>());
  hasAppearanceAPI_ = getOSVersionString().rfind("10.10", 0) == 0 &&
                      ns::respondsToSelector(self<TreeItemCellView>(), ns::Sel("setAppearance:"));
}

void TreeItemCellView::setAvailable(bool available) {
  isNotAvailable_ = !available;
  if (titleTextField_) titleTextField_->setTextColor(grey(available ? kTreeTitleGrey : kTreeTitleDimmedGrey));
  if (countTextField_) countTextField_->setTextColor(grey(kTreeBadgeGrey));
}

bool TreeItemCellView::isSelected() const {
  auto row = superview();
  auto table = std::dynamic_pointer_cast<ak::TableView>(row ? row->superview() : nullptr);
  if (!table) return false;
  auto selected = table->selectedRowIndexes();
  if (selected->count() == 0) return false;
  for (const auto& range : selected->ranges())
    for (std::size_t r = range.location; r < range.max(); ++r)
      // Only shown rows can hold this view: none is made for the question.
      if (table->viewAtColumn_row_makeIfNecessary(0, long(r), false).get() == this) return true;
  return false;
}

void TreeItemCellView::setBar(const char* name) {
  barImageName_ = name;
  if (bgImg_) bgImg_->setImage(ak::Image::imageNamed(name));
}

void TreeItemCellView::setBackgroundStyle(ak::BackgroundStyle) {
  if (isSelected()) {
    if (titleTextField_) titleTextField_->setTextColor(ak::colors::whiteColor());
    auto main = mainWindowController();
    setBar(main && main->treeViewHasFocus() ? "orange_bar" : "orange_bar_out");
  } else {
    setBar("black_bar");
    showRestingColours();
  }
}

void TreeItemCellView::showRestingColours() {
  if (titleTextField_)
    titleTextField_->setTextColor(grey(isNotAvailable_ ? kTreeTitleDimmedGrey : kTreeTitleGrey));
  if (countTextField_) countTextField_->setTextColor(grey(kTreeBadgeGrey));
}

void TreeItemCellView::showEditingColours() {
  if (hasAppearanceAPI_) return;
  if (titleTextField_) titleTextField_->setTextColor(grey(kTreeEditingGrey));
  if (countTextField_) countTextField_->setTextColor(grey(kTreeBadgeGrey));
}

ns::BOOL TreeItemCellView::control_textShouldBeginEditing(ns::Ref<ns::Object>, ns::Ref<ns::Object>) {
  showEditingColours();
  return ns::YES;
}

void TreeItemCellView::controlTextDidBeginEditing(ns::Ref<ns::Notification>) {
  showEditingColours();
}

void TreeItemCellView::controlTextDidEndEditing(ns::Ref<ns::Notification> note) {
  auto keep = self<TreeItemCellView>();
  ns::Log("%s called", "-[TreeItemCellView controlTextDidEndEditing:]");
  long movement = ak::OtherTextMovement;
  if (note) {
    auto value = note->userInfo().objectForKey(ak::TextMovementKey);
    if (value.isNumber()) movement = value.number().integerValue();
  }
  if (movement == ak::ReturnTextMovement) {
    ns::Log("NSReturnTextMovement");
    if (menuItem_ && titleTextField_) menuItem_->setTitle(titleTextField_->stringValue());
    postNotification(kMyOutlineViewEndEditNotification);
  } else {
    ns::Log("NSReturnTextMovement NOT");
    postNotification(kMyOutlineViewEndCancelNotification);
  }
  if (!titleTextField_) return;
  if (auto window = titleTextField_->window(); window && window->firstResponder() == titleTextField_)
    window->makeFirstResponder(nullptr);
  if (isSelected())
    titleTextField_->setTextColor(ak::colors::whiteColor());
  else
    showRestingColours();
}

PL_CLASS(TreeHeaderCellView, ak::View) {
  cls.method<&TreeHeaderCellView::OnButton>("OnButton:");
}

PL_CLASS(TreeItemCellView, ak::View) {
  cls.method<&TreeItemCellView::control_textShouldBeginEditing>("control:textShouldBeginEditing:");
  cls.method<&TreeItemCellView::controlTextDidBeginEditing>("controlTextDidBeginEditing:");
  cls.method<&TreeItemCellView::controlTextDidEndEditing>("controlTextDidEndEditing:");
  cls.method<&TreeItemCellView::setAppearanceObject>("setAppearance:");
}
