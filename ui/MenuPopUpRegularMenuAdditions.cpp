#include "ui/MenuPopUpRegularMenuAdditions.h"

#include "platform/appkit/PopUpButton.h"

namespace {

void popUpCopy(const ns::Ref<ak::Menu>& menu, const ak::Rect& frame, const ns::Ref<ak::View>& view,
               bool pullsDown) {
  if (!menu) return;
  auto copy = menu->copy();
  if (pullsDown) copy->insertItemWithTitle_action_keyEquivalent_atIndex("", ns::Sel(), "", 0);
  auto cell = ns::make<ak::PopUpButtonCell>();
  cell->initTextCell_pullsDown("", pullsDown);
  cell->setMenu(copy);
  if (!pullsDown && copy->numberOfItems() > 0) cell->selectItemAtIndex(0);
  cell->performClickWithFrame_inView(frame, view);
}

}  // namespace

void MenuPopUpRegularMenuAdditions::popUpMenu_forView_pullsDown(const ns::Ref<ak::Menu>& menu,
                                                                const ns::Ref<ak::View>& view,
                                                                bool pullsDown) {
  const ak::Size size = view ? view->frame().size : ak::ZeroSize;
  popUpCopy(menu, ak::MakeRect(0, 0, size.width, size.height), view, pullsDown);
}

void MenuPopUpRegularMenuAdditions::popUpMenu_forLoginButton(const ns::Ref<ak::Menu>& menu,
                                                             const ns::Ref<ak::Button>& button) {
  const ak::Size size = button ? button->frame().size : ak::ZeroSize;
  popUpCopy(menu, ak::MakeRect(size.width - 100.0, 0, 100.0, size.height), button, true);
}
