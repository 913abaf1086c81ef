#pragma once
// Text with attributes over ranges. Indexes and ranges count UTF-16 code units, as the
// platform does; the text itself is UTF-8, and invalid UTF-8 becomes U+FFFD on the way in.
// Drawing and measuring go through pango in the calling thread's own pango context.
#include <string>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"
#include "platform/core/Types.h"
#include "platform/core/Value.h"

namespace ak {

// The attribute keys.
inline constexpr char FontAttributeName[] = "NSFont";                        // ak::Font
inline constexpr char ForegroundColorAttributeName[] = "NSColor";            // ak::Color
inline constexpr char BackgroundColorAttributeName[] = "NSBackgroundColor";  // ak::Color
inline constexpr char ShadowAttributeName[] = "NSShadow";                    // ak::Shadow
inline constexpr char ParagraphStyleAttributeName[] = "NSParagraphStyle";    // ak::ParagraphStyle
inline constexpr char UnderlineStyleAttributeName[] =
    "NSUnderline";  // number: 0 none, 1 single, 2 thick, 9 double

// Options of boundingRectWithSize_options and drawWithRect_options.
enum StringDrawingOptions : unsigned {
  StringDrawingUsesLineFragmentOrigin = 1 << 0,
  StringDrawingUsesFontLeading = 1 << 1,
  // The glyphs' ink instead of the line boxes (one-line measures only).
  StringDrawingUsesDeviceMetrics = 1 << 3,
  StringDrawingTruncatesLastVisibleLine = 1 << 5,
};

// Texts longer than this many UTF-16 units are laid out cut to it: nothing shows more, and a
// huge title must not stall drawing.
inline constexpr std::size_t kLongestLaidOutText = 8192;

class AttributedString : public ns::Object {
 public:
  explicit AttributedString(std::string string = {}, const ns::Dictionary& attributes = {});

  const std::string& string() const { return string_; }
  std::size_t length() const { return length_; }

  // The attributes at `index`, and the longest range around it with the same ones. Raises
  // NSRangeException when `index` is not below the length.
  ns::Dictionary attributesAtIndex_effectiveRange(std::size_t index, ns::Range* effectiveRange) const;
  ns::Value attribute_atIndex_effectiveRange(const std::string& name, std::size_t index,
                                             ns::Range* effectiveRange) const;
  // The character-level attributes (everything but the paragraph style) at range.location.
  ns::Dictionary fontAttributesInRange(ns::Range range) const;
  ns::Ref<AttributedString> attributedSubstringFromRange(ns::Range range) const;
  bool isEqualToAttributedString(const AttributedString& other) const;

  // The size the text takes on one line per paragraph.
  Size size() const;
  // With StringDrawingUsesLineFragmentOrigin the text wraps to size.width and the rectangle
  // starts at the origin; otherwise it is one line whose origin is the baseline, and with
  // StringDrawingUsesDeviceMetrics the rectangle bounds what its glyphs paint (y up from the
  // baseline; a zero rectangle when nothing is painted).
  Rect boundingRectWithSize_options(Size size, unsigned options) const;
  // At the line box's lower left (unflipped) or upper left (flipped).
  void drawAtPoint(Point point) const;
  // Wrapped, aligned and broken as the paragraph style says, clipped to the rectangle.
  void drawInRect(Rect rect) const;
  void drawWithRect_options(Rect rect, unsigned options) const;

  bool isEqual(const ns::Object* other) const override;
  std::string className() const override { return "NSAttributedString"; }
  std::string description() const override;

  struct Run {
    std::size_t length;  // UTF-16 units
    ns::Dictionary attributes;
  };
  const std::vector<Run>& runs() const { return runs_; }

 protected:
  void checkRange(ns::Range range) const;
  // Splits the runs so that a run boundary falls at `index`; answers the run's position.
  std::size_t splitAt(std::size_t index);
  void mergeRuns();

  std::string string_;
  std::size_t length_ = 0;
  std::vector<Run> runs_;  // cover the whole text; none for the empty text
};

class MutableAttributedString : public AttributedString {
 public:
  using AttributedString::AttributedString;

  void replaceCharactersInRange_withString(ns::Range range, const std::string& string);
  void replaceCharactersInRange_withAttributedString(ns::Range range, const AttributedString& string);
  void deleteCharactersInRange(ns::Range range);
  void appendAttributedString(const AttributedString& string);
  void insertAttributedString_atIndex(const AttributedString& string, std::size_t index);

  void setAttributes_range(const ns::Dictionary& attributes, ns::Range range);
  void addAttribute_value_range(const std::string& name, const ns::Value& value, ns::Range range);
  void addAttributes_range(const ns::Dictionary& attributes, ns::Range range);
  void removeAttribute_range(const std::string& name, ns::Range range);
  // Gives every paragraph touched by the range the paragraph style of its first character.
  void fixAttributesInRange(ns::Range range);
  void beginEditing() {}
  void endEditing() {}

  std::string className() const override { return "NSMutableAttributedString"; }
};

// Drawing and measuring plain strings with attributes.
Size sizeWithAttributes(const std::string& string, const ns::Dictionary& attributes);
Rect boundingRectWithSize_options_attributes(const std::string& string, Size size, unsigned options,
                                             const ns::Dictionary& attributes);
void drawAtPoint_withAttributes(const std::string& string, Point point, const ns::Dictionary& attributes);
void drawInRect_withAttributes(const std::string& string, Rect rect, const ns::Dictionary& attributes);

}  // namespace ak
