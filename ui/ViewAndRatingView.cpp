#include "ui/ViewAndRatingView.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Colors.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Make.h"
#include "platform/core/Format.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/text/NumberFormatter.h"

// The labels stand 3 points up in the 13-point line, which shows only their lower 10 points:
// less than a line of their text, whose top, drawn from the label's top, lost the top of its
// digits ("0" read as "U"). Each label draws its text in the part the line shows instead, with
// the ink of the digits and separators the line can hold (and of the text itself) centred there,
// its top kept whole; a descender may lose its tip.
class StatisticsLabelCell : public ak::TextFieldCell {
 public:
  void drawInteriorWithFrame_inView(const ak::Rect& cellFrame,
                                    const ns::Ref<ak::View>& controlView) override {
    const std::string text = stringValue();
    auto line = controlView ? controlView->superview() : nullptr;
    if (showsEditor_ || text.empty() || !line) {
      ak::TextFieldCell::drawInteriorWithFrame_inView(cellFrame, controlView);
      return;
    }
    const ak::Rect shown =
        ak::IntersectionRect(cellFrame, controlView->convertRect_fromView(line->bounds(), line.get()));
    const ns::Dictionary attributes = textAttributes();
    const ak::Rect box = ak::boundingRectWithSize_options_attributes(text, {}, 0, attributes);
    if (ak::IsEmptyRect(shown) || box.size.height <= shown.size.height) {
      ak::TextFieldCell::drawInteriorWithFrame_inView(shown, controlView);
      return;
    }
    const ak::Rect ink = ak::UnionRect(ak::boundingRectWithSize_options_attributes(
                                           kDigits, {}, ak::StringDrawingUsesDeviceMetrics, attributes),
                                       ak::boundingRectWithSize_options_attributes(
                                           text, {}, ak::StringDrawingUsesDeviceMetrics, attributes));
    // The baseline, down from the top of the shown part, on a whole point.
    const double centred = (shown.size.height + ak::MaxY(ink) + ink.origin.y) / 2;
    const double baseline = std::max(std::round(centred), std::ceil(ak::MaxY(ink)));
    const double top = baseline - ak::MaxY(box);
    const ak::Rect title = titleRectForBounds(cellFrame);
    const double y =
        controlView->isFlipped() ? ak::MinY(shown) + top : ak::MaxY(shown) - top - box.size.height;
    ak::drawInRect_withAttributes(text, ak::MakeRect(title.origin.x, y, title.size.width, box.size.height),
                                  attributes);
  }

  std::string className() const override { return "StatisticsLabelCell"; }

 private:
  static constexpr char kDigits[] = "0123456789,.";
};

PL_CLASS(StatisticsLabelCell, ak::TextFieldCell) {}

namespace {

constexpr char kViewsIcon[] = "views_videocell_icon";
constexpr char kStarsIcon[] = "stars_videocell_icon";
constexpr char kBookmarksIcon[] = "bookmarks_videocell_icon";

ns::Ref<ak::ImageView> makeIcon(const ak::Rect& frame, const std::string& name) {
  auto icon = ak::make<ak::ImageView>(frame);
  icon->setImage(ak::Image::imageNamed(name));
  return icon;
}

float measuredWidth(const std::string& text, const ns::Ref<ak::TextField>& label) {
  ns::Dictionary attributes;
  if (auto font = label->font()) attributes.set(ak::FontAttributeName, ns::Value(font));
  return static_cast<float>(ak::sizeWithAttributes(text, attributes).width);
}

}  // namespace

void ViewAndRatingView::initWithFrame(const ak::Rect& frame) {
  ak::View::initWithFrame(frame);
  imgView_ = makeIcon(ak::MakeRect(0, 2.0, 13.0, 13.0), kViewsIcon);
  imgStar_ = makeIcon(ak::MakeRect(100.0, 2.0, 13.0, 13.0), kStarsIcon);
  imgBookmark_ = makeIcon(ak::MakeRect(130.0, 2.0, 13.0, 13.0), kBookmarksIcon);
  viewLabel_ = makeLabel(ak::MakeRect(15.0, 3.0, 150.0, 13.0));
  starLabel_ = makeLabel(ak::MakeRect(150.0, 3.0, 150.0, 13.0));
  bookmarkLabel_ = makeLabel(ak::MakeRect(180.0, 3.0, 150.0, 13.0));
  for (const ns::Ref<ak::View>& view : std::initializer_list<ns::Ref<ak::View>>{
           imgView_, imgStar_, imgBookmark_, viewLabel_, starLabel_, bookmarkLabel_}) {
    addSubview(view);
  }
}

ns::Ref<ak::TextField> ViewAndRatingView::makeLabel(const ak::Rect& frame) {
  auto label = ak::make<ak::TextField>(frame);
  auto cell = ns::make<StatisticsLabelCell>();
  cell->initTextCell("");
  label->setCell(cell);
  label->setFont(customFontOfSize(11.0f));
  label->setDrawsBackground(false);
  label->setEditable(false);
  label->setBordered(false);
  label->setTextColor(ak::Color::colorWithCalibratedRed_green_blue_alpha(0, 0, 0, 1.0));
  label->setBackgroundColor(ak::colors::clearColor());
  return label;
}

ns::Ref<ak::Font> ViewAndRatingView::customFontOfSize(float size) {
  if (auto font = ak::Font::fontWithName_size("AppleSDGothicNeo-Medium", size)) return font;
  return ak::Font::systemFontOfSize(size);
}

void ViewAndRatingView::showViews_andRatings_andBookmark(int views, float rating, int bookmarks) {
  ns::NumberFormatter formatter;
  formatter.setNumberStyle(ns::NumberFormatter::DecimalStyle);
  const std::string viewsText = formatter.stringFromNumber(views);
  const std::string ratingText = ns::format("%.1f", rating);
  viewLabel_->setStringValue(viewsText);
  starLabel_->setStringValue(ratingText);

  const float w1 = measuredWidth(viewsText, viewLabel_) + 3.0f;
  const float w2 = measuredWidth(ratingText, starLabel_) + 3.0f;
  viewLabel_->setFrame(ak::MakeRect(15.0, 3.0, 150.0, 13.0));
  imgStar_->setFrame(ak::MakeRect(w1 + 22.0f, 2.0, 13.0, 13.0));
  starLabel_->setFrame(ak::MakeRect(w1 + 36.0f, 3.0, 150.0, 13.0));
  imgBookmark_->setFrame(ak::MakeRect(w1 + w2 + 40.0f, 2.0, 13.0, 13.0));
  bookmarkLabel_->setFrame(ak::MakeRect(w1 + w2 + 54.0f, 3.0, 150.0, 13.0));

  imgView_->setHidden(false);
  viewLabel_->setHidden(false);
  imgStar_->setHidden(false);
  starLabel_->setHidden(false);
  if (bookmarks != 0) {
    bookmarkLabel_->setStringValue(ns::format("%d", bookmarks));
    imgBookmark_->setHidden(false);
    bookmarkLabel_->setHidden(false);
  } else {
    imgBookmark_->setHidden(true);
    bookmarkLabel_->setHidden(true);
  }
}

void ViewAndRatingView::showStringOnly(const std::string& string) {
  viewLabel_->setStringValue(string);
  viewLabel_->setFrame(ak::MakeRect(0, 3.0, 150.0, 13.0));
  viewLabel_->setHidden(false);
  starLabel_->setStringValue("");
  imgView_->setHidden(true);
  imgStar_->setHidden(true);
  starLabel_->setHidden(true);
  imgBookmark_->setHidden(true);
  bookmarkLabel_->setHidden(true);
}

void ViewAndRatingView::setTextColor(const ns::Ref<ak::Color>& color) {
  viewLabel_->setTextColor(color);
  starLabel_->setTextColor(color);
  bookmarkLabel_->setTextColor(color);
}

void ViewAndRatingView::setSelected(bool selected) {
  const std::string suffix = selected ? "_active" : "";
  imgView_->setImage(ak::Image::imageNamed(kViewsIcon + suffix));
  imgStar_->setImage(ak::Image::imageNamed(kStarsIcon + suffix));
  imgBookmark_->setImage(ak::Image::imageNamed(kBookmarksIcon + suffix));
}
