#pragma once
// The statistics line of a video cell: view count, average rating and bookmark count, each
// after a 13 x 13 icon, laid out from the measured widths of the texts.
#include "platform/appkit/Font.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/View.h"

class ViewAndRatingView : public ak::View {
 public:
  void initWithFrame(const ak::Rect& frame) override;
  using ak::View::init;

  // "AppleSDGothicNeo-Medium" at that size, else the system font of that size.
  static ns::Ref<ak::Font> customFontOfSize(float size);

  // The views in the current locale's decimal style, the rating with one decimal, and the
  // bookmark count (its icon and label hidden when 0).
  void showViews_andRatings_andBookmark(int views, float rating, int bookmarks);
  // Only the string, in the views label at the left edge; every icon and other label hidden.
  void showStringOnly(const std::string& string);
  void setTextColor(const ns::Ref<ak::Color>& color);
  // The "_active" icons while selected.
  void setSelected(bool selected);

  const ns::Ref<ak::ImageView>& imgView() const { return imgView_; }
  const ns::Ref<ak::ImageView>& imgStar() const { return imgStar_; }
  const ns::Ref<ak::ImageView>& imgBookmark() const { return imgBookmark_; }
  const ns::Ref<ak::TextField>& viewLabel() const { return viewLabel_; }
  const ns::Ref<ak::TextField>& starLabel() const { return starLabel_; }
  const ns::Ref<ak::TextField>& bookmarkLabel() const { return bookmarkLabel_; }

  std::string className() const override { return "ViewAndRatingView"; }

 private:
  ns::Ref<ak::TextField> makeLabel(const ak::Rect& frame);

  ns::Ref<ak::ImageView> imgView_, imgStar_, imgBookmark_;
  ns::Ref<ak::TextField> viewLabel_, starLabel_, bookmarkLabel_;
};
