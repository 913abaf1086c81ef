#pragma once
// The pango side of fonts and text. Included only by the .cpp files of this folder.
#include <pango/pangocairo.h>

#include "platform/appkit/Font.h"

namespace ak {

struct Font::Face {
  explicit Face(PangoFontDescription* d) : desc(d) {}
  ~Face() { pango_font_description_free(desc); }
  Face(const Face&) = delete;
  Face& operator=(const Face&) = delete;
  PangoFontDescription* desc;
};

// The calling thread's pango context: 72 dpi, no hinting, no glyph rounding.
PangoContext* threadPangoContext();

// The font of text without a font attribute: DejaVu Sans 12.
const ns::Ref<Font>& defaultTextFont();

}  // namespace ak
