#pragma once
// Boxes: a titled frame, a separator, or (custom) a fill with a border and corner radius.
#include <string>

#include "platform/appkit/Color.h"
#include "platform/appkit/View.h"

namespace ak {

enum class BoxType : int { Primary = 0, Secondary = 1, Separator = 2, OldStyle = 3, Custom = 4 };
enum class TitlePosition : int { NoTitle = 0, AboveTop = 1, AtTop = 2, BelowTop = 3 };

class Box : public View {
 public:
  void initWithFrame(const Rect& frame) override;
  using View::init;
  const std::string& title() const { return title_; }
  void setTitle(const std::string& title);
  TitlePosition titlePosition() const { return titlePosition_; }
  void setTitlePosition(TitlePosition position);
  BoxType boxType() const { return type_; }
  void setBoxType(BoxType type);
  // Custom boxes only.
  ns::Ref<Color> fillColor() const { return fill_; }
  void setFillColor(const ns::Ref<Color>& color);
  ns::Ref<Color> borderColor() const { return border_; }
  void setBorderColor(const ns::Ref<Color>& color);
  double borderWidth() const { return borderWidth_; }
  void setBorderWidth(double width);
  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double radius);
  bool isTransparent() const { return transparent_; }
  void setTransparent(bool transparent);
  // The area inside the border (and below the title), where the content view sits.
  ns::Ref<View> contentView() const { return content_; }
  void setContentView(const ns::Ref<View>& view);
  Rect contentRect() const;
  void setFrameSize(const Size& size) override;
  void drawRect(const Rect& dirtyRect) override;
  std::string className() const override { return "NSBox"; }

 private:
  std::string title_ = "Title";
  TitlePosition titlePosition_ = TitlePosition::AtTop;
  BoxType type_ = BoxType::Primary;
  ns::Ref<Color> fill_;
  ns::Ref<Color> border_;
  double borderWidth_ = 1;
  double cornerRadius_ = 0;
  bool transparent_ = false;
  ns::Ref<View> content_;
};

}  // namespace ak
