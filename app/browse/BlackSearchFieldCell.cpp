#include "app/browse/BlackSearchFieldCell.h"

#include <cmath>

#include "app/browse/LeftViewController.h"
#include "app/browse/SearchHistory.h"
#include "common/IMainWindowController.h"
#include "common/Settings.h"
#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Menu.h"
#include "platform/core/Log.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/MenuPopUpRegularMenuAdditions.h"
#include "ui/MySearchField.h"

PL_CLASS(BlackSearchFieldCell, ak::SearchFieldCell) {
  cls.method<&BlackSearchFieldCell::searchOptionButtonClicked>("searchOptionButtonClicked:");
  cls.method<&BlackSearchFieldCell::historyClick>("historyClick:");
  cls.method<&BlackSearchFieldCell::historyClearClick>("historyClearClick:");
  cls.method<&BlackSearchFieldCell::searchFrom>("searchFrom:");
}

namespace {

ns::Ref<LeftViewController> leftPane() {
  auto main = mainWindowController();
  return main ? main->leftViewController() : nullptr;
}

}  // namespace

void BlackSearchFieldCell::initWithCoder(ak::NibCoder& coder) {
  ak::SearchFieldCell::initWithCoder(coder);
  setTextColor(ak::colors::lightGrayColor());
  setDrawsBackground(false);
  setFocusRingType(ak::FocusRingType::None);
  if (auto button = searchButtonCell()) {
    button->setTarget(self<BlackSearchFieldCell>());
    button->setAction(ns::Sel("searchOptionButtonClicked:"));
    button->setImage(ak::Image::imageNamed("search_button"));
    button->setAlternateImage(ak::Image::imageNamed("search_button_pressed"));
  }
}

ns::Ref<ak::Menu> BlackSearchFieldCell::searchOptionMenu() {
  auto me = self<BlackSearchFieldCell>();
  auto menu = ak::Menu::initWithTitle("");
  bool hasHistory = false;
  if (auto history = getSearchHistory()) {
    for (const auto& query : *history) {
      auto item = menu->addItemWithTitle_action_keyEquivalent(query, ns::Sel("historyClick:"), "");
      item->setTarget(me);
      hasHistory = true;
    }
  }
  if (hasHistory) {
    auto clear = menu->addItemWithTitle_action_keyEquivalent("clear search history",
                                                             ns::Sel("historyClearClick:"), "");
    clear->setTarget(me);
    ns::Log("hasSearchHistory YES");
  }
  menu->addItem(ak::MenuItem::separatorItem());
  const std::string current = getSearchOrder();
  for (const auto& entry : kSearchOrderMenu) {
    if (entry.tag == 5) menu->addItem(ak::MenuItem::separatorItem());
    auto item = menu->addItemWithTitle_action_keyEquivalent(entry.title, ns::Sel("searchFrom:"), "");
    item->setTarget(me);
    item->setTag(entry.tag);
    if (current == entry.order) item->setState(ak::OnState);
  }
  return menu;
}

void BlackSearchFieldCell::searchOptionButtonClicked(const ns::Ref<ns::Object>&) {
  auto menu = searchOptionMenu();
  auto left = leftPane();
  ns::Ref<ak::View> field = left ? std::static_pointer_cast<ak::View>(left->searchField()) : nullptr;
  if (!field) field = controlView();
  if (field) MenuPopUpRegularMenuAdditions::popUpMenu_forView_pullsDown(menu, field, true);
}

void BlackSearchFieldCell::historyClick(const ns::Ref<ns::Object>& object) {
  auto item = std::dynamic_pointer_cast<ak::MenuItem>(object);
  if (!item) return;
  ns::Log("historyClick: %@", item->title());
  if (auto left = leftPane()) left->runSearchWithQuery(item->title());
}

void BlackSearchFieldCell::historyClearClick(const ns::Ref<ns::Object>&) {
  clearSearchHistory();
}

void BlackSearchFieldCell::searchFrom(const ns::Ref<ns::Object>& object) {
  auto item = std::dynamic_pointer_cast<ak::MenuItem>(object);
  if (!item) return;
  ns::Log("historyClick: %@ %ld", item->title(), item->tag());
  for (const auto& entry : kSearchOrderMenu)
    if (entry.tag == item->tag()) setSearchOrder(entry.order);
}

ak::Rect BlackSearchFieldCell::searchTextRectForBounds(const ak::Rect& bounds) const {
  ak::Rect rect = ak::SearchFieldCell::searchTextRectForBounds(bounds);
  rect.origin.x += 5;
  rect.size.width -= 5;
  return rect;
}

ak::TextView* BlackSearchFieldCell::setUpFieldEditorAttributes(ak::TextView* textObject) {
  textObject = ak::SearchFieldCell::setUpFieldEditorAttributes(textObject);
  if (!textObject) return textObject;
  textObject->setInsertionPointColor(ak::colors::lightGrayColor());
  textObject->setTextColor(ak::colors::lightGrayColor());
  textObject->setDrawsBackground(false);
  ns::Dictionary selected = textObject->selectedTextAttributes();
  selected.set(ak::BackgroundColorAttributeName, ns::Value(ak::colors::darkGrayColor()));
  textObject->setSelectedTextAttributes(selected);
  return textObject;
}

void BlackSearchFieldCell::drawWithFrame_inView(const ak::Rect& cellFrame,
                                                const ns::Ref<ak::View>& controlView) {
  auto context = ak::GraphicsContext::currentContext();
  ak::GraphicsContext::saveGraphicsState();
  if (!isEnabled() && context) context->setAlpha(0.5);
  if (auto image = ak::Image::imageNamed("search_bar"))
    image->drawInRect_fromRect_operation_fraction_respectFlipped_hints(
        cellFrame, ak::ZeroRect, ak::CompositingOperation::SourceOver, 1.0, true, nullptr);
  const double cellHeight = cellSizeForBounds(cellFrame).height;
  ak::Rect interior = cellFrame;
  interior.size.height = cellHeight;
  interior.origin.y = std::round(cellFrame.origin.y + cellFrame.size.height * 0.5 - cellHeight * 0.5) - 1;
  drawInteriorWithFrame_inView(interior, controlView);
  ak::GraphicsContext::restoreGraphicsState();
}
