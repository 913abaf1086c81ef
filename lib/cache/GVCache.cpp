#include "lib/cache/GVCache.h"

#include <stdlib.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <unordered_map>

#include "platform/appkit/Image.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/core/Str.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/SearchPaths.h"
#include "platform/serialization/KeyedArchiver.h"
#include "platform/serialization/KeyedUnarchiver.h"
#include "platform/serialization/PropertyListSerialization.h"

namespace {

constexpr char kCreated[] = "created";
constexpr char kDeath[] = "death";
constexpr char kBundleIdentifier[] = "com.ordel42.zeravozezi";
constexpr ns::TimeInterval kSaveDelay = 0.5;

std::string pathFor(const std::string& directory, const std::string& key) { return directory + "/" + key; }

// An entry is alive while its "death" lies strictly after now; one without a readable "death"
// is dead.
bool isAlive(const ns::Value& entry, ns::Date now) {
  const ns::Value& death = entry[ns::Value(kDeath)];
  return death.isDate() && death.date() > now;
}

bool fileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

void removeFile(const std::string& path) {
  // A missing file is no error; other failures leave the file as it was.
  ::unlink(path.c_str());
}

// Copies `source` to a side file beside `target` and renames it over the target, so that the
// target holds the old bytes or the whole new copy, never a part and never a stale file.
void copyIntoPlace(const std::string& source, const std::string& directory, const std::string& key) {
  std::string side = directory + "/." + key + ".copy-XXXXXX";
  std::vector<char> templ(side.begin(), side.end());
  templ.push_back('\0');
  int fd = ::mkstemp(templ.data());
  if (fd < 0) return;
  ::close(fd);
  std::string sidePath(templ.data());
  std::error_code ec;
  std::filesystem::copy_file(source, sidePath, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec || ::rename(sidePath.c_str(), pathFor(directory, key).c_str()) != 0) {
    ::unlink(sidePath.c_str());
  }
}

}  // namespace

struct GVCache::State {
  std::string directory;
  ns::Ref<dispatch::Queue> cacheInfoQueue;
  ns::Ref<dispatch::Queue> diskQueue;

  // The index and its save flag, edited under one lock.
  std::mutex indexLock;
  ns::Dictionary cacheInfo;
  bool needsSave = false;
  ns::TimeInterval defaultTimeoutInterval = 0;

  // The published snapshot; the lock is held only to swap or copy the pointer.
  mutable std::mutex snapshotLock;
  std::shared_ptr<const ns::Dictionary> snapshot = std::make_shared<const ns::Dictionary>();

  // Saves write in the order their copies were taken.
  std::mutex saveLock;

  // File work per key, in order: the front job of a key is the one running.
  std::mutex diskLock;
  std::condition_variable diskIdle;
  std::unordered_map<std::string, std::deque<std::function<void()>>> diskWork;
  std::size_t diskOutstanding = 0;

  std::shared_ptr<const ns::Dictionary> currentSnapshot() const {
    std::lock_guard lock(snapshotLock);
    return snapshot;
  }

  // Call with indexLock held, so that snapshots are published in the order of the edits.
  void publishLocked() {
    auto next = std::make_shared<const ns::Dictionary>(cacheInfo);
    std::lock_guard lock(snapshotLock);
    snapshot = std::move(next);
  }

  ns::Value entryFor(const std::string& key) const {
    auto snap = currentSnapshot();
    const ns::Value* entry = snap->find(ns::Value(key));
    return entry ? *entry : ns::Value();
  }

  static void drain(const std::shared_ptr<State>& self, const std::string& key) {
    for (;;) {
      std::function<void()> job;
      {
        std::lock_guard lock(self->diskLock);
        job = self->diskWork[key].front();
      }
      job();
      std::lock_guard lock(self->diskLock);
      auto it = self->diskWork.find(key);
      it->second.pop_front();
      --self->diskOutstanding;
      if (it->second.empty()) {
        self->diskWork.erase(it);
        if (self->diskOutstanding == 0) self->diskIdle.notify_all();
        return;
      }
    }
  }

  // Queues file work for a key behind the key's earlier work; other keys run in parallel.
  static void enqueueDisk(const std::shared_ptr<State>& self, const std::string& key, std::function<void()> job) {
    bool start;
    {
      std::lock_guard lock(self->diskLock);
      auto& queue = self->diskWork[key];
      start = queue.empty();
      queue.push_back(std::move(job));
      ++self->diskOutstanding;
    }
    if (start) dispatch::async(self->diskQueue, [self, key] { drain(self, key); });
  }

  void waitForDisk() {
    std::unique_lock lock(diskLock);
    diskIdle.wait(lock, [&] { return diskOutstanding == 0; });
  }

  void save() {
    std::lock_guard saving(saveLock);
    ns::Dictionary copy;
    {
      std::lock_guard lock(indexLock);
      if (!needsSave) return;
      // Cleared before writing: a change made while the file is written schedules its own save.
      needsSave = false;
      copy = cacheInfo;
    }
    ns::Error error;
    auto xml = ns::PropertyListSerialization::xmlData(ns::Value(std::move(copy)), &error);
    if (!xml || !ns::writeDataToFile(*xml, pathFor(directory, GVCacheIndexFileName), ns::DataWritingAtomic, &error)) {
      ns::Log("GVCache: could not save the index in %@: %@", directory, error);
    }
  }

  static void setNeedsSave(const std::shared_ptr<State>& self) {
    {
      std::lock_guard lock(self->indexLock);
      if (self->needsSave) return;
      self->needsSave = true;
    }
    dispatch::after(kSaveDelay, self->cacheInfoQueue, [self] { self->save(); });
  }
};

bool GVCache::isValidKey(const std::string& key) {
  return !key.empty() && key.size() <= GVCacheMaxKeyLength && key != "." && key != ".." &&
         key != GVCacheIndexFileName &&
         key.find('/') == std::string::npos && key.find('\0') == std::string::npos;
}

namespace {
bool refuse(const std::string& key, const char* operation) {
  if (GVCache::isValidKey(key)) return false;
  ns::Log("GVCache: %s refused the key \"%@\"", operation, key);
  return true;
}
}  // namespace

GVCache::GVCache(const std::string& directory) : directory_(directory), state_(std::make_shared<State>()) {
  State& s = *state_;
  s.directory = directory;
  s.cacheInfoQueue = dispatch::queueCreate("com.ordel42.zeravozezi.GVCache.cacheInfo");
  s.diskQueue = dispatch::queueCreate("com.ordel42.zeravozezi.GVCache.disk", dispatch::QueueAttr::Concurrent);

  // Whatever the index file holds, only well-formed entries of acceptable keys are kept; a key
  // that could name a path outside the folder is dropped without touching any file.
  ns::Dictionary index;
  if (auto bytes = ns::dataWithContentsOfFile(pathFor(directory, GVCacheIndexFileName))) {
    ns::Value plist = ns::PropertyListSerialization::propertyListWithData(*bytes);
    if (plist.isDictionary()) {
      for (const auto& [key, entry] : plist.dictionary()) {
        if (key.isString() && isValidKey(key.string())) index.set(key, entry);
      }
    }
  }

  ns::Error error;
  if (!ns::FileManager::defaultManager()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(
          directory, true, {}, &error)) {
    ns::Log("GVCache: could not create the folder %@: %@", directory, error);
  }

  ns::Date now = ns::Date::now();
  std::vector<ns::Value> dead;
  for (const auto& [key, entry] : index) {
    if (!isAlive(entry, now)) {
      removeFile(pathFor(directory, key.string()));
      dead.push_back(key);
    }
  }
  for (const auto& key : dead) index.remove(key);

  std::lock_guard lock(s.indexLock);
  s.cacheInfo = std::move(index);
  s.publishLocked();
}

GVCache::~GVCache() { synchronize(); }

ns::Ref<GVCache> GVCache::initWithCacheDirectory(const std::string& directory) {
  return ns::make<GVCache>(directory);
}

ns::Ref<GVCache> GVCache::init() {
  std::string caches = ns::userDirectory(ns::CachesDirectory);
  std::string processName = ns::ProcessInfo::processInfo()->processName();
  std::string stale = caches + "/" + processName + "/GVCache";
  std::string current = caches + "/" + kBundleIdentifier + "/GVCache";
  // Only a plain name can name the stale folder; and a process named like the bundle would
  // otherwise delete the very folder it opens.
  if (isValidKey(processName) && stale != current) {
    std::error_code ec;
    std::filesystem::remove_all(stale, ec);
  }
  return initWithCacheDirectory(current);
}

ns::Ref<GVCache> GVCache::globalCache() {
  static const ns::Ref<GVCache>* instance = [] {
    auto cache = init();
    cache->setDefaultTimeoutInterval(86400);
    return new ns::Ref<GVCache>(std::move(cache));
  }();
  return *instance;
}

ns::Ref<GVCache> getSharedGVCache() {
  // Never destroyed: blocks queued at exit may still use it.
  static const ns::Ref<GVCache>* instance = new ns::Ref<GVCache>(GVCache::initWithCacheDirectory(
      ns::userDirectory(ns::CachesDirectory) + "/" + kBundleIdentifier + "/GVCache"));
  return *instance;
}

// ---- reading ----

bool GVCache::hasCacheForKey(const std::string& key) const {
  if (!isValidKey(key)) return false;
  ns::Value entry = state_->entryFor(key);
  if (entry.isNil() || !isAlive(entry, ns::Date::now())) return false;
  return fileExists(pathFor(directory_, key));
}

double GVCache::ageForKey(const std::string& key) const {
  ns::Value entry = state_->entryFor(key);
  const ns::Value& created = entry[ns::Value(kCreated)];
  if (!created.isDate()) return 0;
  return ns::Date::now().timeIntervalSinceDate(created.date());
}

std::optional<ns::Data> GVCache::dataForKey(const std::string& key) const {
  if (!hasCacheForKey(key)) return std::nullopt;
  return ns::dataWithContentsOfFile(pathFor(directory_, key));
}

std::optional<std::string> GVCache::stringForKey(const std::string& key) const {
  auto data = dataForKey(key);
  if (!data) return std::string();
  std::string text = data->toString();
  if (!ns::str::isValidUtf8(text)) return std::nullopt;
  return text;
}

ns::Ref<ak::Image> GVCache::imageForKey(const std::string& key) const {
  auto data = dataForKey(key);
  return data ? ak::Image::initWithData(*data) : nullptr;
}

ns::Value GVCache::plistForKey(const std::string& key) const {
  auto data = dataForKey(key);
  if (!data) return {};
  return ns::PropertyListSerialization::propertyListWithData(*data);
}

ns::Value GVCache::objectForKey(const std::string& key) const {
  auto data = dataForKey(key);
  if (!data) return {};
  try {
    return ns::KeyedUnarchiver::unarchiveObjectWithData(*data);
  } catch (const ns::Exception& e) {
    // A value the unarchiver cannot decode reads as nothing stored; a class's own decoding
    // failure (AutoArchivingException) is for the caller, which expects it.
    if (e.name() != ns::NSInvalidUnarchiveOperationException) throw;
    ns::Log("GVCache: the value for \"%@\" cannot be unarchived: %@", key, e.reason());
    return {};
  }
}

// ---- writing ----

void GVCache::setData_forKey_withTimeoutInterval(const ns::Data& data, const std::string& key,
                                                 ns::TimeInterval timeout) {
  if (refuse(key, "setData")) return;
  std::string path = pathFor(directory_, key);
  State::enqueueDisk(state_, key, [data, path] {
    ns::Error error;
    if (!ns::writeDataToFile(data, path, ns::DataWritingAtomic, &error)) {
      ns::Log("GVCache: could not write %@: %@", path, error);
    }
  });
  setCacheTimeoutInterval_forKey(timeout, key);
}

void GVCache::setString_forKey_withTimeoutInterval(const std::string& text, const std::string& key,
                                                   ns::TimeInterval timeout) {
  setData_forKey_withTimeoutInterval(ns::Data(text), key, timeout);
}

void GVCache::setImage_forKey_withTimeoutInterval(const ns::Ref<ak::Image>& image, const std::string& key,
                                                  ns::TimeInterval timeout) {
  if (refuse(key, "setImage")) return;
  auto png = image ? image->PNGRepresentation() : std::nullopt;
  if (!png) {
    ns::Log("GVCache: the image for \"%@\" has no bitmap and is not stored", key);
    return;
  }
  setData_forKey_withTimeoutInterval(*png, key, timeout);
}

void GVCache::setPlist_forKey_withTimeoutInterval(const ns::Value& plist, const std::string& key,
                                                  ns::TimeInterval timeout) {
  if (refuse(key, "setPlist")) return;
  ns::Error error;
  auto data = ns::PropertyListSerialization::binaryData(plist, &error);
  if (!data) {
    ns::Log("GVCache: the value for \"%@\" is no property list: %@", key, error);
    return;
  }
  setData_forKey_withTimeoutInterval(*data, key, timeout);
}

void GVCache::setObject_forKey_withTimeoutInterval(const ns::Value& object, const std::string& key,
                                                   ns::TimeInterval timeout) {
  if (refuse(key, "setObject")) return;
  ns::Error error;
  auto data = ns::KeyedArchiver::archivedDataWithRootObject_requiringSecureCoding_error(object, false, &error);
  if (!data) {
    ns::Log("GVCache: the value for \"%@\" cannot be archived: %@", key, error);
    return;
  }
  setData_forKey_withTimeoutInterval(*data, key, timeout);
}

void GVCache::setObject_forKey(const ns::Value& object, const std::string& key) {
  setObject_forKey_withTimeoutInterval(object, key, defaultTimeoutInterval());
}

void GVCache::setData_forKey(const ns::Data& data, const std::string& key) {
  setData_forKey_withTimeoutInterval(data, key, defaultTimeoutInterval());
}
void GVCache::setString_forKey(const std::string& text, const std::string& key) {
  setString_forKey_withTimeoutInterval(text, key, defaultTimeoutInterval());
}
void GVCache::setImage_forKey(const ns::Ref<ak::Image>& image, const std::string& key) {
  setImage_forKey_withTimeoutInterval(image, key, defaultTimeoutInterval());
}
void GVCache::setPlist_forKey(const ns::Value& plist, const std::string& key) {
  setPlist_forKey_withTimeoutInterval(plist, key, defaultTimeoutInterval());
}

void GVCache::copyFilePath_asKey_withTimeoutInterval(const std::string& path, const std::string& key,
                                                     ns::TimeInterval timeout) {
  if (refuse(key, "copyFilePath")) return;
  std::string directory = directory_;
  State::enqueueDisk(state_, key, [path, directory, key] { copyIntoPlace(path, directory, key); });
  setCacheTimeoutInterval_forKey(timeout, key);
}

void GVCache::copyFilePath_asKey(const std::string& path, const std::string& key) {
  copyFilePath_asKey_withTimeoutInterval(path, key, defaultTimeoutInterval());
}

void GVCache::setCacheTimeoutInterval_forKey(ns::TimeInterval timeout, const std::string& key) {
  if (refuse(key, "setCacheTimeoutInterval")) return;
  ns::Value entry;
  if (timeout > 0) {
    ns::Date now = ns::Date::now();
    entry = ns::Dictionary{{kCreated, now}, {kDeath, now.dateByAddingTimeInterval(timeout)}};
  }
  {
    std::lock_guard lock(state_->indexLock);
    state_->cacheInfo.set(ns::Value(key), entry);  // nil removes the key
    state_->publishLocked();
  }
  State::setNeedsSave(state_);
}

void GVCache::removeCacheForKey(const std::string& key) {
  if (refuse(key, "removeCacheForKey")) return;
  std::string path = pathFor(directory_, key);
  State::enqueueDisk(state_, key, [path] { removeFile(path); });
  setCacheTimeoutInterval_forKey(0, key);
}

void GVCache::clearCache() {
  std::vector<std::string> keys;
  {
    std::lock_guard lock(state_->indexLock);
    for (const auto& [key, entry] : state_->cacheInfo) keys.push_back(key.string());
    state_->cacheInfo.removeAllObjects();
    state_->publishLocked();
  }
  // Each deletion waits behind the key's earlier writes, so no queued write brings a file back.
  auto pending = std::make_shared<std::pair<std::mutex, std::condition_variable>>();
  auto remaining = std::make_shared<std::size_t>(keys.size());
  for (const auto& key : keys) {
    std::string path = pathFor(directory_, key);
    State::enqueueDisk(state_, key, [path, pending, remaining] {
      removeFile(path);
      std::lock_guard lock(pending->first);
      if (--*remaining == 0) pending->second.notify_all();
    });
  }
  {
    std::unique_lock lock(pending->first);
    pending->second.wait(lock, [&] { return *remaining == 0; });
  }
  State::setNeedsSave(state_);
}

void GVCache::setNeedsSave() { State::setNeedsSave(state_); }

void GVCache::synchronize() {
  state_->waitForDisk();
  state_->save();
}

ns::TimeInterval GVCache::defaultTimeoutInterval() const {
  std::lock_guard lock(state_->indexLock);
  return state_->defaultTimeoutInterval;
}

void GVCache::setDefaultTimeoutInterval(ns::TimeInterval seconds) {
  std::lock_guard lock(state_->indexLock);
  state_->defaultTimeoutInterval = seconds;
}

ns::Dictionary GVCache::frozenCacheInfo() const { return *state_->currentSnapshot(); }
