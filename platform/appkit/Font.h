#pragma once
// Fonts by name and size, through fontconfig and pango. A font exists only when that face is
// installed: no substitute is ever answered. Text is laid out at 72 dots per inch with hinting
// and glyph rounding off, so that it measures the same on every machine. Fonts are immutable
// and may be shared between threads.
#include <memory>
#include <string>

#include "platform/appkit/GraphicsTypes.h"
#include "platform/core/Object.h"

namespace ak {

// The face of the system, bold, title-bar and label fonts.
inline constexpr char kSystemFontFamily[] = "DejaVu Sans";

class Font : public ns::Object {
 public:
  struct Face;  // the pango font description

  Font(std::unique_ptr<Face> face, std::string name, double size);
  ~Font() override;

  // The installed face with that PostScript name, full name or family name, or nullptr.
  // A size of 0 or less means 12 points.
  static ns::Ref<Font> fontWithName_size(const std::string& name, double size);
  static ns::Ref<Font> systemFontOfSize(double size);
  static ns::Ref<Font> boldSystemFontOfSize(double size);
  static ns::Ref<Font> titleBarFontOfSize(double size);
  static ns::Ref<Font> labelFontOfSize(double size);
  static ns::Ref<Font> userFontOfSize(double size);
  // Regular 13, small 11, mini 9.
  static double systemFontSizeForControlSize(ControlSize size);
  static double systemFontSize() { return 13; }
  static double smallSystemFontSize() { return 11; }
  static double labelFontSize() { return 10; }

  const std::string& fontName() const { return name_; }
  std::string familyName() const;
  std::string displayName() const;
  double pointSize() const { return size_; }
  bool isBold() const;
  // Distances above (positive) and below (negative) the baseline.
  double ascender() const;
  double descender() const;

  const Face& face() const { return *face_; }

  bool isEqual(const ns::Object* other) const override;
  std::size_t hash() const override;
  std::string className() const override { return "NSFont"; }
  std::string description() const override;

 private:
  std::unique_ptr<Face> face_;
  std::string name_;
  double size_;
};

}  // namespace ak
