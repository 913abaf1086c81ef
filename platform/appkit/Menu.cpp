#include "platform/appkit/Menu.h"

#include <cctype>
#include <mutex>

#include "platform/appkit/Application.h"
#include "platform/appkit/Presenter.h"
#include "platform/appkit/View.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/Send.h"

namespace ak {

namespace {

Menu::Answerer& answererSlot() {
  static ns::NoDestructor<Menu::Answerer> slot;
  return *slot;
}

[[noreturn]] void raiseRange(long index, std::size_t count) {
  ns::Exception::raise_format(
      "NSRangeException", "*** -[NSMenu itemAtIndex:]: index (%ld) beyond bounds (%ld)", index, long(count));
}

}  // namespace

// ---- MenuItem ----

MenuItem::MenuItem() = default;
MenuItem::~MenuItem() = default;

ns::Ref<MenuItem> MenuItem::initWithTitle_action_keyEquivalent(const std::string& title, ns::Sel action,
                                                               const std::string& keyEquivalent) {
  auto item = ns::make<MenuItem>();
  item->setTitle(title);
  item->action_ = action;
  item->keyEquivalent_ = keyEquivalent;
  return item;
}

ns::Ref<MenuItem> MenuItem::separatorItem() {
  auto item = ns::make<MenuItem>();
  item->separator_ = true;
  item->enabled_ = false;
  return item;
}

void MenuItem::setTitle(const std::string& title) {
  if (title_ == title) return;
  title_ = title;
  changed();
}

void MenuItem::setState(long state) {
  if (state_ == state) return;
  state_ = state;
  changed();
}

void MenuItem::setHidden(bool hidden) {
  if (hidden_ == hidden) return;
  hidden_ = hidden;
  changed();
}

void MenuItem::setKeyEquivalent(const std::string& key) {
  if (keyEquivalent_ == key) return;
  keyEquivalent_ = key;
  changed();
}

void MenuItem::setKeyEquivalentModifierMask(unsigned long mask) {
  if (keyMask_ == mask) return;
  keyMask_ = mask;
  changed();
}

void MenuItem::setImage(const ns::Ref<Image>& image) {
  if (image_ == image) return;
  image_ = image;
  changed();
}

void MenuItem::changed() {
  if (auto m = menu()) m->changed();
}

void MenuItem::setTarget(const ns::Ref<ns::Object>& target) {
  target_ = target;
  hadTarget_ = target != nullptr;
}

void MenuItem::setSubmenu(const ns::Ref<Menu>& submenu) {
  if (submenu_) submenu_->setSupermenu(nullptr);
  submenu_ = submenu;
  if (submenu_) submenu_->setSupermenu(menu());
  changed();
}

ns::Ref<MenuItem> MenuItem::copy() const {
  auto item = ns::make<MenuItem>();
  item->title_ = title_;
  item->separator_ = separator_;
  item->action_ = action_;
  item->target_ = target_;
  item->hadTarget_ = hadTarget_;
  item->tag_ = tag_;
  item->state_ = state_;
  item->enabled_ = enabled_;
  item->hidden_ = hidden_;
  item->keyEquivalent_ = keyEquivalent_;
  item->keyMask_ = keyMask_;
  item->represented_ = represented_;
  item->image_ = image_;
  item->indentation_ = indentation_;
  if (submenu_) item->submenu_ = submenu_->copy();
  return item;
}

// ---- Menu ----

Menu::Menu() = default;
Menu::~Menu() = default;

ns::Ref<Menu> Menu::initWithTitle(const std::string& title) {
  auto menu = ns::make<Menu>();
  menu->title_ = title;
  return menu;
}

void Menu::addItem(const ns::Ref<MenuItem>& item) {
  insertItem_atIndex(item, numberOfItems());
}

ns::Ref<MenuItem> Menu::addItemWithTitle_action_keyEquivalent(const std::string& title, ns::Sel action,
                                                              const std::string& keyEquivalent) {
  auto item = MenuItem::initWithTitle_action_keyEquivalent(title, action, keyEquivalent);
  addItem(item);
  return item;
}

void Menu::insertItem_atIndex(const ns::Ref<MenuItem>& item, long index) {
  if (!item) ns::Exception::raise("NSInvalidArgumentException", "Invalid parameter not satisfying: newItem");
  if (index < 0 || index > numberOfItems()) raiseRange(index, items_.size() + 1);
  if (item->menu()) {
    ns::Exception::raise("NSInternalInconsistencyException",
                         "Item to be inserted into menu already is in another menu");
  }
  items_.insert(items_.begin() + index, item);
  item->setMenu(self<Menu>());
  if (auto sub = item->submenu()) sub->setSupermenu(self<Menu>());
  changed();
}

void Menu::setTitle(const std::string& title) {
  if (title_ == title) return;
  title_ = title;
  changed();
}

void Menu::changed() {
  if (auto* presenter = activePresenter()) presenter->menuChanged(*this);
}

ns::Ref<MenuItem> Menu::insertItemWithTitle_action_keyEquivalent_atIndex(const std::string& title,
                                                                         ns::Sel action,
                                                                         const std::string& keyEquivalent,
                                                                         long index) {
  auto item = MenuItem::initWithTitle_action_keyEquivalent(title, action, keyEquivalent);
  insertItem_atIndex(item, index);
  return item;
}

void Menu::removeItem(const ns::Ref<MenuItem>& item) {
  long index = indexOfItem(item);
  if (index >= 0) removeItemAtIndex(index);
}

void Menu::removeItemAtIndex(long index) {
  if (index < 0 || index >= numberOfItems()) raiseRange(index, items_.size());
  auto item = items_[std::size_t(index)];
  items_.erase(items_.begin() + index);
  item->setMenu(nullptr);
  changed();
}

void Menu::removeAllItems() {
  auto items = std::move(items_);
  items_.clear();
  for (const auto& item : items) item->setMenu(nullptr);
  if (!items.empty()) changed();
}

ns::Ref<MenuItem> Menu::itemAtIndex(long index) const {
  if (index < 0 || index >= numberOfItems()) raiseRange(index, items_.size());
  return items_[std::size_t(index)];
}

ns::Ref<MenuItem> Menu::itemWithTag(long tag) const {
  long i = indexOfItemWithTag(tag);
  return i >= 0 ? items_[std::size_t(i)] : nullptr;
}

ns::Ref<MenuItem> Menu::itemWithTitle(const std::string& title) const {
  long i = indexOfItemWithTitle(title);
  return i >= 0 ? items_[std::size_t(i)] : nullptr;
}

long Menu::indexOfItem(const ns::Ref<MenuItem>& item) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i] == item) return long(i);
  return -1;
}

long Menu::indexOfItemWithTitle(const std::string& title) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (!items_[i]->isSeparatorItem() && items_[i]->title() == title) return long(i);
  return -1;
}

long Menu::indexOfItemWithTag(long tag) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i]->tag() == tag) return long(i);
  return -1;
}

long Menu::indexOfItemWithRepresentedObject(const ns::Value& object) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i]->representedObject() == object) return long(i);
  return -1;
}

void Menu::setSubmenu_forItem(const ns::Ref<Menu>& submenu, const ns::Ref<MenuItem>& item) {
  if (item) item->setSubmenu(submenu);
}

// ---- enabling ----

bool Menu::validateItem(const ns::Ref<MenuItem>& item) {
  if (!item || item->isSeparatorItem()) return false;
  if (item->hasSubmenu()) return true;
  if (!item->action()) return false;
  auto target = item->target();
  if (!target && item->targetWasFreed()) return false;
  auto receiver = Application::sharedApplication()->targetForAction_to_from(item->action(), target, item);
  if (!receiver) return false;
  static const ns::Sel validate("validateMenuItem:");
  if (ns::respondsToSelector(receiver, validate)) return ns::send<bool>(receiver, validate, item);
  return true;
}

void Menu::update() {
  auto keep = self<Menu>();
  sendDelegate("menuNeedsUpdate:");
  auto items = items_;
  for (const auto& item : items) {
    if (autoenables_) item->setEnabled(validateItem(item));
    if (auto sub = item->submenu()) sub->update();
  }
}

void Menu::willOpen() {
  update();
  sendDelegate("menuWillOpen:");
  open_ = true;
}

void Menu::didClose() {
  if (!open_) return;
  open_ = false;
  sendDelegate("menuDidClose:");
}

void Menu::sendDelegate(const char* selector) {
  auto d = delegate_.lock();
  ns::Sel sel(selector);
  if (d && ns::respondsToSelector(d, sel)) ns::send(d, sel, self<Menu>());
}

// ---- performing ----

namespace {

std::string lowered(const std::string& s) {
  std::string out = s;
  for (auto& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool matchesKey(const MenuItem& item, const Event& event) {
  const std::string& key = item.keyEquivalent();
  if (key.empty()) return false;
  unsigned long required = item.keyEquivalentModifierMask();
  if (key.size() == 1 && std::isupper(static_cast<unsigned char>(key[0]))) required |= ShiftKeyMask;
  const unsigned long relevant = ShiftKeyMask | ControlKeyMask | AlternateKeyMask | CommandKeyMask;
  if ((event.modifierFlags() & relevant) != (required & relevant)) return false;
  return lowered(event.charactersIgnoringModifiers()) == lowered(key);
}

}  // namespace

bool Menu::performKeyEquivalent(const ns::Ref<Event>& event) {
  if (!event || event->type() != EventType::KeyDown) return false;
  auto keep = self<Menu>();
  auto items = items_;
  for (const auto& item : items) {
    if (item->isHidden() || item->isSeparatorItem()) continue;
    if (auto sub = item->submenu()) {
      if (sub->performKeyEquivalent(event)) return true;
      continue;
    }
    if (!matchesKey(*item, *event)) continue;
    const bool enabled = autoenables_ ? validateItem(item) : item->isEnabled();
    if (autoenables_) item->setEnabled(enabled);
    if (!enabled) continue;
    performActionForItem(item);
    return true;
  }
  return false;
}

void Menu::performActionForItemAtIndex(long index) {
  performActionForItem(itemAtIndex(index));
}

bool Menu::performActionForItem(const ns::Ref<MenuItem>& item) {
  if (!item || item->hasSubmenu() || item->isSeparatorItem() || !item->isEnabled() || !item->action())
    return false;
  // The item and its target stay alive until the action returns, even when the action
  // changes the menu or frees the target's last other owner.
  ns::Ref<MenuItem> keepItem = item;
  ns::Ref<ns::Object> target = item->target();
  if (!target && item->targetWasFreed()) return false;
  return Application::sharedApplication()->sendAction_to_from(item->action(), target, keepItem);
}

// ---- showing ----

void Menu::setAnswerer(Answerer answerer) {
  answererSlot() = std::move(answerer);
}

bool Menu::hasAnswerer() {
  return static_cast<bool>(answererSlot());
}

ns::Ref<MenuItem> Menu::track(const MenuPresentation& presentation, bool perform) {
  auto menu = presentation.menu;
  if (!menu || menu->open_) return nullptr;
  menu->willOpen();
  ns::Ref<MenuItem> chosen;
  bool answered = false;
  auto loop = ns::RunLoop::currentRunLoop();
  // The answer is taken inside a pass of the event-tracking mode, as a user's choice would be:
  // timers of that mode run meanwhile, default-mode ones wait.
  loop->performInModes_block({ns::EventTrackingRunLoopMode}, [&] {
    answered = true;
    auto answerer = answererSlot();
    if (answerer) {
      chosen = answerer(presentation);
      return;
    }
    auto* presenter = activePresenter();
    if (!presenter || !presenter->trackMenu(presentation, chosen))
      ns::Log("AppKit: menu \"%s\" closed with no choice (nothing answers menus)", menu->title().c_str());
  });
  while (!answered && loop->runPendingInMode(ns::EventTrackingRunLoopMode)) {
  }
  menu->didClose();
  if (!chosen) return nullptr;
  if (perform) performActionForItem(chosen);
  return chosen;
}

void Menu::popUpContextMenu_withEvent_forView(const ns::Ref<Menu>& menu, const ns::Ref<Event>& event,
                                              const ns::Ref<View>& view) {
  MenuPresentation p;
  p.kind = MenuPresentation::Kind::Context;
  p.menu = menu;
  p.view = view;
  if (event && view) p.location = view->convertPoint_fromView(event->locationInWindow(), nullptr);
  track(p);
}

bool Menu::popUpMenuPositioningItem_atLocation_inView(const ns::Ref<MenuItem>& item, const Point& location,
                                                      const ns::Ref<View>& view) {
  MenuPresentation p;
  p.kind = MenuPresentation::Kind::PopUp;
  p.menu = self<Menu>();
  p.view = view;
  p.location = location;
  p.positioningItem = item;
  return track(p) != nullptr;
}

ns::Ref<Menu> Menu::copy() const {
  auto menu = ns::make<Menu>();
  menu->title_ = title_;
  menu->autoenables_ = autoenables_;
  menu->delegate_ = delegate_;
  for (const auto& item : items_) menu->addItem(item->copy());
  return menu;
}

}  // namespace ak

PL_CLASS_NAMED(ak::MenuItem, "NSMenuItem", ns::Object) {}
PL_CLASS_NAMED(ak::Menu, "NSMenu", ns::Object) {}
