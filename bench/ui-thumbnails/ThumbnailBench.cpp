// What a list of cached thumbnails costs when it scrolls, side by side in one run:
//  - 1,000 remote image views of 110x83 (scaling 3) given a thumbnail URL whose 480x360 picture
//    is already in the keyed disk cache, each loaded and displayed in a window;
//  - decoding the same stored PNG with gdk-pixbuf and scaling it into 110x83 directly.
// Prints both times and the ratio (ours / reference). The cache lives in a temporary folder.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/BenchKit.h"
#include "lib/cache/GVCache.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Window.h"
#include "ui/FakeImageView.h"

namespace {

ns::Data thumbnailJPEG() {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 480, 360);
  guchar* p = gdk_pixbuf_get_pixels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  unsigned seed = 11;
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

}  // namespace

int main() {
  char pattern[] = "/tmp/pelorin-thumbnail-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string folder = pattern;
  constexpr int kThumbnails = 1000;
  const std::string url = "http://127.0.0.1:9/thumbnails/hq.jpg";
  const std::string key = FakeImageViewCacheKey(url);

  auto cache = GVCache::initWithCacheDirectory(folder + "/GVCache");
  cache->setImage_forKey_withTimeoutInterval(ak::Image::initWithData(thumbnailJPEG()), key,
                                             FakeImageViewCacheLifetime);
  cache->synchronize();
  FakeImageView::setImageCache(cache);

  auto window = ak::make<ak::Window>(ak::MakeRect(0, 0, 110, 83), ak::BorderlessWindowMask);
  window->orderFront(nullptr);
  auto link = ns::URL::URLWithString(url);
  int shown = 0;
  const double ours = benchkit::seconds([&] {
    for (int i = 0; i < kThumbnails; ++i) {
      auto view = ak::make<FakeImageView>(ak::MakeRect(0, 0, 110, 83));
      view->setImageScaling(3);
      view->setImageWithURL_placeholderImage(link, nullptr);
      window->contentView()->addSubview(view);
      window->display();
      shown += view->image() != nullptr;
      view->removeFromSuperview();
    }
  });

  std::stringstream stored;
  stored << std::ifstream(folder + "/GVCache/" + key, std::ios::binary).rdbuf();
  const std::string png = stored.str();
  int scaled = 0;
  const double reference = benchkit::seconds([&] {
    for (int i = 0; i < kThumbnails; ++i) {
      GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
      gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(png.data()), png.size(), nullptr);
      gdk_pixbuf_loader_close(loader, nullptr);
      GdkPixbuf* small =
          gdk_pixbuf_scale_simple(gdk_pixbuf_loader_get_pixbuf(loader), 110, 83, GDK_INTERP_BILINEAR);
      scaled += small != nullptr;
      if (small) g_object_unref(small);
      g_object_unref(loader);
    }
  });

  std::printf(
      "%d cached thumbnails loaded and shown        pelorin %8.3f s   reference %8.3f s   ratio %.2f\n",
      kThumbnails, ours, reference, ours / reference);
  if (shown != kThumbnails || scaled != kThumbnails)
    std::printf("(only %d shown, %d scaled)\n", shown, scaled);
  FakeImageView::setImageCache(nullptr);
  cache->synchronize();
  std::filesystem::remove_all(folder);
  return 0;
}
