#include "platform/foundation/UserDefaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/core/Exception.h"
#include "platform/core/Format.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/core/WarnOnce.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SearchPaths.h"
#include "platform/serialization/PropertyListSerialization.h"

namespace ns {
namespace {

constexpr char kFallbackIdentifier[] = "com.ordel42.zeravozezi";

// Never destroyed: other threads may still read or write defaults while the process exits.
struct Standard {
  std::mutex mutex;
  Ref<UserDefaults> defaults;
  std::optional<std::string> folderOverride;
};
Standard& standard() {
  static NoDestructor<Standard> state;
  return *state;
}

std::string defaultsFolder() {
  std::lock_guard<std::mutex> lock(standard().mutex);
  return standard().folderOverride ? *standard().folderOverride : userConfigDirectory();
}

std::string applicationIdentifier() {
  auto id = Bundle::mainBundle()->bundleIdentifier();
  return id && !id->empty() ? *id : kFallbackIdentifier;
}

std::string baseName(const std::string& path) {
  auto slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > 6 && name.compare(name.size() - 6, 6, ".plist") == 0) name.resize(name.size() - 6);
  return name;
}

// The stores this process found to be no regular file (a folder, a pipe, a device) and said so,
// until one is read or found missing again: every save looks at the store, and one warning tells
// the user.
void noteIrregular(const std::string& path, bool irregular) {
  static NoDestructor<WarnOnce> irregularStores;
  if (irregular)
    irregularStores->warn(path,
                          format("UserDefaults: %@ is no regular file; it is left as it is and changes are "
                                 "kept in memory for this run",
                                 path));
  else
    irregularStores->forget(path);
}

// Whether the store may be written, with the rights a write would use; says once why not. A store
// the user made read-only (or one on a read-only file system) is not replaced behind their back.
// The save writes a new file beside the store and renames it over, so its folder must take new
// files too (a missing folder is made by the save). Said once for what refuses: one folder named
// for all the stores in it.
bool noteWritable(const std::string& path) {
  static NoDestructor<WarnOnce> refusals;
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  for (const auto& [target, mode] : {std::pair{path, W_OK}, std::pair{folder, W_OK | X_OK}}) {
    const int error = ::faccessat(AT_FDCWD, target.c_str(), mode, AT_EACCESS) == 0 ? 0 : errno;
    if (error != 0 && error != ENOENT) {
      refusals->warn(target,
                     format("UserDefaults: %@ cannot be written (%@); it is left as it is and changes "
                            "are kept in memory for this run",
                            target, std::string(std::strerror(error))));
      return false;
    }
    refusals->forget(target);
  }
  return true;
}

// What a look at the store found. A pipe, a device or a folder put in its place, links followed,
// is neither read (it would block the launch for good or never end) nor written (the user's link
// or whatever it names stays as it is). A store that is there but cannot be read (another
// user's, mode 000, a read error) is the user's and is never written over either.
struct StoreRead {
  enum Kind { Missing, Irregular, Unreadable, Read } kind = Missing;
  Data data;
  std::string reason;  // why an unreadable store could not be read
};

StoreRead readStore(const std::string& path) {
  StoreRead result;
  auto unreadable = [&](int error) {
    result.kind = StoreRead::Unreadable;
    result.reason = std::strerror(error);
    return result;
  };
  // Looked at before it is opened: opening a pipe would be its writer's cue.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return unreadable(errno);
    noteIrregular(path, false);
    return result;
  }
  bool regular = S_ISREG(info.st_mode);
  int fd = -1;
  if (regular) {
    // Without waiting, should a pipe have been swapped in since.
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return errno == ENOENT ? result : unreadable(errno);
    regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (!regular) ::close(fd);
  }
  noteIrregular(path, !regular);
  if (!regular) {
    result.kind = StoreRead::Irregular;
    return result;
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      return unreadable(error);
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  ::close(fd);
  result.kind = StoreRead::Read;
  result.data = Data(std::move(bytes));
  return result;
}

// Keeps a store that holds no settings aside rather than overwriting it with the next change.
bool keepAside(const std::string& path) {
  const std::string aside = path + ".corrupt";
  if (std::rename(path.c_str(), aside.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    LogWarning(
        "UserDefaults: %@ holds no settings that can be read and cannot be kept aside (%@); it is left as "
        "it is and changes are kept in memory for this run",
        path, reason);
    return false;
  }
  LogWarning("UserDefaults: %@ holds no settings that can be read; it is kept as %@", path, aside);
  return true;
}

}  // namespace

UserDefaults::UserDefaults(std::string path) : path_(std::move(path)), domainName_(baseName(path_)) {}

Ref<UserDefaults> UserDefaults::standardUserDefaults() {
  std::string folder = defaultsFolder();
  std::string id = applicationIdentifier();
  std::lock_guard<std::mutex> lock(standard().mutex);
  if (!standard().defaults) standard().defaults = make<UserDefaults>(folder + "/" + id + ".plist");
  return standard().defaults;
}

void UserDefaults::resetStandardUserDefaults() {
  Ref<UserDefaults> old;
  {
    std::lock_guard<std::mutex> lock(standard().mutex);
    old = std::move(standard().defaults);
  }
  if (old) old->synchronize();
}

void UserDefaults::setStandardDefaultsFolderForTesting(const std::optional<std::string>& folder) {
  resetStandardUserDefaults();
  std::lock_guard<std::mutex> lock(standard().mutex);
  standard().folderOverride = folder;
}

Ref<UserDefaults> UserDefaults::initWithSuiteName(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return nullptr;
  if (name == applicationIdentifier()) return standardUserDefaults();
  return make<UserDefaults>(defaultsFolder() + "/" + name + ".plist");
}

void UserDefaults::loadLocked() {
  if (loaded_) return;
  loaded_ = true;
  StoreRead store = readStore(path_);
  if (noteUnreadable(store.kind == StoreRead::Unreadable, store.reason)) return;
  if (store.kind != StoreRead::Read) return;
  Value plist = PropertyListSerialization::propertyListWithData(store.data);
  if (plist.isDictionary()) {
    values_ = plist.dictionary();
    return;
  }
  keepAside(path_);
}

bool UserDefaults::noteUnreadable(bool unreadable, const std::string& reason) {
  if (unreadable && !unreadable_) {
    LogWarning(
        "UserDefaults: %@ cannot be read (%@); it is left as it is and changes are kept in memory for this "
        "run",
        path_, reason);
  }
  unreadable_ = unreadable;
  return unreadable;
}

bool UserDefaults::writeLocked() {
  // Take in what another process stored meanwhile; our own unsaved changes win.
  StoreRead store = readStore(path_);
  if (noteUnreadable(store.kind == StoreRead::Unreadable, store.reason)) return false;
  if (store.kind == StoreRead::Irregular) return false;
  if (!unsaved_.empty() && !noteWritable(path_)) return false;
  if (store.kind == StoreRead::Read) {
    Value plist = PropertyListSerialization::propertyListWithData(store.data);
    if (plist.isDictionary()) {
      Dictionary merged = plist.dictionary();
      for (const auto& [key, isSet] : unsaved_) {
        if (isSet) {
          if (const Value* mine = values_.find(Value(key))) merged.set(Value(key), *mine);
        } else {
          merged.remove(Value(key));
        }
      }
      values_ = std::move(merged);
    } else if (!keepAside(path_)) {
      // Damaged since it was loaded (edited by hand, say): what it holds is not ours to drop.
      return false;
    }
  }
  if (unsaved_.empty()) return true;
  auto data = PropertyListSerialization::xmlData(Value(values_));
  if (!data) return false;
  auto slash = path_.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    FileManager::defaultManager()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(
        path_.substr(0, slash), true, {}, nullptr);
  }
  if (!writeDataToFile(*data, path_, DataWritingAtomic)) return false;
  unsaved_.clear();
  return true;
}

Value UserDefaults::lookupLocked(const std::string& key) const {
  Value k(key);
  if (const Value* v = values_.find(k)) return *v;
  if (const Value* v = registered_.find(k)) return *v;
  return Value();
}

Value UserDefaults::objectForKey(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const_cast<UserDefaults*>(this)->loadLocked();
  return lookupLocked(key);
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
  Value v = objectForKey(key);
  if (v.isString()) return v.string();
  if (v.isNumber()) return v.stringValue();
  return std::nullopt;
}

long UserDefaults::integerForKey(const std::string& key) const {
  Value v = objectForKey(key);
  return v.isNumber() || v.isString() ? v.integerValue() : 0;
}

float UserDefaults::floatForKey(const std::string& key) const {
  Value v = objectForKey(key);
  return v.isNumber() || v.isString() ? v.floatValue() : 0.0f;
}

double UserDefaults::doubleForKey(const std::string& key) const {
  Value v = objectForKey(key);
  return v.isNumber() || v.isString() ? v.doubleValue() : 0.0;
}

bool UserDefaults::boolForKey(const std::string& key) const {
  Value v = objectForKey(key);
  return v.isNumber() || v.isString() ? v.boolValue() : false;
}

Value UserDefaults::arrayForKey(const std::string& key) const {
  Value v = objectForKey(key);
  return v.isArray() ? v : Value();
}

Value UserDefaults::dictionaryForKey(const std::string& key) const {
  Value v = objectForKey(key);
  return v.isDictionary() ? v : Value();
}

Value UserDefaults::stringArrayForKey(const std::string& key) const {
  Value v = objectForKey(key);
  if (!v.isArray()) return Value();
  for (const Value& item : v.array()) {
    if (!item.isString()) return Value();
  }
  return v;
}

std::optional<Data> UserDefaults::dataForKey(const std::string& key) const {
  Value v = objectForKey(key);
  if (v.isData()) return v.data();
  return std::nullopt;
}

void UserDefaults::setObject_forKey(const Value& value, const std::string& key) {
  if (!value.isNil() &&
      !PropertyListSerialization::propertyList_isValidForFormat(value, PropertyListXMLFormat_v1_0)) {
    Exception::raise(NSInvalidArgumentException,
                     "Attempt to insert non-property list object " + value.description() + " for key " + key);
  }
  // A key the store cannot hold (a NUL, bytes that are not UTF-8) would fail every later write.
  if (!value.isNil() && !PropertyListSerialization::propertyList_isValidForFormat(
                            Value(Dictionary{{Value(key), Value(true)}}), PropertyListXMLFormat_v1_0)) {
    Exception::raise(NSInvalidArgumentException, "Attempt to insert a value for a key that is not text");
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    loadLocked();
    if (value.isNil()) {
      values_.remove(Value(key));
    } else {
      values_.set(Value(key), value);
    }
    unsaved_[key] = !value.isNil();
    writeLocked();
  }
  postChange();
}

void UserDefaults::registerDefaults(const Dictionary& defaults) {
  std::lock_guard<std::mutex> lock(mutex_);
  registered_.addEntriesFromDictionary(defaults);
}

bool UserDefaults::synchronize() {
  std::lock_guard<std::mutex> lock(mutex_);
  loadLocked();
  return writeLocked();
}

Dictionary UserDefaults::dictionaryRepresentation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  const_cast<UserDefaults*>(this)->loadLocked();
  Dictionary all = registered_;
  all.addEntriesFromDictionary(values_);
  return all;
}

Value UserDefaults::persistentDomainForName(const std::string& name) const {
  if (name == NSGlobalDomain) return Value(Dictionary());
  std::lock_guard<std::mutex> lock(mutex_);
  if (name == NSRegistrationDomain) return Value(registered_);
  if (name != domainName_) return Value();
  const_cast<UserDefaults*>(this)->loadLocked();
  return Value(values_);
}

void UserDefaults::setPersistentDomain_forName(const Dictionary& domain, const std::string& name) {
  if (name != domainName_) return;
  if (!PropertyListSerialization::propertyList_isValidForFormat(Value(domain), PropertyListXMLFormat_v1_0)) {
    Exception::raise(NSInvalidArgumentException, "Attempt to set a non-property list domain for " + name);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    loadLocked();
    for (const auto& [key, value] : values_) {
      if (key.isString() && !domain.contains(key)) unsaved_[key.string()] = false;
    }
    for (const auto& [key, value] : domain) unsaved_[key.string()] = true;
    values_ = domain;
    writeLocked();
  }
  postChange();
}

void UserDefaults::removePersistentDomainForName(const std::string& name) {
  setPersistentDomain_forName({}, name);
}

void UserDefaults::postChange() {
  auto self = std::static_pointer_cast<Object>(weak_from_this().lock());
  NotificationCenter::defaultCenter()->postNotificationName_object(NSUserDefaultsDidChangeNotification, self);
}

}  // namespace ns
