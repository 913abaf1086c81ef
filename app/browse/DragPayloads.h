#pragma once
// What the list panes and the source list put on drag pasteboards and read back from them: the
// archives of dragged rows and source-list nodes, and the video links of items dragged in from
// other programs. Everything read here comes from another program as far as we know: the
// decoders take only the expected classes and shapes, and a dropped file is read only when it
// is a regular file of at most kMaxDroppedFileSize bytes, without ever waiting on it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Object.h"

class SearchEntry;
class MenuItem;
namespace ak {
class PasteboardItem;
}
namespace ns {
class IndexSet;
}

inline constexpr char kVideoTableViewDragType[] = "VideoTableViewDragAndDropDataType";
inline constexpr char kPlaylistTableViewDragType[] = "PlaylistTableViewDragAndDropDataType";
inline constexpr std::uintmax_t kMaxDroppedFileSize = 1u << 20;

// ---- dragged rows: [index set, rows] ----
std::optional<ns::Data> archiveVideoRows(const ns::IndexSet& indexes,
                                         const std::vector<ns::Ref<SearchEntry>>& rows);
struct VideoRowsPayload {
  std::vector<long> indexes;  // ascending
  std::vector<ns::Ref<SearchEntry>> rows;
};
// Nil unless the data is a keyed archive of exactly [index set, array of as many rows as indexes].
std::optional<VideoRowsPayload> decodeVideoRows(const ns::Data& data);

// ---- dragged source-list nodes ----
std::optional<ns::Data> archiveMenuItems(const std::vector<ns::Ref<MenuItem>>& items);
// Nil unless the data is a keyed archive of an array of nodes.
std::optional<std::vector<ns::Ref<MenuItem>>> decodeMenuItems(const ns::Data& data);

// ---- links from other programs ----
// The address an item carries, first found of: its URL, its file URL (as the address of the
// file, not read here), its UTF-8 plain text, plain text, text.
std::optional<std::string> pasteboardItemAddress(const ak::PasteboardItem& item);
// The "URL" value of the web-location property list at a "file://" address; nil for any other
// address, a file that is not regular, larger than kMaxDroppedFileSize or unreadable, or whose
// contents are no dictionary with a string "URL".
std::optional<std::string> webLocationLink(const std::string& fileAddress);
// The address of the item with a file URL replaced by the link of its file.
std::optional<std::string> pasteboardItemLink(const ak::PasteboardItem& item);
// The video id a link names, nil when none.
std::optional<std::string> videoIdOfLink(const std::string& link);

// The answer for the last address examined, so that a drag that moves over a target asks once.
class LinkCheckMemo {
 public:
  // Whether the address (a "file://" address is read as a web-location file) names a video.
  bool urlDropOk(const std::string& address);

 private:
  std::optional<std::string> address_;
  bool answer_ = false;
};
