#pragma once
// A keyed disk cache with a lifetime per key: one file per key in the cache folder, and an index
// "GVCache.plist" (XML property list: key -> {"created": date, "death": date}) saved at most
// once per half second after a change.
//
// Threads: any thread may call anything. Reads run on the caller's thread against an immutable
// snapshot of the index and never wait for the disk or for writers. Every change is in the
// snapshot when it returns; the index itself belongs to a serial queue, which takes the changes
// in the same order and saves them (Debug builds check that only that queue touches it). Value
// files are written, copied
// and removed on a concurrent disk queue; the work for one key runs in the order it was asked
// for, different keys in parallel. A store is visible through hasCacheForKey once its file is
// written; synchronize() waits for that.
//
// Keys are file names. A key that is empty, "." or "..", contains "/" or a NUL, is the index's
// own name or is longer than GVCacheMaxKeyLength bytes is refused (and logged) by every mutator
// and never found by a reader.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/core/Types.h"
#include "platform/core/Value.h"

namespace ak {
class Image;
}

// The index's file name inside the cache folder.
inline constexpr char GVCacheIndexFileName[] = "GVCache.plist";
// The longest key, in bytes. Values reach their file through a side file named after the key
// with a few more characters (".<key>.copy-XXXXXX"), and that name must still fit in a file
// name (255 bytes); a longer key could never be written, yet its entry would be renewed.
inline constexpr std::size_t GVCacheMaxKeyLength = 240;

class GVCache : public ns::Object {
 public:
  // Opens (and creates) the folder; prefer initWithCacheDirectory, which reads as the callers do.
  explicit GVCache(const std::string& directory);
  ~GVCache() override;

  // Opens the cache in `directory`: reads the index, creates the folder, deletes the entries
  // (and files) that have died and the side files of writes that a killed process left behind,
  // and publishes the snapshot. The pruned index reaches the disk with the next save.
  static ns::Ref<GVCache> initWithCacheDirectory(const std::string& directory);
  // Deletes the stale folder <Caches>/<process name>/GVCache, then opens
  // <Caches>/com.ordel42.zeravozezi/GVCache.
  static ns::Ref<GVCache> init();
  // A second process-wide instance made with init(), whose default lifetime is one day.
  static ns::Ref<GVCache> globalCache();

  // ---- reading (on the caller's thread) ----
  // Alive in the snapshot (its "death" lies after now) and its file exists.
  bool hasCacheForKey(const std::string& key) const;
  // Seconds since the entry's "created", also for a dead entry still listed; 0 without entry.
  double ageForKey(const std::string& key) const;
  std::optional<ns::Data> dataForKey(const std::string& key) const;
  // "" when nothing is stored, nullopt when the bytes are not UTF-8.
  std::optional<std::string> stringForKey(const std::string& key) const;
  ns::Ref<ak::Image> imageForKey(const std::string& key) const;
  // Nil when nothing is stored or the bytes are no property list.
  ns::Value plistForKey(const std::string& key) const;
  // The keyed archive's root object; nil when nothing is stored or the unarchiver cannot decode
  // it (NSInvalidUnarchiveOperationException). AutoArchivingException reaches the caller.
  ns::Value objectForKey(const std::string& key) const;

  // ---- writing (each returns at once; the file work is queued) ----
  void setData_forKey_withTimeoutInterval(const ns::Data& data, const std::string& key,
                                          ns::TimeInterval timeout);
  void setString_forKey_withTimeoutInterval(const std::string& text, const std::string& key,
                                            ns::TimeInterval timeout);
  // Stores the image's bitmap as PNG; an image without a bitmap is not stored.
  void setImage_forKey_withTimeoutInterval(const ns::Ref<ak::Image>& image, const std::string& key,
                                           ns::TimeInterval timeout);
  // Stores a binary property list; a value that is no property list is not stored.
  void setPlist_forKey_withTimeoutInterval(const ns::Value& plist, const std::string& key,
                                           ns::TimeInterval timeout);
  // Stores a keyed archive of the object; an object that cannot be archived is not stored.
  void setObject_forKey_withTimeoutInterval(const ns::Value& object, const std::string& key,
                                            ns::TimeInterval timeout);
  void setData_forKey(const ns::Data& data, const std::string& key);
  void setObject_forKey(const ns::Value& object, const std::string& key);
  void setString_forKey(const std::string& text, const std::string& key);
  void setImage_forKey(const ns::Ref<ak::Image>& image, const std::string& key);
  void setPlist_forKey(const ns::Value& plist, const std::string& key);
  // Copies an existing file in as the key's value (to a side file, then renamed into place).
  void copyFilePath_asKey_withTimeoutInterval(const std::string& path, const std::string& key,
                                              ns::TimeInterval timeout);
  void copyFilePath_asKey(const std::string& path, const std::string& key);

  // A new lifetime counted from now; 0 or less removes the entry (the file stays). A death date
  // past the distant future, or a lifetime that is no finite number, is the distant future.
  void setCacheTimeoutInterval_forKey(ns::TimeInterval timeout, const std::string& key);
  void removeCacheForKey(const std::string& key);
  // Deletes every indexed file and empties the index; returns once the files are gone.
  void clearCache();
  // Schedules a save of the index half a second from now unless one is scheduled.
  void setNeedsSave();
  // Waits until the queued file work is done and writes a pending index save now. Used at
  // process end and wherever a caller must see the disk settled.
  void synchronize();

  ns::TimeInterval defaultTimeoutInterval() const;
  void setDefaultTimeoutInterval(ns::TimeInterval seconds);
  // The current snapshot of the index.
  ns::Dictionary frozenCacheInfo() const;
  const std::string& directory() const { return directory_; }

  // Whether `key` can name a value file.
  static bool isValidKey(const std::string& key);

  struct State;

 private:
  std::string directory_;
  std::shared_ptr<State> state_;
};

// The application's cache: <Caches>/com.ordel42.zeravozezi/GVCache, made once on first use
// (thread-safely), default lifetime 0 so every caller passes one.
ns::Ref<GVCache> getSharedGVCache();
