// The application's icon on the windows the presenter shows: GTK's window icon, the default icon
// of GTK's own windows, and the _NET_WM_ICON property the window manager reads.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Window.h"
#include "platform/appkit/gtk/Presenter.h"
#include "platform/testing/gtk/Screen.h"

namespace {

// 48 x 32: the left half blue, the right half green, opaque.
ns::Ref<ak::Image> twoColourIcon() {
  std::vector<std::uint8_t> rgba;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 48; ++x) {
      const bool left = x < 24;
      rgba.insert(rgba.end(), {0, std::uint8_t(left ? 0 : 200), std::uint8_t(left ? 220 : 0), 255});
    }
  return ns::make<ak::Image>(48, 32, rgba);
}

struct NetIcon {
  long width = 0, height = 0;
  std::vector<unsigned long> argb;
};

// The window's _NET_WM_ICON, icon by icon.
std::vector<NetIcon> netWmIcons(GtkWindow* toplevel) {
  std::vector<NetIcon> icons;
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(toplevel));
  GdkAtom type = nullptr;
  gint format = 0, length = 0;
  guchar* data = nullptr;
  if (!gdkWindow || !gdk_property_get(gdkWindow, gdk_atom_intern_static_string("_NET_WM_ICON"), GDK_NONE, 0,
                                      1 << 24, FALSE, &type, &format, &length, &data))
    return icons;
  // Items of a 32-bit property come as longs.
  const auto* items = reinterpret_cast<const long*>(data);
  const long count = format == 32 ? length / long(sizeof(long)) : 0;
  for (long at = 0; at + 2 <= count;) {
    NetIcon icon{items[at], items[at + 1], {}};
    if (icon.width <= 0 || icon.height <= 0 || at + 2 + icon.width * icon.height > count) break;
    for (long i = 0; i < icon.width * icon.height; ++i)
      icon.argb.push_back(static_cast<unsigned long>(items[at + 2 + i]) & 0xFFFFFFFFul);
    at += 2 + icon.width * icon.height;
    icons.push_back(std::move(icon));
  }
  g_free(data);
  return icons;
}

TEST(GtkWindowIcon, WindowsShowTheApplicationsIcon) {
  pltest::OnScreenApp app;
  ak::Application::sharedApplication()->setApplicationIconImage(twoColourIcon());
  auto window = app.window(ak::MakeRect(100, 200, 200, 100), ak::TitledWindowMask);
  ASSERT_TRUE(app.waitUntilShown(window));
  auto* toplevel = static_cast<GtkWindow*>(ak::gtk::nativeWindow(*window));
  ASSERT_NE(toplevel, nullptr);
  GdkPixbuf* icon = gtk_window_get_icon(toplevel);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(icon), 48);
  EXPECT_EQ(gdk_pixbuf_get_height(icon), 32);
  const guchar* pixels = gdk_pixbuf_read_pixels(icon);
  const int stride = gdk_pixbuf_get_rowstride(icon);
  EXPECT_EQ(pixels[5 * stride + 5 * 4 + 2], 220);   // blue on the left
  EXPECT_EQ(pixels[5 * stride + 40 * 4 + 1], 200);  // green on the right
  // GTK's own windows (the file chooser, say) take it too.
  GList* defaults = gtk_window_get_default_icon_list();
  EXPECT_NE(defaults, nullptr);
  g_list_free(defaults);

  // The window manager reads them from the window: width, height, then ARGB pixels, per icon.
  auto icons = netWmIcons(toplevel);
  ASSERT_FALSE(icons.empty());
  EXPECT_EQ(icons[0].width, 48);
  EXPECT_EQ(icons[0].height, 32);
  EXPECT_EQ(icons[0].argb[5 * 48 + 5], 0xFF0000DCul);
  EXPECT_EQ(icons[0].argb[5 * 48 + 40], 0xFF00C800ul);
  // Smaller ones follow for the places that show icons small.
  ASSERT_EQ(icons.size(), 3u);
  EXPECT_EQ(icons[1].width, 32);
  EXPECT_EQ(icons[2].width, 16);

  // An icon as large as Pelorin's (256 pixels, past X's request size without big requests)
  // still reaches the window manager, at least in its smaller sizes.
  ak::Application::sharedApplication()->setApplicationIconImage(
      ns::make<ak::Image>(256, 256, std::vector<std::uint8_t>(256 * 256 * 4, 0xFF)));
  auto second = app.window(ak::MakeRect(400, 200, 200, 100), ak::TitledWindowMask);
  ASSERT_TRUE(app.waitUntilShown(second));
  auto large = netWmIcons(static_cast<GtkWindow*>(ak::gtk::nativeWindow(*second)));
  ASSERT_FALSE(large.empty());
  EXPECT_TRUE(std::any_of(large.begin(), large.end(), [](const auto& i) { return i.width == 128; }));
}

}  // namespace
