#include "platform/appkit/Pasteboard.h"

#include <algorithm>
#include <mutex>

#include "platform/core/NoDestructor.h"
#include "platform/core/Str.h"
#include "platform/net/URL.h"

namespace ak {

namespace {

// The legacy text type is the same entry as the UTF-8 one.
std::string canonical(const std::string& type) {
  return type == StringPboardType ? std::string(PasteboardTypeString) : type;
}

bool validUTF8(const std::uint8_t* p, std::size_t n) {
  static const unsigned minimum[] = {0, 0x80, 0x800, 0x10000};
  std::size_t i = 0;
  while (i < n) {
    unsigned c = p[i];
    std::size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 4;
    if (extra == 4 || n - i <= extra) return false;
    unsigned cp = extra == 0 ? c : c & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

struct Boards {
  std::mutex lock;
  std::map<std::string, ns::Ref<Pasteboard>> byName;
  long unique = 0;
};
Boards& boards() {
  static ns::NoDestructor<Boards> b;
  return *b;
}

}  // namespace

// ---- PasteboardItem ----

const PasteboardItem::Entry* PasteboardItem::find(const std::string& type) const {
  auto key = canonical(type);
  for (const auto& e : entries_)
    if (e.type == key) return &e;
  return nullptr;
}

bool PasteboardItem::put(const std::string& type, ns::Value value, bool plist) {
  if (type.empty()) return false;
  auto key = canonical(type);
  for (auto& e : entries_) {
    if (e.type == key) {
      e.value = std::move(value);
      e.plist = plist;
      return true;
    }
  }
  entries_.push_back({key, std::move(value), plist});
  return true;
}

std::vector<std::string> PasteboardItem::types() const {
  std::vector<std::string> out;
  for (const auto& e : entries_) out.push_back(e.type);
  return out;
}

bool PasteboardItem::setData_forType(const ns::Data& data, const std::string& type) {
  return put(type, ns::Value(data), false);
}
bool PasteboardItem::setString_forType(const std::string& string, const std::string& type) {
  return put(type, ns::Value(string), false);
}
bool PasteboardItem::setPropertyList_forType(const ns::Value& plist, const std::string& type) {
  if (plist.isNil() || plist.isObject()) return false;
  return put(type, plist, true);
}

std::optional<ns::Data> PasteboardItem::dataForType(const std::string& type) const {
  auto e = find(type);
  if (!e || e->plist) return std::nullopt;
  if (e->value.isData()) return e->value.data();
  if (e->value.isString()) return ns::Data(e->value.string());
  return std::nullopt;
}

std::optional<std::string> PasteboardItem::stringForType(const std::string& type) const {
  auto e = find(type);
  if (!e) return std::nullopt;
  if (e->value.isString()) return e->value.string();
  if (!e->plist && e->value.isData()) {
    const auto& d = e->value.data();
    if (!validUTF8(d.bytes(), d.length())) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(d.bytes()), d.length());
  }
  return std::nullopt;
}

ns::Value PasteboardItem::propertyListForType(const std::string& type) const {
  auto e = find(type);
  return e ? e->value : ns::Value();
}

std::optional<std::string> PasteboardItem::availableTypeFromArray(
    const std::vector<std::string>& types) const {
  for (const auto& t : types)
    if (find(t)) return t;
  return std::nullopt;
}

// ---- Pasteboard ----

ns::Ref<Pasteboard> Pasteboard::generalPasteboard() {
  return pasteboardWithName(PasteboardNameGeneral);
}

ns::Ref<Pasteboard> Pasteboard::pasteboardWithName(const std::string& name) {
  if (name.empty()) return pasteboardWithUniqueName();
  auto& b = boards();
  std::lock_guard guard(b.lock);
  auto& slot = b.byName[name];
  if (!slot) slot = std::make_shared<Pasteboard>(name);
  return slot;
}

ns::Ref<Pasteboard> Pasteboard::pasteboardWithUniqueName() {
  auto& b = boards();
  std::lock_guard guard(b.lock);
  auto name = "Pelorin unique pasteboard " + std::to_string(++b.unique);
  auto board = std::make_shared<Pasteboard>(name);
  b.byName[name] = board;
  return board;
}

namespace {
std::function<void(Pasteboard&)>& changeObserver() {
  static ns::NoDestructor<std::function<void(Pasteboard&)>> observer;
  return *observer;
}
}  // namespace

void Pasteboard::setChangeObserver(std::function<void(Pasteboard&)> observer) {
  changeObserver() = std::move(observer);
}

long Pasteboard::clearContents() {
  items_.clear();
  declared_.clear();
  owner_ = nullptr;
  ++changeCount_;
  if (auto& observer = changeObserver()) observer(*this);
  return changeCount_;
}

long Pasteboard::declareTypes_owner(const std::vector<std::string>& types, const ns::Ref<ns::Object>& owner) {
  clearContents();
  return addTypes_owner(types, owner);
}

long Pasteboard::addTypes_owner(const std::vector<std::string>& types, const ns::Ref<ns::Object>& owner) {
  for (const auto& t : types) {
    auto key = canonical(t);
    if (!key.empty() && std::find(declared_.begin(), declared_.end(), key) == declared_.end())
      declared_.push_back(key);
  }
  if (owner) owner_ = owner;
  if (auto& observer = changeObserver()) observer(*this);
  return changeCount_;
}

std::vector<std::string> Pasteboard::types() const {
  std::vector<std::string> out = declared_;
  for (const auto& item : items_)
    for (const auto& t : item->types())
      if (std::find(out.begin(), out.end(), t) == out.end()) out.push_back(t);
  return out;
}

std::optional<std::string> Pasteboard::availableTypeFromArray(const std::vector<std::string>& types) const {
  auto have = this->types();
  for (const auto& t : types)
    if (std::find(have.begin(), have.end(), canonical(t)) != have.end()) return t;
  return std::nullopt;
}

PasteboardItem& Pasteboard::firstItem() {
  if (items_.empty()) items_.push_back(std::make_shared<PasteboardItem>());
  return *items_.front();
}

bool Pasteboard::setData_forType(const ns::Data& data, const std::string& type) {
  addTypes_owner({type}, nullptr);
  return firstItem().setData_forType(data, type);
}
bool Pasteboard::setString_forType(const std::string& string, const std::string& type) {
  addTypes_owner({type}, nullptr);
  return firstItem().setString_forType(string, type);
}
bool Pasteboard::setPropertyList_forType(const ns::Value& plist, const std::string& type) {
  if (!firstItem().setPropertyList_forType(plist, type)) return false;
  addTypes_owner({type}, nullptr);
  return true;
}

std::optional<ns::Data> Pasteboard::dataForType(const std::string& type) const {
  for (const auto& item : items_)
    if (auto d = item->dataForType(type)) return d;
  return std::nullopt;
}
std::optional<std::string> Pasteboard::stringForType(const std::string& type) const {
  for (const auto& item : items_)
    if (auto s = item->stringForType(type)) return s;
  return std::nullopt;
}
ns::Value Pasteboard::propertyListForType(const std::string& type) const {
  for (const auto& item : items_)
    if (auto v = item->propertyListForType(type)) return v;
  return {};
}

bool Pasteboard::writeObjects(const std::vector<ns::Value>& objects) {
  std::vector<ns::Ref<PasteboardItem>> made;
  for (const auto& object : objects) {
    auto item = std::make_shared<PasteboardItem>();
    if (object.isString()) {
      item->setString_forType(object.string(), PasteboardTypeString);
    } else if (auto url = object.isObject() ? object.objectAs<ns::URL>() : nullptr) {
      const auto& text = url->absoluteString();
      bool file = url->scheme() && ns::str::lowercase(*url->scheme()) == "file";
      item->setString_forType(text, file ? PasteboardTypeFileURL : PasteboardTypeURL);
      item->setString_forType(text, PasteboardTypeString);
    } else {
      return false;
    }
    made.push_back(item);
  }
  return writeItems(made);
}

bool Pasteboard::writeItems(const std::vector<ns::Ref<PasteboardItem>>& items) {
  for (const auto& item : items) {
    if (!item) return false;
  }
  for (const auto& item : items) {
    items_.push_back(item);
    addTypes_owner(item->types(), nullptr);
  }
  return true;
}

}  // namespace ak
