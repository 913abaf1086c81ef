#pragma once
// Pasteboards in memory: named boards (the general one, the drag one) holding items, each item
// holding data, a string or a property list per type. The change count grows with every new
// owner or cleared contents. The on-screen presenter bridges the general and drag boards to
// the desktop's clipboard and drag and drop.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ak {

inline constexpr char PasteboardNameGeneral[] = "Apple CFPasteboard general";
inline constexpr char PasteboardNameDrag[] = "Apple CFPasteboard drag";

inline constexpr char PasteboardTypeURL[] = "public.url";
inline constexpr char PasteboardTypeFileURL[] = "public.file-url";
inline constexpr char PasteboardTypeString[] = "public.utf8-plain-text";
// The older name of the UTF-8 text type; both read and write the same contents.
inline constexpr char StringPboardType[] = "NSStringPboardType";
inline constexpr char PasteboardTypePlainText[] = "public.plain-text";
inline constexpr char PasteboardTypeText[] = "public.text";

class PasteboardItem : public ns::Object {
 public:
  // The types in the order they were set.
  std::vector<std::string> types() const;
  bool setData_forType(const ns::Data& data, const std::string& type);
  bool setString_forType(const std::string& string, const std::string& type);
  bool setPropertyList_forType(const ns::Value& plist, const std::string& type);
  // Data of a string is its UTF-8; nullopt when the type is absent or holds a property list.
  std::optional<ns::Data> dataForType(const std::string& type) const;
  // A string of data that is valid UTF-8; nullopt otherwise.
  std::optional<std::string> stringForType(const std::string& type) const;
  ns::Value propertyListForType(const std::string& type) const;
  std::optional<std::string> availableTypeFromArray(const std::vector<std::string>& types) const;

 private:
  struct Entry {
    std::string type;
    ns::Value value;  // data, string or property list
    bool plist = false;
  };
  const Entry* find(const std::string& type) const;
  bool put(const std::string& type, ns::Value value, bool plist);
  std::vector<Entry> entries_;
};

class Pasteboard : public ns::Object {
 public:
  explicit Pasteboard(std::string name = {}) : name_(std::move(name)) {}
  static ns::Ref<Pasteboard> generalPasteboard();
  // The board of that name, made on first use; an empty name gives a new unique board.
  static ns::Ref<Pasteboard> pasteboardWithName(const std::string& name);
  static ns::Ref<Pasteboard> pasteboardWithUniqueName();
  const std::string& name() const { return name_; }

  long changeCount() const { return changeCount_; }
  // Clears the board and announces the types one owner will provide; answers the new count.
  long declareTypes_owner(const std::vector<std::string>& types, const ns::Ref<ns::Object>& owner);
  long addTypes_owner(const std::vector<std::string>& types, const ns::Ref<ns::Object>& owner);
  long clearContents();
  std::vector<std::string> types() const;
  std::optional<std::string> availableTypeFromArray(const std::vector<std::string>& types) const;

  // On the first item (made when needed); setting a type not declared adds it.
  bool setData_forType(const ns::Data& data, const std::string& type);
  bool setString_forType(const std::string& string, const std::string& type);
  bool setPropertyList_forType(const ns::Value& plist, const std::string& type);
  std::optional<ns::Data> dataForType(const std::string& type) const;
  std::optional<std::string> stringForType(const std::string& type) const;
  ns::Value propertyListForType(const std::string& type) const;

  // Adds one item per object: URLs (as "public.url", or "public.file-url" for file URLs, and
  // their text) and strings; answers NO, adding nothing, when an object is neither.
  bool writeObjects(const std::vector<ns::Value>& objects);
  bool writeItems(const std::vector<ns::Ref<PasteboardItem>>& items);
  const std::vector<ns::Ref<PasteboardItem>>& pasteboardItems() const { return items_; }

  // Told after each change of any board's contents (the presenter mirrors the general board
  // on the desktop's clipboard). Main thread.
  static void setChangeObserver(std::function<void(Pasteboard&)> observer);

 private:
  PasteboardItem& firstItem();
  std::string name_;
  long changeCount_ = 0;
  std::vector<std::string> declared_;
  std::vector<ns::Ref<PasteboardItem>> items_;
  ns::Ref<ns::Object> owner_;
};

}  // namespace ak
