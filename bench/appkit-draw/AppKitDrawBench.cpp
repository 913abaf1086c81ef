// The drawing layer against the libraries under it, side by side in one run:
//  1. decode a 480x360 JPEG and draw it into 110x83 with high interpolation, 1,000 times,
//     beside gdk-pixbuf's own decode plus gdk_pixbuf_scale_simple (bilinear);
//  2. measure 10,000 titles at 12 points, beside bare pango layouts.
// Prints each time and the ratio (ours / reference).
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <pango/pangocairo.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchKit.h"
#include "platform/appkit/AttributedString.h"
#include "platform/appkit/BitmapImageRep.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Image.h"

namespace {

ns::Data thumbnailJPEG() {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 480, 360);
  guchar* p = gdk_pixbuf_get_pixels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  unsigned seed = 7;
  for (int y = 0; y < 360; ++y) {
    for (int x = 0; x < 480; ++x) {
      seed = seed * 1103515245 + 12345;
      guchar* q = p + y * stride + x * 3;
      q[0] = guchar(x / 2 + (seed >> 28)), q[1] = guchar(y / 2), q[2] = guchar((x + y) / 4);
    }
  }
  gchar* buffer = nullptr;
  gsize size = 0;
  gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "jpeg", nullptr, "quality", "85", nullptr);
  ns::Data data(reinterpret_cast<const std::uint8_t*>(buffer), size);
  g_free(buffer);
  g_object_unref(pixbuf);
  return data;
}

void report(const char* what, double ours, double reference) {
  std::printf("%-44s pelorin %8.3f s   reference %8.3f s   ratio %.2f\n", what, ours, reference,
              ours / reference);
}

}  // namespace

int main() {
  const ns::Data jpeg = thumbnailJPEG();
  constexpr int kThumbnails = 1000;
  auto target = ns::make<ak::BitmapImageRep>(110, 83);
  auto context = ak::GraphicsContext::graphicsContextWithBitmapImageRep_flipped(target, true);
  ak::GraphicsContext::setCurrentContext(context);
  context->setImageInterpolation(ak::ImageInterpolation::High);
  const double ours = benchkit::seconds([&] {
    for (int i = 0; i < kThumbnails; ++i) {
      auto image = ak::Image::initWithData(jpeg);
      image->drawInRect_fromRect_operation_fraction(ak::MakeRect(0, 0, 110, 83), ak::ZeroRect,
                                                    ak::CompositingOperation::SourceOver, 1);
    }
  });
  const double reference = benchkit::seconds([&] {
    for (int i = 0; i < kThumbnails; ++i) {
      GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
      gdk_pixbuf_loader_write(loader, jpeg.bytes(), jpeg.length(), nullptr);
      gdk_pixbuf_loader_close(loader, nullptr);
      GdkPixbuf* scaled =
          gdk_pixbuf_scale_simple(gdk_pixbuf_loader_get_pixbuf(loader), 110, 83, GDK_INTERP_BILINEAR);
      g_object_unref(scaled);
      g_object_unref(loader);
    }
  });
  report("1,000 480x360 JPEG thumbnails into 110x83", ours, reference);

  constexpr int kTitles = 10000;
  std::vector<std::string> titles;
  for (int i = 0; i < kTitles; ++i) {
    titles.push_back("Episode " + std::to_string(i) + " – a video title of middling length, " +
                     std::to_string(i * 37 % 1000) + " views");
  }
  ns::Dictionary attributes;
  attributes.set(ak::FontAttributeName, ak::Font::systemFontOfSize(12));
  double width = 0;
  const double oursText = benchkit::seconds([&] {
    for (const auto& title : titles) width += ak::sizeWithAttributes(title, attributes).width;
  });
  PangoFontMap* map = pango_cairo_font_map_new();
  PangoContext* pango = pango_font_map_create_context(map);
  pango_cairo_context_set_resolution(pango, 72);
  PangoFontDescription* desc = pango_font_description_from_string("DejaVu Sans 12px");
  double referenceWidth = 0;
  const double referenceText = benchkit::seconds([&] {
    for (const auto& title : titles) {
      PangoLayout* layout = pango_layout_new(pango);
      pango_layout_set_font_description(layout, desc);
      pango_layout_set_text(layout, title.data(), int(title.size()));
      int w = 0, h = 0;
      pango_layout_get_size(layout, &w, &h);
      referenceWidth += w / double(PANGO_SCALE);
      g_object_unref(layout);
    }
  });
  pango_font_description_free(desc);
  g_object_unref(pango);
  g_object_unref(map);
  report("10,000 titles measured at 12 points", oursText, referenceText);
  std::printf("(mean widths %.2f / %.2f)\n", width / kTitles, referenceWidth / kTitles);
  ak::GraphicsContext::setCurrentContext(nullptr);
  return 0;
}
