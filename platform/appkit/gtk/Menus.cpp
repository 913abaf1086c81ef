// ak menus shown as GTK menus: pop-up and context menus tracked in the run loop, and the main
// menu as a menu bar. GTK only shows them: enabling, key equivalents and actions stay ak's.
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/gtk/GtkInternal.h"
#include "platform/core/Date.h"
#include "platform/runloop/RunLoop.h"

namespace ak::gtk {

namespace {

constexpr const char* kItemKey = "pelorin-menu-item";
constexpr const char* kMenuKey = "pelorin-menu";

// What a GTK widget stands for; weak, so that a menu changed or freed meanwhile is no danger.
struct ItemLink {
  ns::Weak<MenuItem> item;
};
struct MenuLink {
  ns::Weak<Menu> menu;
};

ns::Ref<MenuItem> itemOf(GtkWidget* widget) {
  auto* link = static_cast<ItemLink*>(g_object_get_data(G_OBJECT(widget), kItemKey));
  return link ? link->item.lock() : nullptr;
}

using Activate = std::function<void(const ns::Ref<MenuItem>&)>;

// The key symbol GTK shows for an item's key equivalent (0 when none fits).
guint keyvalOf(const std::string& key) {
  if (key.empty()) return 0;
  switch (static_cast<unsigned char>(key[0])) {
    case '\r':
      return GDK_KEY_Return;
    case '\t':
      return GDK_KEY_Tab;
    case 0x1b:
      return GDK_KEY_Escape;
    case 0x7f:
    case 0x08:
      return GDK_KEY_BackSpace;
    case ' ':
      return GDK_KEY_space;
    default:
      break;
  }
  const gunichar c = g_utf8_get_char_validated(key.c_str(), static_cast<gssize>(key.size()));
  if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2) || c == 0) return 0;
  // A function key's character: F1... and the arrows.
  if (c >= 0xF704 && c <= 0xF70F) return GDK_KEY_F1 + (c - 0xF704);
  switch (c) {
    case 0xF700:
      return GDK_KEY_Up;
    case 0xF701:
      return GDK_KEY_Down;
    case 0xF702:
      return GDK_KEY_Left;
    case 0xF703:
      return GDK_KEY_Right;
    case 0xF728:
      return GDK_KEY_Delete;
    default:
      break;
  }
  if (isFunctionKeyCharacter(c)) return 0;
  return gdk_unicode_to_keyval(g_unichar_tolower(c));
}

GdkModifierType modifiersOf(const std::string& key, unsigned long mask) {
  guint mods = 0;
  // Command is what this desktop calls Ctrl; ak's Control is the Super key.
  if (mask & CommandKeyMask) mods |= GDK_CONTROL_MASK;
  if (mask & ShiftKeyMask) mods |= GDK_SHIFT_MASK;
  if (mask & AlternateKeyMask) mods |= GDK_MOD1_MASK;
  if (mask & ControlKeyMask) mods |= GDK_SUPER_MASK;
  // An upper-case letter implies Shift.
  if (key.size() == 1 && g_ascii_isupper(key[0])) mods |= GDK_SHIFT_MASK;
  return GdkModifierType(mods);
}

GdkPixbuf* pixbufOf(const Image& image) {
  // Menu images are 16 points high.
  return static_cast<GdkPixbuf*>(newPixbufOfImage(image, 16));
}

void fill(GtkWidget* gtkMenu, const ns::Ref<Menu>& menu, const Activate& activate);

GtkWidget* widgetFor(const ns::Ref<MenuItem>& item, const Activate& activate) {
  if (item->isSeparatorItem()) return gtk_separator_menu_item_new();
  GtkWidget* widget;
  if (item->state() != 0) {
    widget = gtk_check_menu_item_new();
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), item->state() > 0);
    gtk_check_menu_item_set_inconsistent(GTK_CHECK_MENU_ITEM(widget), item->state() < 0);
  } else {
    widget = gtk_menu_item_new();
  }
  // The label shows the key equivalent as text only: GTK holds no accelerators.
  GtkWidget* label = gtk_accel_label_new(item->title().c_str());
  gtk_label_set_use_underline(GTK_LABEL(label), FALSE);
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_accel_label_set_accel_widget(GTK_ACCEL_LABEL(label), widget);
  if (const guint keyval = keyvalOf(item->keyEquivalent()))
    gtk_accel_label_set_accel(GTK_ACCEL_LABEL(label), keyval,
                              modifiersOf(item->keyEquivalent(), item->keyEquivalentModifierMask()));
  GdkPixbuf* pixbuf = item->image() ? pixbufOf(*item->image()) : nullptr;
  if (pixbuf) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    GtkWidget* image = gtk_image_new_from_pixbuf(pixbuf);
    g_object_unref(pixbuf);
    gtk_box_pack_start(GTK_BOX(box), image, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), label, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(widget), box);
  } else {
    gtk_container_add(GTK_CONTAINER(widget), label);
  }
  if (item->indentationLevel() > 0) gtk_widget_set_margin_start(label, int(item->indentationLevel()) * 12);
  gtk_widget_set_sensitive(widget, item->isEnabled() || item->hasSubmenu());
  g_object_set_data_full(
      G_OBJECT(widget), kItemKey, new ItemLink{item}, +[](gpointer p) { delete static_cast<ItemLink*>(p); });
  if (auto sub = item->submenu()) {
    GtkWidget* subMenu = gtk_menu_new();
    fill(subMenu, sub, activate);
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), subMenu);
  } else {
    auto* callback = new Activate(activate);
    g_signal_connect_data(
        widget, "activate", G_CALLBACK(+[](GtkWidget* w, gpointer p) {
          if (auto item = itemOf(w)) (*static_cast<Activate*>(p))(item);
        }),
        callback, +[](gpointer p, GClosure*) { delete static_cast<Activate*>(p); }, GConnectFlags(0));
  }
  return widget;
}

void fill(GtkWidget* gtkMenu, const ns::Ref<Menu>& menu, const Activate& activate) {
  GList* children = gtk_container_get_children(GTK_CONTAINER(gtkMenu));
  for (GList* c = children; c; c = c->next) gtk_widget_destroy(GTK_WIDGET(c->data));
  g_list_free(children);
  g_object_set_data_full(
      G_OBJECT(gtkMenu), kMenuKey, new MenuLink{menu}, +[](gpointer p) { delete static_cast<MenuLink*>(p); });
  // A copy: building asks nothing of ak, but the list must not change under the loop.
  auto items = menu->itemArray();
  for (const auto& item : items) {
    if (item->isHidden()) continue;
    gtk_menu_shell_append(GTK_MENU_SHELL(gtkMenu), widgetFor(item, activate));
  }
  gtk_widget_show_all(gtkMenu);
}

// The height of the menu's items above `item` (where the menu's top goes for the item to sit
// under the pointer).
int offsetOf(GtkWidget* gtkMenu, const ns::Ref<MenuItem>& item) {
  if (!item) return 0;
  int offset = 0;
  GList* children = gtk_container_get_children(GTK_CONTAINER(gtkMenu));
  bool found = false;
  for (GList* c = children; c; c = c->next) {
    GtkWidget* child = GTK_WIDGET(c->data);
    if (itemOf(child) == item) {
      found = true;
      break;
    }
    int natural = 0;
    gtk_widget_get_preferred_height(child, nullptr, &natural);
    offset += natural;
  }
  g_list_free(children);
  if (!found) return 0;
  // The menu's own border and padding above the first item.
  GtkStyleContext* style = gtk_widget_get_style_context(gtkMenu);
  GtkBorder padding{}, border{};
  gtk_style_context_get_padding(style, gtk_style_context_get_state(style), &padding);
  gtk_style_context_get_border(style, gtk_style_context_get_state(style), &border);
  return offset + padding.top + border.top;
}

// ---- pop-up menus ----

// How long after the opening press its release is still part of the click (milliseconds).
constexpr guint32 kReleaseGrace = 500;

struct PopUp {
  GtkWidget* menu = nullptr;
  guint triggerButton = 0;
  guint32 triggerTime = 0;
  ns::Weak<MenuItem> picked;
  bool closed = false;
  bool ending = false;
};

std::vector<PopUp*>& openPopUps() {
  static std::vector<PopUp*> list;
  return list;
}

void popUpEnded(PopUp* popUp) {
  if (popUp->ending || popUp->closed) return;
  popUp->ending = true;
  // An activated item says so right after the menu hides: the end is seen on a later turn.
  g_idle_add_full(
      G_PRIORITY_HIGH_IDLE,
      +[](gpointer p) -> gboolean {
        auto& list = openPopUps();
        auto* popUp = static_cast<PopUp*>(p);
        if (std::find(list.begin(), list.end(), popUp) != list.end()) popUp->closed = true;
        return G_SOURCE_REMOVE;
      },
      popUp, nullptr);
}

}  // namespace

void* newPixbufOfImage(const Image& image, int size) {
  const auto w = image.pixelsWide(), h = image.pixelsHigh();
  auto rgba = image.rgbaBytes();
  if (w == 0 || h == 0 || rgba.size() < w * h * 4) return nullptr;
  GBytes* bytes = g_bytes_new(rgba.data(), rgba.size());
  GdkPixbuf* full = gdk_pixbuf_new_from_bytes(bytes, GDK_COLORSPACE_RGB, TRUE, 8, static_cast<int>(w),
                                              static_cast<int>(h), static_cast<int>(w * 4));
  g_bytes_unref(bytes);
  if (!full || size <= 0) return full;
  void* scaled = newScaledPixbuf(full, size);
  g_object_unref(full);
  return scaled;
}

void* newScaledPixbuf(void* pixbuf, int size) {
  auto* full = static_cast<GdkPixbuf*>(pixbuf);
  const int w = gdk_pixbuf_get_width(full), h = gdk_pixbuf_get_height(full);
  const double scale = double(size) / double(std::max(w, h));
  return gdk_pixbuf_scale_simple(full, std::max(1, int(std::lround(double(w) * scale))),
                                 std::max(1, int(std::lround(double(h) * scale))), GDK_INTERP_BILINEAR);
}

std::string acceleratorLabel(const std::string& keyEquivalent, unsigned long modifierMask) {
  const guint keyval = keyvalOf(keyEquivalent);
  if (!keyval) return {};
  gchar* label = gtk_accelerator_get_label(keyval, modifiersOf(keyEquivalent, modifierMask));
  std::string out = label ? label : "";
  g_free(label);
  return out;
}

ns::Ref<MenuItem> popUpMenu(const ns::Ref<Menu>& menu, void* area, const Rect& anchor,
                            const ns::Ref<MenuItem>& underPointer, double minimumWidth, const void* trigger) {
  auto* widget = static_cast<GtkWidget*>(area);
  GdkWindow* gdkWindow = widget ? gtk_widget_get_window(widget) : nullptr;
  if (!menu || !gdkWindow) return nullptr;
  PopUp popUp;
  popUp.menu = gtk_menu_new();
  g_object_ref_sink(popUp.menu);
  PopUp* self = &popUp;
  fill(popUp.menu, menu, [self](const ns::Ref<MenuItem>& item) {
    if (!self->closed) self->picked = item;
  });
  gtk_menu_attach_to_widget(GTK_MENU(popUp.menu), widget, nullptr);
  if (minimumWidth > 0) gtk_widget_set_size_request(popUp.menu, static_cast<int>(minimumWidth), -1);
  auto ended = G_CALLBACK(+[](GtkWidget*, PopUp* p) { popUpEnded(p); });
  g_signal_connect(popUp.menu, "hide", ended, self);
  g_signal_connect(popUp.menu, "deactivate", ended, self);
  g_signal_connect(popUp.menu, "destroy", ended, self);
  // The release of the press that opened the menu, right after it, is no choice: the menu
  // stays up (a release after a drag onto an item still chooses it).
  const auto* press = static_cast<const GdkEvent*>(trigger);
  if (press && press->type == GDK_BUTTON_PRESS) {
    popUp.triggerButton = press->button.button;
    popUp.triggerTime = press->button.time;
  }
  g_signal_connect(popUp.menu, "button-press-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEventButton*, PopUp* p) -> gboolean {
                     p->triggerButton = 0;  // a new press: its release is a choice
                     return FALSE;
                   }),
                   self);
  g_signal_connect(popUp.menu, "button-release-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, PopUp* p) -> gboolean {
                     const bool first = p->triggerButton && e->button == p->triggerButton &&
                                        e->time - p->triggerTime < kReleaseGrace;
                     p->triggerButton = 0;
                     return first;
                   }),
                   self);
  openPopUps().push_back(self);
  GdkRectangle rect{static_cast<int>(std::lround(anchor.origin.x)),
                    static_cast<int>(std::lround(anchor.origin.y)),
                    std::max(1, static_cast<int>(std::lround(anchor.size.width))),
                    std::max(1, static_cast<int>(std::lround(anchor.size.height)))};
  g_object_set(popUp.menu, "rect-anchor-dy", -offsetOf(popUp.menu, underPointer), "anchor-hints",
               GDK_ANCHOR_FLIP_Y | GDK_ANCHOR_SLIDE | GDK_ANCHOR_RESIZE, nullptr);
  // The press that opened the menu is its trigger; without one GTK falls back on its current
  // event and warns on standard error.
  gtk_menu_popup_at_rect(GTK_MENU(popUp.menu), gdkWindow, &rect, GDK_GRAVITY_NORTH_WEST,
                         GDK_GRAVITY_NORTH_WEST, const_cast<GdkEvent*>(press));
  if (!gtk_widget_get_visible(popUp.menu)) popUpEnded(self);
  // The menu takes the pointer and keyboard; its choice (or none) comes through GLib's context,
  // which turns in every pass of the run loop.
  auto loop = ns::RunLoop::currentRunLoop();
  auto app = Application::sharedApplication();
  while (!popUp.closed) {
    app->updateWindows();
    loop->runMode_beforeDate(ns::EventTrackingRunLoopMode, ns::Date::distantFuture());
  }
  auto& list = openPopUps();
  list.erase(std::remove(list.begin(), list.end(), self), list.end());
  g_signal_handlers_disconnect_by_data(popUp.menu, self);
  gtk_widget_destroy(popUp.menu);
  g_object_unref(popUp.menu);
  return popUp.picked.lock();
}

void cancelPopUpMenus() {
  auto list = openPopUps();
  for (PopUp* p : list) {
    gtk_menu_shell_cancel(GTK_MENU_SHELL(p->menu));
    popUpEnded(p);
  }
}

// ---- the menu bar ----

struct MenuBar::Impl {
  GtkWidget* bar = nullptr;
  ns::Weak<Menu> menu;
  bool rebuildPending = false;
  guint idle = 0;

  // Every menu of the bar asks ak for its items' state before the bar opens.
  void validate() {
    auto root = menu.lock();
    if (!root) return;
    root->update();
    GList* tops = gtk_container_get_children(GTK_CONTAINER(bar));
    for (GList* t = tops; t; t = t->next) refresh(gtk_menu_item_get_submenu(GTK_MENU_ITEM(t->data)));
    g_list_free(tops);
  }

  static void refresh(GtkWidget* gtkMenu) {
    if (!gtkMenu) return;
    GList* children = gtk_container_get_children(GTK_CONTAINER(gtkMenu));
    for (GList* c = children; c; c = c->next) {
      GtkWidget* child = GTK_WIDGET(c->data);
      if (auto item = itemOf(child)) {
        gtk_widget_set_sensitive(child, item->isEnabled() || item->hasSubmenu());
        if (GTK_IS_MENU_ITEM(child)) refresh(gtk_menu_item_get_submenu(GTK_MENU_ITEM(child)));
      }
    }
    g_list_free(children);
  }

  void rebuild() {
    rebuildPending = false;
    auto root = menu.lock();
    GList* children = gtk_container_get_children(GTK_CONTAINER(bar));
    for (GList* c = children; c; c = c->next) gtk_widget_destroy(GTK_WIDGET(c->data));
    g_list_free(children);
    if (!root) return;
    Activate activate = [](const ns::Ref<MenuItem>& item) {
      // The action runs on a pass of its own, once the menu has closed: it may rebuild or
      // empty this very bar.
      ns::RunLoop::mainRunLoop()->performInModes_block({ns::RunLoopCommonModes},
                                                       [item] { Menu::performActionForItem(item); });
    };
    auto tops = root->itemArray();
    for (const auto& top : tops) {
      if (top->isHidden() || top->isSeparatorItem()) continue;
      auto sub = top->submenu();
      // The bar shows each top item's submenu under the submenu's title, as the system's does.
      const std::string title = sub && !sub->title().empty() ? sub->title() : top->title();
      GtkWidget* widget = gtk_menu_item_new_with_label(title.c_str());
      g_object_set_data_full(
          G_OBJECT(widget), kItemKey, new ItemLink{top},
          +[](gpointer p) { delete static_cast<ItemLink*>(p); });
      if (sub) {
        GtkWidget* gtkMenu = gtk_menu_new();
        fill(gtkMenu, sub, activate);
        g_signal_connect(gtkMenu, "show", G_CALLBACK(+[](GtkWidget* m, gpointer) {
                           auto* link = static_cast<MenuLink*>(g_object_get_data(G_OBJECT(m), kMenuKey));
                           if (auto menu = link ? link->menu.lock() : nullptr) {
                             menu->willOpen();
                             refresh(m);
                           }
                         }),
                         nullptr);
        g_signal_connect(gtkMenu, "hide", G_CALLBACK(+[](GtkWidget* m, gpointer) {
                           auto* link = static_cast<MenuLink*>(g_object_get_data(G_OBJECT(m), kMenuKey));
                           if (auto menu = link ? link->menu.lock() : nullptr) menu->didClose();
                         }),
                         nullptr);
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), gtkMenu);
      }
      gtk_menu_shell_append(GTK_MENU_SHELL(bar), widget);
    }
    gtk_widget_show_all(bar);
  }

  bool active() const {
    GList* children = gtk_container_get_children(GTK_CONTAINER(bar));
    bool open = false;
    for (GList* c = children; c && !open; c = c->next) {
      GtkWidget* sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(c->data));
      open = sub && gtk_widget_get_visible(sub);
    }
    g_list_free(children);
    return open;
  }
};

MenuBar::MenuBar() : impl_(std::make_unique<Impl>()) {
  impl_->bar = gtk_menu_bar_new();
  g_object_ref_sink(impl_->bar);
  Impl* impl = impl_.get();
  // Before GTK opens a menu of the bar by a click, ak validates its items.
  g_signal_connect(impl->bar, "button-press-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, Impl* i) -> gboolean {
                     if (!i->active()) i->validate();
                     return FALSE;
                   }),
                   impl);
  // A rebuild asked for while a menu was open waits until the bar closes.
  g_signal_connect(impl->bar, "deactivate", G_CALLBACK(+[](GtkWidget*, Impl* i) {
                     if (i->rebuildPending) MenuBar::scheduleRebuild(i);
                   }),
                   impl);
}

MenuBar::~MenuBar() {
  if (impl_->idle) g_source_remove(impl_->idle);
  g_signal_handlers_disconnect_by_data(impl_->bar, impl_.get());
  gtk_widget_destroy(impl_->bar);
  g_object_unref(impl_->bar);
}

void* MenuBar::widget() const {
  return impl_->bar;
}

void MenuBar::setMenu(const ns::Ref<Menu>& menu) {
  impl_->menu = menu;
  impl_->rebuild();
}

ns::Ref<Menu> MenuBar::menu() const {
  return impl_->menu.lock();
}

void MenuBar::rebuildLater() {
  impl_->rebuildPending = true;
  if (!impl_->active()) scheduleRebuild(impl_.get());
}

void MenuBar::scheduleRebuild(Impl* impl) {
  if (impl->idle) return;
  impl->idle = g_idle_add(
      +[](gpointer p) -> gboolean {
        auto* i = static_cast<Impl*>(p);
        i->idle = 0;
        if (i->active()) return G_SOURCE_REMOVE;  // the bar's deactivate asks again
        if (i->rebuildPending) i->rebuild();
        return G_SOURCE_REMOVE;
      },
      impl);
}

bool MenuBar::prepareToOpen() {
  GList* children = gtk_container_get_children(GTK_CONTAINER(impl_->bar));
  const bool any = children != nullptr;
  g_list_free(children);
  if (any && !impl_->active()) impl_->validate();
  return any;
}

bool MenuBar::isOpen() const {
  return impl_->active();
}

}  // namespace ak::gtk
