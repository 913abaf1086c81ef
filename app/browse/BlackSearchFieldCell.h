#pragma once
// The cell of the left pane's search field: drawn on the dark "search_bar" image, with the
// magnifier button turned into a menu of the search history and the search order. The chosen
// order is stored under "searchOrder" and decides the request type of later searches.
#include "platform/appkit/TextField.h"

namespace ak {
class Menu;
class MenuItem;
}  // namespace ak

// The orders of the option menu: title, tag and the value stored.
struct SearchOrderMenuEntry {
  const char* title;
  long tag;
  const char* order;
};
inline constexpr SearchOrderMenuEntry kSearchOrderMenu[] = {
    {"relevance", 0, "relevance"}, {"published", 1, "date"},    {"view count", 2, "viewcount"},
    {"rating", 3, "rating"},       {"playlist", 5, "playlist"}, {"channel", 6, "channel"},
};

class BlackSearchFieldCell : public ak::SearchFieldCell {
 public:
  void initWithCoder(ak::NibCoder& coder) override;

  // The option menu, built afresh: the history, "clear search history", the orders.
  ns::Ref<ak::Menu> searchOptionMenu();
  void searchOptionButtonClicked(const ns::Ref<ns::Object>& sender);
  void historyClick(const ns::Ref<ns::Object>& item);
  void historyClearClick(const ns::Ref<ns::Object>& item);
  void searchFrom(const ns::Ref<ns::Object>& item);

  ak::Rect searchTextRectForBounds(const ak::Rect& bounds) const override;
  ak::TextView* setUpFieldEditorAttributes(ak::TextView* textObject) override;
  void drawWithFrame_inView(const ak::Rect& cellFrame, const ns::Ref<ak::View>& controlView) override;

  std::string className() const override { return "BlackSearchFieldCell"; }
};
