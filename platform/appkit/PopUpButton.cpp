#include "platform/appkit/PopUpButton.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/Application.h"
#include "platform/appkit/AttributedString.h"
#include "platform/appkit/BezierPath.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Control.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/runtime/ClassBuilder.h"

namespace ak {

namespace {
constexpr double kArrowArea = 18;
}

PopUpButtonCell::PopUpButtonCell() : menu_(Menu::initWithTitle("")) {
  // Pop-up items usually carry no action of their own: they stay enabled.
  menu_->setAutoenablesItems(false);
}

void PopUpButtonCell::initTextCell(const std::string& string) {
  initTextCell_pullsDown(string, false);
}

void PopUpButtonCell::initTextCell_pullsDown(const std::string& string, bool pullsDown) {
  ButtonCell::initTextCell("");
  // A chosen title wider than the button ends in an ellipsis.
  lineBreakMode_ = LineBreakMode::TruncatingTail;
  pullsDown_ = pullsDown;
  if (!string.empty()) addItemWithTitle(string);
}

void PopUpButtonCell::setMenu(const ns::Ref<Menu>& menu) {
  menu_ = menu ? menu : Menu::initWithTitle("");
  selected_.reset();
  if (!pullsDown_ && menu_->numberOfItems() > 0) selected_ = menu_->itemAtIndex(0);
  updateControlView();
}

void PopUpButtonCell::setPullsDown(bool pullsDown) {
  pullsDown_ = pullsDown;
  updateControlView();
}

void PopUpButtonCell::addItemWithTitle(const std::string& title) {
  insertItemWithTitle_atIndex(title, numberOfItems());
}

void PopUpButtonCell::addItemsWithTitles(const std::vector<std::string>& titles) {
  for (const auto& t : titles) addItemWithTitle(t);
}

void PopUpButtonCell::insertItemWithTitle_atIndex(const std::string& title, long index) {
  // Titles are unique in a pop-up: an existing one moves.
  if (long existing = indexOfItemWithTitle(title); existing >= 0) {
    menu_->removeItemAtIndex(existing);
    if (existing < index) --index;
  }
  index = std::clamp(index, 0l, numberOfItems());
  auto item = menu_->insertItemWithTitle_action_keyEquivalent_atIndex(title, {}, "", index);
  if (!pullsDown_ && !selected_.lock()) selected_ = item;
  updateControlView();
}

void PopUpButtonCell::removeItemWithTitle(const std::string& title) {
  if (long i = indexOfItemWithTitle(title); i >= 0) removeItemAtIndex(i);
}

void PopUpButtonCell::removeItemAtIndex(long index) {
  auto item = menu_->itemAtIndex(index);
  menu_->removeItemAtIndex(index);
  if (selected_.lock() == item) {
    selected_.reset();
    if (!pullsDown_ && numberOfItems() > 0) selected_ = menu_->itemAtIndex(0);
  }
  updateControlView();
}

void PopUpButtonCell::removeAllItems() {
  menu_->removeAllItems();
  selected_.reset();
  updateControlView();
}

std::vector<std::string> PopUpButtonCell::itemTitles() const {
  std::vector<std::string> titles;
  for (const auto& item : menu_->itemArray()) titles.push_back(item->title());
  return titles;
}

ns::Ref<MenuItem> PopUpButtonCell::lastItem() const {
  const auto& items = menu_->itemArray();
  return items.empty() ? nullptr : items.back();
}

void PopUpButtonCell::selectItem(const ns::Ref<MenuItem>& item) {
  if (item && menu_->indexOfItem(item) < 0) return;
  selected_ = item;
  updateControlView();
}

void PopUpButtonCell::selectItemAtIndex(long index) {
  selectItem(index >= 0 && index < numberOfItems() ? menu_->itemAtIndex(index) : nullptr);
}

bool PopUpButtonCell::selectItemWithTitle(const std::string& title) {
  long i = indexOfItemWithTitle(title);
  selectItemAtIndex(i);
  return i >= 0;
}

bool PopUpButtonCell::selectItemWithTag(long tag) {
  long i = indexOfItemWithTag(tag);
  if (i >= 0) selectItemAtIndex(i);
  return i >= 0;
}

long PopUpButtonCell::indexOfSelectedItem() const {
  auto item = selected_.lock();
  return item ? menu_->indexOfItem(item) : -1;
}

ns::Ref<MenuItem> PopUpButtonCell::selectedItem() const {
  auto item = selected_.lock();
  return item && menu_->indexOfItem(item) >= 0 ? item : nullptr;
}

std::string PopUpButtonCell::titleOfSelectedItem() const {
  auto item = selectedItem();
  return item ? item->title() : std::string();
}

std::string PopUpButtonCell::title() const {
  if (pullsDown_) return numberOfItems() > 0 ? menu_->itemAtIndex(0)->title() : std::string();
  return titleOfSelectedItem();
}

void PopUpButtonCell::setTitle(const std::string& title) {
  if (pullsDown_) {
    if (numberOfItems() > 0) {
      menu_->itemAtIndex(0)->setTitle(title);
    } else {
      addItemWithTitle(title);
    }
  } else if (!selectItemWithTitle(title)) {
    addItemWithTitle(title);
    selectItemWithTitle(title);
  }
  updateControlView();
}

Size PopUpButtonCell::cellSizeForBounds(const Rect&) const {
  double width = 0, height = 0;
  for (const auto& t : itemTitles()) {
    Size s = sizeWithAttributes(t, textAttributes());
    width = std::max(width, s.width);
    height = std::max(height, s.height);
  }
  return {std::ceil(width) + kArrowArea + 16, std::ceil(height) + 8};
}

Rect PopUpButtonCell::titleRectForBounds(const Rect& bounds) const {
  Rect r = InsetRect(bounds, 6, 2);
  r.size.width = std::max(0.0, r.size.width - kArrowArea);
  return r;
}

void PopUpButtonCell::drawInteriorWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) {
  drawImageWithFrame_inView(cellFrame, controlView);
  drawTitleWithFrame_inView(cellFrame, controlView);
}

void PopUpButtonCell::drawImageWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) {
  const bool flipped = controlView ? controlView->isFlipped() : true;
  const double cx = cellFrame.origin.x + cellFrame.size.width - kArrowArea / 2;
  const double cy = cellFrame.origin.y + cellFrame.size.height / 2;
  auto path = BezierPath::bezierPath();
  const double dir = flipped ? 1 : -1;  // the point downwards on screen
  path->moveToPoint({cx - 4, cy - 2 * dir});
  path->lineToPoint({cx + 4, cy - 2 * dir});
  path->lineToPoint({cx, cy + 3 * dir});
  path->closePath();
  (isEnabled() ? colors::controlTextColor() : colors::disabledControlTextColor())->setFill();
  path->fill();
}

void PopUpButtonCell::drawTitleWithFrame_inView(const Rect& cellFrame, const ns::Ref<View>& controlView) {
  drawText(title(), textAttributes(), titleRectForBounds(cellFrame), controlView);
}

void PopUpButtonCell::performClickWithFrame_inView(const Rect& frame, const ns::Ref<View>& controlView) {
  if (!isEnabled()) return;
  auto keep = self<PopUpButtonCell>();
  MenuPresentation p;
  p.kind = MenuPresentation::Kind::PopUpCell;
  p.menu = menu_;
  p.view = controlView;
  p.frame = frame;
  p.location = frame.origin;
  p.positioningItem = selectedItem();
  setHighlighted(true);
  auto chosen = Menu::track(p, false);
  setHighlighted(false);
  if (!chosen || !chosen->isEnabled() || chosen->hasSubmenu()) return;
  selectItem(chosen);
  if (chosen->action()) Menu::performActionForItem(chosen);
  if (auto control = std::dynamic_pointer_cast<Control>(controlView)) {
    control->sendAction_to(action(), target());
  } else if (action()) {
    Application::sharedApplication()->sendAction_to_from(action(), target(), keep);
  }
}

bool PopUpButtonCell::trackMouse_inRect_ofView_untilMouseUp(const ns::Ref<Event>&, const Rect& cellFrame,
                                                            const ns::Ref<View>& controlView, bool) {
  performClickWithFrame_inView(cellFrame, controlView);
  return false;  // the menu already acted
}

// ---- PopUpButton ----

ns::Class PopUpButton::cellClass() {
  return ns::objc_getClass("NSPopUpButtonCell");
}

void PopUpButton::initWithFrame_pullsDown(const Rect& frame, bool pullsDown) {
  initWithFrame(frame);
  setPullsDown(pullsDown);
}

ns::Ref<Menu> PopUpButton::menu() const {
  auto c = popUpCell();
  return c ? c->menu() : nullptr;
}

void PopUpButton::setMenu(const ns::Ref<Menu>& menu) {
  if (auto c = popUpCell()) c->setMenu(menu);
}

bool PopUpButton::pullsDown() const {
  auto c = popUpCell();
  return c && c->pullsDown();
}

void PopUpButton::setPullsDown(bool pullsDown) {
  if (auto c = popUpCell()) c->setPullsDown(pullsDown);
}

#define AK_POPUP_FORWARD(call, fallback) \
  auto c = popUpCell();                  \
  return c ? c->call : fallback

void PopUpButton::addItemWithTitle(const std::string& title) {
  if (auto c = popUpCell()) c->addItemWithTitle(title);
}
void PopUpButton::addItemsWithTitles(const std::vector<std::string>& titles) {
  if (auto c = popUpCell()) c->addItemsWithTitles(titles);
}
void PopUpButton::insertItemWithTitle_atIndex(const std::string& title, long index) {
  if (auto c = popUpCell()) c->insertItemWithTitle_atIndex(title, index);
}
void PopUpButton::removeItemAtIndex(long index) {
  if (auto c = popUpCell()) c->removeItemAtIndex(index);
}
void PopUpButton::removeAllItems() {
  if (auto c = popUpCell()) c->removeAllItems();
}
long PopUpButton::numberOfItems() const {
  AK_POPUP_FORWARD(numberOfItems(), 0);
}
std::vector<std::string> PopUpButton::itemTitles() const {
  AK_POPUP_FORWARD(itemTitles(), std::vector<std::string>{});
}
ns::Ref<MenuItem> PopUpButton::itemAtIndex(long index) const {
  AK_POPUP_FORWARD(itemAtIndex(index), nullptr);
}
ns::Ref<MenuItem> PopUpButton::itemWithTitle(const std::string& title) const {
  AK_POPUP_FORWARD(itemWithTitle(title), nullptr);
}
ns::Ref<MenuItem> PopUpButton::lastItem() const {
  AK_POPUP_FORWARD(lastItem(), nullptr);
}
long PopUpButton::indexOfItemWithTitle(const std::string& title) const {
  AK_POPUP_FORWARD(indexOfItemWithTitle(title), -1);
}
long PopUpButton::indexOfItemWithTag(long tag) const {
  AK_POPUP_FORWARD(indexOfItemWithTag(tag), -1);
}
void PopUpButton::selectItem(const ns::Ref<MenuItem>& item) {
  if (auto c = popUpCell()) c->selectItem(item);
}
void PopUpButton::selectItemAtIndex(long index) {
  if (auto c = popUpCell()) c->selectItemAtIndex(index);
}
bool PopUpButton::selectItemWithTitle(const std::string& title) {
  AK_POPUP_FORWARD(selectItemWithTitle(title), false);
}
bool PopUpButton::selectItemWithTag(long tag) {
  AK_POPUP_FORWARD(selectItemWithTag(tag), false);
}
long PopUpButton::indexOfSelectedItem() const {
  AK_POPUP_FORWARD(indexOfSelectedItem(), -1);
}
ns::Ref<MenuItem> PopUpButton::selectedItem() const {
  AK_POPUP_FORWARD(selectedItem(), nullptr);
}
std::string PopUpButton::titleOfSelectedItem() const {
  AK_POPUP_FORWARD(titleOfSelectedItem(), std::string());
}

#undef AK_POPUP_FORWARD

void PopUpButton::mouseDown(const ns::Ref<Event>&) {
  auto c = popUpCell();
  if (!c || !isEnabled()) return;
  auto keep = self<PopUpButton>();
  c->performClickWithFrame_inView(bounds(), keep);
}

void PopUpButton::performClick(const ns::Ref<ns::Object>&) {
  auto c = popUpCell();
  if (!c || !isEnabled()) return;
  auto keep = self<PopUpButton>();
  c->performClickWithFrame_inView(bounds(), keep);
}

}  // namespace ak

PL_CLASS_NAMED(ak::PopUpButtonCell, "NSPopUpButtonCell", ak::ButtonCell) {}
PL_CLASS_NAMED(ak::PopUpButton, "NSPopUpButton", ak::Button) {
  cls.classMethod<&ak::PopUpButton::cellClass>("cellClass");
}
