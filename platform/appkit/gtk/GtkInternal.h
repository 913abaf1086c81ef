#pragma once
// Shared inside the presenter (and with its tests); no GTK types here.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/appkit/Dragging.h"
#include "platform/appkit/Geometry.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/appkit/Presenter.h"

namespace ak {
class Image;
class Menu;
class MenuItem;
class SavePanel;
class View;
class Window;
}  // namespace ak

namespace ak::gtk {

// Text from other programs: at most 1 MiB (cut at a character), invalid UTF-8 replaced.
std::string sanitize(std::string_view text);

// The drag pasteboard made of data another program drops as `target` (text/uri-list,
// text/x-moz-url, text/plain): "public.url" for http(s) addresses, "public.file-url" for file
// URIs of this machine, "public.utf8-plain-text" for text. nullptr when nothing is acceptable
// (more than 1 MiB, only remote files or other schemes).
ns::Ref<Pasteboard> dropPasteboard(const std::string& target, std::string_view bytes);

// One drag from another program over one window: the view under the pointer that registered
// for the board's types hears entered, updated and exited, then the drop.
class DropSession {
 public:
  // Answers the operation the destination would perform.
  unsigned long update(const ns::Ref<Window>& window, Point point, const ns::Ref<Pasteboard>& board,
                       unsigned long mask);
  // Answers whether the destination took the drop.
  bool drop(const ns::Ref<Window>& window, Point point, const ns::Ref<Pasteboard>& board, unsigned long mask);
  void leave();

 private:
  ns::Ref<DraggingInfo> info_;
  ns::Ref<View> target_;
  unsigned long operation_ = DragOperationNone;
};

// The drawing area's drag-data path: data of a drag over `window` at `point` (base
// coordinates) arrived; with `drop` the drop happens. Answers the operation (for a drop: the
// operation when the destination took it, None otherwise).
unsigned long receiveDropData(const ns::Ref<Window>& window, Point point, const std::string& target,
                              std::string_view bytes, unsigned long mask, bool drop);

// With the data already received: the pointer moved, the drop happened, the drag left.
bool hasDropData();
unsigned long dropMotion(const ns::Ref<Window>& window, Point point, unsigned long mask);
unsigned long dropNow(const ns::Ref<Window>& window, Point point, unsigned long mask);
void dropLeft();

// The image as a new GdkPixbuf* (the caller's reference), scaled so that its longer side is
// `size` pixels (0: at its own size); nullptr for an image without pixels.
void* newPixbufOfImage(const Image& image, int size = 0);
// A new GdkPixbuf* of `pixbuf` (a GdkPixbuf*) scaled so that its longer side is `size` pixels.
void* newScaledPixbuf(void* pixbuf, int size);

// ---- menus ----

// What GTK shows for an item's key equivalent ("Ctrl+Q": ak's Command is Ctrl here); "" when
// the key has no symbol.
std::string acceleratorLabel(const std::string& keyEquivalent, unsigned long modifierMask);

// Shows `menu` as a GtkMenu over `area` (a GtkWidget* with its own window) with its top left at
// `anchor`'s (area coordinates from the top left), `underPointer` lowered under it, at least
// `minimumWidth` wide; runs the run loop's event-tracking mode until it closes and answers the
// item chosen (nullptr: none). `trigger` is the GdkEvent* of the press that opened it, if any.
ns::Ref<MenuItem> popUpMenu(const ns::Ref<Menu>& menu, void* area, const Rect& anchor,
                            const ns::Ref<MenuItem>& underPointer, double minimumWidth, const void* trigger);
// Every open pop-up menu closes with no choice.
void cancelPopUpMenus();

// The main menu as a GtkMenuBar: rebuilt from the menu when it changes (later, once no menu of
// the bar is open), its menus validated by ak before they open, and a chosen item's action sent
// on a pass of its own.
class MenuBar {
 public:
  MenuBar();
  ~MenuBar();
  MenuBar(const MenuBar&) = delete;
  MenuBar& operator=(const MenuBar&) = delete;
  void* widget() const;  // GtkWidget*
  void setMenu(const ns::Ref<Menu>& menu);
  ns::Ref<Menu> menu() const;
  void rebuildLater();
  // Validates the menus before the keyboard opens the first; false when the bar is empty.
  bool prepareToOpen();
  bool isOpen() const;

 private:
  struct Impl;
  static void scheduleRebuild(Impl* impl);
  std::unique_ptr<Impl> impl_;
};

// ---- panels ----

// The paths of a chooser's answer: nullopt unless every URI is a file:// URI of this machine
// whose path is valid UTF-8.
std::optional<std::vector<std::string>> pathsOfChosenURIs(const std::vector<std::string>& uris);

using PanelDone = Presenter::PanelDone;
class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // Ends a chooser still up with Cancel.
  virtual void cancel() = 0;
  virtual bool isFinished() const = 0;
};
// Shows the panel's chooser over the GtkWindow* (or application-modal without one); `done`
// runs once with the answer.
std::unique_ptr<FileChooser> showFileChooser(const ns::Ref<SavePanel>& panel, void* parentToplevel,
                                             PanelDone done);

}  // namespace ak::gtk
