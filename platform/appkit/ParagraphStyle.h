#pragma once
// How a paragraph is aligned and broken into lines.
#include "platform/core/Object.h"

namespace ak {

enum class TextAlignment : int { Left = 0, Right = 1, Center = 2, Justified = 3, Natural = 4 };

enum class LineBreakMode : int {
  WordWrapping = 0,
  CharWrapping = 1,
  Clipping = 2,
  TruncatingHead = 3,
  TruncatingTail = 4,
  TruncatingMiddle = 5,
};

class ParagraphStyle : public ns::Object {
 public:
  ParagraphStyle() = default;
  ParagraphStyle(TextAlignment alignment, LineBreakMode lineBreakMode)
      : alignment_(alignment), lineBreakMode_(lineBreakMode) {}

  static const ns::Ref<ParagraphStyle>& defaultParagraphStyle();

  TextAlignment alignment() const { return alignment_; }
  LineBreakMode lineBreakMode() const { return lineBreakMode_; }
  ns::Ref<class MutableParagraphStyle> mutableCopy() const;

  bool isEqual(const ns::Object* other) const override;
  std::size_t hash() const override { return std::size_t(alignment_) * 8 + std::size_t(lineBreakMode_); }
  std::string className() const override { return "NSParagraphStyle"; }

 protected:
  TextAlignment alignment_ = TextAlignment::Natural;
  LineBreakMode lineBreakMode_ = LineBreakMode::WordWrapping;
};

class MutableParagraphStyle : public ParagraphStyle {
 public:
  using ParagraphStyle::ParagraphStyle;
  void setAlignment(TextAlignment alignment) { alignment_ = alignment; }
  void setLineBreakMode(LineBreakMode mode) { lineBreakMode_ = mode; }
  std::string className() const override { return "NSMutableParagraphStyle"; }
};

}  // namespace ak
