#include "app/browse/DragPayloads.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <climits>

#include "app/browse/MenuItem.h"
#include "app/youtube/SearchEntry.h"
#include "app/youtube/YoutubeSupport.h"
#include "platform/appkit/Pasteboard.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/foundation/IndexSet.h"
#include "platform/net/URL.h"
#include "platform/serialization/KeyedArchiver.h"
#include "platform/serialization/KeyedUnarchiver.h"
#include "platform/serialization/PropertyListSerialization.h"

namespace {

std::optional<ns::Data> archive(const ns::Value& root) {
  ns::Error error;
  auto data = ns::KeyedArchiver::archivedDataWithRootObject_requiringSecureCoding_error(root, false, &error);
  if (!data) ns::Log("cannot archive the dragged items: %@", error.localizedDescription());
  return data;
}

// Secure decoding of the root with only these classes; an exception raised by a class's own
// decoding counts as damage.
ns::Value unarchive(const std::vector<std::string>& classes, const ns::Data& data) {
  try {
    ns::Error error;
    return ns::KeyedUnarchiver::unarchivedObjectOfClasses_fromData_error(classes, data, &error);
  } catch (const ns::Exception& exception) {
    ns::Log("refused dragged data: %@", exception.reason());
    return {};
  }
}

// The whole file when it is a regular file of at most the limit. Opened without waiting (a
// FIFO put in the file's place between the checks would block a plain open), then checked again
// on the open descriptor.
std::optional<std::string> readSmallRegularFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uintmax_t>(info.st_size) > kMaxDroppedFileSize)
    return std::nullopt;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> contents;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
      static_cast<std::uintmax_t>(info.st_size) <= kMaxDroppedFileSize) {
    std::string bytes;
    char buffer[16384];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0) {
        bytes.clear();
        break;
      }
      if (got == 0) {
        contents = std::move(bytes);
        break;
      }
      // A file that grows past the limit while read is refused like a large one.
      if (bytes.size() + static_cast<std::size_t>(got) > kMaxDroppedFileSize) break;
      bytes.append(buffer, static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
  return contents;
}

}  // namespace

std::optional<ns::Data> archiveVideoRows(const ns::IndexSet& indexes,
                                         const std::vector<ns::Ref<SearchEntry>>& rows) {
  ns::Array archived;
  for (const auto& row : rows) archived.push_back(ns::Value(row));
  return archive(
      ns::Value(ns::Array{ns::Value(ns::IndexSet::initWithIndexSet(indexes)), ns::Value(archived)}));
}

std::optional<VideoRowsPayload> decodeVideoRows(const ns::Data& data) {
  ns::Value root = unarchive({"NSArray", "NSIndexSet", "SearchEntry"}, data);
  if (!root.isArray() || root.array().size() != 2) return std::nullopt;
  auto indexes = root.array()[0].objectAs<ns::IndexSet>();
  const ns::Value& rows = root.array()[1];
  if (!indexes || !rows.isArray() || rows.array().size() != indexes->count()) return std::nullopt;
  VideoRowsPayload payload;
  indexes->enumerateIndexesUsingBlock([&](std::size_t index, bool* stop) {
    if (index > static_cast<std::size_t>(LONG_MAX)) {
      *stop = true;
      return;
    }
    payload.indexes.push_back(static_cast<long>(index));
  });
  if (payload.indexes.size() != indexes->count()) return std::nullopt;
  for (const ns::Value& value : rows.array()) {
    auto row = value.objectAs<SearchEntry>();
    if (!row || !row->videoid() || row->videoid()->empty()) return std::nullopt;
    payload.rows.push_back(row);
  }
  return payload;
}

std::optional<ns::Data> archiveMenuItems(const std::vector<ns::Ref<MenuItem>>& items) {
  ns::Array archived;
  for (const auto& item : items) archived.push_back(ns::Value(item));
  return archive(ns::Value(archived));
}

std::optional<std::vector<ns::Ref<MenuItem>>> decodeMenuItems(const ns::Data& data) {
  ns::Value root = unarchive({"NSArray", "MenuItem"}, data);
  if (!root.isArray()) return std::nullopt;
  std::vector<ns::Ref<MenuItem>> items;
  for (const ns::Value& value : root.array()) {
    auto item = value.objectAs<MenuItem>();
    if (!item) return std::nullopt;
    items.push_back(item);
  }
  return items;
}

std::optional<std::string> pasteboardItemAddress(const ak::PasteboardItem& item) {
  for (const char* type : {ak::PasteboardTypeURL, ak::PasteboardTypeFileURL, ak::PasteboardTypeString,
                           ak::PasteboardTypePlainText, ak::PasteboardTypeText}) {
    if (auto text = item.stringForType(type)) return text;
  }
  return std::nullopt;
}

std::optional<std::string> webLocationLink(const std::string& fileAddress) {
  if (fileAddress.rfind("file://", 0) != 0) return std::nullopt;
  auto url = ns::URL::URLWithString(fileAddress);
  if (!url) return std::nullopt;
  const std::string path = url->path();
  if (path.empty() || path[0] != '/') return std::nullopt;
  auto bytes = readSmallRegularFile(path);
  if (!bytes) return std::nullopt;
  ns::Error error;
  ns::Value plist;
  try {
    plist = ns::PropertyListSerialization::propertyListWithData(ns::Data(*bytes), &error);
  } catch (const ns::Exception&) {
    return std::nullopt;
  }
  if (!plist.isDictionary()) return std::nullopt;
  const ns::Value* link = plist.dictionary().find(ns::Value("URL"));
  if (!link || !link->isString()) return std::nullopt;
  return link->stringValue();
}

std::optional<std::string> pasteboardItemLink(const ak::PasteboardItem& item) {
  if (auto url = item.stringForType(ak::PasteboardTypeURL)) return url;
  if (auto file = item.stringForType(ak::PasteboardTypeFileURL)) return webLocationLink(*file);
  for (const char* type : {ak::PasteboardTypeString, ak::PasteboardTypePlainText, ak::PasteboardTypeText}) {
    if (auto text = item.stringForType(type)) return text;
  }
  return std::nullopt;
}

std::optional<std::string> videoIdOfLink(const std::string& link) {
  try {
    auto record = YoutubeSupport::initWithYoutubeUrl(link);
    if (record && record->videoid() && !record->videoid()->empty()) return record->videoid();
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

bool LinkCheckMemo::urlDropOk(const std::string& address) {
  if (address_ && *address_ == address) return answer_;
  std::optional<std::string> link = address;
  if (address.rfind("file:///", 0) == 0) link = webLocationLink(address);
  answer_ = link && videoIdOfLink(*link).has_value();
  address_ = address;
  return answer_;
}
