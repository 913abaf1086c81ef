#include "lib/cache/GVCache.h"

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "platform/appkit/Image.h"
#include "platform/core/Exception.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
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
// Marks cacheInfoQueue with its cache's state (queue-specific data).
constexpr char kIndexQueueKey = 0;

std::string pathFor(const std::string& directory, const std::string& key) {
  return directory + "/" + key;
}

// An entry is alive while its "death" lies strictly after now; one without a readable "death"
// is dead.
bool isAlive(const ns::Value& entry, ns::Date now) {
  const ns::Value& death = entry[ns::Value(kDeath)];
  return death.isDate() && death.date() > now;
}

bool fileExists(const std::string& path) {
  return ::access(path.c_str(), F_OK) == 0;
}

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

// The entry's death date: a lifetime that reaches past what the index can hold (the year 9999
// of a property list date) or is no number would make every later save of the index fail, so it
// is clamped to the distant future.
ns::Date deathAfter(ns::Date now, ns::TimeInterval timeout) {
  ns::Date far = ns::Date::distantFuture();
  if (!std::isfinite(timeout) || timeout >= far.timeIntervalSinceDate(now)) return far;
  return now.dateByAddingTimeInterval(timeout);
}

// Whether `name` is a side file that a write or copy into place makes beside the file `key`
// (".<key>.XXXXXX" or ".<key>.copy-XXXXXX"): left behind only when the process died meanwhile.
bool isSideFileName(const std::string& name, std::string* key) {
  constexpr std::size_t kUnique = 6;  // mkstemp's XXXXXX
  if (name.size() < 1 + 1 + 1 + kUnique || name[0] != '.') return false;
  std::string_view unique = std::string_view(name).substr(name.size() - kUnique);
  for (char c : unique) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  }
  std::string_view rest = std::string_view(name).substr(1, name.size() - 1 - kUnique);
  if (rest.size() > 6 && rest.substr(rest.size() - 6) == ".copy-") {
    *key = std::string(rest.substr(0, rest.size() - 6));
  } else if (rest.size() > 1 && rest.back() == '.') {
    *key = std::string(rest.substr(0, rest.size() - 1));
  } else {
    return false;
  }
  return true;
}

}  // namespace

struct GVCache::State {
  std::string directory;
  ns::Ref<dispatch::Queue> cacheInfoQueue;
  ns::Ref<dispatch::Queue> diskQueue;

  // Owned by cacheInfoQueue: the index as it is saved, and whether a save is scheduled.
  ns::Dictionary cacheInfo;
  bool needsSave = false;

  std::atomic<ns::TimeInterval> defaultTimeoutInterval{0};

  // The published snapshot: what readers see. Every change edits it under this lock and queues
  // the same edit to the index while still holding it, so that the index takes the changes in
  // the snapshot's order. The lock is held only to copy or swap the pointer and to queue.
  mutable std::mutex snapshotLock;
  std::shared_ptr<const ns::Dictionary> snapshot = std::make_shared<const ns::Dictionary>();

  // File work per key, in order: the front job of a key is the one running.
  std::mutex diskLock;
  std::condition_variable diskIdle;
  std::unordered_map<std::string, std::deque<std::function<void()>>> diskWork;
  std::size_t diskOutstanding = 0;

  // In Debug builds, methods that touch what cacheInfoQueue owns check that they run there, so
  // that a call from elsewhere fails at once in the tests instead of racing.
  void assertOnIndexQueue() const {
#ifndef NDEBUG
    if (dispatch::getSpecific(&kIndexQueueKey) != this) {
      std::fprintf(stderr, "GVCache: the index of %s was touched off its queue\n", directory.c_str());
      std::abort();
    }
#endif
  }

  std::shared_ptr<const ns::Dictionary> currentSnapshot() const {
    std::lock_guard lock(snapshotLock);
    return snapshot;
  }

  ns::Value entryFor(const std::string& key) const {
    auto snap = currentSnapshot();
    const ns::Value* entry = snap->find(ns::Value(key));
    return entry ? *entry : ns::Value();
  }

  // Sets (or, with nil, removes) the key's entry: in the snapshot at once, in the index on its
  // queue.
  static void setEntry(const std::shared_ptr<State>& self, const std::string& key, const ns::Value& entry) {
    std::lock_guard lock(self->snapshotLock);
    auto next = std::make_shared<ns::Dictionary>(*self->snapshot);
    next->set(ns::Value(key), entry);  // nil removes the key
    self->snapshot = std::move(next);
    dispatch::Time changed = dispatch::time(0);
    dispatch::async(self->cacheInfoQueue, [self, key, entry, changed] {
      self->assertOnIndexQueue();
      self->cacheInfo.set(ns::Value(key), entry);
      scheduleSave(self, changed);
    });
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
  static void enqueueDisk(const std::shared_ptr<State>& self, const std::string& key,
                          std::function<void()> job) {
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

  // The save step, on cacheInfoQueue.
  void save() {
    assertOnIndexQueue();
    if (!needsSave) return;
    needsSave = false;
    ns::Error error;
    auto xml = ns::PropertyListSerialization::xmlData(ns::Value(cacheInfo), &error);
    if (!xml ||
        !ns::writeDataToFile(*xml, pathFor(directory, GVCacheIndexFileName), ns::DataWritingAtomic, &error)) {
      ns::LogWarning("GVCache: could not save the index in %@: %@", directory, error);
    }
  }

  // On cacheInfoQueue: a save half a second after the change made at `changed` unless one is
  // scheduled. Counted from the change, not from when this block runs, so the delay does not
  // grow while the queue is busy.
  static void scheduleSave(const std::shared_ptr<State>& self, dispatch::Time changed) {
    self->assertOnIndexQueue();
    if (self->needsSave) return;
    self->needsSave = true;
    dispatch::afterTime(changed + kSaveDelay, self->cacheInfoQueue, [self] { self->save(); });
  }
};

bool GVCache::isValidKey(const std::string& key) {
  return !key.empty() && key.size() <= GVCacheMaxKeyLength && key != "." && key != ".." &&
         key != GVCacheIndexFileName && key.find('/') == std::string::npos &&
         key.find('\0') == std::string::npos;
}

namespace {
bool refuse(const std::string& key, const char* operation) {
  if (GVCache::isValidKey(key)) return false;
  ns::Log("GVCache: %s refused the key \"%@\"", operation, key);
  return true;
}

// Removes the side files of writes and copies that never landed. A file that the index lists is
// a value, whatever its name.
void removeStaleSideFiles(const std::string& directory, const ns::Dictionary& index) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (auto it = fs::directory_iterator(directory, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::string key;
    if (!isSideFileName(name, &key) || index.contains(ns::Value(name))) continue;
    if (!GVCache::isValidKey(key) && key != GVCacheIndexFileName) continue;
    std::error_code typeError;
    if (it->is_regular_file(typeError)) removeFile(pathFor(directory, name));
  }
}
}  // namespace

GVCache::GVCache(const std::string& directory) : directory_(directory), state_(std::make_shared<State>()) {
  State& s = *state_;
  s.directory = directory;
  s.cacheInfoQueue = dispatch::queueCreate("com.ordel42.zeravozezi.GVCache.cacheInfo");
  s.diskQueue = dispatch::queueCreate("com.ordel42.zeravozezi.GVCache.disk", dispatch::QueueAttr::Concurrent);
  dispatch::setSpecific(s.cacheInfoQueue, &kIndexQueueKey, state_.get());

  // Whatever the index file holds, only well-formed entries of acceptable keys are kept; a key
  // that could name a path outside the folder is dropped without touching any file.
  ns::Dictionary index;
  if (auto bytes = ns::dataWithContentsOfFile(pathFor(directory, GVCacheIndexFileName))) {
    ns::Value plist = ns::PropertyListSerialization::propertyListWithData(*bytes);
    if (plist.isDictionary()) {
      ns::Date far = ns::Date::distantFuture();
      for (const auto& [key, entry] : plist.dictionary()) {
        if (!key.isString() || !isValidKey(key.string())) continue;
        // An entry written by another program may die after the last date the index can hold;
        // kept as it is, it would make every later save fail.
        const ns::Value& death = entry[ns::Value(kDeath)];
        if (entry.isDictionary() && death.isDate() && death.date() > far) {
          ns::Dictionary clamped = entry.dictionary();
          clamped.set(ns::Value(kDeath), ns::Value(far));
          index.set(key, ns::Value(std::move(clamped)));
        } else {
          index.set(key, entry);
        }
      }
    }
  }

  ns::Error error;
  if (!ns::FileManager::defaultManager()->createDirectoryAtPath_withIntermediateDirectories_attributes_error(
          directory, true, {}, &error)) {
    ns::LogWarning("GVCache: could not create the folder %@: %@", directory, error);
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
  removeStaleSideFiles(directory, index);

  s.snapshot = std::make_shared<const ns::Dictionary>(index);
  dispatch::sync(s.cacheInfoQueue, [&] {
    s.assertOnIndexQueue();
    s.cacheInfo = std::move(index);
  });
}

GVCache::~GVCache() {
  synchronize();
}

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
  static const ns::NoDestructor<ns::Ref<GVCache>> instance(GVCache::initWithCacheDirectory(
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
      ns::LogWarning("GVCache: could not write %@: %@", path, error);
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
  auto data =
      ns::KeyedArchiver::archivedDataWithRootObject_requiringSecureCoding_error(object, false, &error);
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
  if (timeout > 0 || std::isnan(timeout)) {
    ns::Date now = ns::Date::now();
    entry = ns::Dictionary{{kCreated, now}, {kDeath, deathAfter(now, timeout)}};
  }
  State::setEntry(state_, key, entry);
}

void GVCache::removeCacheForKey(const std::string& key) {
  if (refuse(key, "removeCacheForKey")) return;
  std::string path = pathFor(directory_, key);
  State::enqueueDisk(state_, key, [path] { removeFile(path); });
  setCacheTimeoutInterval_forKey(0, key);
}

void GVCache::clearCache() {
  auto pending = std::make_shared<std::pair<std::mutex, std::condition_variable>>();
  auto remaining = std::make_shared<std::size_t>(0);
  auto self = state_;
  dispatch::sync(state_->cacheInfoQueue, [&] {
    self->assertOnIndexQueue();
    *remaining = self->cacheInfo.count();
    // Each deletion waits behind the key's earlier writes, so no queued write brings a file back.
    for (const auto& [key, entry] : self->cacheInfo) {
      std::string path = pathFor(directory_, key.string());
      State::enqueueDisk(self, key.string(), [path, pending, remaining] {
        removeFile(path);
        std::lock_guard lock(pending->first);
        if (--*remaining == 0) pending->second.notify_all();
      });
    }
    self->cacheInfo.removeAllObjects();
    {
      std::lock_guard lock(self->snapshotLock);
      self->snapshot = std::make_shared<const ns::Dictionary>();
    }
    State::scheduleSave(self, dispatch::time(0));
  });
  std::unique_lock lock(pending->first);
  pending->second.wait(lock, [&] { return *remaining == 0; });
}

void GVCache::setNeedsSave() {
  auto self = state_;
  dispatch::Time changed = dispatch::time(0);
  dispatch::async(state_->cacheInfoQueue, [self, changed] { State::scheduleSave(self, changed); });
}

void GVCache::synchronize() {
  state_->waitForDisk();
  auto self = state_;
  dispatch::sync(state_->cacheInfoQueue, [&] { self->save(); });
}

ns::TimeInterval GVCache::defaultTimeoutInterval() const {
  return state_->defaultTimeoutInterval.load();
}

void GVCache::setDefaultTimeoutInterval(ns::TimeInterval seconds) {
  state_->defaultTimeoutInterval.store(seconds);
}

ns::Dictionary GVCache::frozenCacheInfo() const {
  return *state_->currentSnapshot();
}
