// Drops from other programs: their data becomes the drag pasteboard and a drag session on the
// view under the pointer.
#include <algorithm>

#include "platform/appkit/Dragging.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/appkit/gtk/GtkInternal.h"
#include "platform/core/Str.h"
#include "platform/net/URL.h"

namespace ak::gtk {

namespace {

constexpr std::size_t kMaxDropBytes = 1 << 20;

// An http(s) address, or a file URI on this machine; nothing else is taken.
ns::Ref<ns::URL> acceptableURL(std::string_view text) {
  auto url = ns::URL::URLWithString(ns::str::trimWhitespaceAndNewlines(text));
  if (!url || !url->scheme()) return nullptr;
  const std::string scheme = ns::str::lowercase(*url->scheme());
  if (scheme == "http" || scheme == "https") return url->host() && !url->host()->empty() ? url : nullptr;
  if (scheme != "file") return nullptr;
  auto host = url->host();
  if (host && !host->empty() && ns::str::lowercase(*host) != "localhost") return nullptr;
  return url;
}

std::vector<std::string> lines(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
    start = end + 1;
  }
  return out;
}

// text/x-moz-url: UTF-16 (little-endian here), the address then its title on the next line.
std::string mozURL(std::string_view bytes) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  std::string text;
  for (char16_t u : units) {
    if (u == u'\n') break;
    // Addresses are ASCII; anything else makes the address unusable.
    if (u >= 0x80) return {};
    text.push_back(static_cast<char>(u));
  }
  return text;
}

ns::Ref<View> destinationAt(const ns::Ref<Window>& window, Point point,
                            const std::vector<std::string>& types) {
  auto frame = window->themeFrame();
  if (!frame) return nullptr;
  for (auto view = frame->hitTest(point); view; view = view->superview())
    for (const auto& t : view->registeredDraggedTypes())
      if (std::find(types.begin(), types.end(), t) != types.end()) return view;
  return nullptr;
}

}  // namespace

ns::Ref<Pasteboard> dropPasteboard(const std::string& target, std::string_view bytes) {
  if (bytes.size() > kMaxDropBytes) return nullptr;
  std::vector<ns::Value> objects;
  if (target == "text/uri-list") {
    for (const auto& line : lines(sanitize(bytes))) {
      if (line.empty() || line[0] == '#') continue;
      if (auto url = acceptableURL(line)) objects.emplace_back(url);
    }
  } else if (target == "text/x-moz-url") {
    if (auto url = acceptableURL(mozURL(bytes))) objects.emplace_back(url);
  } else if (target == "text/plain" || target == "text/plain;charset=utf-8" || target == "UTF8_STRING") {
    const std::string text = sanitize(bytes);
    if (text.empty()) return nullptr;
    if (auto url = acceptableURL(text); url && text.find('\n') == std::string::npos) {
      objects.emplace_back(url);
    } else {
      objects.emplace_back(text);
    }
  }
  if (objects.empty()) return nullptr;
  auto board = Pasteboard::pasteboardWithName(PasteboardNameDrag);
  board->clearContents();
  board->writeObjects(objects);
  return board;
}

unsigned long DropSession::update(const ns::Ref<Window>& window, Point point,
                                  const ns::Ref<Pasteboard>& board, unsigned long mask) {
  if (!info_ || info_->draggingPasteboard() != board) {
    leave();
    static long sequence = 1 << 20;
    info_ = std::make_shared<DraggingInfo>(board, nullptr, mask, ++sequence);
  }
  info_->setDestinationWindow(window);
  info_->setDraggingLocation(point);
  info_->setSourceOperationMask(mask);
  auto under = destinationAt(window, point, board->types());
  if (under != target_) {
    if (target_) target_->draggingExited(info_);
    target_ = under;
    operation_ = target_ ? target_->draggingEntered(info_) : DragOperationNone;
  } else if (target_) {
    operation_ = target_->draggingUpdated(info_);
  }
  // A destination cannot perform what the other program does not offer.
  if (!(operation_ & mask)) operation_ = DragOperationNone;
  return operation_;
}

bool DropSession::drop(const ns::Ref<Window>& window, Point point, const ns::Ref<Pasteboard>& board,
                       unsigned long mask) {
  update(window, point, board, mask);
  auto target = target_;
  auto info = info_;
  bool done = false;
  if (target && operation_ != DragOperationNone) {
    done = target->prepareForDragOperation(info) && target->performDragOperation(info);
    if (done) target->concludeDragOperation(info);
  } else if (target) {
    target->draggingExited(info);
  }
  target_ = nullptr;
  info_ = nullptr;
  operation_ = DragOperationNone;
  return done;
}

void DropSession::leave() {
  if (target_ && info_) target_->draggingExited(info_);
  target_ = nullptr;
  info_ = nullptr;
  operation_ = DragOperationNone;
}

namespace {
DropSession& session() {
  static DropSession s;
  return s;
}
// The data of the drag in progress, received once and kept while the pointer moves.
ns::Ref<Pasteboard>& currentBoard() {
  static ns::Ref<Pasteboard> board;
  return board;
}
}  // namespace

unsigned long receiveDropData(const ns::Ref<Window>& window, Point point, const std::string& target,
                              std::string_view bytes, unsigned long mask, bool drop) {
  auto board = dropPasteboard(target, bytes);
  currentBoard() = board;
  if (!board) {
    session().leave();
    return DragOperationNone;
  }
  if (!drop) return session().update(window, point, board, mask);
  return dropNow(window, point, mask);
}

bool hasDropData() {
  return currentBoard() != nullptr;
}

unsigned long dropMotion(const ns::Ref<Window>& window, Point point, unsigned long mask) {
  return currentBoard() ? session().update(window, point, currentBoard(), mask) : DragOperationNone;
}

unsigned long dropNow(const ns::Ref<Window>& window, Point point, unsigned long mask) {
  auto board = std::move(currentBoard());
  currentBoard() = nullptr;
  if (!board) return DragOperationNone;
  const unsigned long operation = session().update(window, point, board, mask);
  return session().drop(window, point, board, mask) ? operation : DragOperationNone;
}

void dropLeft() {
  session().leave();
  currentBoard() = nullptr;
}

}  // namespace ak::gtk
