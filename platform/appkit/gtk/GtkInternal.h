#pragma once
// Shared inside the presenter (and with its tests); no GTK types here.
#include <string>
#include <string_view>

#include "platform/appkit/Dragging.h"
#include "platform/appkit/Geometry.h"
#include "platform/appkit/Pasteboard.h"

namespace ak {
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

}  // namespace ak::gtk
