#include "platform/appkit/AttributedString.h"

#include "platform/appkit/ParagraphStyle.h"
#include "platform/core/Exception.h"
#include "platform/core/NoDestructor.h"
#include "platform/core/Str.h"

namespace ak {

// ---- ParagraphStyle ----

const ns::Ref<ParagraphStyle>& ParagraphStyle::defaultParagraphStyle() {
  static const ns::NoDestructor<ns::Ref<ParagraphStyle>> style(ns::make<ParagraphStyle>());
  return *style;
}

ns::Ref<MutableParagraphStyle> ParagraphStyle::mutableCopy() const {
  return ns::make<MutableParagraphStyle>(alignment_, lineBreakMode_);
}

bool ParagraphStyle::isEqual(const ns::Object* other) const {
  auto* p = dynamic_cast<const ParagraphStyle*>(other);
  return p && p->alignment_ == alignment_ && p->lineBreakMode_ == lineBreakMode_;
}

// ---- AttributedString ----

AttributedString::AttributedString(std::string string, const ns::Dictionary& attributes)
    : string_(ns::str::isValidUtf8(string) ? std::move(string) : ns::str::toUtf8(ns::str::toUtf16(string))),
      length_(ns::str::utf16Length(string_)) {
  if (length_ > 0) runs_.push_back({length_, attributes});
}

void AttributedString::checkRange(ns::Range range) const {
  if (range.location > length_ || range.length > length_ - range.location) {
    ns::Exception::raise_format(ns::NSRangeException, "Range {%lu, %lu} out of bounds; string length %lu",
                                (unsigned long)range.location, (unsigned long)range.length,
                                (unsigned long)length_);
  }
}

ns::Dictionary AttributedString::attributesAtIndex_effectiveRange(std::size_t index,
                                                                  ns::Range* effectiveRange) const {
  if (index >= length_) {
    ns::Exception::raise_format(ns::NSRangeException, "Index %lu out of bounds; string length %lu",
                                (unsigned long)index, (unsigned long)length_);
  }
  std::size_t start = 0;
  for (const auto& run : runs_) {
    if (index < start + run.length) {
      if (effectiveRange) *effectiveRange = ns::MakeRange(start, run.length);
      return run.attributes;
    }
    start += run.length;
  }
  return {};
}

ns::Value AttributedString::attribute_atIndex_effectiveRange(const std::string& name, std::size_t index,
                                                             ns::Range* effectiveRange) const {
  ns::Range range;
  ns::Value value = attributesAtIndex_effectiveRange(index, &range).objectForKey(name);
  if (effectiveRange) {
    // Widen over neighbouring runs with the same value for this attribute.
    std::size_t start = 0, i = 0;
    while (start + runs_[i].length <= index) start += runs_[i++].length;
    std::size_t lo = start, hi = start + runs_[i].length;
    for (std::size_t j = i; j-- > 0 && runs_[j].attributes.objectForKey(name) == value;)
      lo -= runs_[j].length;
    for (std::size_t j = i + 1; j < runs_.size() && runs_[j].attributes.objectForKey(name) == value; ++j) {
      hi += runs_[j].length;
    }
    *effectiveRange = ns::MakeRange(lo, hi - lo);
  }
  return value;
}

ns::Dictionary AttributedString::fontAttributesInRange(ns::Range range) const {
  ns::Dictionary attributes = attributesAtIndex_effectiveRange(range.location, nullptr);
  attributes.removeObjectForKey(ParagraphStyleAttributeName);
  return attributes;
}

ns::Ref<AttributedString> AttributedString::attributedSubstringFromRange(ns::Range range) const {
  checkRange(range);
  auto result = ns::make<AttributedString>(ns::str::substringWithRange(string_, range));
  std::size_t start = 0;
  for (const auto& run : runs_) {
    std::size_t lo = std::max(start, range.location), hi = std::min(start + run.length, range.max());
    if (hi > lo) result->runs_.push_back({hi - lo, run.attributes});
    start += run.length;
  }
  result->mergeRuns();
  return result;
}

bool AttributedString::isEqualToAttributedString(const AttributedString& other) const {
  if (string_ != other.string_ || runs_.size() != other.runs_.size()) return false;
  for (std::size_t i = 0; i < runs_.size(); ++i) {
    if (runs_[i].length != other.runs_[i].length || !(runs_[i].attributes == other.runs_[i].attributes))
      return false;
  }
  return true;
}

bool AttributedString::isEqual(const ns::Object* other) const {
  auto* s = dynamic_cast<const AttributedString*>(other);
  return s && isEqualToAttributedString(*s);
}

std::string AttributedString::description() const {
  std::string out;
  std::size_t start = 0;
  for (const auto& run : runs_) {
    out += ns::str::substring(string_, start, run.length) + run.attributes.description();
    start += run.length;
  }
  return out;
}

std::size_t AttributedString::splitAt(std::size_t index) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < runs_.size(); ++i) {
    if (index == start) return i;
    if (index < start + runs_[i].length) {
      Run tail{start + runs_[i].length - index, runs_[i].attributes};
      runs_[i].length = index - start;
      runs_.insert(runs_.begin() + std::ptrdiff_t(i) + 1, std::move(tail));
      return i + 1;
    }
    start += runs_[i].length;
  }
  return runs_.size();
}

void AttributedString::mergeRuns() {
  std::vector<Run> merged;
  for (auto& run : runs_) {
    if (run.length == 0) continue;
    if (!merged.empty() && merged.back().attributes == run.attributes) {
      merged.back().length += run.length;
    } else {
      merged.push_back(std::move(run));
    }
  }
  runs_ = std::move(merged);
}

// ---- MutableAttributedString ----

void MutableAttributedString::replaceCharactersInRange_withString(ns::Range range,
                                                                  const std::string& string) {
  checkRange(range);
  ns::Dictionary attributes;
  if (length_ > 0) {
    std::size_t from = range.length > 0 ? range.location : (range.location > 0 ? range.location - 1 : 0);
    attributes = attributesAtIndex_effectiveRange(from, nullptr);
  }
  replaceCharactersInRange_withAttributedString(range, AttributedString(string, attributes));
}

void MutableAttributedString::replaceCharactersInRange_withAttributedString(ns::Range range,
                                                                            const AttributedString& string) {
  checkRange(range);
  const std::size_t b0 = ns::str::utf8Offset(string_, range.location),
                    b1 = ns::str::utf8Offset(string_, range.max());
  std::vector<Run> inserted = string.runs();
  std::string text = string_.substr(0, b0) + string.string() + string_.substr(b1);
  std::size_t i = splitAt(range.location), j = splitAt(range.max());
  runs_.erase(runs_.begin() + std::ptrdiff_t(i), runs_.begin() + std::ptrdiff_t(j));
  runs_.insert(runs_.begin() + std::ptrdiff_t(i), inserted.begin(), inserted.end());
  string_ = std::move(text);
  length_ = ns::str::utf16Length(string_);
  mergeRuns();
}

void MutableAttributedString::deleteCharactersInRange(ns::Range range) {
  replaceCharactersInRange_withAttributedString(range, AttributedString());
}

void MutableAttributedString::appendAttributedString(const AttributedString& string) {
  replaceCharactersInRange_withAttributedString(ns::MakeRange(length_, 0), string);
}

void MutableAttributedString::insertAttributedString_atIndex(const AttributedString& string,
                                                             std::size_t index) {
  replaceCharactersInRange_withAttributedString(ns::MakeRange(index, 0), string);
}

void MutableAttributedString::setAttributes_range(const ns::Dictionary& attributes, ns::Range range) {
  checkRange(range);
  if (range.length == 0) return;
  std::size_t i = splitAt(range.location), j = splitAt(range.max());
  runs_.erase(runs_.begin() + std::ptrdiff_t(i), runs_.begin() + std::ptrdiff_t(j));
  runs_.insert(runs_.begin() + std::ptrdiff_t(i), Run{range.length, attributes});
  mergeRuns();
}

void MutableAttributedString::addAttribute_value_range(const std::string& name, const ns::Value& value,
                                                       ns::Range range) {
  ns::Dictionary one;
  one.set(name, value);
  addAttributes_range(one, range);
}

void MutableAttributedString::addAttributes_range(const ns::Dictionary& attributes, ns::Range range) {
  checkRange(range);
  if (range.length == 0) return;
  std::size_t i = splitAt(range.location), j = splitAt(range.max());
  for (std::size_t k = i; k < j; ++k) runs_[k].attributes.addEntriesFromDictionary(attributes);
  mergeRuns();
}

void MutableAttributedString::removeAttribute_range(const std::string& name, ns::Range range) {
  checkRange(range);
  if (range.length == 0) return;
  std::size_t i = splitAt(range.location), j = splitAt(range.max());
  for (std::size_t k = i; k < j; ++k) runs_[k].attributes.removeObjectForKey(name);
  mergeRuns();
}

void MutableAttributedString::fixAttributesInRange(ns::Range range) {
  checkRange(range);
  if (length_ == 0) return;
  const std::u16string text = ns::str::toUtf16(string_);
  auto isBreak = [](char16_t c) { return c == u'\n' || c == u'\r' || c == u'\u2029'; };
  std::size_t start = range.location;
  while (start > 0 && !isBreak(text[start - 1])) --start;
  while (start < length_ && start <= range.max()) {
    std::size_t end = start;
    while (end < length_ && !isBreak(text[end])) ++end;
    if (end < length_) ++end;  // the separator belongs to its paragraph
    ns::Value style = attribute_atIndex_effectiveRange(ParagraphStyleAttributeName, start, nullptr);
    if (style) {
      addAttribute_value_range(ParagraphStyleAttributeName, style, ns::MakeRange(start, end - start));
    } else {
      removeAttribute_range(ParagraphStyleAttributeName, ns::MakeRange(start, end - start));
    }
    if (end == start) break;
    start = end;
    if (range.length == 0) break;
  }
}

// ---- plain strings ----

Size sizeWithAttributes(const std::string& string, const ns::Dictionary& attributes) {
  return AttributedString(string, attributes).size();
}

Rect boundingRectWithSize_options_attributes(const std::string& string, Size size, unsigned options,
                                             const ns::Dictionary& attributes) {
  return AttributedString(string, attributes).boundingRectWithSize_options(size, options);
}

void drawAtPoint_withAttributes(const std::string& string, Point point, const ns::Dictionary& attributes) {
  AttributedString(string, attributes).drawAtPoint(point);
}

void drawInRect_withAttributes(const std::string& string, Rect rect, const ns::Dictionary& attributes) {
  AttributedString(string, attributes).drawInRect(rect);
}

}  // namespace ak
